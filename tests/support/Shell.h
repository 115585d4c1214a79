// Running command-line tools from tests.
#pragma once

#include <string>

namespace imbrex::test {

// path as one word for /bin/sh, whatever it holds.
std::string quote(const std::string &s);
// The whole content of a file ("" when it cannot be read).
std::string slurp(const std::string &path);

} // namespace imbrex::test
