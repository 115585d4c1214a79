// Case-insensitive comparison of NTFS names with the reader's built-in case table (the volume's own $UpCase
// is not consulted).
#pragma once

#include <string_view>

namespace imbrex::engine {

// The unit u after case mapping.
char16_t NtfsUpcase(char16_t u);

// Compares two UTF-16 names unit by unit after case mapping: negative, 0 or positive. A name that is a prefix
// of the other compares lower.
int CompareNames(std::u16string_view a, std::u16string_view b);

} // namespace imbrex::engine
