// Display names of the codes the image store reports for a partition. Both functions return translated text;
// the English names are the dictionary keys.
#pragma once

#include <cstdint>
#include <string>

namespace imbrex::store {

// The name of a file-system type code (GetFileSystemType). The partition-type id tells FAT32 from FAT for
// code 1.
std::string FileSystemName(uint32_t fileSystemType, uint32_t partitionTypeId);

// The name of a partition-table type byte (GetPartitionTypeId); ids without a name, and ids above 255, give
// "Unknown".
std::string PartitionTypeName(uint32_t partitionTypeId);

} // namespace imbrex::store
