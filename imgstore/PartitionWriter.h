// A partition being added: its block bitmap, then its data stream, then the table of where its chunks lie.
//
// Everything goes to space the free-space map hands out, which nothing committed uses; the partition joins
// the catalog only when finish() has written all of it. Records that follow each other in the file are
// gathered and written together. The data arrives either plain, cut into chunks and encoded here (and
// encrypted for a protected partition), or as stored records copied from another image, checked and written
// as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Checksum.h"
#include "ChunkCodec.h"
#include "ImageFile.h"
#include "Keyring.h"
#include "SpaceMap.h"
#include "ZbiFormat.h"

namespace imbrex::zbi {

class PartitionWriter
{
public:
    PartitionWriter(ImageFile &file, SpaceMap &space) : m_file(file), m_space(space) {}
    PartitionWriter(const PartitionWriter &) = delete;
    PartitionWriter &operator=(const PartitionWriter &) = delete;

    // Begins a partition with p's attributes; whatever was begun before is dropped.
    void start(const PartitionRecord &p);
    // Drops the partition; the space it took is the caller's to give back.
    void stop();

    // The record as it grows; attributes may change until finish().
    PartitionRecord &record() { return m_record; }
    const PartitionRecord &record() const { return m_record; }
    bool bitmapWritten() const { return m_bitmapWritten; }
    // The decoded bytes taken so far.
    uint64_t position() const { return m_record.decodedLength + m_writeFill; }

    int writeBitmap(const void *bits, uint32_t size, uint32_t sectorsPerBlock, uint32_t blockCount,
                    uint32_t usedBlockCount, uint32_t compression);
    int writeBitmapRaw(const void *stored, uint32_t size, uint32_t sectorsPerBlock, uint32_t blockCount,
                       uint32_t usedBlockCount, uint32_t compression);
    int write(std::span<const std::byte> data, uint32_t *bytesWritten);
    int writeRaw(std::span<const std::byte> records, uint32_t *bytesWritten, uint32_t compression);
    // Stored records of another image, checked there already, found at address of source as records: they
    // are copied file to file where the system can.
    int copyRaw(ImageFile &source, uint64_t address, std::span<const std::byte> records,
                uint32_t compression);
    // Writes what is still held and the chunk table; then *out is the finished record. On failure the
    // partition stays begun.
    int finish(PartitionRecord *out);

private:
    int checkGeometry(uint32_t sectorsPerBlock, uint32_t blockCount, uint32_t usedBlockCount,
                      uint32_t compression) const;
    int storeBitmap(std::span<const std::byte> stored, uint32_t sectorsPerBlock, uint32_t blockCount,
                    uint32_t usedBlockCount);
    // Space for size more bytes of records, after the last ones where it is free.
    uint64_t allocateRecords(uint64_t size);
    int storeRecord(std::span<const std::byte> header, std::span<const std::byte> payload);
    int flushWriteBehind();
    // Records where the next chunk's record lies.
    int addToTable(uint64_t offset);
    int flushTable();
    int storeChunk(std::span<const std::byte> plain);
    // Checks that records, stored records, continue the partition.
    int checkRawRecords(std::span<const std::byte> records, uint32_t compression,
                        bool checksumsVerified) const;
    // Gives records their place after the records stored, where place(address) puts them.
    template <typename Place> int storeRawRecords(std::span<const std::byte> records, Place place);

    ImageFile &m_file;
    SpaceMap &m_space;
    PartitionRecord m_record;
    bool m_bitmapWritten = false;
    bool m_failed = false;                           // a write failed: the partition can only be dropped
    bool m_rawWrites = false;                        // stored records came in, so plain data may not follow
    uint64_t m_chunkCount = 0;                       // records stored
    std::vector<std::byte> m_tableBehind;            // chunk table entries not yet written
    uint64_t m_tableWritten = 0;                     // bytes of the chunk table written
    std::unique_ptr<ChecksumStream> m_tableChecksum; // of the table bytes written
    std::vector<std::byte> m_writeBuffer;            // a partial chunk of write()
    size_t m_writeFill = 0;
    std::vector<std::byte> m_writeBehind; // records not yet written, contiguous from m_writeBehindOffset
    uint64_t m_writeBehindOffset = 0;
    std::unique_ptr<ChunkEncoder> m_encoder;
    std::vector<std::byte> m_payload; // an encoded payload
    std::optional<PartitionKey> m_key;
};

} // namespace imbrex::zbi
