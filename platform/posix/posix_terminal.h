// Terminal modes and size: what a console needs from a terminal device, and
// giving the device back exactly as it was found.
#pragma once

#include <termios.h>

namespace platform {

// The modes a console needs, derived from the terminal's own: no echo, output
// bytes sent as they are (no newline translation). When the console also reads
// its keys from this terminal: bytes delivered one by one as typed (no line
// buffering, CR not turned into LF) and the control keys (Ctrl+C, Ctrl+\,
// Ctrl+Z, Ctrl+S/Ctrl+Q, Ctrl+V) arriving as bytes, as a console reports them.
// A terminal used for output only keeps line buffering and its signal keys, so
// that Ctrl+C still reaches a process whose keys come from elsewhere.
termios console_modes(const termios& original, bool reads_keys);

// One terminal device, with its modes as found.
class TerminalModes {
  public:
    // Reads the device's modes; `saved()` tells whether that worked.
    explicit TerminalModes(int fd);

    bool saved() const { return saved_; }
    int fd() const { return fd_; }
    const termios& original() const { return original_; }

    // Sets the console modes, or gives the original modes back. Both wait for
    // pending output to be sent, unless told not to (a write that the
    // terminal does not take would keep them waiting forever), and never
    // discard typed-ahead input.
    bool enter(bool reads_keys);
    bool leave(bool after_output = true);

  private:
    int fd_;
    termios original_{};
    bool saved_ = false;
};

struct TerminalSize {
    int cols;
    int rows;
};

// The terminal's size in character cells; 80 x 25 when it reports nothing or
// zero in either direction, so no caller ever sees a size of 0. At most 32767
// each way, what console coordinates hold.
TerminalSize terminal_size(int fd);

inline constexpr TerminalSize kFallbackTerminalSize{80, 25};

}  // namespace platform
