#include "engine/ntfs/NtfsTime.h"

#include <ctime>

#include "platform/LocalTime.h"

namespace imbrex::engine {

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

} // namespace

bool NtfsFileTimeToDos(uint64_t fileTime, NtfsDosTime &out)
{
    const auto seconds1601 = static_cast<int64_t>(fileTime / kTicksPerSecond);
    std::tm local{};
    if (!platform::localTime(seconds1601 - kSecondsFrom1601To1970, local))
        return false;
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return false;
    out.day = static_cast<uint8_t>(local.tm_mday);
    out.month = static_cast<uint8_t>(local.tm_mon + 1);
    out.year = static_cast<uint16_t>(year - 1980);
    out.hour = static_cast<uint8_t>(local.tm_hour);
    out.minute = static_cast<uint8_t>(local.tm_min);
    out.second = static_cast<uint8_t>((local.tm_sec > 59 ? 59 : local.tm_sec) & ~1); // leap second 60 -> 58
    return true;
}

} // namespace imbrex::engine
