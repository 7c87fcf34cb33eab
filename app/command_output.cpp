#include "app/command_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/digits.h"
#include "app/program_text.h"
#include "app/version.h"
#include "runtime/core/startup.h"
#include "runtime/core/text.h"

namespace app {
namespace {

std::string usage() { return "Usage: " + std::string(kProgramName) + " [NUMBER BASE]\n"; }

constexpr std::string_view kDescription =
    "Show the digits of a decimal NUMBER in BASE, each as \"d\", its decimal value\n"
    "and a blank, most significant first: 255 in base 16 is \"d15 d15 \".\n"
    "\n"
    "Without operands, ask for a number and a base in an interactive session, pass\n"
    "after pass, until Escape is pressed at \"<Esc> for exit\".\n"
    "With NUMBER and BASE, print their digit line once and exit.\n"
    "Each value must be a decimal integer in its one canonical form (digits only,\n"
    "no sign, no leading zero): NUMBER from 0 to 999999999999999, BASE from 2 to\n"
    "999999999999999. Anything else gives \"Wrong input!\".\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status:\n"
    " 0  the digits were printed, or Escape ended the session\n"
    " 1  NUMBER or BASE is wrong\n"
    " 2  the command line is wrong\n"
    " 3  piped input ended before the Escape that ends the session\n"
    " 4  output could not be written\n";

// The digit line of a one-shot conversion, gathered from the digit printing.
std::string g_answer;

void gather(rt::StringDescriptor* text, int /*flags*/) {
    g_answer += rt::text_chars(*text);
    rt::text_release(text);
}

void set_text(rt::StringDescriptor& variable, std::string_view value) {
    rt::text_assign(&variable, rt::kDescriptorSize, rt::text_view(value), rt::kDescriptorSize, false);
}

void write_error(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// Writes `text` to standard output and closes it: only a close that succeeds
// proves that everything reached the file or pipe.
int write_output(std::string_view text, int status) {
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) error = errno;
    if (std::fclose(stdout) != 0 && error == 0) error = errno;
    if (error == 0) return status;
    // A reader that went away knows it; there is nothing to tell.
    if (error != EPIPE) {
        const std::string message = std::string(kProgramName) + ": write error: " + std::strerror(error) + "\n";
        write_error(message);
    }
    return kStatusOutputLost;
}

int convert_once(std::string_view number, std::string_view base) {
    // The number conversions round as they do in a session.
    rt::set_number_mode();
    set_text(number_text, number);
    set_text(base_text, base);
    digit_index = 0;
    if (!print_answer(gather)) {
        write_error(std::string(kWrongInput) + "\n");
        return kStatusWrongInput;
    }
    g_answer += '\n';
    return write_output(g_answer, 0);
}

}  // namespace

int run_command(const Command& command) {
    switch (command.mode) {
        case Mode::Help:
            return write_output(usage() + std::string(kDescription), 0);
        case Mode::Version:
            return write_output(std::string(kProgramName) + " " + std::string(kVersion) + "\n", 0);
        case Mode::OneShot:
            return convert_once(command.number, command.base);
        case Mode::Session:
        case Mode::UsageError:
            break;
    }
    write_error(std::string(kProgramName) + ": " + command.problem + "\n" + usage() + "Try '" +
                std::string(kProgramName) + " --help' for more information.\n");
    return kStatusUsage;
}

}  // namespace app
