// The console's screen drawn on a VT/xterm terminal: frames in, the bytes that
// make the terminal show them out. No I/O: the caller writes the bytes.
//
// The renderer remembers what the terminal shows (cells, colours in effect,
// where its cursor really is, whether a wrap is pending after the last column)
// and sends only what differs, so that typing a character at the end of a line
// costs one byte.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/console_model.h"

namespace platform {

// What the terminal should show now: the console window's rows.
struct Frame {
    int cols = 0;
    int rows = 0;
    // rows * cols, row-major. Only the colour byte of an attribute is drawn
    // (bits above it are not shown on a terminal).
    std::span<const ConsoleCell> cells;
    // Relative to the frame; a cursor outside it cannot be shown.
    int cursor_x = 0;
    int cursor_y = 0;
    bool cursor_visible = true;
    // The rows that may differ from the last frame drawn, [changed_from,
    // changed_to): the others are taken as shown and not compared, so that a
    // typed key costs a row, not the screen. Every row unless told.
    int changed_from = 0;
    int changed_to = std::numeric_limits<int>::max();
};

// Gives back what drawing changes in a terminal's state: colours to the
// default and the cursor visible. Plain bytes, so it can be written from a
// signal handler.
inline constexpr std::string_view kTerminalRestore = "\x1b[0m\x1b[?25h";

// Appends the sequence that puts the terminal's cursor on column x, row y
// (0-based), in its shortest absolute form.
void append_cursor_position(std::string& out, int x, int y);

class TerminalRenderer {
  public:
    // A terminal of this size whose contents and state are unknown: the first
    // draw redraws everything.
    TerminalRenderer(int cols, int rows);

    // Appends what makes the terminal show `frame`. A frame of another size
    // than the terminal is drawn from the top left, clipped or padded with
    // blanks.
    void draw(const Frame& frame);
    // Appends a scroll of the whole screen by `rows` lines, so that the lines
    // leaving the top go into the terminal's scrollback; the lines coming in
    // at the bottom are blank. Nothing while the screen is unknown (the next
    // draw redraws it all anyway).
    void scroll_up(int rows);
    void bell();
    // Appends what leaves the terminal's cursor where the last frame showed
    // it, on a line of its own for what others write next: moved on to the
    // next line unless it stands at the start of an empty row. Nothing when
    // that cursor lay outside the frame. What the terminal shows is unknown
    // afterwards.
    void end_at_cursor();
    // After a change of the terminal's size, or when something else may have
    // written to it (a suspend and resume): the next draw redraws everything.
    void reset(int cols, int rows);
    // Everything appended since the last take, to be sent in one write.
    std::string take_output();
    // The same appended to `out`; the renderer keeps its buffer for the next
    // frame.
    void take_output(std::string& out);

  private:
    struct TermCursor {
        int x = 0;
        int y = 0;
        // Written in the last column: the terminal wraps before the next
        // character, so that character would land on the next row (and on
        // the bottom row scroll the screen).
        bool wrap_pending = false;
    };

    ConsoleCell& shown(int x, int y);
    void redraw_all();
    // Cells of a row moved right or left by a few columns from some column
    // on (a character inserted or deleted in the middle of a line) are moved
    // on the terminal too, with one sequence, instead of all being rewritten.
    void shift_row(const Frame& frame, int y);
    void draw_row(const Frame& frame, int y);
    void put(int x, int y, ConsoleCell cell);
    void set_pen(std::uint8_t attr);
    std::string move_sequence(int x, int y) const;
    void move_for_write(int x, int y);

    int cols_;
    int rows_;
    // False until the first draw after construction or reset; while false,
    // nothing below says anything about the terminal.
    bool known_ = false;
    // The terminal's rows moved since the last frame (a scroll): the next
    // draw compares every row, whatever the frame says changed.
    bool rows_moved_ = false;
    std::vector<ConsoleCell> shown_;
    TermCursor at_;
    std::uint8_t pen_ = 7;
    bool cursor_shown_ = false;
    // The last frame's cursor, when it lay inside the frame.
    std::optional<TermCursor> frame_cursor_;
    std::string out_;
};

}  // namespace platform
