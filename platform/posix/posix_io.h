// The few system calls the terminal host makes, routed through a table that a
// test can replace to inject interrupted calls, short writes and failures.
#pragma once

#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <span>

namespace platform {

struct PosixCalls {
    ssize_t (*read)(int fd, void* buffer, std::size_t count);
    ssize_t (*write)(int fd, const void* buffer, std::size_t count);
    int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
    int (*epoll_wait)(int epoll_fd, epoll_event* events, int count, int timeout_ms);
    int (*tcgetattr)(int fd, termios* modes);
    int (*tcsetattr)(int fd, int when, const termios* modes);
    // TIOCGWINSZ.
    int (*get_window_size)(int fd, winsize* size);
};

// The table in force; the default calls the system.
PosixCalls& posix_calls();
const PosixCalls& system_posix_calls();

// Writes every byte: an interrupted call is repeated, a short write continues
// with the rest, a full non-blocking descriptor is waited for. False when a
// call fails or makes no progress.
bool write_all(int fd, std::span<const std::byte> bytes);

// Reads what one call gives, repeating an interrupted call. The count read,
// 0 at end of input, -1 on failure (including "nothing to read now" on a
// non-blocking descriptor: errno tells).
ssize_t read_some(int fd, std::span<std::byte> buffer);

// Gives each of the standard descriptors 0, 1 and 2 that is closed a stand-in
// that reads nothing and takes nothing: /dev/null opened for reading only, so
// that reads see the end of input and writes fail. Until then the next
// descriptor the process opens would take the closed one's place and be read
// or written as if it were that stream.
void hold_closed_standard_streams();

// Adds `fd` to the epoll set `epoll_fd` for input (`watch`), or takes it out.
// Exclusive: of the sets that hold `fd` so, its input wakes the first one
// registered that is being waited on, and the next ones only while none is.
bool epoll_watch(int epoll_fd, int fd, bool watch, bool exclusive);

// tcsetattr, repeated when a signal interrupts the drain of pending output.
bool set_modes(int fd, int when, const termios& modes);

}  // namespace platform
