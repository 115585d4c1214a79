#include "IndexFile.h"

#include <array>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "common/PathNames.h"
#include "common/ResultCodes.h"
#include "platform/File.h"

namespace imbrex::index {

namespace {

using platform::File;

// Where the header check leaves the caller.
struct HeaderInfo
{
    uint32_t partitionCount = 0;
    uint64_t tableEntryOffset = 0;
    uint32_t sectionOffset = kNoSection;
};

// Reads exactly data.size() bytes at offset; 1811 when the file holds fewer or the read fails.
int readExactly(File &file, uint64_t offset, std::span<std::byte> data)
{
    size_t got = 0;
    if (file.readAt(offset, data, &got) != 0 || got != data.size())
        return rc::kReadShort;
    return rc::kOk;
}

// Writes all of data at offset; 1817 when the disk is full, 1805 for any other failure.
int writeAll(File &file, uint64_t offset, std::span<const std::byte> data)
{
    int e = file.writeAt(offset, data);
    if (e == 0)
        return rc::kOk;
    return e == platform::kErrorDiskFull ? rc::kMediaFull : rc::kWriteShort;
}

int writeLe32(File &file, uint64_t offset, uint32_t value)
{
    std::array<std::byte, 4> bytes;
    storeLe32(bytes, 0, value);
    return writeAll(file, offset, bytes);
}

// Where the pointer-table entry of the store's current partition lies, in a file of info.partitionCount.
int locateTableEntry(ImageStore &store, HeaderInfo &info)
{
    uint32_t number = 0;
    if (int e = store.GetPartitionNumber(&number))
        return e;
    if (number == 0 || number > info.partitionCount)
        return rc::kIndexMismatch;
    info.tableEntryOffset = kFileHeaderBytes + uint64_t{4} * (number - 1);
    return rc::kOk;
}

// Checks the file header against the image and reads the partition's pointer-table entry.
int checkHeader(File &file, ImageStore &store, HeaderInfo &info)
{
    std::array<std::byte, kFileHeaderBytes> header;
    if (int e = readExactly(file, 0, header))
        return e;
    if (loadLe32(header, 0) != kIndexFileSignature)
        return rc::kInvalidIndexFile;
    if (loadLe16(header, 4) > kIndexFileVersion)
        return rc::kNewerVersion;
    uint32_t imageId = 0;
    if (int e = store.GetImageId(&imageId))
        return e;
    info.partitionCount = loadLe32(header, 12);
    if (loadLe32(header, 8) != imageId || info.partitionCount != store.GetPartitionCount())
        return rc::kIndexMismatch;
    if (int e = locateTableEntry(store, info))
        return e;
    std::array<std::byte, 4> entry;
    if (int e = readExactly(file, info.tableEntryOffset, entry))
        return e;
    info.sectionOffset = loadLe32(entry, 0);
    return rc::kOk;
}

struct SectionHeader
{
    uint32_t stateSize = 0;
    uint32_t shift = 0;
    uint32_t checkpoints = 0;
    uint32_t spanRecords = 0;
};

int readSectionHeader(File &file, uint32_t offset, SectionHeader &section)
{
    std::array<std::byte, kSectionHeaderBytes> bytes;
    if (int e = readExactly(file, offset, bytes))
        return e;
    if (loadLe32(bytes, 0) != kSectionSignature)
        return rc::kInvalidIndexFile;
    section.stateSize = loadLe32(bytes, 4);
    section.shift = loadLe32(bytes, 8);
    section.checkpoints = loadLe32(bytes, 12);
    section.spanRecords = loadLe32(bytes, 16);
    return rc::kOk;
}

// Whether checkpoints read from a file can be walked from: entry 0 at the start of the stream, positions and
// first blocks never going back, first blocks within the partition and offsets within a block.
bool checkpointsSound(std::span<const std::byte> bytes, uint32_t count, const ImageIndex &index)
{
    const size_t firstBlocks = size_t{8} * count;
    const size_t offsets = size_t{12} * count;
    uint64_t lastPosition = 0;
    uint32_t lastBlock = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t position = loadLe64(bytes, size_t{8} * i);
        uint32_t block = loadLe32(bytes, firstBlocks + size_t{4} * i);
        uint32_t offset = loadLe32(bytes, offsets + size_t{4} * i);
        if (i == 0 && (position != 0 || block != 0 || offset != 0))
            return false;
        if (position < lastPosition || block < lastBlock)
            return false;
        if (uint64_t{block} > uint64_t{index.lastUsedBlock} + 1 || offset >= index.blockBytes)
            return false;
        lastPosition = position;
        lastBlock = block;
    }
    return true;
}

// Whether every checkpoint resumes the stream where its first block's data really begins: the store knows a
// chunk that starts at the checkpoint's position, and the block begins at the checkpoint's offset from the
// start of that chunk, as the bitmap counts it. A block larger than a chunk may begin beyond the chunk it is
// resumed from; the walk passes over such chunks, so only the offset counts. Needs checkpointsSound first:
// the first blocks rise and stay within the partition, so the bitmap is counted once from end to end.
bool checkpointsMatchData(std::span<const std::byte> bytes, uint32_t count, const ImageIndex &index,
                          const BlockMap &map, ImageStore &store)
{
    const size_t firstBlocks = size_t{8} * count;
    const size_t offsets = size_t{12} * count;
    uint32_t counted = 0;    // the blocks below this one are counted
    uint64_t usedBefore = 0; // how many of them are stored
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t position = loadLe64(bytes, size_t{8} * i);
        const uint32_t block = loadLe32(bytes, firstBlocks + size_t{4} * i);
        const uint32_t offset = loadLe32(bytes, offsets + size_t{4} * i);
        usedBefore += map.CountSet(counted, block);
        counted = block;
        uint64_t chunkStart = 0;
        uint32_t chunkLength = 0;
        if (store.LocateChunk(position, &chunkStart, &chunkLength) != rc::kOk)
            return false;
        const uint64_t blockStart = usedBefore * index.blockBytes;
        if (blockStart < chunkStart || blockStart - chunkStart != offset)
            return false;
    }
    return true;
}

// Turns the little-endian arrays of a section into the host's order, in place.
void toHostOrder(std::span<std::byte> bytes, uint32_t count)
{
    auto *positions = reinterpret_cast<uint64_t *>(bytes.data());
    for (uint32_t i = 0; i < count; ++i)
        positions[i] = loadLe64(bytes, size_t{8} * i);
    auto *words = reinterpret_cast<uint32_t *>(bytes.data() + size_t{8} * count);
    for (size_t i = 0; i < size_t{2} * count; ++i)
        words[i] = loadLe32(bytes, size_t{8} * count + 4 * i);
}

// A section read and checked, not yet handed over.
struct LoadedSection
{
    SectionHeader header;
    engine::EngineBuffer spans;
    engine::EngineBuffer entries;
};

int loadSection(const std::string &path, ImageStore &store, const BlockMap &map, const ImageIndex &index,
                LoadedSection &loaded)
{
    SectionHeader &section = loaded.header;
    if (path.empty())
        return rc::kNoIndexFile;
    File file;
    if (int e = file.open(path, platform::FileAccess::Read))
        return e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound ? rc::kNoIndexFile
                                                                                      : rc::kCannotOpen;
    HeaderInfo info;
    if (int e = checkHeader(file, store, info))
        return e;
    if (info.sectionOffset == kNoSection)
        return rc::kNoIndexForPartition;
    if (int e = readSectionHeader(file, info.sectionOffset, section))
        return e;
    if (section.shift > 31)
        return rc::kInvalidIndexFile;

    const uint32_t count = section.checkpoints;
    uint64_t entryBytes = ImageIndex::entryBytes(true, section.stateSize);
    if (count != 0) {
        // Checkpoints belong to compressed partitions only, and must resume this store's decoder.
        if (!index.compressed())
            return rc::kInvalidIndexFile;
        uint32_t stateSize = 0;
        if (int e = store.GetDecoderStateSize(&stateSize))
            return e;
        if (section.stateSize != stateSize)
            return rc::kInvalidIndexFile;
        uint32_t lastUsed = 0;
        if (int e = store.GetLastUsedBlock(&lastUsed))
            return e;
        // A store that reports no last used block (0) leaves the open to find it in the bitmap; the section
        // is then held against that value.
        if ((lastUsed != 0 && lastUsed != index.lastUsedBlock) ||
            (index.lastUsedBlock >> section.shift) > count)
            return rc::kInvalidIndexFile;
        if (entryBytes * count > kMaxIndexBytes)
            return rc::kInvalidIndexFile;
    }

    uint64_t fileSize = 0;
    if (file.size(&fileSize) != 0)
        return rc::kReadShort;
    uint64_t offset = uint64_t{info.sectionOffset} + kSectionHeaderBytes;
    engine::EngineBuffer &spans = loaded.spans;
    if (section.spanRecords != 0) {
        uint64_t bytes = uint64_t{section.spanRecords} * kSpanRecordBytes;
        if (offset > fileSize || fileSize - offset < bytes)
            return rc::kReadShort;
        if (int e = spans.allocate(static_cast<size_t>(bytes)))
            return e;
        if (int e = readExactly(file, offset, spans.span()))
            return e;
        offset += bytes;
    }

    engine::EngineBuffer &entries = loaded.entries;
    if (count != 0) {
        uint64_t bytes = entryBytes * count;
        if (offset > fileSize || fileSize - offset < bytes)
            return rc::kReadShort;
        if (int e = entries.allocate(static_cast<size_t>(bytes)))
            return e;
        if (int e = readExactly(file, offset, entries.span()))
            return e;
        if (!checkpointsSound(entries.span(), count, index) ||
            !checkpointsMatchData(entries.span(), count, index, map, store))
            return rc::kInvalidIndexFile;
        toHostOrder(entries.span(), count);
    }

    if (section.spanRecords != 0)
        if (int e = store.SetSpanTable(section.spanRecords, spans.data()))
            return e;
    return rc::kOk;
}

} // namespace

int ReadIndexFile(const std::string &path, ImageStore &store, const BlockMap &map, ImageIndex &index)
{
    LoadedSection loaded;
    if (int e = loadSection(path, store, map, index, loaded))
        return e;
    const SectionHeader &section = loaded.header;
    if (section.checkpoints != 0)
        index.adopt(std::move(loaded.entries), section.checkpoints, section.stateSize, section.shift);
    return rc::kOk;
}

namespace {

// Opens an existing file for update, or creates a new one with an empty pointer table.
int openForSaving(const std::string &path, ImageStore &store, File &file, HeaderInfo &info)
{
    int opened = platform::isReadOnlyFile(path) && platform::fileExists(path)
                     ? platform::kErrorAccessDenied
                     : file.open(path, platform::FileAccess::ReadWrite);
    if (opened == 0) {
        if (!file.tryLockExclusive())
            return rc::kCannotOpen;
        if (int e = checkHeader(file, store, info))
            return e;
        return info.sectionOffset == kNoSection ? rc::kOk : rc::kIndexExists;
    }

    File probe;
    if (probe.open(path, platform::FileAccess::Read) == 0)
        return rc::kCannotOpen;
    if (file.createExclusive(path) != 0 || !file.tryLockExclusive())
        return rc::kCannotOpen;
    uint32_t imageId = 0;
    if (int e = store.GetImageId(&imageId))
        return e;
    info.partitionCount = store.GetPartitionCount();
    if (int e = locateTableEntry(store, info))
        return e;

    std::array<std::byte, kFileHeaderBytes> header{};
    storeLe32(header, 0, kIndexFileSignature);
    storeLe16(header, 4, kIndexFileVersion);
    storeLe16(header, 6, 0);
    storeLe32(header, 8, imageId);
    storeLe32(header, 12, info.partitionCount);
    if (int e = writeAll(file, 0, header))
        return e;
    for (uint32_t n = 0; n < info.partitionCount; ++n)
        if (int e = writeLe32(file, kFileHeaderBytes + uint64_t{4} * n, kNoSection))
            return e;
    return rc::kOk;
}

} // namespace

int WriteIndexFile(const std::string &path, ImageStore &store, const ImageIndex &index)
{
    File file;
    HeaderInfo info;
    if (path.empty())
        return rc::kCannotOpen;
    if (int e = openForSaving(path, store, file, info))
        return e;

    uint64_t end = 0;
    if (file.size(&end) != 0)
        return rc::kCannotOpen;
    if (end >= kNoSection)
        return rc::kWriteShort;
    const auto sectionOffset = static_cast<uint32_t>(end);

    uint32_t spanCount = 0;
    const void *spanRecords = nullptr;
    if (int e = store.GetSpanTable(&spanCount, &spanRecords))
        return e;
    if (spanCount != 0 && spanRecords == nullptr)
        return rc::kGeneralFailure;
    const uint32_t count = index.compressed() ? static_cast<uint32_t>(index.entryCount()) : 0;
    const uint32_t stateSize = index.compressed() ? index.decoderStateSize : 0;

    std::array<std::byte, kSectionHeaderBytes> header{};
    storeLe32(header, 0, kSectionSignature);
    storeLe32(header, 4, stateSize);
    storeLe32(header, 8, index.groupShift);
    storeLe32(header, 12, count);
    storeLe32(header, 16, spanCount);
    uint64_t at = end;
    if (int e = writeAll(file, at, header))
        return e;
    at += header.size();
    if (spanCount != 0) {
        std::span<const std::byte> records(static_cast<const std::byte *>(spanRecords),
                                           size_t{spanCount} * kSpanRecordBytes);
        if (int e = writeAll(file, at, records))
            return e;
        at += records.size();
    }
    if (count != 0) {
        std::vector<std::byte> bytes(size_t{8} * count);
        for (uint32_t i = 0; i < count; ++i)
            storeLe64(bytes, size_t{8} * i, index.positions()[i]);
        if (int e = writeAll(file, at, bytes))
            return e;
        at += bytes.size();
        for (std::span<const uint32_t> words : {index.firstBlocks(), index.blockOffsets()}) {
            bytes.assign(size_t{4} * count, std::byte{0});
            for (uint32_t i = 0; i < count; ++i)
                storeLe32(bytes, size_t{4} * i, words[i]);
            if (int e = writeAll(file, at, bytes))
                return e;
            at += bytes.size();
        }
        if (stateSize != 0) {
            if (int e = writeAll(file, at, index.decoderStates()))
                return e;
        }
    }
    return writeLe32(file, info.tableEntryOffset, sectionOffset);
}

bool CheckIndexFile(const std::string &path, ImageStore &store, const BlockMap &map, const ImageIndex &index)
{
    if (!index.compressed() && !index.spanned)
        return true;
    LoadedSection loaded;
    return loadSection(path, store, map, index, loaded) == rc::kOk;
}

std::string proposedIndexPath(const std::string &imagePath)
{
    return replaceExtension(imagePath, "zbx");
}

} // namespace imbrex::index
