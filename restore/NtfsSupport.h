// Whether the NTFS reader is part of the engine in this tree. Until it is, NTFS partitions are refused like
// any other file system without a reader.
#pragma once

#if __has_include("engine/ntfs/NTFS_VOLUME.h")
#include "engine/ntfs/NTFS_VOLUME.h"
#define IMBREX_RESTORE_HAS_NTFS 1
#else
#define IMBREX_RESTORE_HAS_NTFS 0
#endif
