#include "MessageText.h"

#include "translate/Translate.h"

namespace imbrex::store {

std::string fillPlaceholders(std::string_view text, const std::vector<std::string> &values)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            char c = text[i + 1];
            if (c == '%') {
                out += "%%";
                ++i;
                continue;
            }
            if ((c == 's' || c == 'd' || c == 'i') && next < values.size()) {
                out += values[next++];
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string translatedMessage(std::string_view text, const std::vector<std::string> &values)
{
    return fillPlaceholders(Translate(text), values);
}

} // namespace imbrex::store
