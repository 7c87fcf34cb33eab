#include "runtime/console/geometry.h"

#include <algorithm>

#include "runtime/console/console_print.h"
#include "runtime/console/handle.h"
#include "runtime/core/characters.h"
#include "runtime/core/console_hooks.h"
#include "runtime/core/context.h"
#include "runtime/core/startup.h"

namespace rt {
namespace {

constexpr std::int32_t kUnset = -1;
constexpr std::string_view kLineEnd = "\r\n";

constexpr bool is_console_window(const WindowRect& w) { return w.left != w.right && w.top != w.bottom; }

// What a window coordinate adds to become a buffer coordinate; nothing
// without a console window, where coordinates are not converted.
struct WindowShift {
    std::int32_t x;
    std::int32_t y;
};

constexpr WindowShift shift_of(const WindowRect& w) {
    return is_console_window(w) ? WindowShift{w.left - 1, w.top - 1} : WindowShift{0, 0};
}

// The window's rows; 0 without a console window.
constexpr std::int32_t height_of(const WindowRect& w) { return is_console_window(w) ? w.bottom - w.top + 1 : 0; }

// console_size_default's width.
constexpr std::int32_t width_of(const WindowRect& w) {
    return is_console_window(w) ? w.right - w.left + 1 : kFallbackWidth;
}

WindowRect g_window{};
// 0-based window rows, kUnset until first use.
std::int32_t g_view_top = kUnset;
std::int32_t g_view_bottom = kUnset;

void set_if(std::int32_t* target, std::int32_t value) {
    if (target != nullptr) *target = value;
}

// The cursor's buffer position, or buffer position 0 when it cannot be read.
COORD buffer_cursor() {
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    if (!GetConsoleScreenBufferInfo(std_output_handle(), &buffer)) return COORD{0, 0};
    return buffer.dwCursorPosition;
}

void add_if(std::int32_t* target, std::int32_t value) {
    if (target != nullptr) *target += value;
}

// set_cursor's two steps, apart so that a caller that has just read the
// cursor information need not read it again. A negative row or column
// becomes the cursor's current one.
void keep_position(HANDLE output, std::int32_t& row, std::int32_t& column) {
    if (row >= 0 && column >= 0) return;
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    GetConsoleScreenBufferInfo(output, &buffer);
    if (row < 0) row = buffer.dwCursorPosition.Y;
    if (column < 0) column = buffer.dwCursorPosition.X;
}

// `cursor` is the cursor information as read, or null when it could not be
// read (its visibility is then left alone).
void show_and_place(HANDLE output, std::int32_t row, std::int32_t column, std::int32_t visibility,
                    CONSOLE_CURSOR_INFO* cursor) {
    if (visibility >= 0 && cursor != nullptr) {
        cursor->bVisible = visibility != 0 ? TRUE : FALSE;
        SetConsoleCursorInfo(output, cursor);
    }
    clear_pending_line_feed();
    SetConsoleCursorPosition(output, COORD{to_short(column), to_short(row)});
}

// The view rows are fixed to the window's rows on first use.
void fix_view_rows() {
    if (g_view_bottom != kUnset) return;
    if (g_view_top == kUnset) g_view_top = 0;
    std::int32_t height = 0;
    console_size(nullptr, &height);
    g_view_bottom = height != 0 ? height - 1 : kFallbackHeight - 1;
}

// locate's range check against the view rows and the console width over the
// window information `w`, read once for the whole check. 0 keeps a
// coordinate and is always in range.
bool locate_in_range(const WindowRect& w, std::int32_t row, std::int32_t column) {
    std::int32_t view_top = 0;
    std::int32_t view_bottom = 0;
    view_rows_for(height_of(w), &view_top, &view_bottom);
    std::int32_t width = 0;
    if (console_hooks.console_size != nullptr)
        console_hooks.console_size(&width, nullptr);
    else
        width = width_of(w);
    return (row == 0 || (row >= view_top && row <= view_bottom)) && (column == 0 || (column >= 1 && column <= width));
}

// A request that passed the check: placed (by the hook's locate if installed),
// and a column sets the console's line length.
std::uint32_t locate_accepted(std::int32_t row, std::int32_t column, std::int32_t visibility) {
    ensure_console_handle();
    const std::uint32_t packed = console_hooks.locate != nullptr ? console_hooks.locate(row, column, visibility)
                                                                 : locate_default(row, column, visibility);
    if (column != 0) console_handle().line_length = column - 1;
    return packed;
}

}  // namespace

void window_info_refresh() {
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    if (GetConsoleScreenBufferInfo(std_output_handle(), &buffer))
        g_window = {0, buffer.srWindow.Top, to_short(buffer.dwSize.X - 1), buffer.srWindow.Bottom};
    else
        g_window = {};
}

void window_info_ensure() {
    if (context_slot_is_set(kWindowInfoReadSlot)) return;
    context_slot_mark(kWindowInfoReadSlot);
    window_info_refresh();
}

WindowRect window_info() {
    window_info_ensure();
    return g_window;
}

bool has_console_window() { return is_console_window(window_info()); }

void geometry_reset() {
    g_view_top = kUnset;
    g_view_bottom = kUnset;
    context_slot_mark(kWindowInfoReadSlot);
    window_info_refresh();
}

void window_rect(std::int32_t* left, std::int32_t* top, std::int32_t* width, std::int32_t* height) {
    const WindowRect w = window_info();
    const bool window = is_console_window(w);
    set_if(left, window ? w.left : 0);
    set_if(top, window ? w.top : 0);
    set_if(width, window ? width_of(w) : 0);
    set_if(height, height_of(w));
}

void console_size(std::int32_t* width, std::int32_t* height) {
    if (console_hooks.console_size != nullptr)
        console_hooks.console_size(width, height);
    else
        console_size_default(width, height);
}

void console_size_default(std::int32_t* width, std::int32_t* height) {
    const WindowRect w = window_info();
    set_if(width, width_of(w));
    set_if(height, is_console_window(w) ? height_of(w) : kFallbackHeight);
}

void view_rows(std::int32_t* top, std::int32_t* bottom) { view_rows_for(height_of(window_info()), top, bottom); }

void view_rows_for(std::int32_t height, std::int32_t* top, std::int32_t* bottom) {
    fix_view_rows();
    set_if(top, g_view_top + 1);
    set_if(bottom, height > 0 ? std::min(g_view_bottom + 1, height) : g_view_bottom + 1);
}

void window_to_buffer(std::int32_t* x1, std::int32_t* y1, std::int32_t* x2, std::int32_t* y2) {
    const WindowShift shift = shift_of(window_info());
    add_if(x1, shift.x);
    add_if(y1, shift.y);
    add_if(x2, shift.x);
    add_if(y2, shift.y);
}

void buffer_to_window(std::int32_t* x1, std::int32_t* y1, std::int32_t* x2, std::int32_t* y2) {
    const WindowShift shift = shift_of(window_info());
    add_if(x1, -shift.x);
    add_if(y1, -shift.y);
    add_if(x2, -shift.x);
    add_if(y2, -shift.y);
}

std::uint16_t current_attribute(HANDLE output) {
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    return GetConsoleScreenBufferInfo(output, &buffer) ? buffer.wAttributes : kFallbackAttribute;
}

std::int32_t cursor_column() {
    if (console_hooks.current_column != nullptr) return console_hooks.current_column();
    const std::int32_t column = buffer_cursor().X;
    return column - shift_of(window_info()).x;
}

std::int32_t cursor_row() {
    const std::int32_t row = buffer_cursor().Y;
    return row - shift_of(window_info()).y;
}

void get_cursor_position(std::int32_t* column, std::int32_t* row) {
    if (console_hooks.cursor_position != nullptr) {
        console_hooks.cursor_position(column, row);
        return;
    }
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    if (!GetConsoleScreenBufferInfo(std_output_handle(), &buffer)) {
        set_if(column, 0);
        set_if(row, 0);
        return;
    }
    const WindowShift shift = shift_of(window_info());
    set_if(column, buffer.dwCursorPosition.X - shift.x);
    set_if(row, buffer.dwCursorPosition.Y - shift.y);
}

void set_cursor(HANDLE output, std::int32_t row, std::int32_t column, std::int32_t visibility) {
    keep_position(output, row, column);
    CONSOLE_CURSOR_INFO cursor{};
    const bool known = visibility >= 0 && GetConsoleCursorInfo(output, &cursor);
    show_and_place(output, row, column, visibility, known ? &cursor : nullptr);
}

std::uint32_t locate(std::int32_t row, std::int32_t column, std::int32_t visibility) {
    set_error_number(kErrorNone);
    if (!locate_in_range(window_info(), row, column)) {
        // Retried at the cursor. A size hook is asked again, as a second
        // request asks it, and may have changed what the check sees; without
        // one nothing has, and (0, 0) is always in range, so the retry goes
        // on from here. Its success clears the refusal's error, which nothing
        // could have seen in between, so that error is never set.
        if (console_hooks.console_size != nullptr) {
            std::uint32_t result = 0;
            locate_checked(0, 0, visibility, &result);
            return result;
        }
        row = 0;
        column = 0;
    }
    return locate_accepted(row, column, visibility);
}

std::int32_t locate_checked(std::int32_t row, std::int32_t column, std::int32_t visibility, std::uint32_t* result) {
    set_error_number(kErrorNone);
    if (!locate_in_range(window_info(), row, column)) {
        if (result != nullptr) *result = 0;
        return set_error_number(kErrorIllegalCall);
    }
    const std::uint32_t packed = locate_accepted(row, column, visibility);
    if (result != nullptr) *result = packed;
    return get_error_number();
}

std::uint32_t locate_default(std::int32_t row, std::int32_t column, std::int32_t visibility) {
    // The coordinates kept are those of cursor_column and cursor_row, but one
    // read of the console serves both: nothing between the two queries could
    // have moved the cursor.
    const bool column_read = column <= 0 && console_hooks.current_column == nullptr;
    if (column <= 0 && !column_read) column = console_hooks.current_column();
    const COORD at = column_read || row <= 0 ? buffer_cursor() : COORD{0, 0};
    const WindowShift shift = shift_of(window_info());
    if (column_read) column = at.X - shift.x;
    if (row <= 0) row = at.Y - shift.y;
    const HANDLE output = std_output_handle();
    CONSOLE_CURSOR_INFO cursor{};
    const bool known = GetConsoleCursorInfo(output, &cursor) != FALSE;
    const bool visible = known && cursor.bVisible != FALSE;
    const std::uint32_t packed = (static_cast<std::uint32_t>(column) & 0xFFu) |
                                 (static_cast<std::uint32_t>(row) & 0xFFu) << 8 | (visible ? kLocateWasVisible : 0u);
    // set_cursor, with the cursor information just read.
    row += shift.y;
    column += shift.x;
    keep_position(output, row, column);
    show_and_place(output, row, column, visibility, known ? &cursor : nullptr);
    return packed;
}

void blank_rect(HANDLE output, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    const std::uint16_t attribute = current_attribute(output);
    const std::int32_t count = right - left + 1;
    // An empty (or inverted) rectangle would otherwise become a huge count.
    if (count <= 0 || bottom < top) return;
    for (std::int32_t row = bottom; row >= top; --row) {
        DWORD filled = 0;
        const COORD at{to_short(left), to_short(row)};
        FillConsoleOutputAttribute(output, attribute, static_cast<DWORD>(count), at, &filled);
        FillConsoleOutputCharacterA(output, kBlank, static_cast<DWORD>(count), at, &filled);
    }
    set_cursor(output, top, left, kKeepVisibility);
}

void console_clear(std::int32_t mode) {
    ensure_console_handle();
    if (console_hooks.clear != nullptr)
        console_hooks.clear(mode);
    else
        console_clear_default(mode);
    console_handle().line_length = 0;
}

void console_clear_default(std::int32_t mode) {
    if (!has_console_window() || mode == kClearNothing) return;
    const WindowRect w = window_info();
    if (mode == kClearView || mode == kClearDefault) {
        std::int32_t view_top = 0;
        std::int32_t view_bottom = 0;
        view_rows(&view_top, &view_bottom);
        window_to_buffer(nullptr, &view_top, nullptr, &view_bottom);
        blank_rect(std_output_handle(), w.left, view_top, w.right, view_bottom);
    } else {
        blank_rect(std_output_handle(), w.left, w.top, w.right, w.bottom);
    }
}

void advance_position(std::int32_t* column, std::int32_t* row, std::int32_t delta, std::int32_t width) {
    // No row has room for a character: nothing to move across.
    if (column == nullptr || row == nullptr || width < 1) return;
    const std::int64_t position = static_cast<std::int64_t>(*column) - 1 + delta;
    std::int64_t rows = position / width;
    std::int64_t within = position % width;
    if (within < 0) {
        within += width;
        --rows;
    }
    *row = static_cast<std::int32_t>(*row + rows);
    *column = static_cast<std::int32_t>(within + 1);
}

void move_cursor_by(std::int32_t* column, std::int32_t* row, std::int32_t delta, std::int32_t width,
                    std::int32_t bottom) {
    advance_position(column, row, delta, width);
    if (column == nullptr || row == nullptr) return;
    if (*column == 1 && *row == bottom + 1) {
        locate(bottom, width, kKeepVisibility);
        console_print(kLineEnd.data(), static_cast<std::int32_t>(kLineEnd.size()), 0);
    } else {
        locate(*row, *column, kKeepVisibility);
    }
}

}  // namespace rt
