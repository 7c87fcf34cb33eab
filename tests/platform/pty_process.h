// A program run on a pseudo-terminal, for tests: what it sends to the terminal
// is read through a terminal emulator screen, keys are typed into it, and the
// terminal's modes can be compared with the ones it started with. Every wait is
// bounded and reports a timeout as a failure instead of hanging.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/platform/vterm_screen.h"

namespace platform {

// A pseudo-terminal: the terminal's side (`master`) and the program's side
// (`slave`), both close-on-exec. Throws std::runtime_error when one cannot be
// had; the caller closes both.
struct PtyPair {
    int master = -1;
    int slave = -1;
};
PtyPair open_pty_pair();
// Gives the terminal a new size, as its window would.
void set_pty_size(int master, int cols, int rows);

class PtyProcess {
  public:
    // Closed: the program starts without that descriptor.
    enum class Stream { Terminal, Pipe, Closed };

    struct Options {
        // The first four, as brace lists give them; the rest by name.
        Options(Stream input_stream = Stream::Terminal, Stream output_stream = Stream::Terminal, std::string piped = {},
                bool kitty = false)
            : input(input_stream), output(output_stream), piped_input(std::move(piped)), kitty_terminal(kitty) {}

        Stream input = Stream::Terminal;
        Stream output = Stream::Terminal;
        // Written to standard input when it is a pipe, which is then closed.
        std::string piped_input;
        // Answer the kitty keyboard protocol query as a terminal with the
        // protocol would (flags 0), before the emulator's own replies.
        bool kitty_terminal = false;
        // A terminal that answers no query at all.
        bool silent_terminal = false;
        // Signals the program starts ignoring, as a shell's background job
        // or nohup starts it.
        std::vector<int> ignored_signals;
        // NAME=VALUE settings the program's environment has on top of this
        // process's, replacing a variable of the same name.
        std::vector<std::string> environment;
    };

    static constexpr std::chrono::seconds kTimeout{10};
    static constexpr std::chrono::seconds kLongestRead{90};

    // A terminal of this size whose modes are the usual ones of a login shell's
    // terminal (canonical input, echo, signals, output processing).
    PtyProcess(int cols, int rows);
    ~PtyProcess();
    PtyProcess(const PtyProcess&) = delete;
    PtyProcess& operator=(const PtyProcess&) = delete;

    // Runs `program` with `args` in a process group of its own whose standard
    // streams are the terminal or pipes as `options` say; standard error is
    // this process's.
    void start(const std::string& program, const std::vector<std::string>& args, const Options& options);
    void start(const std::string& program, const std::vector<std::string>& args = {}) {
        start(program, args, Options{});
    }

    pid_t pid() const { return pid_; }

    // Bytes typed on the terminal.
    void type(std::string_view bytes);
    // Bytes typed on the terminal, more than it holds at once: what the
    // program sends meanwhile is read, so that neither side waits on the other.
    void type_reading(std::string_view bytes);
    void signal(int number);
    // The terminal's other side is closed, as when its window closes: the
    // program's terminal hangs up. Nothing more is read from it.
    void close_terminal();
    // The terminal changes size: the emulator follows and the program gets
    // SIGWINCH (it has no controlling terminal that would send it).
    void resize(int cols, int rows);

    // Reads what the program sends until `done()` holds; false once the
    // program has sent nothing for kTimeout, or after kLongestRead.
    bool read_until(const std::function<bool()>& done);
    // Reads until row `y` of the screen starts with `text`.
    bool read_until_row(int y, std::string_view text);
    // Reads until the program has closed its piped standard output.
    bool read_until_output_closed();

    VtermScreen& screen() { return screen_; }
    // Everything the terminal received, and everything written to the piped
    // standard output.
    const std::string& terminal_bytes() const { return terminal_bytes_; }
    const std::string& output_bytes() const { return output_bytes_; }

    // The program's next change of state (exit, death, stop) as a wait status;
    // nothing after kTimeout. Unless told `Reading::Nothing`, reads terminal
    // output meanwhile, so a program blocked on a full terminal cannot stall
    // it.
    enum class Reading { Output, Nothing };
    std::optional<int> wait_status(Reading reading = Reading::Output);

    // Whether the program's first thread is in the system call `number`
    // (SYS_write, ...), waiting for it to end; false when the program's state
    // cannot be read.
    bool in_system_call(long number) const;

    termios modes() const;
    const termios& initial_modes() const { return initial_modes_; }

  private:
    bool pump(std::chrono::steady_clock::time_point deadline);
    // Reads everything already waiting on the terminal and the output pipe.
    void take_what_is_left();
    void take(int fd, std::string& into, bool to_screen);

    int master_ = -1;
    int slave_ = -1;
    int child_signals_ = -1;  // signalfd for SIGCHLD
    int output_pipe_ = -1;    // read end of the program's piped standard output
    pid_t pid_ = -1;
    bool exited_ = false;
    bool kitty_terminal_ = false;
    bool silent_terminal_ = false;
    termios initial_modes_{};
    VtermScreen screen_;
    std::string terminal_bytes_;
    std::string output_bytes_;
    std::size_t kitty_scan_from_ = 0;
};

// The setting for Options::environment that spares a program built with
// AddressSanitizer its leak check at exit (whatever else ASAN_OPTIONS says
// stays); other builds ignore it. For sweeps that start the program hundreds
// of times, where the check costs as much as the rest of a run.
std::string without_leak_check();

// The wait status of child `pid` once it has ended (reaped); nothing if it has
// not by `deadline`. The wait ends when the child does, not at a polling step.
std::optional<int> wait_for_end(pid_t pid, std::chrono::steady_clock::time_point deadline);

// Whether two sets of terminal modes are the same in every field that a
// program can change.
bool same_modes(const termios& a, const termios& b);

}  // namespace platform
