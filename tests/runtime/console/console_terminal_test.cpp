// The console output layer through the real terminal host on a pseudo-terminal,
// read with a terminal emulator: what the terminal shows is what the console
// holds, scrolled lines reach the terminal's scrollback, and prints keep to the
// rule for a terminal that changes size: the buffer follows the terminal,
// keeping the cursor's row; the print view keeps the rows it had at first use
// but never reaches below the window.
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/pty_process.h"
#include "tests/runtime/console/console_fixture.h"
#include "tests/runtime/console/console_script.h"

namespace {

using platform::PtyProcess;
using platform::TestConsole;

// The console's row as the terminal shows it (the script prints ASCII only).
std::u32string shown(const TestConsole& console, int y) {
    const std::string row = console.row_text(y);
    return {row.begin(), row.end()};
}

bool same_screen(PtyProcess& pty, TestConsole& console) {
    const platform::VtermScreen& screen = pty.screen();
    if (screen.cols() != console.model().cols() || screen.rows() != console.model().rows()) return false;
    for (int y = 0; y < screen.rows(); ++y)
        if (screen.line(y) != shown(console, y)) return false;
    return screen.cursor_x() == console.cursor().X && screen.cursor_y() == console.cursor().Y;
}

std::string describe(PtyProcess& pty, TestConsole& console) {
    std::string text = "terminal / console:\n";
    for (int y = 0; y < pty.screen().rows(); ++y)
        text += "|" + pty.screen().text(y) + "\n";
    text += "cursor " + std::to_string(pty.screen().cursor_x()) + "," + std::to_string(pty.screen().cursor_y()) + "\n";
    for (int y = 0; y < console.model().rows(); ++y)
        text += "|" + console.row_text(y) + "\n";
    text += "cursor " + std::to_string(console.cursor().X) + "," + std::to_string(console.cursor().Y) + "\n";
    return text;
}

class ConsoleOnATerminal : public ::testing::Test {
  protected:
    ConsoleOnATerminal() {
        console_test::start_runtime();
        console_script::start();
        pty.start(CONSOLE_DEMO);
    }

    // The same step here and in the program, then the terminal must match.
    void step(char key) {
        console_script::step(key);
        pty.type(std::string(1, key));
        expect_same_screen();
    }

    void expect_same_screen() {
        EXPECT_TRUE(pty.read_until([&] { return same_screen(pty, console); })) << describe(pty, console);
    }

    // The terminal changes size; the program sees it (and redraws) before the
    // next key reaches it.
    void resize(int cols, int rows) {
        const std::size_t before = pty.terminal_bytes().size();
        pty.resize(cols, rows);
        ASSERT_TRUE(pty.read_until([&] { return pty.terminal_bytes().find("\x1b[2J", before) != std::string::npos; }));
        console.model().resize(cols, rows);
    }

    void end() {
        pty.type("\x1b");
        const auto status = pty.wait_status();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    }

    TestConsole console{80, 25};
    PtyProcess pty{80, 25};
};

TEST_F(ConsoleOnATerminal, ClearPromptWrapAndScrollShowAsTheConsoleHoldsThem) {
    expect_same_screen();
    EXPECT_EQ(pty.screen().text(0), "Number?");
    step('w');
    step('l');
    // Nine rows went up: the prompt, the two rows of the wrapped line and the
    // first six numbered lines, in the terminal's scrollback.
    const std::vector<std::u32string>& scrollback = pty.screen().scrollback();
    ASSERT_GE(scrollback.size(), 9u);
    const std::u32string prompt = U"Number? ";
    EXPECT_EQ(scrollback[0].substr(0, prompt.size()), prompt);
    EXPECT_EQ(scrollback[1].substr(0, 10), U"0123456789");
    EXPECT_EQ(scrollback[2].substr(0, 21), U"01234567890123456789 ");
    EXPECT_EQ(scrollback[8].substr(0, 8), U"line 05 ");
    end();
}

TEST_F(ConsoleOnATerminal, PrintsKeepToTheRuleWhenTheTerminalShrinksAndGrows) {
    step('w');
    step('l');
    step('t');

    resize(40, 10);
    expect_same_screen();
    EXPECT_EQ(pty.screen().text(8), "line 29");
    EXPECT_EQ(pty.screen().text(9), "tail");
    step('w');
    step('l');
    step('t');
    // Printing went on at the bottom of the smaller window, scrolling it.
    EXPECT_EQ(pty.screen().text(8), "line 29");
    EXPECT_EQ(pty.screen().text(9), "tail");
    EXPECT_EQ(pty.screen().cursor_x(), 4);
    EXPECT_EQ(pty.screen().cursor_y(), 9);

    resize(100, 30);
    expect_same_screen();
    step('l');
    step('w');
    // The view kept its 25 rows: printing scrolls them, and the rows the
    // terminal gained below stay empty.
    std::string digits;
    for (int i = 0; i < 100; ++i)
        digits += static_cast<char>('0' + i % 10);
    EXPECT_EQ(pty.screen().text(22), digits);
    EXPECT_EQ(pty.screen().text(21), "");
    EXPECT_EQ(pty.screen().text(20), "line 29");
    EXPECT_EQ(pty.screen().cursor_x(), 0);
    EXPECT_EQ(pty.screen().cursor_y(), 24);
    for (int y = 25; y < 30; ++y)
        EXPECT_EQ(pty.screen().text(y), "") << y;
    end();
}

}  // namespace
