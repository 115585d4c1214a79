#include "RawVolume.h"

#include <algorithm>
#include <random>
#include <vector>

#include "UsedBlocks.h"
#include "VolumeProbe.h"
#include "common/ResultCodes.h"
#include "platform/File.h"

namespace imbrex::capture {

namespace {

constexpr size_t kTransferSize = 1 << 20;
constexpr uint32_t kSectorSize = 512;
constexpr size_t kProbeBytes = 4096;

std::string baseNameWithoutExtension(const std::string &path)
{
    std::string name = platform::fileNameOf(path);
    auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Discards the partition being added unless it was released.
class PendingPartition
{
public:
    explicit PendingPartition(ImageStore &store) : m_store(store) {}
    ~PendingPartition()
    {
        if (!m_released)
            (void)m_store.DeleteCurrentPartition(); // the capture's own error is the one reported
    }
    PendingPartition(const PendingPartition &) = delete;
    PendingPartition &operator=(const PendingPartition &) = delete;
    int release()
    {
        int e = m_store.ReleasePartition(1);
        m_released = e == 0;
        return e;
    }

private:
    ImageStore &m_store;
    bool m_released = false;
};

// Releases the selected partition when the export ends, however it ends.
class SelectedPartition
{
public:
    explicit SelectedPartition(ImageStore &store) : m_store(store) {}
    ~SelectedPartition() { (void)m_store.ReleasePartition(1); } // the export only reads it
    SelectedPartition(const SelectedPartition &) = delete;
    SelectedPartition &operator=(const SelectedPartition &) = delete;

private:
    ImageStore &m_store;
};

std::string temporaryPathFor(const std::string &path)
{
    std::random_device device;
    return platform::directoryOf(path) + "/." + platform::fileNameOf(path) + ".part-" +
           std::to_string(device());
}

} // namespace

int importPartition(ImageStore &store, const std::string &rawPath, const ImportOptions &options,
                    Progress &progress, ImportResult *result)
{
    platform::File raw;
    if (int e = raw.openVolume(rawPath))
        return e;
    uint64_t fileSize = 0;
    if (int e = raw.size(&fileSize))
        return e;
    if (options.offset > fileSize)
        return rc::kInvalidArgument;
    uint64_t size = options.length != 0 ? options.length : fileSize - options.offset;
    // A partition that runs past the end of a short disk image keeps its size; the missing bytes are zeros.
    if (size == 0)
        return rc::kInvalidArgument;
    uint64_t sectors = (size + kSectorSize - 1) / kSectorSize;
    if (sectors > UINT32_MAX)
        return rc::kImageTooLarge;
    auto sectorCount = static_cast<uint32_t>(sectors);
    const uint64_t base = options.offset;
    const uint64_t available = std::min(size, fileSize - base);

    // Reads volume bytes; what lies beyond the file reads as zeros.
    auto readVolume = [&](uint64_t offset, std::span<std::byte> out) -> int {
        std::fill(out.begin(), out.end(), std::byte{0});
        if (offset >= available)
            return 0;
        size_t want = static_cast<size_t>(std::min<uint64_t>(out.size(), available - offset));
        size_t have = 0;
        if (int e = raw.readAt(base + offset, out.first(want), &have))
            return e;
        return have == want ? 0 : rc::kReadShort;
    };

    std::vector<std::byte> head(kProbeBytes);
    if (int e = readVolume(0, head))
        return e;
    VolumeProbe probe = probeVolume(head, size);
    uint32_t sectorsPerBlock = chooseSectorsPerBlock(probe, sectorCount);
    auto blockCount = static_cast<uint32_t>((sectors + sectorsPerBlock - 1) / sectorsPerBlock);
    const uint64_t blockBytes = uint64_t{sectorsPerBlock} * kSectorSize;

    std::string name = options.name;
    if (name.empty() && probe.kind == FileSystemKind::Ntfs) {
        auto offset = ntfsFileRecordOffset(probe, 3);
        if (offset && probe.ntfs.bytesPerFileRecord != 0 && probe.ntfs.bytesPerFileRecord <= 65536) {
            std::vector<std::byte> record(probe.ntfs.bytesPerFileRecord);
            if (readVolume(*offset, record) == 0)
                name = ntfsVolumeLabel(record).value_or("");
        }
    } else if (name.empty()) {
        name = probe.label;
    }
    if (name.empty())
        name = baseNameWithoutExtension(rawPath);

    std::vector<uint8_t> bitmap = options.usedBlocksOnly
                                      ? usedBlockBitmap(probe, size, blockBytes, blockCount, readVolume)
                                      : fullBlockBitmap(blockCount);
    auto isStored = [&](uint32_t b) { return (bitmap[b / 8] >> (b % 8)) & 1; };
    uint32_t usedBlocks = 0, lastUsed = 0;
    for (uint32_t b = 0; b < blockCount; ++b)
        if (isStored(b)) {
            ++usedBlocks;
            lastUsed = b;
        }

    const uint32_t typeId = options.partitionTypeId != 0 ? options.partitionTypeId : probe.partitionTypeId;
    if (int e = store.AddPartition(typeId, probe.fileSystemType, sectorCount, options.driveLetter,
                                   options.compression, 0))
        return e;
    PendingPartition pending(store);
    if (int e = store.SetPartitionPassword(options.password))
        return e;
    if (int e = store.SetNewPartitionName(name.c_str()))
        return e;
    if (int e = store.SetNewPartitionComment(options.comment.c_str()))
        return e;
    if (int e = store.SetPartitionKind(options.kind))
        return e;
    if (int e = store.SetLastUsedBlock(lastUsed))
        return e;
    if (int e = store.WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()), sectorsPerBlock,
                                       blockCount, usedBlocks, options.compression))
        return e;

    // The stored blocks in order, in runs of up to kTransferSize bytes; bytes past the volume's end are
    // zeros.
    const uint64_t total = uint64_t{usedBlocks} * blockBytes;
    const uint64_t blocksPerRun = std::max<uint64_t>(1, kTransferSize / blockBytes);
    std::vector<std::byte> buffer;
    uint64_t done = 0;
    for (uint32_t b = 0; b < blockCount;) {
        if (!isStored(b)) {
            ++b;
            continue;
        }
        uint32_t first = b;
        while (b < blockCount && isStored(b) && b - first < blocksPerRun)
            ++b;
        const auto length = static_cast<size_t>((b - first) * blockBytes);
        buffer.resize(length);
        if (int e = readVolume(first * blockBytes, buffer))
            return e;
        uint32_t written = 0;
        if (int e = store.WriteData(buffer.data(), static_cast<uint32_t>(length), &written))
            return e;
        if (written != length)
            return rc::kWriteShort;
        done += length;
        if (!progress.update(done, total))
            return rc::kCancelled;
    }
    if (int e = pending.release())
        return e;
    if (result)
        *result = {probe.fileSystemType, typeId, sectorsPerBlock, sectorCount, name, usedBlocks, blockCount};
    return rc::kOk;
}

int exportPartition(ImageStore &store, uint32_t number, const std::string &rawPath, bool replace,
                    Progress &progress)
{
    if (int e = store.SelectPartition(number, 0))
        return e;
    SelectedPartition selected(store);
    uint32_t sectorCount = 0, sectorsPerBlock = 0, blockCount = 0, sectorSize = 0;
    if (int e = store.GetSectorCount(&sectorCount))
        return e;
    if (int e = store.GetBlockCount(&blockCount))
        return e;
    if (int e = store.GetSectorSize(&sectorSize))
        return e;
    std::vector<uint8_t> bitmap(blockCount / 8 + (blockCount % 8 ? 1 : 0));
    uint32_t got = 0;
    if (int e = store.ReadBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()), &sectorsPerBlock,
                                      &got))
        return e;
    if (got != bitmap.size())
        return rc::kBitmapSizeMismatch;
    if (sectorsPerBlock == 0 || sectorSize != kSectorSize)
        return rc::kImageDamaged;
    if (int e = store.ResetStream())
        return e;
    if (!replace && platform::fileExists(rawPath))
        return platform::kErrorFileExists;

    std::string temp = temporaryPathFor(rawPath);
    platform::File out;
    if (int e = out.createExclusive(temp))
        return e;
    auto fail = [&](int e) {
        out.close();
        (void)platform::removeFile(temp);
        return e;
    };

    uint64_t volumeBytes = static_cast<uint64_t>(sectorCount) * kSectorSize;
    uint64_t blockBytes = static_cast<uint64_t>(sectorsPerBlock) * kSectorSize;
    auto isStored = [&](uint32_t b) { return (bitmap[b / 8] >> (b % 8)) & 1; };
    std::vector<std::byte> buffer;
    // Runs of stored blocks are read from the stream in order and written where they belong; unstored blocks
    // stay holes, which read as zeros.
    for (uint32_t b = 0; b < blockCount;) {
        if (!isStored(b)) {
            ++b;
            continue;
        }
        uint32_t first = b;
        while (b < blockCount && isStored(b) &&
               (b - first + 1) * blockBytes <= std::max<uint64_t>(kTransferSize, blockBytes))
            ++b;
        auto length = static_cast<size_t>((b - first) * blockBytes);
        buffer.resize(length);
        uint32_t read = 0;
        if (int e = store.ReadData(buffer.data(), static_cast<uint32_t>(length), &read))
            return fail(e);
        if (read != length)
            return fail(rc::kDataDamaged);
        uint64_t offset = first * blockBytes;
        size_t keep =
            static_cast<size_t>(std::min<uint64_t>(length, volumeBytes - std::min(volumeBytes, offset)));
        if (int e = out.writeAt(offset, std::span(buffer).first(keep)))
            return fail(e);
        if (!progress.update(std::min(volumeBytes, b * blockBytes), volumeBytes))
            return fail(rc::kCancelled);
    }
    if (int e = out.truncate(volumeBytes))
        return fail(e);
    if (int e = out.sync())
        return fail(e);
    out.close();
    if (int e = platform::replaceFile(temp, rawPath)) {
        (void)platform::removeFile(temp);
        return e;
    }
    progress.update(volumeBytes, volumeBytes);
    return rc::kOk;
}

} // namespace imbrex::capture
