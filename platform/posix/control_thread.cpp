#include "platform/posix/control_thread.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "platform/posix/control_events.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_signals.h"

namespace platform {
namespace {

// How soon the thread tries again, in milliseconds, when the program's thread
// holds the host without waiting (a write to a slow terminal).
constexpr int kRetryBusy = 10;

// What goes down the wake-up pipe.
constexpr char kWake = 'w';
constexpr char kStop = 's';

}  // namespace

ControlThread::~ControlThread() {
    {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return !running_; });
    }
    for (const int fd : wake_pipe_) {
        if (fd >= 0) ::close(fd);
    }
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

bool ControlThread::start(Host& host, int input_fd) {
    if (!watch(signal_wake_fd(SignalQueue::Control)) || ::pipe2(wake_pipe_.data(), O_CLOEXEC) != 0 ||
        !watch(wake_pipe_[0])) {
        close_all();
        return false;
    }
    // The signals of control events go to this thread alone, so that they are
    // noted whatever the program's thread is doing. The thread (and the
    // handler threads it starts) takes no other signal but the faults of its
    // own instructions: those go to the program's thread as before it
    // existed, so that a SIGCONT is noted before the stop it ends returns.
    const sigset_t control = signals_of(SignalQueue::Control);
    sigset_t program_mask;
    ::pthread_sigmask(SIG_BLOCK, &control, &program_mask);
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
        sigdelset(&blocked, fault);
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &mask);
    bool started = true;
    running_ = true;
    try {
        // Detached: a process that ends does not wait for it (it may be
        // running a handler), and it is no thread left behind unjoined.
        std::thread(&ControlThread::run, this, std::ref(host), input_fd).detach();
    } catch (const std::system_error&) {
        running_ = false;
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, started ? &mask : &program_mask, nullptr);
    if (started) {
        program_mask_ = program_mask;
    } else {
        close_all();
    }
    return started;
}

bool ControlThread::watch(int fd) {
    if (fd < 0) return true;
    if (epoll_fd_ < 0) epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    return epoll_fd_ >= 0 && epoll_watch(epoll_fd_, fd, true, false);
}

void ControlThread::close_all() {
    for (int& fd : wake_pipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    epoll_fd_ = -1;
}

bool ControlThread::watch_keys(int input_fd, bool watch) {
    // Exclusive, and after the program's own registration of the terminal:
    // a key wakes the program's thread alone while it waits for keys, and
    // this thread only when none waits.
    return epoll_watch(epoll_fd_, input_fd, watch, true);
}

void ControlThread::stop() { send(kStop); }

void ControlThread::wake() { send(kWake); }

void ControlThread::send(char byte) {
    if (wake_pipe_[1] < 0) return;
    [[maybe_unused]] const ssize_t n = ::write(wake_pipe_[1], &byte, 1);
}

bool ControlThread::take_wake_bytes() {
    std::array<char, 64> bytes{};
    const ssize_t n = ::read(wake_pipe_[0], bytes.data(), bytes.size());
    return n > 0 && std::find(bytes.begin(), bytes.begin() + n, kStop) != bytes.begin() + n;
}

void ControlThread::run(Host& host, int input_fd) {
    const int signal_fd = signal_wake_fd(SignalQueue::Control);
    const sigset_t control = signals_of(SignalQueue::Control);
    ::pthread_sigmask(SIG_UNBLOCK, &control, nullptr);
    bool watching = input_fd >= 0;
    bool watched = false;  // the keys are in the set
    bool retrying = false;
    for (;;) {
        // While it tries again, readable keys would end every wait at once.
        const bool want = watching && !retrying;
        if (want != watched && watch_keys(input_fd, want)) watched = want;
        std::array<epoll_event, 3> events{};
        const int ready =
            ::epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), retrying ? kRetryBusy : -1);
        if (ready < 0) continue;  // interrupted
        bool woken = false;
        bool keys = false;
        bool signalled = false;
        for (int i = 0; i < ready; ++i) {
            const int fd = events[static_cast<std::size_t>(i)].data.fd;
            woken = woken || fd == wake_pipe_[0];
            keys = keys || (fd == input_fd && watched);
            signalled = signalled || fd == signal_fd;
        }
        if (woken) {
            if (take_wake_bytes()) break;
            watching = input_fd >= 0;
        }
        if (keys || (retrying && ready == 0)) {
            const Host::Reading reading = host.read_for_program();
            retrying = reading == Host::Reading::Busy;
            if (reading == Host::Reading::Left) watching = false;
        }
        if (!signalled) continue;
        const HostSignals signals = take_signals(SignalQueue::Control, true);
        if (signals.has(HostSignal::Interrupt)) raise_control_event(CTRL_C_EVENT);
        if (signals.has(HostSignal::Quit)) raise_control_event(CTRL_BREAK_EVENT);
        std::optional<DWORD> final_event;
        if (signals.has(HostSignal::HangUp)) {
            final_event = CTRL_CLOSE_EVENT;
        } else if (signals.has(HostSignal::Terminate)) {
            final_event = CTRL_SHUTDOWN_EVENT;
        }
        if (final_event) {
            raise_control_event(*final_event);
            host.end_process(control_event_exit_status(*final_event));
        }
    }
    // Nothing of the host is touched after this.
    const std::lock_guard lock(mutex_);
    running_ = false;
    ended_.notify_all();
}

}  // namespace platform
