// The console itself, without any I/O: a screen buffer of character cells, a
// window over it, one cursor, the input-record queue and the input mode. The
// console functions of console_api.h act on it with the real console's
// behaviour at the edges; a host mirrors it (a terminal, a test) by reading
// what changed since it last looked.
//
// Not thread-safe: it belongs to the thread that runs the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "platform/console_api.h"

namespace platform {

struct ConsoleCell {
    std::uint8_t ch = ' ';
    WORD attr = 7;

    friend bool operator==(const ConsoleCell&, const ConsoleCell&) = default;
};

inline constexpr std::size_t kScrolledOffLimit = 1000;

// What changed since the last take_changes().
struct ConsoleChanges {
    std::vector<bool> rows;  // per buffer row: some cell of it changed
    bool cursor = false;     // position, size or visibility
    bool window = false;     // the window moved or changed size
    bool resized = false;    // the buffer changed size (rows has the new count)
    // The rows that scrolls of the whole buffer moved out at the top while the
    // window showed the whole buffer, oldest first, as they were when they
    // left (a terminal puts them into its scrollback). At most
    // kScrolledOffLimit rows: older ones are forgotten.
    std::vector<ConsoleCell> scrolled_off;

    bool any_row() const;
};

class ConsoleModel {
  public:
    static constexpr WORD kDefaultAttribute = 7;
    static constexpr DWORD kDefaultCursorSize = 25;
    static constexpr DWORD kDefaultInputMode =
        ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT;
    // Processed output and wrap at the end of a line.
    static constexpr DWORD kDefaultOutputMode = 0x3;

    // A buffer of cols x rows (each at least 1) shown whole by the window.
    ConsoleModel(int cols, int rows);
    // A buffer with a window over part of it; the window is clamped into the
    // buffer.
    ConsoleModel(COORD size, SMALL_RECT window);

    // --- State ---------------------------------------------------------------
    int cols() const { return cols_; }
    int rows() const { return rows_; }
    SMALL_RECT window() const { return window_; }
    COORD cursor() const { return cursor_; }
    CONSOLE_CURSOR_INFO cursor_info() const { return cursor_info_; }
    WORD attributes() const { return attributes_; }
    void set_attributes(WORD attributes) { attributes_ = attributes; }
    CONSOLE_SCREEN_BUFFER_INFO screen_buffer_info() const;

    // Throw std::out_of_range outside the buffer.
    const ConsoleCell& cell(int x, int y) const;
    std::span<const ConsoleCell> row(int y) const;
    // All cells, row after row.
    std::span<const ConsoleCell> cells() const { return cells_; }

    DWORD input_mode() const { return input_mode_; }
    void set_input_mode(DWORD mode) { input_mode_ = mode; }
    DWORD output_mode() const { return output_mode_; }
    void set_output_mode(DWORD mode) { output_mode_ = mode; }

    // --- Screen operations, as the console functions behave -----------------
    // Fails outside the buffer. The window moves the least that brings the
    // cursor into view.
    bool set_cursor_position(COORD position);
    // Fails for a size outside 1..100.
    bool set_cursor_info(const CONSOLE_CURSOR_INFO& info);
    // `window` is absolute or relative to the current window (added to its
    // edges). Fails, changing nothing, unless the result is a non-empty
    // rectangle inside the buffer.
    bool set_window(bool absolute, SMALL_RECT window);

    // Copies cells from a source grid of source_size into `region` of the
    // buffer: the cell at source_origin goes to the region's top-left. The
    // region is clipped to the buffer and to what the source holds, and is set
    // to what was written (Right < Left or Bottom < Top when nothing was).
    // Fails for a source origin outside the source grid. The cursor does not
    // move.
    bool write_cells(std::span<const CHAR_INFO> source, COORD source_size, COORD source_origin, SMALL_RECT& region);

    // Moves the scroll rectangle (clipped to the buffer) so that its top-left
    // corner lands on destination, then fills the cells it vacated with
    // `fill`. Only cells inside the clip rectangle (the whole buffer when
    // absent) change. Fails when the scroll rectangle or the clip rectangle
    // lies wholly outside the buffer.
    bool scroll(const SMALL_RECT& scroll_rect, const SMALL_RECT* clip, COORD destination, ConsoleCell fill);

    // Set `length` cells' attribute or character from `start` on, row after
    // row, stopping at the end of the buffer. The count actually filled is
    // returned in `filled`. Fail for a start outside the buffer.
    bool fill_attribute(WORD attribute, DWORD length, COORD start, DWORD& filled);
    bool fill_character(std::uint8_t ch, DWORD length, COORD start, DWORD& filled);

    // Text written to the console as a stream, as the console's own output
    // does with processed output: characters at the cursor with the current
    // attribute, wrapping at the right edge and scrolling the whole buffer
    // below the last row; CR, LF (to the start of the next row), BS (not past
    // the left edge) and TAB (to the next multiple of 8, blanks written) move
    // the cursor; BEL is not shown (the caller rings the bell).
    void write_text(std::span<const std::byte> bytes);

    // A new buffer size after the terminal changed size. The contents are kept
    // from the top left, clipped or padded with blanks of attribute 7, except
    // that rows are dropped from the top as far as needed to keep the cursor's
    // row (and so the text just written) in the buffer. Along
    // each axis a window that showed the whole buffer shows the whole new one;
    // otherwise it keeps its size and place as far as the new buffer allows.
    // The cursor is clamped into the buffer.
    void resize(int cols, int rows);

    // --- Input ---------------------------------------------------------------
    void push_input(const INPUT_RECORD& record) { input_.push_back(record); }
    std::size_t input_count() const { return input_.size(); }
    // Cheaper than counting, for the many looks at an empty queue.
    bool has_input() const { return !input_.empty(); }
    // Copies up to out.size() records from the front of the queue; the count.
    std::size_t peek_input(std::span<INPUT_RECORD> out) const;
    // Removes up to out.size() records from the front of the queue into out.
    std::size_t read_input(std::span<INPUT_RECORD> out);
    void clear_input() { input_.clear(); }

    // --- Mirroring -------------------------------------------------------------
    // What changed since the last call (or since construction: everything).
    ConsoleChanges take_changes();
    // The same into `taken`, whose storage the model keeps for what changes
    // next: a look that finds nothing changed allocates nothing.
    void take_changes(ConsoleChanges& taken);
    // Whether anything changed since the last take_changes(): an idle look
    // needs no more than this.
    bool has_changes() const { return changed_; }

  private:
    bool contains(COORD c) const { return c.X >= 0 && c.Y >= 0 && c.X < cols_ && c.Y < rows_; }
    ConsoleCell& at(int x, int y) { return cells_[static_cast<std::size_t>(y) * cols_ + x]; }
    SMALL_RECT buffer_rect() const;
    void mark_row(int y) {
        changes_.rows[y] = true;
        changed_ = true;
    }
    void mark_cursor() {
        changes_.cursor = true;
        changed_ = true;
    }
    void mark_all_rows();
    // A new buffer: every row, the cursor, the window and the size have changed.
    void mark_everything();
    void set_window_rect(SMALL_RECT window);
    void bring_cursor_into_view();
    // Moves the whole buffer up by n rows (1..rows-1), filling the bottom.
    void scroll_buffer_up(int n, ConsoleCell fill);
    void text_line_feed();
    template <typename Apply>
    bool fill(DWORD length, COORD start, DWORD& filled, Apply apply);

    int cols_;
    int rows_;
    std::vector<ConsoleCell> cells_;
    SMALL_RECT window_{};
    COORD cursor_{0, 0};
    CONSOLE_CURSOR_INFO cursor_info_{kDefaultCursorSize, TRUE};
    WORD attributes_ = kDefaultAttribute;
    DWORD input_mode_ = kDefaultInputMode;
    DWORD output_mode_ = kDefaultOutputMode;
    std::deque<INPUT_RECORD> input_;
    ConsoleChanges changes_;
    bool changed_ = false;  // changes_ holds some change
};

}  // namespace platform
