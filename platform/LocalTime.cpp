#include "LocalTime.h"

#include <limits>
#include <time.h>

namespace imbrex::platform {

bool localTime(int64_t unixSeconds, std::tm &out)
{
    if (unixSeconds < std::numeric_limits<std::time_t>::min() ||
        unixSeconds > std::numeric_limits<std::time_t>::max())
        return false;
    const auto t = static_cast<std::time_t>(unixSeconds);
    return localtime_r(&t, &out) != nullptr;
}

} // namespace imbrex::platform
