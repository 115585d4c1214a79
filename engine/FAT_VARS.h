// FAT_VARS: the geometry of one mounted FAT12, FAT16 or FAT32 volume, read from its boot sector (FatLayout),
// and its file allocation table. Owned by its FAT_VOLUME.
//
// The table is kept as the bytes on disk and decoded an entry at a time. Its sectors are read on first use,
// a piece at a time, and kept: a lookup five folders deep touches a few pieces of a table of megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/EngineMemory.h"
#include "engine/FatLayout.h"

namespace imbrex::engine {

struct FAT_VARS : FatLayout
{
    static constexpr size_t kBootSectorBytes = fatboot::kBootSectorBytes;
    // Sectors of the table read at a time.
    static constexpr uint32_t kFatPieceSectors = 32;

    // Reads count volume sectors from sector into buffer: 0 or the read's error.
    using SectorReader = std::function<int(uint32_t sector, void *buffer, uint32_t count)>;

    // Reads and checks the boot sector (at least kBootSectorBytes long) and derives the layout. volumeBytes
    // is the size of the partition that holds the volume. 0, or 102, 510, 113, kFatBadGeometry or
    // kFatBadRootCluster.
    int parse(std::span<const std::byte> bootSector, uint64_t volumeBytes)
    {
        return parseFatBootSector(bootSector, volumeBytes, *this);
    }

    // Makes room for the active FAT's entries; their sectors are read through read when first needed (what
    // read refers to must outlive this object). 0, or 3 when the room cannot be allocated.
    int attachFat(SectorReader read);

    bool fatLoaded() const { return !m_fat.empty(); }
    // The decoded entry of cluster into next: 0, or the error of reading its part of the table (next is
    // then kFatBadCluster). Beyond the table, kFatEndOfChain.
    int lookup(uint32_t cluster, uint32_t &next) const;
    // lookup() without its error, for chains lookup() has already followed (their pieces stay read) and
    // for walks that may take an unreadable table for a bad cluster, which ends every chain.
    uint32_t entry(uint32_t cluster) const
    {
        uint32_t next = kFatEndOfChain;
        (void)lookup(cluster, next); // a failed read leaves kFatBadCluster in next
        return next;
    }

private:
    int loadPieces(size_t firstByte, size_t lastByte) const;

    // Loading a piece changes what is cached, not what the table says: lookups stay const.
    mutable EngineBuffer m_fat;                 // the table's sectors; a piece is valid once marked loaded
    mutable std::vector<uint8_t> m_pieceLoaded; // one flag a piece
    SectorReader m_read;
    uint32_t m_fatSectors = 0;
};

} // namespace imbrex::engine
