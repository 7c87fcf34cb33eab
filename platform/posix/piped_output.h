// Output gathered for a pipe or a file: the bytes WriteFile gives when
// standard output is not a terminal go out as UTF-8, as a terminal shows them
// (each code page 437 byte beyond ASCII as its glyph), in as few writes as
// possible, and all of them before the program could block waiting for input.
//
// Only the program's thread writes (as it alone changes the console), several
// times for each key, so gathering takes no lock: the bytes are copied past
// what is gathered and then published with the new count. A flush on another
// thread (a control handler ending the process) sends only what is
// published, under the lock, and marks it sent rather than emptying the
// buffer under the writer.
//
// A send that fails (a full disk, an I/O error, a reader that went away)
// makes this and every later write fail, and keeps the error number: output
// that was lost makes the program a failure (see end_for_lost_output).
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/console_api.h"

namespace platform {

// The exit status of a program whose redirected standard output could not
// take what it printed: the program ends at its next write or wait after the
// failed send, with a line on standard error naming the error. A reader that
// went away is told nothing: the program ends as SIGPIPE ends writers to a
// closed pipe, or with this status when it was started with SIGPIPE ignored.
inline constexpr int kOutputLostExitStatus = 4;

class PipedOutput {
  public:
    explicit PipedOutput(int fd);
    PipedOutput(const PipedOutput&) = delete;
    PipedOutput& operator=(const PipedOutput&) = delete;

    // From the program's thread: gathers the printed bytes, or sends them
    // with what is gathered when they do not fit. Sets the count of printed
    // bytes taken; false once a send has failed.
    bool write(std::span<const std::byte> printed, DWORD& written);
    // Sends what is gathered. Off the program's thread it gives up after a
    // while: the program's thread may be stuck in a send to a full pipe.
    void flush(bool on_program_thread);
    // A send has failed: what was printed did not all go out.
    bool lost() const { return error_.load(std::memory_order_relaxed) != 0; }
    // Tells why the output was lost, on standard error or (for a reader that
    // went away) by SIGPIPE's own action, and ends the process. Call it once
    // the console has been shut down.
    [[noreturn]] void end_for_lost_output() const;

  private:
    // With the lock held: sends what is gathered and not yet sent.
    bool send_gathered(bool on_program_thread);
    // Sends bytes, keeping the error number of a send that fails.
    bool send(std::span<const std::byte> bytes);

    int fd_;
    std::mutex mutex_;
    std::vector<std::byte> buffer_;
    std::string utf8_;  // printed bytes beyond ASCII made UTF-8
    // Gathered up to gathered_ (set by the program's thread alone), of which
    // a flush on another thread has sent up to sent_ (under the lock).
    std::atomic<std::size_t> gathered_{0};
    std::size_t sent_ = 0;
    std::atomic<int> error_{0};  // of the send that failed; 0 while none has
};

}  // namespace platform
