// The partitions of a whole-disk image with a master boot record: the primary partitions of its table, and
// the logical ones found by following the chain of extended boot records. Every entry comes from an untrusted
// disk: the walk is bounded, and entries that leave the disk or their container, overlap, or loop make the
// table damaged rather than followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace imbrex::capture {

inline constexpr uint32_t kDiskSectorSize = 512;
inline constexpr uint32_t kKindLogical = 1;
inline constexpr uint32_t kKindPrimary = 2;
// The most logical partitions followed in one extended partition.
inline constexpr size_t kMaxLogicalPartitions = 128;

struct DiskPartition
{
    uint64_t offset = 0; // bytes from the start of the disk
    uint64_t length = 0; // bytes
    uint32_t typeId = 0; // the table's type byte
    uint32_t kind = kKindPrimary;
    char driveLetter = 'C';
};

enum class DiskLayoutKind
{
    NotADisk, // the file holds one volume (or something unknown): store it as it is
    Disk,     // a partition table was read
    Damaged,  // a partition table whose entries cannot be trusted
};

struct DiskLayout
{
    DiskLayoutKind kind = DiskLayoutKind::NotADisk;
    // Primary partitions in table order, then logical ones in chain order; drive letters from firstLetter on.
    std::vector<DiskPartition> partitions;
    std::string problem; // what is wrong with a damaged table
};

// Reads exactly out.size() bytes at offset; 0 or an error code.
using DiskReader = std::function<int(uint64_t offset, std::span<std::byte> out)>;

// Reads the partition table of a disk of diskBytes bytes. A first sector that is a FAT or NTFS boot sector,
// or holds no valid table, is NotADisk.
DiskLayout readDiskLayout(const DiskReader &read, uint64_t diskBytes, char firstLetter = 'C');

// True for the type bytes of an extended partition (0x05, 0x0F, 0x85).
bool isExtendedType(uint32_t typeId);

} // namespace imbrex::capture
