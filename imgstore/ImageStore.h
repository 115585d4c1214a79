// The store object: everything done on an open image file goes through these operations. They act on the
// partition made current by SelectPartition (numbered from 1) and return 0 or a result code
// (common/ResultCodes.h). "Out" parameters are written only on success.
//
// The interface is abstract so that tests can drive its callers with a store of their own; ours is made by
// the exports in zbimgstr.h.
#pragma once

#include <cstdint>

#include "common/ResultCodes.h"

class ImageStore
{
public:
    // 1. Lifetime and partition count. Destroy frees the object; a partition added but not yet released is
    // discarded, never half kept.
    virtual void Destroy() = 0;
    [[nodiscard]] virtual int Close() = 0;
    [[nodiscard]] virtual uint32_t GetPartitionCount() = 0;

    // 2. Adding, selecting and deleting. AddPartition makes a new partition current; it becomes part of the
    // image when it is released with all of its data written.
    [[nodiscard]] virtual int AddPartition(uint32_t typeId, uint32_t fileSystemType, uint32_t sectorCount,
                                           char driveLetter, uint32_t compression, uint32_t reserved) = 0;
    [[nodiscard]] virtual int SelectPartition(uint32_t number, uint32_t reserved) = 0;
    [[nodiscard]] virtual int DeleteCurrentPartition() = 0;

    // 3. Block bitmap (bit b mod 8 of byte b / 8 is set when block b is stored) and the data stream: the used
    // blocks in block order. "Raw" forms move the stored form (compressed, encrypted) untouched, with the
    // compression code beside it; the others move plain bytes. Stream positions are decoded byte offsets.
    [[nodiscard]] virtual int ReadBlockBitmap(void *buffer, uint32_t size, uint32_t *sectorsPerBlock,
                                              uint32_t *bytesRead) = 0;
    [[nodiscard]] virtual int ReadBlockBitmapRaw(void *buffer, uint32_t size, uint32_t *bytesRead,
                                                 uint32_t *compression) = 0;
    [[nodiscard]] virtual int WriteBlockBitmap(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                               uint32_t blockCount, uint32_t usedBlockCount,
                                               uint32_t compression) = 0;
    [[nodiscard]] virtual int WriteBlockBitmapRaw(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                                  uint32_t blockCount, uint32_t usedBlockCount,
                                                  uint32_t compression) = 0;
    [[nodiscard]] virtual int SeekData(uint32_t positionLow, uint32_t positionHigh) = 0;
    [[nodiscard]] virtual int ReadData(void *buffer, uint32_t size, uint32_t *bytesRead) = 0;
    [[nodiscard]] virtual int ReadRawData(void *buffer, uint32_t size, uint32_t *bytesRead,
                                          uint32_t *compression) = 0;
    [[nodiscard]] virtual int WriteData(const void *buffer, uint32_t size, uint32_t *bytesWritten) = 0;
    [[nodiscard]] virtual int WriteRawData(const void *buffer, uint32_t size, uint32_t *bytesWritten,
                                           uint32_t compression) = 0;

    // 4. Image name (at most 99 bytes) and comment (at most 399 bytes); texts are NUL-terminated.
    [[nodiscard]] virtual int GetImageName(char *buffer, uint32_t size) = 0;
    [[nodiscard]] virtual int SetImageName(const char *text) = 0;
    [[nodiscard]] virtual int GetImageComment(char *buffer, uint32_t size) = 0;
    [[nodiscard]] virtual int SetImageComment(const char *text) = 0;

    // 5. Partition name (at most 99 bytes) and comment (at most 255 bytes). The "New" forms are used while a
    // partition is being added; the others change a partition that is already in the image.
    [[nodiscard]] virtual int GetPartitionName(char *buffer, uint32_t size) = 0;
    [[nodiscard]] virtual int SetNewPartitionName(const char *text) = 0;
    [[nodiscard]] virtual int SetPartitionName(const char *text) = 0;
    [[nodiscard]] virtual int GetPartitionComment(char *buffer, uint32_t size) = 0;
    [[nodiscard]] virtual int SetNewPartitionComment(const char *text) = 0;
    [[nodiscard]] virtual int SetPartitionComment(const char *text) = 0;

    // 6. Geometry and date.
    [[nodiscard]] virtual int GetPartitionTypeId(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetFileSystemType(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetBlockCount(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetSectorsPerBlock(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetSectorSize(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetPartitionDate(uint16_t *year, uint16_t *month, uint16_t *day) = 0;
    [[nodiscard]] virtual int SetPartitionDate(uint16_t year, uint16_t month, uint16_t day) = 0;
    [[nodiscard]] virtual int GetStoredSize(uint32_t *low, uint32_t *high, uint32_t reserved) = 0;

    // 7. Further attributes. Kind: 1 logical, 2 primary.
    [[nodiscard]] virtual int GetPartitionAttributeA(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionAttributeA(uint32_t value) = 0;
    [[nodiscard]] virtual int GetPartitionKind(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionKind(uint32_t value) = 0;
    [[nodiscard]] virtual int GetSectorCount(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetDriveLetter(char *out) = 0;
    [[nodiscard]] virtual int GetCompression(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetMinimumBufferSize(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetUsedBlockCount(uint32_t *out) = 0;
    [[nodiscard]] virtual int ReleasePartition(uint32_t reserved) = 0;

    // 8. Password value (0 = none), last used block and the attributes B, C and D.
    [[nodiscard]] virtual int GetPartitionPassword(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionPassword(uint32_t value) = 0;
    [[nodiscard]] virtual int GetLastUsedBlock(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetLastUsedBlock(uint32_t value) = 0;
    [[nodiscard]] virtual int GetPartitionAttributeB(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionAttributeB(uint32_t value) = 0;
    [[nodiscard]] virtual int GetPartitionAttributeC(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionAttributeC(uint32_t value) = 0;
    [[nodiscard]] virtual int GetPartitionAttributeD(uint32_t *out) = 0;
    [[nodiscard]] virtual int SetPartitionAttributeD(uint32_t value) = 0;

    // 9. Stream and selection state.
    [[nodiscard]] virtual int ResetStream() = 0;
    [[nodiscard]] virtual int ResetPartitionSelection(uint32_t reserved) = 0;
    [[nodiscard]] virtual int IsReadOnly(uint32_t *out) = 0;
    [[nodiscard]] virtual int IsSpanned(uint32_t *out) = 0;

    // 10. Resuming the data stream, identity and span records. A decoder state lets a reader resume a stream
    // that keeps state across chunks; tail bytes are bytes a decoder needs beyond a 64 KiB read to finish a
    // chunk. A span record is 8 bytes.
    [[nodiscard]] virtual uint64_t GetDataPosition() = 0;
    [[nodiscard]] virtual int GetTailByteCount(uint32_t *out) = 0;
    [[nodiscard]] virtual int SaveDecoderState(void *buffer) = 0;
    [[nodiscard]] virtual int RestoreDecoderState(const void *buffer) = 0;
    [[nodiscard]] virtual int GetDecoderStateSize(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetImageId(uint32_t *out) = 0;
    [[nodiscard]] virtual int GetPartitionNumber(uint32_t *out) = 0;
    [[nodiscard]] virtual int BuildSpanTable() = 0;
    [[nodiscard]] virtual int SetSpanTable(uint32_t count, const void *records) = 0;
    [[nodiscard]] virtual int GetSpanTable(uint32_t *count, const void **records) = 0;
    [[nodiscard]] virtual int SetCheckpointOffset(uint32_t offset) = 0;
    [[nodiscard]] virtual int SetTailShortfall(uint32_t shortfall) = 0;

    // 11. Passing over stream bytes that will not be used, as a reader that searches for a position does:
    // moves the position on by up to size bytes (fewer only at the end) and tells how many in *skipped.
    // A store that must decode to get past them answers kNotSupported and the caller reads instead.
    [[nodiscard]] virtual int SkipData(uint32_t size, uint32_t *skipped)
    {
        (void)size;
        (void)skipped;
        return imbrex::rc::kNotSupported;
    }

    // 12. Damage found when the image was opened. When the newest state the file records cannot be read, the
    // store shows the newest one it can read: *damaged is then 1, *shown is the generation shown and *newest
    // the newest one recorded (0 when not even its number can be read). Changes are refused with
    // kDamagedImageNotAccepted until AcceptDamage is called; from then on they build on the state shown, and
    // the newer one is given up.
    [[nodiscard]] virtual int GetDamage(uint32_t *damaged, uint64_t *shown, uint64_t *newest)
    {
        *damaged = 0;
        *shown = 0;
        *newest = 0;
        return imbrex::rc::kOk;
    }
    [[nodiscard]] virtual int AcceptDamage() { return imbrex::rc::kOk; }

    // 13. Checking a resume point that comes from outside the store, such as a checkpoint read from an index
    // file: the offset in the decoded data (the used blocks in block order) at which the chunk beginning at
    // stream position `position` starts, and that chunk's decoded length. The end of the stream counts as a
    // chunk of length 0. kInvalidArgument when no chunk begins there; a store that cannot tell answers
    // kNotSupported, and its resume points cannot be checked.
    [[nodiscard]] virtual int LocateChunk(uint64_t position, uint64_t *decodedStart, uint32_t *decodedLength)
    {
        (void)position;
        (void)decodedStart;
        (void)decodedLength;
        return imbrex::rc::kNotSupported;
    }

    // 14. Copying the stored form from another store: moves whole records of source's current partition, from
    // its raw position on, into the partition being added here, as WriteRawData would take what ReadRawData
    // gives, at most size bytes at a time (at least one record); *bytesMoved is 0 at the end. A store that
    // cannot do this with source answers kNotSupported, and the caller moves the records through a buffer.
    [[nodiscard]] virtual int CopyRawDataFrom(ImageStore &source, uint32_t size, uint32_t *bytesMoved)
    {
        (void)source;
        (void)size;
        (void)bytesMoved;
        return imbrex::rc::kNotSupported;
    }

protected:
    ImageStore() = default;
    virtual ~ImageStore() = default;
    ImageStore(const ImageStore &) = delete;
    ImageStore &operator=(const ImageStore &) = delete;
};
