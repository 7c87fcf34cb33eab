// Windows programs as a user of Wine's console on a terminal runs them: the
// screen read through a terminal emulator, keys typed on the terminal. Wine's
// console shows the program's screen buffer on the terminal and turns what is
// typed into console key events.
#include <signal.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/program_text.h"
#include "runtime/input/keyboard.h"
#include "tests/platform/pty_process.h"

namespace {

using platform::PtyProcess;

constexpr int kCols = 80;
constexpr int kRows = 25;

// The prompts as the screen shows them: each is followed by "? ", whose blank
// the screen's text leaves out until something is typed after it.
const std::string kNumberPrompt = std::string(app::kNumberPrompt) + "?";
const std::string kBasePrompt = std::string(app::kBasePrompt) + "?";
using app::kExitHint;
using app::kWrongInput;

class ProgramUnderWine : public ::testing::Test {
  protected:
    // Keys come from the terminal; the output goes to the terminal or to a
    // pipe.
    void start(PtyProcess::Stream output, const char* program = WINDOWS_PROGRAM) {
        pty_.start(WINE, {program}, PtyProcess::Options(PtyProcess::Stream::Terminal, output));
    }

    // Escape would end the program with status 0 after a test, but Wine's
    // console delivers the Escape key's event without its character (0
    // instead of 27), which the real console never does, and such an event is
    // no key at all: the program is left waiting for a key, and the test ends
    // it, with Wine's console process for it, which runs in its process group.
    void TearDown() override {
        if (pty_.pid() > 0) ::kill(-pty_.pid(), SIGKILL);
    }

    // Wine's console switches the terminal to take keys one by one only some
    // time after the program has shown its first prompt, and sends nothing to
    // the terminal when it does; what is typed before that would arrive as a
    // line, its Enter as a line feed. As nothing to read tells when, the
    // terminal's modes are looked at until then.
    bool wait_for_keys_one_by_one() {
        const auto deadline = std::chrono::steady_clock::now() + PtyProcess::kTimeout;
        while ((pty_.modes().c_lflag & ICANON) != 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Rows below `from` hold nothing.
    bool blank_from(int from) {
        for (int y = from; y < kRows; ++y) {
            if (!pty_.screen().text(y).empty()) return false;
        }
        return true;
    }

    // Waits until the lowest row that holds anything starts with `text`.
    bool read_until_last_row(std::string_view text) {
        return pty_.read_until([&] {
            int y = kRows - 1;
            while (y > 0 && pty_.screen().text(y).empty())
                --y;
            return pty_.screen().text(y).starts_with(text);
        });
    }

    // Types a line and waits until row `y` shows `text` after the prompt.
    void answer(int y, std::string_view prompt, std::string_view text) {
        pty_.type(std::string(text) + "\r");
        ASSERT_TRUE(pty_.read_until_row(y, std::string(prompt) + " " + std::string(text)))
            << "row " << y << ": " << pty_.screen().text(y);
    }

    PtyProcess pty_{kCols, kRows};
};

TEST_F(ProgramUnderWine, ConvertsRejectsAndStartsTheNextPassOnAnyKey) {
    start(PtyProcess::Stream::Terminal);
    // Start-up clears the screen: the first prompt alone in the top row.
    ASSERT_TRUE(pty_.read_until_row(0, kNumberPrompt)) << pty_.screen().text(0);
    ASSERT_TRUE(wait_for_keys_one_by_one());
    EXPECT_EQ(pty_.screen().text(0), kNumberPrompt);
    EXPECT_TRUE(blank_from(1));
    ASSERT_TRUE(pty_.read_until([&] { return pty_.screen().cursor_x() == static_cast<int>(kNumberPrompt.size()) + 1; }))
        << "the cursor waits after \"? \" at column " << pty_.screen().cursor_x();

    // Editing keys come as console key events too: Left, then Backspace takes
    // out the 6 before the cursor.
    pty_.type("2565\x1b[D\x7f\r");
    ASSERT_TRUE(pty_.read_until_row(1, kBasePrompt)) << pty_.screen().text(1);
    EXPECT_EQ(pty_.screen().text(0), std::string(kNumberPrompt) + " 255");
    answer(1, kBasePrompt, "16");
    ASSERT_TRUE(pty_.read_until_row(3, kExitHint)) << pty_.screen().text(3);
    EXPECT_EQ(pty_.screen().text(2), "d15 d15");
    EXPECT_TRUE(blank_from(4));

    // A key other than Escape starts the next pass below the last one; the
    // key itself is not typed into the next answer.
    pty_.type("x");
    ASSERT_TRUE(pty_.read_until_row(4, kNumberPrompt)) << pty_.screen().text(4);
    answer(4, kNumberPrompt, "12a");
    answer(5, kBasePrompt, "3");
    ASSERT_TRUE(pty_.read_until_row(7, kExitHint)) << pty_.screen().text(7);
    EXPECT_EQ(pty_.screen().text(6), kWrongInput);

    // The largest number in the largest base.
    pty_.type(" ");
    ASSERT_TRUE(pty_.read_until_row(8, kNumberPrompt));
    answer(8, kNumberPrompt, "999999999999999");
    answer(9, kBasePrompt, "999999999999999");
    ASSERT_TRUE(pty_.read_until_row(11, kExitHint)) << pty_.screen().text(11);
    EXPECT_EQ(pty_.screen().text(10), "d1 d0");
}

// Printing below the last row moves everything up a row.
TEST_F(ProgramUnderWine, ScrollsOnceTheScreenIsFull) {
    start(PtyProcess::Stream::Terminal);
    ASSERT_TRUE(read_until_last_row(kNumberPrompt));
    ASSERT_TRUE(wait_for_keys_one_by_one());
    // Seven passes of four rows each: 28 rows on a screen of 25.
    for (char digit = '1'; digit <= '7'; ++digit) {
        const std::string number(2, digit);
        pty_.type(number + "\r");
        ASSERT_TRUE(read_until_last_row(kBasePrompt)) << "pass " << digit;
        pty_.type("10\r");
        ASSERT_TRUE(read_until_last_row(kExitHint)) << "pass " << digit;
        if (digit < '7') {
            pty_.type("x");
            ASSERT_TRUE(read_until_last_row(kNumberPrompt)) << "pass " << digit;
        }
    }
    // The last line end scrolls too: the cursor waits at the start of the
    // bottom row.
    ASSERT_TRUE(pty_.read_until([&] {
        const platform::VtermScreen& screen = pty_.screen();
        return screen.cursor_x() == 0 && screen.cursor_y() == kRows - 1 && screen.text(kRows - 2) == kExitHint;
    })) << pty_.screen().cursor_x()
        << "," << pty_.screen().cursor_y();
    EXPECT_EQ(pty_.screen().text(0), std::string(kNumberPrompt) + " 22");
    EXPECT_EQ(pty_.screen().text(kRows - 3), "d7 d7");
    EXPECT_EQ(pty_.screen().text(kRows - 1), "");
}

// With standard output redirected, what is printed goes to it byte for byte,
// the echo of typed keys included, and the keys still come from the console.
TEST_F(ProgramUnderWine, RedirectedOutputGetsThePrintedBytes) {
    start(PtyProcess::Stream::Pipe);
    ASSERT_TRUE(wait_for_keys_one_by_one());
    const auto output_ends_with = [&](std::string_view text) {
        return pty_.read_until([&] { return pty_.output_bytes().ends_with(text); });
    };
    const std::string number_prompt = std::string(kNumberPrompt) + " ";
    const std::string base_prompt = std::string(kBasePrompt) + " ";
    const std::string exit_hint = std::string(kExitHint) + "\r\n";
    ASSERT_TRUE(output_ends_with(number_prompt)) << pty_.output_bytes();
    pty_.type("255\r");
    ASSERT_TRUE(output_ends_with(base_prompt)) << pty_.output_bytes();
    pty_.type("16\r");
    ASSERT_TRUE(output_ends_with(exit_hint)) << pty_.output_bytes();
    pty_.type("x");
    ASSERT_TRUE(output_ends_with(number_prompt)) << pty_.output_bytes();
    pty_.type("7\r");
    ASSERT_TRUE(output_ends_with(base_prompt)) << pty_.output_bytes();
    pty_.type("0\r");
    ASSERT_TRUE(output_ends_with(exit_hint)) << pty_.output_bytes();
    EXPECT_EQ(pty_.output_bytes(), number_prompt + "255\r\n" + base_prompt + "16\r\nd15 d15 \r\n" + exit_hint +
                                       number_prompt + "7\r\n" + base_prompt + "0\r\n" + std::string(kWrongInput) +
                                       "\r\n" + exit_hint);
}

// The keyboard layer of the Windows build reads Wine's key events as the key
// codes of the real console: characters, and the extended codes of keys
// without one, with their modifiers.
TEST_F(ProgramUnderWine, KeysReadAsTheirKeyCodes) {
    start(PtyProcess::Stream::Pipe, KEY_READER);
    ASSERT_TRUE(pty_.read_until([&] { return pty_.output_bytes() == "ready "; })) << pty_.output_bytes();
    ASSERT_TRUE(wait_for_keys_one_by_one());
    const struct {
        const char* name;
        std::string_view typed;
        rt::KeyCode code;
    } kKeys[] = {
        {"a", "a", 'a'},
        {"Enter", "\r", 13},
        {"Backspace", "\x7f", 8},
        {"Tab", "\t", 9},
        {"Left", "\x1b[D", rt::extended_key(0x4B)},
        {"Up", "\x1b[A", rt::extended_key(0x48)},
        {"Home", "\x1b[H", rt::extended_key(0x47)},
        {"End", "\x1bOF", rt::extended_key(0x4F)},
        {"Page Up", "\x1b[5~", rt::extended_key(0x49)},
        {"Insert", "\x1b[2~", rt::extended_key(0x52)},
        {"Delete", "\x1b[3~", rt::extended_key(0x53)},
        {"F1", "\x1bOP", rt::extended_key(0x3B)},
        {"Shift+F1", "\x1b[1;2P", rt::extended_key(0x54)},
        {"Ctrl+Left", "\x1b[1;5D", rt::extended_key(0x73)},
        {"Alt+A",
         "\x1b"
         "a",
         rt::extended_key(0x1E)},
        // Escape itself is left out: Wine's console delivers it without its
        // character, which makes it no key.
    };
    for (const auto& key : kKeys) {
        pty_.type(key.typed);
        const std::string shown = std::to_string(key.code) + " ";
        ASSERT_TRUE(pty_.read_until([&] { return pty_.output_bytes().ends_with(shown); }))
            << key.name << ": " << pty_.output_bytes();
    }
    std::string all = "ready ";
    for (const auto& key : kKeys)
        all += std::to_string(key.code) + " ";
    EXPECT_EQ(pty_.output_bytes(), all) << "each key read once";
}

}  // namespace
