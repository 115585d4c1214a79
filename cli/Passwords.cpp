#include "Passwords.h"

#include <charconv>
#include <cstdio>
#include <fstream>

#include "platform/Terminal.h"

namespace imbrex::cli {

std::optional<std::string> readPassword(const Arguments &args, const std::string &option,
                                        const std::string &prompt)
{
    if (auto file = args.option(option)) {
        std::ifstream in(*file, std::ios::binary);
        std::string line;
        if (!in || !std::getline(in, line)) {
            std::fprintf(stderr, "zbitool: the password file '%s' cannot be read\n", file->c_str());
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    if (!platform::canAskOnTerminal()) {
        std::fprintf(stderr, "zbitool: a password is needed; give it with %s FILE\n", option.c_str());
        return std::nullopt;
    }
    auto typed = platform::askSecret(prompt);
    if (!typed)
        std::fprintf(stderr, "zbitool: no password was typed\n");
    return typed;
}

std::optional<uint32_t> parseCompression(const std::string &text)
{
    if (text == "none")
        return 0u;
    if (text == "low")
        return 301u;
    if (text == "high")
        return 208u;
    uint32_t code = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return code;
}

std::optional<uint32_t> parseSplitSize(const std::string &text)
{
    std::string digits;
    for (char c : text)
        if (c != ',' && c != '.' && c != '_' && c != ' ')
            digits += c;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value < 10000000 || value > 2147483647)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

} // namespace imbrex::cli
