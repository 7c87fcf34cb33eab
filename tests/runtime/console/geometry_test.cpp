#include "runtime/console/geometry.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/core/console_hooks.h"
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

std::uint32_t packed(std::uint32_t column, std::uint32_t row, bool visible) {
    return column + 256 * row + (visible ? rt::kLocateWasVisible : 0);
}

using Geometry = ConsoleTest;

TEST(GeometryWindow, SizesViewRowsAndConversionsFollowAWindowLowInTheBuffer) {
    TestConsole console(COORD{100, 60}, SMALL_RECT{0, 30, 99, 49});
    start_runtime();
    std::int32_t left = -1, top = -1, width = -1, height = -1;
    rt::window_rect(&left, &top, &width, &height);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(top, 30);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 20);
    rt::window_rect(nullptr, nullptr, nullptr, nullptr);
    rt::console_size(&width, &height);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 20);
    std::int32_t view_top = 0, view_bottom = 0;
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_top, 1);
    EXPECT_EQ(view_bottom, 20);

    std::int32_t x1 = 1, y1 = 1, x2 = 100, y2 = 20;
    rt::window_to_buffer(&x1, &y1, &x2, &y2);
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 30);
    EXPECT_EQ(x2, 99);
    EXPECT_EQ(y2, 49);
    rt::buffer_to_window(&x1, &y1, nullptr, &y2);
    EXPECT_EQ(x1, 1);
    EXPECT_EQ(y1, 1);
    EXPECT_EQ(x2, 99);
    EXPECT_EQ(y2, 20);

    put_cursor(5, 35);
    EXPECT_EQ(rt::cursor_column(), 6);
    EXPECT_EQ(rt::cursor_row(), 6);
    std::int32_t column = 0, row = 0;
    rt::get_cursor_position(&column, &row);
    EXPECT_EQ(column, 6);
    EXPECT_EQ(row, 6);
}

TEST(GeometryRedirected, ReportsTheDefaultSizeAndLeavesTheScreenAlone) {
    TestConsole console(100, 40);
    console.set_output_is_console(false);
    start_runtime();
    letter_rows(console);
    std::int32_t width = 0, height = 0, top = -1, view_top = 0, view_bottom = 0;
    rt::console_size(&width, &height);
    EXPECT_EQ(width, 80);
    EXPECT_EQ(height, 25);
    rt::window_rect(nullptr, &top, &width, nullptr);
    EXPECT_EQ(top, 0);
    EXPECT_EQ(width, 0);
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_top, 1);
    EXPECT_EQ(view_bottom, 25);
    std::int32_t x = 7, y = 9;
    rt::window_to_buffer(&x, &y, nullptr, nullptr);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 9);

    rt::console_clear();
    rt::console_clear(0);
    rt::locate(5, 5, 0);
    EXPECT_EQ(console.row_text(0), letters(0, 100));
    expect_cursor(console, 0, 0);
    EXPECT_TRUE(console.cursor_visible());
    EXPECT_EQ(console.written(), "");
    EXPECT_EQ(rt::console_handle().line_length, 4);
}

// A buffer of 60 rows under a window of 20, grown to 30 after the view was
// fixed: the view (window rows 1 to 20) and the window differ.
class ClearModes : public ::testing::Test {
  protected:
    ClearModes() {
        start_runtime();
        rt::view_rows(nullptr, nullptr);
        const SMALL_RECT taller{0, 10, 79, 39};
        SetConsoleWindowInfo(rt::std_output_handle(), TRUE, &taller);
        rt::window_info_refresh();
        letter_rows(console);
        console.model().set_attributes(0x1E);
        put_cursor(30, 33);
    }

    TestConsole console{COORD{80, 60}, SMALL_RECT{0, 10, 79, 29}};
};

TEST_F(ClearModes, BlankTheViewTheWindowOrNothing) {
    const struct {
        std::int32_t mode;
        int first_blank;  // buffer rows, -1 for none
        int last_blank;
    } kCases[] = {
        {rt::kClearNothing, -1, -1},
        {rt::kClearView, 10, 29},
        {rt::kClearDefault, 10, 29},
        {0, 10, 39},
        {3, 10, 39},
        {-1, 10, 39},
    };
    for (const auto& c : kCases) {
        letter_rows(console);
        put_cursor(30, 33);
        rt::ensure_console_handle();
        rt::console_handle().line_length = 12;
        rt::console_clear(c.mode);
        for (int y = 0; y < 60; ++y) {
            const bool blank = y >= c.first_blank && y <= c.last_blank;
            EXPECT_EQ(console.row_text(y), blank ? blanks(80) : letters(y, 80)) << c.mode << " row " << y;
        }
        if (c.first_blank >= 0) {
            expect_cursor(console, 0, 10);
            EXPECT_EQ(console.cell(5, c.first_blank).attr, 0x1E);
        } else {
            expect_cursor(console, 30, 33);
        }
        EXPECT_EQ(rt::console_handle().line_length, 0) << c.mode;
    }
}

TEST_F(ClearModes, BlankRectLeavesAnEmptyOrInvertedRectangleAndTheCursorAlone) {
    rt::blank_rect(rt::std_output_handle(), 10, 12, 9, 12);
    rt::blank_rect(rt::std_output_handle(), 10, 12, 3, 12);
    rt::blank_rect(rt::std_output_handle(), 10, 12, 20, 11);
    EXPECT_EQ(console.row_text(12), letters(12, 80));
    expect_cursor(console, 30, 33);

    rt::blank_rect(rt::std_output_handle(), 10, 12, 19, 13);
    EXPECT_EQ(console.row_text(13), letters(13, 10) + blanks(10) + letters(13, 60));
    EXPECT_EQ(console.row_text(11), letters(11, 80));
    expect_cursor(console, 10, 12);
}

TEST(GeometryCache, AWindowChangeIsSeenOnlyAfterTheNextPrint) {
    TestConsole console(COORD{80, 60}, SMALL_RECT{0, 0, 79, 24});
    start_runtime();
    const SMALL_RECT moved{0, 10, 79, 34};
    SetConsoleWindowInfo(rt::std_output_handle(), TRUE, &moved);
    std::int32_t top = -1;
    rt::window_rect(nullptr, &top, nullptr, nullptr);
    EXPECT_EQ(top, 0);
    print("", 0);  // nothing printed, nothing refreshed
    rt::window_rect(nullptr, &top, nullptr, nullptr);
    EXPECT_EQ(top, 0);
    put_cursor(0, 12);
    print("x");
    rt::window_rect(nullptr, &top, nullptr, nullptr);
    EXPECT_EQ(top, 10);
}

TEST(GeometryView, TheViewRowsAreFixedAtFirstUseAndCutToAShorterWindow) {
    TestConsole console(80, 25);
    start_runtime();
    std::int32_t view_top = 0, view_bottom = 0;
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_bottom, 25);

    console.model().resize(80, 40);
    print("x");
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_top, 1);
    EXPECT_EQ(view_bottom, 25);

    console.model().resize(80, 10);
    print("x");
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_bottom, 10);
    EXPECT_EQ(rt::locate(23, 1, rt::kKeepVisibility) & 0xFF00u, 256u * static_cast<std::uint32_t>(rt::cursor_row()));

    console.model().resize(80, 30);
    print("x");
    rt::view_rows(&view_top, &view_bottom);
    EXPECT_EQ(view_bottom, 25);
}

TEST_F(Geometry, LocateKeepsAndPacksTheCursorAndCancelsAPendingLineFeed) {
    put_cursor(0, 24);
    print(std::string(80, 'x'));
    ASSERT_TRUE(rt::pending_line_feed());
    EXPECT_EQ(rt::locate(0, 0, rt::kKeepVisibility), packed(80, 25, true));
    EXPECT_FALSE(rt::pending_line_feed());
    expect_cursor(console, 79, 24);

    EXPECT_EQ(rt::locate(3, 10, 0), packed(10, 3, true));
    expect_cursor(console, 9, 2);
    EXPECT_FALSE(console.cursor_visible());
    EXPECT_EQ(rt::console_handle().line_length, 9);
    EXPECT_EQ(rt::locate(4, 0, rt::kKeepVisibility), packed(10, 4, false));
    expect_cursor(console, 9, 3);
    EXPECT_EQ(rt::console_handle().line_length, 9);
}

TEST_F(Geometry, LocateOutOfRangeKeepsTheCursorButAppliesTheVisibility) {
    put_cursor(4, 6);
    const struct {
        std::int32_t row;
        std::int32_t column;
    } kCases[] = {{26, 1}, {5, 81}, {-3, 1}, {5, -1}, {26, 81}};
    for (const auto& c : kCases) {
        std::uint32_t result = 1;
        EXPECT_EQ(rt::locate_checked(c.row, c.column, 0, &result), rt::kErrorIllegalCall);
        EXPECT_EQ(result, 0u);
        EXPECT_TRUE(console.cursor_visible());

        EXPECT_EQ(rt::locate(c.row, c.column, 0), packed(5, 7, true)) << c.row << "," << c.column;
        EXPECT_EQ(rt::get_error_number(), rt::kErrorNone);
        expect_cursor(console, 4, 6);
        EXPECT_FALSE(console.cursor_visible());
        rt::locate(0, 0, 1);
    }
}

// A screen that reports its own column: locate keeps that column and still
// reads the row from the console; a column the hook places left of the window
// keeps the console's column.
TEST(GeometryHooks, LocateKeepsTheHooksColumnAndTheConsolesRow) {
    TestConsole console(COORD{100, 60}, SMALL_RECT{0, 30, 99, 49});
    start_runtime();
    static std::int32_t hooked_column;
    hooked_column = 12;
    rt::console_hooks.current_column = [] { return hooked_column; };
    put_cursor(5, 35);
    EXPECT_EQ(rt::locate(0, 0, rt::kKeepVisibility), packed(12, 6, true));
    expect_cursor(console, 11, 35);

    hooked_column = 0;
    put_cursor(5, 36);
    EXPECT_EQ(rt::locate(0, 0, rt::kKeepVisibility), packed(0, 7, true));
    expect_cursor(console, 5, 36);
    rt::console_hooks.current_column = nullptr;
}

// A screen narrower than the console: locate takes its columns from the
// size the hook reports, and a request beyond them stays at the cursor.
TEST(GeometryHooks, LocateChecksColumnsAgainstTheHooksWidth) {
    TestConsole console(80, 25);
    start_runtime();
    rt::console_hooks.console_size = [](std::int32_t* width, std::int32_t* height) {
        if (width != nullptr) *width = 40;
        if (height != nullptr) *height = 25;
    };
    std::uint32_t result = 0;
    EXPECT_EQ(rt::locate_checked(3, 41, rt::kKeepVisibility, &result), rt::kErrorIllegalCall);
    EXPECT_EQ(rt::locate_checked(3, 40, rt::kKeepVisibility, &result), rt::kErrorNone);
    EXPECT_EQ(result & 0xFFFFu, 40u + 256u * 3u);
    expect_cursor(console, 39, 2);

    EXPECT_EQ(rt::locate(4, 41, rt::kKeepVisibility) & 0xFFFFu, 40u + 256u * 3u);
    EXPECT_EQ(rt::get_error_number(), rt::kErrorNone);
    expect_cursor(console, 39, 2);
    rt::console_hooks.console_size = nullptr;
}

TEST(GeometryWide, ColumnsAbove255ArePackedModulo256) {
    TestConsole console(300, 25);
    start_runtime();
    EXPECT_EQ(rt::locate(2, 290, rt::kKeepVisibility), packed(290 % 256, 2, true));
    expect_cursor(console, 289, 1);
}

TEST_F(Geometry, SetCursorKeepsNegativeCoordinates) {
    put_cursor(7, 8);
    rt::set_cursor(rt::std_output_handle(), -1, 3, rt::kKeepVisibility);
    expect_cursor(console, 3, 8);
    rt::set_cursor(rt::std_output_handle(), 2, -1, 0);
    expect_cursor(console, 3, 2);
    EXPECT_FALSE(console.cursor_visible());
}

TEST_F(Geometry, QueriesFallBackWhenTheBufferCannotBeRead) {
    console.model().set_attributes(0x2F);
    put_cursor(9, 9);
    EXPECT_EQ(rt::current_attribute(rt::std_output_handle()), 0x2F);
    console.fail(ConsoleCall::GetConsoleScreenBufferInfo);
    EXPECT_EQ(rt::current_attribute(rt::std_output_handle()), 7);
    std::int32_t column = -1, row = -1;
    rt::get_cursor_position(&column, &row);
    EXPECT_EQ(column, 0);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(rt::cursor_column(), 1);

    // A print without the buffer's facts starts at the view's top-left.
    print("hi");
    EXPECT_EQ(console.row_text(0).substr(0, 3), "hi ");
    EXPECT_EQ(console.cell(0, 0).attr, 7);
}

TEST(GeometryArithmetic, AdvancePositionCrossesRowsBothWays) {
    const struct {
        std::int32_t column, row, delta, width, column_after, row_after;
    } kCases[] = {
        {1, 5, -1, 80, 80, 4}, {80, 5, 1, 80, 1, 6},  {1, 5, -80, 80, 1, 4}, {1, 5, -81, 80, 80, 3},
        {1, 5, 160, 80, 1, 7}, {40, 5, 0, 80, 40, 5}, {3, 1, -10, 10, 3, 0}, {5, 5, 7, 0, 5, 5},
    };
    for (const auto& c : kCases) {
        std::int32_t column = c.column, row = c.row;
        rt::advance_position(&column, &row, c.delta, c.width);
        EXPECT_EQ(column, c.column_after) << c.column << "," << c.row << " by " << c.delta;
        EXPECT_EQ(row, c.row_after) << c.column << "," << c.row << " by " << c.delta;
    }
}

TEST_F(Geometry, MoveCursorByPlacesTheCursorAcrossRows) {
    put_cursor(0, 0);
    std::int32_t column = 75, row = 5;
    rt::move_cursor_by(&column, &row, 10, 80, 25);
    EXPECT_EQ(column, 5);
    EXPECT_EQ(row, 6);
    expect_cursor(console, 4, 5);

    // Row 0 is no row: the column is taken on the cursor's own row.
    column = 1;
    row = 1;
    rt::move_cursor_by(&column, &row, -1, 80, 25);
    EXPECT_EQ(column, 80);
    EXPECT_EQ(row, 0);
    expect_cursor(console, 79, 5);
}

TEST_F(Geometry, MoveCursorByFromTheBottomRightCellScrollsOneRow) {
    letter_rows(console);
    put_cursor(79, 24);
    std::int32_t column = 80, row = 25;
    rt::move_cursor_by(&column, &row, 1, 80, 25);
    EXPECT_EQ(column, 1);
    EXPECT_EQ(row, 26);
    EXPECT_EQ(console.row_text(0), letters(1, 80));
    EXPECT_EQ(console.row_text(23), letters(24, 80));
    EXPECT_EQ(console.row_text(24), blanks(80));
    expect_cursor(console, 0, 24);
}

// Only the start of the row just below the bottom row scrolls: every other
// position below it is out of the view, and the cursor stays where it was.
TEST_F(Geometry, MoveCursorByToAnyOtherPositionBelowTheBottomRowNeitherScrollsNorMoves) {
    const struct {
        std::int32_t column, row, delta, column_after, row_after;
    } kCases[] = {
        {80, 25, 2, 2, 26},    // the second cell of the next row
        {79, 25, 81, 80, 26},  // the last cell of the next row
        {1, 25, 160, 1, 27},   // the start of the row after that
        {80, 24, 82, 2, 26},   // from the row above the bottom row
    };
    for (const auto& c : kCases) {
        letter_rows(console);
        put_cursor(10, 3);
        std::int32_t column = c.column, row = c.row;
        rt::move_cursor_by(&column, &row, c.delta, 80, 25);
        EXPECT_EQ(column, c.column_after) << c.column << "," << c.row << " by " << c.delta;
        EXPECT_EQ(row, c.row_after) << c.column << "," << c.row << " by " << c.delta;
        EXPECT_EQ(console.row_text(0), letters(0, 80)) << c.column << "," << c.row << " by " << c.delta;
        EXPECT_EQ(console.row_text(24), letters(24, 80)) << c.column << "," << c.row << " by " << c.delta;
        expect_cursor(console, 10, 3);
    }
}

}  // namespace
