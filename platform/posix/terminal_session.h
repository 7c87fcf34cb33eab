// The terminals the console runs on, for the whole session: which of the
// standard streams are terminals (decided once, at start), their modes set and
// given back exactly as found, the keyboard protocols asked for and switched
// on, suspension and resumption, and the rescue of the terminals when the
// process dies of a signal.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/posix_terminal.h"
#include "platform/posix/terminal_input.h"

namespace platform {

class ScreenFrames;

// How long after sending its start-up queries the host expects answers. A
// terminal answers in a moment, over a slow link in a while; one that has not
// answered by then never will, and a program that ends later does not wait.
inline constexpr std::chrono::milliseconds kReplyPatience{500};

// The kitty keyboard protocol flags pushed on a terminal that has the protocol:
// disambiguated keys, press/repeat/release events, alternate keys, every key as
// an escape code (modifier keys too, which Alt plus keypad digits needs) and
// the text a key types: 1 | 2 | 4 | 8 | 16.
inline constexpr std::string_view kKittyKeyboardPush = "\x1b[>31u";

// Which of the standard streams are terminals.
struct HostStreams {
    int input_fd = 0;
    int output_fd = 1;
    bool input_is_terminal = false;
    bool output_is_terminal = false;
    // Both are the same terminal: its replies to queries arrive as input, so
    // keyboard protocols can be negotiated.
    bool same_terminal = false;

    // An output terminal that takes no escape sequences (TERM=dumb) counts as
    // no terminal: it is written to as a pipe is, while its keys are read as
    // a terminal's.
    static HostStreams detect(int input_fd, int output_fd);
    bool any_terminal() const { return input_is_terminal || output_is_terminal; }
};

class TerminalSession {
  public:
    // Reads the terminals' modes; sets nothing yet.
    explicit TerminalSession(const HostStreams& streams);

    const HostStreams& streams() const { return streams_; }

    // Sets the console modes and arms the rescue; on the screen's terminal
    // queues the protocols' switches (and at the first entry the queries).
    void enter(ScreenFrames* screen);
    // Sends what switches the protocols off, then gives every terminal its
    // modes back (after pending output, unless told not to: a terminal that
    // takes nothing would keep that waiting) and disarms the rescue.
    void leave(ScreenFrames* screen, bool after_output = true);

    // Whether the answers to the start-up queries are still due, and until
    // when they are waited for.
    bool awaiting_replies() const { return kitty_ == Kitty::Asked; }
    std::chrono::steady_clock::time_point replies_due() const { return replies_due_; }
    // A reply to the start-up queries: the kitty protocol is pushed on a
    // terminal that reports its flags, and given up on one that answers only
    // the device attributes query.
    void reply(const TerminalEvent& event, ScreenFrames* screen);

  private:
    enum class Kitty { Asked, Absent, Pushed };

    // A terminal device in use, with its modes as found.
    struct Terminal {
        TerminalModes modes;
        bool reads_keys;    // the keys come from it
        bool shows_screen;  // the console is drawn on it
    };

    std::string leaving_bytes() const;
    void arm_rescues();

    HostStreams streams_;
    std::vector<Terminal> terminals_;
    Kitty kitty_ = Kitty::Absent;
    bool asked_ = false;
    std::chrono::steady_clock::time_point replies_due_{};
};

}  // namespace platform
