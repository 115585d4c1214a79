#include "VolumeProbe.h"

#include <string_view>
#include <vector>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ntfs/NtfsBootSector.h"
#include "engine/ntfs/NtfsLayout.h"
#include "engine/ntfs/NtfsRecord.h"

namespace imbrex::capture {

namespace {

namespace ntfs = engine::ntfs;

constexpr std::string_view kNtfsOemId = "NTFS    ";
constexpr uint64_t kSmallFat16Bytes = 32u * 1024 * 1024;
constexpr uint32_t kMinSectorBytes = 512;
constexpr uint32_t kMaxSectorBytes = 4096;
constexpr uint32_t kMaxFatSectorsPerCluster = 128;
constexpr uint64_t kMaxFat16Clusters = 65524;
// Cluster numbers up to 0x0FFFFFF6 stay below the bad-cluster mark.
constexpr uint64_t kMaxFat32Clusters = 0x0FFFFFF5;

// Block size limits for chooseSectorsPerBlock().
constexpr uint32_t kUnitBytes = 512;
constexpr uint32_t kDefaultSectorsPerBlock = 8;
constexpr uint32_t kMaxClusterSectorsPerBlock = 128;
constexpr uint32_t kMaxSectorsPerBlock = 1u << 31;
constexpr uint64_t kMaxBlockCount = uint64_t{1} << 26;

constexpr uint64_t kMftSystemRecords = 16;
constexpr uint32_t kAttrVolumeName = 0x60;

uint8_t byteAt(std::span<const std::byte> b, size_t offset)
{
    return std::to_integer<uint8_t>(b[offset]);
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

bool hasNtfsOemId(std::span<const std::byte> b)
{
    for (size_t i = 0; i < kNtfsOemId.size(); ++i) {
        if (std::to_integer<char>(b[ntfs::boot::kOemName + i]) != kNtfsOemId[i])
            return false;
    }
    return true;
}

// The readers accept any boot sector whose geometry they can follow. Leaving blocks out of an image is only
// safe for a volume that really is the file system it seems to be, so a volume is recognised only when its
// boot sector is also plausible as a whole: the fields the readers do not need must hold what formatters
// write, and the boot sector must describe every sector it claims without the readers having to cut any off.
// A volume that fails these checks is stored in full.
bool plausibleFat(std::span<const std::byte> b, const FatGeometry &g)
{
    const uint8_t media = byteAt(b, engine::fatboot::kMedia);
    const uint32_t rawRootEntries = loadLe16(b, engine::fatboot::kRootEntries);
    uint64_t declaredSectors = loadLe16(b, engine::fatboot::kTotalSectors16);
    if (declaredSectors == 0)
        declaredSectors = loadLe32(b, engine::fatboot::kTotalSectors32);
    const uint64_t declaredClusters = (declaredSectors - g.firstDataSector) / g.sectorsPerCluster;
    if (g.clusterCount == 0 || !isPowerOfTwo(g.sectorsPerCluster) ||
        g.sectorsPerCluster > kMaxFatSectorsPerCluster || (media != 0xF0 && media < 0xF8) ||
        declaredSectors != g.totalSectors)
        return false;
    if (g.fatType == engine::kFat32)
        return rawRootEntries == 0 && declaredClusters <= kMaxFat32Clusters;
    return rawRootEntries != 0 && declaredClusters <= kMaxFat16Clusters;
}

bool plausibleNtfs(std::span<const std::byte> b, const ntfs::NtfsBootSector &boot)
{
    // NTFS leaves the FAT fields of the parameter block zero.
    using namespace engine::fatboot;
    if (loadLe16(b, kSignature16) != 0xAA55 || loadLe16(b, kReservedSectors) != 0 ||
        byteAt(b, kNumberOfFats) != 0 || loadLe16(b, kRootEntries) != 0 ||
        loadLe16(b, kTotalSectors16) != 0 || loadLe16(b, kSectorsPerFat16) != 0 ||
        loadLe32(b, kTotalSectors32) != 0)
        return false;
    return isPowerOfTwo(boot.bytesPerSector) && boot.bytesPerSector >= kMinSectorBytes &&
           boot.bytesPerSector <= kMaxSectorBytes && boot.totalClusters != 0 &&
           boot.mftCluster < boot.totalClusters && boot.mftMirrorCluster < boot.totalClusters &&
           isPowerOfTwo(boot.recordBytes) && boot.indexBlockBytes != 0;
}

VolumeProbe probeFat(std::span<const std::byte> b, uint64_t volumeBytes)
{
    VolumeProbe probe;
    if (engine::parseFatBootSector(b, volumeBytes, probe.fat) != rc::kOk || !plausibleFat(b, probe.fat))
        return {};
    const FatGeometry &g = probe.fat;
    probe.fileSystemType = kFileSystemTypeFat;
    probe.bytesPerSector = g.bytesPerSector;
    probe.sectorsPerCluster = g.sectorsPerCluster;
    probe.label = engine::fatBootLabel(b, g);
    switch (g.fatType) {
    case engine::kFat12:
        probe.kind = FileSystemKind::Fat12;
        probe.partitionTypeId = kPartitionTypeFat12;
        break;
    case engine::kFat16:
        probe.kind = FileSystemKind::Fat16;
        probe.partitionTypeId = uint64_t{g.totalSectors} * g.bytesPerSector < kSmallFat16Bytes
                                    ? kPartitionTypeFat16Small
                                    : kPartitionTypeFat16;
        break;
    default:
        probe.kind = FileSystemKind::Fat32;
        probe.partitionTypeId = kPartitionTypeFat32Lba;
        break;
    }
    return probe;
}

VolumeProbe probeNtfs(std::span<const std::byte> b, uint64_t volumeBytes)
{
    ntfs::NtfsBootSector boot;
    if (ntfs::NtfsBootSector::parse(b, boot) != rc::kOk || !boot.fitsIn(volumeBytes / kUnitBytes) ||
        !plausibleNtfs(b, boot))
        return {};
    VolumeProbe probe;
    probe.kind = FileSystemKind::Ntfs;
    probe.fileSystemType = kFileSystemTypeNtfs;
    probe.partitionTypeId = kPartitionTypeNtfs;
    probe.bytesPerSector = boot.bytesPerSector;
    probe.sectorsPerCluster = boot.clusterBytes / boot.bytesPerSector;
    NtfsGeometry &g = probe.ntfs;
    g.totalSectors = boot.totalSectors;
    g.clusterCount = boot.totalClusters;
    g.mftCluster = boot.mftCluster;
    g.mftMirrorCluster = boot.mftMirrorCluster;
    g.bytesPerFileRecord = boot.recordBytes;
    g.bytesPerIndexRecord = boot.indexBlockBytes;
    g.serialNumber = boot.serialNumber;
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
    return hasNtfsOemId(bootSector) ? probeNtfs(bootSector, volumeBytes) : probeFat(bootSector, volumeBytes);
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
    if (size < ntfs::kSectorBytes || size > ntfs::kMaxRecordBytes || size % ntfs::kSectorBytes != 0)
        return std::nullopt;
    std::vector<std::byte> record(fileRecord.begin(), fileRecord.end());
    ntfs::FileRecord parsed;
    if (ntfs::parseFileRecord(record, static_cast<uint32_t>(size / ntfs::kSectorBytes), parsed) != rc::kOk)
        return std::nullopt;
    for (const ntfs::AttributeHeader &a : parsed.attributes) {
        if (a.type != kAttrVolumeName)
            continue;
        if (a.nonResident || !a.name.empty() || a.valueLength % 2 != 0 || !a.residentValueInside(size))
            return std::nullopt;
        return utf16LeToUtf8(a.value(record));
    }
    return std::string();
}

} // namespace imbrex::capture
