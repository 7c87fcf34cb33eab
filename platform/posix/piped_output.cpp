#include "platform/posix/piped_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/posix/cp437.h"
#include "platform/posix/host_wait.h"
#include "platform/posix/posix_io.h"

namespace platform {
namespace {

// Gathered output beyond this is sent without waiting for a wait.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

PipedOutput::PipedOutput(int fd) : fd_(fd), buffer_(kChunk) {}

bool PipedOutput::write(std::span<const std::byte> printed, DWORD& written) {
    written = 0;
    if (lost()) return false;
    const std::span<const std::byte> bytes = printed_as_utf8(printed, utf8_);
    const std::size_t gathered = gathered_.load(std::memory_order_relaxed);
    if (bytes.size() < buffer_.size() - gathered) {
        std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(gathered));
        gathered_.store(gathered + bytes.size(), std::memory_order_release);
    } else {
        const std::lock_guard lock(mutex_);
        if (!send_gathered(true) || !send(bytes)) return false;
    }
    written = static_cast<DWORD>(printed.size());
    return true;
}

bool PipedOutput::send(std::span<const std::byte> bytes) {
    errno = 0;
    if (write_all(fd_, bytes)) return true;
    // A write that made no progress sets no error number.
    error_ = errno != 0 ? errno : EIO;
    return false;
}

bool PipedOutput::send_gathered(bool on_program_thread) {
    const std::size_t gathered = gathered_.load(std::memory_order_acquire);
    if (!lost() && gathered > sent_) send(std::span(buffer_).subspan(sent_, gathered - sent_));
    if (on_program_thread) {
        gathered_.store(0, std::memory_order_relaxed);
        sent_ = 0;
    } else {
        sent_ = gathered;
    }
    return !lost();
}

void PipedOutput::flush(bool on_program_thread) {
    std::unique_lock lock(mutex_, std::defer_lock);
    if (on_program_thread) {
        lock.lock();
    } else if (!lock_within(lock, kShutdownPatience)) {
        return;
    }
    send_gathered(on_program_thread);
}

void PipedOutput::end_for_lost_output() const {
    const int error = error_;
    if (error == EPIPE) {
        // SIGPIPE acts as it did when the program started: by default it
        // ends the process here, as it ends any writer to a closed pipe.
        std::raise(SIGPIPE);
    } else {
        std::fprintf(stderr, "%s: write error: %s\n", program_invocation_short_name, std::strerror(error));
    }
    ::_exit(kOutputLostExitStatus);
}

}  // namespace platform
