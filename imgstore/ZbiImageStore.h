// Our image store: one image file in the format of docs/image-format.md.
//
// This class keeps the selection and the attributes and hands the work to three parts: CatalogCommitter
// (the catalog, free space and every change made durable), ChunkReader (the data of a stored partition,
// checked, decoded and kept) and PartitionWriter (a partition being added).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CatalogCommitter.h"
#include "ChunkReader.h"
#include "IMGSTORE_UI_CALLBACK.h"
#include "ImageFile.h"
#include "ImageStore.h"
#include "PartitionWriter.h"
#include "ZbiFormat.h"

namespace imbrex::zbi {

class ZbiImageStore final : public ImageStore
{
public:
    static int open(const std::string &path, bool writable, IMGSTORE_UI_CALLBACK *callback,
                    std::unique_ptr<ZbiImageStore> *out);
    static int create(const std::string &path, uint32_t splitSize, IMGSTORE_UI_CALLBACK *callback,
                      std::unique_ptr<ZbiImageStore> *out);

    ~ZbiImageStore() override;

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
    int SkipData(uint32_t size, uint32_t *skipped) override;
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
    int GetDamage(uint32_t *damaged, uint64_t *shown, uint64_t *newest) override;
    int AcceptDamage() override;
    int LocateChunk(uint64_t position, uint64_t *decodedStart, uint32_t *decodedLength) override;
    int CopyRawDataFrom(ImageStore &source, uint32_t size, uint32_t *bytesMoved) override;

private:
    enum class Selection
    {
        None,
        Existing, // a committed partition, m_selected is its index
        Pending,  // a partition being added, in m_writer
    };

    ZbiImageStore(std::string path, bool writable, IMGSTORE_UI_CALLBACK *callback);

    void dropPending();
    int finishPending();
    void fillSpanTable();
    void clearSelection();

    // The partition that getters read; nullptr when nothing is selected.
    const PartitionRecord *current() const;
    int checkUsable() const;
    int checkWritable() const;
    // Checks that a partition is selected for reading.
    int checkReading() const;
    // Applies change to the current partition: at once and durably for a committed partition, in memory for
    // one being added.
    template <typename Change> int changePartition(Change change);
    template <typename Field> int readField(uint32_t *out, Field field);
    template <typename Field> int writeField(uint32_t value, Field field);

    int ensureStoredBitmap();

    std::string m_path;
    bool m_writable;
    IMGSTORE_UI_CALLBACK *m_callback;
    ImageFile m_file;
    bool m_closed = false;
    CatalogCommitter m_committer;

    Selection m_selection = Selection::None;
    size_t m_selected = 0;
    ChunkReader m_reader;
    PartitionWriter m_writer;
    std::vector<std::byte> m_storedBitmap; // of the selected partition, once read
    bool m_bitmapLoaded = false;
    std::vector<std::byte> m_spanTable;
};

} // namespace imbrex::zbi
