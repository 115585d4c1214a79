#include "UsedBlocks.h"

#include <algorithm>
#include <new>

#include "common/ResultCodes.h"
#include "engine/FatLayout.h"
#include "engine/ntfs/NTFS_RUNLIST.h"
#include "engine/ntfs/NtfsLayout.h"
#include "engine/ntfs/NtfsRecord.h"

namespace imbrex::capture {

namespace {

namespace ntfs = engine::ntfs;

// FATs are read in pieces of this many bytes.
constexpr size_t kReadPiece = 1 << 20;

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

bool readAll(const VolumeReader &read, uint64_t offset, std::span<std::byte> out)
{
    for (size_t done = 0; done < out.size();) {
        const size_t piece = std::min(kReadPiece, out.size() - done);
        if (read(offset + done, out.subspan(done, piece)) != 0)
            return false;
        done += piece;
    }
    return true;
}

bool markFat(const VolumeProbe &probe, BlockMarker &marker, const VolumeReader &read)
{
    const FatGeometry &g = probe.fat;
    const uint64_t sectorBytes = g.bytesPerSector;
    const uint64_t clusterBytes = g.bytesPerCluster;
    marker.mark(0, g.firstDataSector * sectorBytes);

    // The parse checked that the FAT holds every cluster's entry and lies within the volume.
    std::vector<std::byte> fat(static_cast<size_t>(g.fatBytesNeeded()));
    if (!readAll(read, uint64_t{g.activeFatSector()} * sectorBytes, fat))
        return false;
    const uint64_t dataStart = uint64_t{g.firstDataSector} * sectorBytes;
    for (uint32_t cluster = engine::kFirstDataCluster; g.isDataCluster(cluster); ++cluster) {
        const uint32_t value = engine::fatEntry(fat, g.fatType, cluster);
        if (value != engine::kFatFreeCluster && value != engine::kFatBadCluster)
            marker.mark(dataStart + uint64_t{cluster - engine::kFirstDataCluster} * clusterBytes,
                        clusterBytes);
    }
    return true;
}

// Reads a system record from the start of the MFT and checks it as the NTFS reader does.
bool loadSystemRecord(const VolumeProbe &probe, uint32_t number, const VolumeReader &read,
                      std::vector<std::byte> &record, ntfs::FileRecord &parsed)
{
    const auto offset = ntfsFileRecordOffset(probe, number);
    const uint32_t bytes = probe.ntfs.bytesPerFileRecord;
    if (!offset || bytes == 0 || bytes % ntfs::kSectorBytes != 0)
        return false;
    record.assign(bytes, std::byte{0});
    return read(*offset, record) == 0 &&
           ntfs::parseFileRecord(record, static_cast<uint32_t>(bytes / ntfs::kSectorBytes), parsed) ==
               rc::kOk &&
           !parsed.isExtension();
}

// The cluster bitmap from the unnamed $DATA of $Bitmap: bytes bytes, read as the reader reads them (past the
// initialized size as zeros). False for an attribute the reader would refuse, or one spread over several
// records.
bool readClusterBitmap(const VolumeProbe &probe, std::span<const std::byte> record,
                       const ntfs::AttributeHeader &data, const VolumeReader &read, std::span<std::byte> out)
{
    const uint64_t clusterBytes = uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster;
    if (!data.nonResident) {
        const auto value = data.value(record);
        if (value.size() < out.size())
            return false;
        std::copy_n(value.begin(), out.size(), out.begin());
        return true;
    }
    if ((data.flags & ntfs::attr::kFlagCompressionMask) != 0 || data.dataSize < out.size())
        return false;
    engine::NTFS_RUNLIST runs;
    const uint64_t limit = data.allocatedSize / clusterBytes;
    if (runs.appendExtent(data.bytes(record), data.mappingPairsOffset, 0, limit, probe.ntfs.clusterCount) !=
            rc::kOk ||
        runs.endVcn() < limit)
        return false;
    const uint64_t initialized = std::min<uint64_t>(out.size(), data.initializedSize);
    std::fill(out.begin(), out.end(), std::byte{0});
    uint64_t have = 0;
    for (const engine::NTFS_RUNLIST::Run &run : runs.runs()) {
        if (have >= initialized)
            break;
        // Runs follow one another from VCN 0, so this one starts where the bytes so far end.
        const uint64_t bytes = std::min(run.length * clusterBytes, initialized - have);
        if (run.cluster == engine::NTFS_RUNLIST::kNegative)
            return false;
        if (run.cluster != engine::NTFS_RUNLIST::kSparse &&
            !readAll(read, static_cast<uint64_t>(run.cluster) * clusterBytes,
                     out.subspan(static_cast<size_t>(have), static_cast<size_t>(bytes))))
            return false;
        have += bytes;
    }
    return have >= initialized;
}

bool markNtfs(const VolumeProbe &probe, uint64_t volumeBytes, BlockMarker &marker, const VolumeReader &read)
{
    const NtfsGeometry &g = probe.ntfs;
    const uint64_t clusterBytes = uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster;
    std::vector<std::byte> record;
    ntfs::FileRecord parsed;
    for (const uint32_t number : {ntfs::kMftRecord, ntfs::kVolumeRecord}) {
        if (!loadSystemRecord(probe, number, read, record, parsed))
            return false;
    }
    if (!loadSystemRecord(probe, ntfs::kBitmapRecord, read, record, parsed))
        return false;
    const auto data = std::find_if(parsed.attributes.begin(), parsed.attributes.end(), [](const auto &a) {
        return a.type == ntfs::attr::kData && a.name.empty();
    });
    if (data == parsed.attributes.end() || (data->nonResident && data->lowestVcn != 0))
        return false;

    // The volume bitmap, bit c for cluster c, in whole 64-bit words as the reader reads it.
    std::vector<std::byte> bits(static_cast<size_t>((g.clusterCount + 63) / 64 * 8));
    if (!readClusterBitmap(probe, record, *data, read, bits))
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

} // namespace

std::vector<uint8_t> fullBlockBitmap(uint32_t blockCount)
{
    std::vector<uint8_t> bitmap((uint64_t{blockCount} + 7) / 8, 0xFF);
    if (blockCount % 8)
        bitmap.back() = static_cast<uint8_t>((1u << (blockCount % 8)) - 1);
    return bitmap;
}

std::optional<std::vector<uint8_t>> fileSystemBlockBitmap(const VolumeProbe &probe, uint64_t volumeBytes,
                                                          uint64_t blockBytes, uint32_t blockCount,
                                                          const VolumeReader &read)
{
    if (blockBytes == 0)
        return std::nullopt;
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
    if (!known)
        return std::nullopt;
    return marker.take();
}

std::vector<uint8_t> usedBlockBitmap(const VolumeProbe &probe, uint64_t volumeBytes, uint64_t blockBytes,
                                     uint32_t blockCount, const VolumeReader &read)
{
    auto bitmap = fileSystemBlockBitmap(probe, volumeBytes, blockBytes, blockCount, read);
    return bitmap ? std::move(*bitmap) : fullBlockBitmap(blockCount);
}

} // namespace imbrex::capture
