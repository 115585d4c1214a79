// Password texts for zbitool: from a file named on the command line, or typed on the terminal without echo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Arguments.h"

namespace imbrex::cli {

// Reads the password text: the first line of the file given with option, else typed at the terminal after
// prompt. nullopt with a message on standard error when neither is possible.
std::optional<std::string> readPassword(const Arguments &args, const std::string &option,
                                        const std::string &prompt);

// The compression code that a --compression value names: none, low, high, or a code number.
std::optional<uint32_t> parseCompression(const std::string &text);

// A split size in bytes, 10,000,000 to 2,147,483,647; thousands separators (",", ".", "_", " ") are allowed.
std::optional<uint32_t> parseSplitSize(const std::string &text);

} // namespace imbrex::cli
