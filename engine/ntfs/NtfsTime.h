// NTFS file times (100 ns units since 1601-01-01 UTC) as the local DOS date and time of a directory listing.
#pragma once

#include <cstdint>

namespace imbrex::engine {

struct NtfsDosTime
{
    uint8_t day = 1;
    uint8_t month = 1;
    uint16_t year = 0; // since 1980
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0; // even
};

// The file time cut to whole seconds and converted to local time. false when the local time lies outside the
// DOS range (1980 to 2107) or cannot be formed.
bool NtfsFileTimeToDos(uint64_t fileTime, NtfsDosTime &out);

} // namespace imbrex::engine
