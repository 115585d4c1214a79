// Recognises the file system of a raw partition image from its first sectors and its size, and chooses the
// block size in which the partition is stored. The boot sector is read by the same parsers as the FAT and
// NTFS readers use, so a volume is recognised exactly when the readers accept its boot sector, and with the
// geometry they see; anything else is reported as Unknown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/FatLayout.h"

namespace imbrex::capture {

enum class FileSystemKind
{
    Unknown,
    Fat12,
    Fat16,
    Fat32,
    Ntfs,
};

// The codes the image store records for a partition (GetFileSystemType / GetPartitionTypeId).
inline constexpr uint32_t kFileSystemTypeUnknown = 0;
inline constexpr uint32_t kFileSystemTypeFat = 1;
inline constexpr uint32_t kFileSystemTypeNtfs = 4;

inline constexpr uint32_t kPartitionTypeFat12 = 0x01;
inline constexpr uint32_t kPartitionTypeFat16Small = 0x04;
inline constexpr uint32_t kPartitionTypeFat16 = 0x06;
inline constexpr uint32_t kPartitionTypeNtfs = 0x07;
inline constexpr uint32_t kPartitionTypeFat32Lba = 0x0C;

// FAT layout in sectors of bytesPerSector, counted from the boot sector, as the FAT reader reads it. Filled
// in only for the FAT kinds.
using FatGeometry = engine::FatLayout;

// NTFS layout; cluster numbers count clusters of bytesPerSector * sectorsPerCluster bytes. Filled in only for
// NTFS.
struct NtfsGeometry
{
    uint64_t totalSectors = 0;
    uint64_t clusterCount = 0;
    uint64_t mftCluster = 0;
    uint64_t mftMirrorCluster = 0;
    uint32_t bytesPerFileRecord = 0;
    uint32_t bytesPerIndexRecord = 0; // as declared; 0 when the field gives no usable size
    uint64_t serialNumber = 0;
};

struct VolumeProbe
{
    FileSystemKind kind = FileSystemKind::Unknown;
    uint32_t fileSystemType = kFileSystemTypeUnknown;
    uint32_t partitionTypeId = 0;
    uint32_t bytesPerSector = 0;    // 0 when unknown
    uint32_t sectorsPerCluster = 0; // in sectors of bytesPerSector; 0 when unknown
    // FAT: the label of the extended boot record, trailing spaces removed, in the disk's OEM code page, empty
    // when absent or "NO NAME". NTFS keeps its label in the $Volume file record, so it stays empty here; see
    // ntfsVolumeLabel().
    std::string label;
    FatGeometry fat;
    NtfsGeometry ntfs;
};

inline constexpr size_t kBootSectorBytes = 512;

// bootSector: the first bytes of the partition, at least kBootSectorBytes of them (fewer give Unknown).
// volumeBytes: the size of the partition; a file system that claims to be larger is not recognised.
// A boot sector with the OEM name "NTFS    " is read as NTFS, any other as FAT.
VolumeProbe probeVolume(std::span<const std::byte> bootSector, uint64_t volumeBytes);

// The block size, in 512-byte sectors, in which a partition of sectorCount 512-byte sectors is stored: the
// cluster size when known (clamped to 1..128), otherwise 8; doubled while the partition would need more than
// 2^26 blocks, so that the block bitmap stays within 8 MiB.
uint32_t chooseSectorsPerBlock(const VolumeProbe &probe, uint64_t sectorCount);

// Byte offset of file record `recordNumber` of the MFT of a probed NTFS volume, when it lies within the first
// extent of the MFT that mkntfs and Windows place contiguously (records 0..15 always do). nullopt when the
// probe is not NTFS or the offset does not fit.
std::optional<uint64_t> ntfsFileRecordOffset(const VolumeProbe &probe, uint64_t recordNumber);

// The volume label from the $Volume file record (record 3), converted to UTF-8. The record is checked as the
// NTFS reader checks it, its update sequence applied to a copy. nullopt when the record is damaged or is not
// an in-use file record; an empty string when the record holds no label.
std::optional<std::string> ntfsVolumeLabel(std::span<const std::byte> fileRecord);

} // namespace imbrex::capture
