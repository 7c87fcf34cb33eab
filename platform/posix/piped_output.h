// Output gathered for a pipe or a file: the bytes WriteFile gives when
// standard output is not a terminal go out unchanged, in as few writes as
// possible, and all of them before the program could block waiting for input.
//
// Only the program's thread writes (as it alone changes the console), several
// times for each key, so gathering takes no lock: the bytes are copied past
// what is gathered and then published with the new count. A flush on another
// thread (a control handler ending the process) sends only what is
// published, under the lock, and marks it sent rather than emptying the
// buffer under the writer. A send that fails makes this and every later write
// fail: the reader has gone.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <span>
#include <vector>

#include "platform/console_api.h"

namespace platform {

class PipedOutput {
  public:
    explicit PipedOutput(int fd);
    PipedOutput(const PipedOutput&) = delete;
    PipedOutput& operator=(const PipedOutput&) = delete;

    // From the program's thread: gathers the bytes, or sends them with what
    // is gathered when they do not fit. Sets the count taken; false once a
    // send has failed.
    bool write(std::span<const std::byte> bytes, DWORD& written);
    // Sends what is gathered. Off the program's thread it gives up after a
    // while: the program's thread may be stuck in a send to a full pipe.
    void flush(bool on_program_thread);

  private:
    // With the lock held: sends what is gathered and not yet sent.
    bool send_gathered(bool on_program_thread);

    int fd_;
    std::mutex mutex_;
    std::vector<std::byte> buffer_;
    // Gathered up to gathered_ (set by the program's thread alone), of which
    // a flush on another thread has sent up to sent_ (under the lock).
    std::atomic<std::size_t> gathered_{0};
    std::size_t sent_ = 0;
    std::atomic<bool> failed_{false};
};

}  // namespace platform
