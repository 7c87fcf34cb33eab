// The line editor on a test console: what each editing key does to the line,
// the echo and the cursor, the rows it wraps over and scrolls, the cursor's
// visibility, and what happens when the line cannot be rebuilt.
#include "runtime/input/line_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/common/heap.h"
#include "tests/runtime/input/line_input_fixture.h"

namespace {

using namespace rt_testing;

class LineEditor : public LineInputTest {
  protected:
    LineEditor() : LineInputTest(20, 5) {}
    explicit LineEditor(int cols, int rows) : LineInputTest(cols, rows) {}

    // Edits a new line from the keys posted so far.
    static std::string edit() { return take_line(rt::edit_new_line()); }
};

TEST_F(LineEditor, TypedCharactersAreKeptAndEchoedWithoutALineEnd) {
    post_text("123");
    post({kEnter});
    EXPECT_EQ(edit(), "123");
    EXPECT_EQ(row(0), "123                 ");
    EXPECT_EQ(cursor_x(), 3);
    EXPECT_EQ(cursor_y(), 0);
    EXPECT_TRUE(console_.beeps().empty());
}

TEST_F(LineEditor, TypedOnTheConsoleKeyboard) {
    console_.type("a1 Z\r");
    EXPECT_EQ(edit(), "a1 Z");
    EXPECT_EQ(row(0).substr(0, 5), "a1 Z ");
}

TEST_F(LineEditor, EnterOrLineFeedEndTheLineWhereverTheCursorIs) {
    const struct {
        rt::KeyCode end;
        int lefts;
    } kCases[] = {{kEnter, 0}, {kEnter, 2}, {'\n', 0}, {'\n', 4}};
    for (const auto& c : kCases) {
        clear_screen(1, 0);
        post_text("abcd");
        for (int i = 0; i < c.lefts; ++i)
            post({kLeft});
        post({c.end});
        EXPECT_EQ(edit(), "abcd") << c.end << ' ' << c.lefts;
        EXPECT_EQ(cursor_x(), 4);
        EXPECT_EQ(cursor_y(), 1);
    }
}

TEST_F(LineEditor, EnterAloneGivesTheEmptyText) {
    post({kEnter});
    EXPECT_EQ(edit(), "");
    EXPECT_EQ(cursor_x(), 0);
    EXPECT_EQ(row(0), std::string(20, ' '));
}

TEST_F(LineEditor, KeysAfterTheEnterStayQueued) {
    post_text("1\r2\r");
    EXPECT_EQ(edit(), "1");
    EXPECT_EQ(edit(), "2");
}

TEST_F(LineEditor, BackspaceAndDeleteAtTheLimitsChangeNothing) {
    post({kBackspace});
    post_text("ab");
    post({kDelete, kEnter});
    EXPECT_EQ(edit(), "ab");
    EXPECT_EQ(row(0).substr(0, 3), "ab ");
    EXPECT_EQ(cursor_x(), 2);
    // Only the Delete at the end beeps.
    ASSERT_EQ(console_.beeps().size(), 1u);
    EXPECT_EQ(console_.beeps()[0], (platform::TestConsole::BeepCall{1000, 250}));
}

TEST_F(LineEditor, BackspaceAndDeleteInTheMiddleMoveTheTailLeft) {
    const struct {
        rt::KeyCode key;
        const char* line;
        int cursor;
    } kCases[] = {{kBackspace, "acd", 1}, {kDelete, "abd", 2}};
    for (const auto& c : kCases) {
        clear_screen();
        post_text("abcd");
        post({kLeft, kLeft, c.key});
        // Where the cursor stands after the key, seen from the next key: an
        // x inserted there.
        post_text("x");
        post({kLeft, kEnter});
        std::string expected = c.line;
        expected.insert(static_cast<std::size_t>(c.cursor), "x");
        EXPECT_EQ(edit(), expected) << c.line;
        EXPECT_EQ(row(0).substr(0, 5), expected + " ");
        EXPECT_TRUE(console_.beeps().empty());
    }
}

TEST_F(LineEditor, DeletionBlanksTheFreedCell) {
    post_text("abcd");
    post({kHome, kDelete});
    at_waits({[this] {
        // Checked while the editor waits for the next key after the Delete.
        EXPECT_EQ(row(0).substr(0, 5), "bcd  ");
        EXPECT_EQ(cursor_x(), 0);
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "bcd");
}

TEST_F(LineEditor, TabFillsToTheNextMultipleOfEightCharactersOfTheLine) {
    const struct {
        int before;  // characters typed before the Tab
        int blanks;
    } kCases[] = {{0, 8}, {5, 3}, {8, 8}, {13, 3}, {7, 1}};
    for (const auto& c : kCases) {
        // A prompt of three columns does not move the stops.
        clear_screen(0, 3);
        const std::string typed(static_cast<std::size_t>(c.before), 'x');
        post_text(typed);
        post({kTab});
        post_text("|");
        post({kEnter});
        const std::string expected = typed + std::string(static_cast<std::size_t>(c.blanks), ' ') + "|";
        EXPECT_EQ(edit(), expected) << c.before;
    }
}

TEST_F(LineEditor, TabInTheMiddlePushesTheTailRight) {
    post_text("abc");
    post({kLeft, kLeft, kTab, kEnter});
    EXPECT_EQ(edit(), "a       bc");
    EXPECT_EQ(row(0).substr(0, 11), "a       bc ");
    EXPECT_EQ(cursor_x(), 10);
}

TEST_F(LineEditor, EscapeEmptiesTheLineAndEditingGoesOn) {
    post_text("abc");
    post({kLeft, kEscape});
    at_waits({[this] {
        EXPECT_EQ(row(0).substr(0, 4), "    ");
        EXPECT_EQ(cursor_x(), 0);
        post_text("x");
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "x");
    EXPECT_EQ(row(0).substr(0, 4), "x   ");
    EXPECT_EQ(cursor_x(), 1);
}

TEST_F(LineEditor, HomeAndEndMoveToTheLimits) {
    post_text("abc");
    post({kHome});
    post_text("<");
    post({kEnd, kEnd});
    post_text(">");
    post({kHome, kEnd, kEnter});
    EXPECT_EQ(edit(), "<abc>");
    EXPECT_EQ(cursor_x(), 5);
}

TEST_F(LineEditor, LeftAndRightStopAtTheLimitsWithoutABeep) {
    post_text("ab");
    post({kRight, kLeft, kLeft, kLeft});
    post_text("<");
    post({kRight, kRight, kRight, kRight});
    post_text(">");
    post({kEnter});
    EXPECT_EQ(edit(), "<ab>");
    EXPECT_TRUE(console_.beeps().empty());
}

class LineEditorNarrow : public LineEditor {
  protected:
    LineEditorNarrow() : LineEditor(10, 6) {}
};

TEST_F(LineEditorNarrow, UpAndDownMoveByTheWidthAcrossWrappedRows) {
    // 25 characters over three rows of 10.
    post_text("abcdefghijklmnopqrstuvwxy");
    post({kUp});
    at_waits({[this] {
        EXPECT_EQ(cursor_x(), 5);
        EXPECT_EQ(cursor_y(), 1);
        post({kUp, kUp});  // the second one has fewer than 10 characters before it
        post_text("1");
        post({kDown, kDown, kDown});  // the third one has fewer than 10 after it
        post_text("2");
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "abcde1fghijklmnopqrstuvwxy2");
    expect_rows(0, {"abcde1fghi", "jklmnopqrs", "tuvwxy2   "}, 7, 2);
}

TEST_F(LineEditorNarrow, UpWithExactlyAWidthBeforeTheCursorGoesToTheStartOfTheLine) {
    // From the start of a row, and from a line that starts behind a prompt.
    for (const int prompt_columns : {0, 3}) {
        clear_screen(1, prompt_columns);
        post_text("abcdefghij");
        post({kUp});
        at_waits({[&, this] {
            EXPECT_EQ(cursor_x(), prompt_columns) << prompt_columns;
            EXPECT_EQ(cursor_y(), 1) << prompt_columns;
            post_text("<");
            post({kEnter});
        }});
        EXPECT_EQ(edit(), "<abcdefghij") << prompt_columns;
    }
}

TEST_F(LineEditor, KeysWithoutAMeaningAreIgnored) {
    std::vector<rt::KeyCode> ignored = {rt::extended_key(0x52), rt::extended_key(0x49), rt::extended_key(0x51),
                                        rt::extended_key(0x85), rt::extended_key(0x86), rt::kCloseKey};
    for (std::uint8_t f = 0x3B; f <= 0x44; ++f)
        ignored.push_back(rt::extended_key(f));  // F1..F10
    for (rt::KeyCode c = 0; c < 32; ++c) {
        if (c != kBackspace && c != kTab && c != '\n' && c != kEnter && c != kEscape) ignored.push_back(c);
    }
    post_text("a");
    for (const rt::KeyCode code : ignored)
        rt::post_key(code);
    post_text("b");
    post({kEnter});
    EXPECT_EQ(edit(), "ab");
    EXPECT_EQ(row(0).substr(0, 3), "ab ");
    EXPECT_EQ(cursor_x(), 2);
    EXPECT_TRUE(console_.beeps().empty());
}

TEST_F(LineEditor, CharactersFrom127UpAreInsertedAndEchoed) {
    const std::string high = "\x7F\x80\xC8\xFE\xFF";
    post_text(high);
    post({kEnter});
    EXPECT_EQ(edit(), high);
    EXPECT_EQ(row(0).substr(0, 5), high);
}

TEST_F(LineEditor, AGivenTextIsShownAndEditedFurther) {
    rt::StringDescriptor text{};
    rt::text_assign(&text, rt::kDescriptorSize, "abc", rt::kZeroTerminatedSize, false);
    post({kLeft});
    post_text("x");
    post({kEnter});
    rt::edit_line(&text);
    EXPECT_EQ(rt::text_chars(text), "abxc");
    EXPECT_EQ(row(0).substr(0, 5), "abxc ");
    EXPECT_EQ(cursor_x(), 4);
    rt::text_free(&text);
}

class LineEditorShort : public LineEditor {
  protected:
    LineEditorShort() : LineEditor(10, 3) {}
    void start_on_bottom_row() { clear_screen(2, 0); }
};

TEST_F(LineEditorShort, TypingPastTheLastCellScrollsOneRow) {
    start_on_bottom_row();
    post_text("0123456789");
    at_waits({[this] {
        // The tenth character filled the last cell: the screen has scrolled
        // and the cursor waits at the start of the new bottom row.
        expect_rows(1, {"0123456789", std::string(10, ' ')}, 0, 2);
        post_text("a");
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "0123456789a");
    EXPECT_EQ(row(2), "a         ");
    EXPECT_EQ(cursor_x(), 1);
    EXPECT_EQ(cursor_y(), 2);
}

// The view keeps the rows it had when the screen was cleared; a window that
// grew since then has rows below it that printing leaves alone. Typing past
// the view's last cell scrolls the view, not the window.
TEST_F(LineEditorShort, AfterTheWindowGrewTypingScrollsAtTheViewsBottomRow) {
    rt::console_clear();
    console_.model().resize(10, 5);
    start_on_bottom_row();
    post_text("0123456789ab");
    post({kEnter});
    EXPECT_EQ(edit(), "0123456789ab");
    expect_rows(1, {"0123456789", "ab        ", std::string(10, ' '), std::string(10, ' ')}, 2, 2);
}

TEST_F(LineEditorShort, TextEndingInTheLastCellBeforeTheLineIsKeptAndTypingStartsBelow) {
    start_on_bottom_row();
    const std::string prompt = "prompt? ab";  // as wide as the console
    rt::console_print(prompt.data(), static_cast<std::int32_t>(prompt.size()), 0);
    ASSERT_TRUE(rt::pending_line_feed());
    post_text("12");
    post({kEnter});
    EXPECT_EQ(edit(), "12");
    expect_rows(1, {prompt, "12        "}, 2, 2);
}

TEST_F(LineEditorShort, InsertingInAFullLastRowScrollsAndFollowsTheCharacter) {
    start_on_bottom_row();
    post_text("123456789");
    post({kHome});
    post_text("x");  // the line now ends exactly in the last cell: no scroll yet
    at_waits({[this] {
                  expect_rows(1, {std::string(10, ' '), "x123456789"}, 1, 2);
                  post_text("y");  // its last character moves onto a new row
              },
              [this] {
                  expect_rows(1, {"xy12345678", "9         "}, 2, 1);
                  post({kEnter});
              }});
    EXPECT_EQ(edit(), "xy123456789");
    // Enter moved the cursor to the end of the line.
    EXPECT_EQ(cursor_x(), 1);
    EXPECT_EQ(cursor_y(), 2);
}

TEST_F(LineEditorShort, InsertingJustBeforeTheEndInAFullLastRow) {
    start_on_bottom_row();
    post_text("012345678");
    post({kLeft});
    post_text("x");  // 01234567x8: fills the row, no scroll
    post_text("y");  // 01234567xy8: the 8 moves onto a new row
    at_waits({[this] {
        expect_rows(1, {"01234567xy", "8         "}, 0, 2);
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "01234567xy8");
}

// An echo that scrolls the screen and ends exactly in the bottom-right cell
// leaves the cursor on that cell with the line feed still to come: the
// cursor must still end up after the inserted characters.
class LineEditorTiny : public LineEditor {
  protected:
    LineEditorTiny() : LineEditor(6, 3) {}
    void prompt_on_bottom_row(const char* prompt) {
        clear_screen(2, 0);
        rt::console_print(prompt, static_cast<std::int32_t>(std::strlen(prompt)), 0);
    }
};

TEST_F(LineEditorTiny, TabAtTheEndScrollingIntoTheLastCell) {
    prompt_on_bottom_row("abcd");
    post({kTab});
    post_text("x");
    post({kEnter});
    EXPECT_EQ(edit(), "        x");
    expect_rows(0, {"abcd  ", "      ", "x     "}, 1, 2);
}

TEST_F(LineEditorTiny, TabInTheMiddleScrollingIntoTheLastCell) {
    prompt_on_bottom_row("ab");
    post_text("xyz");
    post({kLeft, kLeft, kTab});
    at_waits({[this] {
        expect_rows(1, {"abx   ", "    yz"}, 4, 2);
        post_text("Q");
        post({kEnter});
    }});
    EXPECT_EQ(edit(), "x       Qyz");
    expect_rows(0, {"abx   ", "    Qy", "z     "}, 1, 2);
}

// The console changes size while a line is edited: the prompt's row and the
// whole line are shown again at the new size, with the cursor at the
// insertion point, before any further key.
class LineEditorResized : public LineEditor {
  protected:
    static constexpr std::string_view kPrompt = "number";
    static constexpr std::string_view kQuestion = "? ";

    // Shows the prompt on `row`, then edits a line: the keys typed, then
    // `while_waiting` with the console resized, then Enter.
    std::string edit_resized(int row, std::string_view typed, std::initializer_list<rt::KeyCode> keys, int cols,
                             int rows, const std::function<void()>& while_waiting) {
        clear_screen(row, 0);
        const std::string_view shown[] = {kPrompt, kQuestion};
        for (const std::string_view piece : shown)
            rt::console_print(piece.data(), static_cast<std::int32_t>(piece.size()), 0);
        post_text(typed);
        post(keys);
        at_waits({[&, this] {
                      console_.model().resize(cols, rows);
                      // Waiting goes on: the console is looked at again.
                  },
                  [&] {
                      while_waiting();
                      post({kEnter});
                  }});
        return take_line(rt::edit_new_line(shown));
    }
};

TEST_F(LineEditorResized, NarrowerTheLineComesBackBehindTheWholePrompt) {
    const std::string typed = edit_resized(1, "abcdefgh", {kLeft, kLeft}, 6, 5, [this] {
        expect_rows(1, {"number", "? abcd", "efgh  ", "      "}, 2, 3);
        post_text("x");
    });
    EXPECT_EQ(typed, "abcdefxgh");
    expect_rows(1, {"number", "? abcd", "efxgh "}, 5, 3);
}

TEST_F(LineEditorResized, WiderTheLineIsLaidOutAgainOnFewerRows) {
    // 8 + 14 characters over two rows of 20, then over one of 30.
    const std::string typed = edit_resized(2, "abcdefghijklmn", {kHome, kRight}, 30, 5, [this] {
        expect_rows(2, {"number? abcdefghijklmn        ", std::string(30, ' ')}, 9, 2);
        post_text("x");
    });
    EXPECT_EQ(typed, "axbcdefghijklmn");
    expect_rows(2, {"number? axbcdefghijklmn       "}, 23, 2);
}

TEST_F(LineEditorResized, LowerTheRowsKeptAreTheCursorsAndTheLineStaysInView) {
    // On the bottom row of five, shrunk to three rows: the console drops rows
    // from the top, and the line is shown on the new bottom row.
    const std::string typed = edit_resized(4, "12345", {}, 20, 3, [this] {
        expect_rows(2, {"number? 12345       "}, 13, 2);
        post_text("6");
    });
    EXPECT_EQ(typed, "123456");
}

TEST_F(LineEditorResized, ALineLongerThanTheNewScreenScrollsAndEndsAtTheCursor) {
    // 8 + 30 characters do not fit on two rows of 10: the screen scrolls
    // and the cursor ends after the line, on the bottom row.
    const std::string typed = edit_resized(0, std::string(30, 'z'), {}, 10, 2, [this] {
        expect_rows(0, {std::string(10, 'z'), "zzzzzzzz  "}, 8, 1);
        post_text("!");
    });
    EXPECT_EQ(typed, std::string(30, 'z') + "!");
    expect_rows(0, {std::string(10, 'z'), "zzzzzzzz! "}, 9, 1);
}

TEST_F(LineEditor, CursorHiddenForEveryRedrawShownBetweenKeysRestoredAtTheEnd) {
    for (const bool visible_before : {true, false}) {
        clear_screen();
        rt::set_cursor(GetStdHandle(STD_OUTPUT_HANDLE), 0, 0, visible_before ? 1 : 0);
        // Every echo, of the editor and of the console's own scrolling, is
        // seen with the cursor's visibility at that moment.
        static std::vector<bool>* visibility_at_print = nullptr;
        std::vector<bool> seen;
        visibility_at_print = &seen;
        rt::console_hooks.print = [](const char* bytes, std::int32_t count, std::int32_t flags) {
            CONSOLE_CURSOR_INFO info{};
            GetConsoleCursorInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info);
            visibility_at_print->push_back(info.bVisible != FALSE);
            rt::console_print_default(bytes, count, flags);
        };
        // Keys arrive one at a time, as typed.
        const std::vector<rt::KeyCode> keys = {'a', 'b', kLeft, kBackspace, kTab, kEnter};
        std::vector<bool> visible_while_waiting;
        std::size_t next = 0;
        console_.on_wait([&](DWORD) {
            visible_while_waiting.push_back(console_.cursor_visible());
            if (next < keys.size()) rt::post_key(keys[next++]);
        });
        EXPECT_EQ(edit(), "        b");
        console_.on_wait(nullptr);
        rt::console_hooks = rt::ConsoleHooks{};
        visibility_at_print = nullptr;

        EXPECT_FALSE(seen.empty());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 0) << visible_before;
        ASSERT_EQ(visible_while_waiting.size(), keys.size());
        // Before the first key the editor has shown the cursor whatever it was.
        EXPECT_EQ(std::count(visible_while_waiting.begin(), visible_while_waiting.end(), false), 0);
        EXPECT_EQ(console_.cursor_visible(), visible_before);
    }
}

TEST_F(LineEditor, NoLineWithoutAFreeDescriptorAndNoKeyTaken) {
    std::vector<rt::StringDescriptor*> taken;
    for (rt::StringDescriptor* d = rt::pool_take(); d != nullptr; d = rt::pool_take())
        taken.push_back(d);
    post_text("a");
    EXPECT_EQ(rt::edit_new_line(), nullptr);
    for (rt::StringDescriptor* d : taken)
        rt::pool_give_back(d);
    EXPECT_EQ(read_key_bytes(), "a");
}

// Keys from an installed reader need no descriptor of the pool, so the pool
// can be exhausted while the editor runs: the line is edited in its own
// buffer and needs none either.
TEST_F(LineEditor, EditingNeedsNoDescriptorOfThePool) {
    static std::vector<rt::StringDescriptor> keys;
    static std::size_t next = 0;
    static char typed[] = "a\r";
    keys = {{typed, 1, 1}, {typed + 1, 1, 1}};
    next = 0;
    rt::console_hooks.key_available = [] { return next < keys.size() ? 1 : 0; };
    rt::console_hooks.read_key_text = [] { return &keys[next++]; };
    rt::StringDescriptor text{};
    rt::text_assign(&text, rt::kDescriptorSize, "bc", rt::kZeroTerminatedSize, false);
    std::vector<rt::StringDescriptor*> taken;
    for (rt::StringDescriptor* d = rt::pool_take(); d != nullptr; d = rt::pool_take())
        taken.push_back(d);
    rt::edit_line(&text);
    for (rt::StringDescriptor* d : taken)
        rt::pool_give_back(d);
    EXPECT_EQ(rt::text_chars(text), "bca");
    EXPECT_EQ(row(0).substr(0, 4), "bca ");
    EXPECT_EQ(cursor_x(), 3);
    EXPECT_TRUE(console_.beeps().empty());
    rt::text_free(&text);
}

// A change that cannot be made for want of descriptors or memory leaves the
// line as it was, with the bell; whatever happens, the screen shows the line.
class LineEditorShortage : public LineEditor {
  protected:
    // Types "abcd", moves left twice, then gives one `key` while `shortage`
    // is in force, then Enter. Returns the line.
    std::string edit_with_shortage(rt::KeyCode key, const std::function<void()>& shortage,
                                   const std::function<void()>& end_shortage) {
        clear_screen();
        post_text("abcd");
        post({kLeft, kLeft});
        at_waits({[&] {
                      shortage();
                      rt::post_key(key);
                  },
                  [&] {
                      end_shortage();
                      post({kEnter});
                  }});
        return edit();
    }

    void expect_screen_shows(const std::string& line) {
        EXPECT_EQ(row(0), line + std::string(20 - line.size(), ' '));
        EXPECT_EQ(cursor_x(), static_cast<int>(line.size()));
    }
};

// From the nth allocation on every one fails: a single failure would be
// absorbed by the text layer's second, smaller attempt.
TEST_F(LineEditorShortage, AllocationsFailingFromEachPointOn) {
    const struct {
        rt::KeyCode key;
        const char* done;
    } kKeys[] = {{'x', "abxcd"}, {kTab, "ab      cd"}, {kBackspace, "acd"}, {kDelete, "abd"}, {kEscape, ""}};
    for (const auto& k : kKeys) {
        for (unsigned long n = 1; n <= 12; ++n) {
            const std::string line = edit_with_shortage(
                k.key, [n] { platform::heap_fail_nth(n, true); }, [] { platform::heap_fail_nth(0); });
            SCOPED_TRACE(testing::Message() << "key " << k.key << " allocation " << n);
            EXPECT_TRUE(line == "abcd" || line == k.done) << line;
            expect_screen_shows(line);
        }
    }
}

// A line whose buffer is full needs memory for one more character: while
// none can be had, a character typed into it rings the bell and is left out,
// and the screen shows the line as it is; once memory is back, typing goes on.
TEST_F(LineEditorShortage, ALineThatCannotGrowKeepsWhatItHas) {
    static std::vector<rt::StringDescriptor> keys;
    static std::size_t next = 0;
    static char left[] = {static_cast<char>(0xFF), 0x4B};
    static char typed[] = "xy\r";
    rt::console_hooks.key_available = [] { return next < keys.size() ? 1 : 0; };
    rt::console_hooks.read_key_text = [] {
        // Memory comes back for the y.
        if (keys[next].data == typed + 1) platform::heap_fail_nth(0);
        return &keys[next++];
    };
    const struct {
        bool from_the_middle;
        const char* line;
    } kCases[] = {{false, "abcdy"}, {true, "abcyd"}};
    for (const auto& c : kCases) {
        clear_screen();
        keys.clear();
        if (c.from_the_middle) keys.push_back({left, 2, 2});
        keys.insert(keys.end(), {{typed, 1, 1}, {typed + 1, 1, 1}, {typed + 2, 1, 1}});
        next = 0;
        // A buffer exactly as long as the line.
        rt::StringDescriptor text{static_cast<char*>(crt::malloc(5)), 4, 4};
        std::memcpy(text.data, "abcd", 5);
        const std::size_t beeps_before = console_.beeps().size();
        platform::heap_fail_nth(1, true);
        rt::edit_line(&text);
        platform::heap_fail_nth(0);
        EXPECT_EQ(rt::text_chars(text), c.line);
        expect_screen_shows(c.line);
        EXPECT_EQ(console_.beeps().size(), beeps_before + 1) << c.line;
        rt::text_free(&text);
    }
}

TEST_F(LineEditorShortage, FewFreeDescriptors) {
    const struct {
        rt::KeyCode key;
        const char* done;
    } kKeys[] = {{'x', "abxcd"}, {kBackspace, "acd"}, {kDelete, "abd"}};
    for (const auto& k : kKeys) {
        std::vector<std::string> lines;
        for (int spare = 0; spare <= 6; ++spare) {
            std::vector<rt::StringDescriptor*> taken;
            const std::string line = edit_with_shortage(
                k.key,
                [&] {
                    for (rt::StringDescriptor* d = rt::pool_take(); d != nullptr; d = rt::pool_take())
                        taken.push_back(d);
                    for (int i = 0; i < spare && !taken.empty(); ++i) {
                        rt::pool_give_back(taken.back());
                        taken.pop_back();
                    }
                },
                [&] {
                    for (rt::StringDescriptor* d : taken)
                        rt::pool_give_back(d);
                    taken.clear();
                });
            SCOPED_TRACE(testing::Message() << "key " << k.key << " spare " << spare);
            EXPECT_TRUE(line == "abcd" || line == k.done) << line;
            expect_screen_shows(line);
            lines.push_back(line);
        }
        // Too few descriptors keep the old line; enough make the change.
        EXPECT_EQ(lines.front(), "abcd");
        EXPECT_EQ(lines.back(), k.done);
    }
}

}  // namespace
