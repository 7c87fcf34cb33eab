// Where things are on the console: the window over the screen buffer, the
// print view (the rows that printing scrolls), the cursor, and the conversions
// between the 1-based window coordinates callers use and the 0-based screen
// buffer coordinates of the console calls. Window column 1 is buffer column 0
// (the window always spans the full buffer width); window row 1 is the
// window's top row in the buffer.
//
// The window information is read from the console once, on first use, and
// after that only at the end of each console print; a window that moves or
// changes size is seen once the next print has ended. All operations act on
// the standard output handle recorded at start-up.
#pragma once

#include <cstdint>

#include "platform/console_api.h"

namespace rt {

// The cached window information, in screen buffer coordinates. left = right
// or top = bottom means there is no console window: output is not a console
// (all four 0), the buffer is one column wide or the window one row high.
struct WindowRect {
    std::int16_t left;
    std::int16_t top;
    std::int16_t right;  // buffer width - 1
    std::int16_t bottom;
};

// What the console is taken to be when it cannot tell: an 80 x 25 buffer
// written with attribute 7. Printing and geometry must agree on these.
inline constexpr std::int32_t kFallbackWidth = 80;
inline constexpr std::int32_t kFallbackHeight = 25;
inline constexpr std::uint16_t kFallbackAttribute = 7;

// A coordinate as the console calls take it.
inline SHORT to_short(std::int32_t value) { return static_cast<SHORT>(value); }

// Clear modes of console_clear. Any other value, 0 included, blanks the whole
// window.
inline constexpr std::int32_t kClearNothing = 1;
inline constexpr std::int32_t kClearView = 2;
inline constexpr std::int32_t kClearDefault = static_cast<std::int32_t>(0xFFFF0000u);

// Visibility argument of set_cursor and locate: negative keeps it, 0 hides,
// any other value shows.
inline constexpr std::int32_t kKeepVisibility = -1;

// Packed locate result: column (low 8 bits), row (next 8), and this bit when
// the cursor was visible before the call.
inline constexpr std::uint32_t kLocateWasVisible = 0x10000u;

// Reads the window information from the console (all 0 when that fails).
void window_info_refresh();
// Reads it unless it has been read in this run.
void window_info_ensure();
WindowRect window_info();
bool has_console_window();

// Back to the state at start-up: the view rows unset and the window
// information read afresh from the console as it is now.
void geometry_reset();

// Left (0), top (the window's first buffer row), width (the buffer width) and
// height (the window height); all 0 without a console window. Any pointer may
// be null.
void window_rect(std::int32_t* left, std::int32_t* top, std::int32_t* width, std::int32_t* height);
// The hook's if one is installed, else console_size_default: the window's
// width and height, or 80 x 25 without a console window. Either may be null.
void console_size(std::int32_t* width, std::int32_t* height);
void console_size_default(std::int32_t* width, std::int32_t* height);
// The print view's first and last rows, 1-based window rows. Fixed at first
// use to the window's rows as they are then (1 to 25 without a console window)
// and never changed afterwards; reported within the cached window.
void view_rows(std::int32_t* top, std::int32_t* bottom);
// The view rows over a window of `height` rows: while the window is shorter
// than the view, the view ends at the window's bottom row, so that printing
// never runs into rows the window (or a buffer that shrank with a terminal)
// no longer has.
void view_rows_for(std::int32_t height, std::int32_t* top, std::int32_t* bottom);

// Window to buffer coordinates and back; values left unchanged without a
// console window. Any pointer may be null.
void window_to_buffer(std::int32_t* x1, std::int32_t* y1, std::int32_t* x2, std::int32_t* y2);
void buffer_to_window(std::int32_t* x1, std::int32_t* y1, std::int32_t* x2, std::int32_t* y2);

// The console's current attribute, or 7 when it cannot be read.
std::uint16_t current_attribute(HANDLE output);

// The cursor in window coordinates (the hook's if installed). A failed query
// gives buffer position 0, converted; get_cursor_position gives (0, 0).
std::int32_t cursor_column();
std::int32_t cursor_row();
void get_cursor_position(std::int32_t* column, std::int32_t* row);

// Places the cursor at a buffer cell (a negative row or column keeps the
// current one) and sets its visibility; cancels a pending line feed.
void set_cursor(HANDLE output, std::int32_t row, std::int32_t column, std::int32_t visibility);

// Places the cursor at a window position within the view rows and the console
// width (0 keeps that coordinate) and returns the packed result. A request out
// of range keeps the cursor where it is, still applies the visibility, and
// returns the current position. A column sets the console's line length.
std::uint32_t locate(std::int32_t row, std::int32_t column, std::int32_t visibility);
// As locate, but a request out of range does nothing and gives error 1 and a
// result of 0. `result` may be null.
std::int32_t locate_checked(std::int32_t row, std::int32_t column, std::int32_t visibility, std::uint32_t* result);
// No range check: 0 keeps a coordinate; places the cursor and packs the
// position with the visibility from before the call.
std::uint32_t locate_default(std::int32_t row, std::int32_t column, std::int32_t visibility);

// Blanks the buffer rectangle (inclusive) with the current attribute, from the
// bottom row up, and puts the cursor at its top-left cell. An empty rectangle
// is left alone and the cursor stays.
void blank_rect(HANDLE output, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

// Clears by mode (the hook's clear if installed), then the console's line
// length is 0. Without a console window nothing is blanked.
void console_clear(std::int32_t mode = kClearDefault);
void console_clear_default(std::int32_t mode);

// Moves a window position by `delta` characters across rows `width` columns
// wide; before column 1 is the end of the row above.
void advance_position(std::int32_t* column, std::int32_t* row, std::int32_t delta, std::int32_t width);
// advance_position, then places the cursor there. Just below the bottom row
// (column 1 of bottom + 1) the screen scrolls one row and the cursor ends at
// column 1 of the bottom row, while the caller's position stays below it.
void move_cursor_by(std::int32_t* column, std::int32_t* row, std::int32_t delta, std::int32_t width,
                    std::int32_t bottom);

}  // namespace rt
