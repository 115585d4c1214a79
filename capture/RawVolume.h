// Moving partitions between raw volume files (a partition's sectors, byte for byte) and an image.
#pragma once

#include <cstdint>
#include <string>

#include "common/Progress.h"
#include "imgstore/ImageStore.h"

namespace imbrex::capture {

struct ImportOptions
{
    char driveLetter = 'C';
    // The partition's name; empty means the volume's label, or else the file's name without its extension.
    std::string name;
    std::string comment;
    uint32_t kind = 2; // primary
    uint32_t compression = 0;
    // Password value (ConvertPasswordString of the text, which the store must have seen); 0 = none.
    uint32_t password = 0;
    // Where the volume lies in the file: a partition of a whole-disk image. A length of 0 means up to the end
    // of the file.
    uint64_t offset = 0;
    uint64_t length = 0;
    // The partition table's type byte; 0 takes the one that fits the recognised file system.
    uint32_t partitionTypeId = 0;
    // Store only the blocks the file system uses (FAT, NTFS); unknown file systems keep every block.
    bool usedBlocksOnly = true;
};

// What importPartition recognised and stored.
struct ImportResult
{
    uint32_t fileSystemType = 0;
    uint32_t partitionTypeId = 0;
    uint32_t sectorsPerBlock = 0;
    uint32_t sectorCount = 0;
    std::string name;
    uint32_t usedBlockCount = 0;
    uint32_t blockCount = 0;
};

// Adds the raw volume at rawPath (a regular file or a block device; or the part of it that options name) to
// store as a new partition, with the blocks its file system uses; blocks left out read back as zeros. A size
// that is not a whole number of sectors is padded with zeros. On any failure or cancel the partition is
// discarded and the image is left as it was.
int importPartition(ImageStore &store, const std::string &rawPath, const ImportOptions &options,
                    Progress &progress, ImportResult *result = nullptr);

// Writes partition number (1-based) of store to rawPath as a raw volume: sectorCount x 512 bytes, blocks that
// the image does not store as zeros. The file appears only when it is complete; an existing file is replaced
// only when replace is set.
int exportPartition(ImageStore &store, uint32_t number, const std::string &rawPath, bool replace,
                    Progress &progress);

} // namespace imbrex::capture
