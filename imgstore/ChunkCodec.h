// How a partition's compression code turns into the encoding of its chunks.
//
//   code 0                          plain chunks
//   codes 100-105, 300-305 ("Low")  each chunk compressed on its own with zstd level kLowLevel
//   codes 200-209 ("High")          each chunk compressed on its own with zstd level kHighLevel
//   codes 1-8 (legacy)              one deflate stream over the whole partition, flushed at every chunk end;
//                                   a chunk can only be decoded after every chunk before it
//
// The levels were chosen by measurement (bench/compression-levels.sh): on a mixed volume, level 1 keeps pace
// with the disk, and level 9 stores clearly less while still compressing far above 15 MB/s on one core;
// higher levels buy little more on 64 KiB chunks at a steep cost in speed. A chunk that a codec cannot make
// smaller is stored plain (except in the legacy stream, which must stay unbroken).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ZbiFormat.h"

namespace imbrex::zbi {

enum class CompressionFamily
{
    None,
    Low,
    High,
    Legacy,
    Unsupported,
};

CompressionFamily familyOf(uint32_t compressionCode);

inline constexpr int kLowLevel = 1;
inline constexpr int kHighLevel = 9;

// The codec id in a chunk record's codec field (bits 0-7); bit 8 marks an encrypted payload.
inline constexpr uint32_t kCodecPlain = 0;
inline constexpr uint32_t kCodecZstd = 1;
inline constexpr uint32_t kCodecDeflateStream = 2;
inline constexpr uint32_t kCodecMask = 0xFF;
inline constexpr uint32_t kCodecEncrypted = 0x100;

// True when a chunk with this codec id may appear in a partition of this family.
bool codecAllowed(CompressionFamily family, uint32_t codecId);
// Whether a record's codec (id and encryption bit) fits a partition stored with compressionCode.
bool codecFitsPartition(uint32_t codec, uint32_t compressionCode, bool encrypted);

// What a chunk record read from the file must be to be decoded as chunk index of its partition.
struct RecordExpectation
{
    uint64_t index = 0;
    uint32_t decodedLength = 0;
    uint32_t compressionCode = 0;
    bool encrypted = false;
};
// Checks the record at the start of bytes: its header, the chunk it names, its decoded length, a codec the
// partition allows, a payload wholly within bytes and the checksum. 0 with *header and *record (the record's
// bytes within bytes), or the error a damaged record gets.
int checkChunkRecord(std::span<const std::byte> bytes, const RecordExpectation &expected, ChunkHeader *header,
                     std::span<const std::byte> *record);

// Encodes the chunks of one partition, in order.
class ChunkEncoder
{
public:
    explicit ChunkEncoder(uint32_t compressionCode);
    ~ChunkEncoder();
    ChunkEncoder(const ChunkEncoder &) = delete;
    ChunkEncoder &operator=(const ChunkEncoder &) = delete;

    // Encodes plain into payload; *codecId tells how. The legacy stream needs last set on the final chunk.
    int encode(std::span<const std::byte> plain, bool last, std::vector<std::byte> &payload,
               uint32_t *codecId);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Decodes chunks; plain and zstd chunks in any order, the legacy stream only in order from chunk 0.
class ChunkDecoder
{
public:
    ChunkDecoder();
    ~ChunkDecoder();
    ChunkDecoder(const ChunkDecoder &) = delete;
    ChunkDecoder &operator=(const ChunkDecoder &) = delete;

    // Decodes chunk index into out, whose size is the chunk's decoded length.
    int decode(uint32_t codecId, uint64_t index, std::span<const std::byte> payload,
               std::span<std::byte> out);
    // The next chunk the legacy stream can decode without starting over.
    uint64_t nextStreamChunk() const;
    void resetStream();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace imbrex::zbi
