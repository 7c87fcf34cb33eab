// Keys on their way from standard input to the console's input queue. Bytes
// are read and decoded as they come; the keys are kept here and handed over
// at the pace the program takes them, so that none is lost however many
// arrive at once (a paste), and the console's queue only ever holds what the
// program is about to read.
//
// Two sources, chosen once at start by what standard input is:
// - TerminalKeys: bytes typed on a terminal, read whenever they arrive, so
//   that the keys that act at once (Ctrl+C) are seen at once; a lone ESC waits
//   for the decoder's deadline.
// - PipedKeys: bytes from a pipe or file, read only once every key decoded
//   before has been handed over; a script's keys act in order.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "platform/console_api.h"
#include "platform/posix/terminal_input.h"

namespace platform {

class KeySource {
  public:
    KeySource(const KeySource&) = delete;
    KeySource& operator=(const KeySource&) = delete;
    virtual ~KeySource() = default;

    int fd() const { return fd_; }
    // Hung up, closed or failed: no byte will come again.
    bool ended() const { return ended_; }

    // Reads what has arrived, the input having been seen readable, and
    // decodes it into `events` (keys, and replies to the host's queries).
    virtual void read_ready(std::vector<TerminalEvent>& events) = 0;
    // Whether the keys act when they are decoded (a person's control keys
    // act at once) rather than when they are handed over.
    virtual bool keys_act_on_arrival() const = 0;
    // Whether a wait is to poll the input for bytes.
    virtual bool wants_bytes() const = 0;

    // Whether bytes (or the end) are waiting to be read now.
    bool ready_now() const;
    // Reads once, after waiting up to `timeout_ms` for bytes. False when
    // nothing came; then `ended()` tells whether anything ever will.
    bool read(int timeout_ms, std::vector<TerminalEvent>& events);
    // Settles what the time decides by now (a lone ESC becomes Escape).
    void settle(std::vector<TerminalEvent>& events);
    // When settle() is next due, if pending bytes wait on the time.
    std::optional<std::chrono::milliseconds> deadline() const { return decoder_.deadline(); }

    // Keys decoded and not yet handed over, oldest first.
    void keep(const INPUT_RECORD& record) { kept_.push_back(record); }
    bool has_kept() const { return !kept_.empty(); }
    // The next key to hand over, removed.
    INPUT_RECORD take_kept();

  protected:
    KeySource(int fd, TerminalInputDecoder::Source source) : fd_(fd), decoder_(source) {}
    // One read without a poll: the caller knows there are bytes, or the end.
    // False when none came.
    bool read_now(std::vector<TerminalEvent>& events);
    // Whether a read that returned no byte means no byte will come again.
    virtual bool empty_read_is_end() const { return true; }

    int fd_;
    TerminalInputDecoder decoder_;
    std::deque<INPUT_RECORD> kept_;
    bool ended_ = false;
    bool filled_ = false;  // the last read filled the buffer: more may wait
};

class TerminalKeys final : public KeySource {
  public:
    explicit TerminalKeys(int fd) : KeySource(fd, TerminalInputDecoder::Source::Terminal) {}
    void read_ready(std::vector<TerminalEvent>& events) override;
    bool keys_act_on_arrival() const override { return true; }
    bool wants_bytes() const override { return !ended_; }

  private:
    bool empty_read_is_end() const override;
};

class PipedKeys final : public KeySource {
  public:
    explicit PipedKeys(int fd) : KeySource(fd, TerminalInputDecoder::Source::Pipe) {}
    void read_ready(std::vector<TerminalEvent>& events) override;
    bool keys_act_on_arrival() const override { return false; }
    bool wants_bytes() const override { return !ended_ && kept_.empty(); }
};

// The clock the decoder's deadlines are on.
std::chrono::milliseconds steady_now_ms();

}  // namespace platform
