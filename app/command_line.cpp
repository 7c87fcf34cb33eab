#include "app/command_line.h"

#include <array>
#include <vector>

namespace app {
namespace {

struct LongOption {
    std::string_view name;
    Mode mode;
};

constexpr std::array kLongOptions{LongOption{"--help", Mode::Help}, LongOption{"--version", Mode::Version}};

Command usage_error(std::string problem) { return Command{Mode::UsageError, {}, {}, std::move(problem)}; }

// An option given in full or by a beginning that only one option has.
Command long_option(std::string_view argument) {
    const LongOption* found = nullptr;
    for (const LongOption& option : kLongOptions) {
        if (option.name == argument) return Command{option.mode, {}, {}, {}};
        if (!option.name.starts_with(argument)) continue;
        if (found != nullptr) return usage_error("option '" + std::string(argument) + "' is ambiguous");
        found = &option;
    }
    if (found == nullptr) return usage_error("unrecognized option '" + std::string(argument) + "'");
    return Command{found->mode, {}, {}, {}};
}

}  // namespace

Command read_command_line(std::span<const char* const> arguments) {
    std::vector<std::string_view> operands;
    bool options_ended = false;
    for (const char* raw : arguments) {
        const std::string_view argument = raw;
        if (options_ended || !argument.starts_with('-')) {
            operands.push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument.starts_with("--")) {
            return long_option(argument);
        } else if (argument == "-") {
            return usage_error("'-' is no operand here: there is no input file");
        } else {
            return usage_error("invalid option -- '" + std::string(argument.substr(1, 1)) + "'");
        }
    }
    switch (operands.size()) {
        case 0:
            return Command{};
        case 1:
            return usage_error("missing BASE after '" + std::string(operands[0]) + "'");
        case 2:
            return Command{Mode::OneShot, operands[0], operands[1], {}};
        default:
            return usage_error("extra operand '" + std::string(operands[2]) + "'");
    }
}

}  // namespace app
