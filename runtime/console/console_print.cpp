#include "runtime/console/console_print.h"

#include <algorithm>
#include <array>

#include "runtime/console/geometry.h"
#include "runtime/core/beep_sleep.h"
#include "runtime/core/characters.h"
#include "runtime/core/console_hooks.h"
#include "runtime/core/startup.h"

namespace rt {
namespace {

constexpr std::int32_t kTabStop = 8;
constexpr std::string_view kTabBlanks = "        ";
static_assert(kTabBlanks.size() == kTabStop);

bool g_pending_line_feed = false;

// Redirected output: the bytes as they are. A call that fails, or that takes
// nothing, ends the write and the rest is dropped.
void write_unchanged(HANDLE output, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0)
            return;
        bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
    }
}

void blank_rows(const TtyView& view, std::int32_t first, std::int32_t last) {
    const DWORD count = static_cast<DWORD>(view.right - view.left + 1);
    for (std::int32_t row = first; row <= last; ++row) {
        DWORD filled = 0;
        const COORD at{to_short(view.left), to_short(row)};
        FillConsoleOutputAttribute(view.info->output, view.info->attribute, count, at, &filled);
        FillConsoleOutputCharacterA(view.info->output, kBlank, count, at, &filled);
    }
}

// Moves `source` up to `destination_top`, blanking every row it vacates that
// the move itself does not fill; the whole band instead when the move would
// take every row of it.
void move_rows_up(const TtyView& view, SMALL_RECT source, std::int32_t destination_top, std::int32_t rows) {
    const std::int32_t band = source.Bottom - destination_top + 1;
    if (band <= rows) {
        blank_rows(view, view.top, view.bottom);
        return;
    }
    const CHAR_INFO fill{{.AsciiChar = kBlank}, view.info->attribute};
    ScrollConsoleScreenBufferA(view.info->output, &source, nullptr, COORD{source.Left, to_short(destination_top)},
                               &fill);
    const std::int32_t moved = source.Bottom - source.Top + 1;
    if (moved < rows) blank_rows(view, destination_top + moved, source.Bottom);
}

// The screen's part of a console print: the bytes go through the TTY printer
// into the cells of the view.
void print_on_screen(HANDLE output, std::string_view text) {
    // The view is placed over the window as the console reports it now, not as
    // last cached: a window that changed size since the last print (a terminal
    // that shrank) must not be printed into where it no longer is.
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    const bool known = GetConsoleScreenBufferInfo(output, &buffer) != FALSE;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (known) {
        top = buffer.srWindow.Top;
        width = buffer.dwSize.X;
        height = buffer.srWindow.Bottom - buffer.srWindow.Top + 1;
    } else {
        window_rect(&left, &top, &width, &height);
    }
    std::int32_t view_top = 0;
    std::int32_t view_bottom = 0;
    view_rows_for(height, &view_top, &view_bottom);

    ConsoleWindowInfo info{kFallbackWidth, kFallbackHeight, kFallbackAttribute, output,
                           !(view_top == 1 && view_bottom == height)};
    TtyView view{&info,
                 console_scroll_view,
                 console_write_cells,
                 left,
                 top + view_top - 1,
                 left + width - 1,
                 top + view_bottom - 1,
                 left,
                 top + view_top - 1};
    if (known) {
        info.buffer_width = buffer.dwSize.X;
        info.buffer_height = buffer.dwSize.Y;
        info.attribute = buffer.wAttributes;
        view.cursor_x = buffer.dwCursorPosition.X;
        view.cursor_y = buffer.dwCursorPosition.Y;
    }

    if (g_pending_line_feed) {
        g_pending_line_feed = false;
        view.cursor_x = view.left;
        ++view.cursor_y;
        if (view.cursor_y > view.bottom) view.scroll_rows(view, view.cursor_y - view.bottom);
    }
    tty_print(view, text, true);
    if (view.cursor_x == view.left && view.cursor_y == view.bottom + 1) {
        // The text filled the bottom row exactly: show the cursor in its last
        // cell and scroll only once something follows.
        g_pending_line_feed = true;
        view.cursor_x = view.right;
        view.cursor_y = view.bottom;
    } else if (view.cursor_y > view.bottom) {
        view.scroll_rows(view, view.cursor_y - view.bottom);
    }
    SetConsoleCursorPosition(output, COORD{to_short(view.cursor_x), to_short(view.cursor_y)});
    if (view.top != top + view_top - 1 && !info.partial_view) {
        const SMALL_RECT shown{to_short(view.left), to_short(view.top), to_short(view.right), to_short(view.bottom)};
        SetConsoleWindowInfo(output, TRUE, &shown);
    }
    window_info_refresh();
}

}  // namespace

bool pending_line_feed() { return g_pending_line_feed; }
void clear_pending_line_feed() { g_pending_line_feed = false; }

void console_print(const char* bytes, std::int32_t count, std::int32_t flags) {
    if (console_hooks.print != nullptr)
        console_hooks.print(bytes, count, flags);
    else
        console_print_default(bytes, count, flags);
}

void console_print_default(const char* bytes, std::int32_t count, std::int32_t flags) {
    if (bytes == nullptr || count < 0) count = 0;
    if ((flags & kConsolePrintStep) == 0 && count == 0) return;
    const std::string_view text(bytes, static_cast<std::size_t>(count));
    const HANDLE output = std_output_handle();
    if (!has_console_window())
        write_unchanged(output, text);
    else
        print_on_screen(output, text);
}

void tty_print(TtyView& view, std::string_view bytes, bool lf_returns) {
    std::array<char, kTtyRunLimit> pending;
    std::size_t pending_length = 0;
    bool moved = false;
    std::int32_t x = view.cursor_x;
    const std::int32_t view_width = view.right - view.left + 1;

    const auto flush = [&] {
        if (pending_length == 0) return;
        tty_write_run(view, {pending.data(), pending_length});
        pending_length = 0;
        moved = false;
    };
    const auto add = [&](std::string_view characters) {
        if (pending_length + characters.size() > pending.size()) flush();
        std::copy(characters.begin(), characters.end(), pending.begin() + static_cast<std::ptrdiff_t>(pending_length));
        pending_length += characters.size();
        x += static_cast<std::int32_t>(characters.size());
        if (x > view.right && view_width > 0) x = view.left + (x - view.left) % view_width;
    };
    const auto move = [&](std::int32_t dx, std::int32_t dy) {
        view.cursor_x += dx;
        view.cursor_y += dy;
        moved = true;
        x = view.cursor_x;
    };

    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char byte = bytes[i];
        switch (byte) {
            case kBell:
                beep();
                continue;
            case kTab:
                add(kTabBlanks.substr(static_cast<std::size_t>((x - view.left) % kTabStop)));
                continue;
            case kBackspace:
            case kLineFeed:
            case kCarriageReturn:
                break;
            default:
                add(bytes.substr(i, 1));
                continue;
        }
        flush();
        // Where the cursor really is: a run that could not be written left it
        // short of where the characters would have taken it.
        x = view.cursor_x;
        if (byte == kBackspace)
            move(x > view.left ? -1 : 0, 0);
        else if (byte == kLineFeed)
            move(lf_returns ? view.left - x : 0, 1);
        else
            move(view.left - x, 0);
    }
    if (pending_length != 0)
        flush();
    else if (moved && view.cursor_y > view.bottom)
        view.scroll_rows(view, view.cursor_y - view.bottom);
}

void tty_write_run(TtyView& view, std::string_view bytes) {
    // A view without columns has nowhere to put a character.
    if (view.right < view.left) return;
    while (!bytes.empty()) {
        // A cursor past the right edge (the buffer narrowed under it) goes on
        // at the start of the next row, as the edge would have taken it.
        if (view.cursor_x > view.right) {
            view.cursor_x = view.left;
            ++view.cursor_y;
        }
        const std::size_t fitting =
            std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(view.right - view.cursor_x + 1));
        if (view.cursor_y > view.bottom) view.scroll_rows(view, view.cursor_y - view.bottom);
        if (!view.write_cells(view, bytes.substr(0, fitting))) return;
        bytes.remove_prefix(fitting);
        view.cursor_x += static_cast<std::int32_t>(fitting);
        if (view.cursor_x == view.right + 1) {
            view.cursor_x = view.left;
            ++view.cursor_y;
        }
    }
}

void console_scroll_view(TtyView& view, std::int32_t rows) {
    ConsoleWindowInfo& info = *view.info;
    if (!info.partial_view) {
        // Spare buffer rows below the window: move the view down over them and
        // keep every earlier line.
        if (view.bottom + 1 < info.buffer_height) {
            const std::int32_t down = std::min(rows, info.buffer_height - view.bottom - 1);
            view.top += down;
            view.bottom += down;
            rows -= down;
            if (rows == 0) return;
        }
        move_rows_up(view,
                     SMALL_RECT{0, to_short(rows), to_short(info.buffer_width - 1), to_short(info.buffer_height - 1)},
                     0, rows);
    } else {
        move_rows_up(
            view,
            SMALL_RECT{to_short(view.left), to_short(view.top + rows), to_short(view.right), to_short(view.bottom)},
            view.top, rows);
    }
    view.cursor_y = view.bottom;
}

bool console_write_cells(TtyView& view, std::string_view bytes) {
    std::array<CHAR_INFO, kTtyRunLimit> cells;
    std::int32_t x = view.cursor_x;
    while (!bytes.empty()) {
        const std::size_t chunk = std::min(bytes.size(), cells.size());
        for (std::size_t i = 0; i < chunk; ++i) {
            cells[i].Char.AsciiChar = bytes[i];
            cells[i].Attributes = view.info->attribute;
        }
        const SHORT last = to_short(x + static_cast<std::int32_t>(chunk) - 1);
        SMALL_RECT region{to_short(x), to_short(view.cursor_y), last, to_short(view.cursor_y)};
        if (!WriteConsoleOutputA(view.info->output, cells.data(), COORD{to_short(static_cast<std::int32_t>(chunk)), 1},
                                 COORD{0, 0}, &region))
            return false;
        bytes.remove_prefix(chunk);
        x += static_cast<std::int32_t>(chunk);
    }
    return true;
}

}  // namespace rt
