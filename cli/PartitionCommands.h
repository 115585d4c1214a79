// The zbitool commands that copy partitions between images, delete them, and capture whole disks: each takes
// the words after the command name and returns the exit status (0 success, 1 failure, 2 usage error).
#pragma once

#include "Commands.h"

namespace imbrex::cli {

// create IMAGE RAW...: like the first create, but a RAW that is a whole-disk image with a partition table
// adds each of its partitions (primary, then logical), and only the blocks a FAT or NTFS volume uses are
// stored.
int runCreate(const Words &args);
int runCopy(const Words &args);
int runCompress(const Words &args);
int runUncompress(const Words &args);
int runSpan(const Words &args);
int runCombine(const Words &args);
int runDelete(const Words &args);

} // namespace imbrex::cli
