// The geometry an NTFS volume declares in its boot sector, checked before any of it is used.
#pragma once

#include <cstdint>
#include <span>

namespace imbrex::engine::ntfs {

struct NtfsBootSector
{
    uint32_t bytesPerSector = 0; // as declared; only forms the cluster size
    uint32_t clusterBytes = 0;
    uint32_t sectorsPerCluster = 0; // 512-byte sectors, the unit of every read
    uint32_t recordBytes = 0;
    uint32_t sectorsPerRecord = 0; // 512-byte sectors
    uint64_t totalSectors = 0;     // in the volume's own sector size
    uint32_t totalClusters = 0;
    uint32_t mftCluster = 0;
    // Read as declared, not checked: the reader takes neither from here.
    uint64_t mftMirrorCluster = 0;
    uint32_t indexBlockBytes = 0; // 0 when the field gives no power of two from 512 bytes to 64 KiB
    uint64_t serialNumber = 0;

    // Whether the volume lies within a partition of partitionSectors 512-byte sectors.
    bool fitsIn(uint64_t partitionSectors) const
    {
        return totalSectors * bytesPerSector / 512 <= partitionSectors;
    }

    // Checks the first 512 bytes of the partition: 0, or 1500 (not NTFS), 1503 (cluster size), 1541 (record
    // size), 1524 (too many sectors).
    static int parse(std::span<const std::byte> sector, NtfsBootSector &out);
};

} // namespace imbrex::engine::ntfs
