// The program itself, run as a user runs it: on a terminal read through a
// terminal emulator, and through pipes.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/pty_process.h"

namespace {

using platform::PtyProcess;

constexpr const char* kProgram = BASECONV;

void expect_exit(PtyProcess& process, int code) {
    const auto status = process.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), code);
}

TEST(Program, OnATerminalEndsWithStatusZeroAndGivesTheTerminalBack) {
    PtyProcess pty(80, 25);
    pty.start(kProgram);
    expect_exit(pty, 0);
    EXPECT_TRUE(platform::same_modes(pty.modes(), pty.initial_modes()));
    EXPECT_TRUE(pty.screen().cursor_visible());
}

// The command line is accepted and ignored.
TEST(Program, ThroughPipesEndsWithStatusZeroWhateverItsArguments) {
    const std::vector<std::string> command_lines[] = {{}, {"--help"}, {"12", "16", "-x"}};
    for (const auto& args : command_lines) {
        PtyProcess process(80, 25);
        process.start(kProgram, args, {PtyProcess::Stream::Pipe, PtyProcess::Stream::Pipe, "255\n16\n\x1b", false});
        ASSERT_TRUE(process.read_until_output_closed());
        expect_exit(process, 0);
        EXPECT_EQ(process.terminal_bytes(), "");
    }
}

}  // namespace
