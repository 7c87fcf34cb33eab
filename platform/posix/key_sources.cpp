#include "platform/posix/key_sources.h"

#include <poll.h>

#include <array>
#include <cerrno>

#include "platform/posix/posix_io.h"

namespace platform {
namespace {

// Bytes read in one go, and at most this many reads for one look, so that a
// flood of input cannot keep the program from running.
constexpr std::size_t kReadChunk = 4096;
constexpr int kReadsPerLook = 16;

}  // namespace

std::chrono::milliseconds steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

bool KeySource::read(int timeout_ms, std::vector<TerminalEvent>& events) {
    if (ended_) return false;
    pollfd p{fd_, POLLIN, 0};
    if (posix_calls().poll(&p, 1, timeout_ms) <= 0) return false;
    return read_now(events);
}

bool KeySource::ready_now() const {
    if (ended_) return false;
    pollfd p{fd_, POLLIN, 0};
    return posix_calls().poll(&p, 1, 0) > 0;
}

bool KeySource::read_now(std::vector<TerminalEvent>& events) {
    if (ended_) return false;
    std::array<std::byte, kReadChunk> buffer;
    const ssize_t n = read_some(fd_, buffer);
    filled_ = n == static_cast<ssize_t>(buffer.size());
    if (n > 0) {
        decoder_.feed(std::span(buffer.data(), static_cast<std::size_t>(n)), steady_now_ms(), events);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n == 0 && !empty_read_is_end()) return false;
    ended_ = true;
    return false;
}

void KeySource::settle(std::vector<TerminalEvent>& events) {
    if (decoder_.deadline()) decoder_.advance(steady_now_ms(), events);
}

INPUT_RECORD KeySource::take_kept() {
    const INPUT_RECORD record = kept_.front();
    kept_.pop_front();
    return record;
}

// The terminal's reads never block, so an empty read is either a hang-up or
// bytes that another thread took between its poll and this read: only a
// hang-up is the end.
bool TerminalKeys::empty_read_is_end() const {
    pollfd p{fd_, POLLIN, 0};
    return posix_calls().poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// A read that filled the buffer may have left more behind: looked for without
// waiting, up to a few reads.
void TerminalKeys::read_ready(std::vector<TerminalEvent>& events) {
    read_now(events);
    for (int reads = 1; reads < kReadsPerLook && filled_ && read(0, events); ++reads) {
    }
}

void PipedKeys::read_ready(std::vector<TerminalEvent>& events) {
    read_now(events);
    if (ended_) decoder_.finish(events);
}

}  // namespace platform
