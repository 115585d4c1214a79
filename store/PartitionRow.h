// The display row of one partition in the partitions list: seven fields, each followed by '|' (name, drive
// letter with ':', file-system name, status, date, size in MB, compression), and the pieces other windows
// reuse.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "imgstore/ImageStore.h"

namespace imbrex::store {

inline constexpr uint32_t kPartitionNameBufferSize = 100;
inline constexpr uint32_t kKindLogical = 1;
inline constexpr uint32_t kKindPrimary = 2;

// bytes / 1048576, rounded up: 1 byte is 1 MB, 1048577 bytes are 2 MB.
uint64_t sizeInMegabytes(uint64_t bytes);

// "None", "Low", "High" (translated), or the code in parentheses with the locale's digit grouping.
std::string CompressionText(uint32_t code);

// "Logical" for kind 1, "Primary" for kind 2 (translated), empty for any other kind.
std::string partitionKindText(uint32_t kind);

// The letter followed by ':'. A partition without a letter (NUL or another control character) shows ":"
// alone.
std::string driveLetterText(char letter);

// True for a date of the Gregorian calendar in the years 1 to 9999.
bool isValidDate(int year, int month, int day);

// The locale's short date, or that of 1 January 1980 when the three values are not a valid date.
std::string partitionDateText(int year, int month, int day);

// What a row shows of one partition, as the store reports it.
struct PartitionRowFields
{
    std::string name;
    char driveLetter = '\0';
    uint32_t fileSystemType = 0;
    uint32_t partitionTypeId = 0;
    uint32_t kind = 0;
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint32_t sectorCount = 0;
    uint32_t sectorSize = 0;
    uint32_t compression = 0;
};

// The row text. A '|' inside a field (a partition name may hold one) is shown as '/', so that the fields keep
// their positions.
std::string formatPartitionRow(const PartitionRowFields &fields);

// Field k (from 1) of a row: the text between the (k-1)-th and the k-th '|' (up to the end when there is no
// k-th). A text without any '|' is its own field for every k; otherwise a field that is not there (k < 1, or
// fewer than k - 1 separators) is empty.
std::string GetRowField(std::string_view row, int k);

// Reads the row's attributes of the store's current partition. An attribute the store does not give stays at
// its zero value.
PartitionRowFields readPartitionRowFields(ImageStore &store);

// Selects partition number (from 1), reads its row, and releases it again. The selection's result is not
// examined: a partition that reports being spanned still gets its row.
std::string buildPartitionRow(ImageStore &store, uint32_t number);

} // namespace imbrex::store
