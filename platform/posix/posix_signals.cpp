#include "platform/posix/posix_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>

#include "platform/posix/posix_io.h"

namespace platform {
namespace {

struct Caught {
    int number;
    HostSignal signal;
};

constexpr std::array kHostSignals{
    Caught{SIGINT, HostSignal::Interrupt}, Caught{SIGQUIT, HostSignal::Quit},    Caught{SIGTERM, HostSignal::Terminate},
    Caught{SIGHUP, HostSignal::HangUp},    Caught{SIGTSTP, HostSignal::Suspend}, Caught{SIGCONT, HostSignal::Continue},
    Caught{SIGWINCH, HostSignal::Resize},
};
// Raised by the processor for the instruction that faulted: when the handler
// returns, the instruction runs again and faults again.
constexpr std::array kFaults{SIGSEGV, SIGBUS, SIGFPE, SIGILL};
// Every other signal whose default action ends the process (SIGKILL cannot be
// caught, SIGPIPE is ignored); the real-time signals are added to these.
constexpr std::array kEnding{SIGABRT, SIGTRAP,   SIGSYS,  SIGXCPU, SIGXFSZ,   SIGUSR1, SIGUSR2,
                             SIGALRM, SIGVTALRM, SIGPROF, SIGPWR,  SIGSTKFLT, SIGIO};

constexpr std::size_t kQueues = 2;

// Everything a signal handler touches is lock-free.
static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

std::atomic<std::uint32_t> g_noted{0};
// Made once and never closed: a thread waiting on one never finds it reused
// for something else.
std::array<int, kQueues> g_wake_read{-1, -1};
std::array<std::atomic<int>, kQueues> g_wake_write{-1, -1};
std::atomic<bool> g_watching{false};
std::uint32_t g_ignored = 0;  // host signals found ignored

// The dispositions found by watch_signals, by signal number; only the
// signals it caught are given back.
std::array<struct sigaction, NSIG> g_previous{};
std::array<bool, NSIG> g_caught{};

struct Rescue {
    int fd;
    termios modes;
    std::array<char, 255> bytes;
    std::size_t length;
};
std::array<Rescue, 2> g_rescues{};
// Entries [0, count) are complete; a handler takes them all at once.
std::atomic<int> g_rescue_count{0};

constexpr std::uint32_t bit_of(HostSignal signal) { return 1u << static_cast<unsigned>(signal); }

constexpr std::uint32_t queue_bits(SignalQueue queue) {
    std::uint32_t bits = 0;
    for (const Caught& c : kHostSignals) {
        if (queue_of(c.signal) == queue) bits |= bit_of(c.signal);
    }
    return bits;
}

constexpr std::size_t index_of(SignalQueue queue) { return static_cast<std::size_t>(queue); }

// Worked out once: every poll asks.
constexpr std::array kQueueBits{queue_bits(SignalQueue::Control), queue_bits(SignalQueue::Program)};
static_assert(index_of(SignalQueue::Control) == 0 && index_of(SignalQueue::Program) == 1);

const Caught* host_signal(int number) {
    const auto found = std::find_if(kHostSignals.begin(), kHostSignals.end(),
                                    [number](const Caught& c) { return c.number == number; });
    return found == kHostSignals.end() ? nullptr : &*found;
}

bool is_fault(int number) { return std::find(kFaults.begin(), kFaults.end(), number) != kFaults.end(); }

void note_signal(int number) {
    const int saved_errno = errno;
    if (const Caught* caught = host_signal(number)) {
        g_noted.fetch_or(bit_of(caught->signal));
        if (const int fd = g_wake_write[index_of(queue_of(caught->signal))].load(); fd >= 0) {
            const char wake = 0;
            // A full pipe already wakes its reader; nothing else can be done here.
            [[maybe_unused]] const ssize_t n = ::write(fd, &wake, 1);
        }
    }
    errno = saved_errno;
}

void rescue_write(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n > 0) {
            bytes += n;
            length -= static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

void rescue_terminal(int number, siginfo_t* info, void*) {
    const int count = g_rescue_count.exchange(0);
    for (int i = 0; i < count; ++i) {
        const Rescue& r = g_rescues[static_cast<std::size_t>(i)];
        rescue_write(r.fd, r.bytes.data(), r.length);
        ::tcsetattr(r.fd, TCSANOW, &r.modes);
    }
    // Back to the disposition found at start (the default action, or a
    // sanitizer's report). A fault happens again when the handler returns;
    // any other signal is sent again, and arrives once the handler returns.
    ::sigaction(number, &g_previous[static_cast<std::size_t>(number)], nullptr);
    if (!is_fault(number) || info->si_code <= 0) ::raise(number);
}

// Installs `action` for `number` unless the signal is ignored. True if it was
// ignored.
bool catch_unless_ignored(int number, const struct sigaction& action) {
    const auto n = static_cast<std::size_t>(number);
    // One call installs the handler and tells what was there; the rare
    // signal found ignored takes a second to put that back.
    ::sigaction(number, &action, &g_previous[n]);
    if (g_previous[n].sa_handler == SIG_IGN) {
        ::sigaction(number, &g_previous[n], nullptr);
        return true;
    }
    g_caught[n] = true;
    return false;
}

void drain(int fd) {
    std::array<char, 64> bytes;
    while (posix_calls().read(fd, bytes.data(), bytes.size()) > 0) {
    }
}

// The wake-up pipe of each queue whose signals are caught: a new one, or the
// one of an earlier watch emptied of what that left behind.
bool make_wake_pipes(bool terminals) {
    for (std::size_t q = 0; q < kQueues; ++q) {
        if (!terminals && q == index_of(SignalQueue::Program)) continue;
        if (g_wake_read[q] >= 0) {
            drain(g_wake_read[q]);
            continue;
        }
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
        g_wake_read[q] = fds[0];
        g_wake_write[q] = fds[1];
    }
    return true;
}

}  // namespace

bool watch_signals(bool terminals) {
    if (g_watching) return true;
    g_noted = 0;
    if (!make_wake_pipes(terminals)) return false;

    struct sigaction note {};
    note.sa_handler = note_signal;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;
    g_ignored = 0;
    for (const Caught& c : kHostSignals) {
        if (!terminals && queue_of(c.signal) == SignalQueue::Program) continue;
        if (catch_unless_ignored(c.number, note)) g_ignored |= bit_of(c.signal);
    }

    if (terminals) {
        struct sigaction rescue {};
        rescue.sa_sigaction = rescue_terminal;
        sigemptyset(&rescue.sa_mask);
        rescue.sa_flags = SA_SIGINFO;
        for (const int number : kFaults)
            catch_unless_ignored(number, rescue);
        for (const int number : kEnding)
            catch_unless_ignored(number, rescue);
        for (int number = SIGRTMIN; number <= SIGRTMAX; ++number)
            catch_unless_ignored(number, rescue);
    }

    // A reader that went away makes writes fail with EPIPE, which the writer
    // reports, instead of ending the process in the middle of its output.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &g_previous[SIGPIPE]);
    g_caught[SIGPIPE] = true;
    g_watching = true;
    return true;
}

void unwatch_signals() {
    if (!g_watching) return;
    for (std::size_t n = 0; n < g_caught.size(); ++n) {
        if (g_caught[n]) ::sigaction(static_cast<int>(n), &g_previous[n], nullptr);
        g_caught[n] = false;
    }
    g_watching = false;
}

bool signal_ignored(HostSignal signal) { return (g_ignored & bit_of(signal)) != 0; }

sigset_t signals_of(SignalQueue queue) {
    sigset_t set;
    sigemptyset(&set);
    for (const Caught& c : kHostSignals) {
        if (queue_of(c.signal) == queue) sigaddset(&set, c.number);
    }
    return set;
}

int signal_wake_fd(SignalQueue queue) { return g_watching ? g_wake_read[index_of(queue)] : -1; }

bool signals_noted(SignalQueue queue) { return (g_noted.load() & kQueueBits[index_of(queue)]) != 0; }

HostSignals take_signals(SignalQueue queue, bool woken) {
    const std::uint32_t mask = kQueueBits[index_of(queue)];
    // The common case, a look between two keys, costs no system call.
    if ((g_noted.load() & mask) == 0 && !woken) return {};
    // Empty the pipe first: a signal noted after this wakes the next wait.
    if (const int fd = g_wake_read[index_of(queue)]; fd >= 0) drain(fd);
    const std::uint32_t noted = g_noted.fetch_and(~mask) & mask;
    HostSignals taken;
    for (const Caught& c : kHostSignals) {
        if ((noted & bit_of(c.signal)) != 0) taken.add(c.signal);
    }
    return taken;
}

void add_terminal_rescue(int fd, const termios& modes, std::string_view bytes) {
    const int count = g_rescue_count.load();
    if (count >= static_cast<int>(g_rescues.size())) return;
    Rescue& r = g_rescues[static_cast<std::size_t>(count)];
    r.fd = fd;
    r.modes = modes;
    r.length = std::min(bytes.size(), r.bytes.size());
    std::copy_n(bytes.begin(), r.length, r.bytes.begin());
    g_rescue_count = count + 1;
}

void clear_terminal_rescues() { g_rescue_count = 0; }

void stop_process_group() {
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    struct sigaction caught {};
    ::sigaction(SIGTSTP, &stop, &caught);
    sigset_t tstp;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    sigset_t previous_mask;
    ::pthread_sigmask(SIG_UNBLOCK, &tstp, &previous_mask);
    // The calling thread takes the signal on its way out of kill(): the group
    // has stopped and been continued by the time it returns. The kernel drops
    // the signal for an orphaned process group.
    ::kill(0, SIGTSTP);
    ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    ::sigaction(SIGTSTP, &caught, nullptr);
}

}  // namespace platform
