// The on-disk structures of an image file, version 1. docs/image-format.md describes the layout; the
// constants here are its offsets and limits. Every parse() checks what it reads and returns a result code, so
// a damaged or hostile file turns into an error, never into a crash or a wild allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace imbrex::zbi {

inline constexpr uint16_t kFormatVersion = 1;

// Two superblock slots at the start of the file; the valid one with the higher generation whose catalog reads
// is current.
inline constexpr size_t kSuperblockSize = 512;
inline constexpr uint64_t kSuperblockOffset[2] = {0, 512};
// Nothing but superblocks lives below this offset.
inline constexpr uint64_t kDataStart = 4096;
// Superblock::flags. A writer that sets kSuperblockMirrored puts every generation into both slots, one after
// the other, so a slot that cannot be read never hides a committed generation; images without it hold each
// generation in one slot only.
inline constexpr uint32_t kSuperblockMirrored = 1;

// Data streams are cut into chunks of this many decoded bytes (the last one may be shorter).
inline constexpr uint32_t kChunkSize = 65536;
inline constexpr size_t kChunkHeaderSize = 32;
// The largest payload a chunk record may carry: a chunk plus the few bytes a stream codec may add to data it
// cannot compress.
inline constexpr uint32_t kMaxChunkPayload = kChunkSize + 1024;
inline constexpr size_t kMaxChunkRecord = kChunkHeaderSize + kMaxChunkPayload;

inline constexpr size_t kBitmapHeaderSize = 48;
inline constexpr size_t kSaltSize = 16;
inline constexpr size_t kKeyCheckBytes = 16;

// PartitionRecord::flags and BitmapHeader::flags
inline constexpr uint32_t kFlagEncrypted = 1;

inline constexpr size_t kMaxImageName = 99;
inline constexpr size_t kMaxImageComment = 399;
inline constexpr size_t kMaxPartitionName = 99;
inline constexpr size_t kMaxPartitionComment = 255;
inline constexpr uint32_t kMaxPartitions = 4096;
inline constexpr uint32_t kMaxCatalogSize = 64u << 20;
inline constexpr uint32_t kSectorSize = 512;

struct Superblock
{
    uint16_t version = kFormatVersion;
    uint32_t imageId = 0;
    uint64_t generation = 0;
    uint64_t catalogOffset = 0;
    uint32_t catalogLength = 0;
    uint64_t catalogChecksum = 0;
    uint64_t dataEnd = kDataStart;
    uint32_t splitSize = 0; // 0: a single file
    uint32_t flags = 0;
};

enum class SlotState
{
    Valid,
    Empty,   // no image signature at all
    Damaged, // signature present, checksum wrong
    TooNew,  // a valid slot written by a newer format version
};

// A damaged slot's fields are still handed out, unverified: its generation is the best guess there is of
// which state the slot held.

std::vector<std::byte> encodeSuperblock(const Superblock &sb);
SlotState parseSuperblock(std::span<const std::byte> bytes, Superblock *out);

// A run of bytes in the file with its checksum.
struct Blob
{
    uint64_t offset = 0;
    uint32_t length = 0;
    uint64_t checksum = 0;
};

struct Extent
{
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct PartitionRecord
{
    uint32_t typeId = 0;
    uint32_t fileSystemType = 0;
    uint32_t sectorCount = 0;
    uint32_t sectorSize = kSectorSize;
    uint32_t sectorsPerBlock = 0;
    uint32_t blockCount = 0;
    uint32_t usedBlockCount = 0;
    uint32_t lastUsedBlock = 0;
    uint8_t driveLetter = 0;
    uint32_t kind = 0;
    uint16_t year = 0, month = 0, day = 0;
    uint32_t attributeA = 0, attributeB = 0, attributeC = 0, attributeD = 0;
    uint32_t compression = 0;
    uint32_t password = 0;
    uint32_t flags = 0;
    std::byte salt[kSaltSize] = {};
    std::byte keyCheck[kKeyCheckBytes] = {};
    std::string name;
    std::string comment;
    Blob bitmap;     // stored bitmap form (header + bits)
    Blob chunkTable; // u64 file offset of each chunk record
    uint64_t decodedLength = 0;
    uint64_t chunkCount = 0;
    uint64_t storedSize = 0;     // bytes of chunk records
    std::vector<Extent> extents; // where the chunk records lie

    // Bytes of the data stream the geometry promises: every used block in full.
    uint64_t expectedDecodedLength() const
    {
        return static_cast<uint64_t>(usedBlockCount) * sectorsPerBlock * sectorSize;
    }
};

struct Catalog
{
    uint32_t imageId = 0;
    std::string name;
    std::string comment;
    std::vector<PartitionRecord> partitions;
};

std::vector<std::byte> encodeCatalog(const Catalog &catalog);
// Parses and validates a catalog: geometry, lengths and extents must be consistent and lie below fileSize.
int parseCatalog(std::span<const std::byte> bytes, uint64_t fileSize, Catalog *out);

// Chunk records: the unit of the stored data stream, and of the raw form that copies move.
struct ChunkHeader
{
    uint32_t codec = 0; // compression code the payload is encoded with; 0 = plain
    uint32_t payloadLength = 0;
    uint32_t decodedLength = 0;
    uint64_t index = 0;
    uint64_t checksum = 0;
};

// Encodes a header for payload, computing its checksum.
void encodeChunkHeader(ChunkHeader header, std::span<const std::byte> payload, std::span<std::byte> out);
// Checks a header's signature and limits; the checksum is verified by verifyChunk.
int parseChunkHeader(std::span<const std::byte> bytes, ChunkHeader *out);
bool verifyChunk(std::span<const std::byte> headerBytes, std::span<const std::byte> payload,
                 uint64_t expected);

// The stored form of a block bitmap: a header, then the bitmap bytes.
struct BitmapHeader
{
    uint32_t flags = 0;
    uint32_t bitmapLength = 0;
    std::byte salt[kSaltSize] = {};
    std::byte keyCheck[kKeyCheckBytes] = {};
};
std::vector<std::byte> encodeBitmap(const BitmapHeader &header, std::span<const std::byte> bits);
int parseBitmap(std::span<const std::byte> stored, BitmapHeader *header, std::span<const std::byte> *bits);
// Checks a partition's stored bitmap read from the file: its checksum, its header, and that length,
// encryption, salt and key check agree with the partition's record. 0 with *bits (still encrypted when the
// partition is protected), or 1902.
int checkStoredBitmap(const PartitionRecord &p, std::span<const std::byte> stored,
                      std::span<const std::byte> *bits);

// Counts the set bits among the first blockCount bits.
uint64_t countBlocks(std::span<const std::byte> bits, uint32_t blockCount);
// Bytes of a bitmap for blockCount blocks.
inline uint32_t bitmapBytes(uint32_t blockCount)
{
    return blockCount / 8 + (blockCount % 8 ? 1 : 0);
}

} // namespace imbrex::zbi
