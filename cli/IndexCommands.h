// zbitool index: image index files for compressed and spanned partitions.
//   zbitool index build IMAGE N FILE [--password-file FILE]   extend the index of partition N to its end and
//                                                             save it as a new section of FILE
//   zbitool index check IMAGE N FILE [--password-file FILE]   tell whether FILE holds a usable index for it
// Returns the exit status: 0 on success, 1 when the work failed (the reason is on standard error), 2 for a
// usage error.
#pragma once

#include <string>
#include <vector>

namespace imbrex::cli {

int runIndex(const std::vector<std::string> &args);

// The help lines of the command, for zbitool --help.
extern const char *const kIndexHelp;

} // namespace imbrex::cli
