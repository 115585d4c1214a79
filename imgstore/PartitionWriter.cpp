#include "PartitionWriter.h"

#include <algorithm>
#include <cstring>

#include "Checksum.h"
#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

constexpr size_t kWriteBehindSize = 1 << 20;
constexpr size_t kTableBehindSize = 4096; // chunk table bytes held before they are written: 32 MiB of chunks

} // namespace

void PartitionWriter::start(const PartitionRecord &p)
{
    stop();
    m_record = p;
}

void PartitionWriter::stop()
{
    m_record = PartitionRecord{};
    m_bitmapWritten = false;
    m_failed = false;
    m_rawWrites = false;
    m_chunkCount = 0;
    m_tableBehind.clear();
    m_tableBehind.shrink_to_fit();
    m_tableWritten = 0;
    m_tableChecksum.reset();
    m_writeFill = 0;
    m_writeBehind.clear();
    m_encoder.reset();
    m_key.reset();
}

int PartitionWriter::checkGeometry(uint32_t sectorsPerBlock, uint32_t blockCount, uint32_t usedBlockCount,
                                   uint32_t compression) const
{
    if (m_bitmapWritten || m_failed)
        return rc::kWrongSequence;
    const PartitionRecord &p = m_record;
    if (compression != p.compression || sectorsPerBlock == 0)
        return rc::kInvalidArgument;
    uint64_t blocks = (static_cast<uint64_t>(p.sectorCount) + sectorsPerBlock - 1) / sectorsPerBlock;
    if (blocks != blockCount || usedBlockCount > blockCount)
        return rc::kInvalidArgument;
    return rc::kOk;
}

int PartitionWriter::storeBitmap(std::span<const std::byte> stored, uint32_t sectorsPerBlock,
                                 uint32_t blockCount, uint32_t usedBlockCount)
{
    PartitionRecord &p = m_record;
    p.sectorsPerBlock = sectorsPerBlock;
    p.blockCount = blockCount;
    p.usedBlockCount = usedBlockCount;
    // The number of chunks follows from the geometry, so the chunk table gets its place now, beside the
    // bitmap, and is written as the records arrive: however large the partition, only a page of it is held.
    const uint64_t chunks = (p.expectedDecodedLength() + kChunkSize - 1) / kChunkSize;
    if (chunks > UINT32_MAX / 8)
        return rc::kImageTooLarge;
    p.bitmap.length = static_cast<uint32_t>(stored.size());
    p.bitmap.checksum = checksum(stored);
    p.bitmap.offset = m_space.allocate(stored.size());
    p.chunkTable.length = static_cast<uint32_t>(chunks * 8);
    p.chunkTable.offset = m_space.allocate(p.chunkTable.length);
    if (int e = m_file.writeAt(p.bitmap.offset, stored)) {
        m_failed = true;
        return e;
    }
    m_tableChecksum = std::make_unique<ChecksumStream>();
    m_bitmapWritten = true;
    m_encoder = std::make_unique<ChunkEncoder>(p.compression);
    return rc::kOk;
}

int PartitionWriter::writeBitmap(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                 uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkGeometry(sectorsPerBlock, blockCount, usedBlockCount, compression))
        return e;
    if (size != bitmapBytes(blockCount) || (size && !buffer))
        return rc::kInvalidArgument;
    std::vector<std::byte> bits(size);
    if (size)
        std::memcpy(bits.data(), buffer, size);
    // Bits beyond the last block carry nothing; keep them clear so equal bitmaps are stored equally.
    if (blockCount % 8)
        bits.back() &= static_cast<std::byte>((1u << (blockCount % 8)) - 1);
    if (countBlocks(bits, blockCount) != usedBlockCount)
        return rc::kInvalidArgument;

    BitmapHeader header;
    header.bitmapLength = static_cast<uint32_t>(bits.size());
    PartitionRecord &p = m_record;
    if (p.password != 0) {
        // A protected partition gets its own salt and key; the password text must be known to the store.
        Salt salt;
        PartitionKey key;
        KeyCheck check;
        if (!newPartitionKey(p.password, &salt, &key, &check))
            return rc::kWrongPassword;
        p.flags |= kFlagEncrypted;
        std::memcpy(p.salt, salt.data(), kSaltSize);
        std::memcpy(p.keyCheck, check.data(), kKeyCheckBytes);
        m_key = key;
        header.flags = kFlagEncrypted;
        std::memcpy(header.salt, p.salt, kSaltSize);
        std::memcpy(header.keyCheck, p.keyCheck, kKeyCheckBytes);
        applyKeystream(*m_key, p, kBitmapKeyIndex, bits);
    }
    return storeBitmap(encodeBitmap(header, bits), sectorsPerBlock, blockCount, usedBlockCount);
}

int PartitionWriter::writeBitmapRaw(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                    uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkGeometry(sectorsPerBlock, blockCount, usedBlockCount, compression))
        return e;
    if (!buffer)
        return rc::kInvalidArgument;
    auto stored = std::span(static_cast<const std::byte *>(buffer), size);
    BitmapHeader header;
    std::span<const std::byte> bits;
    if (parseBitmap(stored, &header, &bits) != 0 || bits.size() != bitmapBytes(blockCount))
        return rc::kInvalidArgument;
    PartitionRecord &p = m_record;
    bool encrypted = (header.flags & kFlagEncrypted) != 0;
    // The stored form keeps its protection: a protected source goes only to a partition with its value.
    if (encrypted != (p.password != 0))
        return rc::kInvalidArgument;
    if (encrypted) {
        p.flags |= kFlagEncrypted;
        std::memcpy(p.salt, header.salt, kSaltSize);
        std::memcpy(p.keyCheck, header.keyCheck, kKeyCheckBytes);
    } else if (countBlocks(bits, blockCount) != usedBlockCount) {
        return rc::kInvalidArgument;
    }
    return storeBitmap(stored, sectorsPerBlock, blockCount, usedBlockCount);
}

uint64_t PartitionWriter::allocateRecords(uint64_t size)
{
    std::vector<Extent> &extents = m_record.extents;
    if (!extents.empty() && m_space.allocateAt(extents.back().offset + extents.back().length, size)) {
        uint64_t offset = extents.back().offset + extents.back().length;
        extents.back().length += size;
        return offset;
    }
    uint64_t offset = m_space.allocate(size);
    extents.push_back({offset, size});
    return offset;
}

int PartitionWriter::storeRecord(std::span<const std::byte> header, std::span<const std::byte> payload)
{
    uint64_t size = header.size() + payload.size();
    uint64_t offset = allocateRecords(size);
    // Records that follow each other in the file go out in one write.
    if (!m_writeBehind.empty() && m_writeBehindOffset + m_writeBehind.size() != offset)
        if (int e = flushWriteBehind())
            return e;
    if (m_writeBehind.empty()) {
        m_writeBehind.reserve(kWriteBehindSize + kMaxChunkRecord);
        m_writeBehindOffset = offset;
    }
    m_writeBehind.insert(m_writeBehind.end(), header.begin(), header.end());
    m_writeBehind.insert(m_writeBehind.end(), payload.begin(), payload.end());
    if (int e = addToTable(offset))
        return e;
    m_record.storedSize += size;
    return m_writeBehind.size() >= kWriteBehindSize ? flushWriteBehind() : rc::kOk;
}

int PartitionWriter::addToTable(uint64_t offset)
{
    if (m_chunkCount >= m_record.chunkTable.length / 8) {
        m_failed = true;
        return rc::kInvalidArgument; // more chunks than the used blocks hold
    }
    ++m_chunkCount;
    const size_t at = m_tableBehind.size();
    m_tableBehind.resize(at + 8);
    storeLe64(m_tableBehind, at, offset);
    return m_tableBehind.size() >= kTableBehindSize ? flushTable() : rc::kOk;
}

int PartitionWriter::flushTable()
{
    if (m_tableBehind.empty())
        return rc::kOk;
    m_tableChecksum->update(m_tableBehind);
    int e = m_file.writeAt(m_record.chunkTable.offset + m_tableWritten, m_tableBehind);
    m_tableWritten += m_tableBehind.size();
    m_tableBehind.clear();
    if (e != 0)
        m_failed = true;
    return e;
}

int PartitionWriter::flushWriteBehind()
{
    if (m_writeBehind.empty())
        return rc::kOk;
    int e = m_file.writeAt(m_writeBehindOffset, m_writeBehind);
    m_writeBehind.clear();
    if (e != 0)
        m_failed = true;
    return e;
}

int PartitionWriter::storeChunk(std::span<const std::byte> plain)
{
    bool last = m_record.decodedLength + plain.size() == m_record.expectedDecodedLength();
    uint32_t codec = kCodecPlain;
    if (int e = m_encoder->encode(plain, last, m_payload, &codec)) {
        m_failed = true;
        return e;
    }
    ChunkHeader h;
    h.index = m_chunkCount;
    if (m_record.flags & kFlagEncrypted) {
        applyKeystream(*m_key, m_record, h.index, m_payload);
        codec |= kCodecEncrypted;
    }
    h.codec = codec;
    h.payloadLength = static_cast<uint32_t>(m_payload.size());
    h.decodedLength = static_cast<uint32_t>(plain.size());
    std::byte header[kChunkHeaderSize];
    encodeChunkHeader(h, m_payload, header);
    if (int e = storeRecord(header, m_payload))
        return e;
    m_record.decodedLength += plain.size();
    return rc::kOk;
}

int PartitionWriter::write(std::span<const std::byte> in, uint32_t *bytesWritten)
{
    if (!m_bitmapWritten || m_failed || m_rawWrites)
        return rc::kWrongSequence;
    const auto size = static_cast<uint32_t>(in.size());
    uint64_t expected = m_record.expectedDecodedLength();
    if (size > expected - m_record.decodedLength - m_writeFill)
        return rc::kInvalidArgument; // more data than the used blocks hold
    m_writeBuffer.resize(kChunkSize);
    uint32_t done = 0;
    while (done < size) {
        if (m_writeFill == 0 && size - done >= kChunkSize) {
            // Whole chunks go straight from the caller's buffer.
            if (int e = storeChunk(in.subspan(done, kChunkSize)))
                return e;
            done += kChunkSize;
            continue;
        }
        size_t n = std::min<size_t>(size - done, kChunkSize - m_writeFill);
        std::memcpy(m_writeBuffer.data() + m_writeFill, in.data() + done, n);
        m_writeFill += n;
        done += static_cast<uint32_t>(n);
        if (m_writeFill == kChunkSize) {
            if (int e = storeChunk(m_writeBuffer))
                return e;
            m_writeFill = 0;
        }
    }
    *bytesWritten = done;
    return rc::kOk;
}

int PartitionWriter::checkRawRecords(std::span<const std::byte> in, uint32_t compression,
                                     bool checksumsVerified) const
{
    if (!m_bitmapWritten || m_failed || m_writeFill > 0)
        return rc::kWrongSequence;
    if (compression != m_record.compression)
        return rc::kInvalidArgument;
    uint64_t expected = m_record.expectedDecodedLength();
    const bool encrypted = (m_record.flags & kFlagEncrypted) != 0;
    size_t offset = 0;
    uint64_t decoded = m_record.decodedLength;
    uint64_t index = m_chunkCount;
    while (offset < in.size()) {
        ChunkHeader h;
        if (parseChunkHeader(in.subspan(offset), &h) != 0 ||
            in.size() - offset - kChunkHeaderSize < h.payloadLength)
            return rc::kInvalidArgument;
        auto payload = in.subspan(offset + kChunkHeaderSize, h.payloadLength);
        if (!checksumsVerified && !verifyChunk(in.subspan(offset), payload, h.checksum))
            return rc::kDataDamaged;
        bool lastChunk = decoded + h.decodedLength == expected;
        if (h.index != index || !codecFitsPartition(h.codec, m_record.compression, encrypted) ||
            decoded + h.decodedLength > expected || (h.decodedLength != kChunkSize && !lastChunk) ||
            ((h.codec & kCodecMask) == kCodecPlain && h.payloadLength != h.decodedLength))
            return rc::kInvalidArgument;
        decoded += h.decodedLength;
        offset += kChunkHeaderSize + h.payloadLength;
        ++index;
    }
    return rc::kOk;
}

template <typename Place> int PartitionWriter::storeRawRecords(std::span<const std::byte> in, Place place)
{
    m_rawWrites = true;
    if (in.empty())
        return rc::kOk;
    // The records go in as one run, after what is still held.
    if (int e = flushWriteBehind())
        return e;
    const uint64_t start = allocateRecords(in.size());
    if (int e = place(start)) {
        m_failed = true;
        return e;
    }
    for (size_t offset = 0; offset < in.size();) {
        ChunkHeader h;
        (void)parseChunkHeader(in.subspan(offset), &h);
        if (int e = addToTable(start + offset))
            return e;
        m_record.decodedLength += h.decodedLength;
        offset += kChunkHeaderSize + h.payloadLength;
    }
    m_record.storedSize += in.size();
    return rc::kOk;
}

int PartitionWriter::writeRaw(std::span<const std::byte> in, uint32_t *bytesWritten, uint32_t compression)
{
    // Every record of the buffer is checked before any is stored, so a bad buffer leaves the partition as it
    // was; they are written straight from the caller's buffer.
    if (int e = checkRawRecords(in, compression, false))
        return e;
    if (int e = storeRawRecords(in, [&](uint64_t start) { return m_file.writeAt(start, in); }))
        return e;
    *bytesWritten = static_cast<uint32_t>(in.size());
    return rc::kOk;
}

int PartitionWriter::copyRaw(ImageFile &source, uint64_t address, std::span<const std::byte> records,
                             uint32_t compression)
{
    if (int e = checkRawRecords(records, compression, true))
        return e;
    return storeRawRecords(records, [&](uint64_t start) {
        return m_file.copyFrom(source, address, start, records.size(), records);
    });
}

int PartitionWriter::finish(PartitionRecord *out)
{
    if (m_failed)
        return rc::kIoError;
    if (!m_bitmapWritten)
        return rc::kWrongSequence;
    // Data still missing is refused before the partial chunk in hand is stored: stored, it would be a short
    // chunk in the middle of the stream once the rest arrived.
    if (m_record.decodedLength + m_writeFill != m_record.expectedDecodedLength())
        return rc::kWrongSequence;
    if (m_writeFill > 0) {
        if (int e = storeChunk(std::span(m_writeBuffer).first(m_writeFill)))
            return e;
        m_writeFill = 0;
    }
    if (int e = flushWriteBehind())
        return e;

    if (m_chunkCount * 8 != m_record.chunkTable.length)
        return rc::kWrongSequence;
    if (int e = flushTable())
        return e;
    m_record.chunkCount = m_chunkCount;
    m_record.chunkTable.checksum = m_tableChecksum->digest();
    *out = m_record;
    return rc::kOk;
}

} // namespace imbrex::zbi
