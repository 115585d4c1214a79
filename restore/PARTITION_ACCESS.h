// PARTITION_ACCESS: one partition of an image, read as if it were a disk. It is opened on the partition that
// is selected in the store, serves every sector read of the volume readers (it is the engine's current
// SectorSource while it is open), mounts the FAT or NTFS reader, and offers the file and directory operations
// that the browser and extraction call.
//
// An image stores only the used blocks of a partition, one after another. A sector is found through the
// block bitmap (STATE_MAP) and the in-memory index: the skip table for a partition read as plain bytes, the
// checkpoints for one read through the store's decompressing stream. Compressed data is decoded in 64 KiB
// chunks into the four buffers of the process-wide PA_CACHE ring.
//
// Only one PARTITION_ACCESS may be open at a time: the cache ring, its clock and the current sector source
// are shared by the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/DIRLIST.h"
#include "engine/FAT_FILE.h"
#include "engine/FAT_VOLUME.h"
#include "engine/PARTITION_INFO.h"
#include "engine/SectorSource.h"
#include "engine/VOLUME_BASE.h"
#include "imgstore/ImageStore.h"
#include "index/ImageIndex.h"
#include "index/IndexCallbacks.h"
#include "restore/PA_CACHE.h"
#include "restore/STATE_MAP.h"
#include "restore/VolumeFiles.h"

namespace imbrex::restore {

// Bits of PARTITION_ACCESS::Flags().
inline constexpr uint32_t kFlagSpanned = 0x1;
inline constexpr uint32_t kFlagCompressed = 0x2;

class PARTITION_ACCESS final : public engine::SectorSource
{
public:
    PARTITION_ACCESS() = default;
    ~PARTITION_ACCESS() override;
    PARTITION_ACCESS(const PARTITION_ACCESS &) = delete;
    PARTITION_ACCESS &operator=(const PARTITION_ACCESS &) = delete;

    // Opens the store's selected partition and mounts its volume. indexPath is the index file associated
    // with the image (may be empty); when it cannot be read, problems decides what happens (no handler: go
    // on with a temporary index). 0 or the first error; the object is destroyed by its owner either way.
    [[nodiscard]] int Open(ImageStore *store, const std::string &indexPath,
                           index::IndexProblemHandler *problems = nullptr);
    // Everything Open does except mounting a volume: enough for reading sectors and for index files.
    [[nodiscard]] int OpenSectors(ImageStore *store, const std::string &indexPath,
                                  index::IndexProblemHandler *problems = nullptr);
    // Mounts the reader that the partition's file-system code selects; 47 when there is none.
    [[nodiscard]] int MountVolume();
    // Releases the volume, the current file, the listing, the index, the bitmap and (for a compressed
    // partition) the cache ring, and stops being the current sector source. Safe to call more than once.
    void Destroy();

    // Copies count sectors starting at partition sector `sector` into buffer (count x 512 bytes). The sectors
    // must lie in stored blocks that follow each other, as a cluster of the volume does. 56 beyond the last
    // used block, 305 in a block that is not stored (nothing changes then), 7 when the index progress was
    // cancelled, otherwise 0 or the store's code.
    [[nodiscard]] int ReadSectors(uint32_t sector, void *buffer, uint32_t count) override;

    // Shown while a compressed read extends the checkpoints; nullptr shows nothing. Not owned.
    void SetIndexProgress(index::IndexProgress *progress) { m_progress = progress; }

    // Index files (see index/IndexFile.h).
    [[nodiscard]] int ReadIndexFile(const std::string &path);
    // Extends the index to the end of the partition, then appends it to the file.
    [[nodiscard]] int WriteIndexFile(const std::string &path);
    [[nodiscard]] bool CheckIndexFile(const std::string &path);

    // File and directory operations on the mounted volume.
    int IsFatVolume() const { return FatVolume() != nullptr ? 1 : 0; }
    // Opens path as the current file; kind becomes kFileKindSingleStream, or kFileKindSeveralStreams for an
    // NTFS file with more than one data stream.
    [[nodiscard]] int OpenFile(const std::string &path, int *kind);
    // NTFS only: opens the file of a listed record as the current file.
    [[nodiscard]] int OpenRecord(uint32_t recordNumber, int *kind);
    // FAT only (1 on NTFS): a file made from a listed 32-byte entry, handed to the caller through out, or
    // made the current file when out is nullptr. 1806 when it cannot be allocated.
    [[nodiscard]] int OpenEntry(const uint8_t *rawEntry, std::unique_ptr<engine::FAT_FILE> *out = nullptr);
    // The size of the current file; 0xFFFFFFFF for an NTFS file larger than 32 bits can count; 0 without one.
    uint32_t GetFileSize() const;
    // The whole size of the current file, also beyond 4 GiB.
    uint64_t GetFileSize64() const;
    // The next count bytes of the current file (FAT: 56 when fewer remain).
    [[nodiscard]] int ReadFile(void *buffer, uint32_t count);
    [[nodiscard]] int CloseFile();
    // Where a listed file's data begins on the volume, in clusters: on FAT the file of a listed 32-byte
    // entry, on NTFS the file of a listed record.
    [[nodiscard]] int DataStart(const uint8_t *rawEntry, uint32_t recordNumber, uint64_t *cluster);
    // Puts the store's data stream back at its start. Every reset of the stream must come through here while
    // the partition is open: the cache would otherwise go on decoding as if the stream stood behind its
    // newest buffer.
    [[nodiscard]] int ResetStream();
    // Lists a directory into a new DIRLIST. FAT: "\" is the root, an empty path with directoryFile lists that
    // directory, any other path is looked up; openedDirectory receives the directory opened by path. NTFS
    // lists by path.
    [[nodiscard]] int ListDirectoryFrom(const std::string &path, engine::FAT_FILE *directoryFile = nullptr,
                                        std::unique_ptr<engine::FAT_FILE> *openedDirectory = nullptr);
    // FAT: opens rawEntry as the current file and lists it; NTFS: lists path.
    [[nodiscard]] int ListDirectory(const std::string &path, const uint8_t *rawEntry,
                                    std::unique_ptr<engine::FAT_FILE> *openedDirectory = nullptr);
    engine::DIRLIST *GetDirList() const { return m_dirList.get(); }

    // State, for the windows and for tests.
    uint32_t Flags() const { return m_flags; }
    uint32_t CompressionType() const { return m_compressionType; }
    uint32_t BlockCount() const { return m_blockCount; }
    uint32_t SectorsPerBlock() const { return m_sectorsPerBlock; }
    uint32_t BytesPerSector() const { return m_bytesPerSector; }
    uint32_t BlockBytes() const { return m_blockBytes; }
    uint32_t LastUsedBlock() const { return m_lastUsedBlock; }
    uint8_t FileSystemCode() const { return m_partitionInfo ? m_partitionInfo->fileSystemCode : 0; }
    const STATE_MAP &StateMap() const { return m_stateMap; }
    const index::ImageIndex &Index() const { return m_index; }
    const engine::PARTITION_INFO *PartitionInfo() const { return m_partitionInfo.get(); }
    engine::FAT_VOLUME *FatVolume() const { return m_files ? m_files->fatVolume() : nullptr; }
    engine::VOLUME_BASE *Volume() const { return m_files ? &m_files->volume() : nullptr; }

private:
    struct Walk; // where a run of fills stands

    int openSteps(const std::string &indexPath, index::IndexProblemHandler *problems);
    int loadIndex(const std::string &indexPath, index::IndexProblemHandler *problems);
    int readUncompressed(uint32_t sector, void *buffer, uint32_t count);
    int readCompressed(uint32_t sector, std::byte *out, uint32_t count);
    int resumeAt(const index::Checkpoint &checkpoint);
    // The blocks that begin in a chunk of length bytes whose first block begins at firstOffset.
    struct ChunkBlocks
    {
        uint64_t next = 0;       // the first block that begins after the chunk
        uint64_t nextOffset = 0; // where it begins, counted from the chunk's start
        uint64_t wantedOffset = UINT64_MAX;
        bool any = false;
    };
    ChunkBlocks blocksBeginningIn(uint32_t firstBlock, uint64_t firstOffset, uint64_t length,
                                  uint32_t wanted) const;
    int fill(PA_CACHE &node, uint32_t firstBlock, uint32_t firstOffset, uint32_t wanted, bool extend,
             uint64_t *wantedOffset);
    int decodeNext(PA_CACHE *&from, const index::Checkpoint &checkpoint);
    PA_CACHE *nodeStartingWith(uint32_t block, uint32_t offset) const;

    STATE_MAP m_stateMap;
    uint32_t m_blockCount = 0;
    uint32_t m_sectorsPerBlock = 0;
    uint32_t m_bytesPerSector = 0;
    uint32_t m_lastUsedBlock = 0;
    uint32_t m_blockBytes = 0;
    ImageStore *m_store = nullptr;
    std::unique_ptr<engine::PARTITION_INFO> m_partitionInfo;
    std::unique_ptr<VolumeFiles> m_files; // the mounted volume, with its current file
    std::unique_ptr<engine::DIRLIST> m_dirList;
    index::ImageIndex m_index;
    uint32_t m_compressionType = 0;
    uint32_t m_flags = 0;
    bool m_ownsCache = false;
    bool m_open = false;
    index::IndexProgress *m_progress = nullptr;
};

} // namespace imbrex::restore
