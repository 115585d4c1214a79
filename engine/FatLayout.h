// The geometry of a FAT12, FAT16 or FAT32 volume as its boot sector declares it, and the decoding of the
// file allocation table. Pure functions over bytes: the reader and the capture of raw volumes both read a
// volume through these, so that they see the same type, the same clusters and the same table.
//
// Boot sector fields (byte offsets in sector 0, little-endian):
//   11 u16 bytes per sector       13 u8 sectors per cluster   14 u16 reserved sectors   16 u8 number of FATs
//   17 u16 root entries (12/16)   19 u16 total sectors (0: 32) 21 u8 media             22 u16 sectors per FAT
//   (0: FAT32)                    28 u32 hidden sectors       32 u32 total sectors     38 u8 0x29 when the
//   serial (39) and label (43, 11 bytes) follow               510 u16 0xAA55
//   FAT32: 36 u32 sectors per FAT, 40 u16 extended flags (bit 7: one active FAT, bits 0-3 which), 42 u16
//   version, 44 u32 root cluster, 48 u16 FSInfo sector, 50 u16 backup boot sector, 66 u8 0x29 when the serial
//   (67) and label (71) follow, 508 u32 0xAA550000.
//
// A decoded FAT entry is 0 for a free cluster, 2 .. clusterCount + 1 for the next cluster, kFatBadCluster, or
// kFatEndOfChain and above for the end of a chain, whatever the FAT's width on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/ByteOrder.h"

namespace imbrex::engine {

inline constexpr uint8_t kFat12 = 1;
inline constexpr uint8_t kFat16 = 2;
inline constexpr uint8_t kFat32 = 3;

inline constexpr uint32_t kFatFreeCluster = 0;
inline constexpr uint32_t kFatBadCluster = 0xFFFFFFF7;
inline constexpr uint32_t kFatEndOfChain = 0xFFFFFFF8;
inline constexpr uint32_t kFirstDataCluster = 2;

namespace fatboot {
inline constexpr size_t kBytesPerSector = 11;
inline constexpr size_t kSectorsPerCluster = 13;
inline constexpr size_t kReservedSectors = 14;
inline constexpr size_t kNumberOfFats = 16;
inline constexpr size_t kRootEntries = 17;
inline constexpr size_t kTotalSectors16 = 19;
inline constexpr size_t kMedia = 21;
inline constexpr size_t kSectorsPerFat16 = 22;
inline constexpr size_t kHiddenSectors = 28;
inline constexpr size_t kTotalSectors32 = 32;
inline constexpr size_t kSectorsPerFat32 = 36;
inline constexpr size_t kExtendedSignature16 = 38;
inline constexpr size_t kSerial16 = 39;
inline constexpr size_t kExtendedFlags = 40;
inline constexpr size_t kFsVersion = 42;
inline constexpr size_t kLabel16 = 43;
inline constexpr size_t kRootCluster = 44;
inline constexpr size_t kFsInfoSector = 48;
inline constexpr size_t kBackupBootSector = 50;
inline constexpr size_t kExtendedSignature32 = 66;
inline constexpr size_t kSerial32 = 67;
inline constexpr size_t kLabel32 = 71;
inline constexpr size_t kSignature32 = 508;
inline constexpr size_t kSignature16 = 510;
inline constexpr size_t kLabelBytes = 11;
inline constexpr uint8_t kExtendedSignature = 0x29;
inline constexpr size_t kBootSectorBytes = 512;
} // namespace fatboot

struct FatLayout
{
    uint16_t bytesPerSector = 0;
    uint16_t sectorsPerCluster = 0;
    uint8_t fatType = kFat16;
    uint16_t numberOfFats = 0;
    uint16_t rootEntries = 0;
    uint32_t reservedSectors = 0;
    uint32_t rootCluster = 0;
    uint32_t totalSectors = 0; // lowered to the last sector that clusters can reach
    uint32_t clusterCount = 0; // data clusters, numbered 2 .. clusterCount + 1
    uint32_t sectorsPerFat = 0;
    uint32_t hiddenSectors = 0;
    uint32_t allFatsMirrored = 1;
    uint16_t activeFat = 0;
    uint16_t fsVersion = 0;
    uint32_t volumeSerial = 0;
    uint16_t extendedFlags = 0;
    uint16_t fsInfoSector = 1;
    uint16_t backupBootSector = 6;

    // Derived from the fields above.
    uint32_t rootDirSectors = 0;
    uint32_t firstRootSector = 0; // of the fixed root area of FAT12/16
    uint32_t firstDataSector = 0; // sector of cluster 2
    uint32_t bytesPerCluster = 0;

    // Bytes of the on-disk FAT that hold entries 0 .. clusterCount + 1.
    uint64_t fatBytesNeeded() const;
    // The sector where the FAT the volume keeps up to date starts.
    uint32_t activeFatSector() const { return reservedSectors + uint32_t{activeFat} * sectorsPerFat; }
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

// Reads and checks a boot sector (at least 512 bytes) of a volume inside volumeBytes bytes and derives the
// layout. FAT12 and FAT16 share a parameter block: on 512-byte sectors a FAT of up to 12 sectors is FAT12,
// on larger sectors fewer than 4085 clusters are. 0, or kBadBootSignature, kBadFileSystemVersion,
// kVolumeBeyondPartition, kFatBadGeometry or kFatBadRootCluster.
int parseFatBootSector(std::span<const std::byte> bootSector, uint64_t volumeBytes, FatLayout &out);

// Entry `index` of an on-disk FAT of the given type, decoded as described above. The caller makes sure the
// table holds the entry (index < clusterCount + 2 and fat.size() >= fatBytesNeeded()). Inline, as every
// step along a cluster chain decodes one.
inline uint32_t fatEntry(std::span<const std::byte> fat, uint8_t fatType, size_t index)
{
    uint32_t v = 0;
    if (fatType == kFat12) {
        const uint16_t pair = loadLe16(fat, 3 * index / 2);
        v = (index & 1) != 0 ? uint32_t{pair} >> 4 : uint32_t{pair} & 0xFFF;
        if (v >= 0xFF7)
            v |= 0xFFFFF000;
    } else if (fatType == kFat16) {
        v = loadLe16(fat, 2 * index);
        if (v >= 0xFFF7)
            v |= 0xFFFF0000;
    } else {
        v = loadLe32(fat, 4 * index) & 0x0FFFFFFF;
        if (v >= 0x0FFFFFF7)
            v |= 0xF0000000;
    }
    return v;
}

// The volume label of the extended boot record, trailing spaces and zeros removed, in the disk's OEM code
// page; empty when the boot sector has no extended record or the label is blank or "NO NAME".
std::string fatBootLabel(std::span<const std::byte> bootSector, const FatLayout &layout);

} // namespace imbrex::engine
