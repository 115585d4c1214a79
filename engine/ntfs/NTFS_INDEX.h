// NTFS_INDEX: an open directory index ($I30) of a record: its $INDEX_ROOT, its $INDEX_ALLOCATION when the
// index has outgrown the root, and the block geometry both agree on.
#pragma once

#include <cstdint>

#include "engine/EngineMemory.h"

namespace imbrex::engine {

class NTFS_ATTRIBUTE;
class NTFS_FRS;

struct NTFS_INDEX
{
    NTFS_FRS *frs = nullptr;
    NTFS_ATTRIBUTE *root = nullptr;
    NTFS_ATTRIBUTE *allocation = nullptr; // nullptr when every entry fits in the root
    uint32_t blockBytes = 0;
    uint32_t vcnUnit = 0; // bytes per sub-node VCN
    // The first block read by a walk, kept for the next one.
    EngineBuffer retainedBlock;
    uint64_t retainedVcn = 0;
    bool retainedValid = false;
};

} // namespace imbrex::engine
