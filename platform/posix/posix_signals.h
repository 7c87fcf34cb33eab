// The signals a terminal program has to answer, caught so that the host can act
// on them outside a signal handler; and the rescue of the terminal when the
// process dies of any other signal.
#pragma once

#include <signal.h>
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

// Who takes a noted signal. The ones that become control events are taken at
// once by a thread that does nothing else, whatever the program is doing; the
// others change the console, which belongs to the program's thread, so they
// wait for it to look.
enum class SignalQueue : std::uint8_t { Control, Program };

constexpr SignalQueue queue_of(HostSignal signal) {
    switch (signal) {
        case HostSignal::Interrupt:
        case HostSignal::Quit:
        case HostSignal::Terminate:
        case HostSignal::HangUp:
            return SignalQueue::Control;
        default:
            return SignalQueue::Program;
    }
}

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

// Catches the host signals: the handler only notes the signal and makes the
// wake-up descriptor of its queue readable. With `terminals` (a terminal is
// in use), the signals that change the console (the Program queue) too, and
// every other signal whose default action ends the process for the terminal
// rescue; without, those keep their usual actions and have no wake-up pipe.
// SIGPIPE is
// ignored (a write to a pipe without a reader fails with EPIPE instead). A
// signal found ignored stays ignored: whoever started the program (nohup, a
// shell starting a background job) meant it to survive that signal.
// False when the wake-up pipes cannot be made; then nothing is caught.
// Calling it again while watching does nothing.
bool watch_signals(bool terminals);
// Gives every caught signal its previous disposition back.
void unwatch_signals();

// Whether `signal` was found ignored by the last watch_signals, and so is not
// caught: a key that stands for it (Ctrl+C for SIGINT) is to be ignored too,
// as the terminal's own signal keys would be.
bool signal_ignored(HostSignal signal);

// The signal numbers of the queue's host signals.
sigset_t signals_of(SignalQueue queue);

// Readable while signals of the queue are noted and not yet taken; -1 when
// not watching, or when the queue's signals are not caught (the Program
// queue's without a terminal): nothing to wait for.
int signal_wake_fd(SignalQueue queue);
// The queue's signals noted since the last call, which are then forgotten.
// Makes no system call when none is noted, unless `woken` says that the
// queue's descriptor was seen readable (a wake-up may outlive the signals it
// announced; it is cleared here).
HostSignals take_signals(SignalQueue queue, bool woken = false);
// Whether signals of the queue are noted and not yet taken: one load, for a
// look that would otherwise find nothing to do.
bool signals_noted(SignalQueue queue);

// What a signal that ends the process (any that is caught for the rescue:
// SIGSEGV, SIGABRT, SIGUSR1, SIGXCPU, the real-time signals, ...) does before
// the process ends of it: send `bytes` to the terminal on `fd`, then give it
// `modes`, with async-signal-safe calls only. Up to two terminals (input and
// output may be different devices); `bytes` is cut at 255.
void add_terminal_rescue(int fd, const termios& modes, std::string_view bytes);
void clear_terminal_rescues();

// Stops the process group, as a terminal's suspend key would (the default action
// of SIGTSTP), and returns once the group is continued. Returns at once where a
// stop could never be undone (an orphaned process group).
void stop_process_group();

}  // namespace platform
