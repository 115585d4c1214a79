#include "PartitionRow.h"

#include <algorithm>

#include "PartitionNames.h"
#include "StoreText.h"
#include "platform/LocaleFormat.h"
#include "translate/Translate.h"

namespace imbrex::store {

namespace {

constexpr uint64_t kMegabyte = 1048576;
constexpr char kFieldEnd = '|';
constexpr char kFieldEndStandIn = '/';

void appendField(std::string &row, std::string field)
{
    std::replace(field.begin(), field.end(), kFieldEnd, kFieldEndStandIn);
    row += field;
    row += kFieldEnd;
}

} // namespace

uint64_t sizeInMegabytes(uint64_t bytes)
{
    return bytes / kMegabyte + (bytes % kMegabyte != 0 ? 1 : 0);
}

std::string CompressionText(uint32_t code)
{
    if (code == 0)
        return Translate("None");
    if ((code >= 100 && code <= 105) || (code >= 300 && code <= 305))
        return Translate("Low");
    if ((code >= 1 && code <= 8) || (code >= 200 && code <= 209))
        return Translate("High");
    return "(" + platform::formatGroupedNumber(code) + ")";
}

std::string partitionKindText(uint32_t kind)
{
    if (kind == kKindLogical)
        return Translate("Logical");
    if (kind == kKindPrimary)
        return Translate("Primary");
    return {};
}

std::string driveLetterText(char letter)
{
    auto code = static_cast<unsigned char>(letter);
    if (code < 0x20 || code == 0x7f)
        return ":";
    return std::string(1, letter) + ":";
}

bool isValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= days;
}

std::string partitionDateText(int year, int month, int day)
{
    if (!isValidDate(year, month, day))
        return platform::formatShortDate(1980, 1, 1);
    return platform::formatShortDate(year, month, day);
}

std::string formatPartitionRow(const PartitionRowFields &fields)
{
    uint64_t bytes = uint64_t{fields.sectorCount} * fields.sectorSize;
    std::string row;
    appendField(row, fields.name);
    appendField(row, driveLetterText(fields.driveLetter));
    appendField(row, FileSystemName(fields.fileSystemType, fields.partitionTypeId));
    appendField(row, partitionKindText(fields.kind));
    appendField(row, partitionDateText(fields.year, fields.month, fields.day));
    appendField(row, std::to_string(sizeInMegabytes(bytes)) + " MB");
    appendField(row, CompressionText(fields.compression));
    return row;
}

std::string GetRowField(std::string_view row, int k)
{
    if (row.find(kFieldEnd) == std::string_view::npos)
        return std::string(row);
    if (k < 1)
        return {};
    size_t start = 0;
    for (int i = 1; i < k; ++i) {
        size_t end = row.find(kFieldEnd, start);
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
    size_t end = row.find(kFieldEnd, start);
    return std::string(
        row.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

PartitionRowFields readPartitionRowFields(ImageStore &store)
{
    PartitionRowFields fields;
    // An attribute the store does not give keeps its zero value.
    fields.name = readStoreText(store, &ImageStore::GetPartitionName, kPartitionNameBufferSize);
    (void)store.GetDriveLetter(&fields.driveLetter);
    (void)store.GetFileSystemType(&fields.fileSystemType);
    (void)store.GetPartitionTypeId(&fields.partitionTypeId);
    (void)store.GetPartitionKind(&fields.kind);
    (void)store.GetPartitionDate(&fields.year, &fields.month, &fields.day);
    (void)store.GetSectorCount(&fields.sectorCount);
    (void)store.GetSectorSize(&fields.sectorSize);
    (void)store.GetCompression(&fields.compression);
    return fields;
}

std::string buildPartitionRow(ImageStore &store, uint32_t number)
{
    // A partition that reports being spanned still gets its row; a failed selection gives a row of zeros.
    (void)store.SelectPartition(number, 0);
    PartitionRowFields fields = readPartitionRowFields(store);
    (void)store.ReleasePartition(1); // only read
    return formatPartitionRow(fields);
}

} // namespace imbrex::store
