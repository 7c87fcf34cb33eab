#include "runtime/input/keyboard.h"

#include <atomic>

#include "runtime/core/beep_sleep.h"
#include "runtime/core/console_hooks.h"
#include "runtime/core/startup.h"
#include "runtime/input/key_tables.h"

namespace rt {
namespace {

// The queue and input_changed are touched on the program's thread only: they
// are read or changed several times for every key, and so need no lock. The
// close handler, on the console's own thread, only counts its keys here; the
// program's thread moves them into the queue first thing in every queue
// access, so a close key noted during an access is queued as if it had come
// just after that access, and every later access sees it.
std::atomic<std::uint32_t> pending_close_keys{0};
KeyQueue key_queue;
bool input_changed = false;

// Touched only on the program's thread (by the drain).
std::uint32_t alt_digit_value = 0;
bool close_handler_installed = false;

constexpr std::int32_t kPollMs = 50;
constexpr int kUpperMask = 0x1;  // _isctype's upper-case class
constexpr int kLowerMask = 0x2;  // its lower-case class

enum class Modifier { none, shift, ctrl, alt };

Modifier modifier_of(DWORD state) {
    if ((state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0) return Modifier::alt;
    if ((state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0) return Modifier::ctrl;
    if ((state & SHIFT_PRESSED) != 0) return Modifier::shift;
    return Modifier::none;
}

bool alt_alone(DWORD state) {
    return (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0 &&
           (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | SHIFT_PRESSED)) == 0;
}

template <typename Row>
std::uint16_t column(const Row& row, Modifier modifier) {
    switch (modifier) {
        case Modifier::shift:
            return row.shift;
        case Modifier::ctrl:
            return row.ctrl;
        case Modifier::alt:
            return row.alt;
        case Modifier::none:
            break;
    }
    return row.normal;
}

KeyCode entry_code(std::uint16_t entry) { return entry > 0xFF ? static_cast<KeyCode>(entry | 0xFFu) : entry; }

// The key's character in the other case; the case rules know only single
// bytes, so anything wider is its own other case.
int other_case(int character) {
    if (character > 0xFF) return character;
    if (crt::_isctype(character, kUpperMask) != 0) return crt::tolower(character);
    if (crt::_isctype(character, kLowerMask) != 0) return crt::toupper(character);
    return character;
}

// Every enhanced key has a code in every column, so a row found is a key.
constexpr bool every_enhanced_entry_is_a_key() {
    for (const EnhancedKeys& row : EnhancedKeyTable) {
        if (row.normal == 0 || row.shift == 0 || row.ctrl == 0 || row.alt == 0) return false;
    }
    return true;
}
static_assert(every_enhanced_entry_is_a_key());

KeyCode translate_enhanced(WORD scan_code, Modifier modifier) {
    for (const EnhancedKeys& row : EnhancedKeyTable) {
        if (row.scan_code == scan_code) return entry_code(column(row, modifier));
    }
    return kNoKey;
}

void post_composed_value() {
    post_key(static_cast<KeyCode>(alt_digit_value % 256));
    alt_digit_value = 0;
}

void handle_key_down(const KEY_EVENT_RECORD& event) {
    if (event.wRepeatCount == 0) return;
    const KeyCode code = translate_key_event(static_cast<std::uint8_t>(event.uChar.AsciiChar), event.wVirtualScanCode,
                                             event.wVirtualKeyCode, event.dwControlKeyState);
    if (is_keypad_digit(event.wVirtualKeyCode) && alt_alone(event.dwControlKeyState)) {
        alt_digit_value = alt_digit_value * 10u + static_cast<std::uint32_t>(event.wVirtualKeyCode - VK_NUMPAD0);
        if (code != kNoKey) post_key(code);
    } else if (code != kNoKey) {
        alt_digit_value = 0;
        post_key(code);
    } else if (!alt_alone(event.dwControlKeyState) && alt_digit_value != 0) {
        post_composed_value();
    }
}

// The release of Alt ends a composition; releases while Alt is still held
// alone (the keypad digits themselves) do not.
void handle_key_up(const KEY_EVENT_RECORD& event) {
    if (!alt_alone(event.dwControlKeyState) && alt_digit_value != 0) post_composed_value();
}

void install_close_handler() {
    close_handler_installed = true;
    crt::atexit(remove_close_handler);
    SetConsoleCtrlHandler(console_close_handler, TRUE);
}

void append_key(KeyCode code) {
    key_queue.slots[static_cast<std::size_t>(key_queue.tail)] = code;
    key_queue.tail = (key_queue.tail + 1) & kKeyQueueMask;
    if (key_queue.tail == key_queue.head) key_queue.head = (key_queue.tail + 1) & kKeyQueueMask;
    input_changed = true;
}

// A plain load while nothing is pending; the exchange only when there is.
void queue_pending_close_keys() {
    if (pending_close_keys.load(std::memory_order_acquire) == 0) return;
    for (std::uint32_t count = pending_close_keys.exchange(0, std::memory_order_acquire); count > 0; --count)
        append_key(kCloseKey);
}

// The oldest queued key, left in the queue; kNoKey when it is empty.
KeyCode oldest_key() {
    queue_pending_close_keys();
    if (key_queue.head == key_queue.tail) return kNoKey;
    return key_queue.slots[static_cast<std::size_t>(key_queue.head)];
}

// The oldest queued key, taken out of the queue; kNoKey when it is empty.
KeyCode remove_oldest_key() {
    const KeyCode code = oldest_key();
    if (code != kNoKey) key_queue.head = (key_queue.head + 1) & kKeyQueueMask;
    return code;
}

// Reads and acts on the record a peek has found, and on every one the peeks
// after it find.
void take_records(HANDLE input) {
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return;
        if (record.EventType == KEY_EVENT) {
            if (record.Event.KeyEvent.bKeyDown) {
                handle_key_down(record.Event.KeyEvent);
            } else {
                handle_key_up(record.Event.KeyEvent);
            }
        }
        count = 0;
        if (!PeekConsoleInputA(input, &record, 1, &count) || count == 0) return;
    }
}

}  // namespace

KeyCode translate_key_event(std::uint8_t character, std::uint16_t scan_code, std::uint16_t virtual_key,
                            std::uint32_t control_state) {
    const Modifier modifier = modifier_of(control_state);
    if (character == 0 && (control_state & ENHANCED_KEY) != 0) return translate_enhanced(scan_code, modifier);
    const KeyCode plain = character != 0 ? character : kNoKey;
    if (scan_code > kLastScanCode) return plain;

    const int layout_character = static_cast<int>(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_CHAR) & 0xFFFFu);
    const ScanKeys& row = ScanKeyTable[scan_code];
    std::uint32_t candidate = 0;
    if (modifier != Modifier::none) {
        candidate = column(row, modifier);
    } else {
        candidate = character != 0 ? static_cast<std::uint32_t>(layout_character) : row.normal;
    }
    // An extended code only for the key's own character (either case) or for
    // a key that types none: a character made with AltGr or another layout
    // stays that character.
    if (candidate > 0xFF && (character == layout_character || character == other_case(layout_character))) {
        return static_cast<KeyCode>(candidate | 0xFFu);
    }
    return plain;
}

void pump_console_input() {
    if (!close_handler_installed) install_close_handler();
    HANDLE input = std_input_handle();
    INPUT_RECORD record{};
    DWORD count = 0;
    if (PeekConsoleInputA(input, &record, 1, &count) && count != 0) take_records(input);
}

void post_key(KeyCode code) {
    queue_pending_close_keys();
    append_key(code);
}

KeyCode peek_key() {
    pump_console_input();
    return oldest_key();
}

KeyCode pop_key() {
    pump_console_input();
    const KeyCode code = remove_oldest_key();
    if (code != kNoKey) take_input_changed();
    return code;
}

bool take_input_changed() {
    pump_console_input();
    queue_pending_close_keys();
    const bool changed = input_changed;
    input_changed = false;
    return changed;
}

void wait_for_key(std::int32_t milliseconds) {
    if (console_hooks.wait_for_key != nullptr) return console_hooks.wait_for_key(milliseconds);
    if (milliseconds == -1) {
        while (!take_input_changed())
            await_console_input(kPollMs);
        return;
    }
    if (milliseconds >= 2 * kPollMs) {
        do {
            if (take_input_changed()) return;
            await_console_input(kPollMs);
            milliseconds -= kPollMs;
        } while (milliseconds > kPollMs);
    }
    // The last stretch, and any limit too short to poll, only sleeps.
    if (milliseconds > 0) sleep_ms(milliseconds);
}

StringDescriptor* read_key_text() {
    if (console_hooks.read_key_text != nullptr) return console_hooks.read_key_text();
    const KeyCode code = pop_key();
    if (code == kNoKey) return shared_empty_text();
    const bool extended = code > 0xFF;
    StringDescriptor* text = temp_text_alloc(nullptr, extended ? 2 : 1);
    if (text == nullptr) return shared_empty_text();
    if (extended) {
        text->data[0] = static_cast<char>(0xFF);
        text->data[1] = static_cast<char>(code >> 8);
        text->data[2] = '\0';
    } else {
        text->data[0] = static_cast<char>(code);
        text->data[1] = '\0';
    }
    return text;
}

KeyCode wait_key_code() {
    if (console_hooks.wait_key_code != nullptr) return console_hooks.wait_key_code();
    for (;;) {
        const KeyCode code = pop_key();
        if (code != kNoKey) return code;
        wait_for_key(-1);
    }
}

std::int32_t key_available() {
    if (console_hooks.key_available != nullptr) return console_hooks.key_available();
    return peek_key() != kNoKey ? 1 : 0;
}

void await_console_input(std::int32_t milliseconds) {
    WaitForSingleObject(std_input_handle(), static_cast<DWORD>(milliseconds));
}

BOOL WINAPI console_close_handler(DWORD ctrl_type) {
    switch (ctrl_type) {
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            pending_close_keys.fetch_add(1, std::memory_order_release);
            return TRUE;
        default:
            return FALSE;
    }
}

void remove_close_handler() {
    if (close_handler_installed) SetConsoleCtrlHandler(console_close_handler, FALSE);
}

}  // namespace rt
