// The runtime's console output on a fresh test console: every test starts
// from the state the program has at start-up (no console handle set up, the
// view rows unset, no pending line feed, the window read from this console).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "runtime/console/console_print.h"
#include "runtime/console/geometry.h"
#include "runtime/console/handle.h"
#include "runtime/core/context.h"
#include "runtime/core/startup.h"
#include "tests/platform/test_console.h"

namespace console_test {

// Call after the TestConsole that the runtime is to use exists.
inline void start_runtime() {
    rt::handle_table_reset();
    rt::platform_init();
    rt::geometry_reset();
    rt::clear_pending_line_feed();
    rt::set_error_number(rt::kErrorNone);
}

inline void print(std::string_view text, std::int32_t flags = 0) {
    rt::console_print(text.data(), static_cast<std::int32_t>(text.size()), flags);
}

// Puts the cursor at a buffer cell as the console itself would, without the
// runtime's placement (which would cancel a pending line feed).
inline void put_cursor(int x, int y) {
    SetConsoleCursorPosition(rt::std_output_handle(), COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
}

// Fills every buffer row with its own letter ('a' for row 0, wrapping after
// 'z'), so a test can see where each row went. Straight into the console,
// whether or not output goes to it.
inline void letter_rows(platform::TestConsole& console) {
    platform::ConsoleModel& model = console.model();
    for (int y = 0; y < model.rows(); ++y) {
        DWORD filled = 0;
        model.fill_character(static_cast<std::uint8_t>('a' + y % 26), static_cast<DWORD>(model.cols()),
                             COORD{0, static_cast<SHORT>(y)}, filled);
    }
}

inline std::string blanks(int count) { return std::string(static_cast<std::size_t>(count), ' '); }

inline void expect_cursor(const platform::TestConsole& console, int x, int y) {
    EXPECT_EQ(console.cursor().X, x);
    EXPECT_EQ(console.cursor().Y, y);
}

inline std::string letters(int row, int count) {
    return std::string(static_cast<std::size_t>(count), static_cast<char>('a' + row % 26));
}

class ConsoleTest : public ::testing::Test {
  protected:
    ConsoleTest() { start_runtime(); }

    platform::TestConsole console{80, 25};
};

}  // namespace console_test
