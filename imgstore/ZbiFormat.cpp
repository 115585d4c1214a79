#include "ZbiFormat.h"

#include <bit>
#include <cstring>

#include "Checksum.h"
#include "common/ByteOrder.h"
#include "common/ByteReader.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

constexpr std::byte kSuperblockMagic[8] = {std::byte{'I'}, std::byte{'M'}, std::byte{'B'}, std::byte{'R'},
                                           std::byte{'X'}, std::byte{'Z'}, std::byte{'B'}, std::byte{'I'}};
// Superblock field offsets.
constexpr size_t kSbVersion = 8;
constexpr size_t kSbHeaderSize = 10;
constexpr size_t kSbImageId = 12;
constexpr size_t kSbGeneration = 16;
constexpr size_t kSbCatalogOffset = 24;
constexpr size_t kSbCatalogLength = 32;
constexpr size_t kSbFlags = 36;
constexpr size_t kSbCatalogChecksum = 40;
constexpr size_t kSbDataEnd = 48;
constexpr size_t kSbSplitSize = 56;
constexpr size_t kSbChecksum = kSuperblockSize - 8;

constexpr uint32_t kCatalogMagic = 0x4C544143; // "CATL"
constexpr uint32_t kChunkMagic = 0x4B43425A;   // "ZBCK"
constexpr uint32_t kBitmapMagic = 0x4D42425A;  // "ZBBM"

// Chunk header field offsets.
constexpr size_t kChMagic = 0;
constexpr size_t kChCodec = 4;
constexpr size_t kChPayloadLength = 8;
constexpr size_t kChDecodedLength = 12;
constexpr size_t kChIndex = 16;
constexpr size_t kChChecksum = 24;

void writeBlob(ByteWriter &w, const Blob &b)
{
    w.u64(b.offset);
    w.u32(b.length);
    w.u64(b.checksum);
}

Blob readBlob(ByteReader &r)
{
    Blob b;
    b.offset = r.u64();
    b.length = r.u32();
    b.checksum = r.u64();
    return b;
}

bool liesWithin(uint64_t offset, uint64_t length, uint64_t fileSize)
{
    return offset >= kDataStart && offset <= fileSize && length <= fileSize - offset;
}

void writePartition(ByteWriter &w, const PartitionRecord &p)
{
    w.u32(p.typeId);
    w.u32(p.fileSystemType);
    w.u32(p.sectorCount);
    w.u32(p.sectorSize);
    w.u32(p.sectorsPerBlock);
    w.u32(p.blockCount);
    w.u32(p.usedBlockCount);
    w.u32(p.lastUsedBlock);
    w.u8(p.driveLetter);
    w.u32(p.kind);
    w.u16(p.year);
    w.u16(p.month);
    w.u16(p.day);
    w.u32(p.attributeA);
    w.u32(p.attributeB);
    w.u32(p.attributeC);
    w.u32(p.attributeD);
    w.u32(p.compression);
    w.u32(p.password);
    w.u32(p.flags);
    w.bytes(p.salt);
    w.bytes(p.keyCheck);
    w.shortString(p.name);
    w.shortString(p.comment);
    writeBlob(w, p.bitmap);
    writeBlob(w, p.chunkTable);
    w.u64(p.decodedLength);
    w.u64(p.chunkCount);
    w.u64(p.storedSize);
    w.u32(static_cast<uint32_t>(p.extents.size()));
    for (const Extent &e : p.extents) {
        w.u64(e.offset);
        w.u64(e.length);
    }
}

int readPartition(ByteReader &r, uint64_t fileSize, PartitionRecord *p)
{
    p->typeId = r.u32();
    p->fileSystemType = r.u32();
    p->sectorCount = r.u32();
    p->sectorSize = r.u32();
    p->sectorsPerBlock = r.u32();
    p->blockCount = r.u32();
    p->usedBlockCount = r.u32();
    p->lastUsedBlock = r.u32();
    p->driveLetter = r.u8();
    p->kind = r.u32();
    p->year = r.u16();
    p->month = r.u16();
    p->day = r.u16();
    p->attributeA = r.u32();
    p->attributeB = r.u32();
    p->attributeC = r.u32();
    p->attributeD = r.u32();
    p->compression = r.u32();
    p->password = r.u32();
    p->flags = r.u32();
    if (auto salt = r.bytes(kSaltSize); r.ok())
        std::memcpy(p->salt, salt.data(), kSaltSize);
    if (auto check = r.bytes(kKeyCheckBytes); r.ok())
        std::memcpy(p->keyCheck, check.data(), kKeyCheckBytes);
    p->name = r.shortString(kMaxPartitionName);
    p->comment = r.shortString(kMaxPartitionComment);
    p->bitmap = readBlob(r);
    p->chunkTable = readBlob(r);
    p->decodedLength = r.u64();
    p->chunkCount = r.u64();
    p->storedSize = r.u64();
    uint32_t extentCount = r.u32();
    if (!r.ok() || extentCount > r.remaining() / 16)
        return rc::kImageDamaged;
    p->extents.resize(extentCount);
    uint64_t extentBytes = 0;
    for (Extent &e : p->extents) {
        e.offset = r.u64();
        e.length = r.u64();
        if (!liesWithin(e.offset, e.length, fileSize))
            return rc::kImageDamaged;
        extentBytes += e.length;
    }
    if (!r.ok())
        return rc::kImageDamaged;

    // Geometry: everything below is arithmetic on these fields, so they are checked first.
    if (p->sectorSize != kSectorSize || p->sectorsPerBlock == 0)
        return rc::kImageDamaged;
    uint64_t blocks = (static_cast<uint64_t>(p->sectorCount) + p->sectorsPerBlock - 1) / p->sectorsPerBlock;
    if (blocks != p->blockCount || p->usedBlockCount > p->blockCount)
        return rc::kImageDamaged;
    if (p->bitmap.length != kBitmapHeaderSize + bitmapBytes(p->blockCount) ||
        !liesWithin(p->bitmap.offset, p->bitmap.length, fileSize))
        return rc::kImageDamaged;
    if (p->decodedLength != p->expectedDecodedLength())
        return rc::kImageDamaged;
    if (p->chunkCount != (p->decodedLength + kChunkSize - 1) / kChunkSize ||
        p->chunkTable.length != p->chunkCount * 8 ||
        !liesWithin(p->chunkTable.offset, p->chunkTable.length, fileSize))
        return rc::kImageDamaged;
    if (p->storedSize > extentBytes)
        return rc::kImageDamaged;
    return rc::kOk;
}

} // namespace

std::vector<std::byte> encodeSuperblock(const Superblock &sb)
{
    std::vector<std::byte> out(kSuperblockSize);
    std::memcpy(out.data(), kSuperblockMagic, sizeof kSuperblockMagic);
    storeLe16(out, kSbVersion, sb.version);
    storeLe16(out, kSbHeaderSize, static_cast<uint16_t>(kSuperblockSize));
    storeLe32(out, kSbImageId, sb.imageId);
    storeLe64(out, kSbGeneration, sb.generation);
    storeLe64(out, kSbCatalogOffset, sb.catalogOffset);
    storeLe32(out, kSbCatalogLength, sb.catalogLength);
    storeLe64(out, kSbCatalogChecksum, sb.catalogChecksum);
    storeLe64(out, kSbDataEnd, sb.dataEnd);
    storeLe32(out, kSbSplitSize, sb.splitSize);
    storeLe32(out, kSbFlags, sb.flags);
    storeLe64(out, kSbChecksum, checksum(std::span(out).first(kSbChecksum)));
    return out;
}

SlotState parseSuperblock(std::span<const std::byte> bytes, Superblock *out)
{
    if (bytes.size() < kSuperblockSize ||
        std::memcmp(bytes.data(), kSuperblockMagic, sizeof kSuperblockMagic) != 0)
        return SlotState::Empty;
    Superblock sb;
    sb.version = loadLe16(bytes, kSbVersion);
    sb.imageId = loadLe32(bytes, kSbImageId);
    sb.generation = loadLe64(bytes, kSbGeneration);
    sb.catalogOffset = loadLe64(bytes, kSbCatalogOffset);
    sb.catalogLength = loadLe32(bytes, kSbCatalogLength);
    sb.catalogChecksum = loadLe64(bytes, kSbCatalogChecksum);
    sb.dataEnd = loadLe64(bytes, kSbDataEnd);
    sb.splitSize = loadLe32(bytes, kSbSplitSize);
    sb.flags = loadLe32(bytes, kSbFlags);
    *out = sb;
    if (loadLe64(bytes, kSbChecksum) != checksum(bytes.first(kSbChecksum)))
        return SlotState::Damaged;
    if (sb.version > kFormatVersion)
        return SlotState::TooNew;
    if (sb.version == 0 || loadLe16(bytes, kSbHeaderSize) != kSuperblockSize || sb.dataEnd < kDataStart)
        return SlotState::Damaged;
    return SlotState::Valid;
}

std::vector<std::byte> encodeCatalog(const Catalog &catalog)
{
    ByteWriter w;
    w.u32(kCatalogMagic);
    w.u16(kFormatVersion);
    w.u16(0);
    w.u32(catalog.imageId);
    w.shortString(catalog.name);
    w.shortString(catalog.comment);
    w.u32(static_cast<uint32_t>(catalog.partitions.size()));
    for (const PartitionRecord &p : catalog.partitions) {
        ByteWriter record;
        writePartition(record, p);
        w.u32(static_cast<uint32_t>(record.size()));
        w.bytes(record.data());
    }
    return w.take();
}

int parseCatalog(std::span<const std::byte> bytes, uint64_t fileSize, Catalog *out)
{
    ByteReader r(bytes);
    if (r.u32() != kCatalogMagic)
        return rc::kImageDamaged;
    uint16_t version = r.u16();
    r.skip(2);
    if (version > kFormatVersion)
        return rc::kNewerVersion;
    Catalog catalog;
    catalog.imageId = r.u32();
    catalog.name = r.shortString(kMaxImageName);
    catalog.comment = r.shortString(kMaxImageComment);
    uint32_t count = r.u32();
    if (!r.ok() || count > kMaxPartitions)
        return rc::kImageDamaged;
    catalog.partitions.resize(count);
    for (PartitionRecord &p : catalog.partitions) {
        uint32_t length = r.u32();
        std::span<const std::byte> record = r.bytes(length);
        if (!r.ok())
            return rc::kImageDamaged;
        // A record may be longer than this version writes: later fields are for newer minor additions.
        ByteReader recordReader(record);
        if (int e = readPartition(recordReader, fileSize, &p))
            return e;
    }
    if (!r.ok())
        return rc::kImageDamaged;
    *out = std::move(catalog);
    return rc::kOk;
}

void encodeChunkHeader(ChunkHeader header, std::span<const std::byte> payload, std::span<std::byte> out)
{
    storeLe32(out, kChMagic, kChunkMagic);
    storeLe32(out, kChCodec, header.codec);
    storeLe32(out, kChPayloadLength, header.payloadLength);
    storeLe32(out, kChDecodedLength, header.decodedLength);
    storeLe64(out, kChIndex, header.index);
    storeLe64(out, kChChecksum, checksum(out.first(kChChecksum), payload));
}

int parseChunkHeader(std::span<const std::byte> bytes, ChunkHeader *out)
{
    if (bytes.size() < kChunkHeaderSize || loadLe32(bytes, kChMagic) != kChunkMagic)
        return rc::kDataDamaged;
    ChunkHeader h;
    h.codec = loadLe32(bytes, kChCodec);
    h.payloadLength = loadLe32(bytes, kChPayloadLength);
    h.decodedLength = loadLe32(bytes, kChDecodedLength);
    h.index = loadLe64(bytes, kChIndex);
    h.checksum = loadLe64(bytes, kChChecksum);
    if (h.payloadLength > kMaxChunkPayload || h.decodedLength > kChunkSize || h.decodedLength == 0)
        return rc::kDataDamaged;
    *out = h;
    return rc::kOk;
}

bool verifyChunk(std::span<const std::byte> headerBytes, std::span<const std::byte> payload,
                 uint64_t expected)
{
    return checksum(headerBytes.first(kChChecksum), payload) == expected;
}

std::vector<std::byte> encodeBitmap(const BitmapHeader &header, std::span<const std::byte> bits)
{
    ByteWriter w;
    w.u32(kBitmapMagic);
    w.u32(header.flags);
    w.u32(header.bitmapLength);
    w.u32(0);
    w.bytes(header.salt);
    w.bytes(header.keyCheck);
    w.bytes(bits);
    return w.take();
}

int parseBitmap(std::span<const std::byte> stored, BitmapHeader *header, std::span<const std::byte> *bits)
{
    ByteReader r(stored);
    if (r.u32() != kBitmapMagic)
        return rc::kDataDamaged;
    BitmapHeader h;
    h.flags = r.u32();
    h.bitmapLength = r.u32();
    r.skip(4);
    auto salt = r.bytes(kSaltSize);
    auto check = r.bytes(kKeyCheckBytes);
    if (!r.ok() || h.bitmapLength != r.remaining() || (h.flags & ~kFlagEncrypted) != 0)
        return rc::kDataDamaged;
    std::memcpy(h.salt, salt.data(), kSaltSize);
    std::memcpy(h.keyCheck, check.data(), kKeyCheckBytes);
    *bits = r.bytes(h.bitmapLength);
    *header = h;
    return rc::kOk;
}

int checkStoredBitmap(const PartitionRecord &p, std::span<const std::byte> stored,
                      std::span<const std::byte> *bits)
{
    if (stored.size() != p.bitmap.length || checksum(stored) != p.bitmap.checksum)
        return rc::kDataDamaged;
    BitmapHeader header;
    if (int e = parseBitmap(stored, &header, bits))
        return e;
    const bool encrypted = (p.flags & kFlagEncrypted) != 0;
    if (header.bitmapLength != bitmapBytes(p.blockCount) ||
        ((header.flags & kFlagEncrypted) != 0) != encrypted ||
        (encrypted && (std::memcmp(header.salt, p.salt, kSaltSize) != 0 ||
                       std::memcmp(header.keyCheck, p.keyCheck, kKeyCheckBytes) != 0)))
        return rc::kDataDamaged;
    return rc::kOk;
}

uint64_t countBlocks(std::span<const std::byte> bits, uint32_t blockCount)
{
    uint64_t count = 0;
    uint32_t fullBytes = blockCount / 8;
    for (uint32_t i = 0; i < fullBytes && i < bits.size(); ++i)
        count += static_cast<uint64_t>(std::popcount(std::to_integer<uint8_t>(bits[i])));
    if (blockCount % 8 && fullBytes < bits.size()) {
        auto mask = static_cast<uint8_t>((1u << (blockCount % 8)) - 1);
        count += static_cast<uint64_t>(
            std::popcount(static_cast<uint8_t>(std::to_integer<uint8_t>(bits[fullBytes]) & mask)));
    }
    return count;
}

} // namespace imbrex::zbi
