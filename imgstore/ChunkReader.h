// The data stream of one stored partition, read chunk by chunk.
//
// Every chunk record is checked before its bytes are used: its header, the chunk it names, its length and its
// checksum. Records are read through a window that grows while the reader goes forward; the last 256 decoded
// chunks (16 MiB) are kept, since readers of a volume go back and forth between its tables and its data; and
// while a reader goes forward, the chunks it will want next are decoded ahead on worker threads. Whole chunks
// that a caller takes one after another in one read each go straight into its buffer instead of through the
// kept ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ChunkCodec.h"
#include "DecodeAhead.h"
#include "ImageFile.h"
#include "Keyring.h"
#include "ZbiFormat.h"

namespace imbrex::zbi {

class ChunkReader
{
public:
    // The chunk table is kept in pages of pageEntries records, keptPages of them at a time.
    explicit ChunkReader(ImageFile &file, uint64_t pageEntries = 8192, size_t keptPages = 16)
        : m_file(file), m_pageEntries(pageEntries), m_tablePages(keptPages)
    {
    }
    ChunkReader(const ChunkReader &) = delete;
    ChunkReader &operator=(const ChunkReader &) = delete;

    // Starts reading partition p from the beginning of its stream; everything read before is dropped.
    void start(const PartitionRecord &p);
    // Drops everything read, and waits until no worker reads the file any more.
    void stop();

    // The key of a protected partition, found once; kWrongPassword when no remembered text opens it.
    int ensureKey();
    // Decrypts data with the partition's key (ensureKey succeeded).
    void applyKey(uint64_t index, std::span<std::byte> data) const;

    // The decoded stream: positions are byte offsets into the used blocks in block order.
    int seek(uint64_t position);
    int read(std::byte *out, uint32_t size, uint32_t *bytesRead);
    // Moves on by up to size bytes without decoding them; kNotSupported for the legacy stream.
    int skip(uint32_t size, uint32_t *skipped);
    uint64_t position() const { return m_position; }

    // The stored form: whole records, as many as fit in size, from the raw position on.
    int readRaw(std::byte *out, uint32_t size, uint32_t *bytesRead);
    // The same records where they lie: the longest run from the raw position on that lies in one piece in the
    // file, is at most size bytes and fits in the read window, checked as readRaw checks them. *address is
    // where the run begins in the image, *bytes the run as read (empty at the end of the stream).
    int readRawRun(uint32_t size, uint64_t *address, std::span<const std::byte> *bytes);
    // Both positions back to the beginning.
    void rewind();

private:
    struct DecodedChunk
    {
        uint64_t index = UINT64_MAX;
        uint64_t stamp = 0;
        std::vector<std::byte> bytes;
    };

    // Checks the chunk table once, whole, and keeps a checksum of each of its pages and the first pages.
    int ensureChunkTable();
    // Where record index lies in the image, from the page of the table that holds it.
    int chunkOffset(uint64_t index, uint64_t *out);
    uint64_t chunkLength(uint64_t index) const;
    // What record index must be.
    RecordExpectation expectedRecord(uint64_t index) const;
    // Reads from record index on, at least minimum bytes.
    int fillWindow(uint64_t index, bool sequential, size_t minimum);
    void invalidateWindow();
    bool inWindow(uint64_t offset, size_t length) const;
    int readRecord(uint64_t index, ChunkHeader *header);
    int decodeChunk(uint64_t index, std::vector<std::byte> &out);
    // out is the chunk's decoded length.
    int decodeChunkInto(uint64_t index, std::span<std::byte> out);
    // Chunk index into out, which is its decoded length, leaving the decoded chunks as they are.
    int readWholeChunk(uint64_t index, std::span<std::byte> out);
    // After the reader took chunk index, missed among the decoded chunks or not: hands the chunks it will
    // want next to the workers.
    void noteChunkUsed(uint64_t index, bool missed);
    int ensureDecoded(uint64_t index, const std::vector<std::byte> **out);
    DecodedChunk *cachedChunk(uint64_t index);
    // A partition stored as one stream from its beginning, which cannot be read from any chunk on.
    bool legacyStream() const;
    // A partition whose chunks are all stored as they are, with nothing to decode or decrypt.
    bool plainPartition() const;
    // Whether the chunk table gives record index the length of a header and the chunk's bytes as they are,
    // as a chunk that would not compress is stored. Only a hint: a compressed payload may happen to have that
    // length too, and is then decoded as any other.
    bool storedAsIs(uint64_t index);
    // The checked bytes of plain chunk index in the read window, when a reader going forward reaches it.
    bool plainInWindow(uint64_t index, std::span<const std::byte> *out);
    // A cached chunk's bytes into *out, marked as used now; false when index is not cached.
    bool useCached(uint64_t index, const std::vector<std::byte> **out);
    // Emptied for reuse.
    DecodedChunk *leastRecentChunk();
    void collectDecodedAhead();
    // Into the least recently used slot, from the worker when it has the chunk.
    int decodeIntoCache(uint64_t index, DecodedChunk **out);
    // Hands chunk index to the worker as part of the newest request.
    void decodeAhead(uint64_t index);

    ImageFile &m_file;
    // A copy: the catalog it came from may be replaced while the partition stays selected.
    PartitionRecord m_partition;
    std::optional<PartitionKey> m_key;
    // The chunk table, in pages (by default of 8192 records, 64 KiB; 16 of them, 1 MiB, for 8 GiB of
    // partition), so that a reader's memory does not grow with the partition: a page read again is checked
    // against the checksum taken of it when the whole table was.
    struct TablePage
    {
        uint64_t page = UINT64_MAX;
        uint64_t stamp = 0;
        std::vector<uint64_t> offsets;
    };
    const uint64_t m_pageEntries;
    std::vector<uint64_t> m_pageChecksums;
    std::vector<TablePage> m_tablePages;
    uint64_t m_tableClock = 0;
    size_t m_lastPage = 0; // the slot chunkOffset found last
    bool m_chunkTableLoaded = false;
    uint64_t m_position = 0;
    uint64_t m_rawChunk = 0;

    std::unique_ptr<std::byte[]> m_window; // file bytes from m_windowBase on, read ahead for the records
    size_t m_windowLength = 0;
    uint64_t m_windowBase = UINT64_MAX;
    uint32_t m_forwardRecords = 0;            // records read one after another, to size the read ahead
    std::span<const std::byte> m_recordBytes; // the record readRecord checked last, inside m_window
    uint64_t m_checkedRecord = UINT64_MAX;    // its index while m_recordBytes still holds it
    ChunkHeader m_checkedHeader;
    uint64_t m_lastRecord = UINT64_MAX; // the record read last, to tell forward reading from jumps

    std::array<DecodedChunk, 256> m_decodedChunks; // 16 MiB
    uint64_t m_decodedClock = 0;
    size_t m_lastFound = 0;           // the decoded chunk cachedChunk found last
    uint64_t m_readGeneration = 0;    // changes whenever what the decoded chunks belong to changes
    uint64_t m_aheadRequest = 0;      // counts the reader's requests to the worker
    uint64_t m_streamAt = UINT64_MAX; // the last chunk of the stretch read forward, to tell it from jumps
    uint64_t m_aheadEnd = UINT64_MAX; // the last chunk handed to the workers in the current stretch
    DecodeAhead m_ahead;
    std::vector<std::byte> m_aheadBytes; // a chunk taken from the workers on its way to the caller
    ChunkDecoder m_decoder;
    std::vector<std::byte> m_payload; // a decrypted payload
};

} // namespace imbrex::zbi
