#include "platform/posix/terminal_input.h"

#include <limits>
#include <string_view>
#include <utility>

#include "platform/posix/cp437.h"
#include "platform/posix/us_layout.h"

namespace platform {
namespace {

using Events = std::vector<TerminalEvent>;

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kCancel = 0x18;
constexpr std::uint8_t kSubstitute = 0x1A;

// What follows ESC to open a control string: OSC, DCS, APC, PM, SOS.
constexpr bool is_string_introducer(std::uint8_t b) { return b == ']' || b == 'P' || b == '_' || b == '^' || b == 'X'; }
constexpr std::string_view kPasteEnd = "\x1b[201~";
constexpr std::uint32_t kPasteStart = 200;

constexpr DWORD kAltBits = LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
constexpr DWORD kCtrlBits = LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED;

// kitty keyboard protocol codes of keys that are not a character of the
// layout. They lie in the private use area; the ones not listed below (F13 and up,
// media keys, Super, Hyper, Meta) have no console key and are dropped.
enum KittyCode : std::uint32_t {
    kKittyFunctionalFirst = 57344,
    kKittyCapsLock = 57358,
    kKittyScrollLock = 57359,
    kKittyNumLock = 57360,
    kKittyKp0 = 57399,
    kKittyKp9 = 57408,
    kKittyKpDecimal = 57409,
    kKittyKpDivide = 57410,
    kKittyKpMultiply = 57411,
    kKittyKpSubtract = 57412,
    kKittyKpAdd = 57413,
    kKittyKpEnter = 57414,
    kKittyKpLeft = 57417,
    kKittyKpRight = 57418,
    kKittyKpUp = 57419,
    kKittyKpDown = 57420,
    kKittyKpPageUp = 57421,
    kKittyKpPageDown = 57422,
    kKittyKpHome = 57423,
    kKittyKpEnd = 57424,
    kKittyKpInsert = 57425,
    kKittyKpDelete = 57426,
    kKittyLeftShift = 57441,
    kKittyLeftControl = 57442,
    kKittyLeftAlt = 57443,
    kKittyRightShift = 57447,
    kKittyRightControl = 57448,
    kKittyRightAlt = 57449,
    kKittyFunctionalLast = 63743,
};

// A key that a sequence names, as the console reports it: `ch` is its
// character without modifiers (0 for none) and `state` the bits the key always
// carries (ENHANCED_KEY for the cursor block, keypad Enter and slash, right
// Ctrl and Alt; a modifier key's own bit).
struct Key {
    WORD vk;
    std::uint8_t ch;
    DWORD state;
    WORD scan = 0;  // 0: the layout's scan code for vk
};

constexpr DWORD kEnh = ENHANCED_KEY;

struct LetterKey {
    std::uint8_t final_byte;
    Key key;
};

// CSI [1;m] X and SS3 X.
constexpr LetterKey kLetterKeys[] = {
    {'A', {VK_UP, 0, kEnh}},
    {'B', {VK_DOWN, 0, kEnh}},
    {'C', {VK_RIGHT, 0, kEnh}},
    {'D', {VK_LEFT, 0, kEnh}},
    {'H', {VK_HOME, 0, kEnh}},
    {'F', {VK_END, 0, kEnh}},
    {'P', {VK_F1, 0, 0}},
    {'Q', {VK_F2, 0, 0}},
    {'R', {VK_F3, 0, 0}},
    {'S', {VK_F4, 0, 0}},
    {'Z', {VK_TAB, '\t', SHIFT_PRESSED}},
};

struct NumberedKey {
    std::uint32_t number;
    Key key;
};

// CSI n ~ (xterm, VT, Linux console, rxvt).
constexpr NumberedKey kNumberedKeys[] = {
    {1, {VK_HOME, 0, kEnh}},  {2, {VK_INSERT, 0, kEnh}}, {3, {VK_DELETE, 0, kEnh}}, {4, {VK_END, 0, kEnh}},
    {5, {VK_PRIOR, 0, kEnh}}, {6, {VK_NEXT, 0, kEnh}},   {7, {VK_HOME, 0, kEnh}},   {8, {VK_END, 0, kEnh}},
    {11, {VK_F1, 0, 0}},      {12, {VK_F2, 0, 0}},       {13, {VK_F3, 0, 0}},       {14, {VK_F4, 0, 0}},
    {15, {VK_F5, 0, 0}},      {17, {VK_F6, 0, 0}},       {18, {VK_F7, 0, 0}},       {19, {VK_F8, 0, 0}},
    {20, {VK_F9, 0, 0}},      {21, {VK_F10, 0, 0}},      {23, {VK_F11, 0, 0}},      {24, {VK_F12, 0, 0}},
};

// CSI code u of the kitty protocol for codes in the private use area: keys
// that type no character of the layout, and the keypad, whose keys kitty
// tells apart from the main ones.
constexpr NumberedKey kKittyKeys[] = {
    {kKittyCapsLock, {VK_CAPITAL, 0, 0}},
    {kKittyScrollLock, {VK_SCROLL, 0, 0}},
    {kKittyNumLock, {VK_NUMLOCK, 0, 0}},
    {kKittyKp0, {VK_NUMPAD0, '0', 0}},
    {kKittyKp0 + 1, {VK_NUMPAD1, '1', 0}},
    {kKittyKp0 + 2, {VK_NUMPAD2, '2', 0}},
    {kKittyKp0 + 3, {VK_NUMPAD3, '3', 0}},
    {kKittyKp0 + 4, {VK_NUMPAD4, '4', 0}},
    {kKittyKp0 + 5, {VK_NUMPAD5, '5', 0}},
    {kKittyKp0 + 6, {VK_NUMPAD6, '6', 0}},
    {kKittyKp0 + 7, {VK_NUMPAD7, '7', 0}},
    {kKittyKp0 + 8, {VK_NUMPAD8, '8', 0}},
    {kKittyKp9, {VK_NUMPAD9, '9', 0}},
    {kKittyKpDecimal, {VK_DECIMAL, '.', 0}},
    {kKittyKpDivide, {VK_DIVIDE, '/', kEnh}},
    {kKittyKpMultiply, {VK_MULTIPLY, '*', 0}},
    {kKittyKpSubtract, {VK_SUBTRACT, '-', 0}},
    {kKittyKpAdd, {VK_ADD, '+', 0}},
    {kKittyKpEnter, {VK_RETURN, '\r', kEnh}},
    // The keypad's cursor keys (Num Lock off) are not enhanced on a console.
    {kKittyKpLeft, {VK_LEFT, 0, 0}},
    {kKittyKpRight, {VK_RIGHT, 0, 0}},
    {kKittyKpUp, {VK_UP, 0, 0}},
    {kKittyKpDown, {VK_DOWN, 0, 0}},
    {kKittyKpPageUp, {VK_PRIOR, 0, 0}},
    {kKittyKpPageDown, {VK_NEXT, 0, 0}},
    {kKittyKpHome, {VK_HOME, 0, 0}},
    {kKittyKpEnd, {VK_END, 0, 0}},
    {kKittyKpInsert, {VK_INSERT, 0, 0}},
    {kKittyKpDelete, {VK_DELETE, 0, 0}},
    {kKittyLeftShift, {VK_SHIFT, 0, SHIFT_PRESSED}},
    {kKittyLeftControl, {VK_CONTROL, 0, LEFT_CTRL_PRESSED}},
    {kKittyLeftAlt, {VK_MENU, 0, LEFT_ALT_PRESSED}},
    {kKittyRightShift, {VK_SHIFT, 0, SHIFT_PRESSED, 54}},
    {kKittyRightControl, {VK_CONTROL, 0, RIGHT_CTRL_PRESSED | kEnh}},
    {kKittyRightAlt, {VK_MENU, 0, RIGHT_ALT_PRESSED | kEnh}},
};

// SS3 X of the application keypad, as the kitty code of the same key.
constexpr std::pair<std::uint8_t, std::uint32_t> kApplicationKeypad[] = {
    {'M', kKittyKpEnter},    {'j', kKittyKpMultiply}, {'k', kKittyKpAdd},
    {'m', kKittyKpSubtract}, {'n', kKittyKpDecimal},  {'o', kKittyKpDivide},
};

const Key* letter_key(std::uint8_t final_byte) {
    for (const LetterKey& k : kLetterKeys) {
        if (k.final_byte == final_byte) return &k.key;
    }
    return nullptr;
}

const Key* numbered_key(std::span<const NumberedKey> table, std::uint32_t number) {
    for (const NumberedKey& k : table) {
        if (k.number == number) return &k.key;
    }
    return nullptr;
}

WORD scan_of(WORD vk) {
    const UsKey* key = us_key_for_vk(vk);
    return key != nullptr ? key->scan : 0;
}

INPUT_RECORD key_record(WORD vk, WORD scan, std::uint8_t ch, DWORD state, bool down, WORD repeat = 1) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    KEY_EVENT_RECORD& k = r.Event.KeyEvent;
    k.bKeyDown = down ? TRUE : FALSE;
    k.wRepeatCount = repeat;
    k.wVirtualKeyCode = vk;
    k.wVirtualScanCode = scan;
    k.uChar.AsciiChar = static_cast<CHAR>(ch);
    k.dwControlKeyState = state;
    return r;
}

bool is_scalar_value(std::uint64_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// The console's character for a Unicode character: control characters are
// their own byte (Enter is 13, Escape 27), others the code page 437 byte or
// 0 when the code page lacks them.
std::uint8_t console_char(char32_t c) {
    if (c < 0x20 || c == 0x7F) return static_cast<std::uint8_t>(c);
    return cp437_from_unicode(c).value_or(0);
}

// The character a console gives for character c typed with Ctrl held.
std::uint8_t ctrl_char(char32_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 0x60);
    if (c >= '@' && c <= '_') return static_cast<std::uint8_t>(c - 0x40);  // @, letters, [ \ ] ^ _
    switch (c) {
        case '\r':
            return '\n';
        case '\b':
            return 0x7F;
        case ' ':
        case '\t':
        case kEsc:
            return static_cast<std::uint8_t>(c);
        default:
            return 0;
    }
}

// The key record an ASCII byte from a legacy terminal stands for, as the
// console reports it with no modifier held; EventType 0 when no key types it.
INPUT_RECORD byte_key(std::uint8_t b) {
    char c = static_cast<char>(b);
    std::uint8_t ch = b;
    DWORD state = 0;
    if (b == 0x7F) {
        c = '\b';  // most terminals' Backspace
        ch = '\b';
    } else if (b == '\n') {
        c = '\r';  // Ctrl+Enter on a console
        state |= LEFT_CTRL_PRESSED;
    } else if (b < 0x20 && b != '\b' && b != '\t' && b != '\r' && b != kEsc) {
        c = static_cast<char>(b >= 1 && b <= 26 ? b + 0x60 : b + 0x40);  // Ctrl+letter, Ctrl+@ [ \ ] ^ _
        state |= LEFT_CTRL_PRESSED;
    }
    const UsKey* key = us_key_for_char(c);
    if (key == nullptr) return INPUT_RECORD{};
    if (key->normal != c) state |= SHIFT_PRESSED;
    return key_record(key->vk, key->scan, ch, state, true);
}

// Every byte of plain text goes through here: the records are made once.
const std::array<INPUT_RECORD, 0x80>& byte_keys() {
    static const auto keys = [] {
        std::array<INPUT_RECORD, 0x80> records{};
        for (std::size_t b = 0; b < records.size(); ++b)
            records[b] = byte_key(static_cast<std::uint8_t>(b));
        return records;
    }();
    return keys;
}

// The key a byte from a legacy terminal stands for, with the modifiers in
// `state` held.
void emit_byte_key(std::uint8_t b, DWORD state, Events& out) {
    const auto& keys = byte_keys();
    if (b >= keys.size() || keys[b].EventType != KEY_EVENT) return;
    auto& record = std::get<INPUT_RECORD>(out.emplace_back(keys[b]));
    record.Event.KeyEvent.dwControlKeyState |= state;
}

// The Shift, Ctrl or Alt bits a modifier key itself stands for.
DWORD modifier_bits(WORD vk) {
    switch (vk) {
        case VK_SHIFT:
            return SHIFT_PRESSED;
        case VK_CONTROL:
            return kCtrlBits;
        case VK_MENU:
            return kAltBits;
        default:
            return 0;
    }
}

void emit_key(const Key& key, DWORD modifiers, bool down, Events& out) {
    DWORD state = key.state | modifiers;
    if (const DWORD own = modifier_bits(key.vk)) {
        // The state after the event: a modifier's release clears its bit, which
        // is what ends an Alt plus keypad digits composition.
        state &= ~own;
        if (down) state |= key.state & own;
    }
    std::uint8_t ch = key.ch;
    if (ch != 0 && (state & kCtrlBits) != 0) ch = ctrl_char(ch);
    // A console gives keypad digits typed with Alt no character: they compose.
    if (is_keypad_digit(key.vk) && (state & kAltBits) != 0) ch = 0;
    out.push_back(key_record(key.vk, key.scan != 0 ? key.scan : scan_of(key.vk), ch, state, down));
}

// Parameters of an escape sequence: fields separated by ';', each of values
// separated by ':' (empty values are absent).
struct Field {
    std::array<std::optional<std::uint32_t>, 3> values{};
    std::size_t count = 0;  // values given, may exceed what is kept
};

struct Params {
    std::uint8_t marker = 0;  // '<', '=', '>' or '?' before the fields, else 0
    std::array<Field, 6> fields{};
    std::size_t count = 0;

    std::optional<std::uint32_t> value(std::size_t field, std::size_t index = 0) const {
        return field < count ? fields[field].values[index] : std::nullopt;
    }
    bool plain(std::size_t field) const { return field >= count || fields[field].count <= 1; }
};

std::optional<Params> parse_params(std::span<const std::uint8_t> text) {
    Params p;
    if (!text.empty() && text[0] >= '<' && text[0] <= '?') {
        p.marker = text[0];
        text = text.subspan(1);
    }
    if (text.empty()) return p;
    p.count = 1;
    Field* field = &p.fields[0];
    field->count = 1;
    std::uint64_t value = 0;
    bool digits = false;
    const auto close_value = [&] {
        if (digits && field->count <= field->values.size())
            field->values[field->count - 1] = static_cast<std::uint32_t>(value);
        value = 0;
        digits = false;
    };
    for (const std::uint8_t b : text) {
        if (b >= '0' && b <= '9') {
            value = value * 10 + (b - '0');
            if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
            digits = true;
        } else if (b == ':') {
            close_value();
            ++field->count;
        } else if (b == ';') {
            close_value();
            if (p.count == p.fields.size()) return std::nullopt;
            field = &p.fields[p.count++];
            field->count = 1;
        } else {
            return std::nullopt;  // intermediates or a misplaced marker: nothing this decoder knows
        }
    }
    close_value();
    return p;
}

struct Modifiers {
    DWORD state = 0;
    bool down = true;
};

// The xterm modifier parameter (1 + bits: Shift 1, Alt 2, Ctrl 4) and the
// kitty additions (Caps Lock 64, Num Lock 128; Super, Hyper and Meta have no
// console bit), with kitty's event type after a ':' (press 1, repeat 2,
// release 3). A field not given means no modifiers and a press.
std::optional<Modifiers> parse_modifiers(const Params& p, std::size_t field) {
    if (field >= p.count) return Modifiers{};
    if (p.fields[field].count > 2) return std::nullopt;
    const std::uint32_t m = p.value(field).value_or(1);
    const std::uint32_t bits = m > 0 ? m - 1 : 0;
    const std::uint32_t event = p.value(field, 1).value_or(1);
    if (event < 1 || event > 3) return std::nullopt;
    Modifiers mods;
    if (bits & 1) mods.state |= SHIFT_PRESSED;
    if (bits & 2) mods.state |= LEFT_ALT_PRESSED;
    if (bits & 4) mods.state |= LEFT_CTRL_PRESSED;
    if (bits & 64) mods.state |= CAPSLOCK_ON;
    if (bits & 128) mods.state |= NUMLOCK_ON;
    mods.down = event != 3;
    return mods;
}

// CSI X, CSI 1;m X (xterm; kitty adds :event) and SS3 X, SS3 m X.
void decode_letter_key(const Key& key, const Params& p, bool ss3, Events& out) {
    std::size_t modifier_field = 1;
    if (ss3 && p.count == 1) {
        modifier_field = 0;
    } else if (p.count > 2 || !p.plain(0) || p.value(0).value_or(1) != 1) {
        return;
    }
    if (const auto mods = parse_modifiers(p, modifier_field)) emit_key(key, mods->state, mods->down, out);
}

// CSI n ~ with xterm modifiers (and kitty's :event); rxvt ends the sequence
// with $ for Shift, ^ for Ctrl and @ for both instead.
void decode_numbered_key(std::uint8_t final_byte, const Params& p, Events& out) {
    if (p.count == 0 || !p.plain(0) || !p.value(0)) return;
    const Key* key = numbered_key(kNumberedKeys, *p.value(0));
    if (key == nullptr) return;
    if (final_byte == '~') {
        if (p.count > 2) return;
        if (const auto mods = parse_modifiers(p, 1)) emit_key(*key, mods->state, mods->down, out);
        return;
    }
    if (p.count != 1) return;
    const DWORD state = final_byte == '$'   ? SHIFT_PRESSED
                        : final_byte == '^' ? LEFT_CTRL_PRESSED
                                            : LEFT_CTRL_PRESSED | SHIFT_PRESSED;
    emit_key(*key, state, true, out);
}

// CSI code[:shifted[:base]] ; mods[:event] ; text u of the kitty protocol.
void decode_kitty_key(const Params& p, Events& out) {
    if (p.count == 0 || p.count > 3 || p.fields[0].count > 3) return;
    const auto code = p.value(0);
    const auto mods = parse_modifiers(p, 1);
    if (!code || !mods) return;
    if (*code >= kKittyFunctionalFirst && *code <= kKittyFunctionalLast) {
        if (const Key* key = numbered_key(kKittyKeys, *code)) emit_key(*key, mods->state, mods->down, out);
        return;
    }
    // Backspace reports as DEL; other control codes are no keys.
    const char32_t unshifted = *code == 0x7F ? U'\b' : static_cast<char32_t>(*code);
    if (!is_scalar_value(*code) ||
        (unshifted < 0x20 && unshifted != '\b' && unshifted != '\t' && unshifted != '\r' && unshifted != kEsc)) {
        return;
    }
    const auto shifted = p.value(0, 1);
    const auto base = p.value(0, 2);
    const auto text = p.value(2);
    if ((shifted && !is_scalar_value(*shifted)) || (text && !is_scalar_value(*text))) return;

    // The key's position on a US keyboard: the base layout key when the
    // terminal names it (other layouts), else the key itself.
    const std::uint32_t position = base.value_or(unshifted);
    const UsKey* key = position < 0x80 ? us_key_for_char(static_cast<char>(position)) : nullptr;

    const DWORD state = mods->state;
    char32_t c = unshifted;
    if (state & SHIFT_PRESSED) {
        if (shifted) {
            c = *shifted;
        } else if (key != nullptr && static_cast<char32_t>(key->normal) == unshifted) {
            c = static_cast<char32_t>(key->shifted);
        }
    }
    if ((state & CAPSLOCK_ON) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
    if (text) c = *text;  // what the terminal says the key typed wins
    const std::uint8_t ch = (state & kCtrlBits) != 0 ? ctrl_char(c) : console_char(c);
    out.push_back(key_record(key != nullptr ? key->vk : 0, key != nullptr ? key->scan : 0, ch, state, mods->down));
}

// CSI Vk ; Sc ; Uc ; Kd ; Cs ; Rc _ of win32-input-mode: the console's own
// record, with the character given as Unicode.
void decode_win32_key(const Params& p, Events& out) {
    if (p.count > 6) return;
    for (std::size_t i = 0; i < p.count; ++i) {
        if (!p.plain(i)) return;
    }
    constexpr std::uint32_t kWordMax = std::numeric_limits<WORD>::max();
    const std::uint32_t vk = p.value(0).value_or(0);
    const std::uint32_t scan = p.value(1).value_or(0);
    const std::uint32_t uc = p.value(2).value_or(0);
    const std::uint32_t down = p.value(3).value_or(0);
    const std::uint32_t state = p.value(4).value_or(0);
    const std::uint32_t repeat = p.value(5).value_or(1);
    if (vk > kWordMax || scan > kWordMax || repeat > kWordMax || uc > 0x10FFFF) return;
    const std::uint8_t ch = is_scalar_value(uc) ? console_char(uc) : 0;
    out.push_back(
        key_record(static_cast<WORD>(vk), static_cast<WORD>(scan), ch, state, down != 0, static_cast<WORD>(repeat)));
}

void decode_csi(std::uint8_t final_byte, const Params& p, Events& out) {
    if (p.marker == '?') {
        if (final_byte == 'u' && p.count == 1 && p.plain(0) && p.value(0)) {
            out.push_back(KittyFlagsReport{*p.value(0)});
        } else if (final_byte == 'c') {
            out.push_back(DeviceAttributesReport{});
        }
        return;
    }
    if (p.marker != 0) return;
    switch (final_byte) {
        case 'u':
            decode_kitty_key(p, out);
            return;
        case '_':
            decode_win32_key(p, out);
            return;
        case '~':
        case '$':
        case '^':
        case '@':
            decode_numbered_key(final_byte, p, out);
            return;
        case 'a':
        case 'b':
        case 'c':
        case 'd':  // rxvt: Shift+arrow
            if (p.count == 0)
                emit_key(*letter_key(static_cast<std::uint8_t>(final_byte - 0x20)), SHIFT_PRESSED, true, out);
            return;
        default:
            if (const Key* key = letter_key(final_byte)) decode_letter_key(*key, p, false, out);
            return;
    }
}

void decode_ss3(std::uint8_t final_byte, const Params& p, Events& out) {
    if (p.marker != 0) return;
    if (final_byte >= 'a' && final_byte <= 'd') {  // rxvt: Ctrl+arrow
        if (p.count == 0) {
            emit_key(*letter_key(static_cast<std::uint8_t>(final_byte - 0x20)), LEFT_CTRL_PRESSED, true, out);
        }
        return;
    }
    std::optional<std::uint32_t> keypad;
    if (final_byte >= 'p' && final_byte <= 'y') keypad = kKittyKp0 + (final_byte - 'p');
    for (const auto& [final_of, code] : kApplicationKeypad) {
        if (final_of == final_byte) keypad = code;
    }
    if (keypad) {
        if (p.count == 0) emit_key(*numbered_key(kKittyKeys, *keypad), 0, true, out);
        return;
    }
    if (const Key* key = letter_key(final_byte)) decode_letter_key(*key, p, true, out);
}

bool is_final_byte(std::uint8_t b) { return b >= 0x40 && b <= 0x7E; }
bool is_parameter_byte(std::uint8_t b) { return b >= 0x20 && b <= 0x3F; }

}  // namespace

TerminalInputDecoder::TerminalInputDecoder(Source source) : source_(source) {}

void TerminalInputDecoder::feed(std::span<const std::byte> bytes, std::chrono::milliseconds now, Events& out) {
    advance(now, out);
    for (const std::byte b : bytes)
        byte(std::to_integer<std::uint8_t>(b), out);
    last_time_ = now;
}

void TerminalInputDecoder::advance(std::chrono::milliseconds now, Events& out) {
    const auto due = deadline();
    if (due && now >= *due) settle_timeout(out);
}

std::optional<std::chrono::milliseconds> TerminalInputDecoder::deadline() const {
    if (source_ != Source::Terminal) return std::nullopt;
    if (state_ == State::Escape || (state_ == State::Sequence && sequence_length_ == 0) ||
        (state_ == State::String && string_length_ == 0)) {
        return last_time_ + kEscapeTimeout;
    }
    return std::nullopt;
}

void TerminalInputDecoder::finish(Events& out) {
    if (deadline()) {
        settle_timeout(out);
    } else if (state_ == State::Escape) {
        emit_byte_key(kEsc, 0, out);
    } else if (state_ == State::PasteEnd) {
        drop_paste_escape(out);
    }
    state_ = State::Ground;
    paste_ = false;
    alt_ = false;
    after_cr_ = false;
    utf8_remaining_ = 0;
}

void TerminalInputDecoder::settle_timeout(Events& out) {
    if (state_ == State::Escape) {
        emit_byte_key(kEsc, 0, out);
    } else {
        emit_byte_key(introducer_, LEFT_ALT_PRESSED, out);  // ESC [ or ESC O alone: Alt+[ or Alt+O
    }
    state_ = State::Ground;
}

void TerminalInputDecoder::byte(std::uint8_t b, Events& out) {
    while (!step(b, out)) {
    }
    after_cr_ = b == '\r';
}

// Handles b in the current state; false when b ended what was pending without
// being part of it, so it must be handled again from the new state.
bool TerminalInputDecoder::step(std::uint8_t b, Events& out) {
    switch (state_) {
        case State::Ground:
            return step_text(b, out);
        case State::Escape:
            if (b == '[' || b == 'O') {
                introducer_ = b;
                sequence_length_ = 0;
                state_ = State::Sequence;
                return true;
            }
            if (source_ == Source::Terminal && is_string_introducer(b)) {
                introducer_ = b;
                string_length_ = 0;
                state_ = State::String;
                return true;
            }
            if (b == kEsc) {  // Escape, and the second ESC waits in turn
                emit_byte_key(kEsc, 0, out);
                return true;
            }
            state_ = State::Ground;
            if (source_ == Source::Pipe) {
                emit_byte_key(kEsc, 0, out);
            } else {
                alt_ = true;
            }
            return false;
        case State::Sequence:
            if (introducer_ == '[' && sequence_length_ == 0 && b == '[') {
                state_ = State::LinuxFunction;
                return true;
            }
            // rxvt ends Shift+key sequences with '$', elsewhere an intermediate
            // byte that only private-marked replies use.
            if (is_final_byte(b) || (b == '$' && introducer_ == '[' && (sequence_length_ == 0 || sequence_[0] < '<'))) {
                state_ = State::Ground;
                dispatch(b, out);
                return true;
            }
            if (is_parameter_byte(b)) {
                if (sequence_length_ == sequence_.size()) {
                    state_ = State::Discard;
                } else {
                    sequence_[sequence_length_++] = b;
                }
                return true;
            }
            state_ = State::Ground;  // no sequence holds b: the sequence is dropped
            return false;
        case State::LinuxFunction:
            state_ = State::Ground;
            if (b >= 'A' && b <= 'E') {
                emit_key(Key{static_cast<WORD>(VK_F1 + (b - 'A')), 0, 0}, 0, true, out);
                return true;
            }
            return is_parameter_byte(b) || is_final_byte(b);
        case State::Discard:
            if (is_parameter_byte(b)) return true;
            state_ = State::Ground;
            return is_final_byte(b);
        case State::PasteEnd:
            return step_paste_end(b, out);
        case State::String:
            return step_string(b);
        case State::StringEscape:
            state_ = b == '\\' ? State::Ground : State::Escape;
            return b == '\\';
    }
    return true;
}

bool TerminalInputDecoder::step_text(std::uint8_t b, Events& out) {
    if (utf8_remaining_ > 0) {
        if ((b & 0xC0) != 0x80) {  // truncated: dropped, b starts afresh
            utf8_remaining_ = 0;
            alt_ = false;
            return false;
        }
        utf8_value_ = (utf8_value_ << 6) | (b & 0x3Fu);
        if (--utf8_remaining_ == 0) {
            if (utf8_value_ >= utf8_min_ && is_scalar_value(utf8_value_)) {
                typed(utf8_value_, out);
            } else {
                alt_ = false;  // overlong or not a character: dropped
            }
        }
        return true;
    }
    if (b >= 0x80) {
        if (b >= 0xC2 && b <= 0xDF) {
            utf8_remaining_ = 1;
            utf8_value_ = b & 0x1Fu;
            utf8_min_ = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            utf8_remaining_ = 2;
            utf8_value_ = b & 0x0Fu;
            utf8_min_ = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            utf8_remaining_ = 3;
            utf8_value_ = b & 0x07u;
            utf8_min_ = 0x10000;
        } else {
            alt_ = false;  // a stray continuation or a byte UTF-8 never uses
        }
        return true;
    }
    if (b == kEsc) {
        if (paste_) {
            state_ = State::PasteEnd;
            paste_end_matched_ = 1;
        } else {
            state_ = State::Escape;
        }
        return true;
    }
    typed(b, out);
    return true;
}

bool TerminalInputDecoder::step_string(std::uint8_t b) {
    if (b == kEsc) {
        state_ = State::StringEscape;
    } else if (b == kBel || b == kCancel || b == kSubstitute || ++string_length_ > kMaxStringLength) {
        state_ = State::Ground;
    }
    return true;
}

bool TerminalInputDecoder::step_paste_end(std::uint8_t b, Events& out) {
    if (b == static_cast<std::uint8_t>(kPasteEnd[paste_end_matched_])) {
        if (++paste_end_matched_ == kPasteEnd.size()) {
            paste_ = false;
            state_ = State::Ground;
        }
        return true;
    }
    drop_paste_escape(out);
    return false;
}

// An ESC in a paste that does not end it is dropped like any pasted control;
// what followed it is pasted text.
void TerminalInputDecoder::drop_paste_escape(Events& out) {
    state_ = State::Ground;
    for (std::size_t i = 1; i < paste_end_matched_; ++i)
        typed(static_cast<std::uint8_t>(kPasteEnd[i]), out);
}

void TerminalInputDecoder::typed(char32_t c, Events& out) {
    const DWORD state = alt_ ? LEFT_ALT_PRESSED : 0;
    alt_ = false;
    if (c == '\n' && after_cr_ && (paste_ || source_ == Source::Pipe)) return;  // the LF of a CR LF
    if (paste_) {
        if (c == '\n') {
            c = '\r';
        } else if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) {
            return;
        }
    }
    if (c < 0x80) {
        emit_byte_key(static_cast<std::uint8_t>(c), state, out);
    } else if (const auto ch = cp437_from_unicode(c)) {
        out.push_back(key_record(0, 0, *ch, state, true));
    }
}

void TerminalInputDecoder::dispatch(std::uint8_t final_byte, Events& out) {
    const auto params = parse_params({sequence_.data(), sequence_length_});
    if (!params) return;
    if (introducer_ == 'O') {
        decode_ss3(final_byte, *params, out);
    } else if (final_byte == '~' && params->marker == 0 && params->count == 1 && params->value(0) == kPasteStart) {
        paste_ = true;
    } else {
        decode_csi(final_byte, *params, out);
    }
}

}  // namespace platform
