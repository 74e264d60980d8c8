#include "common/command_line.hpp"

#include <charconv>

namespace orvex::demo {

std::string CommandLine::Get(std::string_view name, std::string_view fallback) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string(fallback) : it->second;
}

CommandLine ParseCommandLine(int argc, char** argv, std::span<const OptionSpec> options) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            continue;
        }
        const OptionSpec* matched = nullptr;
        for (const OptionSpec& option : options) {
            if (arg.size() > 2 && arg.starts_with("--") && arg.substr(2) == option.name) {
                matched = &option;
            }
        }
        if (matched == nullptr) {
            line.error = "unknown option '" + std::string(arg) + "'";
            return line;
        }
        if (matched->valueName.empty()) {
            line.values[std::string(matched->name)] = "";
            continue;
        }
        if (i + 1 >= argc) {
            line.error = "option '" + std::string(arg) + "' needs a value";
            return line;
        }
        line.values[std::string(matched->name)] = argv[++i];
    }
    return line;
}

std::string UsageText(std::string_view synopsis, std::span<const OptionSpec> options) {
    std::string text = "usage: " + std::string(synopsis) + "\n";
    auto addLine = [&](std::string left, std::string_view help) {
        if (left.size() < 22) left.resize(22, ' ');
        text += left + " " + std::string(help) + "\n";
    };
    for (const OptionSpec& option : options) {
        std::string left = "  --" + std::string(option.name);
        if (!option.valueName.empty()) left += " " + std::string(option.valueName);
        addLine(left, option.help);
    }
    addLine("  --help", "show this text");
    return text;
}

std::optional<int> ParseInt(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace orvex::demo
