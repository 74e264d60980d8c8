// Option parsing shared by the demo programs: "--name" flags and "--name VALUE" options.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvex::demo {

struct OptionSpec {
    std::string_view name;       // without the leading "--"
    std::string_view valueName;  // empty for a flag
    std::string_view help;
};

struct CommandLine {
    std::map<std::string, std::string, std::less<>> values;  // flags map to ""
    bool help = false;                                       // --help was given
    std::string error;                                       // non-empty: the line was refused

    bool Has(std::string_view name) const { return values.find(name) != values.end(); }
    std::string Get(std::string_view name, std::string_view fallback) const;
};

// Parses argv[1..]; "--help" is always known.
CommandLine ParseCommandLine(int argc, char** argv, std::span<const OptionSpec> options);

// The usage text: the synopsis line, then one line per option.
std::string UsageText(std::string_view synopsis, std::span<const OptionSpec> options);

// A decimal integer within [low, high], or nothing.
std::optional<int> ParseInt(std::string_view text, int low, int high);

}  // namespace orvex::demo
