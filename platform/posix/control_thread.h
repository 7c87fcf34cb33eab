// The host's control thread: raises the control events of SIGINT, SIGQUIT,
// SIGHUP and SIGTERM as they come, whatever the program's thread is doing
// (computing, or blocked in a write), and reads a terminal's keys for a
// program that has not looked for them for a while, so that Ctrl+C and a
// terminal that goes away still act.
#pragma once

#include <signal.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace platform {

class ControlThread {
  public:
    // What the thread asks of the host.
    class Host {
      public:
        // How long until the thread is to read keys for the program; zero
        // when it is to read now, nothing when it never is.
        virtual std::optional<std::chrono::milliseconds> until_unattended() const = 0;
        // Reads what was typed. False when the program's thread holds the
        // host: the thread tries again a little later.
        virtual bool read_for_program() = 0;
        // Shuts the host down and ends the process.
        [[noreturn]] virtual void end_process(int status) = 0;

      protected:
        ~Host() = default;
    };

    ControlThread() = default;
    ControlThread(const ControlThread&) = delete;
    ControlThread& operator=(const ControlThread&) = delete;
    // Waits for a started thread to have ended (stop() first).
    ~ControlThread();

    // Starts the thread, reading keys from `input_fd` when unattended. The
    // control signals go to it alone from then on. False when it cannot be
    // started; then nothing has changed.
    bool start(Host& host, int input_fd);
    // Asks the thread to end; it touches nothing of the host afterwards.
    void stop();
    // The calling thread's signal mask as it was before start(), to give back
    // at the end.
    const std::optional<sigset_t>& program_mask() const { return program_mask_; }

  private:
    void run(Host& host, int input_fd);

    std::array<int, 2> stop_pipe_{-1, -1};  // readable once the thread is to end
    std::mutex mutex_;
    std::condition_variable ended_;
    bool running_ = false;
    std::optional<sigset_t> program_mask_;
};

}  // namespace platform
