// The languages the interface offers, read from "language.txt" beside the program. The file is UTF-8 text
// (a byte-order mark is allowed); blank lines and lines starting with '#' are ignored; every other line is
//
//     column <TAB> locale id in hexadecimal <TAB> name shown in the language dialog
//
// where column is the dictionary column of the language (0 = the native English texts) and the locale id's
// low 10 bits are the primary language, the bits above it the sublanguage (0409 English, 0C0A Spanish).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TIvFileDictionary.h"

namespace imbrex::translate {

struct Language
{
    int column = 0;
    uint32_t localeId = 0;
    std::string name;
};

struct [[nodiscard]] LanguageListResult
{
    std::vector<Language> languages;
    std::string error; // the first malformed line, in words a person can act on
    bool ok() const { return error.empty(); }
};

LanguageListResult parseLanguageList(std::string_view text);
LanguageListResult readLanguageList(const std::string &path);

inline uint32_t primaryLanguage(uint32_t localeId)
{
    return localeId & 0x3FFu;
}
inline uint32_t subLanguage(uint32_t localeId)
{
    return localeId >> 10;
}

// The dictionary together with the language list: what the windows translate with.
class InterfaceLanguage
{
public:
    // Opens the dictionary at column 0 and reads the list. Either failing leaves the native texts in use.
    DictionaryStatus open(const std::string &dictionaryPath, const std::string &languagePath);

    const std::vector<Language> &languages() const { return m_languages; }
    TIvFileDictionary &dictionary() { return m_dictionary; }
    const TIvFileDictionary &dictionary() const { return m_dictionary; }
    uint32_t currentLocale() const { return m_current; }

    // Makes the language of localeId current. Nothing happens when it is current already.
    DictionaryStatus selectLocale(uint32_t localeId);
    // The same by position in languages().
    DictionaryStatus selectLanguage(int index);

private:
    TIvFileDictionary m_dictionary;
    std::vector<Language> m_languages;
    uint32_t m_current = 0x0409;
};

} // namespace imbrex::translate
