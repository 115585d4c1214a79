// FAT_VARS: the geometry of one mounted FAT12, FAT16 or FAT32 volume, read from its boot sector (FatLayout),
// and the decoded file allocation table. Owned by its FAT_VOLUME.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/EngineMemory.h"
#include "engine/FatLayout.h"

namespace imbrex::engine {

struct FAT_VARS : FatLayout
{
    static constexpr size_t kBootSectorBytes = fatboot::kBootSectorBytes;

    EngineBuffer fatTable; // clusterCount + 2 entries of uint32_t once the FAT is decoded

    // Reads and checks the boot sector (at least kBootSectorBytes long) and derives the layout. volumeBytes
    // is the size of the partition that holds the volume. 0, or 102, 510, 113, kFatBadGeometry or
    // kFatBadRootCluster.
    int parse(std::span<const std::byte> bootSector, uint64_t volumeBytes)
    {
        return parseFatBootSector(bootSector, volumeBytes, *this);
    }

    // Decodes the on-disk FAT into fatTable. 0, or 3 when the table cannot be allocated.
    int decodeFat(std::span<const std::byte> fat);

    bool fatLoaded() const { return !fatTable.empty(); }
    uint32_t entry(uint32_t cluster) const;
};

} // namespace imbrex::engine
