// Calendar time in the local time zone.
#pragma once

#include <cstdint>
#include <ctime>

namespace imbrex::platform {

// The local calendar time of seconds since 1970-01-01 UTC into out; false when the C library cannot
// represent it. Safe to call from several threads at once, and it does not read the time-zone file again on
// every call.
bool localTime(int64_t unixSeconds, std::tm &out);

} // namespace imbrex::platform
