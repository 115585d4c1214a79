// The NTFS reader, for the partition access's mount and file operations.
#pragma once

#include "engine/ntfs/NTFS_VOLUME.h"
