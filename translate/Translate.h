// Translation of the program's English texts. The texts are the keys; with no dictionary loaded a text
// translates to itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace imbrex {

using Translator = std::function<std::string(std::string_view)>;

std::string Translate(std::string_view text);
// Installs the lookup used by Translate; an empty function restores the identity.
void setTranslator(Translator translator);

} // namespace imbrex
