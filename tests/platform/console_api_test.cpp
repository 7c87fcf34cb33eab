// The console functions over a test console: handles, redirection, failure
// injection and input polling. The model's own edge behaviour is tested in
// console_model_test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

#include "platform/console_api.h"
#include "tests/platform/test_console.h"

namespace {

using platform::ConsoleCall;
using platform::TestConsole;

HANDLE out() { return GetStdHandle(STD_OUTPUT_HANDLE); }
HANDLE in() { return GetStdHandle(STD_INPUT_HANDLE); }

CHAR_INFO cell(char c, WORD attr) {
    CHAR_INFO ci{};
    ci.Char.AsciiChar = c;
    ci.Attributes = attr;
    return ci;
}

TEST(ConsoleApi, StandardHandlesAreDistinctAndNotNull) {
    TestConsole console(80, 25);
    EXPECT_NE(in(), nullptr);
    EXPECT_NE(out(), nullptr);
    EXPECT_NE(in(), out());
    EXPECT_EQ(in(), in());
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), INVALID_HANDLE_VALUE);
    DWORD mode = 0;
    EXPECT_FALSE(GetConsoleMode(INVALID_HANDLE_VALUE, &mode));
    EXPECT_FALSE(GetConsoleMode(nullptr, &mode));
}

TEST(ConsoleApi, ScreenCallsReachTheModel) {
    TestConsole console(COORD{20, 50}, SMALL_RECT{0, 10, 19, 19});
    console.model().set_attributes(0x1E);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(out(), &info));
    EXPECT_EQ(info.dwSize.X, 20);
    EXPECT_EQ(info.dwSize.Y, 50);
    EXPECT_EQ(info.wAttributes, 0x1E);
    EXPECT_EQ(info.srWindow.Top, 10);
    EXPECT_EQ(info.srWindow.Bottom, 19);

    const CHAR_INFO cells[] = {cell('h', 0x1E), cell('i', 0x1E)};
    SMALL_RECT region{3, 12, 4, 12};
    ASSERT_TRUE(WriteConsoleOutputA(out(), cells, {2, 1}, {0, 0}, &region));
    EXPECT_EQ(console.row_text(12).substr(0, 6), "   hi ");
    EXPECT_EQ(console.cell(4, 12), (platform::ConsoleCell{'i', 0x1E}));

    DWORD n = 0;
    ASSERT_TRUE(FillConsoleOutputCharacterA(out(), '-', 22, {18, 13}, &n));
    ASSERT_TRUE(FillConsoleOutputAttribute(out(), 0x70, 22, {18, 13}, &n));
    EXPECT_EQ(n, 22u);
    EXPECT_EQ(console.row_text(14), std::string(20, '-'));
    EXPECT_EQ(console.cell(19, 14).attr, 0x70);

    const CHAR_INFO fill = cell(' ', 0x1E);
    const SMALL_RECT rows{0, 13, 19, 14};
    ASSERT_TRUE(ScrollConsoleScreenBufferA(out(), &rows, nullptr, {0, 12}, &fill));
    EXPECT_EQ(console.row_text(12), "                  --");
    EXPECT_EQ(console.row_text(14), std::string(20, ' '));

    ASSERT_TRUE(SetConsoleCursorPosition(out(), {5, 25}));
    EXPECT_EQ(console.cursor().Y, 25);
    EXPECT_EQ(console.window().Top, 16);  // brought into view
    EXPECT_FALSE(SetConsoleCursorPosition(out(), {20, 0}));

    CONSOLE_CURSOR_INFO cursor{};
    ASSERT_TRUE(GetConsoleCursorInfo(out(), &cursor));
    cursor.bVisible = FALSE;
    ASSERT_TRUE(SetConsoleCursorInfo(out(), &cursor));
    EXPECT_FALSE(console.cursor_visible());

    const SMALL_RECT window{0, 40, 19, 49};
    ASSERT_TRUE(SetConsoleWindowInfo(out(), TRUE, &window));
    EXPECT_EQ(console.window().Top, 40);
    const SMALL_RECT too_low{0, 41, 19, 50};
    EXPECT_FALSE(SetConsoleWindowInfo(out(), TRUE, &too_low));
}

TEST(ConsoleApi, NullArgumentsFail) {
    TestConsole console(10, 5);
    SMALL_RECT region{0, 0, 0, 0};
    const CHAR_INFO c = cell('x', 7);
    DWORD n = 0;
    EXPECT_FALSE(GetConsoleScreenBufferInfo(out(), nullptr));
    EXPECT_FALSE(GetConsoleCursorInfo(out(), nullptr));
    EXPECT_FALSE(SetConsoleCursorInfo(out(), nullptr));
    EXPECT_FALSE(SetConsoleWindowInfo(out(), TRUE, nullptr));
    EXPECT_FALSE(WriteConsoleOutputA(out(), nullptr, {1, 1}, {0, 0}, &region));
    EXPECT_FALSE(WriteConsoleOutputA(out(), &c, {1, 1}, {0, 0}, nullptr));
    EXPECT_FALSE(WriteConsoleOutputA(out(), &c, {0, 1}, {0, 0}, &region));
    EXPECT_FALSE(ScrollConsoleScreenBufferA(out(), &region, nullptr, {0, 0}, nullptr));
    EXPECT_FALSE(FillConsoleOutputCharacterA(out(), 'x', 1, {0, 0}, nullptr));
    EXPECT_FALSE(GetConsoleMode(in(), nullptr));
    EXPECT_FALSE(PeekConsoleInputA(in(), nullptr, 1, &n));
    INPUT_RECORD record{};
    EXPECT_FALSE(PeekConsoleInputA(in(), &record, 1, nullptr));
    EXPECT_EQ(console.row_text(0), "          ");
}

// Calls each console function once on its usual handle; true if it succeeded.
struct Call {
    const char* name;
    ConsoleCall call;
    bool on_output;
    bool (*run)();
    friend void PrintTo(const Call& c, std::ostream* os) { *os << c.name; }
};

bool run_get_mode_in() {
    DWORD m = 0;
    return GetConsoleMode(in(), &m) != FALSE;
}
bool run_get_mode_out() {
    DWORD m = 0;
    return GetConsoleMode(out(), &m) != FALSE;
}
bool run_set_mode_in() { return SetConsoleMode(in(), ENABLE_PROCESSED_INPUT) != FALSE; }
bool run_set_mode_out() { return SetConsoleMode(out(), 3) != FALSE; }
bool run_info() {
    CONSOLE_SCREEN_BUFFER_INFO i{};
    return GetConsoleScreenBufferInfo(out(), &i) != FALSE;
}
bool run_set_cursor() { return SetConsoleCursorPosition(out(), {1, 1}) != FALSE; }
bool run_get_cursor_info() {
    CONSOLE_CURSOR_INFO i{};
    return GetConsoleCursorInfo(out(), &i) != FALSE;
}
bool run_set_cursor_info() {
    const CONSOLE_CURSOR_INFO i{25, FALSE};
    return SetConsoleCursorInfo(out(), &i) != FALSE;
}
bool run_set_window() {
    const SMALL_RECT w{0, 0, 9, 4};
    return SetConsoleWindowInfo(out(), TRUE, &w) != FALSE;
}
bool run_write_cells() {
    const CHAR_INFO c = cell('x', 7);
    SMALL_RECT r{0, 0, 0, 0};
    return WriteConsoleOutputA(out(), &c, {1, 1}, {0, 0}, &r) != FALSE;
}
bool run_scroll() {
    const CHAR_INFO c = cell(' ', 7);
    const SMALL_RECT r{0, 1, 9, 4};
    return ScrollConsoleScreenBufferA(out(), &r, nullptr, {0, 0}, &c) != FALSE;
}
bool run_fill_attribute() {
    DWORD n = 0;
    return FillConsoleOutputAttribute(out(), 7, 3, {0, 0}, &n) != FALSE;
}
bool run_fill_character() {
    DWORD n = 0;
    return FillConsoleOutputCharacterA(out(), 'x', 3, {0, 0}, &n) != FALSE;
}
bool run_write_file() {
    DWORD n = 0;
    return WriteFile(out(), "ab", 2, &n, nullptr) != FALSE;
}
bool run_peek() {
    INPUT_RECORD r{};
    DWORD n = 0;
    return PeekConsoleInputA(in(), &r, 1, &n) != FALSE;
}
bool run_read() {
    INPUT_RECORD r{};
    DWORD n = 0;
    return ReadConsoleInputA(in(), &r, 1, &n) != FALSE;
}
bool run_std_in() { return GetStdHandle(STD_INPUT_HANDLE) != nullptr; }
bool run_std_out() { return GetStdHandle(STD_OUTPUT_HANDLE) != nullptr; }

constexpr Call kCalls[] = {
    {"GetStdHandle_input", ConsoleCall::GetStdHandle, false, run_std_in},
    {"GetStdHandle_output", ConsoleCall::GetStdHandle, true, run_std_out},
    {"GetConsoleMode_input", ConsoleCall::GetConsoleMode, false, run_get_mode_in},
    {"GetConsoleMode_output", ConsoleCall::GetConsoleMode, true, run_get_mode_out},
    {"SetConsoleMode_input", ConsoleCall::SetConsoleMode, false, run_set_mode_in},
    {"SetConsoleMode_output", ConsoleCall::SetConsoleMode, true, run_set_mode_out},
    {"GetConsoleScreenBufferInfo_output", ConsoleCall::GetConsoleScreenBufferInfo, true, run_info},
    {"SetConsoleCursorPosition_output", ConsoleCall::SetConsoleCursorPosition, true, run_set_cursor},
    {"GetConsoleCursorInfo_output", ConsoleCall::GetConsoleCursorInfo, true, run_get_cursor_info},
    {"SetConsoleCursorInfo_output", ConsoleCall::SetConsoleCursorInfo, true, run_set_cursor_info},
    {"SetConsoleWindowInfo_output", ConsoleCall::SetConsoleWindowInfo, true, run_set_window},
    {"WriteConsoleOutputA_output", ConsoleCall::WriteConsoleOutputA, true, run_write_cells},
    {"ScrollConsoleScreenBufferA_output", ConsoleCall::ScrollConsoleScreenBufferA, true, run_scroll},
    {"FillConsoleOutputAttribute_output", ConsoleCall::FillConsoleOutputAttribute, true, run_fill_attribute},
    {"FillConsoleOutputCharacterA_output", ConsoleCall::FillConsoleOutputCharacterA, true, run_fill_character},
    {"WriteFile_output", ConsoleCall::WriteFile, true, run_write_file},
    {"PeekConsoleInputA_input", ConsoleCall::PeekConsoleInputA, false, run_peek},
    {"ReadConsoleInputA_input", ConsoleCall::ReadConsoleInputA, false, run_read},
};

class EachCall : public ::testing::TestWithParam<Call> {
  protected:
    // A key is queued so that ReadConsoleInputA has something to read.
    TestConsole console_{10, 5};
    void SetUp() override { console_.type("k"); }
};

TEST_P(EachCall, SucceedsUntilMadeToFail) {
    const Call& c = GetParam();
    EXPECT_TRUE(c.run());
    console_.fail(c.call);
    EXPECT_FALSE(c.run());
    console_.fail(c.call, false);
    EXPECT_TRUE(c.run());
}

TEST_P(EachCall, FailsWhenItsHandleFails) {
    const Call& c = GetParam();
    if (c.on_output) {
        console_.fail_input();
    } else {
        console_.fail_output();
    }
    EXPECT_TRUE(c.run());  // the other handle failing does not matter
    console_.fail_input(c.on_output ? false : true);
    console_.fail_output(c.on_output);
    EXPECT_FALSE(c.run());
}

INSTANTIATE_TEST_SUITE_P(ConsoleApi, EachCall, ::testing::ValuesIn(kCalls),
                         [](const ::testing::TestParamInfo<Call>& param) { return std::string(param.param.name); });

TEST(ConsoleApi, FailingOutputHandleFailsEveryOutputCall) {
    TestConsole console(10, 5);
    const HANDLE o = out();
    console.fail_output();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    DWORD n = 7;
    EXPECT_FALSE(GetConsoleScreenBufferInfo(o, &info));
    EXPECT_FALSE(SetConsoleCursorPosition(o, {1, 1}));
    EXPECT_FALSE(WriteFile(o, "ab", 2, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(console.row_text(0), "          ");
    // The input side is unaffected.
    EXPECT_TRUE(GetConsoleMode(in(), &n));
}

TEST(ConsoleApi, OutputNotAConsoleFailsScreenCallsAndTakesBytesUnchanged) {
    TestConsole console(10, 5);
    console.set_output_is_console(false);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    DWORD mode = 0;
    EXPECT_FALSE(GetConsoleScreenBufferInfo(out(), &info));
    EXPECT_FALSE(GetConsoleMode(out(), &mode));
    EXPECT_FALSE(SetConsoleCursorPosition(out(), {0, 0}));
    EXPECT_TRUE(GetConsoleMode(in(), &mode));

    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(out(), all.data(), static_cast<DWORD>(all.size()), &n, nullptr));
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(console.written(), all);
    EXPECT_TRUE(console.beeps().empty());  // the BEL byte is data here
    EXPECT_EQ(console.row_text(0), "          ");

    console.set_write_limit(3);
    ASSERT_TRUE(WriteFile(out(), "12345", 5, &n, nullptr));
    EXPECT_EQ(n, 3u);
    ASSERT_TRUE(WriteFile(out(), "", 0, nullptr, nullptr));  // the count may be left out
    EXPECT_FALSE(WriteFile(in(), "x", 1, &n, nullptr));      // the input handle takes no bytes
    EXPECT_EQ(console.written(), all + "123");
}

TEST(ConsoleApi, WriteFileToTheConsoleIsTextOutput) {
    TestConsole console(10, 3);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(out(), "ab\r\ncd\a", 7, &n, nullptr));
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(console.screen_text(), "ab\ncd");
    EXPECT_EQ(console.cursor().X, 2);
    EXPECT_EQ(console.beeps().size(), 1u);
    EXPECT_TRUE(console.written().empty());
}

TEST(ConsoleApi, InputNotAConsoleFailsInputCalls) {
    TestConsole console(10, 5);
    console.type("a");
    console.set_input_is_console(false);
    DWORD mode = 0;
    INPUT_RECORD r{};
    DWORD n = 9;
    EXPECT_FALSE(GetConsoleMode(in(), &mode));
    EXPECT_FALSE(SetConsoleMode(in(), 0));
    EXPECT_FALSE(PeekConsoleInputA(in(), &r, 1, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(ReadConsoleInputA(in(), &r, 1, &n));
    EXPECT_EQ(console.queued(), 2u);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_TRUE(GetConsoleScreenBufferInfo(out(), &info));  // output is unaffected
}

TEST(ConsoleApi, ModesAreKeptPerHandle) {
    TestConsole console(10, 5);
    DWORD mode = 0;
    ASSERT_TRUE(SetConsoleMode(in(), ENABLE_ECHO_INPUT));
    ASSERT_TRUE(SetConsoleMode(out(), 1));
    ASSERT_TRUE(GetConsoleMode(in(), &mode));
    EXPECT_EQ(mode, ENABLE_ECHO_INPUT);
    EXPECT_EQ(console.input_mode(), ENABLE_ECHO_INPUT);
    ASSERT_TRUE(GetConsoleMode(out(), &mode));
    EXPECT_EQ(mode, 1u);
}

TEST(ConsoleApi, PeekNeverBlocksAndLetsTheHostBringInKeysWhenEmpty) {
    TestConsole console(10, 5);
    INPUT_RECORD r{};
    DWORD n = 9;
    ASSERT_TRUE(PeekConsoleInputA(in(), &r, 1, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(console.input_idles(), 1u);
    EXPECT_FALSE(ReadConsoleInputA(in(), &r, 1, &n));  // empty: fails, never waits
    EXPECT_EQ(n, 0u);

    console.on_input_idle([&] { console.press('Q'); });
    ASSERT_TRUE(PeekConsoleInputA(in(), &r, 1, &n));
    ASSERT_EQ(n, 1u);  // found after the host brought it in
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 'Q');
    EXPECT_EQ(console.input_idles(), 2u);

    // With a record queued the host is not asked, and peeking removes nothing.
    ASSERT_TRUE(PeekConsoleInputA(in(), &r, 1, &n));
    EXPECT_EQ(console.input_idles(), 2u);
    EXPECT_EQ(console.queued(), 2u);

    INPUT_RECORD two[2]{};
    ASSERT_TRUE(ReadConsoleInputA(in(), two, 2, &n));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(two[0].Event.KeyEvent.bKeyDown);
    EXPECT_FALSE(two[1].Event.KeyEvent.bKeyDown);
    EXPECT_EQ(console.queued(), 0u);
}

TEST(ConsoleApi, SleepAndBeepGoToTheHost) {
    TestConsole console(10, 5);
    Sleep(25);
    Sleep(0);
    EXPECT_EQ(console.waits(), (std::vector<DWORD>{25, 0}));
    EXPECT_TRUE(Beep(1000, 250));
    EXPECT_FALSE(Beep(36, 250));  // below the range of tones
    EXPECT_FALSE(Beep(32768, 250));
    EXPECT_EQ(console.beeps(), (std::vector<TestConsole::BeepCall>{{1000, 250}}));
}

TEST(ConsoleApi, AWaitOnTheInputHandleEndsWhenARecordIsQueued) {
    TestConsole console(10, 5);
    // Nothing queued and nothing typed: the whole time passes.
    EXPECT_EQ(WaitForSingleObject(in(), 25), WAIT_TIMEOUT);
    EXPECT_EQ(console.input_waits(), std::vector<DWORD>{25});
    // A key typed during the wait ends it.
    console.on_wait([&](DWORD) { console.type("a"); });
    EXPECT_EQ(WaitForSingleObject(in(), 25), WAIT_OBJECT_0);
    EXPECT_EQ(console.input_waits().size(), 2u);
    // A record already queued ends it before the host is asked to wait.
    EXPECT_EQ(WaitForSingleObject(in(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(console.input_waits().size(), 2u);
    EXPECT_EQ(WaitForSingleObject(out(), 25), WAIT_FAILED);
    // Input that no call can read never ends a wait: it is a pause.
    console.on_wait({});
    console.fail(ConsoleCall::PeekConsoleInputA);
    EXPECT_EQ(WaitForSingleObject(in(), 25), WAIT_TIMEOUT);
    EXPECT_EQ(console.waits(), (std::vector<DWORD>{25, 25, 25}));
    EXPECT_EQ(console.input_waits().size(), 2u);
}

TEST(ConsoleApi, MapVirtualKeyGivesTheUnshiftedCharacter) {
    const struct {
        UINT vk;
        UINT ch;
    } kCases[] = {
        {'A', 'A'},         {'Z', 'Z'},       {'5', '5'},        {VK_OEM_1, ';'},    {VK_OEM_2, '/'},
        {VK_OEM_PLUS, '='}, {VK_OEM_7, '\''}, {VK_SPACE, ' '},   {VK_RETURN, '\r'},  {VK_ESCAPE, 0x1B},
        {VK_BACK, '\b'},    {VK_TAB, '\t'},   {VK_NUMPAD7, '7'}, {VK_MULTIPLY, '*'}, {VK_DIVIDE, '/'},
        {VK_F1, 0},         {VK_LEFT, 0},     {VK_SHIFT, 0},     {0xFF, 0},          {0x1'0041, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(MapVirtualKeyA(c.vk, MAPVK_VK_TO_CHAR), c.ch) << c.vk;
    EXPECT_EQ(MapVirtualKeyA('A', MAPVK_VK_TO_VSC), 0u);
}

TEST(ConsoleApi, StalledProgramIsStoppedInsteadOfHanging) {
    TestConsole console(10, 5);
    console.set_stall_limit(3);
    for (int i = 0; i < 3; ++i)
        Sleep(25);
    EXPECT_THROW(Sleep(25), TestConsole::Stalled);
    // A key delivered while waiting keeps it going.
    console.on_wait([&](DWORD) { console.type("x"); });
    for (int i = 0; i < 10; ++i)
        Sleep(25);
}

TEST(ConsoleApi, TestConsoleKeysLookLikeAUsKeyboard) {
    TestConsole console(10, 5);
    console.type("aA\r\xe9");
    console.press(VK_LEFT, SHIFT_PRESSED);
    console.press('C', LEFT_CTRL_PRESSED);
    INPUT_RECORD r[12]{};
    DWORD n = 0;
    ASSERT_TRUE(ReadConsoleInputA(in(), r, 12, &n));
    ASSERT_EQ(n, 12u);
    const struct {
        WORD vk;
        WORD scan;
        char ch;
        DWORD state;
        BOOL down;
    } kExpected[] = {
        {'A', 30, 'a', 0, TRUE},
        {'A', 30, 'a', 0, FALSE},
        {'A', 30, 'A', SHIFT_PRESSED, TRUE},
        {'A', 30, 'A', SHIFT_PRESSED, FALSE},
        {VK_RETURN, 28, '\r', 0, TRUE},
        {VK_RETURN, 28, '\r', 0, FALSE},
        {0, 0, '\xe9', 0, TRUE},
        {0, 0, '\xe9', 0, FALSE},
        {VK_LEFT, 75, 0, SHIFT_PRESSED | ENHANCED_KEY, TRUE},
        {VK_LEFT, 75, 0, SHIFT_PRESSED | ENHANCED_KEY, FALSE},
        {'C', 46, 3, LEFT_CTRL_PRESSED, TRUE},
        {'C', 46, 3, LEFT_CTRL_PRESSED, FALSE},
    };
    for (DWORD i = 0; i < n; ++i) {
        const KEY_EVENT_RECORD& k = r[i].Event.KeyEvent;
        EXPECT_EQ(r[i].EventType, KEY_EVENT);
        EXPECT_EQ(k.wVirtualKeyCode, kExpected[i].vk) << i;
        EXPECT_EQ(k.wVirtualScanCode, kExpected[i].scan) << i;
        EXPECT_EQ(k.uChar.AsciiChar, kExpected[i].ch) << i;
        EXPECT_EQ(k.dwControlKeyState, kExpected[i].state) << i;
        EXPECT_EQ(k.bKeyDown, kExpected[i].down) << i;
        EXPECT_EQ(k.wRepeatCount, 1) << i;
    }
}

TEST(ConsoleApi, ScreenTextShowsTheWindowTrimmed) {
    TestConsole console(COORD{6, 10}, SMALL_RECT{0, 2, 5, 5});
    DWORD n = 0;
    FillConsoleOutputCharacterA(out(), 'x', 2, {0, 1}, &n);  // above the window
    FillConsoleOutputCharacterA(out(), 'a', 2, {1, 2}, &n);
    FillConsoleOutputCharacterA(out(), 'b', 6, {0, 4}, &n);
    EXPECT_EQ(console.screen_text(), " aa\n\nbbbbbb");
}

}  // namespace
