// What hosts the process's console: a terminal, plain byte streams, or a test.
// The console functions of console_api.h keep their state in the host's
// console model and call the host where a real console would do work of its
// own (show the screen, gather keys, ring the bell, write redirected output).
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/console_api.h"

namespace platform {

class ConsoleModel;

// The console functions that a host can make fail (tests do, to reach the
// runtime's fallbacks).
enum class ConsoleCall {
    GetStdHandle,
    GetConsoleMode,
    SetConsoleMode,
    GetConsoleScreenBufferInfo,
    SetConsoleCursorPosition,
    GetConsoleCursorInfo,
    SetConsoleCursorInfo,
    SetConsoleWindowInfo,
    WriteConsoleOutputA,
    ScrollConsoleScreenBufferA,
    FillConsoleOutputAttribute,
    FillConsoleOutputCharacterA,
    WriteFile,
    PeekConsoleInputA,
    ReadConsoleInputA,
};
inline constexpr std::size_t kConsoleCallCount = static_cast<std::size_t>(ConsoleCall::ReadConsoleInputA) + 1;
using ConsoleCalls = std::bitset<kConsoleCallCount>;

// Every console function asks its host what a call on a handle finds, most of
// them several times for each key: the answers are kept here, a load each,
// rather than behind virtual calls.
class ConsoleHost {
  public:
    virtual ~ConsoleHost() = default;
    ConsoleHost(const ConsoleHost&) = delete;
    ConsoleHost& operator=(const ConsoleHost&) = delete;

    // The screen buffer, window, cursor and input queue.
    ConsoleModel& console() const { return console_; }

    // False when standard output is not the console: then screen operations on
    // the output handle fail and WriteFile sends its bytes to write_output.
    bool output_is_console() const { return output_is_console_; }
    // False when standard input is not the console: then console input
    // operations on the input handle fail.
    bool input_is_console() const { return input_is_console_; }

    // Whether `call` is to fail, changing nothing. `on_output` tells the
    // handle: the output handle, or the input handle (for GetStdHandle, the
    // handle asked for). Only tests make calls fail.
    bool fails(ConsoleCall call, bool on_output) const {
        return (on_output ? failing_on_output_ : failing_on_input_).test(static_cast<std::size_t>(call));
    }
    // Whether `call` on the output handle reaches the screen, or on the input
    // handle the keyboard: the handle is the console and the call is not made
    // to fail. One test of a bit, for the calls the program makes several
    // times for each key, mostly through pipes where they fail.
    bool reaches_screen(ConsoleCall call) const { return (screen_calls_ & bit(call)) != 0; }
    bool reaches_keyboard(ConsoleCall call) const { return (keyboard_calls_ & bit(call)) != 0; }

    // PeekConsoleInputA found the queue empty: the program is polling. The
    // host brings the screen up to date and may move typed keys into the queue.
    virtual void input_idle() = 0;
    // Sleep: the program waits the whole time. The host brings the screen up
    // to date and may move typed keys into the queue meanwhile.
    virtual void wait(DWORD milliseconds) = 0;
    // WaitForSingleObject on the input handle: as wait, but over as soon as
    // the input queue holds a record. True when it does.
    virtual bool wait_for_input(DWORD milliseconds) = 0;
    virtual void beep(DWORD frequency, DWORD duration) = 0;
    // SetConsoleMode gave the input handle `mode`: a host that reads keys on
    // another thread while the program computes learns at once whether
    // Ctrl+C is a key or an event.
    virtual void input_mode_set(DWORD mode) = 0;

    // Bytes written to the output handle when it is not the console. Sets the
    // count written; false on failure.
    virtual bool write_output(std::span<const std::byte> bytes, DWORD& written) = 0;

    // The process is ending (exit, or a signal that ends it): everything
    // pending goes out and the terminal, if any, is given back as it was.
    // Must be safe to call more than once, and from another thread than the
    // one that runs the program (a control event's default handling ends the
    // process from the handler thread).
    virtual void shutdown() = 0;

  protected:
    // `console` may be a member of the derived host not yet constructed: it is
    // only bound here, never used before the derived constructor has run.
    ConsoleHost(ConsoleModel& console, bool output_is_console, bool input_is_console)
        : console_(console), output_is_console_(output_is_console), input_is_console_(input_is_console) {
        update_reach();
    }

    void set_output_is_console(bool is_console) {
        output_is_console_ = is_console;
        update_reach();
    }
    void set_input_is_console(bool is_console) {
        input_is_console_ = is_console;
        update_reach();
    }
    void set_failing(const ConsoleCalls& on_output, const ConsoleCalls& on_input) {
        failing_on_output_ = on_output;
        failing_on_input_ = on_input;
        update_reach();
    }

  private:
    static constexpr std::uint32_t bit(ConsoleCall call) { return std::uint32_t{1} << static_cast<unsigned>(call); }
    static_assert(kConsoleCallCount <= 32);

    // Called by every setter of what the calls find, so the masks never lag.
    void update_reach() {
        screen_calls_ = output_is_console_ ? static_cast<std::uint32_t>((~failing_on_output_).to_ulong()) : 0;
        keyboard_calls_ = input_is_console_ ? static_cast<std::uint32_t>((~failing_on_input_).to_ulong()) : 0;
    }

    ConsoleModel& console_;
    bool output_is_console_;
    bool input_is_console_;
    ConsoleCalls failing_on_output_;
    ConsoleCalls failing_on_input_;
    std::uint32_t screen_calls_ = 0;
    std::uint32_t keyboard_calls_ = 0;
};

// The process's console host. Until one is installed, the first use creates
// the default host for this process's standard streams. The first use also
// arranges for the host to be shut down at exit, after the at-exit entries
// that the program registers later.
ConsoleHost& console_host();
// Shuts the console host down, if one was ever installed or made; never
// makes one just for that.
void shut_down_console_host();
// Registers, once, an at-exit entry that calls shut_down_console_host. The
// earlier it is registered, the later it runs: the C runtime's atexit and
// exit call this before anything else.
void shut_down_host_at_exit();
// Makes `host` the process's console host (tests install their own); null
// goes back to the default. The caller keeps ownership.
void set_console_host(ConsoleHost* host);

}  // namespace platform
