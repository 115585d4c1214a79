// Filling the placeholders of a translated message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace imbrex::store {

// Replaces the placeholders %s, %d and %i of text, in the order they appear, with values; "%%" stays. Text
// that was put in is not searched again. Placeholders beyond the values are left as they are.
std::string fillPlaceholders(std::string_view text, const std::vector<std::string> &values);

// Translates text, then fills it.
std::string translatedMessage(std::string_view text, const std::vector<std::string> &values = {});

} // namespace imbrex::store
