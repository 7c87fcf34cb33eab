#include "platform/posix/screen_frames.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/console_model.h"
#include "platform/posix/cp437.h"
#include "tests/platform/vterm_screen.h"

namespace {

using platform::ConsoleModel;
using platform::ScreenFrames;
using platform::VtermScreen;

// A terminal behind a pipe: what the frames write is read back and fed to an
// emulator of the terminal's size.
class PipeTerminal {
  public:
    PipeTerminal(int cols, int rows) : term_(cols, rows) {
        EXPECT_EQ(::pipe2(fds_.data(), O_CLOEXEC), 0);
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    ~PipeTerminal() {
        for (const int fd : fds_)
            ::close(fd);
    }
    PipeTerminal(const PipeTerminal&) = delete;
    PipeTerminal& operator=(const PipeTerminal&) = delete;

    int fd() const { return fds_[1]; }
    // Everything sent since the last call, fed to the emulator.
    std::string take() {
        std::string sent;
        std::array<char, 4096> buffer;
        for (ssize_t n; (n = ::read(fds_[0], buffer.data(), buffer.size())) > 0;)
            sent.append(buffer.data(), static_cast<std::size_t>(n));
        term_.feed(sent);
        return sent;
    }
    const VtermScreen& term() const { return term_; }

  private:
    std::array<int, 2> fds_{-1, -1};
    VtermScreen term_;
};

// The terminal shows the model's window: its cells, colours and cursor.
::testing::AssertionResult shows(const VtermScreen& term, const ConsoleModel& model) {
    const SMALL_RECT w = model.window();
    for (int y = 0; y <= w.Bottom - w.Top; ++y) {
        for (int x = 0; x <= w.Right - w.Left; ++x) {
            const platform::ConsoleCell cell = model.cell(w.Left + x, w.Top + y);
            const char32_t glyph = platform::cp437_glyph(cell.ch);
            if (term.glyph(x, y) != glyph || term.attr(x, y) != (cell.attr & 0xFF)) {
                return ::testing::AssertionFailure()
                       << "window cell (" << x << ", " << y << ") shows "
                       << static_cast<std::uint32_t>(term.glyph(x, y)) << ", model has "
                       << static_cast<std::uint32_t>(glyph) << "; row shows \"" << term.text(y) << "\"";
            }
        }
    }
    const COORD cursor = model.cursor();
    const bool inside = cursor.X >= w.Left && cursor.X <= w.Right && cursor.Y >= w.Top && cursor.Y <= w.Bottom;
    if (term.cursor_visible() != (model.cursor_info().bVisible != 0 && inside)) {
        return ::testing::AssertionFailure() << "cursor visible " << term.cursor_visible();
    }
    if (inside && (term.cursor_x() != cursor.X - w.Left || term.cursor_y() != cursor.Y - w.Top)) {
        return ::testing::AssertionFailure() << "cursor at (" << term.cursor_x() << ", " << term.cursor_y() << ")";
    }
    return ::testing::AssertionSuccess();
}

TEST(ScreenFrames, ATypedCharacterIsOneByteInOneWrite) {
    ConsoleModel model(80, 25);
    PipeTerminal terminal(80, 25);
    ScreenFrames frames(terminal.fd(), 80, 25);
    model.write_text(std::as_bytes(std::span("Number? ", 8)));
    frames.show(model);
    terminal.take();
    model.write_text(std::as_bytes(std::span("5", 1)));
    frames.show(model);
    EXPECT_EQ(terminal.take(), "5");
    frames.show(model);
    EXPECT_EQ(terminal.take(), "");
}

// Random console calls between frames, as a program makes them between two
// waits; after every frame the terminal shows the window. A buffer taller
// than its window (second case) moves the window too.
class RandomConsole : public ::testing::TestWithParam<std::tuple<COORD, SMALL_RECT, unsigned>> {};

TEST_P(RandomConsole, TheTerminalShowsEveryFrame) {
    // Named one by one: a lambda below uses the size, and clang before 16
    // cannot capture a structured binding.
    const COORD size = std::get<0>(GetParam());
    const SMALL_RECT window = std::get<1>(GetParam());
    const unsigned seed = std::get<2>(GetParam());
    ConsoleModel model(size, window);
    const int cols = window.Right - window.Left + 1;
    const int rows = window.Bottom - window.Top + 1;
    PipeTerminal terminal(cols, rows);
    ScreenFrames frames(terminal.fd(), cols, rows);
    std::mt19937 rng(seed);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto any_cell = [&] {
        return COORD{static_cast<SHORT>(pick(0, size.X - 1)), static_cast<SHORT>(pick(0, size.Y - 1))};
    };
    for (int step = 0; step < 300; ++step) {
        for (int calls = pick(1, 3); calls > 0; --calls) {
            switch (pick(0, 6)) {
                case 0:
                case 1: {  // printed text, wrapping and scrolling the buffer
                    std::string text;
                    for (int n = pick(1, size.X + 3); n > 0; --n)
                        text += pick(0, 9) == 0 ? '\n' : static_cast<char>(pick(0x20, 0xFE));
                    model.write_text(std::as_bytes(std::span(text)));
                    break;
                }
                case 2: {  // one cell written
                    CHAR_INFO cell{};
                    cell.Char.AsciiChar = static_cast<char>(pick(0x21, 0x7E));
                    cell.Attributes = pick(0, 3) == 0 ? WORD{0x1E} : WORD{7};
                    const COORD at = any_cell();
                    SMALL_RECT region{at.X, at.Y, at.X, at.Y};
                    model.write_cells({&cell, 1}, {1, 1}, {0, 0}, region);
                    break;
                }
                case 3:
                    model.set_cursor_position(any_cell());
                    break;
                case 4:
                    model.set_cursor_info({25, pick(0, 1) != 0 ? TRUE : FALSE});
                    break;
                case 5: {  // blanks from a cell on
                    DWORD filled = 0;
                    model.fill_character(' ', static_cast<DWORD>(pick(1, size.X * 2)), any_cell(), filled);
                    break;
                }
                case 6: {  // the window moved within the buffer
                    const int top = pick(0, size.Y - rows);
                    model.set_window(true, {0, static_cast<SHORT>(top), static_cast<SHORT>(cols - 1),
                                            static_cast<SHORT>(top + rows - 1)});
                    break;
                }
            }
        }
        frames.show(model);
        const std::string sent = terminal.take();
        ASSERT_TRUE(shows(terminal.term(), model)) << "step " << step << ", sent " << ::testing::PrintToString(sent);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomConsole,
                         ::testing::Values(std::make_tuple(COORD{12, 5}, SMALL_RECT{0, 0, 11, 4}, 1u),
                                           std::make_tuple(COORD{80, 25}, SMALL_RECT{0, 0, 79, 24}, 2u),
                                           std::make_tuple(COORD{10, 12}, SMALL_RECT{0, 3, 9, 6}, 3u),
                                           std::make_tuple(COORD{7, 1}, SMALL_RECT{0, 0, 6, 0}, 4u)));

}  // namespace
