// The console print: the console handle's writes, the line editor's echo and
// the input statement's line ends all come here. It does not use the console's
// own text output; a small TTY printer interprets the control characters,
// writes runs of cells at the cursor with the current attribute, wraps at the
// right edge of the screen buffer and scrolls below the bottom row of the print
// view. When standard output is not a console the bytes go out unchanged.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/console_api.h"

namespace rt {

// Console print flag: carry out the cursor step (pending line feed, cursor
// placement, window follow-up) even for an empty text. Other bits are ignored.
inline constexpr std::int32_t kConsolePrintStep = 8;

// Ordinary characters are written in runs of at most this many bytes.
inline constexpr std::int32_t kTtyRunLimit = 256;

// The console facts for one print, read at its start.
struct ConsoleWindowInfo {
    std::int32_t buffer_width;   // 80 when the buffer information cannot be read
    std::int32_t buffer_height;  // 25 when it cannot be read
    std::uint16_t attribute;     // every cell written or blanked; 7 when unread
    HANDLE output;
    // Set unless the view rows are exactly the window's rows.
    bool partial_view;
};

// What the TTY printer works on, built fresh for each console print. The view
// rectangle is inclusive, and it and the cursor are in screen buffer
// coordinates (0-based). Scrolling and cell writing are operations so that
// another screen can stand behind the same printer.
struct TtyView {
    ConsoleWindowInfo* info;
    // Scrolls the view up by `rows` (positive) and leaves the cursor on the
    // view's bottom row.
    void (*scroll_rows)(TtyView& view, std::int32_t rows);
    // Writes the characters at the cursor on its row; false when that failed.
    bool (*write_cells)(TtyView& view, std::string_view bytes);
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
    std::int32_t cursor_x;
    std::int32_t cursor_y;
};

// The hook's print if one is installed, else console_print_default. Never
// changes any handle's line length. `bytes` may be null when `count` is 0.
void console_print(const char* bytes, std::int32_t count, std::int32_t flags);
void console_print_default(const char* bytes, std::int32_t count, std::int32_t flags);

// Bell (sounded without flushing the run), backspace (never past the left
// edge, erasing nothing), tab (blanks to the next 8-column stop from the
// view's left edge), line feed (also returns to the left edge with
// `lf_returns`), carriage return; every other byte is a character. Leaves the
// cursor one row below the view when the last run filled the bottom row.
void tty_print(TtyView& view, std::string_view bytes, bool lf_returns);
// Writes a run at the cursor, split at the right edge, scrolling just before
// writing into a row below the view. A failed write drops the rest.
void tty_write_run(TtyView& view, std::string_view bytes);
// Moves the view down over spare buffer rows below the window first, then
// moves the buffer's (or a partial view's) contents up, blanking the rows
// freed; the cursor ends on the view's bottom row.
void console_scroll_view(TtyView& view, std::int32_t rows);
// One WriteConsoleOutputA of the characters with the view's attribute, cells
// built on the stack (at most kTtyRunLimit of them).
bool console_write_cells(TtyView& view, std::string_view bytes);

// Set when a print ended exactly after the bottom-right cell of the view: the
// cursor was left in that cell and the next print first starts a new row
// (scrolling). Every cursor placement clears it.
bool pending_line_feed();
void clear_pending_line_feed();

}  // namespace rt
