// The zbitool commands. Each takes the words after the command name and returns the process exit status:
// 0 on success, 1 when the work failed (the reason is on standard error), 2 for a usage error.
#pragma once

#include <string>
#include <vector>

namespace imbrex::cli {

using Words = std::vector<std::string>;

int runList(const Words &args);
int runInfo(const Words &args);
int runExport(const Words &args);
int runRename(const Words &args);
int runComment(const Words &args);

} // namespace imbrex::cli
