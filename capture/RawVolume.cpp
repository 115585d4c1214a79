#include "RawVolume.h"

#include <algorithm>
#include <random>
#include <vector>

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

// The label an NTFS volume keeps in its $Volume record, when it can be read.
std::string ntfsLabel(platform::File &raw, const VolumeProbe &probe)
{
    auto offset = ntfsFileRecordOffset(probe, 3);
    if (!offset || probe.ntfs.bytesPerFileRecord == 0 || probe.ntfs.bytesPerFileRecord > 65536)
        return {};
    std::vector<std::byte> record(probe.ntfs.bytesPerFileRecord);
    size_t got = 0;
    if (raw.readAt(*offset, record, &got) != 0 || got != record.size())
        return {};
    return ntfsVolumeLabel(record).value_or("");
}

// Discards the partition being added unless it was released.
class PendingPartition
{
public:
    explicit PendingPartition(ImageStore &store) : m_store(store) {}
    ~PendingPartition()
    {
        if (!m_released)
            (void)m_store.DeleteCurrentPartition();
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
    ~SelectedPartition() { (void)m_store.ReleasePartition(1); }
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
    if (int e = raw.open(rawPath, platform::FileAccess::Read))
        return e;
    uint64_t size = 0;
    if (int e = raw.size(&size))
        return e;
    if (size == 0)
        return rc::kInvalidArgument;
    uint64_t sectors = (size + kSectorSize - 1) / kSectorSize;
    if (sectors > UINT32_MAX)
        return rc::kImageTooLarge;
    auto sectorCount = static_cast<uint32_t>(sectors);

    std::vector<std::byte> head(kProbeBytes);
    size_t got = 0;
    if (int e = raw.readAt(0, head, &got))
        return e;
    VolumeProbe probe = probeVolume(head, size);
    uint32_t sectorsPerBlock = chooseSectorsPerBlock(probe, sectorCount);
    auto blockCount = static_cast<uint32_t>((sectors + sectorsPerBlock - 1) / sectorsPerBlock);

    std::string name = options.name;
    if (name.empty())
        name = probe.kind == FileSystemKind::Ntfs ? ntfsLabel(raw, probe) : probe.label;
    if (name.empty())
        name = baseNameWithoutExtension(rawPath);

    if (int e = store.AddPartition(probe.partitionTypeId, probe.fileSystemType, sectorCount,
                                   options.driveLetter, options.compression, 0))
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
    if (int e = store.SetLastUsedBlock(blockCount - 1))
        return e;

    std::vector<std::byte> bitmap(blockCount / 8 + (blockCount % 8 ? 1 : 0), std::byte{0xFF});
    if (blockCount % 8)
        bitmap.back() = static_cast<std::byte>((1u << (blockCount % 8)) - 1);
    if (int e = store.WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()), sectorsPerBlock,
                                       blockCount, blockCount, options.compression))
        return e;

    // Every block in full: the bytes of the file, then zeros up to the end of the last block.
    uint64_t total = static_cast<uint64_t>(blockCount) * sectorsPerBlock * kSectorSize;
    std::vector<std::byte> buffer(kTransferSize);
    for (uint64_t done = 0; done < total;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(kTransferSize, total - done));
        size_t have = 0;
        if (done < size) {
            if (int e = raw.readAt(done, std::span(buffer).first(want), &have))
                return e;
            if (have < want && done + have < size)
                return rc::kReadShort; // the file shrank while it was read
        }
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(have),
                  buffer.begin() + static_cast<std::ptrdiff_t>(want), std::byte{0});
        uint32_t written = 0;
        if (int e = store.WriteData(buffer.data(), static_cast<uint32_t>(want), &written))
            return e;
        if (written != want)
            return rc::kWriteShort;
        done += want;
        if (!progress.update(done, total))
            return rc::kCancelled;
    }
    if (int e = pending.release())
        return e;
    if (result)
        *result = {probe.fileSystemType, probe.partitionTypeId, sectorsPerBlock, sectorCount, name};
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
