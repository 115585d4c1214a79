#include "LanguageList.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace imbrex::translate {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string localeText(uint32_t localeId)
{
    return "(" + std::to_string(primaryLanguage(localeId)) + ", " + std::to_string(subLanguage(localeId)) +
           ")";
}

} // namespace

LanguageListResult parseLanguageList(std::string_view text)
{
    LanguageListResult result;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        auto bad = [&](const char *what) {
            result.languages.clear();
            result.error = "Line " + std::to_string(number) + " of the language list " + what + ": \"" +
                           std::string(line) + "\"";
            return result;
        };
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos)
            return bad("needs a column, a locale id and a name separated by TABs");
        std::string_view columnText = trim(line.substr(0, tab1));
        std::string_view localeTextField = trim(line.substr(tab1 + 1, tab2 - tab1 - 1));
        std::string_view name = trim(line.substr(tab2 + 1));
        Language language;
        auto [pc, ec] =
            std::from_chars(columnText.data(), columnText.data() + columnText.size(), language.column);
        if (ec != std::errc() || pc != columnText.data() + columnText.size() || language.column < 0 ||
            language.column > 255)
            return bad("has a column that is not a number from 0 to 255");
        auto [pl, el] = std::from_chars(
            localeTextField.data(), localeTextField.data() + localeTextField.size(), language.localeId, 16);
        if (el != std::errc() || pl != localeTextField.data() + localeTextField.size() ||
            language.localeId == 0 || language.localeId > 0xFFFF)
            return bad("has a locale id that is not a hexadecimal number from 1 to FFFF");
        if (name.empty())
            return bad("has no name");
        language.name = std::string(name);
        result.languages.push_back(std::move(language));
    }
    return result;
}

LanguageListResult readLanguageList(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {{}, "The language list \"" + path + "\" cannot be read"};
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 1024 * 1024)
        return {{}, "The language list \"" + path + "\" is too large"};
    return parseLanguageList(text.str());
}

DictionaryStatus InterfaceLanguage::open(const std::string &dictionaryPath, const std::string &languagePath)
{
    m_current = 0x0409;
    m_languages.clear();
    DictionaryStatus status = m_dictionary.open(dictionaryPath, 0);
    if (!status.ok())
        return status;
    LanguageListResult list = readLanguageList(languagePath);
    if (!list.ok())
        return {list.error};
    m_languages = std::move(list.languages);
    for (const Language &language : m_languages)
        if (language.column == 0) {
            m_current = language.localeId;
            break;
        }
    return {};
}

DictionaryStatus InterfaceLanguage::selectLocale(uint32_t localeId)
{
    if (localeId == m_current)
        return {};
    uint32_t options = m_dictionary.options();
    if ((options & kCheckSystemSupport) && (primaryLanguage(localeId) == 0 || localeId > 0xFFFF))
        return {"The locale " + localeText(localeId) + " is not supported by the system"};
    // The interface shows Unicode text, so every locale passes the code-page check.
    if (!m_dictionary.isOpen())
        return {"Dictionary is not open"};
    const Language *found = nullptr;
    for (const Language &language : m_languages)
        if (language.localeId == localeId) {
            found = &language;
            break;
        }
    if (found == nullptr || found->column >= m_dictionary.fieldCount())
        return {"The locale " + localeText(localeId) + " is not supported by the dictionary"};
    DictionaryStatus status = m_dictionary.selectColumn(found->column);
    if (status.ok())
        m_current = localeId;
    return status;
}

DictionaryStatus InterfaceLanguage::selectLanguage(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_languages.size())
        return {"Language index " + std::to_string(index) + " is out of range"};
    return selectLocale(m_languages[static_cast<size_t>(index)].localeId);
}

} // namespace imbrex::translate
