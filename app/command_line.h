// What the command line asks for. The program follows the usual conventions
// of command-line tools: "--help" and "--version" (or any unambiguous
// beginning of them, "--h"), operands anywhere among the options, "--" ending
// the options so that the operands after it may begin with "-". Every other
// argument that begins with "-", a lone "-" included (there is no file to read
// from standard input), is a usage error.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace app {

enum class Mode {
    Session,     // no operands: the interactive session
    OneShot,     // NUMBER BASE: one answer, then the end
    Help,        // --help
    Version,     // --version
    UsageError,  // anything else; `problem` says what
};

struct Command {
    Mode mode = Mode::Session;
    // The two operands of a one-shot conversion, as given.
    std::string_view number;
    std::string_view base;
    // For a usage error, what was wrong, as one line without the program's
    // name: "unrecognized option '--foo'".
    std::string problem;
};

// `arguments` without the program's name. The first option met decides; a
// wrong option or a wrong count of operands is a usage error.
Command read_command_line(std::span<const char* const> arguments);

}  // namespace app
