#include "engine/FatLayout.h"

#include <algorithm>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::engine {

namespace {

constexpr uint32_t kMaxClusters12 = 0xFF5;
constexpr uint32_t kMaxClusters16 = 0xFFF5;
constexpr uint32_t kMaxClusters32 = 0x0FFFFFF5;
constexpr uint32_t kFat12SectorLimit = 12; // FATs of up to 12 sectors of 512 bytes hold FAT12
constexpr uint32_t kFat12ClusterLimit = 4085;
constexpr uint32_t kMinSectorBytes = 512;
constexpr uint32_t kMaxSectorBytes = 4096;
constexpr uint32_t kDirEntryBytes = 32;

bool isPowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

uint8_t byteAt(std::span<const std::byte> b, size_t offset)
{
    return std::to_integer<uint8_t>(b[offset]);
}

} // namespace

uint64_t FatLayout::fatBytesNeeded() const
{
    const uint64_t entries = uint64_t{clusterCount} + 2;
    switch (fatType) {
    case kFat12:
        return 3 * (entries - 1) / 2 + 2;
    case kFat16:
        return entries * 2;
    default:
        return entries * 4;
    }
}

int parseFatBootSector(std::span<const std::byte> b, uint64_t volumeBytes, FatLayout &out)
{
    using namespace fatboot;
    if (b.size() < kBootSectorBytes)
        return rc::kFatBadGeometry;
    FatLayout v;
    v.bytesPerSector = loadLe16(b, kBytesPerSector);
    v.sectorsPerCluster = byteAt(b, kSectorsPerCluster);
    v.reservedSectors = loadLe16(b, kReservedSectors);
    v.numberOfFats = byteAt(b, kNumberOfFats);
    v.rootEntries = loadLe16(b, kRootEntries);
    v.hiddenSectors = loadLe32(b, kHiddenSectors);

    const uint16_t sectorsPerFat16 = loadLe16(b, kSectorsPerFat16);
    if (sectorsPerFat16 != 0) {
        if (loadLe16(b, kSignature16) != 0xAA55)
            return rc::kBadBootSignature;
        v.totalSectors = loadLe16(b, kTotalSectors16);
        if (v.totalSectors == 0)
            v.totalSectors = loadLe32(b, kTotalSectors32);
        v.sectorsPerFat = sectorsPerFat16;
        v.volumeSerial = loadLe32(b, kSerial16);
    } else {
        if (loadLe32(b, kSignature32) != 0xAA550000)
            return rc::kBadBootSignature;
        v.fatType = kFat32;
        // mkfs.fat writes the 16-bit count on small FAT32 volumes too.
        v.totalSectors = loadLe16(b, kTotalSectors16);
        if (v.totalSectors == 0)
            v.totalSectors = loadLe32(b, kTotalSectors32);
        v.sectorsPerFat = loadLe32(b, kSectorsPerFat32);
        v.extendedFlags = loadLe16(b, kExtendedFlags);
        if ((v.extendedFlags & 0x80) != 0) {
            v.allFatsMirrored = 0;
            v.activeFat = static_cast<uint16_t>(v.extendedFlags & 0x0F);
        }
        v.fsVersion = loadLe16(b, kFsVersion);
        v.rootCluster = loadLe32(b, kRootCluster);
        v.volumeSerial = loadLe32(b, kSerial32);
        v.fsInfoSector = loadLe16(b, kFsInfoSector);
        v.backupBootSector = loadLe16(b, kBackupBootSector);
        v.rootEntries = 0;
    }

    // Sizes that every later computation divides by or multiplies with.
    if (!isPowerOfTwo(v.bytesPerSector) || v.bytesPerSector < kMinSectorBytes ||
        v.bytesPerSector > kMaxSectorBytes || v.sectorsPerCluster == 0 || v.numberOfFats == 0 ||
        v.sectorsPerFat == 0 || v.reservedSectors == 0 || v.activeFat >= v.numberOfFats)
        return rc::kFatBadGeometry;

    v.rootDirSectors =
        v.fatType == kFat32
            ? 0
            : (uint32_t{v.rootEntries} * kDirEntryBytes + v.bytesPerSector - 1) / v.bytesPerSector;
    // At most 2^16 + 255 x (2^32 - 1) + 2^11: no overflow in 64 bits.
    const uint64_t rootStart = uint64_t{v.reservedSectors} + uint64_t{v.numberOfFats} * v.sectorsPerFat;
    const uint64_t dataStart = rootStart + v.rootDirSectors;
    if (dataStart >= v.totalSectors)
        return rc::kFatBadGeometry;
    v.firstRootSector = static_cast<uint32_t>(rootStart);
    v.firstDataSector = static_cast<uint32_t>(dataStart);

    if (v.fatType != kFat32) {
        if (v.bytesPerSector == kMinSectorBytes)
            v.fatType = v.sectorsPerFat <= kFat12SectorLimit ? kFat12 : kFat16;
        else
            v.fatType = (v.totalSectors - v.firstDataSector) / v.sectorsPerCluster < kFat12ClusterLimit
                            ? kFat12
                            : kFat16;
    }

    // Sectors beyond the last cluster the FAT can describe are not part of the volume. A FAT holds at least
    // 512 bytes, so at least 128 entries.
    const uint64_t fatBytes = uint64_t{v.bytesPerSector} * v.sectorsPerFat;
    const uint64_t fatEntries = v.fatType == kFat12   ? fatBytes * 2 / 3
                                : v.fatType == kFat16 ? fatBytes / 2
                                                      : fatBytes / 4;
    const uint64_t reachable = (fatEntries - 2) * v.sectorsPerCluster + v.firstDataSector;
    if (reachable < v.totalSectors)
        v.totalSectors = static_cast<uint32_t>(reachable);

    if (v.fsVersion != 0)
        return rc::kBadFileSystemVersion;

    const uint32_t maxClusters = v.fatType == kFat12   ? kMaxClusters12
                                 : v.fatType == kFat16 ? kMaxClusters16
                                                       : kMaxClusters32;
    v.clusterCount = std::min((v.totalSectors - v.firstDataSector) / v.sectorsPerCluster, maxClusters);

    if (volumeBytes / v.bytesPerSector < v.totalSectors)
        return rc::kVolumeBeyondPartition;

    if (v.fatType == kFat32 && !v.isDataCluster(v.rootCluster))
        return rc::kFatBadRootCluster;

    v.bytesPerCluster = uint32_t{v.bytesPerSector} * v.sectorsPerCluster;
    if (v.fatBytesNeeded() > fatBytes)
        return rc::kFatBadGeometry;
    out = v;
    return rc::kOk;
}

std::string fatBootLabel(std::span<const std::byte> b, const FatLayout &layout)
{
    using namespace fatboot;
    const bool fat32 = layout.fatType == kFat32;
    if (b.size() < kBootSectorBytes ||
        byteAt(b, fat32 ? kExtendedSignature32 : kExtendedSignature16) != kExtendedSignature)
        return {};
    const size_t at = fat32 ? kLabel32 : kLabel16;
    std::string label;
    for (size_t i = 0; i < kLabelBytes; ++i)
        label.push_back(static_cast<char>(byteAt(b, at + i)));
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0'))
        label.pop_back();
    if (label == "NO NAME")
        label.clear();
    return label;
}

} // namespace imbrex::engine
