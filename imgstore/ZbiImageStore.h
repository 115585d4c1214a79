// Our image store: one image file in the format of docs/image-format.md.
//
// Changes are copy-on-write. New data, tables and catalogs go only to space that the committed catalog does
// not use; a change becomes part of the image when a superblock naming the new catalog is written into one
// slot, after everything it names has been synced, and then into the other. A crash at any moment therefore
// leaves the old or the new image, a landed change is held by both slots, and space given back by a change is
// reused from the next change on.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChunkCodec.h"
#include "DecodeAhead.h"
#include "IMGSTORE_UI_CALLBACK.h"
#include "ImageFile.h"
#include "ImageStore.h"
#include "Keyring.h"
#include "SpaceMap.h"
#include "ZbiFormat.h"
#include "platform/File.h"

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

private:
    enum class Selection
    {
        None,
        Existing, // a committed partition, m_selected is its index
        Pending,  // a partition being added, m_pending
    };

    ZbiImageStore(std::string path, bool writable, IMGSTORE_UI_CALLBACK *callback);

    int load();
    // Reads and checks the catalog sb names.
    int loadCatalog(const Superblock &sb, Catalog *out);
    int commit(Catalog next);
    // Rebuilds the free space and cuts the file back to what the catalog in hand and the committed one use,
    // after work was abandoned; the cut only where the store may write and knows what the disk holds.
    void giveBackSpace();
    // Space that must not be written: the committed catalog's and the current (or next) catalog's.
    std::vector<Extent> extentsInUse(const Catalog *next = nullptr) const;
    void dropPending();
    void fillSpanTable();
    void clearSelection();

    // The partition that getters read; nullptr when nothing is selected.
    const PartitionRecord *current() const;
    int checkUsable() const;
    int checkWritable() const;
    // Applies change to the current partition: at once and durably for a committed partition, in memory for
    // one being added.
    template <typename Change> int changePartition(Change change);
    template <typename Field> int readField(uint32_t *out, Field field);
    template <typename Field> int writeField(uint32_t value, Field field);

    int ensureChunkTable();
    int ensureStoredBitmap();
    int ensureKey();
    void applyKey(uint64_t index, std::span<std::byte> data) const;
    static bool recordFits(const PartitionRecord &p, uint32_t codec);
    // What record index of the selected partition must be.
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
    // After the reader missed chunk index: hands the chunks it will want next to the workers.
    void scheduleAhead(uint64_t index);
    int ensureDecoded(uint64_t index, const std::vector<std::byte> **out);
    struct DecodedChunk;
    DecodedChunk *cachedChunk(uint64_t index);
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
    int storeRecord(std::span<const std::byte> header, std::span<const std::byte> payload);
    int flushWriteBehind();
    int storeChunk(std::span<const std::byte> plain);
    int checkPendingGeometry(uint32_t sectorsPerBlock, uint32_t blockCount, uint32_t usedBlockCount,
                             uint32_t compression) const;
    int storeBitmap(std::span<const std::byte> stored, uint32_t sectorsPerBlock, uint32_t blockCount,
                    uint32_t usedBlockCount);
    int finishPending();

    std::string m_path;
    bool m_writable;
    IMGSTORE_UI_CALLBACK *m_callback;
    ImageFile m_file;
    bool m_closed = false;
    // Set when a commit failed after its superblock write began: the state on disk is no longer known, so
    // every further change is refused until the image is opened again.
    bool m_broken = false;
    // Partitions were released into m_catalog that no commit has written yet.
    bool m_uncommitted = false;
    // The slots (bit i for slot i) that hold the committed state; a commit writes the others first.
    unsigned m_currentSlots = 0;
    // Set when the file records a newer state than the one shown, which could not be read.
    bool m_damaged = false;
    uint64_t m_newestGeneration = 0; // of that newer state; 0 when not even its number could be read
    bool m_damageAccepted = false;

    Superblock m_super;
    Catalog m_catalog;   // the image as callers see it, with released partitions not committed yet
    Catalog m_committed; // the image as the disk's current superblock names it
    SpaceMap m_space;

    Selection m_selection = Selection::None;
    size_t m_selected = 0;
    PartitionRecord m_pending;
    bool m_pendingBitmapWritten = false;
    bool m_pendingFailed = false;
    bool m_pendingRawWrites = false;

    // Data of the selected partition.
    std::vector<uint64_t> m_chunkOffsets;
    bool m_chunkTableLoaded = false;
    std::vector<std::byte> m_storedBitmap;
    bool m_bitmapLoaded = false;
    uint64_t m_position = 0;
    uint64_t m_rawChunk = 0;
    std::unique_ptr<std::byte[]> m_window; // file bytes from m_windowBase on, read ahead for the records
    size_t m_windowLength = 0;
    uint64_t m_windowBase = UINT64_MAX;
    uint32_t m_forwardRecords = 0;            // records read one after another, to size the read ahead
    std::span<const std::byte> m_recordBytes; // the record readRecord checked last, inside m_window
    uint64_t m_checkedRecord = UINT64_MAX;    // its index while m_recordBytes still holds it
    ChunkHeader m_checkedHeader;
    struct DecodedChunk
    {
        uint64_t index = UINT64_MAX;
        uint64_t stamp = 0;
        std::vector<std::byte> bytes;
    };
    std::array<DecodedChunk, 256> m_decodedChunks; // 16 MiB
    uint64_t m_decodedClock = 0;
    size_t m_lastFound = 0;           // the decoded chunk cachedChunk found last
    uint64_t m_readGeneration = 0;    // changes whenever what the decoded chunks belong to changes
    uint64_t m_aheadRequest = 0;      // counts the reader's requests to the worker
    uint64_t m_lastMiss = UINT64_MAX; // the chunk decoded last, to tell forward reading from jumps
    DecodeAhead m_ahead;
    std::vector<std::byte> m_aheadBytes;  // a chunk taken from the workers on its way to the caller
    uint64_t m_lastRecord = UINT64_MAX;   // the record read last, to tell forward reading from jumps
    std::vector<std::byte> m_writeBuffer; // a partial chunk of WriteData
    size_t m_writeFill = 0;
    std::vector<std::byte> m_writeBehind; // records not yet written, contiguous from m_writeBehindOffset
    uint64_t m_writeBehindOffset = 0;
    std::unique_ptr<ChunkEncoder> m_encoder; // of the partition being added
    ChunkDecoder m_decoder;
    std::vector<std::byte> m_payload; // an encoded or decrypted payload
    std::optional<PartitionKey> m_key;
    std::vector<std::byte> m_spanTable; // of the selected protected partition, once found
};

} // namespace imbrex::zbi
