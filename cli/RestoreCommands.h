// zbitool ls and extract: browsing and restoring files of FAT and NTFS partitions inside an image.
#pragma once

#include <string>
#include <vector>

namespace imbrex::cli {

extern const char *const kRestoreHelp;
int runLs(const std::vector<std::string> &args);
int runExtract(const std::vector<std::string> &args);

} // namespace imbrex::cli
