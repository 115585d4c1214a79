#include "VolumeProbe.h"

#include <string_view>
#include <vector>

#include "common/ByteOrder.h"

namespace imbrex::capture {

namespace {

// Fields shared by every FAT boot sector (the BIOS parameter block) and by NTFS, which keeps the same
// positions for its sector and cluster sizes and requires the FAT-only fields to be zero.
constexpr size_t kJumpOffset = 0;
constexpr size_t kOemIdOffset = 3;
constexpr size_t kOemIdLength = 8;
constexpr size_t kBytesPerSectorOffset = 11;
constexpr size_t kSectorsPerClusterOffset = 13;
constexpr size_t kReservedSectorsOffset = 14;
constexpr size_t kFatCountOffset = 16;
constexpr size_t kRootEntryCountOffset = 17;
constexpr size_t kTotalSectors16Offset = 19;
constexpr size_t kMediaOffset = 21;
constexpr size_t kSectorsPerFat16Offset = 22;
constexpr size_t kTotalSectors32Offset = 32;
constexpr size_t kSignatureOffset = 510;

// Extended boot record of FAT12/FAT16.
constexpr size_t kFat16BootSignatureOffset = 38;
constexpr size_t kFat16LabelOffset = 43;

// FAT32 extension of the parameter block.
constexpr size_t kSectorsPerFat32Offset = 36;
constexpr size_t kRootClusterOffset = 44;
constexpr size_t kFat32BootSignatureOffset = 66;
constexpr size_t kFat32LabelOffset = 71;

constexpr size_t kLabelLength = 11;
constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr size_t kDirEntryBytes = 32;

// NTFS boot sector.
constexpr size_t kNtfsTotalSectorsOffset = 0x28;
constexpr size_t kNtfsMftClusterOffset = 0x30;
constexpr size_t kNtfsMftMirrorClusterOffset = 0x38;
constexpr size_t kNtfsClustersPerFileRecordOffset = 0x40;
constexpr size_t kNtfsClustersPerIndexRecordOffset = 0x44;
constexpr size_t kNtfsSerialNumberOffset = 0x48;
constexpr std::string_view kNtfsOemId = "NTFS    ";

constexpr uint32_t kMinSectorBytes = 512;
constexpr uint32_t kMaxSectorBytes = 4096;
constexpr uint32_t kMaxFatSectorsPerCluster = 128;
constexpr uint64_t kMaxNtfsClusterBytes = 2u * 1024 * 1024;
constexpr uint32_t kMinRecordBytes = 512;
constexpr uint32_t kMaxRecordBytes = 64 * 1024;

constexpr uint32_t kMaxFat12Clusters = 4084;
constexpr uint32_t kMaxFat16Clusters = 65524;
constexpr uint32_t kMaxFat32Clusters =
    0x0FFFFFF5; // cluster numbers up to 0x0FFFFFF6 stay below the bad-cluster mark
constexpr uint64_t kSmallFat16Bytes = 32u * 1024 * 1024;

// Block size limits for chooseSectorsPerBlock().
constexpr uint32_t kUnitBytes = 512;
constexpr uint32_t kDefaultSectorsPerBlock = 8;
constexpr uint32_t kMaxClusterSectorsPerBlock = 128;
constexpr uint32_t kMaxSectorsPerBlock = 1u << 31;
constexpr uint64_t kMaxBlockCount = uint64_t{1} << 26;

// NTFS file records.
constexpr size_t kRecordMagicOffset = 0;
constexpr size_t kRecordUsaOffsetOffset = 4;
constexpr size_t kRecordUsaCountOffset = 6;
constexpr size_t kRecordAttrOffsetOffset = 0x14;
constexpr size_t kRecordFlagsOffset = 0x16;
constexpr size_t kRecordBytesInUseOffset = 0x18;
constexpr size_t kRecordHeaderBytes = 0x30;
constexpr uint16_t kRecordInUse = 0x0001;
constexpr size_t kFixupStride = 512;
constexpr uint64_t kMftSystemRecords = 16;

constexpr size_t kAttrTypeOffset = 0;
constexpr size_t kAttrLengthOffset = 4;
constexpr size_t kAttrNonResidentOffset = 8;
constexpr size_t kAttrNameLengthOffset = 9;
constexpr size_t kAttrValueLengthOffset = 0x10;
constexpr size_t kAttrValueOffsetOffset = 0x14;
constexpr size_t kResidentAttrHeaderBytes = 0x18;
constexpr uint32_t kAttrVolumeName = 0x60;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

uint8_t byteAt(std::span<const std::byte> b, size_t off)
{
    return std::to_integer<uint8_t>(b[off]);
}

bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

bool checkedMul(uint64_t a, uint64_t b, uint64_t &out)
{
    if (a != 0 && b > UINT64_MAX / a)
        return false;
    out = a * b;
    return true;
}

bool checkedAdd(uint64_t a, uint64_t b, uint64_t &out)
{
    if (b > UINT64_MAX - a)
        return false;
    out = a + b;
    return true;
}

uint64_t ceilDiv(uint64_t a, uint64_t b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}

bool hasBootSignature(std::span<const std::byte> b)
{
    return byteAt(b, kSignatureOffset) == 0x55 && byteAt(b, kSignatureOffset + 1) == 0xAA;
}

bool validSectorBytes(uint32_t bytesPerSector)
{
    return isPowerOfTwo(bytesPerSector) && bytesPerSector >= kMinSectorBytes &&
           bytesPerSector <= kMaxSectorBytes;
}

std::string fatLabel(std::span<const std::byte> b, size_t offset)
{
    std::string label;
    for (size_t i = 0; i < kLabelLength; ++i)
        label.push_back(static_cast<char>(byteAt(b, offset + i)));
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0'))
        label.pop_back();
    if (label == "NO NAME")
        label.clear();
    return label;
}

// Bytes a FAT of the given kind needs for entries 0 .. clusterCount + 1.
uint64_t fatBytesNeeded(FileSystemKind kind, uint64_t clusterCount)
{
    const uint64_t entries = clusterCount + 2;
    switch (kind) {
    case FileSystemKind::Fat12:
        return ceilDiv(entries * 3, 2);
    case FileSystemKind::Fat16:
        return entries * 2;
    default:
        return entries * 4;
    }
}

std::optional<VolumeProbe> probeFat(std::span<const std::byte> b, uint64_t volumeBytes)
{
    const uint8_t jump = byteAt(b, kJumpOffset);
    if (jump != 0xEB && jump != 0xE9 && !hasBootSignature(b))
        return std::nullopt;

    const uint32_t bytesPerSector = loadLe16(b, kBytesPerSectorOffset);
    const uint32_t sectorsPerCluster = byteAt(b, kSectorsPerClusterOffset);
    const uint32_t reservedSectors = loadLe16(b, kReservedSectorsOffset);
    const uint32_t fatCount = byteAt(b, kFatCountOffset);
    const uint32_t rootEntryCount = loadLe16(b, kRootEntryCountOffset);
    const uint32_t totalSectors16 = loadLe16(b, kTotalSectors16Offset);
    const uint8_t media = byteAt(b, kMediaOffset);
    const uint32_t sectorsPerFat16 = loadLe16(b, kSectorsPerFat16Offset);
    const uint32_t totalSectors32 = loadLe32(b, kTotalSectors32Offset);
    const uint32_t sectorsPerFat32 = loadLe32(b, kSectorsPerFat32Offset);

    if (!validSectorBytes(bytesPerSector))
        return std::nullopt;
    if (!isPowerOfTwo(sectorsPerCluster) || sectorsPerCluster > kMaxFatSectorsPerCluster)
        return std::nullopt;
    if (reservedSectors == 0 || fatCount == 0)
        return std::nullopt;
    if (media != 0xF0 && media < 0xF8)
        return std::nullopt;

    const uint64_t totalSectors = totalSectors16 != 0 ? totalSectors16 : totalSectors32;
    const uint64_t sectorsPerFat = sectorsPerFat16 != 0 ? sectorsPerFat16 : sectorsPerFat32;
    if (totalSectors == 0 || sectorsPerFat == 0)
        return std::nullopt;

    uint64_t totalBytes = 0;
    if (!checkedMul(totalSectors, bytesPerSector, totalBytes) || totalBytes > volumeBytes)
        return std::nullopt;

    const uint64_t rootDirSectors = ceilDiv(uint64_t{rootEntryCount} * kDirEntryBytes, bytesPerSector);
    uint64_t fatSectors = 0;
    uint64_t metaSectors = 0;
    if (!checkedMul(fatCount, sectorsPerFat, fatSectors) ||
        !checkedAdd(reservedSectors, fatSectors, metaSectors) ||
        !checkedAdd(metaSectors, rootDirSectors, metaSectors))
        return std::nullopt;
    if (metaSectors >= totalSectors)
        return std::nullopt;

    const uint64_t clusterCount = (totalSectors - metaSectors) / sectorsPerCluster;
    if (clusterCount == 0 || clusterCount > kMaxFat32Clusters)
        return std::nullopt;

    // FAT12 and FAT16 share one parameter block and differ only in the cluster count. FAT32 has a block of
    // its own, marked by a zero 16-bit FAT size and no fixed root directory; it keeps 32-bit entries even
    // when mkfs.fat was asked for FAT32 on a volume with fewer clusters than FAT32 is meant for, as every
    // FAT32 reader then reads it. A FAT12/16 block that counts more clusters than 16-bit entries can address
    // is inconsistent.
    VolumeProbe probe;
    if (sectorsPerFat16 == 0) {
        if (rootEntryCount != 0)
            return std::nullopt;
        probe.kind = FileSystemKind::Fat32;
    } else {
        if (rootEntryCount == 0 || clusterCount > kMaxFat16Clusters)
            return std::nullopt;
        probe.kind = clusterCount <= kMaxFat12Clusters ? FileSystemKind::Fat12 : FileSystemKind::Fat16;
    }

    uint64_t fatBytes = 0;
    if (!checkedMul(sectorsPerFat, bytesPerSector, fatBytes) ||
        fatBytes < fatBytesNeeded(probe.kind, clusterCount))
        return std::nullopt;

    FatGeometry &g = probe.fat;
    if (probe.kind == FileSystemKind::Fat32) {
        g.rootCluster = loadLe32(b, kRootClusterOffset);
        if (g.rootCluster < 2 || g.rootCluster - 2 >= clusterCount)
            return std::nullopt;
        if (byteAt(b, kFat32BootSignatureOffset) == kExtendedBootSignature)
            probe.label = fatLabel(b, kFat32LabelOffset);
    } else if (byteAt(b, kFat16BootSignatureOffset) == kExtendedBootSignature) {
        probe.label = fatLabel(b, kFat16LabelOffset);
    }

    g.reservedSectors = reservedSectors;
    g.fatCount = fatCount;
    g.sectorsPerFat = static_cast<uint32_t>(sectorsPerFat);
    g.rootEntryCount = rootEntryCount;
    g.rootDirSectors = static_cast<uint32_t>(rootDirSectors);
    g.totalSectors = totalSectors;
    g.firstDataSector = metaSectors;
    g.clusterCount = static_cast<uint32_t>(clusterCount);

    probe.fileSystemType = kFileSystemTypeFat;
    probe.bytesPerSector = bytesPerSector;
    probe.sectorsPerCluster = sectorsPerCluster;
    switch (probe.kind) {
    case FileSystemKind::Fat12:
        probe.partitionTypeId = kPartitionTypeFat12;
        break;
    case FileSystemKind::Fat16:
        probe.partitionTypeId =
            totalBytes < kSmallFat16Bytes ? kPartitionTypeFat16Small : kPartitionTypeFat16;
        break;
    default:
        probe.partitionTypeId = kPartitionTypeFat32Lba;
        break;
    }
    return probe;
}

// Sectors per cluster of an NTFS boot sector: 1..128 as a plain power of two; larger clusters are written as
// the negated exponent (0xF4 = 2^12 sectors). 0 for anything else.
uint32_t ntfsSectorsPerCluster(uint8_t raw)
{
    if (raw <= 0x80)
        return isPowerOfTwo(raw) ? raw : 0;
    const uint32_t shift = 256u - raw;
    return shift <= 12 ? (1u << shift) : 0;
}

// Size of a file or index record: a positive value counts clusters, a negative one is the negated exponent of
// a byte count. 0 when the result is not a power of two in the supported range.
uint32_t ntfsRecordBytes(uint8_t raw, uint64_t clusterBytes)
{
    uint64_t bytes = 0;
    if (raw == 0)
        return 0;
    if (raw < 0x80) {
        bytes = raw * clusterBytes;
    } else {
        const uint32_t shift = 256u - raw;
        if (shift >= 32)
            return 0;
        bytes = uint64_t{1} << shift;
    }
    if (!isPowerOfTwo(bytes) || bytes < kMinRecordBytes || bytes > kMaxRecordBytes)
        return 0;
    return static_cast<uint32_t>(bytes);
}

bool hasNtfsOemId(std::span<const std::byte> b)
{
    for (size_t i = 0; i < kOemIdLength; ++i) {
        if (byteAt(b, kOemIdOffset + i) != static_cast<uint8_t>(kNtfsOemId[i]))
            return false;
    }
    return true;
}

std::optional<VolumeProbe> probeNtfs(std::span<const std::byte> b, uint64_t volumeBytes)
{
    if (!hasBootSignature(b))
        return std::nullopt;
    // NTFS leaves the FAT fields of the parameter block zero.
    if (loadLe16(b, kReservedSectorsOffset) != 0 || byteAt(b, kFatCountOffset) != 0 ||
        loadLe16(b, kRootEntryCountOffset) != 0 || loadLe16(b, kTotalSectors16Offset) != 0 ||
        loadLe16(b, kSectorsPerFat16Offset) != 0 || loadLe32(b, kTotalSectors32Offset) != 0)
        return std::nullopt;

    const uint32_t bytesPerSector = loadLe16(b, kBytesPerSectorOffset);
    const uint32_t sectorsPerCluster = ntfsSectorsPerCluster(byteAt(b, kSectorsPerClusterOffset));
    if (!validSectorBytes(bytesPerSector) || sectorsPerCluster == 0)
        return std::nullopt;
    const uint64_t clusterBytes = uint64_t{bytesPerSector} * sectorsPerCluster;
    if (clusterBytes > kMaxNtfsClusterBytes)
        return std::nullopt;

    const uint64_t totalSectors = loadLe64(b, kNtfsTotalSectorsOffset);
    uint64_t totalBytes = 0;
    if (totalSectors == 0 || !checkedMul(totalSectors, bytesPerSector, totalBytes) ||
        totalBytes > volumeBytes)
        return std::nullopt;
    const uint64_t clusterCount = totalSectors / sectorsPerCluster;
    const uint64_t mftCluster = loadLe64(b, kNtfsMftClusterOffset);
    const uint64_t mftMirrorCluster = loadLe64(b, kNtfsMftMirrorClusterOffset);
    if (mftCluster >= clusterCount || mftMirrorCluster >= clusterCount)
        return std::nullopt;
    const uint32_t fileRecordBytes =
        ntfsRecordBytes(byteAt(b, kNtfsClustersPerFileRecordOffset), clusterBytes);
    const uint32_t indexRecordBytes =
        ntfsRecordBytes(byteAt(b, kNtfsClustersPerIndexRecordOffset), clusterBytes);
    if (fileRecordBytes == 0 || indexRecordBytes == 0)
        return std::nullopt;

    VolumeProbe probe;
    probe.kind = FileSystemKind::Ntfs;
    probe.fileSystemType = kFileSystemTypeNtfs;
    probe.partitionTypeId = kPartitionTypeNtfs;
    probe.bytesPerSector = bytesPerSector;
    probe.sectorsPerCluster = sectorsPerCluster;
    NtfsGeometry &g = probe.ntfs;
    g.totalSectors = totalSectors;
    g.clusterCount = clusterCount;
    g.mftCluster = mftCluster;
    g.mftMirrorCluster = mftMirrorCluster;
    g.bytesPerFileRecord = fileRecordBytes;
    g.bytesPerIndexRecord = indexRecordBytes;
    g.serialNumber = loadLe64(b, kNtfsSerialNumberOffset);
    return probe;
}

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16LeToUtf8(std::span<const std::byte> b)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string out;
    const size_t units = b.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = loadLe16(b, 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = loadLe16(b, 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
    }
    return out;
}

} // namespace

VolumeProbe probeVolume(std::span<const std::byte> bootSector, uint64_t volumeBytes)
{
    if (bootSector.size() < kBootSectorBytes)
        return {};
    const auto probe =
        hasNtfsOemId(bootSector) ? probeNtfs(bootSector, volumeBytes) : probeFat(bootSector, volumeBytes);
    return probe ? *probe : VolumeProbe{};
}

uint32_t chooseSectorsPerBlock(const VolumeProbe &probe, uint64_t sectorCount)
{
    uint32_t sectorsPerBlock = kDefaultSectorsPerBlock;
    if (probe.kind != FileSystemKind::Unknown && probe.bytesPerSector != 0 && probe.sectorsPerCluster != 0) {
        const uint64_t clusterUnits = uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster / kUnitBytes;
        sectorsPerBlock =
            static_cast<uint32_t>(clusterUnits < 1                            ? 1
                                  : clusterUnits > kMaxClusterSectorsPerBlock ? kMaxClusterSectorsPerBlock
                                                                              : clusterUnits);
    }
    while (sectorsPerBlock < kMaxSectorsPerBlock && ceilDiv(sectorCount, sectorsPerBlock) > kMaxBlockCount)
        sectorsPerBlock *= 2;
    return sectorsPerBlock;
}

std::optional<uint64_t> ntfsFileRecordOffset(const VolumeProbe &probe, uint64_t recordNumber)
{
    if (probe.kind != FileSystemKind::Ntfs || recordNumber >= kMftSystemRecords)
        return std::nullopt;
    const NtfsGeometry &g = probe.ntfs;
    const uint64_t clusterBytes = uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster;
    uint64_t mftStart = 0;
    uint64_t offset = 0;
    uint64_t end = 0;
    uint64_t volumeEnd = 0;
    if (!checkedMul(g.mftCluster, clusterBytes, mftStart) ||
        !checkedAdd(mftStart, recordNumber * g.bytesPerFileRecord, offset) ||
        !checkedAdd(offset, g.bytesPerFileRecord, end) ||
        !checkedMul(g.totalSectors, probe.bytesPerSector, volumeEnd) || end > volumeEnd)
        return std::nullopt;
    return offset;
}

std::optional<std::string> ntfsVolumeLabel(std::span<const std::byte> fileRecord)
{
    const size_t size = fileRecord.size();
    if (size < kMinRecordBytes || size > kMaxRecordBytes || size % kFixupStride != 0)
        return std::nullopt;
    if (loadLe32(fileRecord, kRecordMagicOffset) != 0x454C4946) // "FILE"
        return std::nullopt;

    // Each 512-byte stride ends in the update sequence number; the real last two bytes wait in the array.
    const size_t usaOffset = loadLe16(fileRecord, kRecordUsaOffsetOffset);
    const size_t usaCount = loadLe16(fileRecord, kRecordUsaCountOffset);
    if (usaCount != size / kFixupStride + 1 || usaOffset < kRecordUsaCountOffset + 2 || usaOffset > size ||
        size - usaOffset < usaCount * 2)
        return std::nullopt;
    std::vector<std::byte> record(fileRecord.begin(), fileRecord.end());
    const uint16_t sequence = loadLe16(record, usaOffset);
    for (size_t i = 1; i < usaCount; ++i) {
        const size_t tail = i * kFixupStride - 2;
        if (loadLe16(record, tail) != sequence)
            return std::nullopt;
        storeLe16(record, tail, loadLe16(record, usaOffset + 2 * i));
    }

    if ((loadLe16(record, kRecordFlagsOffset) & kRecordInUse) == 0)
        return std::nullopt;
    const size_t bytesInUse = loadLe32(record, kRecordBytesInUseOffset);
    size_t pos = loadLe16(record, kRecordAttrOffsetOffset);
    if (bytesInUse > size || pos < kRecordHeaderBytes || pos > bytesInUse)
        return std::nullopt;

    // Attributes are sorted by type and end with a 0xFFFFFFFF type; each is at least a resident header long,
    // so the walk ends within bytesInUse / kResidentAttrHeaderBytes steps.
    const std::span<const std::byte> r(record);
    while (bytesInUse - pos >= 4) {
        const uint32_t type = loadLe32(r, pos + kAttrTypeOffset);
        if (type == kAttrEnd || type > kAttrVolumeName)
            return std::string();
        if (bytesInUse - pos < kResidentAttrHeaderBytes)
            return std::nullopt;
        const size_t length = loadLe32(r, pos + kAttrLengthOffset);
        if (length < kResidentAttrHeaderBytes || length % 8 != 0 || length > bytesInUse - pos)
            return std::nullopt;
        if (type == kAttrVolumeName) {
            if (byteAt(r, pos + kAttrNonResidentOffset) != 0 || byteAt(r, pos + kAttrNameLengthOffset) != 0)
                return std::nullopt;
            const size_t valueLength = loadLe32(r, pos + kAttrValueLengthOffset);
            const size_t valueOffset = loadLe16(r, pos + kAttrValueOffsetOffset);
            if (valueOffset < kResidentAttrHeaderBytes || valueOffset > length ||
                length - valueOffset < valueLength || valueLength % 2 != 0)
                return std::nullopt;
            return utf16LeToUtf8(r.subspan(pos + valueOffset, valueLength));
        }
        pos += length;
    }
    return std::nullopt;
}

} // namespace imbrex::capture
