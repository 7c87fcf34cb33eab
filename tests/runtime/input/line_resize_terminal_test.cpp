// The program on a pseudo-terminal that changes size while a number is being
// typed, read back with a terminal emulator: the screen always shows the
// prompt and the whole line typed so far, and the answer is for that line.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/app/session_text.h"
#include "tests/platform/pty_process.h"

namespace {

using platform::PtyProcess;
using session_text::kBasePrompt;
using session_text::kNumberPrompt;

std::string trimmed(std::string_view text) { return std::string(text.substr(0, text.find_last_not_of(' ') + 1)); }

std::string dump(PtyProcess& pty) {
    std::string text;
    for (int y = 0; y < pty.screen().rows(); ++y)
        text += "|" + pty.screen().text(y) + "\n";
    return text + "cursor " + std::to_string(pty.screen().cursor_x()) + "," + std::to_string(pty.screen().cursor_y());
}

// Reads until some row shows `rows` one below the other, from its first
// column, with the cursor at `cursor_x` on the last of them.
void expect_rows_with_cursor(PtyProcess& pty, const std::vector<std::string>& rows, int cursor_x) {
    const bool shown = pty.read_until([&] {
        const int last = pty.screen().cursor_y();
        const int first = last - static_cast<int>(rows.size()) + 1;
        if (first < 0 || pty.screen().cursor_x() != cursor_x) return false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (pty.screen().text(first + static_cast<int>(i)) != rows[i]) return false;
        }
        return true;
    });
    std::string wanted;
    for (const std::string& row : rows)
        wanted += "|" + row + "\n";
    EXPECT_TRUE(shown) << "wanted, cursor at " << cursor_x << " on the last row:\n"
                       << wanted << "shown:\n"
                       << dump(pty);
}

// Enter, the base 10 and Enter on a terminal 40 columns wide, where each
// prompt fills a row: the answer for 12345, then Escape ends the program.
void expect_answer_for_12345(PtyProcess& pty) {
    pty.type("\r10\r");
    const bool answered = pty.read_until([&] {
        const int y = pty.screen().cursor_y();
        return y >= 4 && pty.screen().text(y - 4) == trimmed(kBasePrompt) && pty.screen().text(y - 3) == "10" &&
               pty.screen().text(y - 2) == "d1 d2 d3 d4 d5" && pty.screen().text(y - 1) == session_text::kExitHint;
    });
    EXPECT_TRUE(answered) << dump(pty);
    pty.type("\x1b");
    const auto status = pty.wait_status();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

// At 80 x 25 the line follows the prompt on its row; at 40 x 10 the prompt
// fills a row and the line is shown on the row below it.
TEST(LineOnAResizedTerminal, ShrunkWhileTypingTheLineIsShownAgainBelowThePrompt) {
    PtyProcess pty(80, 25);
    pty.start(BASECONV);
    ASSERT_TRUE(pty.read_until_row(0, trimmed(kNumberPrompt)));
    pty.type("1234");
    expect_rows_with_cursor(pty, {kNumberPrompt + "1234"}, static_cast<int>(kNumberPrompt.size()) + 4);
    pty.resize(40, 10);
    expect_rows_with_cursor(pty, {trimmed(kNumberPrompt), "1234"}, 4);
    pty.type("5");
    expect_rows_with_cursor(pty, {trimmed(kNumberPrompt), "12345"}, 5);
    expect_answer_for_12345(pty);
}

// Grown from 40 x 10 to 40 x 14, the program prints within its first ten
// rows. A line that runs past the last cell of those rows scrolls them and
// goes on on their bottom row.
TEST(LineOnAResizedTerminal, GrownTypingPastTheViewsLastCellGoesOnBelow) {
    PtyProcess pty(40, 10);
    pty.start(BASECONV);
    ASSERT_TRUE(pty.read_until_row(0, trimmed(kNumberPrompt)));
    pty.resize(40, 14);
    for (const char* pass : {"1\r2\r", "3\r4\r"}) {
        pty.type(pass);
        ASSERT_TRUE(pty.read_until([&] {
            const int y = pty.screen().cursor_y();
            return y >= 1 && pty.screen().text(y - 1) == session_text::kExitHint;
        })) << dump(pty);
        pty.type(" ");
        // The prompt fills its row: typing starts on the next.
        ASSERT_TRUE(pty.read_until([&] {
            const int y = pty.screen().cursor_y();
            return y >= 1 && pty.screen().text(y - 1) == trimmed(kNumberPrompt) && pty.screen().cursor_x() == 0;
        })) << dump(pty);
    }
    const std::string blanks(36, ' ');
    pty.type(blanks + "12345");
    expect_rows_with_cursor(pty, {trimmed(kNumberPrompt), blanks + "1234", "5"}, 1);
    EXPECT_EQ(pty.screen().cursor_y(), 9) << dump(pty);
    expect_answer_for_12345(pty);
}

}  // namespace
