#include "platform/posix/screen_frames.h"

#include <algorithm>

#include "platform/posix/posix_io.h"

namespace platform {

ScreenFrames::ScreenFrames(int fd, int cols, int rows) : fd_(fd), renderer_(cols, rows) {}

void ScreenFrames::show(ConsoleModel& model) {
    draw(model);
    send();
}

void ScreenFrames::ring(ConsoleModel& model) {
    draw(model);
    renderer_.bell();
    renderer_.take_output(outgoing_);
    send();
}

void ScreenFrames::leave() {
    renderer_.end_at_cursor();
    renderer_.take_output(outgoing_);
    send();
}

void ScreenFrames::reset(int cols, int rows) {
    renderer_.reset(cols, rows);
    redraw_ = true;
}

void ScreenFrames::send() {
    if (outgoing_.empty()) return;
    write_all(fd_, std::as_bytes(std::span(outgoing_.data(), outgoing_.size())));
    outgoing_.clear();
}

void ScreenFrames::draw(ConsoleModel& model) {
    if (!redraw_ && !model.has_changes()) return;
    model.take_changes(changes_);
    const ConsoleChanges& changes = changes_;
    const SMALL_RECT w = model.window();
    const bool whole = w.Left == 0 && w.Top == 0 && w.Right == model.cols() - 1 && w.Bottom == model.rows() - 1;
    if (whole && !changes.scrolled_off.empty()) scroll_out(model, changes.scrolled_off);
    const bool every_row = redraw_ || changes.window || changes.resized || !changes.scrolled_off.empty();
    // The window's rows that changed, as frame rows: only they are compared.
    int changed_from = 0;
    int changed_to = 0;
    if (!every_row) {
        const int top = w.Top;
        const int bottom = std::min<int>(w.Bottom, static_cast<int>(changes.rows.size()) - 1);
        for (int y = top; y <= bottom; ++y) {
            if (!changes.rows[static_cast<std::size_t>(y)]) continue;
            if (changed_to == 0) changed_from = y - top;
            changed_to = y - top + 1;
        }
    }
    if (every_row || changed_to > 0 || changes.cursor) {
        redraw_ = false;
        Frame frame = window_frame(model);
        if (!every_row) {
            frame.changed_from = changed_from;
            frame.changed_to = changed_to;
        }
        renderer_.draw(frame);
    }
    renderer_.take_output(outgoing_);
}

// The rows that left and the buffer's rows are one stream: the screen steps
// down it a screenful at most at a time, each step a scroll, so that every
// row that left passes through the top into the scrollback, and the frames
// between differ from the last one shown only where the rows did.
void ScreenFrames::scroll_out(const ConsoleModel& model, const std::vector<ConsoleCell>& scrolled_off) {
    const int cols = model.cols();
    const int rows = model.rows();
    cells_.assign(scrolled_off.begin(), scrolled_off.end());
    cells_.insert(cells_.end(), model.cells().begin(), model.cells().end());
    const int leaving = static_cast<int>(scrolled_off.size() / static_cast<std::size_t>(cols));
    for (int top = 0; top < leaving;) {
        const int step = std::min(rows, leaving - top);
        const auto first = static_cast<std::size_t>(top) * static_cast<std::size_t>(cols);
        renderer_.draw(
            Frame{cols, rows, std::span(cells_).subspan(first, static_cast<std::size_t>(rows * cols)), 0, 0, false});
        renderer_.scroll_up(step);
        top += step;
    }
}

Frame ScreenFrames::window_frame(const ConsoleModel& model) {
    const SMALL_RECT w = model.window();
    const int cols = w.Right - w.Left + 1;
    const int rows = w.Bottom - w.Top + 1;
    std::span<const ConsoleCell> cells;
    if (cols == model.cols()) {
        cells = model.cells().subspan(static_cast<std::size_t>(w.Top) * cols, static_cast<std::size_t>(rows) * cols);
    } else {
        cells_.clear();
        for (int y = w.Top; y <= w.Bottom; ++y) {
            const auto row = model.row(y).subspan(static_cast<std::size_t>(w.Left), static_cast<std::size_t>(cols));
            cells_.insert(cells_.end(), row.begin(), row.end());
        }
        cells = cells_;
    }
    const COORD cursor = model.cursor();
    return Frame{cols, rows, cells, cursor.X - w.Left, cursor.Y - w.Top, model.cursor_info().bVisible != FALSE};
}

}  // namespace platform
