// A test console with the runtime's process-wide console and keyboard state
// started over, for tests of the line editor and the input statement. Keys go
// in as key codes (exact, ordered) or as typed console events; cells, cursor
// and bells come out of the console model.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/console/console_print.h"
#include "runtime/console/geometry.h"
#include "runtime/console/handle.h"
#include "runtime/core/console_hooks.h"
#include "runtime/core/startup.h"
#include "runtime/core/text.h"
#include "runtime/input/keyboard.h"
#include "tests/platform/test_console.h"
#include "tests/runtime/input/keyboard_support.h"

namespace rt_testing {

inline constexpr rt::KeyCode kHome = rt::extended_key(0x47);
inline constexpr rt::KeyCode kEnd = rt::extended_key(0x4F);
inline constexpr rt::KeyCode kLeft = rt::extended_key(0x4B);
inline constexpr rt::KeyCode kRight = rt::extended_key(0x4D);
inline constexpr rt::KeyCode kUp = rt::extended_key(0x48);
inline constexpr rt::KeyCode kDown = rt::extended_key(0x50);
inline constexpr rt::KeyCode kDelete = rt::extended_key(0x53);
inline constexpr rt::KeyCode kBackspace = 8;
inline constexpr rt::KeyCode kTab = 9;
inline constexpr rt::KeyCode kEnter = 13;
inline constexpr rt::KeyCode kEscape = 27;

class LineInputTest : public ::testing::Test {
  protected:
    static constexpr std::size_t kStallWaits = 20;

    explicit LineInputTest(int cols = 20, int rows = 5) : console_(cols, rows) {
        rt::console_hooks = rt::ConsoleHooks{};
        rt::platform_init();
        rt::handle_table_reset();
        rt::geometry_reset();
        rt::clear_pending_line_feed();
        reset_keyboard(console_);
        // A case that waits for a key that never comes fails soon.
        console_.set_stall_limit(kStallWaits);
    }
    ~LineInputTest() override { rt::console_hooks = rt::ConsoleHooks{}; }

    static void post(std::initializer_list<rt::KeyCode> codes) {
        for (const rt::KeyCode code : codes)
            rt::post_key(code);
    }
    static void post_text(std::string_view text) {
        for (const char c : text)
            rt::post_key(static_cast<unsigned char>(c));
    }

    // Blanks every cell and puts the cursor at `column` of `row` (0-based).
    void clear_screen(int row = 0, int column = 0) {
        DWORD filled = 0;
        console_.model().fill_character(' ', static_cast<DWORD>(console_.model().cols() * console_.model().rows()),
                                        COORD{0, 0}, filled);
        rt::set_cursor(GetStdHandle(STD_OUTPUT_HANDLE), row, column, rt::kKeepVisibility);
    }

    // Each time the program waits for input, the next of `steps` runs (checks
    // of what is shown, keys to deliver). Keys posted straight into the key
    // queue are not console input, so the console's own stall count is set
    // aside and the program counts as stalled only once the steps are done.
    void at_waits(std::vector<std::function<void()>> steps) {
        steps_ = std::move(steps);
        next_step_ = 0;
        console_.set_stall_limit(std::numeric_limits<std::size_t>::max());
        console_.on_wait([this](DWORD) {
            if (next_step_ < steps_.size()) {
                steps_[next_step_++]();
            } else if (++next_step_ > steps_.size() + kStallWaits) {
                throw platform::TestConsole::Stalled();
            }
        });
    }

    // The cursor as window coordinates of this whole-buffer console.
    int cursor_x() const { return console_.cursor().X; }
    int cursor_y() const { return console_.cursor().Y; }
    std::string row(int y) const { return console_.row_text(y); }

    // Whole rows from `first_row` on, then the cursor.
    void expect_rows(int first_row, std::initializer_list<std::string> rows, int x, int y) const {
        int y_row = first_row;
        for (const std::string& expected : rows) {
            EXPECT_EQ(row(y_row), expected) << "row " << y_row;
            ++y_row;
        }
        EXPECT_EQ(cursor_x(), x);
        EXPECT_EQ(cursor_y(), y);
    }

    // Everything shown, row after row, trailing blanks of each row included.
    std::string screen_cells() const {
        std::string cells;
        for (int y = 0; y < console_.window().Bottom + 1; ++y)
            cells += console_.row_text(y);
        return cells;
    }

    platform::TestConsole console_;

  private:
    std::vector<std::function<void()>> steps_;
    std::size_t next_step_ = 0;
};

// A line from edit_new_line as a string; the descriptor goes back to the pool.
inline std::string take_line(rt::StringDescriptor* line) {
    EXPECT_NE(line, nullptr);
    if (line == nullptr) return "<none>";
    std::string text(rt::text_chars(*line));
    rt::text_free(line);
    rt::pool_give_back(line);
    return text;
}

}  // namespace rt_testing
