#include "ChunkReader.h"

#include <algorithm>
#include <cstring>

#include "Checksum.h"
#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

constexpr size_t kReadWindow = 1 << 20;
constexpr size_t kTableRead = 1 << 20; // read at a time when the table is checked

// A page's offsets from its bytes.
void fillPage(std::span<const std::byte> bytes, std::vector<uint64_t> &offsets)
{
    offsets.resize(bytes.size() / 8);
    for (size_t i = 0; i < offsets.size(); ++i)
        offsets[i] = loadLe64(bytes, i * 8);
}
constexpr uint64_t kDecodeAheadDepth = 16; // chunks handed to the workers ahead of a reader going forward
// A stretch handed over must not push out its own first chunks.
static_assert(kDecodeAheadDepth + DecodeAhead::kMaxWorkers <= DecodeAhead::kSlots);

} // namespace

void ChunkReader::start(const PartitionRecord &p)
{
    stop();
    m_partition = p;
}

void ChunkReader::stop()
{
    // No worker may go on reading the file of a partition that is no longer read.
    m_ahead.drain();
    ++m_readGeneration;
    m_partition = PartitionRecord{};
    m_key.reset();
    m_pageChecksums.clear();
    m_pageChecksums.shrink_to_fit();
    for (TablePage &page : m_tablePages)
        page.page = UINT64_MAX;
    m_chunkTableLoaded = false;
    m_position = 0;
    m_rawChunk = 0;
    invalidateWindow();
    for (DecodedChunk &chunk : m_decodedChunks)
        chunk.index = UINT64_MAX;
    m_lastRecord = UINT64_MAX;
    m_streamAt = UINT64_MAX;
    m_aheadEnd = UINT64_MAX;
    m_decoder.resetStream();
}

int ChunkReader::ensureKey()
{
    if ((m_partition.flags & kFlagEncrypted) == 0 || m_key)
        return rc::kOk;
    m_key = findPartitionKey(m_partition);
    return m_key ? rc::kOk : rc::kWrongPassword;
}

void ChunkReader::applyKey(uint64_t index, std::span<std::byte> data) const
{
    applyKeystream(*m_key, m_partition, index, data);
}

uint64_t ChunkReader::chunkLength(uint64_t index) const
{
    uint64_t start = index * kChunkSize;
    return std::min<uint64_t>(kChunkSize, m_partition.decodedLength - start);
}

int ChunkReader::ensureChunkTable()
{
    if (m_chunkTableLoaded)
        return rc::kOk;
    const PartitionRecord &p = m_partition;
    const uint64_t length = p.chunkTable.length;
    if (length != p.chunkCount * 8)
        return rc::kDataDamaged;
    const uint64_t pageBytes = m_pageEntries * 8;
    m_pageChecksums.assign((p.chunkCount + m_pageEntries - 1) / m_pageEntries, 0);
    ChecksumStream whole;
    // Whole pages at a time.
    const uint64_t readSize = std::max<uint64_t>(kTableRead / pageBytes, 1) * pageBytes;
    std::vector<std::byte> bytes(static_cast<size_t>(std::min<uint64_t>(readSize, length)));
    for (uint64_t done = 0; done < length;) {
        auto piece =
            std::span(bytes).first(static_cast<size_t>(std::min<uint64_t>(bytes.size(), length - done)));
        size_t got = 0;
        if (int e = m_file.readAt(p.chunkTable.offset + done, piece, &got))
            return e;
        if (got != piece.size())
            return rc::kDataDamaged;
        whole.update(piece);
        for (size_t at = 0; at < piece.size(); at += pageBytes) {
            const uint64_t page = (done + at) / pageBytes;
            auto pagePiece = piece.subspan(at, std::min<size_t>(pageBytes, piece.size() - at));
            m_pageChecksums[page] = checksum(pagePiece);
            // The first pages are kept: a reader most often begins at the beginning.
            if (page < m_tablePages.size()) {
                fillPage(pagePiece, m_tablePages[page].offsets);
                m_tablePages[page].page = page;
            }
        }
        done += piece.size();
    }
    if (whole.digest() != p.chunkTable.checksum) {
        for (TablePage &page : m_tablePages)
            page.page = UINT64_MAX;
        return rc::kDataDamaged;
    }
    m_chunkTableLoaded = true;
    return rc::kOk;
}

int ChunkReader::chunkOffset(uint64_t index, uint64_t *out)
{
    const uint64_t page = index / m_pageEntries;
    TablePage *slot = &m_tablePages[m_lastPage];
    if (slot->page != page) {
        slot = nullptr;
        for (size_t i = 0; i < m_tablePages.size() && !slot; ++i)
            if (m_tablePages[i].page == page) {
                m_lastPage = i;
                slot = &m_tablePages[i];
            }
    }
    if (!slot) {
        slot = &m_tablePages[0];
        for (TablePage &candidate : m_tablePages)
            if (candidate.stamp < slot->stamp)
                slot = &candidate;
        slot->page = UINT64_MAX;
        const uint64_t start = page * m_pageEntries * 8;
        std::vector<std::byte> bytes(static_cast<size_t>(
            std::min<uint64_t>(m_pageEntries * 8, m_partition.chunkTable.length - start)));
        size_t got = 0;
        if (int e = m_file.readAt(m_partition.chunkTable.offset + start, bytes, &got))
            return e;
        if (got != bytes.size() || checksum(bytes) != m_pageChecksums[page])
            return rc::kDataDamaged;
        fillPage(bytes, slot->offsets);
        slot->page = page;
        m_lastPage = static_cast<size_t>(slot - m_tablePages.data());
    }
    slot->stamp = ++m_tableClock;
    *out = slot->offsets[index % m_pageEntries];
    return rc::kOk;
}

RecordExpectation ChunkReader::expectedRecord(uint64_t index) const
{
    const PartitionRecord &p = m_partition;
    RecordExpectation expected;
    expected.index = index;
    expected.decodedLength = static_cast<uint32_t>(chunkLength(index));
    expected.compressionCode = p.compression;
    expected.encrypted = (p.flags & kFlagEncrypted) != 0;
    return expected;
}

int ChunkReader::fillWindow(uint64_t index, bool sequential, size_t minimum)
{
    // Records of a partition lie one after another, so a reader going forward gets more of them read ahead
    // the longer it goes on; a reader that jumps about gets just the record it asked for. The chunk table
    // tells where the records end; where it cannot (the last record, records not in order) the largest a
    // record can be is read.
    if (!m_window)
        m_window = std::make_unique_for_overwrite<std::byte[]>(kReadWindow);
    uint64_t offset = 0;
    if (int e = chunkOffset(index, &offset))
        return e;
    const uint64_t count = m_partition.chunkCount;
    const uint64_t records = sequential ? uint64_t{1} + m_forwardRecords : 1;
    const uint64_t end = std::min<uint64_t>(index + records, count);
    size_t want = std::min<size_t>(kReadWindow, kMaxChunkRecord * records);
    uint64_t endOffset = 0;
    if (end < count && chunkOffset(end, &endOffset) == 0 && endOffset > offset && endOffset - offset <= want)
        want = static_cast<size_t>(endOffset - offset);
    want = std::clamp(want, std::min(minimum, kReadWindow), kReadWindow);
    size_t got = 0;
    invalidateWindow();
    if (int e = m_file.readAt(offset, std::span(m_window.get(), want), &got))
        return e;
    m_windowLength = got;
    m_windowBase = offset;
    return rc::kOk;
}

void ChunkReader::invalidateWindow()
{
    m_windowBase = UINT64_MAX;
    m_windowLength = 0;
    m_checkedRecord = UINT64_MAX;
}

bool ChunkReader::inWindow(uint64_t offset, size_t length) const
{
    return m_windowBase != UINT64_MAX && offset >= m_windowBase && offset - m_windowBase <= m_windowLength &&
           length <= m_windowLength - (offset - m_windowBase);
}

int ChunkReader::readRecord(uint64_t index, ChunkHeader *header)
{
    // The look-ahead reads a record and the reader asks for it again: it was checked then.
    if (index == m_checkedRecord) {
        *header = m_checkedHeader;
        return rc::kOk;
    }
    m_checkedRecord = UINT64_MAX;
    uint64_t offset = 0;
    if (int e = chunkOffset(index, &offset))
        return e;
    bool sequential = index == m_lastRecord + 1;
    m_forwardRecords = sequential ? std::min<uint32_t>(m_forwardRecords + 1, 1024) : 0;
    m_lastRecord = index;
    if (!inWindow(offset, kChunkHeaderSize))
        if (int e = fillWindow(index, sequential, kChunkHeaderSize))
            return e;
    if (!inWindow(offset, kChunkHeaderSize))
        return rc::kDataDamaged;
    auto window = std::span<const std::byte>(m_window.get(), m_windowLength);
    auto at = static_cast<size_t>(offset - m_windowBase);
    ChunkHeader h;
    if (int e = parseChunkHeader(window.subspan(at), &h))
        return e;
    if (!inWindow(offset, kChunkHeaderSize + h.payloadLength)) {
        if (int e = fillWindow(index, sequential, kChunkHeaderSize + h.payloadLength))
            return e;
        window = std::span<const std::byte>(m_window.get(), m_windowLength);
        at = 0;
        if (!inWindow(offset, kChunkHeaderSize + h.payloadLength))
            return rc::kDataDamaged;
    }
    if (int e = checkChunkRecord(window.subspan(at), expectedRecord(index), &h, &m_recordBytes))
        return e;
    m_checkedRecord = index;
    m_checkedHeader = h;
    *header = h;
    return rc::kOk;
}

int ChunkReader::decodeChunk(uint64_t index, std::vector<std::byte> &out)
{
    // The record is checked against the chunk's length from the catalog, so that length is what it decodes
    // to.
    out.resize(chunkLength(index));
    return decodeChunkInto(index, out);
}

int ChunkReader::decodeChunkInto(uint64_t index, std::span<std::byte> out)
{
    ChunkHeader h;
    if (int e = readRecord(index, &h))
        return e;
    if (h.decodedLength != out.size())
        return rc::kDataDamaged;
    std::span<const std::byte> payload = m_recordBytes.subspan(kChunkHeaderSize);
    if (h.codec & kCodecEncrypted) {
        m_payload.assign(payload.begin(), payload.end());
        applyKey(index, m_payload);
        payload = m_payload;
    }
    return m_decoder.decode(h.codec & kCodecMask, index, payload, out);
}

ChunkReader::DecodedChunk *ChunkReader::cachedChunk(uint64_t index)
{
    // Small reads come many to a chunk: the one found last is looked at before all 256 are.
    if (m_decodedChunks[m_lastFound].index == index)
        return &m_decodedChunks[m_lastFound];
    for (size_t i = 0; i < m_decodedChunks.size(); ++i)
        if (m_decodedChunks[i].index == index) {
            m_lastFound = i;
            return &m_decodedChunks[i];
        }
    return nullptr;
}

bool ChunkReader::legacyStream() const
{
    return familyOf(m_partition.compression) == CompressionFamily::Legacy;
}

bool ChunkReader::plainPartition() const
{
    return familyOf(m_partition.compression) == CompressionFamily::None &&
           !(m_partition.flags & kFlagEncrypted);
}

bool ChunkReader::storedAsIs(uint64_t index)
{
    uint64_t offset = 0, next = 0;
    return index + 1 < m_partition.chunkCount && chunkOffset(index, &offset) == rc::kOk &&
           chunkOffset(index + 1, &next) == rc::kOk && next > offset &&
           next - offset == kChunkHeaderSize + chunkLength(index);
}

bool ChunkReader::plainInWindow(uint64_t index, std::span<const std::byte> *out)
{
    // A reader going forward through plain chunks takes their bytes from the read window, where they were
    // checked, instead of from a copy among the decoded chunks; one that jumps here may come back, and gets
    // the chunk kept. A record that cannot be read here is left to the decoded chunks' path, which reports
    // it.
    if (index != m_checkedRecord) {
        if (index != m_streamAt + 1 || cachedChunk(index))
            return false;
        ChunkHeader h;
        if (readRecord(index, &h) != rc::kOk)
            return false;
    }
    if (m_checkedHeader.codec != kCodecPlain)
        return false;
    *out = m_recordBytes.subspan(kChunkHeaderSize);
    return out->size() == chunkLength(index);
}

ChunkReader::DecodedChunk *ChunkReader::leastRecentChunk()
{
    DecodedChunk *slot = &m_decodedChunks[0];
    for (DecodedChunk &chunk : m_decodedChunks)
        if (chunk.stamp < slot->stamp)
            slot = &chunk;
    slot->index = UINT64_MAX;
    return slot;
}

void ChunkReader::collectDecodedAhead()
{
    // What the worker decoded on speculation is kept like any chunk: the reader may come back to it later.
    for (;;) {
        DecodedChunk *slot = leastRecentChunk();
        uint64_t index = 0;
        if (!m_ahead.takeAnyDone(m_readGeneration, &index, slot->bytes))
            return;
        if (cachedChunk(index))
            continue;
        slot->index = index;
        slot->stamp = ++m_decodedClock;
    }
}

int ChunkReader::decodeIntoCache(uint64_t index, DecodedChunk **out)
{
    DecodedChunk *slot = leastRecentChunk();
    if (!m_ahead.take(m_readGeneration, index, slot->bytes, m_decoder))
        if (int e = decodeChunk(index, slot->bytes))
            return e;
    slot->index = index;
    slot->stamp = ++m_decodedClock;
    *out = slot;
    return rc::kOk;
}

bool ChunkReader::useCached(uint64_t index, const std::vector<std::byte> **out)
{
    DecodedChunk *chunk = cachedChunk(index);
    if (chunk == nullptr)
        return false;
    chunk->stamp = ++m_decodedClock;
    *out = &chunk->bytes;
    return true;
}

int ChunkReader::ensureDecoded(uint64_t index, const std::vector<std::byte> **out)
{
    // 256 decoded chunks (16 MiB) are kept: readers of a volume go back and forth between its tables and its
    // data, and files restored in name order lie all over the volume.
    if (useCached(index, out)) {
        noteChunkUsed(index, false);
        return rc::kOk;
    }
    if (int e = ensureKey())
        return e;
    if (legacyStream()) {
        // One stream from the start: going back means decoding again from chunk 0.
        if (index < m_decoder.nextStreamChunk())
            m_decoder.resetStream();
        DecodedChunk *scratch = leastRecentChunk();
        for (uint64_t i = m_decoder.nextStreamChunk(); i < index; ++i)
            if (int e = decodeChunk(i, scratch->bytes))
                return e;
    } else {
        collectDecodedAhead();
        if (useCached(index, out)) {
            noteChunkUsed(index, false);
            return rc::kOk;
        }
    }
    DecodedChunk *slot = nullptr;
    if (int e = decodeIntoCache(index, &slot))
        return e;
    *out = &slot->bytes;
    noteChunkUsed(index, true);
    return rc::kOk;
}

int ChunkReader::readWholeChunk(uint64_t index, std::span<std::byte> out)
{
    // A reader taking whole chunks in a row (a file's data, a partition read out in one go) seldom comes back
    // to them, so they go straight into its buffer: a plain chunk is checked in the read window and copied
    // once, a compressed one is decoded where it is wanted or taken from the workers. What the workers
    // decoded is not moved among the decoded chunks on the way, which would push out the tables that a
    // volume's reader goes back to and touch 16 MiB of memory for nothing. A whole chunk reached by a jump is
    // kept, though: it is most often a small file's, among others that the reader takes one by one in an
    // order of its own, several to a chunk.
    if (int e = ensureKey())
        return e;
    const std::vector<std::byte> *cached = nullptr;
    if (useCached(index, &cached)) {
        if (cached->size() != out.size())
            return rc::kDataDamaged;
        std::memcpy(out.data(), cached->data(), out.size());
        noteChunkUsed(index, false);
        return rc::kOk;
    }
    if (index != m_streamAt + 1 && !plainPartition()) {
        DecodedChunk *kept = nullptr;
        if (int e = decodeIntoCache(index, &kept))
            return e;
        if (kept->bytes.size() != out.size())
            return rc::kDataDamaged;
        std::memcpy(out.data(), kept->bytes.data(), out.size());
    } else if (m_ahead.take(m_readGeneration, index, m_aheadBytes, m_decoder) &&
               m_aheadBytes.size() == out.size()) {
        std::memcpy(out.data(), m_aheadBytes.data(), out.size());
    } else if (int e = decodeChunkInto(index, out)) {
        return e;
    }
    noteChunkUsed(index, true);
    return rc::kOk;
}

void ChunkReader::noteChunkUsed(uint64_t index, bool missed)
{
    // A reader that takes the chunk after the one it took last (from the decoded chunks or not) is reading a
    // long stretch: the workers are kept kDecodeAheadDepth chunks in front of it, in one request, so that
    // they take its chunks in order and each step hands over only the chunk that comes into reach. A volume's
    // reader going back to its tables in between finds them among the decoded chunks and leaves the stretch
    // as it is. Whatever else it missed, it most often reads on from there: the chunk after is started.
    const bool forward = index == m_streamAt + 1;
    if (!forward && !missed)
        return;
    m_streamAt = index;
    if (legacyStream() || plainPartition())
        return;
    if (!forward || m_aheadEnd == UINT64_MAX || m_aheadEnd < index) {
        ++m_aheadRequest;
        m_aheadEnd = index;
    }
    const uint64_t last = index + (forward ? kDecodeAheadDepth : 1);
    for (; m_aheadEnd < last; ++m_aheadEnd)
        decodeAhead(m_aheadEnd + 1);
}

void ChunkReader::decodeAhead(uint64_t index)
{
    const PartitionRecord &p = m_partition;
    if (index >= p.chunkCount || m_ahead.renew(m_readGeneration, index, m_aheadRequest) || cachedChunk(index))
        return;
    // Plain chunks cost no more to copy on this thread than to hand over, and the reader's window reads them
    // in larger pieces than a worker would.
    if (!(p.flags & kFlagEncrypted) && storedAsIs(index))
        return;
    DecodeAhead::Job job;
    job.generation = m_readGeneration;
    job.request = m_aheadRequest;
    job.index = index;
    job.decodedLength = static_cast<uint32_t>(chunkLength(index));
    if (p.flags & kFlagEncrypted) {
        if (!m_key)
            return;
        job.key = m_key;
        job.salt = saltOf(p);
    }
    // Where the chunk table tells the record's length and the record lies in the first file, the worker
    // reads it itself; otherwise (other parts of a set may have to be asked for) it is read here.
    uint64_t offset = 0, next = 0;
    if (chunkOffset(index, &offset) != 0)
        return;
    if (index + 1 < p.chunkCount && chunkOffset(index + 1, &next) != 0)
        next = 0;
    if (next > offset && next - offset <= kMaxChunkRecord) {
        job.recordBytes = static_cast<uint32_t>(next - offset);
        job.file = m_file.firstPartHolding(offset, job.recordBytes, &job.fileOffset);
        if (job.file) {
            job.expected = expectedRecord(index);
            m_ahead.start(job, {});
            return;
        }
    }
    // A record that cannot be read or checked is left to the reader, who will report it.
    ChunkHeader h;
    if (readRecord(index, &h) != rc::kOk)
        return;
    if ((h.codec & kCodecMask) == kCodecPlain && !(h.codec & kCodecEncrypted))
        return;
    job.codec = h.codec & kCodecMask;
    m_ahead.start(job, m_recordBytes.subspan(kChunkHeaderSize));
}

int ChunkReader::seek(uint64_t position)
{
    if (position > m_partition.decodedLength)
        return rc::kInvalidArgument;
    m_position = position;
    return rc::kOk;
}

int ChunkReader::read(std::byte *out, uint32_t size, uint32_t *bytesRead)
{
    if (int e = ensureChunkTable())
        return e;
    const PartitionRecord &p = m_partition;
    uint32_t done = 0;
    const bool legacy = legacyStream();
    const bool plain = plainPartition();
    const bool unencrypted = !(p.flags & kFlagEncrypted);
    while (done < size && m_position < p.decodedLength) {
        uint64_t index = m_position / kChunkSize;
        const uint64_t length = chunkLength(index);
        if (!legacy && m_position % kChunkSize == 0 && size - done >= length) {
            if (int e = readWholeChunk(index, std::span(out + done, static_cast<size_t>(length))))
                return e;
            done += static_cast<uint32_t>(length);
            m_position += length;
            continue;
        }
        std::span<const std::byte> bytes;
        const bool inWindow =
            (plain || (unencrypted && !legacy && storedAsIs(index))) && plainInWindow(index, &bytes);
        if (!inWindow) {
            const std::vector<std::byte> *decoded = nullptr;
            if (int e = ensureDecoded(index, &decoded))
                return e;
            bytes = *decoded;
        }
        auto offset = static_cast<size_t>(m_position % kChunkSize);
        size_t n = std::min<size_t>(size - done, bytes.size() - offset);
        std::memcpy(out + done, bytes.data() + offset, n);
        // Only now: handing chunks ahead may read records into the window that bytes points into.
        if (inWindow)
            noteChunkUsed(index, false);
        done += static_cast<uint32_t>(n);
        m_position += n;
    }
    *bytesRead = done;
    return rc::kOk;
}

// Chunks decode independently and their decoded lengths are known from the catalog, so bytes that a reader
// passes over are never decoded.
int ChunkReader::skip(uint32_t size, uint32_t *skipped)
{
    if (legacyStream())
        return rc::kNotSupported;
    const uint64_t length = m_partition.decodedLength;
    const uint64_t n = std::min<uint64_t>(size, length - std::min(m_position, length));
    m_position += n;
    *skipped = static_cast<uint32_t>(n);
    return rc::kOk;
}

int ChunkReader::readRaw(std::byte *out, uint32_t size, uint32_t *bytesRead)
{
    if (int e = ensureChunkTable())
        return e;
    size_t done = 0;
    while (m_rawChunk < m_partition.chunkCount) {
        ChunkHeader h;
        if (int e = readRecord(m_rawChunk, &h))
            return e;
        size_t length = kChunkHeaderSize + h.payloadLength;
        if (size - done < length)
            break;
        std::memcpy(out + done, m_recordBytes.data(), length);
        done += length;
        ++m_rawChunk;
    }
    if (done == 0 && m_rawChunk < m_partition.chunkCount)
        return rc::kInvalidArgument; // smaller than one record
    *bytesRead = static_cast<uint32_t>(done);
    return rc::kOk;
}

int ChunkReader::readRawRun(uint32_t size, uint64_t *address, std::span<const std::byte> *bytes)
{
    if (int e = ensureChunkTable())
        return e;
    *bytes = {};
    if (m_rawChunk >= m_partition.chunkCount)
        return rc::kOk;
    ChunkHeader h;
    if (int e = readRecord(m_rawChunk, &h))
        return e;
    uint64_t start = 0;
    if (int e = chunkOffset(m_rawChunk, &start))
        return e;
    const std::byte *first = m_recordBytes.data();
    size_t length = m_recordBytes.size();
    if (length > size)
        return rc::kInvalidArgument; // smaller than one record
    uint64_t next = m_rawChunk + 1;
    // Each further record must follow the run in the file and lie wholly in the window as it is, so that
    // reading it moves nothing the run points at.
    while (next < m_partition.chunkCount) {
        uint64_t offset = 0;
        if (chunkOffset(next, &offset) != 0 || offset != start + length ||
            !inWindow(offset, kChunkHeaderSize))
            break;
        const auto at = static_cast<size_t>(offset - m_windowBase);
        if (parseChunkHeader(std::span<const std::byte>(m_window.get() + at, kChunkHeaderSize), &h) != 0)
            break; // reported when the next run begins with it
        const size_t recordLength = kChunkHeaderSize + h.payloadLength;
        if (!inWindow(offset, recordLength) || size - length < recordLength)
            break;
        if (int e = readRecord(next, &h))
            return e;
        length += recordLength;
        ++next;
    }
    m_rawChunk = next;
    *address = start;
    *bytes = std::span<const std::byte>(first, length);
    return rc::kOk;
}

void ChunkReader::rewind()
{
    m_position = 0;
    m_rawChunk = 0;
}

} // namespace imbrex::zbi
