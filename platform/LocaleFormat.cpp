#include "LocaleFormat.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <utility>

namespace imbrex::platform {

namespace {

LocaleFormatter &installedFormatter()
{
    static LocaleFormatter formatter;
    return formatter;
}

std::string padded(int value, size_t width)
{
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

std::string usShortDate(int year, int month, int day)
{
    return std::to_string(month) + "/" + std::to_string(day) + "/" + padded(year, 4);
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Day of the week (0 = Sunday) of a Gregorian date.
int weekday(int year, int month, int day)
{
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        --year;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

int dayOfYear(int year, int month, int day)
{
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    return before[month - 1] + day - 1 + (month > 2 && isLeapYear(year) ? 1 : 0);
}

bool isPlainCLocale(const char *name)
{
    return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
           std::strncmp(name, "C.", 2) == 0;
}

} // namespace

std::string groupDigits(int64_t value, std::string_view separator, std::string_view grouping)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);

    std::string reversedSeparator(separator.rbegin(), separator.rend());
    std::string out;
    size_t groupIndex = 0;
    int groupSize = grouping.empty() ? 0 : grouping[0];
    int inGroup = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        if (groupSize > 0 && groupSize != CHAR_MAX && inGroup == groupSize) {
            out += reversedSeparator;
            inGroup = 0;
            if (groupIndex + 1 < grouping.size())
                groupSize = grouping[++groupIndex];
        }
        out.push_back(digits[i]);
        ++inGroup;
    }
    if (value < 0)
        out.push_back('-');
    std::reverse(out.begin(), out.end());
    return out;
}

std::string systemGroupedNumber(int64_t value)
{
    const lconv *conventions = std::localeconv();
    const char *separator = conventions ? conventions->thousands_sep : nullptr;
    const char *grouping = conventions ? conventions->grouping : nullptr;
    if (!separator || !*separator || !grouping || !*grouping || *grouping == CHAR_MAX)
        return groupDigits(value, ",", "\3");
    return groupDigits(value, separator, grouping);
}

std::string systemShortDate(int year, int month, int day)
{
    if (isPlainCLocale(std::setlocale(LC_TIME, nullptr)))
        return usShortDate(year, month, day);
    const char *format = nl_langinfo(D_FMT);
    if (!format || !*format)
        return usShortDate(year, month, day);

    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    date.tm_wday = weekday(year, month, day);
    date.tm_yday = dayOfYear(year, month, day);
    date.tm_isdst = -1;
    char buffer[128];
    size_t length = std::strftime(buffer, sizeof buffer, format, &date);
    if (length == 0)
        return usShortDate(year, month, day);
    return std::string(buffer, length);
}

std::string formatGroupedNumber(int64_t value)
{
    const LocaleFormatter &formatter = installedFormatter();
    return formatter.groupedNumber ? formatter.groupedNumber(value) : systemGroupedNumber(value);
}

std::string formatShortDate(int year, int month, int day)
{
    const LocaleFormatter &formatter = installedFormatter();
    return formatter.shortDate ? formatter.shortDate(year, month, day) : systemShortDate(year, month, day);
}

void setLocaleFormatter(LocaleFormatter formatter)
{
    installedFormatter() = std::move(formatter);
}

} // namespace imbrex::platform
