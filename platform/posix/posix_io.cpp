#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

constexpr PosixCalls kSystemCalls{
    [](int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); },
    [](int fd, const void* buffer, std::size_t count) { return ::write(fd, buffer, count); },
    [](pollfd* fds, nfds_t count, int timeout_ms) { return ::poll(fds, count, timeout_ms); },
    [](int epoll_fd, epoll_event* events, int count, int timeout_ms) {
        return ::epoll_wait(epoll_fd, events, count, timeout_ms);
    },
    [](int fd, termios* modes) { return ::tcgetattr(fd, modes); },
    [](int fd, int when, const termios* modes) { return ::tcsetattr(fd, when, modes); },
    [](int fd, winsize* size) { return ::ioctl(fd, TIOCGWINSZ, size); },
};

PosixCalls g_calls = kSystemCalls;

// A non-blocking descriptor is full: wait until it takes bytes again.
bool wait_writable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        const int n = g_calls.poll(&p, 1, -1);
        if (n > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0;
        if (n < 0 && errno != EINTR) return false;
    }
}

}  // namespace

PosixCalls& posix_calls() { return g_calls; }
const PosixCalls& system_posix_calls() { return kSystemCalls; }

bool epoll_watch(int epoll_fd, int fd, bool watch, bool exclusive) {
    epoll_event event{};
    event.events = EPOLLIN | (exclusive ? EPOLLEXCLUSIVE : 0u);
    event.data.fd = fd;
    return ::epoll_ctl(epoll_fd, watch ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, fd, &event) == 0;
}

bool write_all(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = g_calls.write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        } else if (n == 0) {
            return false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_writable(fd)) return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

ssize_t read_some(int fd, std::span<std::byte> buffer) {
    for (;;) {
        const ssize_t n = g_calls.read(fd, buffer.data(), buffer.size());
        if (n >= 0 || errno != EINTR) return n;
    }
}

void hold_closed_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = ::open("/dev/null", O_RDONLY);
        // Opened on the lowest free descriptor, which is `fd` (the ones below
        // it are open by now), unless another thread took that first.
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

bool set_modes(int fd, int when, const termios& modes) {
    for (;;) {
        if (g_calls.tcsetattr(fd, when, &modes) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace platform
