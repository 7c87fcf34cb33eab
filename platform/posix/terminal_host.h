// The console on the process's own standard streams, put together from its
// parts: the terminal session (terminal_session.h), the key source
// (key_sources.h), the screen's frames (screen_frames.h) or the output
// gathered for a pipe (piped_output.h), what its waits watch (wait_set.h),
// and the control thread (control_thread.h). Whether each stream is a
// terminal is decided once, at start, and picks the parts.
//
// The screen goes out at one place: when the program waits (Sleep, or a wait
// on the input handle), and at the end; a wait that returns at once with a
// key while more typed keys are waiting (a paste) leaves it to the wait that
// finds none. Keys are handed over one per wait, at the pace the program
// takes them, as a person would type them; a wait on the input handle that
// hands one over returns at once. On every way out the terminals are given
// back exactly as they were found.
//
// Signals are noted by their handlers. The ones that are control events are
// raised at once, on the control thread, whatever the program's thread is
// doing (computing, or blocked in a write):
//   SIGINT, SIGQUIT     CTRL_C_EVENT, CTRL_BREAK_EVENT
//   SIGHUP, SIGTERM     CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT; once the handlers
//                       have run, the process ends with control_event_exit_status
// The other signals change the console and are acted on at the program's next
// wait:
//   SIGTSTP             the terminal is given back and the process group stops;
//   SIGCONT             modes are set again and the screen is redrawn
//   SIGWINCH            the buffer and window follow the terminal's new size
// A signal that the program was started ignoring stays ignored, and so does
// the key that stands for it.
// With ENABLE_PROCESSED_INPUT, the keys Ctrl+C, Ctrl+\ and Ctrl+Z act as those
// signals would (the terminal sends them as bytes: its own signal keys are off);
// without it they are ordinary keys. Typed on a terminal they act as soon as
// they arrive, ahead of the keys still waiting for the program. From piped
// input Ctrl+C and Ctrl+\ act when the program reaches them, and Ctrl+Z is
// always a key: nobody would be there to continue.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "platform/posix/console_host.h"
#include "platform/posix/console_model.h"
#include "platform/posix/control_thread.h"
#include "platform/posix/key_sources.h"
#include "platform/posix/piped_output.h"
#include "platform/posix/screen_frames.h"
#include "platform/posix/terminal_session.h"
#include "platform/posix/wait_set.h"

namespace platform {

// The exit status of a program whose piped standard input has run out: every
// key has been delivered, the next wait raised CTRL_CLOSE_EVENT, and the
// program waited once more.
inline constexpr int kEndOfInputExitStatus = 3;

class TerminalHost final : public ConsoleHost, private ControlThread::Host {
  public:
    // Sets the terminals' modes and, on a terminal, turns on bracketed paste
    // and the keyboard protocols it has; catches the signals the streams in
    // use need. The thread that constructs it is the program's: the console
    // model is its alone.
    explicit TerminalHost(const HostStreams& streams);
    ~TerminalHost() override;
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    // A poll that finds the queue empty: nothing to do until the program
    // waits.
    void input_idle() override {}
    void input_mode_set(DWORD mode) override { processed_input_ = (mode & ENABLE_PROCESSED_INPUT) != 0; }
    void wait(DWORD milliseconds) override;
    bool wait_for_input(DWORD milliseconds) override;
    void beep(DWORD frequency, DWORD duration) override;
    bool write_output(std::span<const std::byte> bytes, DWORD& written) override;
    // From another thread than the program's, the screen is left as last
    // drawn (the model may be changing under it), and a program's thread that
    // stays stuck in a write to a terminal that takes nothing is not waited
    // for: the terminal gets its modes back without the bytes.
    void shutdown() override;

  private:
    // What the program's thread does once it has let go of the lock: control
    // handlers may end the process and shut the host down from their thread.
    struct AfterLock {
        std::vector<DWORD> events;
        // Raised after `events`; once it is handled the process ends.
        std::optional<DWORD> final_event;
        bool end_of_input = false;
    };
    enum class ControlKey { None, Interrupt, Break, Suspend, Ignored };

    // One look at the input and the signals, under the lock; `hand_over`
    // moves the next kept key into the console's queue when it is empty.
    // True when the wait is over: a key handed over, or the host shut down.
    bool look(bool hand_over, AfterLock& after);
    void take_events(const std::vector<TerminalEvent>& events, AfterLock& after);
    bool hand_over_key(AfterLock& after);
    void end_of_input(AfterLock& after);
    ControlKey control_key(const INPUT_RECORD& record, bool processed_input) const;
    static std::optional<DWORD> event_of(ControlKey key);
    // A key handed over: queued, or acted on as a control key.
    void deliver(const INPUT_RECORD& record, AfterLock& after);
    void handle_signals();
    void suspend();
    void resume();
    void follow_terminal_size();
    // Reads the answers to the start-up queries while they are still due.
    // Keys typed meanwhile are kept when `keep_keys` is set.
    void await_replies(bool keep_keys);
    void show();
    // Once output to a pipe or a file has been lost, shuts the console down,
    // which ends the process (kOutputLostExitStatus).
    void end_if_output_lost();
    void run(const AfterLock& after);
    // Waits until the time is up, or with `until_input` until a record is
    // queued, looking at keys and signals whenever they come.
    void wait_until(DWORD milliseconds, bool until_input);

    // Whether the program's thread is in a wait, which reads the keys; if so
    // the control thread is woken when the wait ends.
    bool program_reads_keys();

    // ControlThread::Host
    Reading read_for_program() override;
    [[noreturn]] void end_process(int status) override;

    TerminalSession session_;
    ConsoleModel model_;
    std::unique_ptr<KeySource> keys_;
    std::optional<ScreenFrames> screen_;
    std::optional<PipedOutput> piped_output_;
    ControlThread control_;
    bool watching_signals_ = false;
    // What the program's waits watch; set once signals are watched or not.
    std::optional<WaitSet> waits_;
    std::mutex mutex_;  // the session, keys and screen
    // What the program's thread's last look decoded, kept for the next look.
    std::vector<TerminalEvent> events_;
    const std::thread::id program_thread_ = std::this_thread::get_id();
    // Whether the program's thread is looking for keys now (in a wait), and
    // whether the control thread waits for that to end; whether input is
    // processed, as the program last set it.
    std::atomic<bool> looking_{false};
    std::atomic<bool> control_waits_{false};
    std::atomic<bool> processed_input_{(ConsoleModel::kDefaultInputMode & ENABLE_PROCESSED_INPUT) != 0};
    bool close_raised_ = false;
    bool resumed_ = false;        // a SIGCONT noted now is our own resumption
    bool program_woken_ = false;  // the program's signal wake-up was seen readable
    std::atomic<bool> shut_down_{false};
};

}  // namespace platform
