// The console shown on a terminal: the one place where the screen goes out.
// Whatever the program changed since the last frame, and the host's own
// sequences queued meanwhile, go to the terminal in one write when the
// program waits, and at the end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/console_model.h"
#include "platform/posix/terminal_render.h"

namespace platform {

class ScreenFrames {
  public:
    // A terminal on `fd` of this size, whose contents are unknown.
    ScreenFrames(int fd, int cols, int rows);

    // Bytes of the host's own (modes, queries) for the next write.
    void queue(std::string_view bytes) { outgoing_ += bytes; }
    // Rows that scrolled out of the top since the last frame go into the
    // terminal's scrollback, then the terminal shows the model's window; all
    // of it and what is queued in one write. Nothing when nothing changed.
    void show(ConsoleModel& model);
    // As show, with the bell.
    void ring(ConsoleModel& model);
    // Leaves the terminal's cursor where the last frame showed it, on a line
    // of its own for whatever writes next, and sends what is queued.
    void leave();
    // The terminal's size changed, or something else wrote to it: the next
    // frame redraws everything.
    void reset(int cols, int rows);
    // Sends what is queued. A terminal that cannot take the bytes has gone
    // away; its hang-up ends the program.
    void send();

  private:
    void draw(ConsoleModel& model);
    // The rows in `scrolled_off` go through the top of the screen into the
    // scrollback, in frames over those rows followed by the buffer's.
    void scroll_out(const ConsoleModel& model, const std::vector<ConsoleCell>& scrolled_off);
    Frame window_frame(const ConsoleModel& model);

    int fd_;
    TerminalRenderer renderer_;
    bool redraw_ = true;  // draw even if the model reports no change
    std::string outgoing_;
    ConsoleChanges changes_;          // the last frame's, its storage kept for the next
    std::vector<ConsoleCell> cells_;  // a window narrower than the buffer, or rows scrolling out, gathered
};

}  // namespace platform
