// An image store kept in memory for tests of the store's callers. It holds partitions with the attributes the
// callers read, can be told to fail a selection with a code, and records every call in order.
//
// Destroy only records the call: the test owns the object, so it can still look at the record after a caller
// gave the store up.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imgstore/ImageStore.h"

namespace imbrex::test {

struct FakePartition
{
    std::string name;
    std::string comment;
    char driveLetter = 'C';
    uint32_t typeId = 0x07;
    uint32_t fileSystemType = 4;
    uint32_t kind = 2;
    uint16_t year = 2024;
    uint16_t month = 1;
    uint16_t day = 1;
    uint32_t sectorCount = 0;
    uint32_t sectorSize = 512;
    uint32_t compression = 0;
    uint32_t spanned = 0;
    uint32_t password = 0;
    uint32_t blockCount = 0;
    uint32_t sectorsPerBlock = 8;
    uint32_t usedBlockCount = 0;
    uint64_t storedSize = 0;
    // Returned by SelectPartition; the partition still becomes current, as a spanned one does.
    int selectError = 0;

    // Data for readers of the partition: the block bitmap as ReadBlockBitmap delivers it (bit b mod 8 of byte
    // b / 8), the decoded data stream, and what GetLastUsedBlock reports.
    std::vector<uint8_t> bitmap;
    std::vector<uint8_t> stream;
    uint32_t lastUsedBlock = 0;
    // A decompressing stream of chunks of 65536 + tailBytes bytes: after the first 65536 bytes of a chunk
    // have been read, GetTailByteCount reports the rest of it.
    uint32_t tailBytes = 0;
    // When not 0, the stream keeps a decoder state of this many bytes (at least 8): after every SeekData it
    // must be given the state saved at that very position before it reads again, else ReadData fails
    // with 1902.
    uint32_t decoderStateSize = 0;
};

// A scripted failure: the nth call (from 1) of the named operation, counted from when it was set, fails
// with code.
struct FakeFault
{
    std::string operation;
    int nth = 1;
    int code = 0;
};

class FakeStore : public ImageStore
{
public:
    FakeStore() = default;
    ~FakeStore() override = default;

    std::string imageName;
    std::string imageComment;
    bool readOnly = false;
    int closeError = 0;
    std::vector<FakePartition> partitions;
    uint32_t imageId = 0;
    std::vector<uint8_t> spanRecords;
    int buildSpanTableError = 0;
    int setSpanTableError = 0;
    std::vector<FakeFault> faults;
    // What the stream was last told.
    uint32_t lastTailShortfall = 0;
    uint32_t lastCheckpointOffset = 0;
    // Set false to keep the call record short in long runs.
    bool recordCalls = true;

    // Every call in order, as "Name" or "Name(argument)" for the calls whose argument matters to callers:
    // SelectPartition(number), ReleasePartition(value), ResetPartitionSelection(value), and the buffer size
    // of the text reads, e.g. "GetPartitionName(100)".
    std::vector<std::string> calls;
    bool destroyed = false;

    // The calls whose name starts with prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string &prefix) const;
    // Whether every selection was followed by a release before the next selection or the end of the record.
    bool everySelectionReleased() const;

    void Destroy() override;
    int Close() override;
    uint32_t GetPartitionCount() override;

    int AddPartition(uint32_t typeId, uint32_t fileSystemType, uint32_t sectorCount, char driveLetter,
                     uint32_t compression, uint32_t reserved) override;
    int SelectPartition(uint32_t number, uint32_t reserved) override;
    int DeleteCurrentPartition() override;

    int ReadBlockBitmap(void *buffer, uint32_t size, uint32_t *sectorsPerBlock, uint32_t *bytesRead) override;
    int ReadBlockBitmapRaw(void *buffer, uint32_t size, uint32_t *bytesRead, uint32_t *compression) override;
    int WriteBlockBitmap(const void *buffer, uint32_t size, uint32_t sectorsPerBlock, uint32_t blockCount,
                         uint32_t usedBlockCount, uint32_t compression) override;
    int WriteBlockBitmapRaw(const void *buffer, uint32_t size, uint32_t sectorsPerBlock, uint32_t blockCount,
                            uint32_t usedBlockCount, uint32_t compression) override;
    int SeekData(uint32_t positionLow, uint32_t positionHigh) override;
    int ReadData(void *buffer, uint32_t size, uint32_t *bytesRead) override;
    int ReadRawData(void *buffer, uint32_t size, uint32_t *bytesRead, uint32_t *compression) override;
    int WriteData(const void *buffer, uint32_t size, uint32_t *bytesWritten) override;
    int WriteRawData(const void *buffer, uint32_t size, uint32_t *bytesWritten,
                     uint32_t compression) override;

    int GetImageName(char *buffer, uint32_t size) override;
    int SetImageName(const char *text) override;
    int GetImageComment(char *buffer, uint32_t size) override;
    int SetImageComment(const char *text) override;

    int GetPartitionName(char *buffer, uint32_t size) override;
    int SetNewPartitionName(const char *text) override;
    int SetPartitionName(const char *text) override;
    int GetPartitionComment(char *buffer, uint32_t size) override;
    int SetNewPartitionComment(const char *text) override;
    int SetPartitionComment(const char *text) override;

    int GetPartitionTypeId(uint32_t *out) override;
    int GetFileSystemType(uint32_t *out) override;
    int GetBlockCount(uint32_t *out) override;
    int GetSectorsPerBlock(uint32_t *out) override;
    int GetSectorSize(uint32_t *out) override;
    int GetPartitionDate(uint16_t *year, uint16_t *month, uint16_t *day) override;
    int SetPartitionDate(uint16_t year, uint16_t month, uint16_t day) override;
    int GetStoredSize(uint32_t *low, uint32_t *high, uint32_t reserved) override;

    int GetPartitionAttributeA(uint32_t *out) override;
    int SetPartitionAttributeA(uint32_t value) override;
    int GetPartitionKind(uint32_t *out) override;
    int SetPartitionKind(uint32_t value) override;
    int GetSectorCount(uint32_t *out) override;
    int GetDriveLetter(char *out) override;
    int GetCompression(uint32_t *out) override;
    int GetMinimumBufferSize(uint32_t *out) override;
    int GetUsedBlockCount(uint32_t *out) override;
    int ReleasePartition(uint32_t reserved) override;

    int GetPartitionPassword(uint32_t *out) override;
    int SetPartitionPassword(uint32_t value) override;
    int GetLastUsedBlock(uint32_t *out) override;
    int SetLastUsedBlock(uint32_t value) override;
    int GetPartitionAttributeB(uint32_t *out) override;
    int SetPartitionAttributeB(uint32_t value) override;
    int GetPartitionAttributeC(uint32_t *out) override;
    int SetPartitionAttributeC(uint32_t value) override;
    int GetPartitionAttributeD(uint32_t *out) override;
    int SetPartitionAttributeD(uint32_t value) override;

    int ResetStream() override;
    int ResetPartitionSelection(uint32_t reserved) override;
    int IsReadOnly(uint32_t *out) override;
    int IsSpanned(uint32_t *out) override;

    uint64_t GetDataPosition() override;
    int GetTailByteCount(uint32_t *out) override;
    int SaveDecoderState(void *buffer) override;
    int RestoreDecoderState(const void *buffer) override;
    int GetDecoderStateSize(uint32_t *out) override;
    int GetImageId(uint32_t *out) override;
    int GetPartitionNumber(uint32_t *out) override;
    int BuildSpanTable() override;
    int SetSpanTable(uint32_t count, const void *records) override;
    int GetSpanTable(uint32_t *count, const void **records) override;
    int SetCheckpointOffset(uint32_t offset) override;
    int SetTailShortfall(uint32_t shortfall) override;
    int LocateChunk(uint64_t position, uint64_t *decodedStart, uint32_t *decodedLength) override;

    // The stream position of the selected partition.
    uint64_t position() const { return m_position; }
    // Number of calls of the named operation since the store was made.
    size_t count(const std::string &operation) const;

private:
    void record(std::string call)
    {
        if (recordCalls)
            calls.push_back(std::move(call));
    }
    // The code of a scripted failure of this call of operation, or 0.
    int fault(const std::string &operation);
    // For the operations the fake does not model: record the call and succeed.
    int recordOk(const char *name)
    {
        record(name);
        return 0;
    }
    int recordOut(const char *name, uint32_t *out, uint32_t value)
    {
        record(name);
        *out = value;
        return 0;
    }
    // The current partition, or nullptr when none is selected.
    FakePartition *current();
    template <typename T> int getAttribute(const char *name, T *out, T FakePartition::*member);
    int setAttribute(const char *name, uint32_t value, uint32_t FakePartition::*member);

    size_t m_current = 0; // 1-based; 0 = none
    uint64_t m_position = 0;
    bool m_needState = false;
    std::vector<std::pair<std::string, size_t>> m_counts;
};

} // namespace imbrex::test
