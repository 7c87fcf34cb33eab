#include "platform/posix/console_model.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace platform {
namespace {

constexpr int kMaxDimension = std::numeric_limits<SHORT>::max();
constexpr DWORD kProcessedOutput = 0x1;
constexpr DWORD kWrapAtEndOfLine = 0x2;
constexpr int kTabWidth = 8;

SHORT to_short(int v) { return static_cast<SHORT>(v); }

bool is_empty(const SMALL_RECT& r) { return r.Right < r.Left || r.Bottom < r.Top; }

bool inside(const SMALL_RECT& r, int x, int y) { return x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom; }

SMALL_RECT intersect(const SMALL_RECT& a, const SMALL_RECT& b) {
    return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

bool same(const SMALL_RECT& a, const SMALL_RECT& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

int clamp_dimension(int v) { return std::clamp(v, 1, kMaxDimension); }

// One axis of the window after the buffer's extent along it went from `old_size`
// to `new_size`.
void refit_axis(SHORT& low, SHORT& high, int old_size, int new_size) {
    if (low == 0 && high == old_size - 1) {
        high = to_short(new_size - 1);
        return;
    }
    const int extent = std::min(high - low + 1, new_size);
    const int start = std::min<int>(low, new_size - extent);
    low = to_short(start);
    high = to_short(start + extent - 1);
}

}  // namespace

bool ConsoleChanges::any_row() const { return std::find(rows.begin(), rows.end(), true) != rows.end(); }

ConsoleModel::ConsoleModel(int cols, int rows)
    : ConsoleModel(COORD{to_short(clamp_dimension(cols)), to_short(clamp_dimension(rows))},
                   SMALL_RECT{0, 0, to_short(clamp_dimension(cols) - 1), to_short(clamp_dimension(rows) - 1)}) {}

ConsoleModel::ConsoleModel(COORD size, SMALL_RECT window)
    : cols_(clamp_dimension(size.X)), rows_(clamp_dimension(size.Y)), cells_(static_cast<std::size_t>(cols_) * rows_) {
    window = intersect(window, buffer_rect());
    if (window.Right < window.Left) {
        window.Left = 0;
        window.Right = to_short(cols_ - 1);
    }
    if (window.Bottom < window.Top) {
        window.Top = 0;
        window.Bottom = to_short(rows_ - 1);
    }
    window_ = window;
    mark_everything();
}

SMALL_RECT ConsoleModel::buffer_rect() const { return {0, 0, to_short(cols_ - 1), to_short(rows_ - 1)}; }

CONSOLE_SCREEN_BUFFER_INFO ConsoleModel::screen_buffer_info() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    info.dwSize = {to_short(cols_), to_short(rows_)};
    info.dwCursorPosition = cursor_;
    info.wAttributes = attributes_;
    info.srWindow = window_;
    info.dwMaximumWindowSize = info.dwSize;
    return info;
}

const ConsoleCell& ConsoleModel::cell(int x, int y) const {
    if (x < 0 || y < 0 || x >= cols_ || y >= rows_) {
        throw std::out_of_range("console cell outside the buffer");
    }
    return cells_[static_cast<std::size_t>(y) * cols_ + x];
}

std::span<const ConsoleCell> ConsoleModel::row(int y) const {
    if (y < 0 || y >= rows_) throw std::out_of_range("console row outside the buffer");
    return std::span<const ConsoleCell>(cells_).subspan(static_cast<std::size_t>(y) * cols_, cols_);
}

void ConsoleModel::mark_all_rows() {
    changes_.rows.assign(rows_, true);
    changed_ = true;
}

void ConsoleModel::mark_everything() {
    mark_all_rows();
    changes_.cursor = changes_.window = changes_.resized = true;
    // Rows of another width cannot go into the scrollback of this one.
    changes_.scrolled_off.clear();
}

void ConsoleModel::set_window_rect(SMALL_RECT window) {
    if (same(window, window_)) return;
    window_ = window;
    changes_.window = true;
    changed_ = true;
}

void ConsoleModel::bring_cursor_into_view() {
    SMALL_RECT w = window_;
    int dx = 0;
    int dy = 0;
    if (cursor_.X < w.Left) dx = cursor_.X - w.Left;
    if (cursor_.X > w.Right) dx = cursor_.X - w.Right;
    if (cursor_.Y < w.Top) dy = cursor_.Y - w.Top;
    if (cursor_.Y > w.Bottom) dy = cursor_.Y - w.Bottom;
    w.Left = to_short(w.Left + dx);
    w.Right = to_short(w.Right + dx);
    w.Top = to_short(w.Top + dy);
    w.Bottom = to_short(w.Bottom + dy);
    set_window_rect(w);
}

bool ConsoleModel::set_cursor_position(COORD position) {
    if (!contains(position)) return false;
    if (position.X != cursor_.X || position.Y != cursor_.Y) mark_cursor();
    cursor_ = position;
    bring_cursor_into_view();
    return true;
}

bool ConsoleModel::set_cursor_info(const CONSOLE_CURSOR_INFO& info) {
    if (info.dwSize < 1 || info.dwSize > 100) return false;
    const CONSOLE_CURSOR_INFO next{info.dwSize, info.bVisible ? TRUE : FALSE};
    if (next.dwSize != cursor_info_.dwSize || next.bVisible != cursor_info_.bVisible) mark_cursor();
    cursor_info_ = next;
    return true;
}

bool ConsoleModel::set_window(bool absolute, SMALL_RECT window) {
    SMALL_RECT next = window;
    if (!absolute) {
        const int left = window_.Left + window.Left;
        const int top = window_.Top + window.Top;
        const int right = window_.Right + window.Right;
        const int bottom = window_.Bottom + window.Bottom;
        if (left < 0 || top < 0 || right >= cols_ || bottom >= rows_) return false;
        next = {to_short(left), to_short(top), to_short(right), to_short(bottom)};
    }
    if (is_empty(next) || !same(intersect(next, buffer_rect()), next)) return false;
    set_window_rect(next);
    return true;
}

bool ConsoleModel::write_cells(std::span<const CHAR_INFO> source, COORD source_size, COORD source_origin,
                               SMALL_RECT& region) {
    if (source_size.X <= 0 || source_size.Y <= 0 || source_origin.X < 0 || source_origin.Y < 0 ||
        source_origin.X >= source_size.X || source_origin.Y >= source_size.Y ||
        source.size() < static_cast<std::size_t>(source_size.X) * static_cast<std::size_t>(source_size.Y)) {
        return false;
    }
    // The source grid holds this many columns and rows from the origin on.
    const int source_cols = source_size.X - source_origin.X;
    const int source_rows = source_size.Y - source_origin.Y;
    const int left = std::max<int>(region.Left, 0);
    const int top = std::max<int>(region.Top, 0);
    const int right = std::min({static_cast<int>(region.Right), cols_ - 1, region.Left + source_cols - 1});
    const int bottom = std::min({static_cast<int>(region.Bottom), rows_ - 1, region.Top + source_rows - 1});
    for (int y = top; y <= bottom; ++y) {
        const int sy = source_origin.Y + (y - region.Top);
        for (int x = left; x <= right; ++x) {
            const int sx = source_origin.X + (x - region.Left);
            const CHAR_INFO& in = source[static_cast<std::size_t>(sy) * source_size.X + sx];
            at(x, y) = {static_cast<std::uint8_t>(in.Char.AsciiChar), in.Attributes};
        }
        if (left <= right) mark_row(y);
    }
    region = {to_short(left), to_short(top), to_short(right), to_short(bottom)};
    return true;
}

bool ConsoleModel::scroll(const SMALL_RECT& scroll_rect, const SMALL_RECT* clip, COORD destination, ConsoleCell fill) {
    const SMALL_RECT buffer = buffer_rect();
    const SMALL_RECT source = intersect(scroll_rect, buffer);
    const SMALL_RECT limit = clip != nullptr ? intersect(*clip, buffer) : buffer;
    if (is_empty(source) || is_empty(limit)) return false;
    // The offset is that of the rectangle as given: clipping its edges does
    // not move where the remaining cells go.
    const int dx = destination.X - scroll_rect.Left;
    const int dy = destination.Y - scroll_rect.Top;

    const bool whole_buffer_up = same(limit, buffer) && dx == 0 && dy < 0 && source.Left == 0 &&
                                 source.Right == cols_ - 1 && source.Top == -dy && source.Bottom == rows_ - 1;
    if (whole_buffer_up) {
        scroll_buffer_up(-dy, fill);
        return true;
    }

    // A cell is overwritten by the move when the cell it comes from is in the source.
    auto overwritten = [&](int x, int y) { return inside(source, x - dx, y - dy); };
    std::vector<ConsoleCell> saved;
    saved.reserve(static_cast<std::size_t>(source.Right - source.Left + 1) * (source.Bottom - source.Top + 1));
    for (int y = source.Top; y <= source.Bottom; ++y) {
        for (int x = source.Left; x <= source.Right; ++x)
            saved.push_back(at(x, y));
    }
    for (int y = source.Top; y <= source.Bottom; ++y) {
        for (int x = source.Left; x <= source.Right; ++x) {
            if (inside(limit, x, y) && !overwritten(x, y)) {
                at(x, y) = fill;
                mark_row(y);
            }
        }
    }
    auto from = saved.begin();
    for (int y = source.Top; y <= source.Bottom; ++y) {
        for (int x = source.Left; x <= source.Right; ++x, ++from) {
            const int tx = x + dx;
            const int ty = y + dy;
            if (inside(limit, tx, ty)) {
                at(tx, ty) = *from;
                mark_row(ty);
            }
        }
    }
    return true;
}

void ConsoleModel::scroll_buffer_up(int n, ConsoleCell fill) {
    const auto shift = static_cast<std::ptrdiff_t>(n) * cols_;
    if (window_.Left == 0 && window_.Top == 0 && window_.Right == cols_ - 1 && window_.Bottom == rows_ - 1) {
        std::vector<ConsoleCell>& off = changes_.scrolled_off;
        off.insert(off.end(), cells_.begin(), cells_.begin() + shift);
        const std::size_t limit = kScrolledOffLimit * static_cast<std::size_t>(cols_);
        if (off.size() > limit) off.erase(off.begin(), off.end() - static_cast<std::ptrdiff_t>(limit));
    }
    std::move(cells_.begin() + shift, cells_.end(), cells_.begin());
    std::fill(cells_.end() - shift, cells_.end(), fill);
    mark_all_rows();
}

template <typename Apply>
bool ConsoleModel::fill(DWORD length, COORD start, DWORD& filled, Apply apply) {
    filled = 0;
    if (!contains(start)) return false;
    const std::size_t first = static_cast<std::size_t>(start.Y) * cols_ + start.X;
    const std::size_t count = std::min<std::size_t>(length, cells_.size() - first);
    for (std::size_t i = first; i < first + count; ++i)
        apply(cells_[i]);
    if (count > 0) {
        for (std::size_t y = first / cols_; y <= (first + count - 1) / cols_; ++y)
            mark_row(static_cast<int>(y));
    }
    filled = static_cast<DWORD>(count);
    return true;
}

bool ConsoleModel::fill_attribute(WORD attribute, DWORD length, COORD start, DWORD& filled) {
    return fill(length, start, filled, [attribute](ConsoleCell& c) { c.attr = attribute; });
}

bool ConsoleModel::fill_character(std::uint8_t ch, DWORD length, COORD start, DWORD& filled) {
    return fill(length, start, filled, [ch](ConsoleCell& c) { c.ch = ch; });
}

void ConsoleModel::text_line_feed() {
    cursor_.X = 0;
    if (cursor_.Y + 1 < rows_) {
        cursor_.Y = to_short(cursor_.Y + 1);
    } else if (rows_ > 1) {
        scroll_buffer_up(1, {' ', attributes_});
    } else {
        // A single row has nothing to move: it is blanked.
        std::fill(cells_.begin(), cells_.end(), ConsoleCell{' ', attributes_});
        mark_row(0);
    }
}

void ConsoleModel::write_text(std::span<const std::byte> bytes) {
    const bool processed = (output_mode_ & kProcessedOutput) != 0;
    const bool wrap = (output_mode_ & kWrapAtEndOfLine) != 0;
    const COORD before = cursor_;
    auto put = [&](std::uint8_t ch) {
        at(cursor_.X, cursor_.Y) = {ch, attributes_};
        mark_row(cursor_.Y);
        if (cursor_.X + 1 < cols_) {
            cursor_.X = to_short(cursor_.X + 1);
        } else if (wrap) {
            text_line_feed();
        }
    };
    for (const std::byte b : bytes) {
        const auto ch = static_cast<std::uint8_t>(b);
        if (!processed) {
            put(ch);
            continue;
        }
        switch (ch) {
            case '\r':
                cursor_.X = 0;
                break;
            case '\n':
                text_line_feed();
                break;
            case '\b':
                if (cursor_.X > 0) cursor_.X = to_short(cursor_.X - 1);
                break;
            case '\a':
                break;
            case '\t':
                for (int n = std::min(kTabWidth - cursor_.X % kTabWidth, cols_ - cursor_.X); n > 0; --n)
                    put(' ');
                break;
            default:
                put(ch);
                break;
        }
    }
    if (cursor_.X != before.X || cursor_.Y != before.Y) mark_cursor();
    bring_cursor_into_view();
}

void ConsoleModel::resize(int cols, int rows) {
    cols = clamp_dimension(cols);
    rows = clamp_dimension(rows);
    if (cols == cols_ && rows == rows_) return;
    // A terminal that loses rows below the cursor takes them from the top, as
    // the terminal itself does: the line being written and the lines above it
    // stay, and the program goes on printing where the user sees it.
    const int dropped = std::max(0, cursor_.Y - (rows - 1));
    std::vector<ConsoleCell> next(static_cast<std::size_t>(cols) * rows);
    for (int y = 0; y < std::min(rows, rows_ - dropped); ++y) {
        for (int x = 0; x < std::min(cols, cols_); ++x)
            next[static_cast<std::size_t>(y) * cols + x] = at(x, y + dropped);
    }
    SMALL_RECT w = window_;
    refit_axis(w.Left, w.Right, cols_, cols);
    refit_axis(w.Top, w.Bottom, rows_, rows);
    cells_ = std::move(next);
    cols_ = cols;
    rows_ = rows;
    window_ = w;
    cursor_ = {to_short(std::min<int>(cursor_.X, cols - 1)), to_short(cursor_.Y - dropped)};
    mark_everything();
}

// Programs peek for one record at a time, mostly at an empty queue: records
// are copied one by one, without counting the queue's segments first.
std::size_t ConsoleModel::peek_input(std::span<INPUT_RECORD> out) const {
    std::size_t n = 0;
    for (auto record = input_.begin(); n < out.size() && record != input_.end(); ++record)
        out[n++] = *record;
    return n;
}

std::size_t ConsoleModel::read_input(std::span<INPUT_RECORD> out) {
    std::size_t n = 0;
    for (; n < out.size() && !input_.empty(); input_.pop_front())
        out[n++] = input_.front();
    return n;
}

ConsoleChanges ConsoleModel::take_changes() {
    ConsoleChanges taken;
    take_changes(taken);
    return taken;
}

void ConsoleModel::take_changes(ConsoleChanges& taken) {
    std::swap(taken, changes_);
    changes_.rows.assign(rows_, false);
    changes_.cursor = changes_.window = changes_.resized = false;
    changes_.scrolled_off.clear();
    changed_ = false;
}

}  // namespace platform
