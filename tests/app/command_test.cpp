// The program's command line, run as a script runs it: the options, one
// conversion from the operands, usage errors, and output that cannot be
// written. Every case starts the real program.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/version.h"
#include "tests/app/run_program.h"
#include "tests/app/session_text.h"
#include "tests/platform/pty_process.h"

namespace {

using app_test::describe;
using app_test::run_program;
using app_test::RunOptions;
using app_test::RunResult;

constexpr const char* kProgram = BASECONV;
constexpr std::int64_t kMax = 999'999'999'999'999;

const std::string kUsageLine = "Usage: baseconv [NUMBER BASE]\n";
const std::string kTryHelp = "Try 'baseconv --help' for more information.\n";

RunOptions typing(std::string input) {
    RunOptions options;
    options.input = std::move(input);
    return options;
}

RunOptions into_file(std::string path) {
    RunOptions options;
    options.output = RunOptions::Output::File;
    options.output_file = std::move(path);
    return options;
}

RunOptions into_closed_pipe(bool sigpipe_ignored) {
    RunOptions options;
    options.output = RunOptions::Output::ClosedPipe;
    options.sigpipe_ignored = sigpipe_ignored;
    return options;
}

void expect_exit(const RunResult& result, int code) {
    ASSERT_TRUE(result.status.has_value()) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(*result.status) && WEXITSTATUS(*result.status) == code)
        << describe(result.status) << ", expected exit " << code;
}

// --- What the command line asks for -------------------------------------------------

struct Reading {
    std::vector<const char*> arguments;
    app::Mode mode;
    std::string number;
    std::string base;
    std::string problem;
};

TEST(CommandLine, ReadsOptionsOperandsAndTheirErrors) {
    using app::Mode;
    const Reading readings[] = {
        {{}, Mode::Session, "", "", ""},
        {{"255", "16"}, Mode::OneShot, "255", "16", ""},
        {{"--help"}, Mode::Help, "", "", ""},
        {{"--version"}, Mode::Version, "", "", ""},
        // An unambiguous beginning is enough, as with every long option.
        {{"--h"}, Mode::Help, "", "", ""},
        {{"--vers"}, Mode::Version, "", "", ""},
        // The first option decides, wherever it stands.
        {{"255", "16", "--help"}, Mode::Help, "", "", ""},
        {{"--version", "--help"}, Mode::Version, "", "", ""},
        {{"--help", "--foo"}, Mode::Help, "", "", ""},
        {{"--foo", "--help"}, Mode::UsageError, "", "", "unrecognized option '--foo'"},
        {{"--help=yes"}, Mode::UsageError, "", "", "unrecognized option '--help=yes'"},
        {{"-h"}, Mode::UsageError, "", "", "invalid option -- 'h'"},
        {{"-5", "16"}, Mode::UsageError, "", "", "invalid option -- '5'"},
        {{"-"}, Mode::UsageError, "", "", "'-' is no operand here: there is no input file"},
        // After "--" everything is an operand, a sign included, which the
        // conversion then rejects.
        {{"--", "-5", "16"}, Mode::OneShot, "-5", "16", ""},
        {{"--", "--help", "2"}, Mode::OneShot, "--help", "2", ""},
        {{"--"}, Mode::Session, "", "", ""},
        {{"255", "--", "16"}, Mode::OneShot, "255", "16", ""},
        {{"255"}, Mode::UsageError, "", "", "missing BASE after '255'"},
        {{"1", "2", "3"}, Mode::UsageError, "", "", "extra operand '3'"},
        {{""}, Mode::UsageError, "", "", "missing BASE after ''"},
        {{"", ""}, Mode::OneShot, "", "", ""},
    };
    for (const Reading& r : readings) {
        const app::Command command = app::read_command_line(r.arguments);
        const std::string shown = testing::PrintToString(r.arguments);
        EXPECT_EQ(command.mode, r.mode) << shown;
        EXPECT_EQ(command.number, r.number) << shown;
        EXPECT_EQ(command.base, r.base) << shown;
        EXPECT_EQ(command.problem, r.problem) << shown;
    }
}

// --- The options, through the program ------------------------------------------------

TEST(Options, HelpGoesToStandardOutputWithStatusZero) {
    for (const char* option : {"--help", "--he"}) {
        const RunResult result = run_program(kProgram, {option});
        expect_exit(result, 0);
        EXPECT_TRUE(result.output.starts_with(kUsageLine)) << result.output;
        for (const char* mentioned : {"--help", "--version", "NUMBER", "BASE", "Exit status"})
            EXPECT_NE(result.output.find(mentioned), std::string::npos) << mentioned;
        EXPECT_EQ(result.error, "");
    }
}

TEST(Options, VersionIsTheBuildsOwn) {
    const RunResult result = run_program(kProgram, {"--version"});
    expect_exit(result, 0);
    EXPECT_EQ(result.output, "baseconv " + std::string(app::kVersion) + "\n");
    EXPECT_FALSE(app::kVersion.empty());
    EXPECT_EQ(result.error, "");
}

TEST(Options, AnythingElseGivesTheUsageOnStandardErrorWithStatusTwo) {
    const std::vector<std::vector<std::string>> command_lines = {
        {"--foo"}, {"-h"}, {"-"}, {"-x", "255", "16"}, {"255"}, {"1", "2", "3"}, {"--help=yes"}};
    for (const auto& args : command_lines) {
        const RunResult result = run_program(kProgram, args, typing("255\n16\n\x1b"));
        expect_exit(result, 2);
        EXPECT_EQ(result.output, "") << "no session starts";
        EXPECT_TRUE(result.error.starts_with("baseconv: ")) << result.error;
        EXPECT_TRUE(result.error.ends_with(kUsageLine + kTryHelp)) << result.error;
        EXPECT_EQ(std::count(result.error.begin(), result.error.end(), '\n'), 3) << result.error;
    }
}

TEST(Options, WithoutArgumentsOrAfterALoneDoubleDashTheSessionRuns) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--"}}) {
        const RunResult result = run_program(kProgram, args, typing("255\n16\n\x1b"));
        expect_exit(result, 0);
        EXPECT_EQ(result.output, session_text::pass_bytes("255", "16", "d15 d15 "));
    }
}

// --- One conversion from the operands --------------------------------------------

struct OneShot {
    std::string number;
    std::string base;
    // Empty: the input is wrong.
    std::string answer;
};

TEST(OneShotConversion, AnswersAsTheSessionWouldOrRejectsAsItWould) {
    const std::string max = std::to_string(kMax);
    const OneShot cases[] = {
        // The worked results.
        {"5", "2", "d1 d0 d1 "},
        {"0", "2", "d0 "},
        {"10", "10", "d1 d0 "},
        {"255", "16", "d15 d15 "},
        {"7", max, "d7 "},
        {max, max, "d1 d0 "},
        {max, "2", session_text::digit_line(kMax, 2)},
        {"123456789", "1000", "d123 d456 d789 "},
        // The limits and the canonical form.
        {"1000000000000000", "2", ""},
        {"5", "1000000000000000", ""},
        {"5", "1", ""},
        {"5", "0", ""},
        {"007", "8", ""},
        {"+7", "8", ""},
        {"7.0", "8", ""},
        {"7e0", "8", ""},
        {"&H7", "8", ""},
        {"-0", "8", ""},
        {"-5", "8", ""},
        {"", "8", ""},
        {"7", "", ""},
        {"7 ", "8", ""},
        {" 7", "8", ""},
        {"12,34", "8", ""},
        {"\"12\"", "8", ""},
        {"99999999999999999999999", "2", ""},
        {"7", "é", ""},
    };
    for (const OneShot& c : cases) {
        const RunResult result = run_program(kProgram, {"--", c.number, c.base});
        const std::string shown = "'" + c.number + "' '" + c.base + "'";
        if (c.answer.empty()) {
            expect_exit(result, 1);
            EXPECT_EQ(result.output, "") << shown;
            EXPECT_EQ(result.error, std::string(session_text::kWrong) + "\n") << shown;
        } else {
            expect_exit(result, 0);
            EXPECT_EQ(result.output, c.answer + "\n") << shown;
            EXPECT_EQ(result.error, "") << shown;
        }
    }
}

// On a terminal the answer is the only thing written: no clearing, no
// queries, no change of the terminal's modes.
TEST(OneShotConversion, LeavesATerminalAlone) {
    platform::PtyProcess pty(80, 25);
    pty.start(kProgram, {"255", "16"});
    const auto status = pty.wait_status();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << describe(status);
    pty.read_until([&pty] { return pty.terminal_bytes().ends_with("\r\n"); });
    EXPECT_EQ(pty.terminal_bytes(), "d15 d15 \r\n");
    EXPECT_TRUE(platform::same_modes(pty.modes(), pty.initial_modes()));
}

// --- Output that cannot be written ---------------------------------------------------

TEST(LostOutput, AFullDeviceIsReportedWithStatusFour) {
    const std::vector<std::vector<std::string>> command_lines = {{"255", "16"}, {"--help"}, {"--version"}};
    for (const auto& args : command_lines) {
        const RunResult result = run_program(kProgram, args, into_file("/dev/full"));
        expect_exit(result, 4);
        EXPECT_EQ(result.error, "baseconv: write error: No space left on device\n");
    }
}

// A reader that went away: the program ends as writers to a closed pipe do,
// by SIGPIPE, or with status 4 when it started with SIGPIPE ignored; it has
// nothing to tell anyone in either case.
TEST(LostOutput, AClosedPipeEndsTheConversionQuietly) {
    const RunResult killed = run_program(kProgram, {"255", "16"}, into_closed_pipe(false));
    ASSERT_TRUE(killed.status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*killed.status) && WTERMSIG(*killed.status) == SIGPIPE) << describe(killed.status);
    EXPECT_EQ(killed.error, "");

    const RunResult ignored = run_program(kProgram, {"255", "16"}, into_closed_pipe(true));
    expect_exit(ignored, 4);
    EXPECT_EQ(ignored.error, "");
}

}  // namespace
