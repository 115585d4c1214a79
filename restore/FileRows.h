// The texts of the file browser: one row per directory entry, and the wildcard rules of its file-name box.
#pragma once

#include <string>
#include <string_view>

#include "engine/DIRLIST.h"

namespace imbrex::restore {

// "D " + name + "|Folder| |" + date + " " + time + "|" for a folder, "F " + name + "|File|" + size + "|" +
// date + " " + time + "|" for a file; the two-character tag is not shown. The size has digit grouping, the
// date and time are the locale's (hundredths dropped).
std::string fileRowText(const engine::DirListEntry &entry);

struct WildcardCheck
{
    bool failed = false;     // a wildcard before the last "\": only the file name may hold one
    bool hasPattern = false; // a "?" or "*" in the file name
};
WildcardCheck checkWildcards(std::string_view text);
inline constexpr const char *kWildcardMessage = "Wildcard characters may only be used in the filename.";

// "?" matches any one character, "*" any run, letters A to Z match regardless of case; the whole name must
// match.
bool patternMatches(std::string_view pattern, std::string_view name);

} // namespace imbrex::restore
