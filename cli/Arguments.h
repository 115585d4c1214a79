// Command-line arguments of one zbitool command: positional words, options with a value, and flags.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace imbrex::cli {

struct Arguments
{
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    std::set<std::string> flags;

    std::optional<std::string> option(const std::string &name) const;
    bool flag(const std::string &name) const { return flags.count(name) != 0; }
};

// Splits args; valueOptions take the next word as their value ("--name TEXT" or "--name=TEXT"), flagOptions
// take none. Returns an error text for an unknown option or a missing value.
std::optional<std::string> parseArguments(const std::vector<std::string> &args,
                                          const std::set<std::string> &valueOptions,
                                          const std::set<std::string> &flagOptions, Arguments *out);

// A partition number as the user typed it: 1 or more, no sign, no junk.
std::optional<uint32_t> parsePartitionNumber(const std::string &text);

} // namespace imbrex::cli
