#include "UsedBlocks.h"

#include <algorithm>
#include <new>
#include <optional>

#include "common/ByteOrder.h"

namespace imbrex::capture {

namespace {

// FAT entries that mark a cluster as free or bad: neither is stored.
constexpr uint32_t kFatFree = 0;
constexpr uint32_t kFat12Bad = 0xFF7;
constexpr uint32_t kFat16Bad = 0xFFF7;
constexpr uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
// FATs are read in pieces of this many bytes.
constexpr size_t kReadPiece = 1 << 20;

// NTFS file records and attributes.
constexpr uint64_t kBitmapRecord = 6;
constexpr size_t kFixupStride = 512;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr size_t kRecordHeaderBytes = 0x30;
constexpr size_t kNonResidentHeaderBytes = 0x40;

class BlockMarker
{
public:
    BlockMarker(uint64_t blockBytes, uint32_t blockCount)
        : m_blockBytes(blockBytes), m_blockCount(blockCount), m_bitmap((uint64_t{blockCount} + 7) / 8, 0)
    {
    }
    // Marks the blocks that hold any byte of [offset, offset + length).
    void mark(uint64_t offset, uint64_t length)
    {
        if (length == 0 || m_blockCount == 0)
            return;
        uint64_t first = offset / m_blockBytes;
        uint64_t last = (offset + length - 1) / m_blockBytes;
        last = std::min<uint64_t>(last, m_blockCount - 1);
        for (uint64_t b = first; b <= last; ++b)
            m_bitmap[b / 8] = static_cast<uint8_t>(m_bitmap[b / 8] | (1u << (b % 8)));
    }
    std::vector<uint8_t> take() { return std::move(m_bitmap); }

private:
    uint64_t m_blockBytes;
    uint32_t m_blockCount;
    std::vector<uint8_t> m_bitmap;
};

bool markFat(const VolumeProbe &probe, BlockMarker &marker, const VolumeReader &read)
{
    const FatGeometry &g = probe.fat;
    const uint64_t sectorBytes = probe.bytesPerSector;
    const uint64_t clusterBytes = sectorBytes * probe.sectorsPerCluster;
    marker.mark(0, g.firstDataSector * sectorBytes);

    const uint64_t entries = uint64_t{g.clusterCount} + 2;
    uint64_t fatBytes = 0;
    switch (probe.kind) {
    case FileSystemKind::Fat12:
        fatBytes = (entries * 3 + 1) / 2;
        break;
    case FileSystemKind::Fat16:
        fatBytes = entries * 2;
        break;
    default:
        fatBytes = entries * 4;
        break;
    }
    // The probe checked that the FAT holds all these entries and lies within the volume.
    std::vector<std::byte> fat(static_cast<size_t>(fatBytes));
    const uint64_t fatOffset = uint64_t{g.reservedSectors} * sectorBytes;
    for (size_t done = 0; done < fat.size();) {
        size_t piece = std::min(kReadPiece, fat.size() - done);
        if (read(fatOffset + done, std::span(fat).subspan(done, piece)) != 0)
            return false;
        done += piece;
    }
    const std::span<const std::byte> f(fat);
    for (uint64_t cluster = 2; cluster < entries; ++cluster) {
        uint32_t value = 0, bad = 0;
        switch (probe.kind) {
        case FileSystemKind::Fat12: {
            const size_t at = static_cast<size_t>(cluster * 3 / 2);
            const uint32_t pair = loadLe16(f, at);
            value = cluster % 2 == 0 ? pair & 0xFFF : pair >> 4;
            bad = kFat12Bad;
            break;
        }
        case FileSystemKind::Fat16:
            value = loadLe16(f, static_cast<size_t>(cluster * 2));
            bad = kFat16Bad;
            break;
        default:
            value = loadLe32(f, static_cast<size_t>(cluster * 4)) & kFat32EntryMask;
            bad = kFat32Bad;
            break;
        }
        if (value != kFatFree && value != bad)
            marker.mark(g.firstDataSector * sectorBytes + (cluster - 2) * clusterBytes, clusterBytes);
    }
    return true;
}

// Undoes the update sequence of a file record in place; false when it does not check out.
bool applyFixups(std::span<std::byte> record)
{
    const size_t size = record.size();
    if (size < kFixupStride || size % kFixupStride != 0)
        return false;
    const size_t usaOffset = loadLe16(record, 4);
    const size_t usaCount = loadLe16(record, 6);
    if (usaCount != size / kFixupStride + 1 || usaOffset < 8 || usaOffset > size ||
        size - usaOffset < usaCount * 2)
        return false;
    const uint16_t sequence = loadLe16(record, usaOffset);
    for (size_t i = 1; i < usaCount; ++i) {
        const size_t tail = i * kFixupStride - 2;
        if (loadLe16(record, tail) != sequence)
            return false;
        storeLe16(record, tail, loadLe16(record, usaOffset + 2 * i));
    }
    return true;
}

struct Run
{
    uint64_t lcn = 0;
    uint64_t length = 0; // clusters
    bool sparse = false;
};

// The runs of a non-resident attribute's runlist, bounded by the record and the volume's clusters.
std::optional<std::vector<Run>> parseRunlist(std::span<const std::byte> list, uint64_t clusterCount)
{
    std::vector<Run> runs;
    size_t pos = 0;
    int64_t lcn = 0;
    while (pos < list.size()) {
        const auto header = std::to_integer<uint8_t>(list[pos]);
        if (header == 0)
            return runs;
        const size_t lengthBytes = header & 0x0F, offsetBytes = header >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
            list.size() - pos - 1 < lengthBytes + offsetBytes)
            return std::nullopt;
        ++pos;
        uint64_t length = 0;
        for (size_t i = 0; i < lengthBytes; ++i)
            length |= uint64_t{std::to_integer<uint8_t>(list[pos + i])} << (8 * i);
        pos += lengthBytes;
        Run run;
        run.length = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            uint64_t raw = 0;
            for (size_t i = 0; i < offsetBytes; ++i)
                raw |= uint64_t{std::to_integer<uint8_t>(list[pos + i])} << (8 * i);
            if (offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) & 1)
                raw |= ~uint64_t{0} << (8 * offsetBytes);
            const auto delta = static_cast<int64_t>(raw);
            if ((delta > 0 && lcn > INT64_MAX - delta) || (delta < 0 && lcn < -delta))
                return std::nullopt;
            lcn += delta;
            run.lcn = static_cast<uint64_t>(lcn);
            if (run.lcn >= clusterCount || run.length > clusterCount - run.lcn)
                return std::nullopt;
        }
        pos += offsetBytes;
        runs.push_back(run);
        if (runs.size() > 65536)
            return std::nullopt;
    }
    return std::nullopt;
}

bool markNtfs(const VolumeProbe &probe, uint64_t volumeBytes, BlockMarker &marker, const VolumeReader &read)
{
    const NtfsGeometry &g = probe.ntfs;
    const uint64_t clusterBytes = uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster;
    auto recordOffset = ntfsFileRecordOffset(probe, kBitmapRecord);
    if (!recordOffset)
        return false;
    std::vector<std::byte> record(g.bytesPerFileRecord);
    if (read(*recordOffset, record) != 0 || loadLe32(record, 0) != 0x454C4946 || !applyFixups(record))
        return false;
    const size_t used = loadLe32(record, 0x18);
    size_t pos = loadLe16(record, 0x14);
    if (used > record.size() || pos < kRecordHeaderBytes || pos > used)
        return false;
    const std::span<const std::byte> r(record);
    while (used - pos >= 8) {
        const uint32_t type = loadLe32(r, pos);
        if (type == kAttrEnd || type > kAttrData)
            return false;
        const size_t length = loadLe32(r, pos + 4);
        if (length < 0x18 || length % 8 != 0 || length > used - pos)
            return false;
        const bool nonResident = std::to_integer<uint8_t>(r[pos + 8]) != 0;
        const size_t nameLength = std::to_integer<uint8_t>(r[pos + 9]);
        if (type != kAttrData || nameLength != 0) {
            pos += length;
            continue;
        }
        if (!nonResident || length < kNonResidentHeaderBytes)
            return false;
        const uint64_t startVcn = loadLe64(r, pos + 0x10);
        const size_t runOffset = loadLe16(r, pos + 0x20);
        const uint64_t dataSize = loadLe64(r, pos + 0x30);
        const uint64_t needed = (g.clusterCount + 7) / 8;
        if (startVcn != 0 || runOffset < kNonResidentHeaderBytes || runOffset > length || dataSize < needed)
            return false;
        auto runs = parseRunlist(r.subspan(pos + runOffset, length - runOffset), g.clusterCount);
        if (!runs)
            return false;
        // The volume bitmap, bit c for cluster c.
        std::vector<std::byte> bits(static_cast<size_t>(needed));
        uint64_t have = 0;
        for (const Run &run : *runs) {
            if (have >= needed)
                break;
            const uint64_t bytes = std::min(run.length * clusterBytes, needed - have);
            if (!run.sparse &&
                read(run.lcn * clusterBytes,
                     std::span(bits).subspan(static_cast<size_t>(have), static_cast<size_t>(bytes))) != 0)
                return false;
            have += bytes;
        }
        if (have < needed)
            return false;
        for (uint64_t c = 0; c < g.clusterCount; ++c)
            if ((std::to_integer<uint8_t>(bits[static_cast<size_t>(c / 8)]) >> (c % 8)) & 1)
                marker.mark(c * clusterBytes, clusterBytes);
        // The boot sector and, after the last cluster, its backup.
        marker.mark(0, probe.bytesPerSector);
        const uint64_t clustersEnd = g.clusterCount * clusterBytes;
        if (volumeBytes > clustersEnd)
            marker.mark(clustersEnd, volumeBytes - clustersEnd);
        return true;
    }
    return false;
}

} // namespace

std::vector<uint8_t> fullBlockBitmap(uint32_t blockCount)
{
    std::vector<uint8_t> bitmap((uint64_t{blockCount} + 7) / 8, 0xFF);
    if (blockCount % 8)
        bitmap.back() = static_cast<uint8_t>((1u << (blockCount % 8)) - 1);
    return bitmap;
}

std::vector<uint8_t> usedBlockBitmap(const VolumeProbe &probe, uint64_t volumeBytes, uint64_t blockBytes,
                                     uint32_t blockCount, const VolumeReader &read)
{
    if (blockBytes == 0)
        return fullBlockBitmap(blockCount);
    BlockMarker marker(blockBytes, blockCount);
    bool known = false;
    try {
        switch (probe.kind) {
        case FileSystemKind::Fat12:
        case FileSystemKind::Fat16:
        case FileSystemKind::Fat32:
            known = markFat(probe, marker, read);
            break;
        case FileSystemKind::Ntfs:
            known = markNtfs(probe, volumeBytes, marker, read);
            break;
        case FileSystemKind::Unknown:
            break;
        }
    } catch (const std::bad_alloc &) {
        known = false;
    }
    return known ? marker.take() : fullBlockBitmap(blockCount);
}

} // namespace imbrex::capture
