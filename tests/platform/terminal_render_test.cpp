#include "platform/posix/terminal_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/posix/console_model.h"
#include "platform/posix/cp437.h"
#include "tests/platform/vterm_screen.h"

namespace {

using Cell = platform::ConsoleCell;
using platform::Frame;
using platform::TerminalRenderer;
using platform::VtermScreen;

// A console window as the model keeps it: cells, cursor, visibility.
struct Window {
    int cols;
    int rows;
    std::vector<Cell> cells;
    int cursor_x = 0;
    int cursor_y = 0;
    bool cursor_visible = true;

    Window(int c, int r) : cols(c), rows(r), cells(static_cast<std::size_t>(c * r)) {}

    Cell& at(int x, int y) { return cells[static_cast<std::size_t>(y * cols + x)]; }
    const Cell& at(int x, int y) const { return cells[static_cast<std::size_t>(y * cols + x)]; }

    // The rows changed since the last frame taken with changed_frame():
    // [changed_from, changed_to).
    int changed_from = 0;
    int changed_to = 0;
    void mark(int y) {
        if (changed_from >= changed_to) {
            changed_from = y;
            changed_to = y + 1;
        }
        changed_from = std::min(changed_from, y);
        changed_to = std::max(changed_to, y + 1);
    }

    // Bytes from (x, y) on, clipped at the row's end.
    void put(int x, int y, std::string_view bytes, WORD attr = 7) {
        mark(y);
        for (const char b : bytes) {
            if (x >= cols) break;
            at(x++, y) = {static_cast<std::uint8_t>(b), attr};
        }
    }
    void set_row(int y, std::string_view bytes) {
        mark(y);
        std::fill_n(&at(0, y), cols, Cell{});
        put(0, y, bytes);
    }
    void scroll_up(int n) {
        const int moved = std::min(n, rows);
        std::move(cells.begin() + moved * cols, cells.end(), cells.begin());
        std::fill(cells.end() - moved * cols, cells.end(), Cell{});
    }
    std::u32string glyphs(int y) const {
        std::u32string line;
        for (int x = 0; x < cols; ++x)
            line += platform::cp437_glyph(at(x, y).ch);
        return line;
    }
    Frame frame() const { return {cols, rows, cells, cursor_x, cursor_y, cursor_visible}; }
    // The frame with only the rows changed since the last such frame named.
    Frame changed_frame() {
        Frame f = frame();
        f.changed_from = changed_from;
        f.changed_to = changed_to;
        changed_from = changed_to = 0;
        return f;
    }
};

// ---------------------------------------------------------------------------
// Exact bytes

// A window of 10 x 3 given as its rows' text and the cursor.
struct Shot {
    std::vector<std::string_view> lines;
    int x = 0;
    int y = 0;
    bool visible = true;
};

Window window_of(const Shot& shot) {
    Window w(10, 3);
    for (std::size_t y = 0; y < shot.lines.size(); ++y)
        w.put(0, static_cast<int>(y), shot.lines[y]);
    w.cursor_x = shot.x;
    w.cursor_y = shot.y;
    w.cursor_visible = shot.visible;
    return w;
}

struct BytesCase {
    const char* name;
    std::vector<Shot> shots;  // drawn in turn on a fresh renderer
    std::string_view last;    // the bytes of the last draw

    friend void PrintTo(const BytesCase& c, std::ostream* os) { *os << c.name; }
};

const BytesCase kBytesCases[] = {
    {"first draw clears and shows the cursor", {{{"hi"}, 2, 0}}, "\x1b[0m\x1b[H\x1b[2Jhi\x1b[?25h"},
    {"first draw with a hidden cursor", {{{"hi"}, 2, 0, false}}, "\x1b[0m\x1b[H\x1b[2J\x1b[?25lhi"},
    {"unchanged frame", {{{"abc"}, 3, 0}, {{"abc"}, 3, 0}}, ""},
    {"typed character at the end of a line", {{{"ab"}, 2, 0}, {{"abc"}, 3, 0}}, "c"},
    {"insertion before a 3-character tail", {{{"abdef"}, 2, 0}, {{"abcdef"}, 3, 0}}, "\x1b[@c"},
    {"insertion before a 5-character tail", {{{"a12345"}, 1, 0}, {{"ab12345"}, 2, 0}}, "\x1b[@b"},
    {"insertion before a 1-character tail is rewritten", {{{"abd"}, 2, 0}, {{"abcd"}, 3, 0}}, "cd\b"},
    {"tab of 3 blanks before a tail", {{{"ab12345"}, 2, 0}, {{"ab   12345"}, 5, 0}}, "\x1b[3@\x1b[3C"},
    {"inserted where the cursor is not", {{{"a12345"}, 6, 0}, {{"ab12345"}, 2, 0}}, "\x1b[5D\x1b[@b"},
    {"deletion before a 4-character tail", {{{"abcdefg"}, 3, 0}, {{"abdefg"}, 2, 0}}, "\b\x1b[P"},
    {"deletion before a 2-character tail is rewritten", {{{"abcde"}, 3, 0}, {{"abde"}, 2, 0}}, "\bde \b\b\b"},
    {"backspace at the end of a line", {{{"abc"}, 3, 0}, {{"ab"}, 2, 0}}, "\b \b"},
    {"character in the last column wraps the cursor", {{{"abcdefghi"}, 9, 0}, {{"abcdefghij"}, 0, 1}}, "j\r\n"},
    {"bottom-right cell keeps the cursor there", {{{"", "", "abcdefghi"}, 9, 2}, {{"", "", "abcdefghij"}, 9, 2}}, "j"},
    {"after the last column, writing elsewhere positions first",
     {{{"", "", "abcdefghi"}, 9, 2}, {{"", "", "abcdefghij"}, 9, 2}, {{"X", "", "abcdefghij"}, 1, 0}},
     "\x1b[HX"},
    {"after the last column, rewriting it positions first",
     {{{"", "", "abcdefghi"}, 9, 2}, {{"", "", "abcdefghij"}, 9, 2}, {{"", "", "abcdefghiK"}, 9, 2}},
     "\x1b[3;10HK"},
    {"cursor move only", {{{"abc"}, 3, 0}, {{"abc"}, 5, 2}}, "\x1b[3;6H"},
    {"cursor to the next line's start", {{{"abc"}, 3, 0}, {{"abc"}, 0, 1}}, "\r\n"},
    {"cursor up in its column", {{{}, 5, 2}, {{}, 5, 0}}, "\x1b[2A"},
    {"cursor hidden", {{{"abc"}, 3, 0}, {{"abc"}, 3, 0, false}}, "\x1b[?25l"},
    {"cursor shown again after the move", {{{"abc"}, 3, 0, false}, {{"abc"}, 0, 1}}, "\r\n\x1b[?25h"},
    {"cursor outside the window is hidden, not moved", {{{"abc"}, 3, 0}, {{"abc"}, 3, 3}}, "\x1b[?25l"},
    {"cleared line is erased", {{{"abcdefgh"}, 8, 0}, {{""}, 0, 0}}, "\r\x1b[K"},
    {"short change is written, not erased", {{{"abcdefgh"}, 8, 0}, {{"abcdef"}, 6, 0}}, "\b\b  \b\b"},
    {"unchanged cell between changes is not sent again", {{{"abc"}, 3, 0}, {{"XbY"}, 3, 0}}, "\rX\x1b[CY"},
    {"long unchanged stretch is skipped", {{{"abcdefgh"}, 0, 0}, {{"abcdefgX"}, 8, 0}}, "\x1b[7CX"},
    {"cell byte 0 shows as a blank", {{{"a"}, 1, 0}, {{std::string_view("\0", 1)}, 1, 0}}, "\r "},
    {"glyphs go out as UTF-8", {{{}, 0, 0}, {{"\x01\xDB"}, 2, 0}}, "\u263A\u2588"},
    {"control bytes in cells go out as glyphs", {{{}, 0, 0}, {{"\x1b[2J\x07\x9b"}, 6, 0}}, "\u2190[2J\u2022\u00A2"},
};

class ExactBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(ExactBytes, LastDrawSendsExactly) {
    TerminalRenderer renderer(10, 3);
    std::string last;
    for (const Shot& shot : GetParam().shots) {
        const Window w = window_of(shot);
        renderer.draw(w.frame());
        last = renderer.take_output();
    }
    EXPECT_EQ(last, GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(Frames, ExactBytes, ::testing::ValuesIn(kBytesCases), [](const auto& case_info) {
    std::string name;
    for (const char* p = case_info.param.name; *p != 0; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

// Cell 'A' in one attribute, then cell 'B' beside it in another.
struct ColourCase {
    WORD first;
    WORD second;
    std::string_view sgr;  // sent before 'B'

    friend void PrintTo(const ColourCase& c, std::ostream* os) {
        *os << std::hex << "0x" << c.first << " then 0x" << c.second;
    }
};

const ColourCase kColourCases[] = {
    {0x07, 0x07, ""},
    {0x07, 0x1E, "\x1b[93;44m"},  // yellow (red + green, intense) on blue
    {0x1E, 0x07, "\x1b[0m"},
    {0x1E, 0x1C, "\x1b[91m"},  // only the foreground changes
    {0x1E, 0x2E, "\x1b[42m"},  // only the background changes
    {0x1E, 0xC1, "\x1b[34;101m"},
    {0x07, 0x70, "\x1b[30;47m"},
    {0x07, 0x17, "\x1b[37;44m"},  // colour 7 on another background is not the default
    {0x07, 0x0F, "\x1b[97;40m"},
    {0x07, 0x4007, ""},  // bits above the colour byte are not drawn
    {0x1E, 0x801E, ""},
};

class Colours : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Colours, PenChangesOnlyWhenTheColoursDo) {
    TerminalRenderer renderer(10, 3);
    Window w(10, 3);
    w.put(0, 0, "A", GetParam().first);
    w.cursor_x = 1;
    renderer.draw(w.frame());
    renderer.take_output();
    w.put(1, 0, "B", GetParam().second);
    w.cursor_x = 2;
    renderer.draw(w.frame());
    EXPECT_EQ(renderer.take_output(), std::string(GetParam().sgr) + "B");
}

INSTANTIATE_TEST_SUITE_P(Attributes, Colours, ::testing::ValuesIn(kColourCases));

struct RendererBytes : ::testing::Test {
    Window w{10, 3};
    TerminalRenderer renderer{10, 3};

    std::string draw() {
        renderer.draw(w.frame());
        return renderer.take_output();
    }
};

// The line editor's echo of one typed character, as console calls on the
// model: hide the cursor, write the cell, place the cursor after it, show it.
TEST(RendererOverModel, EchoOfATypedCharacterIsOneByte) {
    platform::ConsoleModel model(80, 25);
    TerminalRenderer renderer(80, 25);
    auto frame = [&model] {
        return Frame{model.cols(),     model.rows(),     model.cells(),
                     model.cursor().X, model.cursor().Y, model.cursor_info().bVisible != 0};
    };
    auto write_cell = [&model](SHORT x, SHORT y, char c) {
        CHAR_INFO cell{};
        cell.Char.AsciiChar = c;
        cell.Attributes = 7;
        SMALL_RECT region{x, y, x, y};
        ASSERT_TRUE(model.write_cells({&cell, 1}, {1, 1}, {0, 0}, region));
    };
    for (SHORT x = 0; x < 8; ++x)
        write_cell(x, 3, "Number? "[x]);
    ASSERT_TRUE(model.set_cursor_position({8, 3}));
    renderer.draw(frame());
    renderer.take_output();

    for (const char typed : std::string_view("255")) {
        const COORD at = model.cursor();
        ASSERT_TRUE(model.set_cursor_info({25, FALSE}));
        write_cell(at.X, at.Y, typed);
        ASSERT_TRUE(model.set_cursor_position({static_cast<SHORT>(at.X + 1), at.Y}));
        ASSERT_TRUE(model.set_cursor_info({25, TRUE}));
        renderer.draw(frame());
        EXPECT_EQ(renderer.take_output(), std::string(1, typed));
    }
}

TEST_F(RendererBytes, TypingALineCostsOneBytePerCharacterAndThreeForTheLastColumn) {
    draw();
    const std::string_view typed = "abcdefghijklm";
    for (const char c : typed) {
        w.put(w.cursor_x, w.cursor_y, std::string_view(&c, 1));
        if (++w.cursor_x == w.cols) {
            w.cursor_x = 0;
            ++w.cursor_y;
        }
        const std::string expected = c == 'j' ? "j\r\n" : std::string(1, c);
        EXPECT_EQ(draw(), expected) << "typing " << c;
    }
}

TEST_F(RendererBytes, ScrollSendsLineFeedsOnTheBottomRowAndNothingMoreIsRedrawn) {
    w.set_row(0, "one");
    w.set_row(1, "two");
    w.set_row(2, "three");
    w.cursor_x = 5;
    w.cursor_y = 2;
    draw();
    renderer.scroll_up(2);
    w.scroll_up(2);
    EXPECT_EQ(renderer.take_output(), "\r\n\n");
    // The terminal already shows the scrolled window: only the cursor moves.
    EXPECT_EQ(draw(), "\x1b[5C");
}

// Rows outside the changed range are taken as shown: they cost nothing, not
// even a comparison, however they differ.
TEST_F(RendererBytes, OnlyTheChangedRowsAreDrawn) {
    draw();
    w.set_row(0, "top");
    w.set_row(2, "low");
    Frame frame = w.frame();
    frame.changed_from = 2;
    frame.changed_to = 3;
    renderer.draw(frame);
    EXPECT_EQ(renderer.take_output(), "\x1b[3Hlow\x1b[H");
    frame.changed_from = frame.changed_to = 0;
    renderer.draw(frame);
    EXPECT_EQ(renderer.take_output(), "");
    EXPECT_EQ(draw(), "top\r");
}

// A scroll moves what the terminal shows: the next frame is compared row for
// row whatever it says changed.
TEST_F(RendererBytes, AfterAScrollEveryRowIsCompared) {
    w.set_row(0, "one");
    w.set_row(1, "two");
    draw();
    renderer.scroll_up(1);
    renderer.take_output();
    Frame frame = w.frame();
    frame.changed_from = frame.changed_to = 0;
    renderer.draw(frame);
    EXPECT_EQ(renderer.take_output(), "\x1b[Hone\r\ntwo\x1b[H");
}

TEST_F(RendererBytes, ScrollResetsColoursSoNewLinesAreBlankAndIsCappedAtTheScreen) {
    w.put(0, 0, "x", 0x1E);
    w.cursor_x = 1;
    draw();
    renderer.scroll_up(7);
    EXPECT_EQ(renderer.take_output(), "\x1b[0m\x1b[3H\n\n\n");
}

TEST_F(RendererBytes, ScrollBeforeTheFirstDrawSendsNothing) {
    renderer.scroll_up(1);
    EXPECT_EQ(renderer.take_output(), "");
}

TEST_F(RendererBytes, BellIsSentInOrder) {
    draw();
    renderer.bell();
    w.put(0, 1, "x");
    w.cursor_y = 1;
    w.cursor_x = 1;
    EXPECT_EQ(draw(), "\a\r\nx");
}

TEST_F(RendererBytes, ResetRedrawsEverythingAtTheNewSize) {
    w.set_row(0, "abc");
    draw();
    EXPECT_EQ(draw(), "");
    renderer.reset(4, 2);
    Window small(4, 2);
    small.put(0, 1, "xy");
    small.cursor_y = 1;
    small.cursor_x = 2;
    renderer.draw(small.frame());
    EXPECT_EQ(renderer.take_output(), "\x1b[0m\x1b[H\x1b[2J\r\nxy\x1b[?25h");
}

TEST_F(RendererBytes, OutputIsTakenOnce) {
    draw();
    EXPECT_EQ(renderer.take_output(), "");
}

// ---------------------------------------------------------------------------
// Through a terminal emulator

// The emulator shows the window's cells, colours and cursor.
::testing::AssertionResult shows(const VtermScreen& term, const Window& w) {
    for (int y = 0; y < w.rows; ++y) {
        for (int x = 0; x < w.cols; ++x) {
            const Cell cell = w.at(x, y);
            const char32_t glyph = platform::cp437_glyph(cell.ch);
            if (term.glyph(x, y) != glyph || term.attr(x, y) != (cell.attr & 0xFF)) {
                return ::testing::AssertionFailure()
                       << "cell (" << x << ", " << y << "): shows " << static_cast<std::uint32_t>(term.glyph(x, y))
                       << " attr " << term.attr(x, y) << ", model has " << static_cast<std::uint32_t>(glyph) << " attr "
                       << cell.attr << "; row shows \"" << term.text(y) << "\"";
            }
        }
    }
    const bool inside = w.cursor_x >= 0 && w.cursor_x < w.cols && w.cursor_y >= 0 && w.cursor_y < w.rows;
    if (term.cursor_visible() != (w.cursor_visible && inside)) {
        return ::testing::AssertionFailure() << "cursor visible " << term.cursor_visible();
    }
    if (inside && (term.cursor_x() != w.cursor_x || term.cursor_y() != w.cursor_y)) {
        return ::testing::AssertionFailure() << "cursor at (" << term.cursor_x() << ", " << term.cursor_y()
                                             << "), model at (" << w.cursor_x << ", " << w.cursor_y << ")";
    }
    return ::testing::AssertionSuccess();
}

struct Emulated : ::testing::Test {
    static constexpr int kCols = 12;
    static constexpr int kRows = 5;
    Window w{kCols, kRows};
    TerminalRenderer renderer{kCols, kRows};
    VtermScreen term{kCols, kRows};

    void draw() {
        renderer.draw(w.frame());
        term.feed(renderer.take_output());
    }
    void scroll(int n) {
        draw();  // what is pending goes out before the scroll, as the host does
        renderer.scroll_up(n);
        w.scroll_up(n);
        term.feed(renderer.take_output());
    }
};

TEST_F(Emulated, RowsFilledToTheLastCellIncludingTheBottomRightNeverScroll) {
    for (int y = 0; y < kRows; ++y) {
        w.put(0, y, std::string(kCols, static_cast<char>('a' + y)));
        w.cursor_x = kCols - 1;
        w.cursor_y = y;
        draw();
        ASSERT_TRUE(shows(term, w)) << "after filling row " << y;
    }
    w.put(3, 0, "XYZ", 0x1F);
    w.cursor_x = 6;
    w.cursor_y = 0;
    draw();
    EXPECT_TRUE(shows(term, w));
    w.put(kCols - 1, kRows - 1, "!");
    w.cursor_x = kCols - 1;
    w.cursor_y = kRows - 1;
    draw();
    EXPECT_TRUE(shows(term, w));
    EXPECT_TRUE(term.scrollback().empty());
}

TEST_F(Emulated, ScrolledLinesGoToTheScrollbackInOrder) {
    for (int y = 0; y < kRows; ++y)
        w.set_row(y, "line " + std::to_string(y));
    w.cursor_y = kRows - 1;
    const std::u32string line0 = w.glyphs(0);
    const std::u32string line1 = w.glyphs(1);
    const std::u32string line2 = w.glyphs(2);
    scroll(2);
    EXPECT_TRUE(shows(term, w));
    scroll(1);
    w.set_row(kRows - 1, "new");
    draw();
    EXPECT_TRUE(shows(term, w));
    EXPECT_EQ(term.scrollback(), (std::vector<std::u32string>{line0, line1, line2}));
    EXPECT_EQ(term.text(0), "line 3");
}

TEST_F(Emulated, ScrollWithTheWrapPendingInTheBottomRightCell) {
    w.put(0, kRows - 1, std::string(kCols, '#'));
    w.cursor_x = kCols - 1;
    w.cursor_y = kRows - 1;
    scroll(1);
    draw();
    EXPECT_TRUE(shows(term, w));
    EXPECT_EQ(term.scrollback().size(), 1u);
}

TEST_F(Emulated, CursorVisibilityFollowsTheFrame) {
    draw();
    EXPECT_TRUE(term.cursor_visible());
    w.cursor_visible = false;
    draw();
    EXPECT_FALSE(term.cursor_visible());
    w.cursor_visible = true;
    w.cursor_x = 4;
    draw();
    EXPECT_TRUE(term.cursor_visible());
    EXPECT_TRUE(shows(term, w));
}

TEST_F(Emulated, RestoreLeavesTheCursorVisibleAndDefaultColours) {
    w.put(0, 0, "ab", 0x4E);
    w.cursor_x = 2;
    w.cursor_visible = false;
    draw();
    ASSERT_FALSE(term.cursor_visible());
    term.feed(platform::kTerminalRestore);
    term.feed("z");
    EXPECT_TRUE(term.cursor_visible());
    EXPECT_EQ(term.glyph(2, 0), U'z');
    EXPECT_EQ(term.attr(2, 0), 7);
}

TEST_F(Emulated, EveryAttributeShowsItsColours) {
    Window grid(16, 16);
    for (int a = 0; a < 256; ++a)
        grid.at(a % 16, a / 16) = {'x', static_cast<WORD>(a)};
    TerminalRenderer r(16, 16);
    VtermScreen t(16, 16);
    r.draw(grid.frame());
    t.feed(r.take_output());
    EXPECT_TRUE(shows(t, grid));
}

TEST_F(Emulated, EveryByteShowsItsGlyphAndNoneActsAsAControl) {
    Window grid(16, 16);
    for (int b = 0; b < 256; ++b)
        grid.at(b % 16, b / 16) = {static_cast<std::uint8_t>(b), 7};
    grid.cursor_x = 3;
    grid.cursor_y = 4;
    TerminalRenderer r(16, 16);
    VtermScreen t(16, 16);
    r.draw(grid.frame());
    t.feed(r.take_output());
    EXPECT_TRUE(shows(t, grid));
    EXPECT_EQ(t.bells(), 0);
    EXPECT_TRUE(t.scrollback().empty());
    EXPECT_EQ(t.take_replies(), "");  // nothing was taken for a query
}

TEST_F(Emulated, ResetAfterForeignOutputRestoresTheWindow) {
    w.set_row(1, "hello");
    w.cursor_y = 1;
    w.cursor_x = 5;
    draw();
    term.feed("\x1b[31;1mjunk\x1b[3;3Hmore\x1b[?25l");
    renderer.reset(kCols, kRows);
    draw();
    EXPECT_TRUE(shows(term, w));
}

TEST_F(Emulated, ResizeThenResetRedrawsAtTheNewSize) {
    w.set_row(0, "keep");
    draw();
    Window bigger(20, 8);
    bigger.put(0, 0, "keep");
    bigger.put(0, 7, std::string(20, '='));
    bigger.cursor_x = 19;
    bigger.cursor_y = 7;
    term.resize(20, 8);
    renderer.reset(20, 8);
    renderer.draw(bigger.frame());
    term.feed(renderer.take_output());
    EXPECT_TRUE(shows(term, bigger));
}

TEST_F(Emulated, FrameOfAnotherSizeIsClippedOrPadded) {
    w.set_row(0, "abcdefghijkl");
    w.set_row(4, "bottom");
    draw();
    Window smaller(4, 2);
    smaller.put(0, 0, "wxyz");
    smaller.cursor_x = 1;
    renderer.draw(smaller.frame());
    term.feed(renderer.take_output());
    Window padded(kCols, kRows);
    padded.put(0, 0, "wxyz");
    padded.cursor_x = 1;
    EXPECT_TRUE(shows(term, padded));

    Window larger(kCols + 3, kRows + 2);
    for (int y = 0; y < larger.rows; ++y)
        larger.put(0, y, std::string(larger.cols, static_cast<char>('A' + y)));
    larger.cursor_x = 2;
    larger.cursor_y = 2;
    renderer.draw(larger.frame());
    term.feed(renderer.take_output());
    Window clipped(kCols, kRows);
    for (int y = 0; y < kRows; ++y)
        clipped.put(0, y, std::string(kCols, static_cast<char>('A' + y)));
    clipped.cursor_x = 2;
    clipped.cursor_y = 2;
    EXPECT_TRUE(shows(term, clipped));
    EXPECT_TRUE(term.scrollback().empty());
}

// A window narrower or shorter than the terminal is drawn padded; a cursor
// that lies outside the window stays hidden even where the padding would have
// room for it.
TEST_F(Emulated, CursorOutsideASmallerFrameIsNotShown) {
    struct Case {
        int x;
        int y;
        bool shown;
    };
    const Case cases[] = {{1, 1, true}, {4, 0, false}, {0, 2, false}, {kCols - 1, kRows - 1, false}, {-1, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "cursor at (" << c.x << ", " << c.y << ")");
        Window smaller(4, 2);
        smaller.put(0, 0, "abcd");
        smaller.cursor_x = c.x;
        smaller.cursor_y = c.y;
        renderer.draw(smaller.frame());
        term.feed(renderer.take_output());
        EXPECT_EQ(term.cursor_visible(), c.shown);
        if (c.shown) {
            EXPECT_EQ(term.cursor_x(), c.x);
            EXPECT_EQ(term.cursor_y(), c.y);
        }
    }
}

// Random edits of a window, drawn and scrolled as the host does; the emulator
// must show the window after every frame.
// With `changed_rows`, each frame names the rows edited since the last one,
// as the host's frames do; the scrolls name none.
class RandomFrames : public ::testing::TestWithParam<std::tuple<int, int, unsigned, bool>> {};

TEST_P(RandomFrames, EmulatorShowsEveryFrame) {
    const auto [cols, rows, seed, changed_rows] = GetParam();
    std::mt19937 rng(seed);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    constexpr WORD kAttrs[] = {0x07, 0x07, 0x07, 0x1E, 0x70, 0x0C, 0x4F, 0x87, 0x00, 0xFF};
    auto attr = [&] { return kAttrs[pick(0, static_cast<int>(std::size(kAttrs)) - 1)]; };
    auto bytes = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>(pick(0, 3) == 0 ? pick(0, 255) : pick(0x20, 0x7E));
        return s;
    };

    Window w(cols, rows);
    TerminalRenderer renderer(cols, rows);
    VtermScreen term(cols, rows);
    std::vector<std::u32string> departed;
    for (int step = 0; step < 400; ++step) {
        for (int edits = pick(1, 4); edits > 0; --edits) {
            switch (pick(0, 11)) {
                case 0:
                case 1: {  // text somewhere
                    const int y = pick(0, rows - 1);
                    w.put(pick(0, cols - 1), y, bytes(pick(1, cols)), attr());
                    break;
                }
                case 2: {  // a row filled to its last cell, the cursor parked there
                    const int y = pick(0, rows - 1);
                    const int x = pick(0, cols - 1);
                    w.put(x, y, bytes(cols - x), attr());
                    w.cursor_x = cols - 1;
                    w.cursor_y = y;
                    break;
                }
                case 3:  // a row cleared
                    w.set_row(pick(0, rows - 1), "");
                    break;
                case 4:
                case 5: {  // a typed character, the cursor following it
                    w.put(w.cursor_x, w.cursor_y, bytes(1), attr());
                    if (++w.cursor_x == cols) {
                        w.cursor_x = 0;
                        w.cursor_y = std::min(w.cursor_y + 1, rows - 1);
                    }
                    break;
                }
                case 6:
                    w.cursor_x = pick(0, cols - 1);
                    w.cursor_y = pick(0, rows - 1);
                    break;
                case 7:
                    w.cursor_visible = !w.cursor_visible;
                    break;
                case 8: {  // a whole-buffer scroll: pending cells first, then the scroll
                    renderer.draw(changed_rows ? w.changed_frame() : w.frame());
                    term.feed(renderer.take_output());
                    const int n = pick(1, rows + 1);
                    for (int y = 0; y < std::min(n, rows); ++y)
                        departed.push_back(w.glyphs(y));
                    renderer.scroll_up(n);
                    w.scroll_up(n);
                    term.feed(renderer.take_output());
                    break;
                }
                case 9:
                    if (pick(0, 3) == 0) {
                        std::fill(w.cells.begin(), w.cells.end(), Cell{});
                        w.mark(0);
                        w.mark(rows - 1);
                    }
                    break;
                case 10:
                case 11: {  // cells inserted or deleted inside a row, its tail moving along
                    const int y = pick(0, rows - 1);
                    const int x = pick(0, cols - 1);
                    const int n = pick(1, 9);
                    const auto row = w.cells.begin() + y * cols;
                    w.mark(y);
                    if (pick(0, 1) == 0) {
                        std::shift_right(row + x, row + cols, n);
                        w.put(x, y, bytes(std::min(n, cols - x)), attr());
                    } else {
                        std::shift_left(row + x, row + cols, n);
                        std::fill(row + std::max(x, cols - n), row + cols, Cell{});
                    }
                    w.cursor_x = x;
                    w.cursor_y = y;
                    break;
                }
            }
        }
        renderer.draw(changed_rows ? w.changed_frame() : w.frame());
        const std::string sent = renderer.take_output();
        term.feed(sent);
        ASSERT_TRUE(shows(term, w)) << "step " << step << ", last frame sent " << ::testing::PrintToString(sent);
    }
    // The emulator erases a one-row screen instead of scrolling it, so
    // nothing reaches its scrollback there.
    if (rows > 1) {
        EXPECT_EQ(term.scrollback(), departed);
    }
    EXPECT_EQ(term.bells(), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomFrames,
                         ::testing::Values(std::make_tuple(12, 5, 1u, false), std::make_tuple(12, 5, 2u, false),
                                           std::make_tuple(1, 3, 3u, false), std::make_tuple(80, 25, 4u, false),
                                           std::make_tuple(7, 1, 5u, false), std::make_tuple(12, 5, 6u, true),
                                           std::make_tuple(1, 3, 7u, true), std::make_tuple(80, 25, 8u, true),
                                           std::make_tuple(7, 1, 9u, true)));

}  // namespace
