#include "PARTITION_ACCESS.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "common/ResultCodes.h"
#include "index/IndexFile.h"

namespace imbrex::restore {

namespace {

constexpr uint32_t kSectorBytes = 512;
// Blocks larger than this are not a geometry any store writes.
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 30;
// The first bytes of a fill, and the most tail bytes that fit behind them in a cache buffer.
constexpr uint32_t kFillBytes = index::kChunkBytes;
constexpr uint32_t kMaxTailBytes = kCacheBufferBytes - kFillBytes;

constexpr uint32_t kNoWantedBlock = index::kNoBlock;

} // namespace

PARTITION_ACCESS::~PARTITION_ACCESS()
{
    Destroy();
}

void PARTITION_ACCESS::Destroy()
{
    if (engine::currentSectorSource() == this)
        engine::setCurrentSectorSource(nullptr);
    m_files.reset();
    m_partitionInfo.reset();
    m_dirList.reset();
    m_index.clear();
    m_stateMap = STATE_MAP();
    if (m_ownsCache)
        paCacheRing().destroy();
    m_ownsCache = false;
    m_open = false;
    m_store = nullptr;
    m_flags = 0;
    m_compressionType = 0;
    m_blockCount = m_sectorsPerBlock = m_bytesPerSector = m_lastUsedBlock = m_blockBytes = 0;
}

int PARTITION_ACCESS::Open(ImageStore *store, const std::string &indexPath,
                           index::IndexProblemHandler *problems)
{
    if (int e = OpenSectors(store, indexPath, problems))
        return e;
    return MountVolume();
}

int PARTITION_ACCESS::OpenSectors(ImageStore *store, const std::string &indexPath,
                                  index::IndexProblemHandler *problems)
{
    Destroy();
    if (store == nullptr)
        return rc::kInvalidArgument;
    engine::setCurrentSectorSource(this);
    m_store = store;
    int e = openSteps(indexPath, problems);
    m_open = e == 0;
    return e;
}

int PARTITION_ACCESS::openSteps(const std::string &indexPath, index::IndexProblemHandler *problems)
{
    ImageStore &store = *m_store;
    if (int e = store.ResetStream())
        return e;
    uint32_t spanned = 0;
    if (int e = store.IsSpanned(&spanned))
        return e;
    if (spanned == 1)
        m_flags |= kFlagSpanned;
    if (int e = store.GetCompression(&m_compressionType))
        return e;
    if (m_compressionType >= 1 && m_compressionType <= 8)
        return rc::kLegacyCompression;

    if (int e = store.GetBlockCount(&m_blockCount))
        return e;
    if (int e = store.GetSectorsPerBlock(&m_sectorsPerBlock))
        return e;
    if (int e = store.GetSectorSize(&m_bytesPerSector))
        return e;
    uint64_t blockBytes = uint64_t{m_sectorsPerBlock} * m_bytesPerSector;
    if (m_bytesPerSector != kSectorBytes || m_sectorsPerBlock == 0 || blockBytes > kMaxBlockBytes)
        return rc::kBadGeometry;
    m_blockBytes = static_cast<uint32_t>(blockBytes);

    if (m_stateMap.create(m_blockCount) != 0)
        return rc::kOutOfMemory;
    const uint32_t byteCount = m_blockCount / 8 + (m_blockCount % 8 ? 1 : 0);
    uint32_t bitmapSectorsPerBlock = m_sectorsPerBlock;
    uint32_t bytesRead = 0;
    if (int e =
            store.ReadBlockBitmap(m_stateMap.bytes().data(), byteCount, &bitmapSectorsPerBlock, &bytesRead))
        return e;
    if (bytesRead != byteCount)
        return rc::kBitmapSizeMismatch;
    m_stateMap.loadBytes(m_stateMap.bytes().first(byteCount));

    m_partitionInfo.reset(new (std::nothrow) engine::PARTITION_INFO);
    if (!m_partitionInfo)
        return rc::kOutOfMemory;
    engine::PARTITION_INFO &info = *m_partitionInfo;
    info.openFlags = engine::kPartitionFlagsForRestore;
    info.diskHandle = nullptr;
    info.firstSector = 0;
    if (int e = store.GetSectorCount(&info.sectorCount))
        return e;
    info.bytesPerSector = kSectorBytes;
    info.sectorMultiplier = 1;
    uint32_t fileSystem = 0;
    if (int e = store.GetFileSystemType(&fileSystem))
        return e;
    if (fileSystem == engine::kFileSystemFat32)
        fileSystem = engine::kFileSystemFat;
    info.fileSystemCode = fileSystem <= 0xFF ? static_cast<uint8_t>(fileSystem) : 0;

    if (m_compressionType != 0) {
        m_flags |= kFlagCompressed;
        m_ownsCache = true;
        if (int e = paCacheRing().create())
            return e;
    }

    if (int e = store.GetLastUsedBlock(&m_lastUsedBlock))
        return e;
    if (m_lastUsedBlock == 0 || m_lastUsedBlock >= m_blockCount) {
        uint32_t blocks = 0;
        if (int e = store.GetBlockCount(&blocks))
            return e;
        uint32_t last = m_stateMap.LastSetBelow(uint64_t{blocks} + 1);
        m_lastUsedBlock = last == index::kNoBlock ? 0 : last;
    }

    m_index = index::ImageIndex();
    m_index.compressionType = m_compressionType;
    m_index.spanned = (m_flags & kFlagSpanned) != 0;
    m_index.lastUsedBlock = m_lastUsedBlock;
    m_index.blockBytes = m_blockBytes;
    if (m_compressionType != 0 || (m_flags & kFlagSpanned))
        if (int e = loadIndex(indexPath, problems))
            return e;
    if (m_index.lastIndexEntry == 0)
        if (int e = m_index.allocateFor(store))
            return e;
    return rc::kOk;
}

int PARTITION_ACCESS::loadIndex(const std::string &indexPath, index::IndexProblemHandler *problems)
{
    std::string path = indexPath;
    for (;;) {
        int r = ReadIndexFile(path);
        if (r == 0 || problems == nullptr)
            return rc::kOk;
        int answer = problems->ShowIndexProblem(r, path);
        if (answer == rc::kDialogCancelled)
            return rc::kDialogCancelled;
        if (answer != rc::kIndexTryAgain)
            return rc::kOk;
    }
}

int PARTITION_ACCESS::MountVolume()
{
    if (!m_open || !m_partitionInfo)
        return rc::kNoVolumeOpen;
    return mountVolumeFiles(m_partitionInfo->fileSystemCode, *m_partitionInfo, m_files);
}

// ---------------------------------------------------------------------------------------------------------
// Sector reads

int PARTITION_ACCESS::ReadSectors(uint32_t sector, void *buffer, uint32_t count)
{
    if (!m_open)
        return rc::kNoVolumeOpen;
    uint32_t block = sector / m_sectorsPerBlock;
    if (block > m_lastUsedBlock)
        return rc::kBeyondEnd;
    if (!m_stateMap.isSet(block))
        return rc::kBlockNotStored;
    if (count == 0)
        return rc::kOk;
    if (count > UINT32_MAX / kSectorBytes)
        return rc::kInvalidArgument;
    // Both reads take the stored bytes as one run from the first block on, so every block of the range must
    // be stored: a block missing in the middle would shift the rest of the data silently.
    const uint64_t lastBlock = (uint64_t{sector} + count - 1) / m_sectorsPerBlock;
    if (lastBlock > block) {
        if (lastBlock > m_lastUsedBlock)
            return rc::kBlockNotStored;
        const auto blocks = lastBlock - block + 1;
        if (m_stateMap.CountSet(block, static_cast<uint32_t>(lastBlock + 1)) != blocks)
            return rc::kBlockNotStored;
    }
    if (m_flags & kFlagCompressed)
        return readCompressed(sector, static_cast<std::byte *>(buffer), count);
    return readUncompressed(sector, buffer, count);
}

int PARTITION_ACCESS::readUncompressed(uint32_t sector, void *buffer, uint32_t count)
{
    uint32_t block = sector / m_sectorsPerBlock;
    uint64_t position = m_index.skipLookup(block, m_stateMap);
    position += uint64_t{sector % m_sectorsPerBlock} * m_bytesPerSector;
    if (int e = m_store->SeekData(static_cast<uint32_t>(position), static_cast<uint32_t>(position >> 32)))
        return e;
    uint32_t want = count * kSectorBytes;
    uint32_t got = 0;
    if (int e = m_store->ReadData(buffer, want, &got))
        return e;
    // A short read would leave the caller's buffer partly unfilled; it is not a success.
    return got == want ? rc::kOk : rc::kStreamEnded;
}

int PARTITION_ACCESS::resumeAt(const index::Checkpoint &checkpoint)
{
    if (int e = m_store->SeekData(static_cast<uint32_t>(checkpoint.position),
                                  static_cast<uint32_t>(checkpoint.position >> 32)))
        return e;
    if (int e = m_store->SetCheckpointOffset(checkpoint.blockOffset))
        return e;
    if (!checkpoint.decoderState.empty())
        if (int e = m_store->RestoreDecoderState(checkpoint.decoderState.data()))
            return e;
    return rc::kOk;
}

PARTITION_ACCESS::ChunkBlocks PARTITION_ACCESS::blocksBeginningIn(uint32_t firstBlock, uint64_t firstOffset,
                                                                  uint64_t length, uint32_t wanted) const
{
    // Blocks that are not stored take no bytes, so the walk jumps over them; it never goes beyond the last
    // used block, whatever the stream holds after it.
    const uint64_t end = uint64_t{m_lastUsedBlock} + 1;
    auto nextStored = [&](uint64_t k) -> uint64_t {
        if (k >= end)
            return end;
        uint32_t next = m_stateMap.NextSet(static_cast<uint32_t>(k));
        return next == index::kNoBlock || next > m_lastUsedBlock ? end : next;
    };
    ChunkBlocks walk;
    walk.next = nextStored(firstBlock);
    walk.nextOffset = firstOffset;
    while (walk.nextOffset < length && walk.next < end) {
        if (walk.next == wanted)
            walk.wantedOffset = walk.nextOffset;
        walk.nextOffset += m_blockBytes;
        walk.next = nextStored(walk.next + 1);
        walk.any = true;
    }
    return walk;
}

// Decodes the next chunk of the stream into node. The chunk begins with the tail of the block before
// firstBlock; firstBlock begins at firstOffset (which may lie beyond the chunk when a block is larger).
// When wanted begins in the chunk its offset goes to *wantedOffset. A node whose fill fails is emptied, so
// no read is ever served from a half-filled buffer.
//
// A search for wanted passes over the chunks in which it cannot begin; when the store can skip them without
// decoding, the node only records which blocks began there and where the next one begins, and holds no
// data.
int PARTITION_ACCESS::fill(PA_CACHE &node, uint32_t firstBlock, uint32_t firstOffset, uint32_t wanted,
                           bool extend, uint64_t *wantedOffset)
{
    node.empty();
    ImageStore &store = *m_store;
    std::byte *buffer = node.buffer.data();
    uint32_t got = 0;
    bool skipped = false;
    std::optional<ChunkBlocks> ahead; // the blocks of a whole fill, when worked out before reading
    if (wantedOffset && wanted >= firstBlock) {
        ahead = blocksBeginningIn(firstBlock, firstOffset, kFillBytes, wanted);
        if (ahead->wantedOffset == UINT64_MAX && ahead->next <= wanted) {
            const int e = store.SkipData(kFillBytes, &got);
            if (e != rc::kOk && e != rc::kNotSupported)
                return e;
            skipped = e == rc::kOk;
        }
    }
    if (!skipped)
        if (int e = store.ReadData(buffer, kFillBytes, &got))
            return e;
    if (got > kFillBytes)
        return rc::kBadStreamRead;
    uint32_t tailCount = 0;
    if (int e = store.GetTailByteCount(&tailCount))
        return e;
    if (tailCount > 0) {
        if (tailCount > kMaxTailBytes || got != kFillBytes || skipped)
            return rc::kBadStreamRead;
        uint32_t tail = 0;
        if (int e = store.ReadData(buffer + kFillBytes, tailCount, &tail))
            return e;
        if (tail > tailCount)
            return rc::kBadStreamRead;
        got += tail;
        if (int e = store.SetTailShortfall(tail < 4 ? 4 - tail : 0))
            return e;
    }
    if (got == 0)
        return rc::kStreamEnded;
    const uint64_t position = store.GetDataPosition();

    const ChunkBlocks walk =
        ahead && got == kFillBytes ? *ahead : blocksBeginningIn(firstBlock, firstOffset, got, wanted);
    if (wantedOffset && walk.wantedOffset != UINT64_MAX)
        *wantedOffset = walk.wantedOffset;
    node.streamPosition = position;
    if (walk.any) {
        // A skipped chunk keeps its last block for progress reports but matches no block.
        node.lastBlock = static_cast<uint32_t>(walk.next - 1);
        if (!skipped) {
            node.firstBlock = firstBlock;
            node.firstBlockOffset = firstOffset;
        }
    }
    node.validLength = skipped ? 0 : got;
    node.nextBlock = static_cast<uint32_t>(std::min<uint64_t>(walk.next, index::kNoBlock));
    node.nextBlockOffset = walk.nextOffset >= got ? static_cast<uint32_t>(walk.nextOffset - got) : 0;
    if (extend)
        if (int e = m_index.extend(node.nextBlock, node.nextBlockOffset, position, store)) {
            node.empty();
            return e;
        }
    return rc::kOk;
}

PA_CACHE *PARTITION_ACCESS::nodeStartingWith(uint32_t block, uint32_t offset) const
{
    const PaCacheRing &ring = paCacheRing();
    PA_CACHE *node = ring.head();
    for (size_t i = 0; node && i < ring.size(); ++i, node = node->next)
        if (node->firstBlock == block && node->firstBlockOffset == offset)
            return node;
    return nullptr;
}

int PARTITION_ACCESS::readCompressed(uint32_t sector, std::byte *out, uint32_t count)
{
    PaCacheRing &ring = paCacheRing();
    const uint32_t target = sector / m_sectorsPerBlock;
    const uint32_t chosen = m_index.chooseCheckpoint(target);
    const index::Checkpoint checkpoint = m_index.at(chosen);

    bool current = false;
    PA_CACHE *node = ring.lookup(target, &current);
    uint64_t blockOffset = 0;
    if (node) {
        blockOffset = node->firstBlockOffset + m_stateMap.CountSet(node->firstBlock, target) * m_blockBytes;
    } else {
        if (int e = resumeAt(checkpoint))
            return e;
        node = ring.leastRecentlyUsed();
        if (node == nullptr)
            return rc::kNoCacheNode;
        if (int e = ring.makeCurrent(node))
            return e;

        // Progress is shown only while the walk adds checkpoints at the end of the index, about once a
        // percent.
        const bool atEnd = chosen == m_index.lastIndexEntry;
        const uint32_t start = checkpoint.firstBlock;
        const uint32_t step = target > start ? (target - start) / 100 : 0;
        uint32_t threshold = start;
        bool shown = false;

        uint32_t firstBlock = checkpoint.firstBlock;
        uint32_t firstOffset = checkpoint.blockOffset;
        uint64_t wantedOffset = UINT64_MAX;
        int result = rc::kOk;
        for (;;) {
            result = fill(*node, firstBlock, firstOffset, target, true, &wantedOffset);
            if (result != 0)
                break;
            if (atEnd && m_progress && node->lastBlock != kEmptyLastBlock) {
                uint32_t b = node->lastBlock;
                if (b > threshold && b <= target) {
                    shown = true;
                    if (m_progress->ExtendIndexProgress(start, target, b) == rc::kDialogCancelled) {
                        result = rc::kCancelled;
                        break;
                    }
                    threshold = b + step;
                }
            }
            if (wantedOffset != UINT64_MAX)
                break;
            // The walk passed the block without seeing it begin: the checkpoint and the stream disagree.
            if (node->nextBlock > target) {
                node->empty();
                result = rc::kStreamEnded;
                break;
            }
            firstBlock = node->nextBlock;
            firstOffset = node->nextBlockOffset;
        }
        if (shown)
            m_progress->CloseIndexProgress();
        if (result != 0)
            return result;
        blockOffset = wantedOffset;
    }

    uint64_t pos = blockOffset + uint64_t{sector % m_sectorsPerBlock} * m_bytesPerSector;
    uint64_t want = uint64_t{count} * m_bytesPerSector;
    PA_CACHE *from = node;
    for (;;) {
        if (pos < from->validLength) {
            auto n = static_cast<size_t>(std::min<uint64_t>(from->validLength - pos, want));
            std::memcpy(out, from->buffer.data() + pos, n);
            out += n;
            want -= n;
            pos = 0;
            if (want == 0)
                return rc::kOk;
        } else {
            pos -= from->validLength;
        }
        if (int e = decodeNext(from, checkpoint))
            return e;
    }
}

// Moves from to the buffer that follows it: a cached one, or the next chunk of the stream decoded into a
// node.
int PARTITION_ACCESS::decodeNext(PA_CACHE *&from, const index::Checkpoint &checkpoint)
{
    PaCacheRing &ring = paCacheRing();
    const uint32_t nextBlock = from->nextBlock;
    const uint32_t nextOffset = from->nextBlockOffset;
    if (PA_CACHE *next = nodeStartingWith(nextBlock, nextOffset)) {
        if (!ring.isCurrent(next))
            if (int e = ring.touch(next))
                return e;
        from = next;
        return rc::kOk;
    }

    PA_CACHE *target = from;
    if (!ring.isCurrent(from)) {
        // The stream stands somewhere else: put it right behind `from` again.
        target = ring.leastRecentlyUsed();
        if (target == nullptr || target == from)
            return rc::kNoCacheNode;
        if (m_index.decoderStateSize != 0) {
            if (int e = resumeAt(checkpoint))
                return e;
            if (int e = ring.makeCurrent(target))
                return e;
            uint32_t block = checkpoint.firstBlock;
            uint32_t offset = checkpoint.blockOffset;
            for (;;) {
                if (int e = fill(*target, block, offset, kNoWantedBlock, false, nullptr))
                    return e;
                if (target->streamPosition == from->streamPosition)
                    break;
                if (target->nextBlock > from->nextBlock) {
                    target->empty();
                    return rc::kStreamEnded;
                }
                block = target->nextBlock;
                offset = target->nextBlockOffset;
            }
        } else {
            if (int e = m_store->SeekData(static_cast<uint32_t>(from->streamPosition),
                                          static_cast<uint32_t>(from->streamPosition >> 32)))
                return e;
            if (int e = m_store->SetCheckpointOffset(checkpoint.blockOffset))
                return e;
        }
        if (int e = ring.makeCurrent(target))
            return e;
    }
    if (int e = fill(*target, nextBlock, nextOffset, kNoWantedBlock, true, nullptr))
        return e;
    from = target;
    return rc::kOk;
}

// ---------------------------------------------------------------------------------------------------------
// Index files

int PARTITION_ACCESS::ReadIndexFile(const std::string &path)
{
    if (m_store == nullptr)
        return rc::kNoVolumeOpen;
    return index::ReadIndexFile(path, *m_store, m_stateMap, m_index);
}

int PARTITION_ACCESS::WriteIndexFile(const std::string &path)
{
    if (!m_open)
        return rc::kNoVolumeOpen;
    uint64_t sector = uint64_t{m_lastUsedBlock} * m_sectorsPerBlock;
    if (sector > UINT32_MAX)
        return rc::kBeyondEnd;
    std::byte scratch[kSectorBytes];
    if (int e = ReadSectors(static_cast<uint32_t>(sector), scratch, 1))
        return e;
    return index::WriteIndexFile(path, *m_store, m_index);
}

bool PARTITION_ACCESS::CheckIndexFile(const std::string &path)
{
    if (m_store == nullptr)
        return false;
    return index::CheckIndexFile(path, *m_store, m_stateMap, m_index);
}

// ---------------------------------------------------------------------------------------------------------
// File and directory operations

int PARTITION_ACCESS::OpenFile(const std::string &path, int *kind)
{
    return m_files ? m_files->openFile(path, kind) : rc::kNoVolumeOpen;
}

int PARTITION_ACCESS::OpenRecord(uint32_t recordNumber, int *kind)
{
    return m_files ? m_files->openRecord(recordNumber, kind) : rc::kNoVolumeOpen;
}

int PARTITION_ACCESS::OpenEntry(const uint8_t *rawEntry, std::unique_ptr<engine::FAT_FILE> *out)
{
    return m_files ? m_files->openEntry(rawEntry, out) : rc::kNoVolumeOpen;
}

uint32_t PARTITION_ACCESS::GetFileSize() const
{
    return m_files ? m_files->fileSize() : 0;
}

uint64_t PARTITION_ACCESS::GetFileSize64() const
{
    return m_files ? m_files->fileSize64() : 0;
}

int PARTITION_ACCESS::ReadFile(void *buffer, uint32_t count)
{
    return m_files ? m_files->readFile(buffer, count) : rc::kNoVolumeOpen;
}

int PARTITION_ACCESS::CloseFile()
{
    return m_files ? m_files->closeFile() : rc::kOk;
}

int PARTITION_ACCESS::DataStart(const uint8_t *rawEntry, uint32_t recordNumber, uint64_t *cluster)
{
    return m_files ? m_files->dataStart(rawEntry, recordNumber, cluster) : rc::kNoVolumeOpen;
}

int PARTITION_ACCESS::ResetStream()
{
    if (!m_open)
        return rc::kNoVolumeOpen;
    if (int e = m_store->ResetStream())
        return e;
    // The stream no longer stands behind any cache buffer.
    if (m_ownsCache)
        paCacheRing().streamMoved();
    return rc::kOk;
}

int PARTITION_ACCESS::ListDirectoryFrom(const std::string &path, engine::FAT_FILE *directoryFile,
                                        std::unique_ptr<engine::FAT_FILE> *openedDirectory)
{
    if (!m_open || !m_files)
        return rc::kNoVolumeOpen;
    if (int e = ResetStream())
        return e;
    m_dirList.reset(new (std::nothrow) engine::DIRLIST);
    if (!m_dirList)
        return rc::kOutOfMemory;
    m_dirList->detailsWanted = 1;
    return m_files->listDirectory(*m_dirList, path, directoryFile, openedDirectory);
}

int PARTITION_ACCESS::ListDirectory(const std::string &path, const uint8_t *rawEntry,
                                    std::unique_ptr<engine::FAT_FILE> *openedDirectory)
{
    if (FatVolume()) {
        if (int e = OpenEntry(rawEntry))
            return e;
        return ListDirectoryFrom(path, m_files->currentFatFile(), openedDirectory);
    }
    return ListDirectoryFrom(path, nullptr, openedDirectory);
}

} // namespace imbrex::restore
