// Writing Unicode code points as UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace imbrex {

// Writes the code point c (at most U+10FFFF) as 1 to 4 bytes at out and returns how many.
size_t encodeUtf8(char32_t c, char *out);

inline void appendUtf8(std::string &out, char32_t c)
{
    char bytes[4];
    out.append(bytes, encodeUtf8(c, bytes));
}

} // namespace imbrex
