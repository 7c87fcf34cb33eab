#if !defined(_WIN32)

#include "tests/platform/test_console.h"

#include <algorithm>

#include "platform/posix/control_events.h"
#include "platform/posix/us_layout.h"

namespace platform {
namespace {

constexpr WORD kEnhancedKeys[] = {VK_PRIOR, VK_NEXT, VK_END,    VK_HOME,   VK_LEFT,  VK_UP,
                                  VK_RIGHT, VK_DOWN, VK_INSERT, VK_DELETE, VK_DIVIDE};

bool is_letter_key(WORD vk) { return vk >= 'A' && vk <= 'Z'; }

}  // namespace

TestConsole::TestConsole(int cols, int rows) : ConsoleHost(model_, true, true), model_(cols, rows) {
    set_console_host(this);
}

TestConsole::TestConsole(COORD buffer, SMALL_RECT window) : ConsoleHost(model_, true, true), model_(buffer, window) {
    set_console_host(this);
}

TestConsole::~TestConsole() { set_console_host(nullptr); }

INPUT_RECORD TestConsole::key_event(WORD vk, char ch, DWORD control_state, bool down) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    key.bKeyDown = down ? TRUE : FALSE;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = vk;
    const UsKey* us = vk != 0 ? us_key_for_vk(vk) : nullptr;
    key.wVirtualScanCode = us != nullptr ? us->scan : 0;
    key.uChar.AsciiChar = ch;
    key.dwControlKeyState = control_state;
    return record;
}

void TestConsole::type(std::string_view text) {
    for (const char c : text) {
        const UsKey* key = us_key_for_char(c);
        const WORD vk = key != nullptr ? key->vk : 0;
        const DWORD state = key != nullptr && c == key->shifted && c != key->normal ? SHIFT_PRESSED : 0;
        push(key_event(vk, c, state, true));
        push(key_event(vk, c, state, false));
    }
}

void TestConsole::press(WORD vk, DWORD control_state) {
    const UsKey* key = us_key_for_vk(vk);
    char ch = 0;
    if ((control_state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0) {
        if (is_letter_key(vk)) ch = static_cast<char>(vk - 'A' + 1);
    } else if (key != nullptr) {
        ch = (control_state & SHIFT_PRESSED) != 0 ? key->shifted : key->normal;
    }
    if (std::find(std::begin(kEnhancedKeys), std::end(kEnhancedKeys), vk) != std::end(kEnhancedKeys)) {
        control_state |= ENHANCED_KEY;
    }
    push(key_event(vk, ch, control_state, true));
    push(key_event(vk, ch, control_state, false));
}

std::string TestConsole::row_text(int y) const {
    std::string text;
    for (const ConsoleCell& c : model_.row(y))
        text += static_cast<char>(c.ch);
    return text;
}

std::string TestConsole::screen_text() const {
    std::vector<std::string> rows;
    const SMALL_RECT w = model_.window();
    for (int y = w.Top; y <= w.Bottom; ++y) {
        std::string row =
            row_text(y).substr(static_cast<std::size_t>(w.Left), static_cast<std::size_t>(w.Right - w.Left + 1));
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(std::move(row));
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    std::string text;
    for (const std::string& row : rows) {
        if (&row != &rows.front()) text += '\n';
        text += row;
    }
    return text;
}

bool TestConsole::raise(DWORD type) { return raise_control_event(type); }

void TestConsole::fail(ConsoleCall call, bool failing) {
    failing_.set(static_cast<std::size_t>(call), failing);
    update_failing();
}

void TestConsole::fail_output(bool failing) {
    fail_output_ = failing;
    update_failing();
}

void TestConsole::fail_input(bool failing) {
    fail_input_ = failing;
    update_failing();
}

void TestConsole::update_failing() {
    const ConsoleCalls all = ConsoleCalls().set();
    set_failing(fail_output_ ? all : failing_, fail_input_ ? all : failing_);
}

void TestConsole::input_idle() {
    ++input_idles_;
    if (on_idle_) on_idle_();
}

void TestConsole::wait(DWORD milliseconds) {
    if (on_wait_) on_wait_(milliseconds);
    waits_.push_back(milliseconds);
    if (model_.input_count() > 0) {
        idle_waits_ = 0;
    } else if (++idle_waits_ > stall_limit_) {
        idle_waits_ = 0;
        throw Stalled();
    }
}

bool TestConsole::wait_for_input(DWORD milliseconds) {
    input_waits_.push_back(milliseconds);
    wait(milliseconds);
    return model_.has_input();
}

bool TestConsole::write_output(std::span<const std::byte> bytes, DWORD& written) {
    const std::size_t n = std::min(bytes.size(), write_limit_.value_or(bytes.size()));
    written_.append(reinterpret_cast<const char*>(bytes.data()), n);
    written = static_cast<DWORD>(n);
    return true;
}

}  // namespace platform

#endif
