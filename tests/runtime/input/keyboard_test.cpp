#include "runtime/input/keyboard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/common/heap.h"
#include "platform/posix/control_events.h"
#include "platform/posix/us_layout.h"
#include "runtime/core/console_hooks.h"
#include "runtime/input/key_tables.h"
#include "tests/platform/test_console.h"
#include "tests/runtime/input/keyboard_support.h"

namespace {

using platform::TestConsole;
using rt::KeyCode;
using rt::kNoKey;
using rt_testing::pop_all;
using rt_testing::read_key_bytes;

enum class Mod { none, shift, ctrl, alt };

constexpr DWORD state_of(Mod mod) {
    switch (mod) {
        case Mod::shift:
            return SHIFT_PRESSED;
        case Mod::ctrl:
            return LEFT_CTRL_PRESSED;
        case Mod::alt:
            return LEFT_ALT_PRESSED;
        case Mod::none:
            break;
    }
    return 0;
}

const char* name_of(Mod mod) {
    constexpr const char* kNames[] = {"none", "Shift", "Ctrl", "Alt"};
    return kNames[static_cast<int>(mod)];
}

// --- Translation ------------------------------------------------------------------

// The extended codes a key event can give from its scan code, as runs of
// consecutive scan codes whose codes rise with them. Every other scan code
// and modifier gives the event's character, or no key.
struct ExtendedRun {
    int first_scan;
    int last_scan;
    Mod mod;
    int first_code;
};

constexpr ExtendedRun kExtendedRuns[] = {
    {1, 1, Mod::alt, 0x01},                                                            // Esc
    {2, 11, Mod::alt, 0x78},                                                           // 1 .. 0
    {3, 3, Mod::ctrl, 0x03},                                                           // 2
    {12, 13, Mod::alt, 0x82},                                                          // minus, equals
    {14, 14, Mod::alt, 0x0E},                                                          // Backspace
    {15, 15, Mod::shift, 0x0F}, {15, 15, Mod::ctrl, 0x94},  {15, 15, Mod::alt, 0x0F},  // Tab
    {16, 28, Mod::alt, 0x10},                                                          // Q .. ], Enter
    {30, 41, Mod::alt, 0x1E},                                                          // A .. grave accent
    {44, 53, Mod::alt, 0x2C},                                                          // Z .. slash
    {59, 68, Mod::none, 0x3B},  {59, 68, Mod::shift, 0x54}, {59, 68, Mod::ctrl, 0x5E},
    {59, 68, Mod::alt, 0x68},                                                           // F1..F10
    {71, 73, Mod::none, 0x47},  {75, 77, Mod::none, 0x4B},  {79, 83, Mod::none, 0x4F},  // keypad, Num Lock off
    {71, 71, Mod::ctrl, 0x77},  {72, 72, Mod::ctrl, 0x8D},  {73, 73, Mod::ctrl, 0x84},
    {75, 75, Mod::ctrl, 0x73},  {76, 76, Mod::ctrl, 0x8F},  {77, 77, Mod::ctrl, 0x74},
    {79, 79, Mod::ctrl, 0x75},  {80, 80, Mod::ctrl, 0x91},  {81, 81, Mod::ctrl, 0x76},
    {82, 82, Mod::ctrl, 0x92},  {83, 83, Mod::ctrl, 0x93},  {76, 76, Mod::alt, 0x4C},
    {87, 87, Mod::none, 0x85},  {87, 87, Mod::shift, 0x87}, {87, 87, Mod::ctrl, 0x89},
    {87, 87, Mod::alt, 0x8B},  // F11
    {88, 88, Mod::none, 0x86},  {88, 88, Mod::shift, 0x88}, {88, 88, Mod::ctrl, 0x8A},
    {88, 88, Mod::alt, 0x8C},  // F12
};

std::optional<KeyCode> extended_code_of(int scan, Mod mod) {
    for (const ExtendedRun& run : kExtendedRuns) {
        if (run.mod == mod && scan >= run.first_scan && scan <= run.last_scan) {
            return rt::extended_key(static_cast<std::uint8_t>(run.first_code + scan - run.first_scan));
        }
    }
    return std::nullopt;
}

// The key a US keyboard reports for a scan code, the keypad as with Num Lock
// off (where keypad 5 is VK_CLEAR without a character), with its own
// unshifted character.
struct ScanKey {
    WORD vk = 0;
    std::uint8_t ch = 0;
};

ScanKey key_for_scan(int scan) {
    constexpr int kKeypad5 = 76;
    if (scan == kKeypad5) return {VK_CLEAR, 0};
    ScanKey found;
    for (const platform::UsKey& key : platform::us_layout_keys()) {
        if (key.scan == scan) found = {key.vk, static_cast<std::uint8_t>(key.normal)};  // the cursor block comes last
    }
    return found;
}

TEST(TranslateKeyEvent, EveryScanCodeAndModifierGivesItsExtendedCodeOrItsCharacter) {
    for (int scan = 0; scan <= 88; ++scan) {
        const ScanKey key = key_for_scan(scan);
        for (const Mod mod : {Mod::none, Mod::shift, Mod::ctrl, Mod::alt}) {
            const KeyCode expected = extended_code_of(scan, mod).value_or(key.ch != 0 ? key.ch : kNoKey);
            EXPECT_EQ(rt::translate_key_event(key.ch, static_cast<std::uint16_t>(scan), key.vk, state_of(mod)),
                      expected)
                << "scan code " << scan << ", modifier " << name_of(mod);
        }
    }
}

// The cursor block reports ENHANCED_KEY and no character: its keys give what
// the keypad keys of the same scan codes give without a modifier and with
// Ctrl, so that the editor treats both alike, and Shift changes nothing (on
// the keypad it types the digits). The virtual key plays no part.
TEST(TranslateKeyEvent, TheCursorBlockGivesTheKeypadsCodes) {
    const auto enhanced = [](int scan, Mod mod) {
        return rt::translate_key_event(0, static_cast<std::uint16_t>(scan), 0xFF, state_of(mod) | ENHANCED_KEY);
    };
    for (const int scan : {0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53}) {
        const ScanKey keypad = key_for_scan(scan);
        for (const Mod mod : {Mod::none, Mod::ctrl}) {
            const KeyCode expected =
                rt::translate_key_event(0, static_cast<std::uint16_t>(scan), keypad.vk, state_of(mod));
            EXPECT_GT(expected, 0xFF) << "scan code " << scan;
            EXPECT_EQ(enhanced(scan, mod), expected) << "scan code " << scan << ", modifier " << name_of(mod);
        }
        EXPECT_EQ(enhanced(scan, Mod::shift), enhanced(scan, Mod::none)) << "scan code " << scan;
    }
}

// Keypad Enter and keypad slash without a character, Alt with the cursor
// block, and enhanced keys that are no key.
struct EnhancedCase {
    const char* name;
    WORD scan;
    Mod mod;
    KeyCode expected;
};

constexpr EnhancedCase kEnhancedCases[] = {
    {"keypad Enter ends a line", 0x1C, Mod::none, '\r'},
    {"Ctrl+keypad Enter is a line feed", 0x1C, Mod::ctrl, '\n'},
    {"keypad slash", 0x35, Mod::none, '/'},
    {"Alt+Up", 0x48, Mod::alt, 0x98FF},
    {"Alt+Delete", 0x53, Mod::alt, 0xA3FF},
    {"right Ctrl", 0x1D, Mod::none, kNoKey},
    {"right Alt", 0x38, Mod::alt, kNoKey},
    {"an enhanced scan code of no key", 0x60, Mod::none, kNoKey},
};

TEST(TranslateKeyEvent, EnhancedKeysWithoutACharacterByScanCode) {
    for (const EnhancedCase& c : kEnhancedCases) {
        EXPECT_EQ(rt::translate_key_event(0, c.scan, 0xFF, state_of(c.mod) | ENHANCED_KEY), c.expected) << c.name;
    }
}

struct TranslateCase {
    const char* name;
    std::uint8_t ch;
    std::uint16_t scan;
    std::uint16_t vk;
    std::uint32_t state;
    KeyCode expected;
};

constexpr std::uint32_t kAltGr = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;

constexpr TranslateCase kTranslateCases[] = {
    // Modifier precedence: Alt, then Ctrl, then Shift; either side's bit.
    {"Alt+Ctrl+Shift+F1 is Alt", 0, 59, VK_F1, LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED | SHIFT_PRESSED, 0x68FF},
    {"Ctrl+Shift+F1 is Ctrl", 0, 59, VK_F1, RIGHT_CTRL_PRESSED | SHIFT_PRESSED, 0x5EFF},
    {"right Alt+F1", 0, 59, VK_F1, RIGHT_ALT_PRESSED, 0x68FF},
    {"lock states are no modifier", 0, 59, VK_F1, NUMLOCK_ON | CAPSLOCK_ON | SCROLLLOCK_ON, 0x3BFF},
    // The character check: the key's own character in either case, or none.
    {"Alt+X carrying x", 'x', 45, 'X', LEFT_ALT_PRESSED, 0x2DFF},
    {"Alt+X carrying X", 'X', 45, 'X', LEFT_ALT_PRESSED, 0x2DFF},
    {"Alt+Shift+X carrying X is Alt", 'X', 45, 'X', LEFT_ALT_PRESSED | SHIFT_PRESSED, 0x2DFF},
    {"Shift+Tab carrying Tab", '\t', 15, VK_TAB, SHIFT_PRESSED, 0x0FFF},
    {"Ctrl+2 carrying 2", '2', 3, '2', LEFT_CTRL_PRESSED, 0x03FF},
    {"Ctrl+2 carrying nothing", 0, 3, '2', LEFT_CTRL_PRESSED, kNoKey},
    {"Ctrl+A carrying its control character", 1, 30, 'A', LEFT_CTRL_PRESSED, 1},
    {"Alt+2 carrying another layout's character", 130, 3, '2', LEFT_ALT_PRESSED, 130},
    {"Alt+F1 carrying a character", 'a', 59, VK_F1, LEFT_ALT_PRESSED, 'a'},
    // AltGr reports Ctrl and Alt: its characters stay characters.
    {"AltGr+Q gives @", '@', 16, 'Q', kAltGr, '@'},
    {"AltGr+7 gives {", '{', 8, '7', kAltGr, '{'},
    {"AltGr+E on a key without a character", 0, 18, 'E', kAltGr, kNoKey},
    // Scan codes beyond the table give the character or nothing.
    {"scan code 89 with a character", 'x', 89, 0, 0, 'x'},
    {"scan code above 88 with Alt and a letter", 'q', 0x90, 'Q', LEFT_ALT_PRESSED, 'q'},
    {"scan code above 88 without a character", 0, 0x100, VK_F1, 0, kNoKey},
    {"scan code 0xFFFF", 0, 0xFFFF, 0, LEFT_ALT_PRESSED, kNoKey},
    // An enhanced key that carries a character goes by the scan code table.
    {"Alt+keypad Enter carrying CR", '\r', 0x1C, VK_RETURN, ENHANCED_KEY | LEFT_ALT_PRESSED, 0x1CFF},
    {"keypad slash carrying /", '/', 0x35, VK_DIVIDE, ENHANCED_KEY, '/'},
    {"a character above 127", 200, 0, 0, 0, 200},
};

TEST(TranslateKeyEvent, ModifiersCharactersAndScanCodesBeyondTheTable) {
    for (const TranslateCase& c : kTranslateCases) {
        EXPECT_EQ(rt::translate_key_event(c.ch, c.scan, c.vk, c.state), c.expected) << c.name;
    }
}

// Any event at all: no key, the event's character, the few characters of the
// enhanced table, or an extended code one of the tables holds.
TEST(TranslateKeyEvent, RandomEventsGiveOnlyCodesTheEventOrTheTablesHold) {
    std::set<KeyCode> extended;
    const auto add = [&](std::uint16_t entry) {
        if (entry > 0xFF) extended.insert(entry | 0xFF);
    };
    for (const rt::ScanKeys& row : rt::ScanKeyTable) {
        for (const std::uint16_t entry : {row.normal, row.shift, row.ctrl, row.alt})
            add(entry);
    }
    for (const rt::EnhancedKeys& row : rt::EnhancedKeyTable) {
        for (const std::uint16_t entry : {row.normal, row.shift, row.ctrl, row.alt})
            add(entry);
    }
    std::mt19937 random(41);
    for (int i = 0; i < 200000; ++i) {
        const auto ch = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
        const auto scan = static_cast<std::uint16_t>(random() % 2 == 0 ? random() % 96 : random());
        const auto vk = static_cast<std::uint16_t>(random() % 256);
        const auto state = static_cast<std::uint32_t>(random() & 0x1FF);
        const KeyCode code = rt::translate_key_event(ch, scan, vk, state);
        const bool enhanced_character =
            ch == 0 && (state & ENHANCED_KEY) != 0 && (code == 10 || code == 13 || code == 47 || code == 63);
        const bool fits = code == kNoKey || (code != 0 && code == ch) || enhanced_character || extended.contains(code);
        ASSERT_TRUE(fits) << "character " << int{ch} << ", scan code " << scan << ", virtual key " << vk << ", state "
                          << state << ": " << code;
    }
}

// --- Key events through the console ----------------------------------------------

struct Keyboard : ::testing::Test {
    TestConsole console{80, 25};

    void SetUp() override { rt_testing::reset_keyboard(console); }

    void key(WORD vk, char ch, DWORD state, bool down, WORD repeat = 1) {
        INPUT_RECORD record = TestConsole::key_event(vk, ch, state, down);
        record.Event.KeyEvent.wRepeatCount = repeat;
        console.push(record);
    }
    // A modifier key pressed with its state bit and released without it.
    void modifier(WORD vk, DWORD state) {
        key(vk, 0, state, true);
        key(vk, 0, 0, false);
    }
    // Keypad digits typed while Alt is held alone (Num Lock on); Alt stays down.
    void alt_keypad(std::string_view digits) {
        constexpr DWORD kHeld = LEFT_ALT_PRESSED | NUMLOCK_ON;
        for (const char digit : digits) {
            const auto vk = static_cast<WORD>(VK_NUMPAD0 + (digit - '0'));
            key(vk, 0, kHeld, true);
            key(vk, 0, kHeld, false);
        }
    }
    void alt_down() { key(VK_MENU, 0, LEFT_ALT_PRESSED | NUMLOCK_ON, true); }
    void alt_up() { key(VK_MENU, 0, NUMLOCK_ON, false); }
    void compose(std::string_view digits) {
        alt_down();
        alt_keypad(digits);
        alt_up();
    }
};

struct CompositionCase {
    const char* digits;
    std::vector<KeyCode> expected;
};

TEST_F(Keyboard, AltKeypadDigitsComposeOneKeyModulo256WhenAltIsReleased) {
    const CompositionCase cases[] = {
        {"65", {65}},
        {"321", {65}},
        {"256", {0}},
        {"255", {255}},
        {"0", {}},
        {"0065", {65}},
        {"99999999999", {static_cast<KeyCode>(99999999999 % 256)}},  // the value wraps at 32 bits
    };
    for (const CompositionCase& c : cases) {
        alt_down();
        alt_keypad(c.digits);
        EXPECT_EQ(pop_all(), std::vector<KeyCode>{}) << c.digits << ": nothing before Alt is released";
        alt_up();
        EXPECT_EQ(pop_all(), c.expected) << c.digits;
    }
}

TEST_F(Keyboard, AnotherKeyDropsTheComposition) {
    alt_down();
    alt_keypad("6");
    key('X', 'x', LEFT_ALT_PRESSED, true);
    key('X', 'x', LEFT_ALT_PRESSED, false);
    alt_up();
    EXPECT_EQ(pop_all(), std::vector<KeyCode>{0x2DFF});
}

TEST_F(Keyboard, ACompositionNeedsAltAlone) {
    key(VK_SHIFT, 0, LEFT_ALT_PRESSED | SHIFT_PRESSED, true);
    for (const DWORD state : {LEFT_ALT_PRESSED | SHIFT_PRESSED, kAltGr}) {
        key(VK_NUMPAD6, 0, state, true);
        key(VK_NUMPAD6, 0, state, false);
    }
    alt_up();
    EXPECT_EQ(pop_all(), std::vector<KeyCode>{});
}

TEST_F(Keyboard, AModifierPressedDuringACompositionEndsIt) {
    alt_down();
    alt_keypad("66");
    key(VK_CONTROL, 0, LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED, true);
    EXPECT_EQ(pop_all(), std::vector<KeyCode>{66});
    alt_up();
    EXPECT_EQ(pop_all(), std::vector<KeyCode>{});
}

TEST_F(Keyboard, RepeatCountsKeyUpsAndOtherEvents) {
    key('A', 'a', 0, true, 0);  // ignored entirely
    key('B', 'b', 0, true, 3);  // one key, however many repeats
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    console.push(focus);
    INPUT_RECORD resize{};
    resize.EventType = WINDOW_BUFFER_SIZE_EVENT;
    console.push(resize);
    key('C', 'c', 0, false);  // a release alone
    for (const auto& [vk, state] : {std::pair<WORD, DWORD>{VK_SHIFT, SHIFT_PRESSED},
                                    {VK_CONTROL, LEFT_CTRL_PRESSED},
                                    {VK_MENU, LEFT_ALT_PRESSED},
                                    {VK_CAPITAL, CAPSLOCK_ON}}) {
        modifier(vk, state);
    }
    key('D', 'd', 0, true);
    EXPECT_EQ(pop_all(), (std::vector<KeyCode>{'b', 'd'}));
    EXPECT_EQ(console.queued(), 0u);
}

// Random key events, keypad digits with Alt among them: at most one code per
// event, each a character or an extended code.
TEST_F(Keyboard, RandomKeyEventsGiveAtMostOneWellFormedCodeEach) {
    std::mt19937 random(7);
    constexpr std::uint32_t kAlts[] = {0, LEFT_ALT_PRESSED, RIGHT_ALT_PRESSED, LEFT_ALT_PRESSED | SHIFT_PRESSED};
    for (int round = 0; round < 500; ++round) {
        constexpr std::size_t kEvents = 200;  // fewer than the queue holds
        for (std::size_t i = 0; i < kEvents; ++i) {
            INPUT_RECORD record{};
            record.EventType = KEY_EVENT;
            KEY_EVENT_RECORD& event = record.Event.KeyEvent;
            event.bKeyDown = random() % 2 == 0 ? TRUE : FALSE;
            event.wRepeatCount = static_cast<WORD>(random() % 3);
            const bool keypad = random() % 2 == 0;
            event.wVirtualKeyCode = static_cast<WORD>(keypad ? VK_NUMPAD0 + random() % 10 : random() % 256);
            event.wVirtualScanCode = static_cast<WORD>(random() % 2 == 0 ? random() % 96 : random());
            event.uChar.AsciiChar = static_cast<char>(random() % 2 == 0 ? 0 : random());
            event.dwControlKeyState = keypad ? kAlts[random() % 4] : static_cast<DWORD>(random() & 0x1FF);
            console.push(record);
        }
        const std::vector<KeyCode> codes = pop_all();
        ASSERT_LE(codes.size(), kEvents);
        for (const KeyCode code : codes) {
            const bool extended = (code & 0xFF) == 0xFF && code >> 8 >= 1 && code >> 8 <= 0xFF;
            ASSERT_TRUE((code >= 0 && code <= 0xFF) || extended) << code;
        }
    }
}

TEST_F(Keyboard, TheQueueKeeps511KeysAndThe512thDropsTheOldest) {
    std::vector<KeyCode> codes(512);
    std::iota(codes.begin(), codes.end(), 0);
    for (int i = 0; i < 511; ++i)
        rt::post_key(codes[static_cast<std::size_t>(i)]);
    EXPECT_EQ(pop_all(), std::vector<KeyCode>(codes.begin(), codes.begin() + 511));
    for (const KeyCode code : codes)
        rt::post_key(code);
    EXPECT_EQ(pop_all(), std::vector<KeyCode>(codes.begin() + 1, codes.end()));
}

TEST_F(Keyboard, AFailingPeekSeesNothingAndAFailingReadEndsTheDrain) {
    console.type("a");
    for (const platform::ConsoleCall call :
         {platform::ConsoleCall::PeekConsoleInputA, platform::ConsoleCall::ReadConsoleInputA}) {
        console.fail(call);
        EXPECT_EQ(rt::key_available(), 0);
        EXPECT_EQ(console.queued(), 2u);
        console.fail(call, false);
    }
    EXPECT_EQ(read_key_bytes(), "a");
}

// --- Waiting ---------------------------------------------------------------------

struct WaitCase {
    std::int32_t limit;
    bool key_typed;
    std::vector<DWORD> waits;
    // Of those, the pauses between checks: waits on the input handle, which
    // a key ends. The last stretch and a short limit are plain sleeps.
    std::size_t input_waits;
};

// Each limit on a console of its own, so that its waits are counted alone.
TEST(WaitForKey, Limits) {
    const std::vector<DWORD> twenty_polls(20, 50);
    const WaitCase cases[] = {
        {-2, true, {}, 0},
        {0, true, {}, 0},
        {0, false, {}, 0},
        {30, true, {30}, 0},
        {99, false, {99}, 0},
        {100, true, {}, 0},
        {100, false, {50, 50}, 1},
        {149, false, {50, 50, 49}, 2},
        {1000, false, twenty_polls, 19},
    };
    for (const WaitCase& c : cases) {
        TestConsole fresh(80, 25);
        rt_testing::reset_keyboard(fresh);
        if (c.key_typed) fresh.type("k");
        rt::wait_for_key(c.limit);
        EXPECT_EQ(fresh.waits(), c.waits) << "limit " << c.limit << (c.key_typed ? " with a key" : "");
        EXPECT_EQ(fresh.input_waits().size(), c.input_waits) << "limit " << c.limit;
        // Only a limit long enough to poll looks at the keys; none is removed.
        const bool polled = c.limit >= 100;
        EXPECT_EQ(fresh.queued(), c.key_typed && !polled ? 2u : 0u) << "limit " << c.limit;
        EXPECT_EQ(pop_all(), c.key_typed ? std::vector<KeyCode>{'k'} : std::vector<KeyCode>{}) << "limit " << c.limit;
    }
}

TEST_F(Keyboard, APolledWaitEndsAtTheFirstCheckAfterAKeyArrives) {
    console.on_wait([&](DWORD) {
        if (console.waits().size() == 2) console.type("k");
    });
    rt::wait_for_key(1000);
    EXPECT_EQ(console.waits(), (std::vector<DWORD>{50, 50, 50}));
    EXPECT_EQ(console.input_waits(), (std::vector<DWORD>{50, 50, 50}));
}

TEST_F(Keyboard, AWaitEndsOnlyOnAKeyPostedSinceTheLastRemovalAndTheOlderKeyIsReadFirst) {
    console.type("ab");
    EXPECT_EQ(read_key_bytes(), "a");  // b is queued by the removal's drain, and is not new
    console.on_wait([&](DWORD) {
        if (console.waits().size() == 2) console.type("c");
    });
    rt::wait_for_key(-1);
    EXPECT_EQ(console.waits().size(), 3u);
    EXPECT_EQ(read_key_bytes(), "b");
    EXPECT_EQ(read_key_bytes(), "c");
}

TEST_F(Keyboard, ModifierKeysAloneNeverEndAWait) {
    constexpr std::pair<WORD, DWORD> kModifiers[] = {
        {VK_SHIFT, SHIFT_PRESSED}, {VK_CONTROL, LEFT_CTRL_PRESSED}, {VK_MENU, LEFT_ALT_PRESSED}, {VK_CAPITAL, 0}};
    console.on_wait([&](DWORD) {
        const std::size_t n = console.waits().size();
        if (n < std::size(kModifiers)) {
            modifier(kModifiers[n].first, kModifiers[n].second);
        } else if (n == std::size(kModifiers)) {
            console.type("x");
        }
    });
    rt::wait_for_key(-1);
    EXPECT_EQ(console.waits().size(), std::size(kModifiers) + 1);
    EXPECT_EQ(pop_all(), std::vector<KeyCode>{'x'});
}

TEST_F(Keyboard, KeyAvailableLeavesTheChangeAndTheKeyWhileAReadClearsTheChange) {
    console.type("a");
    EXPECT_EQ(rt::key_available(), 1);
    EXPECT_EQ(rt::key_available(), 1);
    EXPECT_TRUE(rt::take_input_changed());
    console.type("b");
    EXPECT_EQ(rt::key_available(), 1);
    EXPECT_EQ(read_key_bytes(), "a");
    EXPECT_FALSE(rt::take_input_changed());
    EXPECT_EQ(rt::key_available(), 1);
    EXPECT_EQ(read_key_bytes(), "b");
    EXPECT_EQ(rt::key_available(), 0);
}

TEST_F(Keyboard, WaitKeyCodeTakesAQueuedKeyAtOnceOrWaitsForTheNext) {
    console.press(VK_F1);
    EXPECT_EQ(rt::wait_key_code(), 0x3BFF);
    EXPECT_TRUE(console.waits().empty());
    console.on_wait([&](DWORD) {
        if (console.waits().size() == 2) console.type("z");
    });
    EXPECT_EQ(rt::wait_key_code(), 'z');
    EXPECT_EQ(console.waits(), (std::vector<DWORD>{50, 50, 50}));
    EXPECT_EQ(console.input_waits(), console.waits());
    EXPECT_EQ(rt::key_available(), 0);
}

// --- Keys as texts -----------------------------------------------------------------

struct TextCase {
    const char* name;
    std::function<void(Keyboard&)> keys;
    std::string bytes;
};

TEST_F(Keyboard, ReadKeyTextGivesOneCharacterOr255AndTheExtendedCode) {
    const TextCase cases[] = {
        {"F1", [](Keyboard& k) { k.console.press(VK_F1); }, "\xFF;"},
        {"Up", [](Keyboard& k) { k.console.press(VK_UP); }, "\xFFH"},
        {"close", [](Keyboard&) { rt::console_close_handler(CTRL_CLOSE_EVENT); }, "\xFFk"},
        {"Escape", [](Keyboard& k) { k.console.press(VK_ESCAPE); }, "\x1b"},
        {"Alt+255", [](Keyboard& k) { k.compose("255"); }, "\xFF"},
        {"Alt+256", [](Keyboard& k) { k.compose("256"); }, std::string(1, '\0')},
    };
    for (const TextCase& c : cases) {
        c.keys(*this);
        rt::StringDescriptor* text = rt::read_key_text();
        ASSERT_NE(text, nullptr) << c.name;
        EXPECT_TRUE(rt::is_temporary(*text)) << c.name;
        EXPECT_EQ(rt::text_chars(*text), c.bytes) << c.name;
        EXPECT_EQ(text->data[rt::text_length(*text)], '\0') << c.name;
        rt::text_release(text);
    }
}

TEST_F(Keyboard, ReadKeyTextWithoutAKeyGivesTheSharedEmptyText) {
    const int in_use = rt::pool_in_use_count();
    EXPECT_EQ(rt::read_key_text(), rt::shared_empty_text());
    EXPECT_EQ(rt::pool_in_use_count(), in_use);
}

TEST_F(Keyboard, AKeyThatCannotBeMadeIntoATextIsLost) {
    // No descriptor left in the pool.
    std::vector<rt::StringDescriptor*> taken;
    while (rt::StringDescriptor* d = rt::pool_take())
        taken.push_back(d);
    console.type("a");
    EXPECT_EQ(rt::read_key_text(), rt::shared_empty_text());
    for (rt::StringDescriptor* d : taken)
        rt::pool_give_back(d);
    EXPECT_EQ(rt::key_available(), 0);

    // No memory for its buffer.
    console.type("b");
    platform::heap_fail_nth(1, true);
    rt::StringDescriptor* text = rt::read_key_text();
    platform::heap_fail_nth(0);
    EXPECT_EQ(text, rt::shared_empty_text());
    EXPECT_EQ(rt::key_available(), 0);
}

// --- Hooks, timing services, the close handler ----------------------------------

TEST_F(Keyboard, InstalledHooksStandInForTheDefaults) {
    static std::int32_t waited_for = 0;
    const rt::ConsoleHooks saved = rt::console_hooks;
    rt::console_hooks.wait_for_key = [](std::int32_t ms) { waited_for = ms; };
    rt::console_hooks.read_key_text = [] { return rt::text_view_cstr("hooked"); };
    rt::console_hooks.wait_key_code = [] { return KeyCode{0x1234}; };
    rt::console_hooks.key_available = [] { return std::int32_t{7}; };
    console.type("a");
    rt::wait_for_key(-1);
    rt::StringDescriptor* text = rt::read_key_text();
    const KeyCode code = rt::wait_key_code();
    const std::int32_t available = rt::key_available();
    rt::console_hooks = saved;

    EXPECT_EQ(waited_for, -1);
    EXPECT_EQ(rt::text_chars(*text), "hooked");
    rt::text_release(text);
    EXPECT_EQ(code, 0x1234);
    EXPECT_EQ(available, 7);
    EXPECT_EQ(console.queued(), 2u);  // no default ran, so nothing was drained
    EXPECT_TRUE(console.waits().empty());
}

TEST_F(Keyboard, TheCloseHandlerTakesCloseLogOffAndShutDownAsTheCloseKey) {
    const std::pair<DWORD, bool> cases[] = {{CTRL_C_EVENT, false},       {CTRL_BREAK_EVENT, false},
                                            {CTRL_CLOSE_EVENT, true},    {CTRL_LOGOFF_EVENT, true},
                                            {CTRL_SHUTDOWN_EVENT, true}, {3, false}};
    for (const auto& [type, handled] : cases) {
        EXPECT_EQ(rt::console_close_handler(type), handled ? TRUE : FALSE) << "event " << type;
        EXPECT_EQ(pop_all(), handled ? std::vector<KeyCode>{rt::kCloseKey} : std::vector<KeyCode>{})
            << "event " << type;
    }
}

// Installing happens once per process, so it is watched in a fresh copy of
// this program that runs only this case. An at-exit function registered
// before the first keyboard operation runs after the keyboard's own.
void install_on_first_operation_and_remove_at_exit() {
    TestConsole console(80, 25);
    rt::platform_init();
    static std::size_t before = 0;
    before = platform::control_handler_count();
    std::atexit([] { std::fprintf(stderr, " at exit:%zu", platform::control_handler_count() - before); });
    rt::key_available();
    const std::size_t first = platform::control_handler_count() - before;
    rt::pop_key();
    rt::wait_for_key(0);
    std::fprintf(stderr, "first:%zu later:%zu", first, platform::control_handler_count() - before);
    std::exit(0);
}

TEST(CloseHandler, InstalledByTheFirstKeyboardOperationAndRemovedAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(install_on_first_operation_and_remove_at_exit(), ::testing::ExitedWithCode(0),
                "first:1 later:1 at exit:0");
}

}  // namespace
