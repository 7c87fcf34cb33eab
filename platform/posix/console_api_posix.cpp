// The console functions of console_api.h over the process's console host.
#if !defined(_WIN32)

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/console_api.h"
#include "platform/posix/console_host.h"
#include "platform/posix/console_model.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/terminal_host.h"
#include "platform/posix/us_layout.h"

namespace platform {
namespace {

// The handles are the addresses of these: distinct, never null.
char g_input_handle_tag;
char g_output_handle_tag;

HANDLE input_handle() { return &g_input_handle_tag; }
HANDLE output_handle() { return &g_output_handle_tag; }

// The host every console call goes to: the installed one, else the default
// one once made. The default one is kept apart so that a test host that goes
// away hands the calls back to it.
std::atomic<ConsoleHost*> g_current{nullptr};
std::atomic<ConsoleHost*> g_default{nullptr};

// What a BEL written to the console sounds like.
constexpr DWORD kBellFrequency = 800;
constexpr DWORD kBellDuration = 200;
// Beep's range of frequencies.
constexpr DWORD kLowestTone = 37;
constexpr DWORD kHighestTone = 32767;

// The host for this process's standard streams when none is installed. A
// closed stream is an empty or failing one, never a descriptor the host opens.
ConsoleHost* make_default_host() {
    hold_closed_standard_streams();
    return new TerminalHost(HostStreams::detect(STDIN_FILENO, STDOUT_FILENO));
}

// The console's screen for a call on `handle`, or null when the call fails.
// Through pipes a failing one is a compare and a bit test.
ConsoleModel* screen(HANDLE handle, ConsoleCall call) {
    if (handle != output_handle()) return nullptr;
    const ConsoleHost& host = console_host();
    return host.reaches_screen(call) ? &host.console() : nullptr;
}

// The host whose console's input a call on `handle` reaches, or null when the
// call fails.
ConsoleHost* keyboard_host(HANDLE handle, ConsoleCall call) {
    if (handle != input_handle()) return nullptr;
    ConsoleHost& host = console_host();
    return host.reaches_keyboard(call) ? &host : nullptr;
}

// The console's input for a call on `handle`, or null when the call fails.
ConsoleModel* keyboard(HANDLE handle, ConsoleCall call) {
    ConsoleHost* host = keyboard_host(handle, call);
    return host != nullptr ? &host->console() : nullptr;
}

// The screen or the keyboard, whichever `handle` names, for the mode calls.
ConsoleModel* screen_or_keyboard(HANDLE handle, ConsoleCall call) {
    return handle == output_handle() ? screen(handle, call) : keyboard(handle, call);
}

BOOL result(bool ok) { return ok ? TRUE : FALSE; }

// The first call makes the default host, unless one is installed by then.
ConsoleHost& make_console_host() {
    static ConsoleHost* const default_host = [] {
        shut_down_host_at_exit();
        ConsoleHost* host = make_default_host();
        g_default.store(host);
        return host;
    }();
    ConsoleHost* expected = nullptr;
    g_current.compare_exchange_strong(expected, default_host);
    return *g_current.load();
}

}  // namespace

// Every console function asks, so the host once made is one load away.
ConsoleHost& console_host() {
    if (ConsoleHost* host = g_current.load(std::memory_order_acquire)) return *host;
    return make_console_host();
}

void shut_down_console_host() {
    if (ConsoleHost* host = g_current.load()) host->shutdown();
}

void shut_down_host_at_exit() {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(shut_down_console_host); });
}

void set_console_host(ConsoleHost* host) {
    if (host != nullptr) shut_down_host_at_exit();
    g_current.store(host != nullptr ? host : g_default.load());
}

}  // namespace platform

using platform::ConsoleCall;
using platform::ConsoleModel;

// A failed GetStdHandle gives null, as when the process has no such handle.
// Standard error is not a console handle here.
HANDLE GetStdHandle(DWORD std_handle) {
    if (std_handle != STD_INPUT_HANDLE && std_handle != STD_OUTPUT_HANDLE) return INVALID_HANDLE_VALUE;
    const bool output = std_handle == STD_OUTPUT_HANDLE;
    if (platform::console_host().fails(ConsoleCall::GetStdHandle, output)) return nullptr;
    return output ? platform::output_handle() : platform::input_handle();
}

BOOL GetConsoleMode(HANDLE console, DWORD* mode) {
    ConsoleModel* m = platform::screen_or_keyboard(console, ConsoleCall::GetConsoleMode);
    if (m == nullptr || mode == nullptr) return FALSE;
    *mode = console == platform::output_handle() ? m->output_mode() : m->input_mode();
    return TRUE;
}

BOOL SetConsoleMode(HANDLE console, DWORD mode) {
    ConsoleModel* m = platform::screen_or_keyboard(console, ConsoleCall::SetConsoleMode);
    if (m == nullptr) return FALSE;
    if (console == platform::output_handle()) {
        m->set_output_mode(mode);
    } else {
        m->set_input_mode(mode);
        platform::console_host().input_mode_set(mode);
    }
    return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE output, CONSOLE_SCREEN_BUFFER_INFO* info) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::GetConsoleScreenBufferInfo);
    if (m == nullptr || info == nullptr) return FALSE;
    *info = m->screen_buffer_info();
    return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE output, COORD position) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::SetConsoleCursorPosition);
    return platform::result(m != nullptr && m->set_cursor_position(position));
}

BOOL GetConsoleCursorInfo(HANDLE output, CONSOLE_CURSOR_INFO* info) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::GetConsoleCursorInfo);
    if (m == nullptr || info == nullptr) return FALSE;
    *info = m->cursor_info();
    return TRUE;
}

BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO* info) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::SetConsoleCursorInfo);
    return platform::result(m != nullptr && info != nullptr && m->set_cursor_info(*info));
}

BOOL SetConsoleWindowInfo(HANDLE output, BOOL absolute, const SMALL_RECT* window) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::SetConsoleWindowInfo);
    return platform::result(m != nullptr && window != nullptr && m->set_window(absolute != FALSE, *window));
}

BOOL WriteConsoleOutputA(HANDLE output, const CHAR_INFO* buffer, COORD buffer_size, COORD buffer_coord,
                         SMALL_RECT* write_region) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::WriteConsoleOutputA);
    if (m == nullptr || buffer == nullptr || write_region == nullptr || buffer_size.X <= 0 || buffer_size.Y <= 0) {
        return FALSE;
    }
    const std::span cells(buffer, static_cast<std::size_t>(buffer_size.X) * static_cast<std::size_t>(buffer_size.Y));
    return platform::result(m->write_cells(cells, buffer_size, buffer_coord, *write_region));
}

BOOL ScrollConsoleScreenBufferA(HANDLE output, const SMALL_RECT* scroll_rectangle, const SMALL_RECT* clip_rectangle,
                                COORD destination_origin, const CHAR_INFO* fill) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::ScrollConsoleScreenBufferA);
    if (m == nullptr || scroll_rectangle == nullptr || fill == nullptr) return FALSE;
    const platform::ConsoleCell fill_cell{static_cast<std::uint8_t>(fill->Char.AsciiChar), fill->Attributes};
    return platform::result(m->scroll(*scroll_rectangle, clip_rectangle, destination_origin, fill_cell));
}

BOOL FillConsoleOutputAttribute(HANDLE output, WORD attribute, DWORD length, COORD start, DWORD* written) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::FillConsoleOutputAttribute);
    if (m == nullptr || written == nullptr) return FALSE;
    return platform::result(m->fill_attribute(attribute, length, start, *written));
}

BOOL FillConsoleOutputCharacterA(HANDLE output, CHAR character, DWORD length, COORD start, DWORD* written) {
    ConsoleModel* m = platform::screen(output, ConsoleCall::FillConsoleOutputCharacterA);
    if (m == nullptr || written == nullptr) return FALSE;
    return platform::result(m->fill_character(static_cast<std::uint8_t>(character), length, start, *written));
}

// Only the console output handle takes bytes. There they are the console's
// text output, or, when standard output is not a console, the host's output.
// The count written may be left out.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void* /*overlapped*/) {
    DWORD done = 0;
    bool ok = false;
    platform::ConsoleHost& host = platform::console_host();
    if (file == platform::output_handle() && !host.fails(ConsoleCall::WriteFile, true) &&
        (buffer != nullptr || count == 0)) {
        const auto bytes = std::as_bytes(std::span(static_cast<const char*>(buffer), count));
        if (host.output_is_console()) {
            host.console().write_text(bytes);
            for (auto bells = std::count(bytes.begin(), bytes.end(), std::byte{'\a'}); bells > 0; --bells) {
                host.beep(platform::kBellFrequency, platform::kBellDuration);
            }
            done = count;
            ok = true;
        } else {
            ok = host.write_output(bytes, done);
        }
    }
    if (written != nullptr) *written = done;
    return platform::result(ok);
}

// Never blocks. When the queue is empty the host gets the chance to bring in
// what has been typed, and the queue is looked at again.
BOOL PeekConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, DWORD* read) {
    platform::ConsoleHost* host = platform::keyboard_host(input, ConsoleCall::PeekConsoleInputA);
    if (read != nullptr) *read = 0;
    if (host == nullptr || read == nullptr || (buffer == nullptr && length > 0)) return FALSE;
    ConsoleModel& m = host->console();
    if (!m.has_input()) {
        host->input_idle();
        if (!m.has_input()) return TRUE;
    }
    *read = static_cast<DWORD>(m.peek_input(std::span(buffer, length)));
    return TRUE;
}

// Fails instead of blocking when the queue is empty: callers peek first.
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, DWORD* read) {
    platform::ConsoleHost* host = platform::keyboard_host(input, ConsoleCall::ReadConsoleInputA);
    if (read != nullptr) *read = 0;
    if (host == nullptr || read == nullptr || (buffer == nullptr && length > 0)) return FALSE;
    ConsoleModel& m = host->console();
    if (!m.has_input()) return FALSE;
    *read = static_cast<DWORD>(m.read_input(std::span(buffer, length)));
    return TRUE;
}

void Sleep(DWORD milliseconds) { platform::console_host().wait(milliseconds); }

// The input handle is signalled while its queue holds a record, as a console's
// is; a piped standard input counts as the console's too.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (handle != platform::input_handle()) return WAIT_FAILED;
    platform::ConsoleHost& host = platform::console_host();
    // Keys that no console call can read never end the wait.
    if (!host.reaches_keyboard(ConsoleCall::PeekConsoleInputA)) {
        host.wait(milliseconds);
        return WAIT_TIMEOUT;
    }
    if (host.console().has_input()) return WAIT_OBJECT_0;
    return host.wait_for_input(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL Beep(DWORD frequency, DWORD duration) {
    if (frequency < platform::kLowestTone || frequency > platform::kHighestTone) return FALSE;
    platform::console_host().beep(frequency, duration);
    return TRUE;
}

// Only the translation the runtime asks for, MAPVK_VK_TO_CHAR on a US layout:
// a letter key gives its upper-case letter, another key its unshifted
// character, and a key without one 0. Other map types give 0.
UINT MapVirtualKeyA(UINT code, UINT map_type) {
    if (map_type != MAPVK_VK_TO_CHAR || code > 0xFFFF) return 0;
    const platform::UsKey* key = platform::us_key_for_vk(static_cast<WORD>(code));
    if (key == nullptr) return 0;
    const auto ch = static_cast<unsigned char>(key->normal);
    return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch;
}

#endif
