// Running command-line tools from tests.
#pragma once

#include <cstdint>
#include <string>

namespace imbrex::test {

// path as one word for /bin/sh, whatever it holds.
std::string quote(const std::string &s);
// The whole content of a file ("" when it cannot be read).
std::string slurp(const std::string &path);
// Damages one byte of a file in place, as a bad sector or a stray write would.
void flipByte(const std::string &path, uint64_t offset);

} // namespace imbrex::test
