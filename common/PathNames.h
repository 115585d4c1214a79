// Names made from other names: a file's extension replaced, as the numbered parts of a split set and the
// proposed image index file are named after their image.
#pragma once

#include <string>
#include <string_view>

namespace imbrex {

// path with the text after the last "." of its file name replaced by extension; a file name without "."
// gets "." and extension appended. Dots in the directories do not count; "/" and "\" both end a directory.
std::string replaceExtension(const std::string &path, std::string_view extension);

} // namespace imbrex
