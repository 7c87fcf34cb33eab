#include "platform/posix/console_model.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::ConsoleCell;
using platform::ConsoleModel;

std::string row_text(const ConsoleModel& m, int y) {
    std::string s;
    for (const ConsoleCell& c : m.row(y))
        s += static_cast<char>(c.ch);
    return s;
}

// Every row gets its own letter: row 0 "aaaa", row 1 "bbbb", ...
void letter_rows(ConsoleModel& m) {
    for (int y = 0; y < m.rows(); ++y) {
        DWORD n = 0;
        m.fill_character(static_cast<std::uint8_t>('a' + y), static_cast<DWORD>(m.cols()), {0, static_cast<SHORT>(y)},
                         n);
    }
}

std::vector<CHAR_INFO> chars(std::string_view text, WORD attr = 0x1F) {
    std::vector<CHAR_INFO> out;
    for (char c : text) {
        CHAR_INFO ci{};
        ci.Char.AsciiChar = c;
        ci.Attributes = attr;
        out.push_back(ci);
    }
    return out;
}

std::span<const std::byte> bytes(std::string_view s) { return std::as_bytes(std::span(s.data(), s.size())); }

// A case's description as a test name.
template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& param) {
    std::string n = param.param.name;
    for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return n;
}

bool same_rect(const SMALL_RECT& a, const SMALL_RECT& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TEST(ConsoleModel, StartsBlankWithDefaultsAndWholeWindow) {
    ConsoleModel m(10, 4);
    EXPECT_EQ(row_text(m, 3), "          ");
    EXPECT_EQ(m.cell(9, 3).attr, 7);
    const CONSOLE_SCREEN_BUFFER_INFO info = m.screen_buffer_info();
    EXPECT_EQ(info.dwSize.X, 10);
    EXPECT_EQ(info.dwSize.Y, 4);
    EXPECT_EQ(info.wAttributes, 7);
    EXPECT_TRUE(same_rect(info.srWindow, {0, 0, 9, 3}));
    EXPECT_EQ(m.cursor_info().dwSize, 25u);
    EXPECT_TRUE(m.cursor_info().bVisible);
    EXPECT_THROW(m.cell(10, 0), std::out_of_range);
    EXPECT_THROW(m.row(-1), std::out_of_range);
}

struct WriteCase {
    const char* name;
    SMALL_RECT region;
    COORD source_size;
    COORD source_origin;
    bool ok;
    SMALL_RECT written;  // expected region afterwards
    const char* row1;    // expected buffer row 1 afterwards
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
};

// The source grid is 4 x 2: "ABCD" over "EFGH"; the buffer is 6 x 3 of blanks.
constexpr WriteCase kWriteCases[] = {
    {"inside", {1, 1, 3, 1}, {4, 2}, {0, 0}, true, {1, 1, 3, 1}, " ABC  "},
    {"source origin offsets the cells", {0, 1, 1, 1}, {4, 2}, {2, 0}, true, {0, 1, 1, 1}, "CD    "},
    {"clipped at the right edge", {4, 1, 7, 1}, {4, 2}, {0, 0}, true, {4, 1, 5, 1}, "    AB"},
    {"clipped at the left edge keeps cell mapping", {-2, 1, 1, 1}, {4, 2}, {0, 0}, true, {0, 1, 1, 1}, "CD    "},
    {"clipped to what the source holds", {0, 1, 5, 1}, {4, 2}, {1, 0}, true, {0, 1, 2, 1}, "BCD   "},
    {"second source row", {0, 0, 3, 1}, {4, 2}, {0, 0}, true, {0, 0, 3, 1}, "EFGH  "},
    {"wholly below the buffer writes nothing", {0, 5, 3, 5}, {4, 2}, {0, 0}, true, {0, 5, 3, 2}, "      "},
    {"origin outside the source fails", {0, 1, 3, 1}, {4, 2}, {4, 0}, false, {0, 1, 3, 1}, "      "},
    {"empty source fails", {0, 1, 3, 1}, {0, 2}, {0, 0}, false, {0, 1, 3, 1}, "      "},
};

class WriteCells : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteCells, ClipsToBufferAndSource) {
    const WriteCase& c = GetParam();
    ConsoleModel m(6, 3);
    m.take_changes();
    const std::vector<CHAR_INFO> source = chars("ABCDEFGH");
    SMALL_RECT region = c.region;
    EXPECT_EQ(m.write_cells(source, c.source_size, c.source_origin, region), c.ok);
    if (c.ok) {
        EXPECT_TRUE(same_rect(region, c.written))
            << region.Left << ',' << region.Top << ',' << region.Right << ',' << region.Bottom;
    }
    EXPECT_EQ(row_text(m, 1), c.row1);
    EXPECT_EQ(m.cursor().X, 0);
    EXPECT_EQ(m.cursor().Y, 0);
    // Only rows that got cells are reported.
    const platform::ConsoleChanges changes = m.take_changes();
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(changes.rows[y], row_text(m, y) != "      ") << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(ConsoleModel, WriteCells, ::testing::ValuesIn(kWriteCases), case_name<WriteCase>);

TEST(ConsoleModel, WrittenCellsKeepTheirAttribute) {
    ConsoleModel m(4, 1);
    SMALL_RECT region{0, 0, 1, 0};
    ASSERT_TRUE(m.write_cells(chars("xy", 0x4E), {2, 1}, {0, 0}, region));
    EXPECT_EQ(m.cell(1, 0), (ConsoleCell{'y', 0x4E}));
    EXPECT_EQ(m.cell(2, 0), (ConsoleCell{' ', 7}));
}

struct ScrollCase {
    const char* name;
    SMALL_RECT scroll;
    bool has_clip;
    SMALL_RECT clip;
    COORD destination;
    bool ok;
    const char* rows[4];  // expected rows of the 5 x 4 buffer "aaaaa".."ddddd"
    friend void PrintTo(const ScrollCase& c, std::ostream* os) { *os << c.name; }
};

constexpr ScrollCase kScrollCases[] = {
    {"part of the width up one", {1, 1, 3, 3}, false, {}, {1, 0}, true, {"abbba", "bcccb", "cdddc", "d***d"}},
    {"down one: the top of the rectangle is filled",
     {0, 0, 4, 1},
     false,
     {},
     {0, 1},
     true,
     {"*****", "aaaaa", "bbbbb", "ddddd"}},
    {"to the right, off the buffer edge", {0, 0, 4, 0}, false, {}, {3, 0}, true, {"***aa", "bbbbb", "ccccc", "ddddd"}},
    {"source partly outside keeps the offset",
     {-2, 2, 2, 3},
     false,
     {},
     {0, 0},
     true,
     {"aaccc", "bbddd", "***cc", "***dd"}},
    {"clip protects cells outside it",
     {0, 1, 4, 3},
     true,
     {0, 0, 2, 3},
     {0, 0},
     true,
     {"bbbaa", "cccbb", "dddcc", "***dd"}},
    {"clip limits the fill too", {0, 2, 4, 3}, true, {0, 0, 4, 2}, {0, 0}, true, {"ccccc", "ddddd", "*****", "ddddd"}},
    {"overlapping move left", {1, 0, 4, 0}, false, {}, {0, 0}, true, {"aaaa*", "bbbbb", "ccccc", "ddddd"}},
    {"scroll rectangle outside the buffer fails",
     {0, 4, 4, 6},
     false,
     {},
     {0, 0},
     false,
     {"aaaaa", "bbbbb", "ccccc", "ddddd"}},
    {"clip outside the buffer fails",
     {0, 1, 4, 3},
     true,
     {6, 0, 8, 3},
     {0, 0},
     false,
     {"aaaaa", "bbbbb", "ccccc", "ddddd"}},
    {"empty scroll rectangle fails", {3, 1, 2, 3}, false, {}, {0, 0}, false, {"aaaaa", "bbbbb", "ccccc", "ddddd"}},
};

class Scroll : public ::testing::TestWithParam<ScrollCase> {};

TEST_P(Scroll, MovesClipsAndFills) {
    const ScrollCase& c = GetParam();
    ConsoleModel m(5, 4);
    letter_rows(m);
    EXPECT_EQ(m.scroll(c.scroll, c.has_clip ? &c.clip : nullptr, c.destination, {'*', 0x20}), c.ok);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(row_text(m, y), c.rows[y]) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(ConsoleModel, Scroll, ::testing::ValuesIn(kScrollCases), case_name<ScrollCase>);

// The rows that whole-buffer scrolls moved out, as text, oldest first.
std::vector<std::string> scrolled_off_rows(const platform::ConsoleChanges& changes, int cols) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < changes.scrolled_off.size(); i += static_cast<std::size_t>(cols)) {
        std::string row;
        for (int x = 0; x < cols; ++x)
            row += static_cast<char>(changes.scrolled_off[i + static_cast<std::size_t>(x)].ch);
        rows.push_back(row);
    }
    return rows;
}

TEST(ConsoleModel, WholeBufferScrollsKeepTheRowsTheyMoveOut) {
    ConsoleModel m(5, 4);
    letter_rows(m);
    m.take_changes();
    const SMALL_RECT whole_clip{0, 0, 4, 3};
    ASSERT_TRUE(m.scroll({0, 2, 4, 3}, nullptr, {0, 0}, {' ', 0x17}));
    ASSERT_TRUE(m.scroll({0, 1, 4, 9}, &whole_clip, {0, 0}, {' ', 0x17}));  // clipped to rows 1..3
    EXPECT_EQ(row_text(m, 0), "ddddd");
    EXPECT_EQ(m.cell(0, 3), (ConsoleCell{' ', 0x17}));
    const platform::ConsoleChanges changes = m.take_changes();
    EXPECT_EQ(changes.rows, std::vector<bool>(4, true));
    EXPECT_EQ(scrolled_off_rows(changes, 5), (std::vector<std::string>{"aaaaa", "bbbbb", "ccccc"}));
    EXPECT_TRUE(m.take_changes().scrolled_off.empty());
}

TEST(ConsoleModel, ScrolledOffRowsAreKeptUpToTheLimitAndOnlyForAWholeWindow) {
    ConsoleModel m(3, 2);
    m.take_changes();
    for (std::size_t i = 0; i < platform::kScrolledOffLimit + 5; ++i)
        m.write_text(bytes("ab\n"));
    const std::vector<std::string> rows = scrolled_off_rows(m.take_changes(), 3);
    EXPECT_EQ(rows.size(), platform::kScrolledOffLimit);
    // A window over part of the buffer does not scroll with it.
    ConsoleModel part({3, 6}, {0, 2, 2, 3});
    part.take_changes();
    part.write_text(bytes("\n\n\n\n\n\n\n"));
    EXPECT_TRUE(part.take_changes().scrolled_off.empty());
}

TEST(ConsoleModel, OtherScrollsAreOnlyChangedRows) {
    const struct {
        SMALL_RECT scroll;
        bool clip;
        COORD destination;
    } kCases[] = {
        {{0, 1, 3, 3}, false, {0, 0}},  // not the full width
        {{0, 1, 4, 2}, false, {0, 0}},  // not down to the last row
        {{0, 2, 4, 3}, false, {0, 1}},  // not to the top
        {{0, 1, 4, 3}, true, {0, 0}},   // a clip smaller than the buffer
    };
    for (const auto& c : kCases) {
        ConsoleModel m(5, 4);
        m.take_changes();
        const SMALL_RECT clip{0, 0, 4, 2};
        ASSERT_TRUE(m.scroll(c.scroll, c.clip ? &clip : nullptr, c.destination, {'*', 7}));
        const platform::ConsoleChanges changes = m.take_changes();
        EXPECT_TRUE(changes.scrolled_off.empty());
        EXPECT_TRUE(changes.any_row());
    }
}

// Whether anything changed is what an idle look goes by: every kind of change
// sets it, and a call that changes nothing does not.
TEST(ConsoleModel, HasChangesExactlyWhenTheRecordHasSome) {
    const struct {
        const char* name;
        void (*apply)(ConsoleModel&);
        bool changes;
    } kCases[] = {
        {"cursor moved",
         [](ConsoleModel& m) {
             m.set_cursor_position({2, 1});
         },
         true},
        {"cursor to where it is",
         [](ConsoleModel& m) {
             m.set_cursor_position({0, 0});
         },
         false},
        {"cursor hidden",
         [](ConsoleModel& m) {
             m.set_cursor_info({25, FALSE});
         },
         true},
        {"cursor info as it is",
         [](ConsoleModel& m) {
             m.set_cursor_info({25, TRUE});
         },
         false},
        {"window moved",
         [](ConsoleModel& m) {
             m.set_window(true, {0, 1, 4, 2});
         },
         true},
        {"a cell filled",
         [](ConsoleModel& m) {
             DWORD filled = 0;
             m.fill_character('x', 1, {3, 2}, filled);
         },
         true},
        {"text written", [](ConsoleModel& m) { m.write_text(std::as_bytes(std::span("a", 1))); }, true},
        {"resized", [](ConsoleModel& m) { m.resize(6, 3); }, true},
        {"modes set", [](ConsoleModel& m) { m.set_output_mode(0); }, false},
    };
    for (const auto& c : kCases) {
        ConsoleModel m(5, 3);
        m.take_changes();
        EXPECT_FALSE(m.has_changes()) << c.name;
        c.apply(m);
        EXPECT_EQ(m.has_changes(), c.changes) << c.name;
        const platform::ConsoleChanges changes = m.take_changes();
        EXPECT_EQ(changes.any_row() || changes.cursor || changes.window || changes.resized, c.changes) << c.name;
        EXPECT_FALSE(m.has_changes()) << c.name;
    }
}

TEST(ConsoleModel, FillsContinueOntoFollowingRowsAndStopAtTheEnd) {
    ConsoleModel m(4, 3);
    m.take_changes();
    DWORD filled = 99;
    ASSERT_TRUE(m.fill_character('x', 6, {2, 0}, filled));
    EXPECT_EQ(filled, 6u);
    EXPECT_EQ(row_text(m, 0), "  xx");
    EXPECT_EQ(row_text(m, 1), "xxxx");
    EXPECT_EQ(row_text(m, 2), "    ");
    EXPECT_EQ(m.take_changes().rows, (std::vector<bool>{true, true, false}));

    ASSERT_TRUE(m.fill_attribute(0x70, 100, {3, 1}, filled));
    EXPECT_EQ(filled, 5u);  // one cell of row 1 and all of row 2
    EXPECT_EQ(m.cell(2, 1).attr, 7);
    EXPECT_EQ(m.cell(3, 1).attr, 0x70);
    EXPECT_EQ(m.cell(3, 2).attr, 0x70);
    EXPECT_EQ(m.cell(3, 1).ch, 'x');  // the character is kept

    ASSERT_TRUE(m.fill_character('y', 0, {0, 0}, filled));
    EXPECT_EQ(filled, 0u);
    EXPECT_FALSE(m.take_changes().rows[0]);
}

TEST(ConsoleModel, FillsFailOutsideTheBuffer) {
    for (COORD start : {COORD{4, 0}, COORD{0, 3}, COORD{-1, 0}, COORD{0, -1}}) {
        ConsoleModel m(4, 3);
        DWORD filled = 99;
        EXPECT_FALSE(m.fill_character('x', 1, start, filled));
        EXPECT_EQ(filled, 0u);
        EXPECT_FALSE(m.fill_attribute(1, 1, start, filled));
    }
}

TEST(ConsoleModel, CursorPositionFailsOutsideTheBufferAndTheWindowFollows) {
    ConsoleModel m(COORD{10, 20}, SMALL_RECT{0, 5, 9, 9});
    m.take_changes();
    EXPECT_FALSE(m.set_cursor_position({10, 0}));
    EXPECT_FALSE(m.set_cursor_position({0, 20}));
    EXPECT_FALSE(m.set_cursor_position({-1, 7}));
    EXPECT_FALSE(m.take_changes().cursor);

    ASSERT_TRUE(m.set_cursor_position({3, 7}));
    EXPECT_TRUE(same_rect(m.window(), {0, 5, 9, 9}));
    ASSERT_TRUE(m.set_cursor_position({3, 12}));
    EXPECT_TRUE(same_rect(m.window(), {0, 8, 9, 12}));
    ASSERT_TRUE(m.set_cursor_position({0, 2}));
    EXPECT_TRUE(same_rect(m.window(), {0, 2, 9, 6}));
    const platform::ConsoleChanges changes = m.take_changes();
    EXPECT_TRUE(changes.cursor);
    EXPECT_TRUE(changes.window);
    EXPECT_FALSE(changes.any_row());
}

TEST(ConsoleModel, CursorInfoKeepsSizeInRangeAndTracksVisibility) {
    ConsoleModel m(4, 4);
    m.take_changes();
    EXPECT_FALSE(m.set_cursor_info({0, FALSE}));
    EXPECT_FALSE(m.set_cursor_info({101, FALSE}));
    EXPECT_TRUE(m.cursor_info().bVisible);
    EXPECT_FALSE(m.take_changes().cursor);

    ASSERT_TRUE(m.set_cursor_info({25, FALSE}));
    EXPECT_FALSE(m.cursor_info().bVisible);
    EXPECT_TRUE(m.take_changes().cursor);
    ASSERT_TRUE(m.set_cursor_info({100, 5}));  // any non-zero is visible
    EXPECT_EQ(m.cursor_info().bVisible, TRUE);
    EXPECT_EQ(m.cursor_info().dwSize, 100u);
    ASSERT_TRUE(m.set_cursor_info({100, TRUE}));
    EXPECT_TRUE(m.take_changes().cursor);
    ASSERT_TRUE(m.set_cursor_info({100, TRUE}));
    EXPECT_FALSE(m.take_changes().cursor);  // nothing changed
}

TEST(ConsoleModel, WindowMustLieInTheBuffer) {
    const struct {
        bool absolute;
        SMALL_RECT rect;
        bool ok;
        SMALL_RECT after;
    } kCases[] = {
        {true, {0, 10, 9, 14}, true, {0, 10, 9, 14}}, {true, {0, 15, 9, 19}, true, {0, 15, 9, 19}},
        {true, {0, 16, 9, 20}, false, {0, 0, 9, 4}},  // one row below the buffer
        {true, {0, 0, 10, 4}, false, {0, 0, 9, 4}},   // one column too wide
        {true, {-1, 0, 8, 4}, false, {0, 0, 9, 4}},   {true, {0, 4, 9, 3}, false, {0, 0, 9, 4}},  // empty
        {false, {0, 3, 0, 3}, true, {0, 3, 9, 7}},  // relative: moved down three rows
        {false, {0, 0, 0, -2}, true, {0, 0, 9, 2}},   {false, {0, -1, 0, -1}, false, {0, 0, 9, 4}},
    };
    for (const auto& c : kCases) {
        ConsoleModel m(COORD{10, 20}, SMALL_RECT{0, 0, 9, 4});
        EXPECT_EQ(m.set_window(c.absolute, c.rect), c.ok);
        EXPECT_TRUE(same_rect(m.window(), c.after)) << c.rect.Left << ',' << c.rect.Top;
    }
}

TEST(ConsoleModel, ConstructorClampsTheWindowIntoTheBuffer) {
    ConsoleModel m(COORD{10, 20}, SMALL_RECT{-3, 15, 12, 30});
    EXPECT_TRUE(same_rect(m.window(), {0, 15, 9, 19}));
    ConsoleModel empty(COORD{10, 20}, SMALL_RECT{0, 25, 9, 30});
    EXPECT_TRUE(same_rect(empty.window(), {0, 0, 9, 19}));
    ConsoleModel tiny(0, -5);
    EXPECT_EQ(tiny.cols(), 1);
    EXPECT_EQ(tiny.rows(), 1);
}

INPUT_RECORD key(char c) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = TRUE;
    r.Event.KeyEvent.uChar.AsciiChar = c;
    return r;
}

TEST(ConsoleModel, InputQueuePeeksWithoutRemovingAndReadsInOrder) {
    ConsoleModel m(4, 4);
    INPUT_RECORD out[3]{};
    EXPECT_EQ(m.peek_input(out), 0u);
    EXPECT_EQ(m.read_input(out), 0u);
    for (char c : std::string_view("abcd"))
        m.push_input(key(c));
    EXPECT_EQ(m.peek_input(std::span(out, 1)), 1u);
    EXPECT_EQ(m.peek_input(std::span(out, 1)), 1u);
    EXPECT_EQ(out[0].Event.KeyEvent.uChar.AsciiChar, 'a');
    EXPECT_EQ(m.input_count(), 4u);
    EXPECT_EQ(m.read_input(out), 3u);
    EXPECT_EQ(out[2].Event.KeyEvent.uChar.AsciiChar, 'c');
    EXPECT_EQ(m.read_input(out), 1u);
    EXPECT_EQ(out[0].Event.KeyEvent.uChar.AsciiChar, 'd');
    EXPECT_EQ(m.input_count(), 0u);
}

TEST(ConsoleModel, ChangesAreReportedOnce) {
    ConsoleModel m(4, 3);
    platform::ConsoleChanges first = m.take_changes();
    EXPECT_EQ(first.rows, std::vector<bool>(3, true));
    EXPECT_TRUE(first.cursor && first.window && first.resized);

    platform::ConsoleChanges none = m.take_changes();
    EXPECT_FALSE(none.any_row() || none.cursor || none.window || none.resized);

    SMALL_RECT region{1, 2, 1, 2};
    m.write_cells(chars("z"), {1, 1}, {0, 0}, region);
    m.set_cursor_position({1, 2});
    platform::ConsoleChanges some = m.take_changes();
    EXPECT_EQ(some.rows, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(some.cursor);
    EXPECT_FALSE(some.window || some.resized);
}

// Taken into the same record frame after frame, as the screen does: what one
// take reported never shows up again in a later one.
TEST(ConsoleModel, ChangesTakenIntoOneRecordAreReportedOnce) {
    ConsoleModel m(4, 3);
    platform::ConsoleChanges changes;
    m.take_changes(changes);
    EXPECT_EQ(changes.rows, std::vector<bool>(3, true));
    EXPECT_TRUE(changes.cursor && changes.window && changes.resized);

    m.take_changes(changes);
    EXPECT_FALSE(changes.any_row() || changes.cursor || changes.window || changes.resized);

    m.write_text(std::as_bytes(std::span("abcdefghijklm", 13)));  // scrolls a row off
    m.take_changes(changes);
    EXPECT_TRUE(changes.any_row() && changes.cursor);
    EXPECT_EQ(changes.scrolled_off.size(), 4u);

    // The model keeps the record taken into before: it comes back two takes on.
    for (int take = 0; take < 2; ++take) {
        m.take_changes(changes);
        EXPECT_FALSE(changes.any_row() || changes.cursor || changes.window || changes.resized) << take;
        EXPECT_TRUE(changes.scrolled_off.empty()) << take;
        EXPECT_EQ(changes.rows.size(), 3u);
    }
}

TEST(ConsoleModel, ResizeKeepsTopLeftAndPadsWithDefaultBlanks) {
    ConsoleModel m(4, 3);
    letter_rows(m);
    m.set_attributes(0x1E);
    m.set_cursor_position({3, 1});
    m.take_changes();

    m.resize(6, 2);
    EXPECT_EQ(m.cols(), 6);
    EXPECT_EQ(m.rows(), 2);
    EXPECT_EQ(row_text(m, 0), "aaaa  ");
    EXPECT_EQ(row_text(m, 1), "bbbb  ");
    EXPECT_EQ(m.cell(5, 1), (ConsoleCell{' ', 7}));
    EXPECT_TRUE(same_rect(m.window(), {0, 0, 5, 1}));  // it showed all, it shows all
    EXPECT_EQ(m.cursor().X, 3);
    EXPECT_EQ(m.cursor().Y, 1);
    const platform::ConsoleChanges changes = m.take_changes();
    EXPECT_TRUE(changes.resized && changes.window && changes.cursor);
    EXPECT_EQ(changes.rows, std::vector<bool>(2, true));

    m.resize(6, 2);
    EXPECT_FALSE(m.take_changes().resized);
}

TEST(ConsoleModel, ResizeBelowTheCursorDropsRowsFromTheTop) {
    ConsoleModel m(4, 3);
    letter_rows(m);
    m.set_cursor_position({3, 2});
    m.resize(3, 2);
    EXPECT_EQ(row_text(m, 0), "bbb");
    EXPECT_EQ(row_text(m, 1), "ccc");
    EXPECT_EQ(m.cursor().X, 2);
    EXPECT_EQ(m.cursor().Y, 1);
    m.resize(3, 1);
    EXPECT_EQ(row_text(m, 0), "ccc");
    EXPECT_EQ(m.cursor().Y, 0);
}

TEST(ConsoleModel, ResizeClampsAPartialWindow) {
    ConsoleModel m(COORD{10, 30}, SMALL_RECT{0, 20, 9, 24});
    m.resize(8, 22);
    EXPECT_TRUE(same_rect(m.window(), {0, 17, 7, 21}));
    m.resize(8, 3);
    EXPECT_TRUE(same_rect(m.window(), {0, 0, 7, 2}));
}

TEST(ConsoleModel, TextOutputWrapsScrollsAndInterpretsControls) {
    ConsoleModel m(10, 3);
    m.take_changes();
    m.set_attributes(0x1F);
    m.write_text(bytes("abcdefghijkl"));
    EXPECT_EQ(row_text(m, 0), "abcdefghij");
    EXPECT_EQ(row_text(m, 1), "kl        ");
    EXPECT_EQ(m.cursor().X, 2);
    EXPECT_EQ(m.cell(0, 1).attr, 0x1F);

    m.write_text(bytes("\bX\rY\n1\t2"));
    EXPECT_EQ(row_text(m, 1), "YX        ");
    EXPECT_EQ(row_text(m, 2), "1       2 ");
    EXPECT_TRUE(m.take_changes().scrolled_off.empty());

    m.write_text(bytes("\r\nZ\a"));
    EXPECT_EQ(scrolled_off_rows(m.take_changes(), 10), std::vector<std::string>{"abcdefghij"});
    EXPECT_EQ(row_text(m, 0), "YX        ");
    EXPECT_EQ(row_text(m, 2), "Z         ");
    EXPECT_EQ(m.cell(9, 2).attr, 0x1F);  // blanked with the current attribute
    EXPECT_EQ(m.cursor().X, 1);
    EXPECT_EQ(m.cursor().Y, 2);

    m.write_text(bytes("\r\b"));  // backspace stops at the left edge
    EXPECT_EQ(m.cursor().X, 0);
    m.write_text(bytes("12345678\t"));  // a tab that fills the row wraps like any cell
    EXPECT_EQ(row_text(m, 1), "12345678  ");
    EXPECT_EQ(m.cursor().X, 0);
    EXPECT_EQ(m.cursor().Y, 2);
    EXPECT_EQ(scrolled_off_rows(m.take_changes(), 10), std::vector<std::string>{"YX        "});
}

TEST(ConsoleModel, TextOutputHonoursTheOutputMode) {
    ConsoleModel m(3, 2);
    m.set_output_mode(0x2);  // wrap, but not processed: controls are shown
    m.write_text(bytes("\r\na"));
    EXPECT_EQ(row_text(m, 0), "\r\na");
    EXPECT_EQ(m.cursor().Y, 1);
    m.set_output_mode(0x1);  // processed, no wrap: the last column is overwritten
    m.write_text(bytes("xyz"));
    EXPECT_EQ(row_text(m, 1), "xyz");
    m.write_text(bytes("Q"));
    EXPECT_EQ(row_text(m, 1), "xyQ");
    EXPECT_EQ(m.cursor().X, 2);
    EXPECT_EQ(m.cursor().Y, 1);
}

TEST(ConsoleModel, TextOutputOnASingleRowBlanksIt) {
    ConsoleModel m(3, 1);
    m.write_text(bytes("abc"));
    EXPECT_EQ(row_text(m, 0), "   ");
    m.write_text(bytes("de"));
    EXPECT_EQ(row_text(m, 0), "de ");
}

TEST(ConsoleModel, TextOutputMovesTheWindowOverTheCursor) {
    ConsoleModel m(COORD{4, 10}, SMALL_RECT{0, 0, 3, 2});
    m.write_text(bytes("1\n2\n3\n4"));
    EXPECT_EQ(m.cursor().Y, 3);
    EXPECT_TRUE(same_rect(m.window(), {0, 1, 3, 3}));
}

}  // namespace
