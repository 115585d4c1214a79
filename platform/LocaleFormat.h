// Number and date formats of the user's locale, for texts the program shows. The default formats come from
// the C library's current locale (the program sets it from the environment at start-up); a locale without a
// digit grouping separator, such as "C" and "POSIX", gets en-US conventions instead: "," between groups of
// three digits and M/D/YYYY dates.
//
// A user interface that has locale services of its own, and tests that need fixed output, install a
// LocaleFormatter; it then answers every call until it is replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace imbrex::platform {

struct LocaleFormatter
{
    // Decimal digits with the locale's grouping, no decimals: 1234567 -> "1,234,567" in en-US.
    std::function<std::string(int64_t value)> groupedNumber;
    // The locale's short date of a valid calendar date (month and day from 1).
    std::function<std::string(int year, int month, int day)> shortDate;
};

std::string formatGroupedNumber(int64_t value);
std::string formatShortDate(int year, int month, int day);

// Installs the formats; an empty member selects the C library's format for that call.
void setLocaleFormatter(LocaleFormatter formatter);

// The C library's formats, with the en-US fallback described above.
std::string systemGroupedNumber(int64_t value);
std::string systemShortDate(int year, int month, int day);

// Groups the decimal digits of value with separator. grouping has the form of localeconv()'s: each byte is
// the size of the next group from the right, the last size repeats, and a size of 0 or below, or CHAR_MAX,
// ends the grouping.
std::string groupDigits(int64_t value, std::string_view separator, std::string_view grouping);

} // namespace imbrex::platform
