// The host's control thread: raises the control events of SIGINT, SIGQUIT,
// SIGHUP and SIGTERM as they come, whatever the program's thread is doing
// (computing, or blocked in a write), and reads a terminal's keys as they
// arrive while the program's thread is not waiting for them, so that Ctrl+C
// and a terminal that goes away act at once during a computation too.
//
// It sleeps until a signal, a key or a wake() comes: no timer wakes it while
// nothing happens. While the program's thread waits, that wait reads the keys
// itself: both register the terminal exclusively, the program's waits first,
// so a key typed then wakes the wait alone. A key that comes while the wait
// is looking rather than asleep may wake this thread too; it then leaves the
// terminal alone until the wait ends (the host calls wake() then), so that
// both never read the same bytes and it never spins on bytes that are the
// wait's to read.
#pragma once

#include <signal.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace platform {

class ControlThread {
  public:
    // What the thread asks of the host.
    class Host {
      public:
        enum class Reading {
            Done,  // what was typed is read
            // The program's thread holds the host without waiting (a write
            // to a slow terminal): the thread tries again a little later.
            Busy,
            // The keys are not this thread's to read: the program's thread
            // is waiting and reads them, or the host is shut down or its
            // input ended. The thread watches them again once woken.
            Left,
        };
        // Reads what was typed, the terminal having been seen readable.
        virtual Reading read_for_program() = 0;
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

    // Starts the thread, watching the terminal `input_fd` for keys (none
    // when negative). The control signals go to it alone from then on. False
    // when it cannot be started; then nothing has changed.
    bool start(Host& host, int input_fd);
    // Asks the thread to end; it touches nothing of the host afterwards.
    void stop();
    // Tells the thread that keys it left (Reading::Left) are its to watch
    // again. Costs a write; harmless when nothing was left.
    void wake();
    // The calling thread's signal mask as it was before start(), to give back
    // at the end.
    const std::optional<sigset_t>& program_mask() const { return program_mask_; }

  private:
    void run(Host& host, int input_fd);
    // Adds `fd` to what the thread waits on; true for none (negative).
    bool watch(int fd);
    // Adds the keys to what it waits on, or takes them out.
    bool watch_keys(int input_fd, bool watch);
    void close_all();
    void send(char byte);
    // Reads what wake() and stop() sent; true when the thread is to end.
    bool take_wake_bytes();

    // Readable once the thread is to end or to watch the keys again.
    std::array<int, 2> wake_pipe_{-1, -1};
    // What the thread waits on: the control signals' wake-up, the wake-up
    // pipe, and the keys while it watches them.
    int epoll_fd_ = -1;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool running_ = false;
    std::optional<sigset_t> program_mask_;
};

}  // namespace platform
