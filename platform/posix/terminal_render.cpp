#include "platform/posix/terminal_render.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <utility>

#include "platform/posix/cp437.h"

namespace platform {
namespace {

constexpr std::uint8_t kDefaultAttr = 7;
constexpr ConsoleCell kBlank{' ', kDefaultAttr};

constexpr std::string_view kCsi = "\x1b[";
constexpr std::string_view kHideCursor = "\x1b[?25l";
constexpr std::string_view kShowCursor = "\x1b[?25h";
constexpr std::string_view kEraseToEndOfLine = "\x1b[K";
// Insert and delete characters (CSI n @, CSI n P): the rest of the row moves
// right or left by n cells; deleting brings in blanks at the row's end.
constexpr char kInsertCharacters = '@';
constexpr char kDeleteCharacters = 'P';
// The widest shift looked for: a tab inserts up to 8 blanks.
constexpr int kMostShifted = 8;

void append_number(std::string& out, int n) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

// CSI n <final>, with n left out where 1 is the default.
void append_csi(std::string& out, int n, char final_byte) {
    out += kCsi;
    if (n != 1) append_number(out, n);
    out += final_byte;
}

// Console colour bits are blue 1, green 2, red 4; ANSI numbers red 1, green 2,
// blue 4. Intensity (8) selects the bright range.
int ansi_colour(int console_colour, int normal_base, int bright_base) {
    const int rgb = ((console_colour & 1) << 2) | (console_colour & 2) | ((console_colour & 4) >> 2);
    return ((console_colour & 8) != 0 ? bright_base : normal_base) + rgb;
}
int sgr_foreground(std::uint8_t attr) { return ansi_colour(attr & 0x0F, 30, 90); }
int sgr_background(std::uint8_t attr) { return ansi_colour(attr >> 4, 40, 100); }

// The cell as the terminal can show it: byte 0 has the blank's glyph, and
// only the colour byte of the attribute is drawn.
ConsoleCell shown_form(ConsoleCell cell) {
    return {cell.ch == 0 ? std::uint8_t{' '} : cell.ch, static_cast<WORD>(cell.attr & 0xFF)};
}

ConsoleCell frame_cell(const Frame& frame, int x, int y) {
    if (x >= frame.cols || y >= frame.rows) return kBlank;
    const std::size_t index = static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.cols) + x;
    return index < frame.cells.size() ? shown_form(frame.cells[index]) : kBlank;
}

}  // namespace

void append_cursor_position(std::string& out, int x, int y) {
    out += kCsi;
    if (x != 0 || y != 0) append_number(out, y + 1);
    if (x != 0) {
        out += ';';
        append_number(out, x + 1);
    }
    out += 'H';
}

TerminalRenderer::TerminalRenderer(int cols, int rows) : cols_(0), rows_(0) { reset(cols, rows); }

void TerminalRenderer::reset(int cols, int rows) {
    cols_ = std::max(cols, 1);
    rows_ = std::max(rows, 1);
    known_ = false;
    shown_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_), kBlank);
}

std::string TerminalRenderer::take_output() { return std::exchange(out_, {}); }

void TerminalRenderer::take_output(std::string& out) {
    out += out_;
    out_.clear();
}

void TerminalRenderer::bell() { out_ += '\a'; }

ConsoleCell& TerminalRenderer::shown(int x, int y) {
    return shown_[static_cast<std::size_t>(y) * static_cast<std::size_t>(cols_) + x];
}

void TerminalRenderer::redraw_all() {
    // Default colours first, so that the erased screen has the default
    // background.
    out_ += "\x1b[0m\x1b[H\x1b[2J";
    std::fill(shown_.begin(), shown_.end(), kBlank);
    pen_ = kDefaultAttr;
    at_ = {};
    known_ = true;
}

void TerminalRenderer::draw(const Frame& frame) {
    const bool full = !known_;
    if (full) redraw_all();

    // Padding beyond a smaller frame is not part of the window: a cursor there
    // lies outside it as much as one beyond the terminal's edge.
    const bool cursor_inside = frame.cursor_x >= 0 && frame.cursor_x < std::min(frame.cols, cols_) &&
                               frame.cursor_y >= 0 && frame.cursor_y < std::min(frame.rows, rows_);
    const bool show_cursor = frame.cursor_visible && cursor_inside;
    // Hidden before drawing, shown after it: the cursor is never seen moving
    // over the cells being drawn.
    if (!show_cursor && (full || cursor_shown_)) {
        out_ += kHideCursor;
        cursor_shown_ = false;
    }

    const bool every_row = std::exchange(rows_moved_, false) || full;
    const int first_row = every_row ? 0 : std::clamp(frame.changed_from, 0, rows_);
    const int end_row = every_row ? rows_ : std::clamp(frame.changed_to, first_row, rows_);
    for (int y = first_row; y < end_row; ++y)
        draw_row(frame, y);

    frame_cursor_.reset();
    if (cursor_inside) {
        frame_cursor_ = TermCursor{frame.cursor_x, frame.cursor_y, false};
        // A wrap pending after the last column leaves the cursor shown in
        // that column, so it is already where it should be.
        if (at_.x != frame.cursor_x || at_.y != frame.cursor_y) {
            out_ += move_sequence(frame.cursor_x, frame.cursor_y);
            at_ = {frame.cursor_x, frame.cursor_y, false};
        }
    }
    if (show_cursor && (full || !cursor_shown_)) {
        out_ += kShowCursor;
        cursor_shown_ = true;
    }
}

void TerminalRenderer::shift_row(const Frame& frame, int y) {
    int first = 0;
    while (first < cols_ && frame_cell(frame, first, y) == shown(first, y))
        ++first;
    int differing = 0;
    int last_text = -1;  // the last column that is not blank in the frame
    for (int x = first; x < cols_; ++x) {
        differing += frame_cell(frame, x, y) != shown(x, y) ? 1 : 0;
        if (frame_cell(frame, x, y) != kBlank) last_text = x;
    }
    // Only a tail of text is worth moving; blanks are cheaper to erase.
    for (int n = 1; n <= kMostShifted && first + n <= last_text; ++n) {
        // Inserting costs the sequence and the n new cells; deleting only the
        // sequence. Rewriting costs a byte per differing cell at least, and
        // the cursor's way back.
        const bool inserted = differing > n + 1 && [&] {
            for (int x = first + n; x < cols_; ++x) {
                if (frame_cell(frame, x, y) != shown(x - n, y)) return false;
            }
            return true;
        }();
        const bool deleted = !inserted && differing > 3 && [&] {
            for (int x = first; x < cols_ - n; ++x) {
                if (frame_cell(frame, x, y) != shown(x + n, y)) return false;
            }
            return true;
        }();
        if (!inserted && !deleted) continue;
        move_for_write(first, y);
        // The cells brought in take the background in effect.
        set_pen(kDefaultAttr);
        append_csi(out_, n, inserted ? kInsertCharacters : kDeleteCharacters);
        const auto row = std::span(shown_).subspan(static_cast<std::size_t>(y) * static_cast<std::size_t>(cols_),
                                                   static_cast<std::size_t>(cols_));
        if (inserted) {
            std::shift_right(row.begin() + first, row.end(), n);
            std::fill_n(row.begin() + first, n, kBlank);
        } else {
            std::shift_left(row.begin() + first, row.end(), n);
            std::fill(row.end() - n, row.end(), kBlank);
        }
        return;
    }
}

void TerminalRenderer::draw_row(const Frame& frame, int y) {
    shift_row(frame, y);
    // A run of blanks to the end of the row that differs from what is shown
    // is cheaper to erase than to write, and erasing never wraps.
    int blank_from = cols_;
    while (blank_from > 0 && frame_cell(frame, blank_from - 1, y) == kBlank)
        --blank_from;
    int erase_from = -1;
    int erase_last = -1;
    for (int x = blank_from; x < cols_; ++x) {
        if (shown(x, y) == kBlank) continue;
        if (erase_from < 0) erase_from = x;
        erase_last = x;
    }
    const bool erase = erase_from >= 0 && erase_last - erase_from + 1 > static_cast<int>(kEraseToEndOfLine.size());

    const int write_end = erase ? erase_from : cols_;
    for (int x = 0; x < write_end; ++x) {
        const ConsoleCell want = frame_cell(frame, x, y);
        if (want != shown(x, y)) put(x, y, want);
    }
    if (erase) {
        move_for_write(erase_from, y);
        set_pen(kDefaultAttr);
        out_ += kEraseToEndOfLine;
        std::fill_n(&shown(erase_from, y), cols_ - erase_from, kBlank);
    }
}

void TerminalRenderer::put(int x, int y, ConsoleCell cell) {
    move_for_write(x, y);
    set_pen(static_cast<std::uint8_t>(cell.attr));
    out_ += cp437_utf8(cell.ch);
    shown(x, y) = cell;
    at_ = x + 1 < cols_ ? TermCursor{x + 1, y, false} : TermCursor{x, y, true};
}

void TerminalRenderer::set_pen(std::uint8_t attr) {
    if (attr == pen_) return;
    out_ += kCsi;
    if (attr == kDefaultAttr) {
        out_ += '0';
    } else if (pen_ == kDefaultAttr) {
        // The terminal's default colours are not colours 7 and 0: both are set.
        append_number(out_, sgr_foreground(attr));
        out_ += ';';
        append_number(out_, sgr_background(attr));
    } else {
        const bool fg = (attr & 0x0F) != (pen_ & 0x0F);
        const bool bg = (attr & 0xF0) != (pen_ & 0xF0);
        if (fg) append_number(out_, sgr_foreground(attr));
        if (fg && bg) out_ += ';';
        if (bg) append_number(out_, sgr_background(attr));
    }
    out_ += 'm';
    pen_ = attr;
}

// The shortest way from where the terminal's cursor is to (x, y). From a
// pending wrap only absolute moves and line starts are used: terminals differ
// in what relative moves do from that state, and some keep the wrap pending
// through a carriage return that does not move the cursor (one column).
std::string TerminalRenderer::move_sequence(int x, int y) const {
    std::string best;
    append_cursor_position(best, x, y);

    auto consider = [&best](std::string candidate) {
        if (candidate.size() < best.size()) best = std::move(candidate);
    };
    auto csi = [](int n, char final_byte) {
        std::string s;
        append_csi(s, n, final_byte);
        return s;
    };
    const bool relative = !at_.wrap_pending;
    if (y == at_.y) {
        if (x == 0 && at_.x != 0) consider("\r");
        if (relative && x > at_.x) consider(csi(x - at_.x, 'C'));
        if (relative && x < at_.x) {
            consider(std::string(static_cast<std::size_t>(at_.x - x), '\b'));
            consider(csi(at_.x - x, 'D'));
        }
    } else if (x == 0 && y == at_.y + 1) {
        consider("\r\n");
    } else if (relative && x == at_.x) {
        consider(y < at_.y ? csi(at_.y - y, 'A') : csi(y - at_.y, 'B'));
    }
    return best;
}

void TerminalRenderer::move_for_write(int x, int y) {
    if (at_.x == x && at_.y == y && !at_.wrap_pending) return;
    out_ += move_sequence(x, y);
    at_ = {x, y, false};
}

void TerminalRenderer::end_at_cursor() {
    if (!known_ || !frame_cursor_) return;
    const TermCursor cursor = *frame_cursor_;
    append_cursor_position(out_, cursor.x, cursor.y);
    const auto row = std::span(shown_).subspan(static_cast<std::size_t>(cursor.y) * static_cast<std::size_t>(cols_),
                                               static_cast<std::size_t>(cols_));
    const bool empty_row = std::all_of(row.begin(), row.end(), [](ConsoleCell c) { return c == kBlank; });
    if (cursor.x != 0 || !empty_row) out_ += "\r\n";
    known_ = false;
}

void TerminalRenderer::scroll_up(int rows) {
    if (!known_ || rows <= 0) return;
    const int n = std::min(rows, rows_);
    // Lines scrolled in take the background in effect.
    set_pen(kDefaultAttr);
    move_for_write(0, rows_ - 1);
    out_.append(static_cast<std::size_t>(n), '\n');
    const auto moved = static_cast<std::ptrdiff_t>(n) * cols_;
    std::move(shown_.begin() + moved, shown_.end(), shown_.begin());
    std::fill(shown_.end() - moved, shown_.end(), kBlank);
    rows_moved_ = true;
}

}  // namespace platform
