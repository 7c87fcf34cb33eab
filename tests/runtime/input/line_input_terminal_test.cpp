// A line typed and edited on a real pseudo-terminal, through the terminal host,
// read back with a terminal emulator: the terminal shows exactly the cells the
// same keys leave on a test console, and the field is the one they make.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/platform/pty_process.h"
#include "tests/runtime/input/line_input_fixture.h"
#include "tests/runtime/input/typed_field.h"

namespace {

using namespace rt_testing;
using platform::PtyProcess;

constexpr int kCols = 40;
constexpr int kRows = 8;

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

struct Shown {
    std::vector<std::string> rows;
    int cursor_x;
    int cursor_y;
    friend bool operator==(const Shown&, const Shown&) = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
    for (const std::string& row : shown.rows)
        out << '|' << row << '\n';
    return out << "cursor " << shown.cursor_x << ',' << shown.cursor_y;
}

Shown shown_on(platform::VtermScreen& screen) {
    Shown shown{{}, screen.cursor_x(), screen.cursor_y()};
    for (int y = 0; y < kRows; ++y)
        shown.rows.push_back(screen.text(y));
    return shown;
}

// The same scene is also run here, on a test console of the terminal's size.
class LineInputOnATerminal : public LineInputTest {
  protected:
    LineInputOnATerminal() : LineInputTest(kCols, kRows) {}

    Shown on_the_test_console(const std::function<void()>& keys) {
        keys();
        show_typed_field();
        Shown shown{{}, cursor_x(), cursor_y()};
        for (int y = 0; y < kRows; ++y)
            shown.rows.push_back(trimmed(row(y)));
        return shown;
    }
};

// Types `bytes` on a terminal running the scene and reads until it shows
// `expected`; then any key ends the program.
void expect_terminal_shows(std::string_view bytes, const Shown& expected) {
    PtyProcess pty(kCols, kRows);
    pty.start(TYPED_FIELD_PROGRAM);
    ASSERT_TRUE(pty.read_until_row(0, "Field?"));
    pty.type(bytes);
    const bool matched = pty.read_until([&] { return shown_on(pty.screen()) == expected; });
    EXPECT_TRUE(matched) << "expected:\n" << expected << "\nshown:\n" << shown_on(pty.screen());
    pty.type("q");
    const auto status = pty.wait_status();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

TEST_F(LineInputOnATerminal, EditingInTheMiddleShowsWhatTheConsoleModelHolds) {
    const Shown expected = on_the_test_console([this] {
        console_.type("12345");
        console_.press(VK_LEFT);
        console_.press(VK_LEFT);
        console_.type("\b");
        console_.press(VK_DELETE);
        console_.type("9\r");
    });
    ASSERT_EQ(expected.rows[0], "Field? 1295");
    ASSERT_EQ(expected.rows[1], "[1295]");
    // Left, Left, Backspace and Delete as the terminal sends them.
    expect_terminal_shows("12345\x1b[D\x1b[D\x7f\x1b[3~9\r", expected);
}

TEST_F(LineInputOnATerminal, APastedNumberArrivesAsTypedCharacters) {
    const Shown expected = on_the_test_console([this] { console_.type("255\r"); });
    ASSERT_EQ(expected.rows[1], "[255]");
    expect_terminal_shows("\x1b[200~255\x1b[201~\r", expected);
}

}  // namespace
