// The translation dictionary: a TAB-separated text file whose field 0 is a native (English) text and whose
// field k is the same text in language k. The file is UTF-16 little-endian when it starts with FF FE, else
// 8-bit text (UTF-8, or Windows-1252 when it is not valid UTF-8). Only the native column and the selected
// language's column are kept, sorted by native text for binary search.
//
// Nothing here throws: loading and looking up report failures as values carrying the message to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace imbrex::translate {

// Dictionary options; a new dictionary has kCheckSystemSupport | kCheckCodePageSupport.
enum DictionaryOption : uint32_t
{
    kUseTranslationException = 1u << 0,    // a missing translation is an error
    kTagUnsuccessfulTranslation = 1u << 1, // a missing translation gives "@native@"
    kCheckSystemSupport = 1u << 2,
    kCheckCodePageSupport = 1u << 3,
};

// Success, or the failure's message.
struct [[nodiscard]] DictionaryStatus
{
    std::string error;
    bool ok() const { return error.empty(); }
};

struct [[nodiscard]] TranslationResult
{
    std::string text;  // the translation, or what the options make of a missing one
    std::string error; // set when kUseTranslationException turned a missing translation into an error
    bool ok() const { return error.empty(); }
};

// The largest dictionary file read; larger files are refused rather than read into memory.
inline constexpr size_t kMaxDictionaryBytes = 16u * 1024u * 1024u;

// The file's text as UTF-8 lines: UTF-16LE after FF FE, else UTF-8 (its byte-order mark dropped) or
// Windows-1252. Line ends are LF or CR LF; a final line end adds no empty line.
std::vector<std::string> decodeDictionaryLines(std::span<const std::byte> bytes);

class TIvFileDictionary
{
public:
    // Reads the file and keeps column `column` (0 keeps the native texts only). A row with fewer fields than
    // the first row, or with an empty native text, stops loading and leaves the dictionary closed.
    DictionaryStatus open(const std::string &path, int column);
    DictionaryStatus load(std::span<const std::byte> bytes, int column);
    void close();

    bool isOpen() const { return m_open; }
    // The number of fields of the first row: the native text plus the languages.
    int fieldCount() const { return m_fieldCount; }
    int column() const { return m_column; }

    // Switches to another column of the same file (reloads it). Fails when the dictionary is not open or the
    // column is not in the file.
    DictionaryStatus selectColumn(int column);

    uint32_t options() const { return m_options; }
    void setOptions(uint32_t options) { m_options = options; }

    // The row's translation; a missing or empty one is handled as the options say.
    TranslationResult translate(std::string_view native) const;
    // translate() for callers that show whatever comes back: an error yields the native text.
    std::string translateText(std::string_view native) const;

private:
    std::string m_path;
    bool m_open = false;
    int m_fieldCount = 0;
    int m_column = 0;
    uint32_t m_options = kCheckSystemSupport | kCheckCodePageSupport;
    std::vector<std::pair<std::string, std::string>> m_rows; // native, translation; sorted by native
};

} // namespace imbrex::translate
