// A console for tests: while a TestConsole exists it is the process's console,
// so the console functions of console_api.h (and the runtime above them) act
// on its model. Tests queue keys, read back cells, cursor and window, count
// bells and waits, raise control events, and make calls fail.
//
//     platform::TestConsole console(80, 25);
//     console.type("255\r");
//     ... run the runtime ...
//     EXPECT_EQ(console.row_text(0), "...");
//
// Sleep does not sleep here: waits are recorded and return at once. A program
// that keeps waiting for input that never comes is stopped by an exception
// (TestConsole::Stalled) after stall_limit() waits in a row with no input
// queued, instead of hanging the test.
//
// One at a time; it must outlive every console call made while it exists.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/console_host.h"
#include "platform/posix/console_model.h"

namespace platform {

class TestConsole final : public ConsoleHost {
  public:
    struct Stalled : std::runtime_error {
        Stalled() : std::runtime_error("the program waits for input that will never come") {}
    };
    struct BeepCall {
        DWORD frequency;
        DWORD duration;
        friend bool operator==(const BeepCall&, const BeepCall&) = default;
    };

    // A buffer of cols x rows shown whole by the window.
    TestConsole(int cols, int rows);
    // A buffer with a window over part of it.
    TestConsole(COORD buffer, SMALL_RECT window);
    ~TestConsole() override;
    TestConsole(const TestConsole&) = delete;
    TestConsole& operator=(const TestConsole&) = delete;

    ConsoleModel& model() { return model_; }

    // --- Keys ------------------------------------------------------------------
    // A key event record as the console reports it: repeat count 1, the scan
    // code of the US key with this virtual-key code (0 for none).
    static INPUT_RECORD key_event(WORD vk, char ch, DWORD control_state = 0, bool down = true);
    // Types each character as a key press and release on a US keyboard
    // (Shift for shifted characters; '\r' is Enter, '\t' Tab, '\b' Backspace,
    // '\x1b' Escape). A character no key types is queued as a key event with
    // virtual-key code 0, as composed or pasted characters arrive.
    void type(std::string_view text);
    // Presses and releases a key. The character is the one a US keyboard gives
    // for the key with these modifiers: with Ctrl, a letter gives its control
    // character and other keys 0; keys without a character give 0. The cursor
    // block, Insert, Delete and keypad slash get ENHANCED_KEY.
    void press(WORD vk, DWORD control_state = 0);
    void push(const INPUT_RECORD& record) { model_.push_input(record); }
    std::size_t queued() const { return model_.input_count(); }
    // Called when the program waits (Sleep, or a wait on the input handle),
    // before the wait is recorded: a test can deliver keys as a person would
    // type them. A wait on the input handle ends once a key is queued.
    void on_wait(std::function<void(DWORD milliseconds)> callback) { on_wait_ = std::move(callback); }
    // Called when PeekConsoleInputA finds the queue empty.
    void on_input_idle(std::function<void()> callback) { on_idle_ = std::move(callback); }

    // --- Screen ----------------------------------------------------------------
    const ConsoleCell& cell(int x, int y) const { return model_.cell(x, y); }
    // A buffer row's characters, trailing blanks included.
    std::string row_text(int y) const;
    // The window's rows without trailing blanks, joined with '\n', with the
    // empty rows at the bottom left out.
    std::string screen_text() const;
    COORD cursor() const { return model_.cursor(); }
    bool cursor_visible() const { return model_.cursor_info().bVisible != FALSE; }
    SMALL_RECT window() const { return model_.window(); }
    DWORD input_mode() const { return model_.input_mode(); }
    void set_input_mode(DWORD mode) { model_.set_input_mode(mode); }

    // --- What the program did ------------------------------------------------
    const std::vector<BeepCall>& beeps() const { return beeps_; }
    // The milliseconds of each wait: every Sleep and every wait on the input
    // handle.
    const std::vector<DWORD>& waits() const { return waits_; }
    // Of those, the waits on the input handle.
    const std::vector<DWORD>& input_waits() const { return input_waits_; }
    std::size_t input_idles() const { return input_idles_; }
    std::size_t shutdowns() const { return shutdowns_.load(); }
    // Called at every shutdown, possibly on a control handler's thread: a test
    // of a process's ending can leave a mark that it happened.
    void on_shutdown(std::function<void()> callback) { on_shutdown_ = std::move(callback); }
    // The bytes WriteFile took while output was not the console.
    const std::string& written() const { return written_; }
    void clear_written() { written_.clear(); }

    // --- Control events ------------------------------------------------------
    // Raises the event and returns once the handlers have run; see
    // raise_control_event (with no handler returning TRUE the process ends).
    bool raise(DWORD type);

    // --- Redirection and failures ----------------------------------------------
    using ConsoleHost::set_input_is_console;
    using ConsoleHost::set_output_is_console;
    // Makes one console function fail, on whichever handle it is called.
    void fail(ConsoleCall call, bool failing = true);
    // Makes every call on the output handle (or the input handle) fail,
    // WriteFile and GetStdHandle for it included.
    void fail_output(bool failing = true);
    void fail_input(bool failing = true);
    // WriteFile to a non-console output takes at most this many bytes per
    // call (0: reports success with nothing written); nullopt: all.
    void set_write_limit(std::optional<std::size_t> limit) { write_limit_ = limit; }
    std::size_t stall_limit() const { return stall_limit_; }
    void set_stall_limit(std::size_t waits) { stall_limit_ = waits; }

    // --- ConsoleHost -----------------------------------------------------------
    void input_idle() override;
    // Keys reach this console only from the program's own thread.
    void input_mode_set(DWORD) override {}
    void wait(DWORD milliseconds) override;
    bool wait_for_input(DWORD milliseconds) override;
    void beep(DWORD frequency, DWORD duration) override { beeps_.push_back({frequency, duration}); }
    bool write_output(std::span<const std::byte> bytes, DWORD& written) override;
    void shutdown() override {
        ++shutdowns_;
        if (on_shutdown_) on_shutdown_();
    }

  private:
    void update_failing();

    ConsoleModel model_;
    std::function<void(DWORD)> on_wait_;
    std::function<void()> on_idle_;
    std::function<void()> on_shutdown_;
    std::vector<BeepCall> beeps_;
    std::vector<DWORD> waits_;
    std::vector<DWORD> input_waits_;
    std::size_t input_idles_ = 0;
    std::atomic<std::size_t> shutdowns_{0};  // the handler thread may shut down
    std::string written_;
    ConsoleCalls failing_;
    bool fail_output_ = false;
    bool fail_input_ = false;
    std::optional<std::size_t> write_limit_;
    std::size_t stall_limit_ = 100000;
    std::size_t idle_waits_ = 0;
};

}  // namespace platform
