// Terminal input as console input: turns the bytes a terminal (or a pipe)
// delivers into the key event records a console reports, plus the few replies
// to queries that the terminal host asks for at start.
//
// The decoder is a pure function of the bytes and the times passed in: it
// reads no clock and does no I/O, so the host decides when time has passed and
// tests never sleep.
//
// Keys carry what the console sets: virtual-key code, PC scan code (as the US
// layout of platform/us_layout.h has them), the character as a code page 437
// byte, the control-key state (SHIFT_PRESSED, LEFT_/RIGHT_ CTRL and ALT,
// ENHANCED_KEY for the cursor block, keypad Enter and keypad slash) and a
// repeat count of 1 (win32-input-mode reports pass the terminal's own count).
//
// Understood input:
// - Plain bytes: printable ASCII and UTF-8 (characters code page 437 lacks,
//   and invalid UTF-8, are dropped); CR is Enter, LF is Ctrl+Enter (character
//   10), DEL and BS are Backspace, other control bytes are Ctrl+letter; ESC
//   before a key adds Alt; a lone ESC is Escape.
// - Legacy xterm, VT, Linux console and rxvt sequences for the cursor block,
//   F1-F12, Shift+Tab and the application keypad, with the xterm modifier
//   parameter. Legacy terminals report no releases: one key-down per key.
// - Bracketed paste: the text between CSI 200 ~ and CSI 201 ~ arrives as typed
//   characters. Line ends (CR, LF or CR LF) are one Enter each and Tab is Tab,
//   as pasting into a console window delivers them; ESC and the other control
//   bytes are dropped, so pasted text can never act as Escape or an editing key.
// - kitty keyboard protocol key reports and win32-input-mode key reports, with
//   presses and releases as key-down and key-up records. Modifier keys report
//   too, so Alt held while keypad digits are typed composes a character when
//   Alt is released (kitty needs flags 2 and 8 for that: event types and all
//   keys as escape codes).
// - Control strings from a terminal (OSC ESC ], DCS ESC P, APC ESC _, PM ESC ^
//   and SOS ESC X, each ended by ST ESC \ or BEL, or cancelled by CAN or SUB)
//   are dropped whole: a late reply to a query is never typed. One that runs
//   past kMaxStringLength bytes is given up on, so a lost terminator cannot
//   swallow the keys after it. The introducer alone, with nothing after it
//   within kEscapeTimeout, is Alt with that key, as a person types it.
// An unknown or malformed sequence is dropped whole.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "platform/console_api.h"

namespace platform {
// How long a lone ESC waits for a following byte before it counts as the
// Escape key. Terminals send a whole sequence in one write, while a person
// takes far longer between two keys.
inline constexpr std::chrono::milliseconds kEscapeTimeout{50};

// The longest escape sequence kept, counted after the ESC and the introducer;
// a longer one is discarded as it arrives, so garbage cannot grow memory.
inline constexpr std::size_t kMaxSequenceLength = 64;

// The longest control string dropped as one, counted after its introducer.
inline constexpr std::size_t kMaxStringLength = 4096;

// The reply to the kitty keyboard protocol query CSI ? u: the flags in force.
struct KittyFlagsReport {
    std::uint32_t flags;
};

// A primary device attributes reply (CSI ? ... c). Sent after the kitty query,
// it tells that the terminal has answered everything asked before it.
struct DeviceAttributesReport {};

// A key as an INPUT_RECORD with EventType KEY_EVENT, or a reply to a query.
using TerminalEvent = std::variant<INPUT_RECORD, KittyFlagsReport, DeviceAttributesReport>;

class TerminalInputDecoder {
  public:
    enum class Source {
        // Bytes typed on a terminal: a lone ESC becomes Escape after
        // kEscapeTimeout, and ESC before a key within it means Alt.
        Terminal,
        // Bytes from a pipe or file: no timeouts. ESC followed by '[' or 'O'
        // starts a sequence; any other ESC is the Escape key. A LF right after
        // a CR is part of that line end, so text with CR LF line ends gives
        // one Enter per line.
        Pipe,
    };

    explicit TerminalInputDecoder(Source source);

    // Bytes read at time `now` (any monotonic clock, the same for every call).
    // Settles what the time decides first, then appends the events the bytes
    // complete to `out`. Incomplete input stays pending for the next call.
    void feed(std::span<const std::byte> bytes, std::chrono::milliseconds now, std::vector<TerminalEvent>& out);

    // Time has passed without new bytes: settles what the timeout decides by
    // `now` (a lone ESC becomes Escape, ESC [ and ESC O become Alt+[ and Alt+O).
    void advance(std::chrono::milliseconds now, std::vector<TerminalEvent>& out);

    // When advance() should next be called, if pending input waits on the
    // timeout. Never set for the Pipe source.
    std::optional<std::chrono::milliseconds> deadline() const;

    // End of input: a pending ESC becomes Escape, anything else incomplete is
    // dropped, and the decoder starts afresh (also outside any paste).
    void finish(std::vector<TerminalEvent>& out);

  private:
    enum class State : std::uint8_t {
        Ground,         // between keys (or inside a paste's text)
        Escape,         // ESC seen
        Sequence,       // ESC [ or ESC O and the bytes after it
        LinuxFunction,  // ESC [ [: a Linux console F1-F5 follows
        Discard,        // an overlong sequence, dropped up to its end
        String,         // a control string (ESC ] and the like), dropped
        StringEscape,   // ESC inside a control string: ST, or a new sequence
        PasteEnd,       // inside a paste: ESC and a prefix of [201~ seen
    };

    void byte(std::uint8_t b, std::vector<TerminalEvent>& out);
    bool step(std::uint8_t b, std::vector<TerminalEvent>& out);
    bool step_text(std::uint8_t b, std::vector<TerminalEvent>& out);
    bool step_paste_end(std::uint8_t b, std::vector<TerminalEvent>& out);
    bool step_string(std::uint8_t b);
    void drop_paste_escape(std::vector<TerminalEvent>& out);
    void typed(char32_t c, std::vector<TerminalEvent>& out);
    void settle_timeout(std::vector<TerminalEvent>& out);
    void dispatch(std::uint8_t final_byte, std::vector<TerminalEvent>& out);

    Source source_;
    State state_ = State::Ground;
    bool paste_ = false;     // between CSI 200 ~ and CSI 201 ~
    bool alt_ = false;       // an ESC prefix applies to the key being decoded
    bool after_cr_ = false;  // the last byte was a CR taken as Enter
    std::chrono::milliseconds last_time_{};

    std::uint8_t introducer_ = 0;  // '[' or 'O'
    std::array<std::uint8_t, kMaxSequenceLength> sequence_{};
    std::size_t sequence_length_ = 0;
    std::size_t string_length_ = 0;

    std::size_t paste_end_matched_ = 0;

    char32_t utf8_value_ = 0;
    char32_t utf8_min_ = 0;   // smallest value the sequence may encode
    int utf8_remaining_ = 0;  // continuation bytes still expected
};

}  // namespace platform
