#include "engine/ntfs/NtfsBootSector.h"

#include <string_view>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ntfs/NtfsLayout.h"

namespace imbrex::engine::ntfs {

namespace {

bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// Bytes of an index block: a positive field counts clusters, a negative one is the negated exponent of a byte
// count.
uint32_t decodeIndexBlockBytes(uint8_t raw, uint32_t clusterBytes)
{
    const auto perBlock = static_cast<int8_t>(raw);
    uint64_t bytes = 0;
    if (perBlock > 0)
        bytes = uint64_t{static_cast<uint8_t>(perBlock)} * clusterBytes;
    else if (perBlock < 0 && -perBlock < 32)
        bytes = uint64_t{1} << -perBlock;
    return isPowerOfTwo(bytes) && bytes >= kSectorBytes && bytes <= kMaxIndexBlockBytes
               ? static_cast<uint32_t>(bytes)
               : 0;
}

} // namespace

int NtfsBootSector::parse(std::span<const std::byte> sector, NtfsBootSector &out)
{
    if (sector.size() < kSectorBytes)
        return rc::kNtfsNotNtfs;
    const auto jump = std::to_integer<uint8_t>(sector[boot::kJump]);
    constexpr std::string_view kOem = "NTFS    ";
    bool oemMatches = true;
    for (size_t i = 0; i < kOem.size(); ++i)
        oemMatches = oemMatches && std::to_integer<char>(sector[boot::kOemName + i]) == kOem[i];
    if ((jump != 0xEB && jump != 0xE9) || !oemMatches)
        return rc::kNtfsNotNtfs;

    // The cluster size is formed from the declared sector size, but every read counts 512-byte sectors, so
    // the cluster must be a whole number of them. Clusters larger than NTFS allows are refused before
    // anything is sized from them.
    const uint32_t bytesPerSector = loadLe16(sector, boot::kBytesPerSector);
    const uint32_t sectorsPerCluster = std::to_integer<uint8_t>(sector[boot::kSectorsPerCluster]);
    if (!isPowerOfTwo(sectorsPerCluster))
        return rc::kNtfsBadClusterSize;
    const uint32_t clusterBytes = sectorsPerCluster * bytesPerSector;
    if (clusterBytes == 0 || clusterBytes % kSectorBytes != 0 || clusterBytes > kMaxClusterBytes)
        return rc::kNtfsBadClusterSize;

    const auto perRecord = static_cast<int8_t>(std::to_integer<uint8_t>(sector[boot::kClustersPerRecord]));
    uint32_t recordBytes = 0;
    if (perRecord < 0) {
        const int shift = -perRecord;
        if (shift < 9 || shift > 12)
            return rc::kNtfsBadRecordSize;
        recordBytes = uint32_t{1} << shift;
    } else if (perRecord >= 1 && perRecord <= 4) {
        recordBytes = static_cast<uint32_t>(perRecord) * clusterBytes;
        if (recordBytes > kMaxRecordBytes)
            return rc::kNtfsBadRecordSize;
    } else {
        return rc::kNtfsBadRecordSize; // 0 (no size at all) and more than 4 clusters
    }

    const uint64_t totalSectors = loadLe64(sector, boot::kTotalSectors);
    if ((totalSectors >> 32) != 0)
        return rc::kNtfsTooLarge;

    out.bytesPerSector = bytesPerSector;
    out.clusterBytes = clusterBytes;
    out.sectorsPerCluster = clusterBytes / static_cast<uint32_t>(kSectorBytes);
    out.recordBytes = recordBytes;
    out.sectorsPerRecord = recordBytes / static_cast<uint32_t>(kSectorBytes);
    out.totalSectors = totalSectors;
    out.totalClusters = static_cast<uint32_t>(totalSectors / sectorsPerCluster);
    out.mftCluster = static_cast<uint32_t>(loadLe64(sector, boot::kMftCluster));
    out.mftMirrorCluster = loadLe64(sector, boot::kMftMirrorCluster);
    out.indexBlockBytes =
        decodeIndexBlockBytes(std::to_integer<uint8_t>(sector[boot::kClustersPerIndex]), clusterBytes);
    out.serialNumber = loadLe64(sector, boot::kSerialNumber);
    return rc::kOk;
}

} // namespace imbrex::engine::ntfs
