#include "platform/posix/posix_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>

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
constexpr std::array kFatalSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Everything a signal handler touches is lock-free.
static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

std::atomic<std::uint32_t> g_noted{0};
std::atomic<int> g_wake_read{-1};
std::atomic<int> g_wake_write{-1};
bool g_watching = false;
std::array<struct sigaction, kHostSignals.size()> g_previous_host{};
std::array<struct sigaction, kFatalSignals.size()> g_previous_fatal{};
struct sigaction g_previous_pipe {};

struct Rescue {
    int fd;
    termios modes;
    std::array<char, 255> bytes;
    std::size_t length;
};
std::array<Rescue, 2> g_rescues{};
// Entries [0, count) are complete; a handler takes them all at once.
std::atomic<int> g_rescue_count{0};

std::uint32_t bit_of(int number) {
    for (std::size_t i = 0; i < kHostSignals.size(); ++i) {
        if (kHostSignals[i].number == number) return 1u << static_cast<unsigned>(kHostSignals[i].signal);
    }
    return 0;
}

void note_signal(int number) {
    const int saved_errno = errno;
    g_noted.fetch_or(bit_of(number));
    if (const int fd = g_wake_write.load(); fd >= 0) {
        const char wake = 0;
        // A full pipe already wakes the host; nothing else can be done here.
        [[maybe_unused]] const ssize_t n = ::write(fd, &wake, 1);
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
    // sanitizer's report). A fault happens again when the handler returns; a
    // signal sent by kill() or raise() (abort) must be sent again.
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
        if (kFatalSignals[i] == number) ::sigaction(number, &g_previous_fatal[i], nullptr);
    }
    if (info->si_code <= 0) ::raise(number);
}

}  // namespace

bool watch_signals() {
    if (g_watching) return true;
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    g_wake_read = fds[0];
    g_wake_write = fds[1];
    g_noted = 0;

    struct sigaction note {};
    note.sa_handler = note_signal;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kHostSignals.size(); ++i) {
        ::sigaction(kHostSignals[i].number, &note, &g_previous_host[i]);
    }

    struct sigaction rescue {};
    rescue.sa_sigaction = rescue_terminal;
    sigemptyset(&rescue.sa_mask);
    rescue.sa_flags = SA_SIGINFO;
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
        ::sigaction(kFatalSignals[i], &rescue, &g_previous_fatal[i]);
    }
    // A reader that went away makes writes fail with EPIPE, which the writer
    // reports, instead of ending the process in the middle of its output.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &g_previous_pipe);
    g_watching = true;
    return true;
}

void unwatch_signals() {
    if (!g_watching) return;
    for (std::size_t i = 0; i < kHostSignals.size(); ++i) {
        ::sigaction(kHostSignals[i].number, &g_previous_host[i], nullptr);
    }
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
        ::sigaction(kFatalSignals[i], &g_previous_fatal[i], nullptr);
    }
    ::sigaction(SIGPIPE, &g_previous_pipe, nullptr);
    const int write_end = g_wake_write.exchange(-1);
    const int read_end = g_wake_read.exchange(-1);
    ::close(write_end);
    ::close(read_end);
    g_watching = false;
}

int signal_wake_fd() { return g_wake_read.load(); }

HostSignals take_signals() {
    // Empty the pipe first: a signal noted after this wakes the next wait.
    if (const int fd = g_wake_read.load(); fd >= 0) {
        std::array<char, 64> drain;
        while (::read(fd, drain.data(), drain.size()) > 0) {
        }
    }
    const std::uint32_t noted = g_noted.exchange(0);
    HostSignals taken;
    for (const Caught& c : kHostSignals) {
        if ((noted & bit_of(c.number)) != 0) taken.add(c.signal);
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
