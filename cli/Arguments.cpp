#include "Arguments.h"

#include <charconv>
#include <cstdint>

namespace imbrex::cli {

std::optional<std::string> Arguments::option(const std::string &name) const
{
    auto it = options.find(name);
    if (it == options.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> parseArguments(const std::vector<std::string> &args,
                                          const std::set<std::string> &valueOptions,
                                          const std::set<std::string> &flagOptions, Arguments *out)
{
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        bool shortOption =
            word.size() == 2 && word[0] == '-' && (valueOptions.count(word) || flagOptions.count(word));
        if (onlyPositional || (!shortOption && (word.size() < 2 || word.compare(0, 2, "--") != 0))) {
            out->positional.push_back(word);
            continue;
        }
        if (word == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (auto eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
        }
        if (flagOptions.count(name)) {
            if (value)
                return "option " + name + " takes no value";
            out->flags.insert(name);
        } else if (valueOptions.count(name)) {
            if (!value) {
                if (i + 1 >= args.size())
                    return "option " + name + " needs a value";
                value = args[++i];
            }
            out->options[name] = *value;
        } else {
            return "unknown option " + name;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> parsePartitionNumber(const std::string &text)
{
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

} // namespace imbrex::cli
