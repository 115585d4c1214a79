// VolumeFiles: the file and directory operations of one mounted volume, with the file that is open on it. A
// partition picks its implementation once, when the volume is mounted (mountVolumeFiles), and from then on
// every file operation goes straight to the reader that serves it; adding a reader is one implementation and
// one line in mountVolumeFiles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ResultCodes.h"
#include "engine/DIRLIST.h"
#include "engine/FAT_FILE.h"
#include "engine/FAT_VOLUME.h"
#include "engine/PARTITION_INFO.h"
#include "engine/VOLUME_BASE.h"

namespace imbrex::restore {

// What openFile reports about the opened file.
inline constexpr int kFileKindSingleStream = 1;
inline constexpr int kFileKindSeveralStreams = 2;

class VolumeFiles
{
public:
    virtual ~VolumeFiles() = default;
    VolumeFiles(const VolumeFiles &) = delete;
    VolumeFiles &operator=(const VolumeFiles &) = delete;

    virtual engine::VOLUME_BASE &volume() = 0;
    // The FAT reader, for what only FAT offers (files made from listed entries, directory identities);
    // nullptr on any other volume.
    virtual engine::FAT_VOLUME *fatVolume() { return nullptr; }
    // The open file when it is a FAT file, else nullptr.
    virtual engine::FAT_FILE *currentFatFile() const { return nullptr; }

    // Opens path as the current file; *kind (when given) says how many data streams it has.
    [[nodiscard]] virtual int openFile(const std::string &path, int *kind) = 0;
    // Opens the file of a listed NTFS record as the current file; other volumes refuse with 1.
    [[nodiscard]] virtual int openRecord(uint32_t /*recordNumber*/, int * /*kind*/)
    {
        return rc::kGeneralFailure;
    }
    // A file made from a listed 32-byte FAT entry, handed out through out or made the current file when out
    // is nullptr. Volumes without such entries refuse with 1.
    [[nodiscard]] virtual int openEntry(const uint8_t *rawEntry, std::unique_ptr<engine::FAT_FILE> *out) = 0;
    // The current file's size cut to 32 bits (0xFFFFFFFF when it does not fit), and its whole size; 0 without
    // a current file.
    virtual uint32_t fileSize() const = 0;
    virtual uint64_t fileSize64() const = 0;
    // The next count bytes of the current file.
    [[nodiscard]] virtual int readFile(void *buffer, uint32_t count) = 0;
    // Closes the current file, if any; what closing it returned.
    virtual int closeFile() = 0;
    // Where the data of a listed file begins on the volume, in clusters, to restore files in that order: the
    // file of a listed 32-byte FAT entry, or of a listed NTFS record (0 when the volume has no such file).
    [[nodiscard]] virtual int dataStart(const uint8_t *rawEntry, uint32_t recordNumber,
                                        uint64_t *cluster) = 0;
    // Lists a directory into list. directoryFile and openedDirectory are FAT's (see
    // FAT_VOLUME::ListDirectory); other volumes list by path alone.
    [[nodiscard]] virtual int listDirectory(engine::DIRLIST &list, const std::string &path,
                                            engine::FAT_FILE *directoryFile,
                                            std::unique_ptr<engine::FAT_FILE> *openedDirectory) = 0;

protected:
    VolumeFiles() = default;
};

// Constructs the reader that fileSystemCode (FAT32's 15 already folded into 1) selects on info, mounts it
// and puts its file operations into files: the mount's result. files is kept even when the mount fails, so
// that its owner releases it in one place; it stays empty, with 47, when no reader serves the code.
[[nodiscard]] int mountVolumeFiles(uint8_t fileSystemCode, engine::PARTITION_INFO &info,
                                   std::unique_ptr<VolumeFiles> &files);

} // namespace imbrex::restore
