#include "platform/posix/wait_set.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <array>

#include "platform/posix/posix_io.h"

namespace platform {

WaitSet::WaitSet(int wake_fd, int input_fd, bool register_once) : wake_fd_(wake_fd), input_fd_(input_fd) {
    if (!register_once) return;
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) return;
    if ((wake_fd_ >= 0 && !epoll_watch(epoll_fd_, wake_fd_, true, false)) || !register_input(true)) {
        ::close(epoll_fd_);
        epoll_fd_ = -1;
    }
}

WaitSet::~WaitSet() {
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

bool WaitSet::register_input(bool watch_input) {
    if (watch_input == input_registered_) return true;
    // Exclusive: a key wakes this set alone while it is waited on, and other
    // sets registered after it (the control thread's) only while it is not.
    if (!epoll_watch(epoll_fd_, input_fd_, watch_input, true)) return false;
    input_registered_ = watch_input;
    return true;
}

int WaitSet::wait(bool watch_input, int timeout_ms, Ready& ready) {
    ready = {};
    if (timeout_ms == 0) return wait_by_poll(watch_input, timeout_ms, ready);
    if (epoll_fd_ >= 0 && !register_input(watch_input)) {
        ::close(epoll_fd_);
        epoll_fd_ = -1;
    }
    if (epoll_fd_ < 0) return wait_by_poll(watch_input, timeout_ms, ready);
    std::array<epoll_event, 2> events{};
    const int count = posix_calls().epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), timeout_ms);
    for (int i = 0; i < count; ++i) {
        const epoll_event& e = events[static_cast<std::size_t>(i)];
        if (e.data.fd == wake_fd_) ready.wake = ready.wake || (e.events & EPOLLIN) != 0;
        if (e.data.fd == input_fd_) ready.input = true;
    }
    return count;
}

int WaitSet::wait_by_poll(bool watch_input, int timeout_ms, Ready& ready) {
    std::array<pollfd, 2> fds{pollfd{wake_fd_, POLLIN, 0}, pollfd{watch_input ? input_fd_ : -1, POLLIN, 0}};
    const int count = posix_calls().poll(fds.data(), fds.size(), timeout_ms);
    if (count > 0) {
        ready.wake = (fds[0].revents & POLLIN) != 0;
        ready.input = fds[1].revents != 0;
    }
    return count;
}

}  // namespace platform
