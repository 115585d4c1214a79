#include "FileRows.h"

#include <cstdio>
#include <vector>

#include "platform/LocaleFormat.h"
#include "translate/Translate.h"

namespace imbrex::restore {

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string dateTime(const engine::DirListEntry &entry)
{
    char time[16];
    std::snprintf(time, sizeof time, "%u:%02u:%02u", entry.time.hour, entry.time.minute, entry.time.second);
    return platform::formatShortDate(1980 + entry.date.year, entry.date.month, entry.date.day) + " " + time;
}

} // namespace

std::string fileRowText(const engine::DirListEntry &entry)
{
    if (entry.attributes & engine::kAttrDirectory)
        return "D " + entry.name + "|" + Translate("Folder") + "| |" + dateTime(entry) + "|";
    return "F " + entry.name + "|" + Translate("File") + "|" +
           platform::formatGroupedNumber(static_cast<int64_t>(entry.size)) + "|" + dateTime(entry) + "|";
}

WildcardCheck checkWildcards(std::string_view text)
{
    size_t wildcard = text.find_first_of("?*");
    if (wildcard == std::string_view::npos)
        return {};
    size_t lastSeparator = text.rfind('\\');
    if (lastSeparator != std::string_view::npos && wildcard < lastSeparator)
        return {true, false};
    return {false, true};
}

bool patternMatches(std::string_view pattern, std::string_view name)
{
    // Iterative matching with one backtrack point per "*": linear in practice, never exponential.
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    // A name that ends first matches only when what is left of the pattern is one "*".
    return p == pattern.size() || (p + 1 == pattern.size() && pattern[p] == '*');
}

} // namespace imbrex::restore
