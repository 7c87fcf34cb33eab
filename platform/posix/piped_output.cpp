#include "platform/posix/piped_output.h"

#include <algorithm>

#include "platform/posix/host_wait.h"
#include "platform/posix/posix_io.h"

namespace platform {
namespace {

// Gathered output beyond this is sent without waiting for a wait.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

PipedOutput::PipedOutput(int fd) : fd_(fd), buffer_(kChunk) {}

bool PipedOutput::write(std::span<const std::byte> bytes, DWORD& written) {
    written = 0;
    if (failed_) return false;
    const std::size_t gathered = gathered_.load(std::memory_order_relaxed);
    if (bytes.size() < buffer_.size() - gathered) {
        std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(gathered));
        gathered_.store(gathered + bytes.size(), std::memory_order_release);
    } else {
        const std::lock_guard lock(mutex_);
        if (!send_gathered(true)) return false;
        if (!write_all(fd_, bytes)) failed_ = true;
        if (failed_) return false;
    }
    written = static_cast<DWORD>(bytes.size());
    return true;
}

bool PipedOutput::send_gathered(bool on_program_thread) {
    const std::size_t gathered = gathered_.load(std::memory_order_acquire);
    if (gathered > sent_ && !failed_ && !write_all(fd_, std::span(buffer_).subspan(sent_, gathered - sent_))) {
        failed_ = true;
    }
    if (on_program_thread) {
        gathered_.store(0, std::memory_order_relaxed);
        sent_ = 0;
    } else {
        sent_ = gathered;
    }
    return !failed_;
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

}  // namespace platform
