#include "PartitionProperties.h"

#include <limits>

#include "PartitionNames.h"
#include "PartitionRow.h"
#include "StoreText.h"
#include "translate/Translate.h"

namespace imbrex::store {

namespace {

// The product, or the largest value when it does not fit: a damaged store must not show a small size.
uint64_t saturatingMultiply(uint64_t a, uint64_t b)
{
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a)
        return std::numeric_limits<uint64_t>::max();
    return a * b;
}

std::string yesNo(bool yes)
{
    return Translate(yes ? "Yes" : "No");
}

} // namespace

std::string sizeText(uint64_t bytes)
{
    return std::to_string(sizeInMegabytes(bytes)) + Translate(" MB  (") + std::to_string(bytes) +
           Translate(" bytes)");
}

std::vector<PropertyLine> partitionPropertyLines(const PartitionPropertiesFields &fields)
{
    uint64_t partitionBytes = uint64_t{fields.sectorCount} * fields.sectorSize;
    uint64_t usedBytes =
        saturatingMultiply(uint64_t{fields.usedBlockCount} * fields.sectorsPerBlock, fields.sectorSize);
    // A store that reports more used space than the partition holds shows no free space, not a wrapped count.
    uint64_t freeBytes = usedBytes < partitionBytes ? partitionBytes - usedBytes : 0;

    return {
        {Translate("Name:"), fields.name},
        {Translate("Comment:"), fields.comment},
        {Translate("Drive letter:"), driveLetterText(fields.driveLetter)},
        {Translate("Partition type:"), PartitionTypeName(fields.partitionTypeId)},
        {Translate("File system type:"), FileSystemName(fields.fileSystemType, fields.partitionTypeId)},
        {Translate("Status:"), partitionKindText(fields.kind)},
        {Translate("Spanned:"), yesNo(fields.spanned != 0)},
        {Translate("Compression:"), CompressionText(fields.compression)},
        {Translate("Password protected:"), yesNo(fields.password != 0)},
        {Translate("Partition size:"), sizeText(partitionBytes)},
        {Translate("Used space in partition:"), sizeText(usedBytes)},
        {Translate("Free space in partition:"), sizeText(freeBytes)},
        {Translate("Physical size in image:"), sizeText(fields.storedSize)},
    };
}

PartitionPropertiesFields readPartitionProperties(ImageStore &store)
{
    PartitionPropertiesFields fields;
    // An attribute the store does not give keeps its zero value.
    fields.name = readStoreText(store, &ImageStore::GetPartitionName, kPropertiesTextBufferSize);
    fields.comment = readStoreText(store, &ImageStore::GetPartitionComment, kPropertiesTextBufferSize);
    (void)store.GetDriveLetter(&fields.driveLetter);
    (void)store.GetPartitionTypeId(&fields.partitionTypeId);
    (void)store.GetFileSystemType(&fields.fileSystemType);
    (void)store.GetPartitionKind(&fields.kind);
    (void)store.IsSpanned(&fields.spanned);
    (void)store.GetPartitionPassword(&fields.password);
    (void)store.GetCompression(&fields.compression);
    (void)store.GetSectorCount(&fields.sectorCount);
    (void)store.GetSectorSize(&fields.sectorSize);
    (void)store.GetUsedBlockCount(&fields.usedBlockCount);
    (void)store.GetSectorsPerBlock(&fields.sectorsPerBlock);
    uint32_t low = 0;
    uint32_t high = 0;
    if (store.GetStoredSize(&low, &high, 0) == 0)
        fields.storedSize = uint64_t{high} << 32 | low;
    return fields;
}

std::vector<PropertyLine> partitionPropertyLines(ImageStore &store, uint32_t number)
{
    // As for the partition rows: a partition that reports being spanned still gets its lines, and a failed
    // selection gives zero values.
    (void)store.SelectPartition(number, 0);
    PartitionPropertiesFields fields = readPartitionProperties(store);
    (void)store.ReleasePartition(1); // only read
    return partitionPropertyLines(fields);
}

} // namespace imbrex::store
