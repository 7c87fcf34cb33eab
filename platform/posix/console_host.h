// What hosts the process's console: a terminal, plain byte streams, or a test.
// The console functions of console_api.h keep their state in the host's
// console model and call the host where a real console would do work of its
// own (show the screen, gather keys, ring the bell, write redirected output).
#pragma once

#include <cstddef>
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

class ConsoleHost {
  public:
    virtual ~ConsoleHost() = default;

    // The screen buffer, window, cursor and input queue.
    virtual ConsoleModel& console() = 0;

    // False when standard output is not the console: then screen operations on
    // the output handle fail and WriteFile sends its bytes to write_output.
    virtual bool output_is_console() const = 0;
    // False when standard input is not the console: then console input
    // operations on the input handle fail.
    virtual bool input_is_console() const = 0;

    // PeekConsoleInputA found the queue empty: the program is polling. The
    // host brings the screen up to date and may move typed keys into the queue.
    virtual void input_idle() = 0;
    // Sleep: the program waits. The host brings the screen up to date and may
    // return early once a key has been queued.
    virtual void wait(DWORD milliseconds) = 0;
    virtual void beep(DWORD frequency, DWORD duration) = 0;

    // Bytes written to the output handle when it is not the console. Sets the
    // count written; false on failure.
    virtual bool write_output(std::span<const std::byte> bytes, DWORD& written) = 0;

    // The process is ending (exit, or a signal that ends it): everything
    // pending goes out and the terminal, if any, is given back as it was.
    // Must be safe to call more than once, and from another thread than the
    // one that runs the program (a control event's default handling ends the
    // process from the handler thread).
    virtual void shutdown() = 0;

    // Whether `call` is to fail, changing nothing. `on_output` tells the
    // handle: the output handle, or the input handle (for GetStdHandle, the
    // handle asked for). Only tests make calls fail.
    virtual bool fails(ConsoleCall /*call*/, bool /*on_output*/) const { return false; }
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
