#include "TProgressClass.h"

#include <cmath>
#include <limits>

namespace imbrex::ui {

TProgressClass::TProgressClass(int32_t total) : m_total(total < 1 ? 1 : total) {}

int32_t TProgressClass::OverallPercent() const
{
    // The step width is rounded to single precision on purpose and the rest is computed wider: that is what
    // makes step 2 of 3 at 50 percent 33.333332 + 16.666666 = 49.999998, shown as 49.
    const double x = static_cast<double>(100.0f / static_cast<float>(m_total));
    const double overall = static_cast<double>(m_current - 1) * x + static_cast<double>(m_percent) * 0.01 * x;
    if (!std::isfinite(overall))
        return 0;
    if (overall >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (overall <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::trunc(overall));
}

void TProgressClass::Split(int32_t m)
{
    if (m < 1)
        return;
    const int64_t total = static_cast<int64_t>(m_total) * m;
    const int64_t current = static_cast<int64_t>(m_current - 1) * m + 1;
    if (total > std::numeric_limits<int32_t>::max() || current > std::numeric_limits<int32_t>::max())
        return;
    m_total = static_cast<int32_t>(total);
    m_current = static_cast<int32_t>(current);
}

void TProgressClass::Divide(int32_t m)
{
    if (m < 1)
        return;
    m_total = m_total / m < 1 ? 1 : m_total / m;
    m_current = (m_current - 1) / m + 1;
}

} // namespace imbrex::ui
