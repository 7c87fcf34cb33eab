#include "platform/posix/control_thread.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "platform/posix/control_events.h"
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
}

bool ControlThread::start(Host& host, int input_fd) {
    if (::pipe2(wake_pipe_.data(), O_CLOEXEC) != 0) return false;
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
        for (int& fd : wake_pipe_) {
            ::close(fd);
            fd = -1;
        }
    }
    return started;
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
    // The keys last: they are left out of the poll while not watched.
    std::array<pollfd, 3> fds{pollfd{signal_wake_fd(SignalQueue::Control), POLLIN, 0}, pollfd{wake_pipe_[0], POLLIN, 0},
                              pollfd{input_fd, POLLIN, 0}};
    const sigset_t control = signals_of(SignalQueue::Control);
    ::pthread_sigmask(SIG_UNBLOCK, &control, nullptr);
    bool watching = input_fd >= 0;
    bool retrying = false;
    for (;;) {
        fds[2].revents = 0;
        const nfds_t count = watching && !retrying ? fds.size() : fds.size() - 1;
        const int ready = ::poll(fds.data(), count, retrying ? kRetryBusy : -1);
        if (ready < 0) continue;  // interrupted
        if (fds[1].revents != 0) {
            if (take_wake_bytes()) break;
            watching = input_fd >= 0;
        }
        if (fds[2].revents != 0 || (retrying && ready == 0)) {
            const Host::Reading reading = host.read_for_program();
            retrying = reading == Host::Reading::Busy;
            if (reading == Host::Reading::Left) watching = false;
        }
        if (fds[0].revents == 0) continue;
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
