// FAT_VOLUME: a read-only FAT12/FAT16/FAT32 reader for file restore. Mount reads the boot sector; the FAT
// is read and decoded as chains reach its entries. Directories are listed (with long names) into a DIRLIST,
// files and directories are found by their 8.3 path components, and files are read by following their
// cluster chains.
//
// The volume is untrusted data. Mount refuses geometry that cannot describe a volume inside its partition;
// every cluster chain is checked for loops and for cluster numbers outside the FAT before it is followed,
// a directory may hold at most kMaxDirectoryEntries entries, and a path may not pass through the same
// directory twice.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/DIRLIST.h"
#include "engine/EngineMemory.h"
#include "engine/FAT_FILE.h"
#include "engine/FAT_VARS.h"
#include "engine/VOLUME_BASE.h"

namespace imbrex::engine {

inline constexpr uint32_t kMaxDirectoryEntries = 65536;
// Characters a long name can collect: 20 entries of 13.
inline constexpr size_t kMaxLongNameEntries = 20;
inline constexpr size_t kLongNameChars = kMaxLongNameEntries * 13;

class FAT_VOLUME : public VOLUME_BASE
{
public:
    explicit FAT_VOLUME(PARTITION_INFO *partition);
    ~FAT_VOLUME() override;

    [[nodiscard]] int Mount() override;
    void Release() override;

    // Finds the entry named by path ("\DOCS\README.TXT", optionally after a drive "C:"), matching each
    // component against the 8.3 names. Components before the last must be directories; the last one must
    // have every bit of attributeMask. 504 when a component is not found.
    [[nodiscard]] int FindPath(const char *path, uint8_t attributeMask,
                               std::array<uint8_t, FatDirEntry::kBytes> &entry, FatEntryLocation &location);
    // FindPath and a new FAT_FILE for what it found. 3 when the file cannot be allocated.
    [[nodiscard]] int OpenPath(const char *path, std::unique_ptr<FAT_FILE> &file, uint8_t attributeMask = 0);
    // A new FAT_FILE for a listed 32-byte directory entry. 3 when it cannot be allocated.
    [[nodiscard]] int MakeFile(const uint8_t *rawEntry, std::unique_ptr<FAT_FILE> &file);

    [[nodiscard]] int Seek(FAT_FILE &file, uint32_t position);
    // Reads exactly count bytes at the file's position; 56 when fewer remain.
    [[nodiscard]] int ReadFile(FAT_FILE &file, void *buffer, uint32_t count);

    // Lists a directory into dirList: path "\" is the root; an empty path with directoryFile lists that
    // directory; any other path is looked up. When openedDirectory is given, the directory file opened by
    // path goes to the caller on success. longNames 0 lists 8.3 names only.
    [[nodiscard]] int ListDirectory(DIRLIST &dirList, const char *path, FAT_FILE *directoryFile,
                                    std::unique_ptr<FAT_FILE> *openedDirectory, int longNames);

    const FAT_VARS *Vars() const { return m_vars.get(); }
    bool FatLoaded() const { return m_vars != nullptr && m_vars->fatLoaded(); }
    uint32_t BytesPerCluster() const { return m_bytesPerCluster; }
    uint32_t SectorsPerCluster() const { return m_sectorsPerCluster; }
    // The first cluster of the directory entries' start cluster, as this volume reads it.
    uint32_t StartCluster(const uint8_t *rawEntry) const;
    // What identifies a directory on this volume, for a DirectoryTrail: its first cluster, with every way of
    // naming the root (clusters 0 and 1, and on FAT32 the root cluster) giving the root's. rawEntry nullptr
    // is the root.
    uint32_t DirectoryIdentity(const uint8_t *rawEntry) const;

private:
    class DirectoryWalk;

    int readVolumeSectors(uint32_t sector, void *buffer, uint32_t count);
    int loadCluster(uint32_t cluster);
    int checkChain(uint32_t start, int freeCode) const;
    uint32_t directoryIdentity(uint32_t firstCluster) const;
    int listEntries(DIRLIST &dirList, DirectoryWalk &walk, int longNames);

    std::unique_ptr<FAT_VARS> m_vars;
    EngineBuffer m_clusterBuffer;
    uint32_t m_bufferedCluster = 0; // cluster held in m_clusterBuffer, 0 when none
    uint32_t m_bytesPerCluster = 0;
    uint32_t m_sectorsPerCluster = 0;
    uint32_t m_readScale = 1; // scaled logical sectors per volume sector
};

} // namespace imbrex::engine
