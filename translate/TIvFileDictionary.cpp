#include "TIvFileDictionary.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "common/Utf8.h"

namespace imbrex::translate {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

std::string decodeUtf16Le(std::span<const std::byte> bytes)
{
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    auto unit = [&](size_t at) {
        return static_cast<uint32_t>(std::to_integer<uint8_t>(bytes[at])) |
               static_cast<uint32_t>(std::to_integer<uint8_t>(bytes[at + 1])) << 8;
    };
    while (i + 1 < bytes.size()) {
        uint32_t u = unit(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < bytes.size()) {
                uint32_t low = unit(i);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    i += 2;
                    appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
            }
            appendUtf8(out, kReplacement);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, u);
        }
    }
    return out; // an odd final byte is not a character and is dropped
}

bool isValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<uint8_t>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

// Windows-1252 characters 0x80..0x9F; 0 marks the five bytes it leaves undefined.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string decodeCp1252(std::string_view s)
{
    std::string out;
    out.reserve(s.size() * 2);
    for (char ch : s) {
        auto c = static_cast<uint8_t>(ch);
        if (c >= 0x80 && c <= 0x9F) {
            uint16_t cp = kCp1252High[c - 0x80];
            appendUtf8(out, cp == 0 ? kReplacement : cp);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

} // namespace

std::vector<std::string> decodeDictionaryLines(std::span<const std::byte> bytes)
{
    if (bytes.size() >= 2 && bytes[0] == std::byte{0xFF} && bytes[1] == std::byte{0xFE})
        return splitLines(decodeUtf16Le(bytes.subspan(2)));
    std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (isValidUtf8(text))
        return splitLines(text);
    return splitLines(decodeCp1252(text));
}

DictionaryStatus TIvFileDictionary::open(const std::string &path, int column)
{
    close();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {"The translation file \"" + path + "\" cannot be read"};
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0)
        return {"The translation file \"" + path + "\" cannot be read"};
    if (static_cast<uint64_t>(size) > kMaxDictionaryBytes)
        return {"The translation file \"" + path + "\" is too large"};
    in.seekg(0);
    std::vector<std::byte> bytes(static_cast<size_t>(size));
    if (!in.read(reinterpret_cast<char *>(bytes.data()), size))
        return {"The translation file \"" + path + "\" cannot be read"};
    DictionaryStatus status = load(bytes, column);
    if (status.ok())
        m_path = path;
    return status;
}

DictionaryStatus TIvFileDictionary::load(std::span<const std::byte> bytes, int column)
{
    close();
    if (column < 0)
        return {"Language index " + std::to_string(column) + " is out of range"};
    std::vector<std::string> lines = decodeDictionaryLines(bytes);
    std::vector<std::pair<std::string, std::string>> rows;
    rows.reserve(lines.size());
    size_t fieldCount = 0;
    for (size_t number = 0; number < lines.size(); ++number) {
        const std::string &line = lines[number];
        if (line.empty())
            continue; // blank lines separate groups of texts
        std::vector<std::string_view> fields = splitFields(line);
        if (fieldCount == 0)
            fieldCount = fields.size();
        if (fields.size() < fieldCount)
            return {"The translation line \"" + line + "\" (#" + std::to_string(number) +
                    ") is missing one or more strings"};
        if (fields[0].empty())
            return {"A null native string on line " + std::to_string(number)};
        size_t k = static_cast<size_t>(column);
        rows.emplace_back(std::string(fields[0]), k < fields.size() ? std::string(fields[k]) : std::string());
    }
    if (fieldCount > 0 && static_cast<size_t>(column) >= fieldCount)
        return {"Language index " + std::to_string(column) + " is out of range"};
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    m_rows = std::move(rows);
    m_fieldCount = static_cast<int>(fieldCount);
    m_column = column;
    m_open = true;
    return {};
}

void TIvFileDictionary::close()
{
    m_open = false;
    m_rows.clear();
    m_fieldCount = 0;
    m_column = 0;
    m_path.clear();
}

DictionaryStatus TIvFileDictionary::selectColumn(int column)
{
    if (!m_open)
        return {"Dictionary is not open"};
    if (column < 0 || column >= m_fieldCount)
        return {"Language index " + std::to_string(column) + " is out of range"};
    if (column == m_column)
        return {};
    if (m_path.empty())
        return {"Dictionary is not open"};
    std::string path = m_path;
    uint32_t options = m_options;
    DictionaryStatus status = open(path, column);
    m_options = options;
    return status;
}

TranslationResult TIvFileDictionary::translate(std::string_view native) const
{
    if (m_open && m_column > 0) {
        auto it = std::lower_bound(m_rows.begin(), m_rows.end(), native,
                                   [](const auto &row, std::string_view key) { return row.first < key; });
        bool found = it != m_rows.end() && it->first == native;
        if (found && !it->second.empty())
            return {it->second, {}};
        if (m_options & kUseTranslationException) {
            std::string quoted = "\"" + std::string(native) + "\"";
            return {std::string(native), found ? "The translation for the world " + quoted + " was missing"
                                               : "Could not translate the world " + quoted};
        }
    } else if (m_open) {
        return {std::string(native), {}}; // the native column is its own translation
    }
    if (m_options & kTagUnsuccessfulTranslation)
        return {"@" + std::string(native) + "@", {}};
    return {std::string(native), {}};
}

std::string TIvFileDictionary::translateText(std::string_view native) const
{
    TranslationResult result = translate(native);
    return result.ok() ? result.text : std::string(native);
}

} // namespace imbrex::translate
