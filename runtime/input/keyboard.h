// The keyboard: console key events become key codes in one process-wide ring
// of 512 slots, read by waiting for a key, by the key as a text, by the key
// code with waiting and by the key-available test.
//
// Keys are polled, never read with a blocking call: every operation that looks
// at the queue first drains the console's pending events, so a key becomes
// visible only when some keyboard operation runs. The first drain also
// installs the console control handler, which turns closing the window,
// logging off and shutting down into the key kCloseKey: called on the
// console's own thread, it leaves the key for the queue, which takes it in at
// its next access on the program's thread.
#pragma once

#include <array>
#include <cstdint>

#include "platform/console_api.h"
#include "runtime/core/text.h"

namespace rt {

// -1 no key; 0..255 a character in the console's code page; (E << 8) | 0xFF an
// extended key, E being the PC BIOS keyboard extended code (Up is 0x48FF).
using KeyCode = std::int32_t;

inline constexpr KeyCode kNoKey = -1;

constexpr KeyCode extended_key(std::uint8_t code) { return static_cast<KeyCode>(code) << 8 | 0xFF; }

// The key posted for closing the window, logging off or shutting down (the
// same code as Alt+F4).
inline constexpr KeyCode kCloseKey = extended_key(0x6B);

inline constexpr std::int32_t kKeyQueueSlots = 512;
inline constexpr std::int32_t kKeyQueueMask = kKeyQueueSlots - 1;

// Empty when head equals tail, so it holds at most 511 keys; a post that would
// make tail reach head drops the oldest key instead.
struct KeyQueue {
    std::array<KeyCode, kKeyQueueSlots> slots{};
    std::int32_t head = 0;  // the oldest queued key, the next one read
    std::int32_t tail = 0;  // where the next posted key goes
};

// --- Operations for the rest of the runtime --------------------------------
// Each of the first four looks in console_hooks first; the defaults run when
// its entry is empty.

// Returns once a key has been posted since input_changed was last cleared (by
// this wait or by a removal), or when the limit in milliseconds is up; -1
// waits without end. Limits of 100 and more are checked every 50 ms; shorter
// ones only sleep. Removes no key: keys already queued before the last removal
// do not end it.
void wait_for_key(std::int32_t milliseconds);
// The oldest key, removed, as a temporary text of one character or of the two
// characters 255 and E; the shared empty text when no key is queued, or when
// no temporary can be had (the key is then lost).
StringDescriptor* read_key_text();
// The oldest key code, removed; waits until there is one.
KeyCode wait_key_code();
// 1 when a key is queued, else 0. Removes nothing and leaves input_changed.
std::int32_t key_available();

// Waits up to `milliseconds` on the console input handle, as a poll's pause:
// over at once when the console holds an input event or one arrives, so a key
// typed meanwhile is taken without waiting out the pause.
void await_console_input(std::int32_t milliseconds);

// --- Inner operations ----------------------------------------------------------

// The key code of a key event, or kNoKey: `character` is the event's 8-bit
// character, `control_state` its control-key state bits.
KeyCode translate_key_event(std::uint8_t character, std::uint16_t scan_code, std::uint16_t virtual_key,
                            std::uint32_t control_state);
// Drains the console's pending input events into the queue without blocking.
void pump_console_input();
// Queues a key; on the program's thread only, like every queue access.
void post_key(KeyCode code);
// The oldest key code, kept or removed; kNoKey when the queue is empty. Both
// drain the console first; pop_key drains once more after the removal and
// clears input_changed, so keys posted until then do not count as new.
KeyCode peek_key();
KeyCode pop_key();
// Drains the console, then reads and clears input_changed.
bool take_input_changed();

// The console control handler: leaves kCloseKey for the queue and reports the
// event handled for close, log-off and shut-down; leaves every other event to
// the console. Safe on any thread.
BOOL WINAPI console_close_handler(DWORD ctrl_type);
// Run from the at-exit list: takes the handler out again if it was installed.
void remove_close_handler();

}  // namespace rt
