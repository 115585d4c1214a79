// FAT_VARS: the geometry of one mounted FAT12, FAT16 or FAT32 volume, read from its boot sector, and the
// decoded file allocation table. Owned by its FAT_VOLUME.
//
// Boot sector fields (byte offsets in sector 0, little-endian):
//   11 u16 bytes per sector       13 u8 sectors per cluster   14 u16 reserved sectors   16 u8 number of FATs
//   17 u16 root entries (12/16)   19 u16 total sectors (0: 32) 22 u16 sectors per FAT (0: FAT32)
//   28 u32 hidden sectors         32 u32 total sectors         39 u32 serial (12/16)    510 u16 0xAA55
//   FAT32: 36 u32 sectors per FAT, 40 u16 extended flags (bit 7: one active FAT, bits 0-3 which), 42 u16
//   version, 44 u32 root cluster, 48 u16 FSInfo sector, 50 u16 backup boot sector, 67 u32 serial,
//   508 u32 0xAA550000.
//
// The decoded FAT holds clusterCount + 2 entries: 0 free, 2 .. clusterCount + 1 the next cluster,
// kFatBadCluster, and kFatEndOfChain and above for the end of a chain, whatever the FAT's width on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/EngineMemory.h"

namespace imbrex::engine {

inline constexpr uint8_t kFat12 = 1;
inline constexpr uint8_t kFat16 = 2;
inline constexpr uint8_t kFat32 = 3;

inline constexpr uint32_t kFatBadCluster = 0xFFFFFFF7;
inline constexpr uint32_t kFatEndOfChain = 0xFFFFFFF8;
inline constexpr uint32_t kFirstDataCluster = 2;

struct FAT_VARS
{
    // Byte offsets of the boot sector fields.
    static constexpr size_t kBytesPerSector = 11;
    static constexpr size_t kSectorsPerCluster = 13;
    static constexpr size_t kReservedSectors = 14;
    static constexpr size_t kNumberOfFats = 16;
    static constexpr size_t kRootEntries = 17;
    static constexpr size_t kTotalSectors16 = 19;
    static constexpr size_t kSectorsPerFat16 = 22;
    static constexpr size_t kHiddenSectors = 28;
    static constexpr size_t kTotalSectors32 = 32;
    static constexpr size_t kSectorsPerFat32 = 36;
    static constexpr size_t kSerial16 = 39;
    static constexpr size_t kExtendedFlags = 40;
    static constexpr size_t kFsVersion = 42;
    static constexpr size_t kRootCluster = 44;
    static constexpr size_t kFsInfoSector = 48;
    static constexpr size_t kBackupBootSector = 50;
    static constexpr size_t kSerial32 = 67;
    static constexpr size_t kSignature32 = 508;
    static constexpr size_t kSignature16 = 510;
    static constexpr size_t kBootSectorBytes = 512;

    uint16_t bytesPerSector = 0;
    uint16_t sectorsPerCluster = 0;
    uint8_t fatType = kFat16;
    uint16_t numberOfFats = 0;
    uint16_t rootEntries = 0;
    uint32_t reservedSectors = 0;
    uint32_t rootCluster = 0;
    uint32_t totalSectors = 0;
    uint32_t clusterCount = 0;
    uint32_t sectorsPerFat = 0;
    uint32_t hiddenSectors = 0;
    uint32_t allFatsMirrored = 1;
    uint16_t activeFat = 0;
    uint16_t fsVersion = 0;
    uint32_t volumeSerial = 0;
    uint16_t extendedFlags = 0;
    uint16_t fsInfoSector = 1;
    uint16_t backupBootSector = 6;

    // Derived by parse().
    uint32_t rootDirSectors = 0;
    uint32_t firstRootSector = 0; // of the fixed root area of FAT12/16
    uint32_t firstDataSector = 0;
    uint32_t bytesPerCluster = 0;

    EngineBuffer fatTable; // clusterCount + 2 entries of uint32_t once the FAT is decoded

    // Reads and checks the boot sector (at least kBootSectorBytes long) and derives the layout. volumeBytes
    // is the size of the partition that holds the volume. 0, or 102, 510, 113, kFatBadGeometry or
    // kFatBadRootCluster.
    int parse(std::span<const std::byte> bootSector, uint64_t volumeBytes);

    // Bytes of the on-disk FAT that hold entries 0 .. clusterCount + 1.
    uint64_t fatBytesNeeded() const;
    // Decodes the on-disk FAT into fatTable. 0, or 3 when the table cannot be allocated.
    int decodeFat(std::span<const std::byte> fat);

    bool fatLoaded() const { return !fatTable.empty(); }
    uint32_t entry(uint32_t cluster) const;
    bool isDataCluster(uint32_t cluster) const
    {
        return cluster >= kFirstDataCluster && cluster - kFirstDataCluster < clusterCount;
    }
    // First sector of a data cluster (callers check isDataCluster first).
    uint32_t clusterSector(uint32_t cluster) const
    {
        return firstDataSector + (cluster - kFirstDataCluster) * sectorsPerCluster;
    }
};

} // namespace imbrex::engine
