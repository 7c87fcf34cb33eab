// What the session sends where its output goes: a file or pipe gets UTF-8 and
// learns of nothing lost, output that cannot be written ends the program, and
// a terminal named "dumb" gets no escape sequence.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/app/run_program.h"
#include "tests/app/session_text.h"
#include "tests/platform/pty_process.h"

namespace {

using app_test::describe;
using app_test::run_program;
using app_test::RunOptions;
using app_test::RunResult;
using session_text::kExitHint;
using session_text::kWrong;
using session_text::pass_bytes;

constexpr const char* kProgram = BASECONV;

RunOptions typing_into(std::string input, RunOptions::Output output, std::string file = {}) {
    RunOptions options;
    options.input = std::move(input);
    options.output = output;
    options.output_file = std::move(file);
    return options;
}

// Typed non-ASCII characters come back as they were typed, and the console's
// other bytes as their glyphs: é is the console's 0x82, ¢ its 0x9B, a CSI
// to an 8-bit terminal.
TEST(SessionOutput, FilesAndPipesGetUtf8) {
    const std::string typed = "café ¢2J";
    const RunResult result = run_program(kProgram, {}, typing_into(typed + "\n16\n\x1b", RunOptions::Output::Pipe));
    ASSERT_TRUE(result.status && WIFEXITED(*result.status) && WEXITSTATUS(*result.status) == 0)
        << describe(result.status);
    EXPECT_EQ(result.output, pass_bytes(typed, "16", kWrong));
}

TEST(SessionOutput, AFullDeviceEndsTheSessionWithTheError) {
    // Enough passes that the output is sent before the last key as well as
    // at the end.
    std::string input = "255\n16\n";
    for (int pass = 0; pass < 300; ++pass)
        input += " 255\n16\n";
    for (const std::string& keys : {std::string("255\n16\n\x1b"), input + "\x1b", std::string("255\n16\n")}) {
        const RunResult result = run_program(kProgram, {}, typing_into(keys, RunOptions::Output::File, "/dev/full"));
        ASSERT_TRUE(result.status.has_value()) << "the program did not end";
        EXPECT_TRUE(WIFEXITED(*result.status) && WEXITSTATUS(*result.status) == 4) << describe(result.status);
        EXPECT_EQ(result.error, "baseconv: write error: No space left on device\n");
    }
}

// A reader that goes away ends the program long before it has taken all the
// keys it was given: by SIGPIPE, as writers to a closed pipe end, or with
// status 4 when it started with SIGPIPE ignored. Either way quietly.
TEST(SessionOutput, AReaderThatGoesAwayEndsTheSessionPromptly) {
    std::string input = "999999999999999\n2\n";
    for (int pass = 0; pass < 1500; ++pass)
        input += " 999999999999999\n2\n";
    input += "\x1b";
    for (const bool ignored : {false, true}) {
        RunOptions options = typing_into(input, RunOptions::Output::ClosedPipe);
        options.sigpipe_ignored = ignored;
        const RunResult result = run_program(kProgram, {}, options);
        ASSERT_TRUE(result.status.has_value()) << "the program did not end";
        if (ignored) {
            EXPECT_TRUE(WIFEXITED(*result.status) && WEXITSTATUS(*result.status) == 4) << describe(result.status);
        } else {
            EXPECT_TRUE(WIFSIGNALED(*result.status) && WTERMSIG(*result.status) == SIGPIPE) << describe(result.status);
        }
        EXPECT_EQ(result.error, "");
    }
}

// TERM=dumb: keys are read from the terminal, and what the program prints
// reaches it as it would reach a pipe, without a single escape sequence.
TEST(SessionOutput, ADumbTerminalGetsNoEscapeSequence) {
    const char* term = getenv("TERM");
    const std::string saved = term != nullptr ? term : "";
    setenv("TERM", "dumb", 1);
    platform::PtyProcess pty(80, 25);
    pty.start(kProgram, {});
    if (term != nullptr) {
        setenv("TERM", saved.c_str(), 1);
    } else {
        unsetenv("TERM");
    }
    ASSERT_TRUE(pty.read_until([&pty] { return pty.terminal_bytes().ends_with(session_text::kNumberPrompt); }))
        << testing::PrintToString(pty.terminal_bytes());
    pty.type("255\r");
    ASSERT_TRUE(pty.read_until([&pty] { return pty.terminal_bytes().ends_with(session_text::kBasePrompt); }));
    pty.type("16\r");
    ASSERT_TRUE(pty.read_until([&pty] { return pty.terminal_bytes().ends_with(std::string(kExitHint) + "\r\n"); }));
    pty.type("\x1b");
    const auto status = pty.wait_status();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << describe(status);
    EXPECT_EQ(pty.terminal_bytes(), pass_bytes("255", "16", "d15 d15 "));
    EXPECT_EQ(pty.terminal_bytes().find('\x1b'), std::string::npos);
    EXPECT_TRUE(platform::same_modes(pty.modes(), pty.initial_modes()));
}

}  // namespace
