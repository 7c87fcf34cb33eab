#include "runtime/core/startup.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>

#include "tests/platform/test_console.h"

namespace {

using platform::ConsoleCall;
using platform::TestConsole;

TEST(PlatformInit, AddsProcessedInputToTheConsoleInputMode) {
    const struct {
        DWORD before;
        DWORD after;
    } kCases[] = {
        {0, ENABLE_PROCESSED_INPUT},
        {ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT, ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT},
        {ENABLE_PROCESSED_INPUT, ENABLE_PROCESSED_INPUT},
    };
    for (const auto& c : kCases) {
        TestConsole console(80, 25);
        console.set_input_mode(c.before);
        rt::platform_init();
        EXPECT_EQ(console.input_mode(), c.after) << c.before;
        EXPECT_EQ(rt::std_input_handle(), GetStdHandle(STD_INPUT_HANDLE));
        EXPECT_EQ(rt::std_output_handle(), GetStdHandle(STD_OUTPUT_HANDLE));
    }
}

TEST(PlatformInit, LeavesTheModeAloneWithoutAConsoleInput) {
    TestConsole not_console(80, 25);
    not_console.set_input_mode(0);
    not_console.set_input_is_console(false);
    rt::platform_init();
    EXPECT_EQ(not_console.input_mode(), 0u);
    EXPECT_NE(rt::std_input_handle(), nullptr);

    TestConsole no_handle(80, 25);
    no_handle.set_input_mode(0);
    no_handle.fail(ConsoleCall::GetStdHandle);
    rt::platform_init();
    EXPECT_EQ(no_handle.input_mode(), 0u);
    EXPECT_EQ(rt::std_input_handle(), nullptr);
    EXPECT_EQ(rt::std_output_handle(), nullptr);

    TestConsole failing_set(80, 25);
    failing_set.set_input_mode(0);
    failing_set.fail(ConsoleCall::GetConsoleMode);
    rt::platform_init();
    EXPECT_EQ(failing_set.input_mode(), 0u);
}

TEST(PlatformInit, RoundsToNearestEvenWhateverTheModeWas) {
    TestConsole console(80, 25);
    std::fesetround(FE_UPWARD);
    rt::platform_init();
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    volatile double half = 2.5;
    EXPECT_EQ(std::nearbyint(half), 2.0);
    EXPECT_EQ(std::nearbyint(half + 1.0), 4.0);
}

TEST(RecordCommandLine, KeepsTheCountAndTheVector) {
    char program[] = "baseconv";
    char extra[] = "ignored";
    char* argv[] = {program, extra, nullptr};
    rt::record_command_line(2, argv);
    EXPECT_EQ(rt::argument_count(), 2);
    EXPECT_EQ(rt::argument_vector(), argv);
}

void at_exit_entry() { std::fputs("[at-exit entry]", stderr); }

void start_and_end(int status) {
    // The console outlives the exit: the stack is never unwound.
    TestConsole console(80, 25);
    char program[] = "baseconv";
    char* argv[] = {program, nullptr};
    rt::record_command_line(1, argv);
    rt::platform_init();
    rt::run_module_constructors();
    crt::atexit(at_exit_entry);
    rt::runtime_end(status);
}

TEST(RuntimeEnd, EndsWithTheStatusAndRunsTheAtExitList) {
    EXPECT_EXIT(start_and_end(0), ::testing::ExitedWithCode(0), "\\[at-exit entry\\]");
    EXPECT_EXIT(start_and_end(42), ::testing::ExitedWithCode(42), "\\[at-exit entry\\]");
}

}  // namespace
