// The console on the process's own standard streams. When standard output is
// a terminal the console is shown on it, in frames sent when the program stops
// to wait; otherwise WriteFile's bytes go to it unchanged. Keys come from the
// terminal as they are typed, or are decoded from piped standard input and
// handed over one per wait, as a person would type them. On every way out the
// terminals are given back exactly as they were found.
//
// Signals are noted by their handlers. The ones that are control events are
// raised at once, on a thread of the host's own, whatever the program's thread
// is doing (computing, or blocked in a write):
//   SIGINT, SIGQUIT     CTRL_C_EVENT, CTRL_BREAK_EVENT
//   SIGHUP, SIGTERM     CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT; once the handlers
//                       have run, the process ends with control_event_exit_status
// Keys typed while the program's thread does not look for them for a while
// (it computes, or is stuck in a write) are read by that thread too, so that
// Ctrl+C and a terminal that goes away still act; the other keys wait for the
// program. The other signals change the console and are acted on at the
// program's next wait or poll:
//   SIGTSTP             the terminal is given back and the process group stops;
//   SIGCONT             modes are set again and the screen is redrawn
//   SIGWINCH            the buffer and window follow the terminal's new size
// A signal that the program was started ignoring stays ignored, and so does
// the key that stands for it.
// With ENABLE_PROCESSED_INPUT, the keys Ctrl+C, Ctrl+\ and Ctrl+Z act as those
// signals would (the terminal sends them as bytes: its own signal keys are off);
// without it they are ordinary keys. From piped input Ctrl+C and Ctrl+\ act the
// same, but Ctrl+Z is always a key: nobody would be there to continue.
//
// Sleep on a terminal waits the whole time given, reading typed keys and
// drawing meanwhile; a piped key ends the wait that delivers it.
#pragma once

#include <poll.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/posix/console_host.h"
#include "platform/posix/console_model.h"
#include "platform/posix/host_lock.h"
#include "platform/posix/posix_terminal.h"
#include "platform/posix/terminal_input.h"
#include "platform/posix/terminal_render.h"

namespace platform {

// The exit status of a program whose piped standard input has run out: every
// key has been delivered, the next wait raised CTRL_CLOSE_EVENT, and the
// program waited once more.
inline constexpr int kEndOfInputExitStatus = 3;

// How long after sending its start-up queries the host expects answers. A
// terminal answers in a moment, over a slow link in a while; one that has not
// answered by then never will, and a program that ends later does not wait.
inline constexpr std::chrono::milliseconds kReplyPatience{500};

// The kitty keyboard protocol flags pushed on a terminal that has the protocol:
// disambiguated keys, press/repeat/release events, alternate keys, every key as
// an escape code (modifier keys too, which Alt plus keypad digits needs) and
// the text a key types: 1 | 2 | 4 | 8 | 16.
inline constexpr std::string_view kKittyKeyboardPush = "\x1b[>31u";

// Which of the standard streams are terminals.
struct HostStreams {
    int input_fd = 0;
    int output_fd = 1;
    bool input_is_terminal = false;
    bool output_is_terminal = false;
    // Both are the same terminal: its replies to queries arrive as input, so
    // keyboard protocols can be negotiated.
    bool same_terminal = false;

    static HostStreams detect(int input_fd, int output_fd);
};

class TerminalHost final : public ConsoleHost, private ConsoleObserver {
  public:
    // Sets the terminals' modes, starts catching signals and, on a terminal,
    // turns on bracketed paste and the keyboard protocols it has. The thread
    // that constructs it is the program's: the console model is its alone.
    explicit TerminalHost(const HostStreams& streams);
    ~TerminalHost() override;
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    void input_idle() override;
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
    // What the program's thread does after letting go of the lock: control
    // handlers may end the process and shut the host down from their thread.
    struct Deferred {
        std::vector<DWORD> events;
        // Raised after `events`; once it is handled the process ends.
        std::optional<DWORD> final_event;
        bool end_of_input = false;
    };

    enum class Kitty { Asked, Absent, Pushed };

    // A terminal device in use, with its modes as found.
    struct Terminal {
        TerminalModes modes;
        bool reads_keys;    // the keys come from it
        bool shows_screen;  // the console is drawn on it
    };

    void before_scroll_up(int rows) override;

    // The work of every poll and wait: signals, typed keys, the frame.
    // Out of line, as is handle_signals: with piped input neither is needed,
    // and a service that only checks sets up no frame for them.
    void service(Deferred& deferred);
    [[gnu::noinline]] void serve_terminal(Deferred& deferred);
    // A poll's service, apart from the check that finds nothing to do: out of
    // line, so that the check does not set up the service's frame.
    [[gnu::noinline]] void serve_idle();
    enum class Read { Bytes, Nothing, Ended };
    // One read of standard input into the decoder, after waiting up to
    // `timeout_ms` for bytes to come. Ended: hung up, closed or failed.
    Read read_input(int timeout_ms, std::vector<TerminalEvent>& events);
    void read_terminal(Deferred& deferred);
    void take_piped_bytes();
    // The next decoded piped key not yet handed over, or null.
    const INPUT_RECORD* next_piped_key();
    bool deliver_piped_key(Deferred& deferred);
    // What a key does as a control key.
    enum class ControlKey { None, Interrupt, Break, Suspend, Ignored };
    ControlKey control_key(const INPUT_RECORD& record, bool processed_input) const;
    // The control event the key raises, if any.
    static std::optional<DWORD> event_of(ControlKey key);
    // A decoded key: queued, or acted on as a control key.
    void key(const INPUT_RECORD& record, Deferred& deferred);
    // Out of line: the keys a script types are nearly all queued, and a key
    // that only goes in the queue then saves no registers for these.
    [[gnu::noinline]] void act_on(ControlKey control, Deferred& deferred);
    // On the control thread: reads what was typed while the program's thread
    // does not look. False when the program's thread holds the host.
    bool read_for_program();
    // How long until the control thread is to read for the program; zero
    // when it is to read now, nothing when it never is.
    std::optional<std::chrono::milliseconds> until_unattended() const;
    void reply(const TerminalEvent& event);
    [[gnu::noinline]] void handle_signals();
    // The control thread: raises the control events of signals as they come.
    bool start_control_thread();
    void watch_control_signals();
    void stop_control_thread();

    // Reads the answers to the keyboard protocol queries if they are still
    // due, until a short while after the queries went out at most. Keys typed
    // meanwhile are queued when `keep_keys` is set.
    void await_query_replies(bool keep_keys);
    void enter_terminals();
    // On the program's thread the screen is brought up to date first.
    void leave_terminals(bool on_program_thread);
    void arm_rescues();
    void suspend();
    void resume();
    void follow_terminal_size();
    std::string leaving_bytes() const;

    // What a wait that hands over no key polls for: the program's signal
    // wake-up and the input (-1 for none), until at most the decoder's
    // deadline.
    struct WaitPoll {
        std::array<pollfd, 2> fds{pollfd{-1, POLLIN, 0}, pollfd{-1, POLLIN, 0}};
        std::optional<std::chrono::milliseconds> key_deadline;
    };
    // One look for keys in a wait, under the lock: the service, and a piped
    // key handed over. True when the wait is over (a key handed over, or the
    // host shut down); otherwise `poll`, if given, is set for the wait's poll.
    bool serve_wait(WaitPoll* poll);
    // The rest of a wait that no piped key ended at once: polls for keys and
    // signals until the time is up, or with `until_input` until a record is
    // queued.
    void wait_until(DWORD milliseconds, bool until_input);

    Frame frame();
    void draw();
    // What is pending goes to the terminal in one write.
    void send();
    void flush();
    void run(const Deferred& deferred);
    [[noreturn]] void end_process(int status);
    // Redirected output: sends what is gathered and not yet sent, with the
    // output lock held; false once a send has failed. The flush takes the lock
    // first; off the program's thread it gives up after a while, since the
    // program's thread may be stuck in a send.
    bool send_piped_output(bool on_program_thread);
    // The gathered output, then `bytes`, from the program's thread, when the
    // bytes do not fit in what is left of the buffer. Out of line: a write
    // that fits sets up no frame for it.
    [[gnu::noinline]] bool send_piped_output_and(std::span<const std::byte> bytes);
    void flush_piped_output(bool on_program_thread);

    HostStreams streams_;
    ConsoleModel model_;
    std::optional<TerminalRenderer> renderer_;
    TerminalInputDecoder decoder_;
    std::vector<Terminal> terminals_;
    HostLock mutex_;
    const std::thread::id program_thread_ = std::this_thread::get_id();
    std::array<int, 2> control_stop_{-1, -1};  // a pipe: readable once the control thread is to end
    std::mutex control_mutex_;
    std::condition_variable control_ended_;
    bool control_running_ = false;
    // The program's thread's signal mask before the host blocked the signals
    // that the control thread takes.
    std::optional<sigset_t> program_mask_;

    HostLock output_mutex_;  // the redirected output's own
    // Redirected output: gathered up to piped_gathered_ (set by the program's
    // thread alone), of which a shutdown on another thread has sent up to
    // piped_sent_ (under the output lock).
    std::vector<std::byte> piped_output_;
    std::atomic<std::size_t> piped_gathered_{0};
    std::size_t piped_sent_ = 0;
    std::atomic<bool> output_failed_{false};   // a send of it failed: the reader is gone
    std::string outgoing_;                     // host sequences and frames for the next write
    std::vector<ConsoleCell> window_cells_;    // a window narrower than the buffer, gathered
    std::vector<TerminalEvent> piped_events_;  // decoded from piped input
    std::size_t piped_next_ = 0;               // the first of them not yet handed over
    std::deque<INPUT_RECORD> typed_;           // read by the control thread, not yet handed over
    // When the program's thread last looked for keys, and whether it is
    // looking now (in a wait); what processed input was then.
    std::atomic<std::chrono::steady_clock::rep> last_look_{std::chrono::steady_clock::now().time_since_epoch().count()};
    std::atomic<bool> looking_{false};
    std::atomic<bool> processed_input_{false};
    bool redraw_ = true;  // draw even if the model reports no change
    std::atomic<bool> input_ended_{false};
    bool close_raised_ = false;
    bool resumed_ = false;        // a SIGCONT noted now is our own resumption
    bool program_woken_ = false;  // the program's signal wake-up was seen readable
    std::atomic<bool> shut_down_{false};
    Kitty kitty_ = Kitty::Absent;
    // When the answers to the start-up queries are given up on: set when the
    // queries go out.
    std::optional<std::chrono::steady_clock::time_point> replies_due_;
};

}  // namespace platform
