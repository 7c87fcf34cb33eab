// The console host for plain byte streams: standard output is not a console,
// so screen operations on the output handle fail and WriteFile's bytes go to
// the descriptor unchanged. The input handle stays the console's input queue,
// which nothing fills here.
//
// Bytes are written through at once, not buffered: the runtime writes whole
// texts per call, so this costs little, and nothing can be left pending when
// the program waits, exits or is ended by a signal.
#pragma once

#include "platform/console_host.h"
#include "platform/console_model.h"

namespace platform {

class StreamHost final : public ConsoleHost {
  public:
    // Writes to `fd`. Ignores SIGPIPE for the whole process, so that writing
    // to a closed pipe makes WriteFile fail instead of silently ending the
    // process.
    explicit StreamHost(int fd);

    ConsoleModel& console() override { return model_; }
    bool output_is_console() const override { return false; }
    bool input_is_console() const override { return true; }
    // Nothing is pending and no keys come from anywhere.
    void input_idle() override {}
    // Sleeps the whole time, resuming after interrupting signals.
    void wait(DWORD milliseconds) override;
    // A stream has no bell.
    void beep(DWORD /*frequency*/, DWORD /*duration*/) override {}
    // All bytes, or false (written then 0) when the descriptor fails or
    // stops taking bytes.
    bool write_output(std::span<const std::byte> bytes, DWORD& written) override;
    // Nothing is pending.
    void shutdown() override {}

  private:
    int fd_;
    ConsoleModel model_{80, 25};
};

}  // namespace platform
