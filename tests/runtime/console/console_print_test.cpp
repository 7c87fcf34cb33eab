#include "runtime/console/console_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/runtime/console/console_fixture.h"

namespace {

using console_test::blanks;
using console_test::ConsoleTest;
using console_test::expect_cursor;
using console_test::letter_rows;
using console_test::letters;
using console_test::print;
using console_test::put_cursor;
using console_test::start_runtime;
using platform::ConsoleCall;
using platform::TestConsole;

using ConsolePrint = ConsoleTest;

TEST_F(ConsolePrint, AFullRowLeavesTheCursorAtTheStartOfTheNextRow) {
    put_cursor(0, 10);
    print(std::string(80, 'x'));
    EXPECT_EQ(console.row_text(10), std::string(80, 'x'));
    expect_cursor(console, 0, 11);

    print("\r\n");
    EXPECT_EQ(console.row_text(11), blanks(80));
    expect_cursor(console, 0, 12);
    EXPECT_FALSE(rt::pending_line_feed());
}

TEST_F(ConsolePrint, TextEndingInTheBottomRightCellScrollsOnlyWithTheNextPrint) {
    letter_rows(console);
    put_cursor(0, 24);
    print(std::string(80, 'x'));
    EXPECT_EQ(console.row_text(0), letters(0, 80));
    EXPECT_EQ(console.row_text(24), std::string(80, 'x'));
    expect_cursor(console, 79, 24);
    EXPECT_TRUE(rt::pending_line_feed());

    print("y");
    EXPECT_EQ(console.row_text(0), letters(1, 80));
    EXPECT_EQ(console.row_text(23), std::string(80, 'x'));
    EXPECT_EQ(console.row_text(24), "y" + blanks(79));
    expect_cursor(console, 1, 24);
    EXPECT_FALSE(rt::pending_line_feed());
}

TEST_F(ConsolePrint, LineEndsOnTheBottomRowScrollAtOnceByTheirNumber) {
    letter_rows(console);
    put_cursor(5, 24);
    print("\r\n");
    EXPECT_EQ(console.row_text(0), letters(1, 80));
    EXPECT_EQ(console.row_text(23), letters(24, 80));
    EXPECT_EQ(console.row_text(24), blanks(80));
    expect_cursor(console, 0, 24);

    print("\n\n\n");
    EXPECT_EQ(console.row_text(0), letters(4, 80));
    EXPECT_EQ(console.row_text(20), letters(24, 80));
    expect_cursor(console, 0, 24);

    // As many as the window has rows: it is blanked instead.
    letter_rows(console);
    print(std::string(25, '\n'));
    for (int y = 0; y < 25; ++y)
        EXPECT_EQ(console.row_text(y), blanks(80)) << y;
    expect_cursor(console, 0, 24);
}

TEST(ConsolePrintView, AViewShorterThanTheWindowScrollsOnlyItsRows) {
    TestConsole console(80, 25);
    start_runtime();
    rt::view_rows(nullptr, nullptr);
    console.model().resize(80, 30);
    print("x");  // the larger window is seen from here on

    // More rows than the move keeps: every row it leaves is blank.
    letter_rows(console);
    put_cursor(0, 24);
    print(std::string(20, '\n'));
    EXPECT_EQ(console.row_text(4), letters(24, 80));
    for (int y = 5; y < 25; ++y)
        EXPECT_EQ(console.row_text(y), blanks(80)) << y;
    for (int y = 25; y < 30; ++y)
        EXPECT_EQ(console.row_text(y), letters(y, 80)) << y;
    expect_cursor(console, 0, 24);

    letter_rows(console);
    print(std::string(25, '\n'));
    for (int y = 0; y < 25; ++y)
        EXPECT_EQ(console.row_text(y), blanks(80)) << y;
    EXPECT_EQ(console.row_text(25), letters(25, 80));
    EXPECT_EQ(console.window().Top, 0);
}

TEST_F(ConsolePrint, AnEmptyPrintCarriesOutAPendingLineFeedOnlyWhenAsked) {
    letter_rows(console);
    put_cursor(0, 24);
    print(std::string(80, 'x'));
    print("", 0);
    expect_cursor(console, 79, 24);
    EXPECT_TRUE(rt::pending_line_feed());

    print("", rt::kConsolePrintStep);
    EXPECT_EQ(console.row_text(23), std::string(80, 'x'));
    expect_cursor(console, 0, 24);
    EXPECT_FALSE(rt::pending_line_feed());
}

TEST(ConsolePrintBuffer, SpareRowsBelowTheWindowTakeTheScrollBeforeTheContentsMove) {
    TestConsole console(COORD{80, 27}, SMALL_RECT{0, 0, 79, 24});
    start_runtime();
    letter_rows(console);
    put_cursor(0, 24);
    print("\r\n");
    EXPECT_EQ(console.window().Top, 1);
    EXPECT_EQ(console.window().Bottom, 25);
    EXPECT_EQ(console.row_text(0), letters(0, 80));
    expect_cursor(console, 0, 25);

    // One spare row left for two line feeds: the window takes it, the buffer
    // moves up by the other.
    print("\n\n");
    EXPECT_EQ(console.window().Top, 2);
    EXPECT_EQ(console.window().Bottom, 26);
    EXPECT_EQ(console.row_text(0), letters(1, 80));
    EXPECT_EQ(console.row_text(26), blanks(80));
    expect_cursor(console, 0, 26);
}

TEST_F(ConsolePrint, TabsBlankUpToTheNextStopOverwritingTheScreen) {
    const struct {
        int column;  // 1-based view column of the tab
        int blanks;
    } kCases[] = {{1, 8}, {8, 1}, {9, 8}, {80, 1}};
    for (const auto& c : kCases) {
        letter_rows(console);
        put_cursor(c.column - 1, 3);
        print("\tQ");
        const std::string row = console.row_text(3);
        const std::size_t start = static_cast<std::size_t>(c.column - 1);
        EXPECT_EQ(row.substr(start, static_cast<std::size_t>(c.blanks)), blanks(c.blanks)) << c.column;
        const int q = c.column - 1 + c.blanks;
        EXPECT_EQ(console.cell(q % 80, 3 + q / 80).ch, 'Q') << c.column;
    }
}

TEST_F(ConsolePrint, BackspaceMovesLeftWithoutErasingAndStopsAtTheLeftEdge) {
    put_cursor(0, 4);
    print("ab\b");
    EXPECT_EQ(console.row_text(4).substr(0, 3), "ab ");
    expect_cursor(console, 1, 4);
    print("c");
    EXPECT_EQ(console.row_text(4).substr(0, 3), "ac ");

    put_cursor(0, 6);
    print("\b\bz");
    EXPECT_EQ(console.row_text(6).substr(0, 2), "z ");
    EXPECT_EQ(console.row_text(5), blanks(80));
}

TEST_F(ConsolePrint, BellSoundsWithoutWritingOrMovingAndALoneLineFeedReturns) {
    put_cursor(3, 7);
    print("ab\a");
    EXPECT_EQ(console.beeps().size(), 1u);
    EXPECT_EQ(console.row_text(7).substr(0, 6), "   ab ");
    expect_cursor(console, 5, 7);

    print("\n");
    expect_cursor(console, 0, 8);
}

TEST_F(ConsolePrint, ControlCharactersOtherThanTheFiveAreCells) {
    put_cursor(0, 2);
    print(std::string("\x0b\x0c\x1b\x00\xff", 5));
    EXPECT_EQ(console.row_text(2).substr(0, 5), std::string("\x0b\x0c\x1b\x00\xff", 5));
    expect_cursor(console, 5, 2);
}

TEST_F(ConsolePrint, CellsTakeTheCurrentAttribute) {
    console.model().set_attributes(0x1E);
    put_cursor(0, 1);
    print("a\tb");
    EXPECT_EQ(console.cell(0, 1).attr, 0x1E);
    EXPECT_EQ(console.cell(3, 1).attr, 0x1E);
    EXPECT_EQ(console.cell(8, 1).attr, 0x1E);
    EXPECT_EQ(console.cell(9, 1).attr, 7);
}

TEST_F(ConsolePrint, AFailedCellWriteDropsTheRunAndTheCursorStaysWhereItWas) {
    console.fail(ConsoleCall::WriteConsoleOutputA);
    put_cursor(5, 3);
    print("abc\bd\r");
    EXPECT_EQ(console.row_text(3), blanks(80));
    expect_cursor(console, 0, 3);

    put_cursor(5, 3);
    print("abc\b");
    expect_cursor(console, 4, 3);
}

TEST(ConsolePrintRedirected, BytesGoOutUnchangedWithNoScreenEffects) {
    TestConsole console(80, 25);
    console.set_output_is_console(false);
    start_runtime();
    const std::string text("a\tb\r\n\a\b\x0b\x0c\x00z", 11);
    print(text);
    EXPECT_EQ(console.written(), text);
    EXPECT_TRUE(console.beeps().empty());
    EXPECT_EQ(console.row_text(0), blanks(80));
    expect_cursor(console, 0, 0);

    print("", rt::kConsolePrintStep);
    EXPECT_EQ(console.written(), text);
}

TEST(ConsolePrintRedirected, PartialWritesContinueAndAWriteThatTakesNothingEnds) {
    TestConsole console(80, 25);
    console.set_output_is_console(false);
    start_runtime();
    console.set_write_limit(3);
    print("0123456789");
    EXPECT_EQ(console.written(), "0123456789");

    console.clear_written();
    console.set_write_limit(0);
    print("0123456789");
    EXPECT_EQ(console.written(), "");
}

// The printer over a view that records what it is asked to do.
struct Recorder {
    std::vector<std::string> events;
    const TestConsole* console = nullptr;
};
Recorder* g_recorder = nullptr;

bool record_write(rt::TtyView& view, std::string_view bytes) {
    g_recorder->events.push_back("write " + std::to_string(view.cursor_x) + "," + std::to_string(view.cursor_y) + " " +
                                 std::to_string(bytes.size()) + " after " +
                                 std::to_string(g_recorder->console->beeps().size()) + " beeps");
    return true;
}

void record_scroll(rt::TtyView& view, std::int32_t rows) {
    g_recorder->events.push_back("scroll " + std::to_string(rows));
    view.cursor_y = view.bottom;
}

class TtyPrinter : public ConsoleTest {
  protected:
    TtyPrinter() {
        recorder.console = &console;
        g_recorder = &recorder;
    }
    ~TtyPrinter() override { g_recorder = nullptr; }

    rt::TtyView view_at(int x, int y) { return {&info, record_scroll, record_write, 0, 0, 79, 24, x, y}; }

    Recorder recorder;
    rt::ConsoleWindowInfo info{80, 25, 7, nullptr, false};
};

TEST_F(TtyPrinter, RunsAreAtMost256BytesAndSplitAtTheRightEdge) {
    rt::TtyView view = view_at(0, 0);
    rt::tty_print(view, std::string(300, 'x'), true);
    const std::vector<std::string> expected = {
        "write 0,0 80 after 0 beeps", "write 0,1 80 after 0 beeps",  "write 0,2 80 after 0 beeps",
        "write 0,3 16 after 0 beeps", "write 16,3 44 after 0 beeps",
    };
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(view.cursor_x, 60);
    EXPECT_EQ(view.cursor_y, 3);
}

TEST_F(TtyPrinter, ABellSoundsBeforeTheRunItInterruptsIsWritten) {
    rt::TtyView view = view_at(0, 0);
    rt::tty_print(view, "ab\acd", true);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"write 0,0 4 after 1 beeps"});
}

TEST_F(TtyPrinter, ARunFillingTheBottomRowLeavesTheCursorBelowTheViewUnscrolled) {
    rt::TtyView view = view_at(70, 24);
    rt::tty_print(view, std::string(10, 'x'), true);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"write 70,24 10 after 0 beeps"});
    EXPECT_EQ(view.cursor_x, 0);
    EXPECT_EQ(view.cursor_y, 25);

    // The scroll comes just before the next row is written.
    rt::tty_write_run(view, "y");
    EXPECT_EQ(recorder.events.back(), "write 0,24 1 after 0 beeps");
    EXPECT_EQ(recorder.events.at(1), "scroll 1");
}

TEST_F(TtyPrinter, ALineFeedWithoutReturnKeepsTheColumn) {
    rt::TtyView view = view_at(7, 2);
    rt::tty_print(view, "\n", false);
    EXPECT_EQ(view.cursor_x, 7);
    EXPECT_EQ(view.cursor_y, 3);
    rt::tty_print(view, "\n", true);
    EXPECT_EQ(view.cursor_x, 0);
    EXPECT_EQ(view.cursor_y, 4);
}

TEST_F(TtyPrinter, AViewWithoutColumnsWritesNothingAndEnds) {
    rt::TtyView view{&info, record_scroll, record_write, 0, 0, -1, 24, 0, 3};
    rt::tty_print(view, "ab\tc\r\nd", true);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(view.cursor_y, 4);
}

TEST_F(TtyPrinter, ACursorPastTheRightEdgeGoesOnAtTheNextRow) {
    rt::TtyView view = view_at(90, 3);
    rt::tty_write_run(view, "ab");
    EXPECT_EQ(recorder.events, std::vector<std::string>{"write 0,4 2 after 0 beeps"});
    EXPECT_EQ(view.cursor_x, 2);
}

// What the console shows after a sequence of prints, with the cursor.
std::vector<std::string> printed_screen(const std::vector<std::string>& prints) {
    TestConsole console(13, 6);
    start_runtime();
    for (const std::string& text : prints) {
        print(text);
        const COORD cursor = console.cursor();
        EXPECT_TRUE(cursor.X >= 0 && cursor.X < 13 && cursor.Y >= 0 && cursor.Y < 6) << cursor.X << "," << cursor.Y;
        if (rt::pending_line_feed()) {
            EXPECT_EQ(cursor.X, 12);
            EXPECT_EQ(cursor.Y, 5);
        }
    }
    std::vector<std::string> screen;
    for (int y = 0; y < 6; ++y)
        screen.push_back(console.row_text(y));
    screen.push_back(std::to_string(console.cursor().X) + "," + std::to_string(console.cursor().Y));
    return screen;
}

// Random bytes, control characters often: wherever a text is cut into two
// prints, the screen and the cursor come out as from one print, and the cursor
// never leaves the screen.
TEST(ConsolePrintFuzz, ATextCutIntoTwoPrintsShowsAsOnePrint) {
    constexpr std::string_view kBytes = "abcdefgh\r\n\b\t\a\x0b\xb0";
    std::uint32_t state = 12345;
    const auto next = [&state](std::uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const std::uint32_t length = next(160);
        for (std::uint32_t i = 0; i < length; ++i)
            text += kBytes[next(static_cast<std::uint32_t>(kBytes.size()))];
        const std::size_t cut = next(length + 1);
        EXPECT_EQ(printed_screen({text}), printed_screen({text.substr(0, cut), text.substr(cut)}))
            << "round " << round << " cut at " << cut;
    }
}

TEST(ConsolePrintResize, PrintsFollowATerminalThatShrinksAndGrowsBetweenThem) {
    TestConsole console(80, 25);
    start_runtime();
    put_cursor(0, 20);
    print("line 20");

    // Shrunk under the cursor: the buffer keeps the cursor's row at its
    // bottom, and the view is cut at the window's last row.
    console.model().resize(40, 10);
    expect_cursor(console, 7, 9);
    print("\r\nnext");
    EXPECT_EQ(console.row_text(8).substr(0, 7), "line 20");
    EXPECT_EQ(console.row_text(9).substr(0, 5), "next ");
    expect_cursor(console, 4, 9);
    print(std::string(40, 'w'));
    EXPECT_EQ(console.row_text(7).substr(0, 7), "line 20");
    EXPECT_EQ(console.row_text(8), "next" + std::string(36, 'w'));
    EXPECT_EQ(console.row_text(9).substr(0, 5), "wwww ");
    std::int32_t bottom = 0;
    rt::view_rows(nullptr, &bottom);
    EXPECT_EQ(bottom, 10);

    // Grown: the view keeps the rows it had at first use; the rows below it
    // stay out of printing.
    console.model().resize(100, 30);
    print("\r\nmore");
    EXPECT_EQ(console.row_text(10).substr(0, 5), "more ");
    for (int i = 0; i < 16; ++i)
        print("\r\nL");
    expect_cursor(console, 1, 24);
    EXPECT_EQ(console.row_text(24).substr(0, 2), "L ");
    EXPECT_EQ(console.row_text(25), blanks(100));
    rt::view_rows(nullptr, &bottom);
    EXPECT_EQ(bottom, 25);
}

}  // namespace
