// The lines of the Partition Properties window: a caption and a value for everything the image store knows
// about one partition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imgstore/ImageStore.h"

namespace imbrex::store {

inline constexpr uint32_t kPropertiesTextBufferSize = 256;

struct PropertyLine
{
    std::string caption;
    std::string value;
};

// The attributes the window shows, as the store reports them.
struct PartitionPropertiesFields
{
    std::string name;
    std::string comment;
    char driveLetter = '\0';
    uint32_t partitionTypeId = 0;
    uint32_t fileSystemType = 0;
    uint32_t kind = 0;
    uint32_t spanned = 0;
    uint32_t password = 0;
    uint32_t compression = 0;
    uint32_t sectorCount = 0;
    uint32_t sectorSize = 0;
    uint32_t usedBlockCount = 0;
    uint32_t sectorsPerBlock = 0;
    uint64_t storedSize = 0;
};

// M + " MB  (" + bytes + " bytes)" with M the size in megabytes rounded up, both in plain decimal.
std::string sizeText(uint64_t bytes);

// The thirteen lines, top to bottom: Name, Comment, Drive letter, Partition type, File system type, Status,
// Spanned, Compression, Password protected, Partition size, Used space, Free space, Physical size in image.
// Captions and the words in values are translated.
std::vector<PropertyLine> partitionPropertyLines(const PartitionPropertiesFields &fields);

// Reads the attributes of the store's current partition. An attribute the store does not give stays at its
// zero value.
PartitionPropertiesFields readPartitionProperties(ImageStore &store);

// Selects partition number (from 1), reads its attributes and releases it again.
std::vector<PropertyLine> partitionPropertyLines(ImageStore &store, uint32_t number);

} // namespace imbrex::store
