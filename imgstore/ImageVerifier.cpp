#include "ImageVerifier.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "Checksum.h"
#include "ChunkCodec.h"
#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

// Records are read ahead in windows of this size while they follow each other in the file.
constexpr size_t kWindowBytes = 4u << 20;

bool allZero(std::span<const std::byte> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

uint64_t chunkLength(const PartitionRecord &p, uint64_t index)
{
    return std::min<uint64_t>(kChunkSize, p.decodedLength - index * kChunkSize);
}

// Walks the used blocks of a bitmap forward, so that a partition's damaged stream ranges, found in stream
// order, are placed in one pass over the bitmap.
class UsedBlockCursor
{
public:
    UsedBlockCursor(std::span<const std::byte> bits, uint32_t blockCount)
        : m_bits(bits), m_blockCount(blockCount)
    {
    }

    // The block that holds used block number `used` (counted from 0), or false when there are fewer.
    bool seek(uint64_t used, uint32_t *block)
    {
        if (used < m_used) {
            m_block = 0;
            m_used = 0;
        }
        while (m_block < m_blockCount) {
            // Whole bytes whose used blocks all lie before the wanted one are skipped at once.
            if (m_block % 8 == 0 && m_blockCount - m_block >= 8) {
                auto ones =
                    static_cast<uint64_t>(std::popcount(std::to_integer<uint8_t>(m_bits[m_block / 8])));
                if (m_used + ones <= used) {
                    m_used += ones;
                    m_block += 8;
                    continue;
                }
            }
            if (isUsed(m_block)) {
                if (m_used == used) {
                    *block = m_block;
                    return true;
                }
                ++m_used;
            }
            ++m_block;
        }
        return false;
    }

    bool isUsed(uint32_t block) const
    {
        return block < m_blockCount && block / 8 < m_bits.size() &&
               (std::to_integer<uint8_t>(m_bits[block / 8]) >> (block % 8) & 1) != 0;
    }

private:
    std::span<const std::byte> m_bits;
    uint32_t m_blockCount;
    uint32_t m_block = 0;
    uint64_t m_used = 0; // used blocks before m_block
};

std::vector<ByteRange> placeStream(UsedBlockCursor &cursor, uint32_t blockCount, uint64_t blockBytes,
                                   ByteRange stream)
{
    std::vector<ByteRange> ranges;
    if (blockBytes == 0 || stream.length == 0)
        return ranges;
    uint64_t at = stream.offset;
    const uint64_t end = stream.offset + stream.length;
    uint32_t block = 0;
    if (!cursor.seek(at / blockBytes, &block))
        return ranges;
    for (;;) {
        const uint64_t within = at % blockBytes;
        const uint64_t take = std::min(blockBytes - within, end - at);
        const uint64_t offset = static_cast<uint64_t>(block) * blockBytes + within;
        if (!ranges.empty() && ranges.back().offset + ranges.back().length == offset)
            ranges.back().length += take;
        else
            ranges.push_back({offset, take});
        at += take;
        if (at >= end)
            break;
        // The stream goes on in the next used block.
        do
            ++block;
        while (block < blockCount && !cursor.isUsed(block));
        if (block >= blockCount)
            break;
    }
    return ranges;
}

DamagedPiece wholePartitionPiece(PieceKind kind, uint32_t number, const PartitionRecord &p, const Blob &blob,
                                 int code, std::string reason)
{
    DamagedPiece piece;
    piece.kind = kind;
    piece.partition = number;
    piece.image = {blob.offset, blob.length};
    piece.code = code;
    piece.reason = std::move(reason);
    piece.wholePartition = true;
    piece.placeKnown = true;
    piece.partitionRanges.push_back({0, static_cast<uint64_t>(p.sectorCount) * p.sectorSize});
    return piece;
}

} // namespace

std::vector<ByteRange> partitionRangesOf(std::span<const std::byte> bits, uint32_t blockCount,
                                         uint64_t blockBytes, ByteRange stream)
{
    UsedBlockCursor cursor(bits, blockCount);
    return placeStream(cursor, blockCount, blockBytes, stream);
}

int ImageVerifier::open(const std::string &path, IMGSTORE_UI_CALLBACK *callback)
{
    m_file.setCallback(callback);
    if (int e = m_file.open(path, false))
        return e;
    std::vector<std::byte> head(2 * kSuperblockSize);
    size_t got = 0;
    if (int e = m_file.readAt(0, head, &got))
        return e;
    head.resize(got);
    int best = -1;
    checkSuperblocks(head, &best);
    if (best == -2)
        return rc::kNewerVersion;
    if (best < 0)
        return m_imageDamage.empty() ? rc::kNotAnImage : rc::kOk;

    const Superblock &sb = m_super;
    m_file.setLayout(sb.splitSize, sb.imageId);
    auto catalogDamage = [&](std::string reason) {
        DamagedPiece piece;
        piece.kind = PieceKind::Catalog;
        piece.image = {sb.catalogOffset, sb.catalogLength};
        piece.code = rc::kImageDamaged;
        piece.reason = std::move(reason);
        m_imageDamage.push_back(std::move(piece));
        return rc::kOk;
    };
    if (sb.catalogLength == 0 || sb.catalogLength > kMaxCatalogSize || sb.catalogOffset < kDataStart ||
        sb.catalogOffset > sb.dataEnd || sb.catalogLength > sb.dataEnd - sb.catalogOffset)
        return catalogDamage("the superblock places the catalog outside the image");
    std::vector<std::byte> bytes(sb.catalogLength);
    bool complete = false;
    if (int e = readExact(sb.catalogOffset, bytes, &complete))
        return e;
    if (!complete)
        return catalogDamage("the catalog lies beyond the end of the file");
    if (checksum(bytes) != sb.catalogChecksum)
        return catalogDamage("the catalog fails its checksum");
    Catalog catalog;
    if (parseCatalog(bytes, sb.dataEnd, &catalog) != 0 || catalog.imageId != sb.imageId)
        return catalogDamage("the catalog's records are inconsistent");
    m_catalog = std::move(catalog);
    m_catalogReadable = true;
    return rc::kOk;
}

void ImageVerifier::checkSuperblocks(std::span<const std::byte> head, int *best)
{
    Superblock slots[2];
    SlotState states[2] = {SlotState::Empty, SlotState::Empty};
    bool blank[2] = {true, true};
    for (size_t i = 0; i < 2; ++i) {
        auto offset = static_cast<size_t>(kSuperblockOffset[i]);
        if (head.size() < offset + kSuperblockSize)
            continue;
        auto bytes = head.subspan(offset, kSuperblockSize);
        states[i] = parseSuperblock(bytes, &slots[i]);
        blank[i] = allZero(bytes);
    }
    if (states[0] == SlotState::TooNew || states[1] == SlotState::TooNew) {
        *best = -2;
        return;
    }
    *best = -1;
    for (int i = 0; i < 2; ++i)
        if (states[i] == SlotState::Valid && (*best < 0 || slots[i].generation > slots[*best].generation))
            *best = i;
    // A slot no commit has written yet is all zeros; anything else that does not read as a superblock is a
    // damaged one, whose generation may have been newer than what the image now shows.
    bool anySignature = states[0] != SlotState::Empty || states[1] != SlotState::Empty;
    for (uint32_t i = 0; i < 2; ++i) {
        if (states[i] == SlotState::Valid || blank[i] || !anySignature)
            continue;
        DamagedPiece piece;
        piece.kind = PieceKind::Superblock;
        piece.slot = i;
        piece.image = {kSuperblockOffset[i], kSuperblockSize};
        piece.code = rc::kImageDamaged;
        if (*best < 0)
            piece.reason = "no superblock of the image can be read";
        else if (slots[*best].flags & kSuperblockMirrored)
            // Every change writes both slots: the other one holds the same newest state.
            piece.reason = "the other slot holds the image's newest state, generation " +
                           std::to_string(slots[*best].generation) +
                           "; nothing is lost, and the next change writes this slot again";
        else
            piece.reason = "the image is read from the other slot, generation " +
                           std::to_string(slots[*best].generation) +
                           ", which may be older than the last change";
        m_imageDamage.push_back(std::move(piece));
    }
    if (*best >= 0)
        m_super = slots[*best];
}

int ImageVerifier::readExact(uint64_t address, std::span<std::byte> out, bool *complete)
{
    size_t got = 0;
    *complete = false;
    if (address > m_super.dataEnd || out.size() > m_super.dataEnd - address)
        return rc::kOk;
    if (int e = m_file.readAt(address, out, &got))
        return e;
    *complete = got == out.size();
    return rc::kOk;
}

int ImageVerifier::fillWindow(const std::vector<uint64_t> &offsets, uint64_t index)
{
    const uint64_t base = offsets[index];
    m_windowBase = base;
    m_windowLength = 0;
    if (base < kDataStart || base >= m_super.dataEnd)
        return rc::kOk;
    // Read as far as the following records go on upwards, a whole record past the last one counted.
    uint64_t last = base;
    for (uint64_t k = index + 1; k < offsets.size(); ++k) {
        if (offsets[k] <= offsets[k - 1] || offsets[k] - base > kWindowBytes - kMaxChunkRecord)
            break;
        last = offsets[k];
    }
    uint64_t want = std::min<uint64_t>(last - base + kMaxChunkRecord, m_super.dataEnd - base);
    if (m_window.size() < want)
        m_window.resize(static_cast<size_t>(want));
    size_t got = 0;
    if (int e = m_file.readAt(base, std::span(m_window).first(static_cast<size_t>(want)), &got))
        return e;
    m_windowLength = got;
    return rc::kOk;
}

int ImageVerifier::verifyPartition(uint32_t number, Progress &progress, PartitionCheck *check)
{
    *check = PartitionCheck{};
    if (!m_catalogReadable || number == 0 || number > m_catalog.partitions.size())
        return rc::kBadPartitionNumber;
    const PartitionRecord &p = m_catalog.partitions[number - 1];
    const bool encrypted = (p.flags & kFlagEncrypted) != 0;
    std::optional<PartitionKey> key;
    if (encrypted) {
        Salt salt;
        KeyCheck keyCheck;
        std::memcpy(salt.data(), p.salt, salt.size());
        std::memcpy(keyCheck.data(), p.keyCheck, keyCheck.size());
        key = findPartitionKey(p.password, salt, keyCheck);
        check->keyMissing = !key;
    }

    // The bitmap: without it no stream byte can be placed in the partition.
    std::vector<std::byte> bitmap(p.bitmap.length);
    std::vector<std::byte> bits;
    bool complete = false;
    if (int e = readExact(p.bitmap.offset, bitmap, &complete))
        return e;
    std::span<const std::byte> storedBits;
    if (!complete) {
        check->damage.push_back(wholePartitionPiece(PieceKind::Bitmap, number, p, p.bitmap, rc::kDataDamaged,
                                                    "the block bitmap lies beyond the end of the file"));
    } else if (int e = checkStoredBitmap(p, bitmap, &storedBits)) {
        check->damage.push_back(wholePartitionPiece(PieceKind::Bitmap, number, p, p.bitmap, e,
                                                    "the block bitmap fails its check"));
    } else if (!encrypted || key) {
        bits.assign(storedBits.begin(), storedBits.end());
        if (key) {
            Salt salt;
            std::memcpy(salt.data(), p.salt, salt.size());
            applyKeystream(*key, salt, kBitmapKeyIndex, bits);
        }
        if (countBlocks(bits, p.blockCount) != p.usedBlockCount) {
            check->damage.push_back(
                wholePartitionPiece(PieceKind::Bitmap, number, p, p.bitmap, rc::kDataDamaged,
                                    "the block bitmap does not match the used block count"));
            bits.clear();
        }
    }
    const bool bitsKnown = !bits.empty() || p.blockCount == 0;

    std::vector<std::byte> table(p.chunkTable.length);
    if (int e = readExact(p.chunkTable.offset, table, &complete))
        return e;
    if (!complete || checksum(table) != p.chunkTable.checksum) {
        check->damage.push_back(
            wholePartitionPiece(PieceKind::ChunkTable, number, p, p.chunkTable, rc::kDataDamaged,
                                complete ? "the chunk table fails its checksum"
                                         : "the chunk table lies beyond the end of the file"));
        return rc::kOk;
    }
    std::vector<uint64_t> offsets(p.chunkCount);
    for (uint64_t i = 0; i < p.chunkCount; ++i)
        offsets[i] = loadLe64(table, i * 8);

    if (int e = checkChunks(p, number, offsets, key, progress, check))
        return e;

    if (bitsKnown) {
        UsedBlockCursor cursor(bits, p.blockCount);
        const uint64_t blockBytes = static_cast<uint64_t>(p.sectorsPerBlock) * p.sectorSize;
        for (DamagedPiece &piece : check->damage) {
            if (piece.kind != PieceKind::Chunks)
                continue;
            piece.partitionRanges = placeStream(cursor, p.blockCount, blockBytes, piece.stream);
            piece.placeKnown = true;
        }
    }
    return rc::kOk;
}

int ImageVerifier::checkChunks(const PartitionRecord &p, uint32_t number,
                               const std::vector<uint64_t> &offsets, const std::optional<PartitionKey> &key,
                               Progress &progress, PartitionCheck *check)
{
    const bool encrypted = (p.flags & kFlagEncrypted) != 0;
    const bool decode = !encrypted || key.has_value();
    const bool stream = familyOf(p.compression) == CompressionFamily::Legacy;
    Salt salt;
    std::memcpy(salt.data(), p.salt, salt.size());
    ChunkDecoder decoder;
    std::vector<std::byte> payload;
    std::vector<std::byte> plain(kChunkSize);
    uint64_t streamBrokenAt = UINT64_MAX; // the legacy stream cannot be decoded past a damaged chunk
    m_windowLength = 0;

    auto damaged = [&](uint64_t index, int code, const std::string &reason) {
        const ByteRange bytes{index * kChunkSize, chunkLength(p, index)};
        if (stream && streamBrokenAt == UINT64_MAX)
            streamBrokenAt = index;
        if (!check->damage.empty()) {
            DamagedPiece &last = check->damage.back();
            if (last.kind == PieceKind::Chunks && last.lastChunk + 1 == index && last.reason == reason &&
                last.code == code) {
                last.lastChunk = index;
                last.stream.length += bytes.length;
                return;
            }
        }
        DamagedPiece piece;
        piece.kind = PieceKind::Chunks;
        piece.partition = number;
        piece.firstChunk = piece.lastChunk = index;
        piece.image = {offsets[index], 0};
        piece.code = code;
        piece.reason = reason;
        piece.stream = bytes;
        check->damage.push_back(std::move(piece));
    };
    auto inWindow = [&](uint64_t offset, uint64_t length) {
        return offset >= m_windowBase && offset - m_windowBase <= m_windowLength &&
               length <= m_windowLength - (offset - m_windowBase);
    };

    for (uint64_t i = 0; i < offsets.size(); ++i) {
        if (!progress.update(i, offsets.size()))
            return rc::kCancelled;
        ++check->chunksChecked;
        const uint64_t offset = offsets[i];
        if (!inWindow(offset, kChunkHeaderSize))
            if (int e = fillWindow(offsets, i))
                return e;
        if (!inWindow(offset, kChunkHeaderSize)) {
            damaged(i, rc::kDataDamaged, "the chunk table points outside the image");
            continue;
        }
        auto bytes = std::span<const std::byte>(m_window).subspan(
            static_cast<size_t>(offset - m_windowBase),
            m_windowLength - static_cast<size_t>(offset - m_windowBase));
        ChunkHeader header;
        if (parseChunkHeader(bytes, &header) != 0) {
            damaged(i, rc::kDataDamaged, "no chunk record header is where the chunk table points");
            continue;
        }
        if (!inWindow(offset, kChunkHeaderSize + uint64_t{header.payloadLength})) {
            if (int e = fillWindow(offsets, i))
                return e;
            bytes = std::span<const std::byte>(m_window).first(m_windowLength);
        }
        if (!inWindow(offset, kChunkHeaderSize + uint64_t{header.payloadLength})) {
            damaged(i, rc::kDataDamaged, "the chunk record is cut off by the end of the image");
            continue;
        }
        RecordExpectation expected;
        expected.index = i;
        expected.decodedLength = static_cast<uint32_t>(chunkLength(p, i));
        expected.compressionCode = p.compression;
        expected.encrypted = encrypted;
        std::span<const std::byte> record;
        if (int e = checkChunkRecord(bytes, expected, &header, &record)) {
            const bool checksumOnly = header.index == expected.index &&
                                      header.decodedLength == expected.decodedLength &&
                                      codecFitsPartition(header.codec, p.compression, encrypted);
            damaged(i, e,
                    checksumOnly ? "the chunk fails its checksum"
                                 : "the chunk record names another chunk, length or encoding than expected");
            continue;
        }
        if (stream && streamBrokenAt != UINT64_MAX) {
            // Every later chunk of a one-stream partition depends on the broken one.
            damaged(i, rc::kDataDamaged,
                    "cannot be decoded: the partition's compressed stream breaks at chunk " +
                        std::to_string(streamBrokenAt));
            continue;
        }
        if (!decode)
            continue;
        std::span<const std::byte> stored = record.subspan(kChunkHeaderSize);
        if (header.codec & kCodecEncrypted) {
            payload.assign(stored.begin(), stored.end());
            applyKeystream(*key, salt, i, payload);
            stored = payload;
        }
        if (int e = decoder.decode(header.codec & kCodecMask, i, stored,
                                   std::span(plain).first(header.decodedLength))) {
            if (e == rc::kOutOfMemory)
                return e;
            damaged(i, e, "the chunk's stored bytes do not decode");
        }
    }
    if (!progress.update(offsets.size(), offsets.size()))
        return rc::kCancelled;
    return rc::kOk;
}

} // namespace imbrex::zbi
