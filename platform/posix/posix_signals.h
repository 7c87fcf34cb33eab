// The signals a terminal program has to answer, caught so that the host can act
// on them at its next wait instead of inside a signal handler; and the rescue of
// the terminal when the process dies of a fault.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string_view>

namespace platform {

enum class HostSignal : std::uint8_t {
    Interrupt,  // SIGINT
    Quit,       // SIGQUIT
    Terminate,  // SIGTERM
    HangUp,     // SIGHUP
    Suspend,    // SIGTSTP
    Continue,   // SIGCONT
    Resize,     // SIGWINCH
};

// The host signals that arrived, each at most once however often it was sent.
class HostSignals {
  public:
    bool has(HostSignal signal) const { return (bits_ & bit(signal)) != 0; }
    bool empty() const { return bits_ == 0; }
    void add(HostSignal signal) { bits_ |= bit(signal); }
    void remove(HostSignal signal) { bits_ &= ~bit(signal); }

  private:
    static constexpr std::uint32_t bit(HostSignal signal) { return 1u << static_cast<unsigned>(signal); }
    std::uint32_t bits_ = 0;
};

// Catches the host signals: the handler only notes the signal and makes
// signal_wake_fd() readable. Also catches the fatal signals for the terminal
// rescue, and ignores SIGPIPE (a write to a pipe without a reader fails with
// EPIPE instead). False when the wake-up pipe cannot be made; then nothing is
// caught.
// Calling it again while watching does nothing.
bool watch_signals();
// Gives every caught signal its previous disposition back.
void unwatch_signals();

// Readable while signals are noted and not yet taken; -1 when not watching.
int signal_wake_fd();
// The signals noted since the last call, which are then forgotten.
HostSignals take_signals();

// What a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) does before the
// process dies of it: send `bytes` to the terminal on `fd`, then give it `modes`,
// with async-signal-safe calls only. Up to two terminals (input and output may be
// different devices); `bytes` is cut at 255.
void add_terminal_rescue(int fd, const termios& modes, std::string_view bytes);
void clear_terminal_rescues();

// Stops the process group, as a terminal's suspend key would (the default action
// of SIGTSTP), and returns once the group is continued. Returns at once where a
// stop could never be undone (an orphaned process group).
void stop_process_group();

}  // namespace platform
