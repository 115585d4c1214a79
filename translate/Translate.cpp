#include "Translate.h"

#include <utility>

namespace imbrex {

namespace {
Translator &currentTranslator()
{
    static Translator translator;
    return translator;
}
} // namespace

std::string Translate(std::string_view text)
{
    const Translator &t = currentTranslator();
    return t ? t(text) : std::string(text);
}

void setTranslator(Translator translator) { currentTranslator() = std::move(translator); }

} // namespace imbrex
