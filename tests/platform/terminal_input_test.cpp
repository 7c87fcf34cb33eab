#include "platform/posix/terminal_input.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console_api.h"

namespace {

using platform::TerminalInputDecoder;
using Source = TerminalInputDecoder::Source;
using std::chrono::milliseconds;
using namespace std::string_view_literals;

constexpr DWORD kShift = SHIFT_PRESSED;
constexpr DWORD kCtrl = LEFT_CTRL_PRESSED;
constexpr DWORD kAlt = LEFT_ALT_PRESSED;
constexpr DWORD kEnh = ENHANCED_KEY;

// One decoded event, reduced to the fields that matter, so whole sequences of
// events compare at once and print readably on failure.
struct Ev {
    enum class Kind { Key, KittyFlags, DeviceAttributes };
    Kind kind = Kind::Key;
    WORD vk = 0;
    WORD scan = 0;
    int ch = 0;
    DWORD state = 0;
    bool down = true;
    WORD repeat = 1;
    std::uint32_t flags = 0;
    bool operator==(const Ev&) const = default;
};

Ev down(WORD vk, WORD scan, int ch = 0, DWORD state = 0) { return {Ev::Kind::Key, vk, scan, ch, state, true}; }
Ev up(WORD vk, WORD scan, int ch = 0, DWORD state = 0) { return {Ev::Kind::Key, vk, scan, ch, state, false}; }
Ev repeated(Ev e, WORD repeat) {
    e.repeat = repeat;
    return e;
}
Ev kitty_flags(std::uint32_t flags) { return {.kind = Ev::Kind::KittyFlags, .flags = flags}; }
Ev device_attributes() { return {.kind = Ev::Kind::DeviceAttributes}; }

// Keys that recur below.
const Ev kEscape = down(VK_ESCAPE, 1, 27);
const Ev kEnter = down(VK_RETURN, 28, 13);
const Ev kLineFeed = down(VK_RETURN, 28, 10, kCtrl);
const Ev kUp = down(VK_UP, 72, 0, kEnh);
Ev letter(char c, DWORD state = 0) {
    constexpr WORD kScans[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                 49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    const bool upper = c >= 'A' && c <= 'Z';
    const int index = upper ? c - 'A' : c - 'a';
    return down(static_cast<WORD>('A' + index), kScans[index], c, state | (upper ? kShift : 0));
}
Ev digit(char c, DWORD state = 0) {
    return down(static_cast<WORD>(c), static_cast<WORD>(c == '0' ? 11 : c - '0' + 1), c, state);
}

void PrintTo(const Ev& e, std::ostream* os) {
    switch (e.kind) {
        case Ev::Kind::KittyFlags:
            *os << "kitty-flags{" << e.flags << "}";
            return;
        case Ev::Kind::DeviceAttributes:
            *os << "device-attributes";
            return;
        case Ev::Kind::Key:
            *os << (e.down ? "down" : "up") << "{vk=0x" << std::hex << e.vk << std::dec << " scan=" << e.scan
                << " ch=" << e.ch << " state=0x" << std::hex << e.state << std::dec;
            if (e.repeat != 1) *os << " repeat=" << e.repeat;
            *os << "}";
            return;
    }
}

Ev reduce(const platform::TerminalEvent& event) {
    if (const auto* flags = std::get_if<platform::KittyFlagsReport>(&event)) return kitty_flags(flags->flags);
    if (std::holds_alternative<platform::DeviceAttributesReport>(event)) return device_attributes();
    const INPUT_RECORD& record = std::get<INPUT_RECORD>(event);
    EXPECT_EQ(record.EventType, KEY_EVENT);
    const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
    return {Ev::Kind::Key,       k.wVirtualKeyCode,   k.wVirtualScanCode, static_cast<unsigned char>(k.uChar.AsciiChar),
            k.dwControlKeyState, k.bKeyDown != FALSE, k.wRepeatCount};
}

// Drives a decoder and collects what it gives, reduced.
class Harness {
  public:
    explicit Harness(Source source) : decoder_(source) {}

    Harness& feed(std::string_view bytes, int ms) {
        decoder_.feed(std::as_bytes(std::span(bytes.data(), bytes.size())), milliseconds(ms), raw_);
        return *this;
    }
    Harness& advance(int ms) {
        decoder_.advance(milliseconds(ms), raw_);
        return *this;
    }
    Harness& finish() {
        decoder_.finish(raw_);
        return *this;
    }
    std::vector<Ev> events() const {
        std::vector<Ev> out;
        for (const auto& e : raw_)
            out.push_back(reduce(e));
        return out;
    }
    const TerminalInputDecoder& decoder() const { return decoder_; }

  private:
    TerminalInputDecoder decoder_;
    std::vector<platform::TerminalEvent> raw_;
};

// Bytes that arrive at once, then end of input.
struct BytesCase {
    const char* name;
    std::string_view bytes;
    std::vector<Ev> expect;
    Source source = Source::Terminal;
};

class DecodesBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(DecodesBytes, InOneRead) {
    const BytesCase& c = GetParam();
    EXPECT_EQ(Harness(c.source).feed(c.bytes, 0).finish().events(), c.expect);
}

// Reads end anywhere: a sequence, a UTF-8 character or a paste marker split
// between two reads must decode as if read at once.
TEST_P(DecodesBytes, SplitInTwoReadsAtEveryByte) {
    const BytesCase& c = GetParam();
    for (std::size_t at = 1; at < c.bytes.size(); ++at) {
        Harness h(c.source);
        h.feed(c.bytes.substr(0, at), 0).feed(c.bytes.substr(at), 0).finish();
        EXPECT_EQ(h.events(), c.expect) << "split after byte " << at;
    }
}

TEST_P(DecodesBytes, OneByteAtATime) {
    const BytesCase& c = GetParam();
    Harness h(c.source);
    for (std::size_t i = 0; i < c.bytes.size(); ++i)
        h.feed(c.bytes.substr(i, 1), 0);
    EXPECT_EQ(h.finish().events(), c.expect);
}

std::string case_name(const ::testing::TestParamInfo<BytesCase>& info) { return info.param.name; }

const BytesCase kTypedCases[] = {
    {"LowerCaseLetter", "a", {letter('a')}},
    {"UpperCaseLetterHasShift", "Z", {letter('Z')}},
    {"Digit", "7", {digit('7')}},
    {"ShiftedDigitKey", "!", {down('1', 2, '!', kShift)}},
    {"Space", " ", {down(VK_SPACE, 57, ' ')}},
    {"Tilde", "~", {down(VK_OEM_3, 41, '~', kShift)}},
    {"Slash", "/", {down(VK_OEM_2, 53, '/')}},
    {"Word", "ok", {letter('o'), letter('k')}},
    {"CarriageReturnIsEnter", "\r", {kEnter}},
    {"LineFeedIsCtrlEnter", "\n", {kLineFeed}},
    {"TerminalKeepsCrAndLfApart", "\r\n", {kEnter, kLineFeed}},
    {"DelIsBackspace", "\x7f", {down(VK_BACK, 14, 8)}},
    {"BsIsBackspace", "\b", {down(VK_BACK, 14, 8)}},
    {"Tab", "\t", {down(VK_TAB, 15, 9)}},
    {"CtrlA", "\x01", {down('A', 30, 1, kCtrl)}},
    {"CtrlC", "\x03", {down('C', 46, 3, kCtrl)}},
    {"CtrlZ", "\x1a", {down('Z', 44, 26, kCtrl)}},
    {"CtrlBackslash", "\x1c", {down(VK_OEM_5, 43, 0x1c, kCtrl)}},
    {"CtrlUnderscore", "\x1f", {down(VK_OEM_MINUS, 12, 0x1f, kCtrl | kShift)}},
    {"NulIsCtrlAt", "\0"sv, {down('2', 3, 0, kCtrl | kShift)}},
    {"Utf8TwoBytes", "\xc3\xa9", {down(0, 0, 0x82)}},
    {"Utf8ThreeBytes", "\xe2\x96\x91", {down(0, 0, 0xb0)}},
    {"Utf8HouseIsCharacter127", "\xe2\x8c\x82", {down(0, 0, 0x7f)}},
    {"Utf8NotInCodePageIsDropped", "\xe2\x82\xac|", {down(VK_OEM_5, 43, '|', kShift)}},
    {"Utf8FourBytesIsDropped", "\xf0\x9f\x98\x80.", {down(VK_OEM_PERIOD, 52, '.')}},
    {"Utf8TruncatedByAscii", "\xc3q", {letter('q')}},
    {"Utf8TruncatedByEscape", "\xe2\x96\033[A", {kUp}},
    {"Utf8StrayContinuation", "\x80\xbfq", {letter('q')}},
    {"Utf8OverlongTwoBytes", "\xc0\xafq", {letter('q')}},
    {"Utf8OverlongThreeBytes", "\xe0\x80\xafq", {letter('q')}},
    {"Utf8Surrogate", "\xed\xa0\x80q", {letter('q')}},
    {"Utf8BeyondUnicode", "\xf4\x90\x80\x80q", {letter('q')}},
};
INSTANTIATE_TEST_SUITE_P(Typed, DecodesBytes, ::testing::ValuesIn(kTypedCases), case_name);

const BytesCase kEscapeCases[] = {
    {"LoneEscapeAtEnd", "\033", {kEscape}},
    {"EscapeLetterIsAlt", "\033x", {letter('x', kAlt)}},
    {"EscapeDigitIsAlt", "\0331", {digit('1', kAlt)}},
    {"EscapeEnterIsAltEnter", "\033\r", {down(VK_RETURN, 28, 13, kAlt)}},
    {"EscapeDelIsAltBackspace", "\033\x7f", {down(VK_BACK, 14, 8, kAlt)}},
    {"EscapeCtrlLetter", "\033\x01", {down('A', 30, 1, kCtrl | kAlt)}},
    {"EscapeUtf8", "\033\xc3\xa9", {down(0, 0, 0x82, kAlt)}},
    {"AltAppliesToOneKeyOnly", "\033ab", {letter('a', kAlt), letter('b')}},
    {"TwoEscapes", "\033\033", {kEscape, kEscape}},
    {"EscapeThenSequence", "\033\033[A", {kEscape, kUp}},
    {"EscapeBracketAloneIsAltBracket", "\033[", {down(VK_OEM_4, 26, '[', kAlt)}},
    {"EscapeOAloneIsAltO", "\033O", {letter('O', kAlt)}},
};
INSTANTIATE_TEST_SUITE_P(Escape, DecodesBytes, ::testing::ValuesIn(kEscapeCases), case_name);

const BytesCase kLegacyKeyCases[] = {
    {"CsiUp", "\033[A", {kUp}},
    {"CsiDown", "\033[B", {down(VK_DOWN, 80, 0, kEnh)}},
    {"CsiRight", "\033[C", {down(VK_RIGHT, 77, 0, kEnh)}},
    {"CsiLeft", "\033[D", {down(VK_LEFT, 75, 0, kEnh)}},
    {"Ss3Up", "\033OA", {kUp}},
    {"Ss3Left", "\033OD", {down(VK_LEFT, 75, 0, kEnh)}},
    {"CsiHome", "\033[H", {down(VK_HOME, 71, 0, kEnh)}},
    {"CsiEnd", "\033[F", {down(VK_END, 79, 0, kEnh)}},
    {"Ss3Home", "\033OH", {down(VK_HOME, 71, 0, kEnh)}},
    {"Ss3End", "\033OF", {down(VK_END, 79, 0, kEnh)}},
    {"VtHome", "\033[1~", {down(VK_HOME, 71, 0, kEnh)}},
    {"VtEnd", "\033[4~", {down(VK_END, 79, 0, kEnh)}},
    {"RxvtHome", "\033[7~", {down(VK_HOME, 71, 0, kEnh)}},
    {"RxvtEnd", "\033[8~", {down(VK_END, 79, 0, kEnh)}},
    {"Insert", "\033[2~", {down(VK_INSERT, 82, 0, kEnh)}},
    {"Delete", "\033[3~", {down(VK_DELETE, 83, 0, kEnh)}},
    {"PageUp", "\033[5~", {down(VK_PRIOR, 73, 0, kEnh)}},
    {"PageDown", "\033[6~", {down(VK_NEXT, 81, 0, kEnh)}},
    {"CtrlUp", "\033[1;5A", {down(VK_UP, 72, 0, kEnh | kCtrl)}},
    {"ShiftLeft", "\033[1;2D", {down(VK_LEFT, 75, 0, kEnh | kShift)}},
    {"AltHome", "\033[1;3H", {down(VK_HOME, 71, 0, kEnh | kAlt)}},
    {"CtrlAltShiftRight", "\033[1;8C", {down(VK_RIGHT, 77, 0, kEnh | kShift | kAlt | kCtrl)}},
    {"CtrlDelete", "\033[3;5~", {down(VK_DELETE, 83, 0, kEnh | kCtrl)}},
    {"Ss3WithModifier", "\033O5A", {down(VK_UP, 72, 0, kEnh | kCtrl)}},
    {"ShiftTab", "\033[Z", {down(VK_TAB, 15, 9, kShift)}},
    {"XtermF1ToF4", "\033OP\033OQ\033OR\033OS", {down(VK_F1, 59), down(VK_F2, 60), down(VK_F3, 61), down(VK_F4, 62)}},
    {"XtermModifiedF1ToF4",
     "\033[1;2P\033[1;5Q\033[1;3R\033[1;6S",
     {down(VK_F1, 59, 0, kShift), down(VK_F2, 60, 0, kCtrl), down(VK_F3, 61, 0, kAlt),
      down(VK_F4, 62, 0, kCtrl | kShift)}},
    {"RxvtF1ToF4",
     "\033[11~\033[12~\033[13~\033[14~",
     {down(VK_F1, 59), down(VK_F2, 60), down(VK_F3, 61), down(VK_F4, 62)}},
    {"F5ToF12",
     "\033[15~\033[17~\033[18~\033[19~\033[20~\033[21~\033[23~\033[24~",
     {down(VK_F5, 63), down(VK_F6, 64), down(VK_F7, 65), down(VK_F8, 66), down(VK_F9, 67), down(VK_F10, 68),
      down(VK_F11, 87), down(VK_F12, 88)}},
    {"CtrlF5", "\033[15;5~", {down(VK_F5, 63, 0, kCtrl)}},
    {"LinuxConsoleF1ToF5",
     "\033[[A\033[[B\033[[C\033[[D\033[[E",
     {down(VK_F1, 59), down(VK_F2, 60), down(VK_F3, 61), down(VK_F4, 62), down(VK_F5, 63)}},
    {"RxvtShiftInsert", "\033[2$", {down(VK_INSERT, 82, 0, kEnh | kShift)}},
    {"RxvtCtrlDelete", "\033[3^", {down(VK_DELETE, 83, 0, kEnh | kCtrl)}},
    {"RxvtCtrlShiftPageUp", "\033[5@", {down(VK_PRIOR, 73, 0, kEnh | kCtrl | kShift)}},
    {"RxvtShiftUp", "\033[a", {down(VK_UP, 72, 0, kEnh | kShift)}},
    {"RxvtCtrlLeft", "\033Od", {down(VK_LEFT, 75, 0, kEnh | kCtrl)}},
    {"KeypadEnter", "\033OM", {down(VK_RETURN, 28, 13, kEnh)}},
    {"KeypadDigit", "\033Op\033Oy", {down(VK_NUMPAD0, 82, '0'), down(VK_NUMPAD9, 73, '9')}},
    {"KeypadOperators",
     "\033Oo\033Oj\033Om\033Ok\033On",
     {down(VK_DIVIDE, 53, '/', kEnh), down(VK_MULTIPLY, 55, '*'), down(VK_SUBTRACT, 74, '-'), down(VK_ADD, 78, '+'),
      down(VK_DECIMAL, 83, '.')}},
    {"SequencesBetweenCharacters", "1\033[D2", {digit('1'), down(VK_LEFT, 75, 0, kEnh), digit('2')}},
};
INSTANTIATE_TEST_SUITE_P(Legacy, DecodesBytes, ::testing::ValuesIn(kLegacyKeyCases), case_name);

const BytesCase kPasteCases[] = {
    {"TextIsTyped", "\033[200~aZ1\033[201~", {letter('a'), letter('Z'), digit('1')}},
    {"LineEndsAreOneEnterEach",
     "\033[200~1\r\n2\n3\r4\033[201~",
     {digit('1'), kEnter, digit('2'), kEnter, digit('3'), kEnter, digit('4')}},
    {"TabStaysTab", "\033[200~a\tb\033[201~", {letter('a'), down(VK_TAB, 15, 9), letter('b')}},
    {"EscapeAndControlsAreDropped", "\033[200~a\033b\x01\x7f\b\033\033[201~", {letter('a'), letter('b')}},
    {"SequencesInsideAreText", "\033[200~\033[A\033[201~", {down(VK_OEM_4, 26, '['), letter('A')}},
    {"PrefixOfEndMarkerIsText",
     "\033[200~\033[20x\033[201~",
     {down(VK_OEM_4, 26, '['), digit('2'), digit('0'), letter('x')}},
    {"StartMarkerInsideIsText",
     "\033[200~\033[200~\033[201~",
     {down(VK_OEM_4, 26, '['), digit('2'), digit('0'), digit('0'), down(VK_OEM_3, 41, '~', kShift)}},
    {"Utf8", "\033[200~\xc3\xa9\xe2\x82\xac\033[201~", {down(0, 0, 0x82)}},
    {"KeysAfterThePasteAreKeys", "\033[200~a\033[201~\033[A\r\033", {letter('a'), kUp, kEnter, kEscape}},
    {"UnfinishedAtEndOfInput",
     "\033[200~ab\033[20",
     {letter('a'), letter('b'), down(VK_OEM_4, 26, '['), digit('2'), digit('0')}},
    {"EndMarkerOutsideAPasteIsDropped", "\033[201~a", {letter('a')}},
};
INSTANTIATE_TEST_SUITE_P(Paste, DecodesBytes, ::testing::ValuesIn(kPasteCases), case_name);

const BytesCase kGarbageCases[] = {
    {"UnknownFinal", "\033[99xq", {letter('q')}},
    {"UnknownPrivate", "\033[?1049hq", {letter('q')}},
    {"UnknownNumber", "\033[25~\033[201~\033[9~q", {letter('q')}},
    {"CursorCountIsNotAKey", "\033[5Aq", {letter('q')}},
    {"TooManyFields", "\033[1;2;3;4;5;6;7Aq", {letter('q')}},
    {"TooManySubValues", "\033[1;5:1:1Aq", {letter('q')}},
    {"NumberOverflow", "\033[99999999999~q", {letter('q')}},
    {"IntermediateByte", "\033[1 Aq", {letter('q')}},
    {"MisplacedMarker", "\033[1?Aq", {letter('q')}},
    {"BrokenByControl", "\033[1;5\r", {kEnter}},
    {"BrokenByEscape", "\033[1;5\033[A", {kUp}},
    {"BrokenByHighByte", "\033[1\xc3\xa9", {down(0, 0, 0x82)}},
    {"Ss3Unknown", "\033OWq\033O2;2;2Aq\033O5pq", {letter('q'), letter('q'), letter('q')}},
    {"Ss3Broken", "\033O\x01", {down('A', 30, 1, kCtrl)}},
    {"LinuxConsoleUnknown", "\033[[Zq\033[[\r", {letter('q'), kEnter}},
    {"IncompleteAtEndOfInput", "\033[1;5", {}},
};
INSTANTIATE_TEST_SUITE_P(Garbage, DecodesBytes, ::testing::ValuesIn(kGarbageCases), case_name);

// Control strings (a late reply to a query, or one pasted) are dropped whole,
// however they end, never typed.
const BytesCase kStringCases[] = {
    {"OscEndedByBel", "1\033]11;rgb:0000/0000/0000\a2", {digit('1'), digit('2')}},
    {"OscEndedBySt", "12\033]11;rgb:0000/0000/0000\033\\3", {digit('1'), digit('2'), digit('3')}},
    {"Dcs", "\033P1$r0m\033\\q", {letter('q')}},
    {"Apc", "\033_Gi=1;OK\033\\q", {letter('q')}},
    {"Pm", "\033^note\033\\q", {letter('q')}},
    {"Sos", "\033Xtext\aq", {letter('q')}},
    {"ControlBytesInsideAreDropped", "\033]a\r\x7f\x03b\aq", {letter('q')}},
    {"CancelledByCan", "\033]junk\x18q", {letter('q')}},
    {"CancelledBySub", "\033Pjunk\x1aq", {letter('q')}},
    {"AnEscapeInsideStartsASequence", "\033]junk\033[Aq", {kUp, letter('q')}},
    {"UnendedAtEndOfInput", "\033]11;rgb:0", {}},
    {"IntroducerAloneIsAlt", "\033]", {down(VK_OEM_6, 27, ']', kAlt)}},
    {"InAPipeEscapeIsEscape", "\033]q", {kEscape, down(VK_OEM_6, 27, ']'), letter('q')}, Source::Pipe},
};
INSTANTIATE_TEST_SUITE_P(String, DecodesBytes, ::testing::ValuesIn(kStringCases), case_name);

const BytesCase kKittyCases[] = {
    {"FlagsReply", "\033[?15u", {kitty_flags(15)}},
    {"FlagsReplyZero", "\033[?0u", {kitty_flags(0)}},
    {"DeviceAttributes", "\033[?62;22c", {device_attributes()}},
    {"QueryAnswerThenAttributes", "\033[?1u\033[?1;2c", {kitty_flags(1), device_attributes()}},
    {"PressRepeatRelease", "\033[97u\033[97;1:2u\033[97;1:3u", {letter('a'), letter('a'), up('A', 30, 'a')}},
    {"ShiftWithoutAlternateKey", "\033[97;2u\033[49;2u", {letter('A'), down('1', 2, '!', kShift)}},
    {"ShiftedAlternateKey", "\033[49:33;2u", {down('1', 2, '!', kShift)}},
    {"CapsLock", "\033[97;65u\033[97;66u", {down('A', 30, 'A', CAPSLOCK_ON), down('A', 30, 'a', CAPSLOCK_ON | kShift)}},
    {"CtrlLetter", "\033[97;5u", {down('A', 30, 1, kCtrl)}},
    {"AltLetter", "\033[120;3u", {letter('x', kAlt)}},
    {"AltDigitKeepsItsCharacter", "\033[49;3u", {digit('1', kAlt)}},
    {"TextField", "\033[97;2;65u", {letter('A')}},
    {"OtherLayoutUsesBaseKey", "\033[945::97u", {down('A', 30, 0xe0)}},
    {"CharacterNotInCodePage", "\033[8364u", {down(0, 0, 0)}},
    {"Enter", "\033[13u\033[13;5u", {kEnter, down(VK_RETURN, 28, 10, kCtrl)}},
    {"Backspace", "\033[127u\033[127;5u", {down(VK_BACK, 14, 8), down(VK_BACK, 14, 0x7f, kCtrl)}},
    {"ShiftTab", "\033[9;2u", {down(VK_TAB, 15, 9, kShift)}},
    {"Escape", "\033[27u\033[27;1:3u", {kEscape, up(VK_ESCAPE, 1, 27)}},
    {"LegacyFormWithEventType",
     "\033[1;5:1A\033[1;5:3A",
     {down(VK_UP, 72, 0, kEnh | kCtrl), up(VK_UP, 72, 0, kEnh | kCtrl)}},
    {"TildeFormRelease", "\033[3;1:3~", {up(VK_DELETE, 83, 0, kEnh)}},
    {"KeypadDigitWithNumLock", "\033[57399;129u", {down(VK_NUMPAD0, 82, '0', NUMLOCK_ON)}},
    {"KeypadEnterAndSlashAreEnhanced",
     "\033[57414u\033[57410u",
     {down(VK_RETURN, 28, 13, kEnh), down(VK_DIVIDE, 53, '/', kEnh)}},
    {"KeypadCursorKeysAreNotEnhanced", "\033[57417u\033[57426u", {down(VK_LEFT, 75), down(VK_DELETE, 83)}},
    {"ModifierKeys",
     "\033[57441;2u\033[57442;5u\033[57447;2u\033[57448;5u",
     {down(VK_SHIFT, 42, 0, kShift), down(VK_CONTROL, 29, 0, kCtrl), down(VK_SHIFT, 54, 0, kShift),
      down(VK_CONTROL, 29, 0, RIGHT_CTRL_PRESSED | kEnh)}},
    {"RightAltIsRight",
     "\033[57449;3u\033[57449;3:3u",
     {down(VK_MENU, 56, 0, RIGHT_ALT_PRESSED | kEnh), up(VK_MENU, 56, 0, kEnh)}},
    // Alt held, keypad 6 and 5, Alt released: the release carries no Alt bit,
    // whether the terminal reports the state before or after the release.
    {"AltKeypadComposition",
     "\033[57443;3u\033[57405;3u\033[57405;3:3u\033[57404;3u\033[57404;3:3u\033[57443;3:3u\033[57443;1:3u",
     {down(VK_MENU, 56, 0, kAlt), down(VK_NUMPAD6, 77, 0, kAlt), up(VK_NUMPAD6, 77, 0, kAlt),
      down(VK_NUMPAD5, 76, 0, kAlt), up(VK_NUMPAD5, 76, 0, kAlt), up(VK_MENU, 56, 0, 0), up(VK_MENU, 56, 0, 0)}},
    {"UnsupportedFunctionalKeyDropped", "\033[57376u\033[57444;9uq", {letter('q')}},
    {"InvalidCodesDropped", "\033[0u\033[1u\033[55296u\033[1114112u\033[97;1:4u\033[97;1:0uq", {letter('q')}},
    {"InvalidTextDropped", "\033[97;2;55296uq", {letter('q')}},
};
INSTANTIATE_TEST_SUITE_P(Kitty, DecodesBytes, ::testing::ValuesIn(kKittyCases), case_name);

const BytesCase kWin32Cases[] = {
    {"PressAndRelease", "\033[65;30;97;1_\033[65;30;97_", {letter('a'), up('A', 30, 'a')}},
    {"AllFields", "\033[65;30;65;1;16;1_", {letter('A')}},
    {"EmptyFieldsAreZeroButRepeatIsOne", "\033[;;;1;;_\033[_", {down(0, 0), up(0, 0)}},
    {"RepeatCountPassesThrough", "\033[65;30;97;1;0;3_", {repeated(letter('a'), 3)}},
    {"EnhancedCursorKey", "\033[38;72;0;1;256;1_", {kUp}},
    {"AltDownAndUp", "\033[18;56;0;1;2;1_\033[18;56;0;0;0;1_", {down(VK_MENU, 56, 0, kAlt), up(VK_MENU, 56)}},
    {"ControlCharacters", "\033[13;28;13;1;0;1_\033[27;1;27;1;0;1_", {kEnter, kEscape}},
    {"UnicodeToCodePage", "\033[0;0;233;1;0;1_", {down(0, 0, 0x82)}},
    {"UnicodeNotInCodePageIsZero", "\033[0;0;8364;1;0;1_\033[0;0;55357;1;0;1_", {down(0, 0, 0), down(0, 0, 0)}},
    {"OutOfRangeDropped",
     "\033[65536;30;97;1_\033[65;65536;97;1_\033[65;30;1114112;1_\033[65;30;97;1;0;65536_q",
     {letter('q')}},
    {"TooManyFieldsDropped", "\033[65;30;97;1;0;1;1_q", {letter('q')}},
    {"SubValuesDropped", "\033[65:1;30;97;1_q", {letter('q')}},
};
INSTANTIATE_TEST_SUITE_P(Win32, DecodesBytes, ::testing::ValuesIn(kWin32Cases), case_name);

const BytesCase kPipeCases[] = {
    {"ScriptedSession",
     "255\n16\n\033",
     {digit('2'), digit('5'), digit('5'), kLineFeed, digit('1'), digit('6'), kLineFeed, kEscape},
     Source::Pipe},
    {"EscapeBeforeLetterIsEscape", "\033x", {kEscape, letter('x')}, Source::Pipe},
    {"EscapeBeforeUtf8IsEscape", "\033\xc3\xa9", {kEscape, down(0, 0, 0x82)}, Source::Pipe},
    {"TwoEscapes", "\033\033", {kEscape, kEscape}, Source::Pipe},
    {"SequencesStillWork", "\033[A\033OP", {kUp, down(VK_F1, 59)}, Source::Pipe},
    {"CrLfIsOneEnter", "1\r\n2\r\r\n", {digit('1'), kEnter, digit('2'), kEnter, kEnter}, Source::Pipe},
    {"LfAfterSomethingElse", "\r\033\n", {kEnter, kEscape, kLineFeed}, Source::Pipe},
    {"IncompleteSequencesAtEndAreDropped", "a\033[", {letter('a')}, Source::Pipe},
    {"IncompleteSs3AtEndIsDropped", "a\033O", {letter('a')}, Source::Pipe},
};
INSTANTIATE_TEST_SUITE_P(Pipe, DecodesBytes, ::testing::ValuesIn(kPipeCases), case_name);

// Every printable ASCII byte is one key-down carrying that character, on the
// US key that types it, with Shift exactly when it is the key's shifted one.
TEST(TerminalInput, EveryPrintableAsciiByteIsOneKey) {
    for (int b = 0x20; b < 0x7F; ++b) {
        const std::string bytes(1, static_cast<char>(b));
        const auto events = Harness(Source::Terminal).feed(bytes, 0).events();
        ASSERT_EQ(events.size(), 1u) << "byte " << b;
        EXPECT_EQ(events[0].ch, b);
        EXPECT_NE(events[0].vk, 0) << "byte " << b;
        EXPECT_NE(events[0].scan, 0) << "byte " << b;
        const bool shifted =
            (b >= 'A' && b <= 'Z') ||
            std::string_view("~!@#$%^&*()_+{}|:\"<>?").find(static_cast<char>(b)) != std::string_view::npos;
        EXPECT_EQ(events[0].state, shifted ? kShift : 0) << "byte " << b;
    }
}

// Bytes with the times they arrive; the ESC timeout decides on both sides of
// its threshold.
struct Step {
    enum class Kind { Feed, Advance } kind;
    std::string_view bytes;
    int ms;
};
Step at(int ms, std::string_view bytes) { return {Step::Kind::Feed, bytes, ms}; }
Step idle_until(int ms) { return {Step::Kind::Advance, {}, ms}; }

struct TimedCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<Ev> expect;
};

std::string timed_case_name(const ::testing::TestParamInfo<TimedCase>& info) { return info.param.name; }

class DecodesOverTime : public ::testing::TestWithParam<TimedCase> {};

TEST_P(DecodesOverTime, WithoutEndOfInput) {
    Harness h(Source::Terminal);
    for (const Step& s : GetParam().steps) {
        if (s.kind == Step::Kind::Feed) {
            h.feed(s.bytes, s.ms);
        } else {
            h.advance(s.ms);
        }
    }
    EXPECT_EQ(h.events(), GetParam().expect);
}

static_assert(platform::kEscapeTimeout == milliseconds(50), "the cases below are written for 50 ms");

const TimedCase kTimedCases[] = {
    {"EscapeWaitsUntilJustBeforeTheTimeout", {at(100, "\033"), idle_until(149)}, {}},
    {"EscapeIsEscapeAtTheTimeout", {at(100, "\033"), idle_until(150)}, {kEscape}},
    {"LetterJustBeforeTheTimeoutIsAlt", {at(100, "\033"), at(149, "x")}, {letter('x', kAlt)}},
    {"LetterAtTheTimeoutIsNotAlt", {at(100, "\033"), at(150, "x")}, {kEscape, letter('x')}},
    {"LateEscapeIsEscapeAlone", {at(100, "\033"), at(400, "\033")}, {kEscape}},
    {"BracketJustBeforeItsTimeoutStartsASequence", {at(100, "\033"), at(140, "["), at(189, "A")}, {kUp}},
    {"BracketAloneAtItsTimeoutIsAltBracket",
     {at(100, "\033"), at(140, "["), idle_until(190), at(191, "A")},
     {down(VK_OEM_4, 26, '[', kAlt), letter('A')}},
    {"SecondEscapeWaitsInTurn", {at(100, "\033\033"), idle_until(149)}, {kEscape}},
    {"SecondEscapeTimesOut", {at(100, "\033\033"), idle_until(150)}, {kEscape, kEscape}},
    // Past its introducer a sequence is no key a person types: it waits for
    // its end however long that takes, rather than leak its tail as keys.
    {"StartedSequenceWaitsForItsEnd",
     {at(100, "\033[1;"), idle_until(5000), at(5000, "5A")},
     {down(VK_UP, 72, 0, kEnh | kCtrl)}},
    {"Utf8WaitsForItsEnd", {at(100, "\xc3"), idle_until(5000), at(5000, "\xa9")}, {down(0, 0, 0x82)}},
    {"StringIntroducerAloneAtItsTimeoutIsAlt",
     {at(100, "\033_"), idle_until(150), at(151, "q")},
     {down(VK_OEM_MINUS, 12, '_', kAlt | kShift), letter('q')}},
    {"StartedStringWaitsForItsEnd", {at(100, "\033]1"), idle_until(5000), at(5000, "1;x\aq")}, {letter('q')}},
    {"PasteIsNotCutByTime",
     {at(100, "\033[200~a\033"), idle_until(5000), at(5000, "[201~\033"), idle_until(5050)},
     {letter('a'), kEscape}},
};
INSTANTIATE_TEST_SUITE_P(Timed, DecodesOverTime, ::testing::ValuesIn(kTimedCases), timed_case_name);

TEST(TerminalInput, DeadlineOnlyWhileAnEscapeWaits) {
    Harness terminal(Source::Terminal);
    EXPECT_EQ(terminal.decoder().deadline(), std::nullopt);
    terminal.feed("\033", 100);
    EXPECT_EQ(terminal.decoder().deadline(), milliseconds(150));
    terminal.feed("[", 120);
    EXPECT_EQ(terminal.decoder().deadline(), milliseconds(170));
    terminal.feed("1", 130);
    EXPECT_EQ(terminal.decoder().deadline(), std::nullopt);
    terminal.feed("~", 140);
    EXPECT_EQ(terminal.decoder().deadline(), std::nullopt);

    Harness pipe(Source::Pipe);
    pipe.feed("\033", 100);
    EXPECT_EQ(pipe.decoder().deadline(), std::nullopt);
    pipe.advance(100000);
    EXPECT_EQ(pipe.events(), std::vector<Ev>{});
    EXPECT_EQ(pipe.finish().events(), std::vector<Ev>{kEscape});
}

TEST(TerminalInput, GarbageOfAnyLengthIsDroppedWhole) {
    Harness h(Source::Terminal);
    const std::string garbage(100000, '7');
    h.feed("\033[", 0).feed(garbage, 0).feed(garbage, 0).feed("Aq", 0);
    EXPECT_EQ(h.events(), std::vector<Ev>{letter('q')});

    // A sequence as long as the bound still decodes; one byte more is dropped.
    const std::string longest = std::string(platform::kMaxSequenceLength - 3, '0') + "1;5A";
    ASSERT_EQ(longest.size(), platform::kMaxSequenceLength + 1);  // the final byte is not kept
    EXPECT_EQ(Harness(Source::Terminal).feed("\033[" + longest, 0).events(),
              std::vector<Ev>{down(VK_UP, 72, 0, kEnh | kCtrl)});
    EXPECT_EQ(Harness(Source::Terminal).feed("\033[0" + longest + "q", 0).events(), std::vector<Ev>{letter('q')});
}

TEST(TerminalInput, AStringPastTheBoundIsGivenUpOn) {
    const std::string body(platform::kMaxStringLength, 'x');
    // Within the bound its end is waited for; past it, what follows is typed.
    EXPECT_EQ(Harness(Source::Terminal).feed("\033]" + body + "\aq", 0).events(), std::vector<Ev>{letter('q')});
    EXPECT_EQ(Harness(Source::Terminal).feed("\033]" + body + "xq", 0).events(), std::vector<Ev>{letter('q')});
    EXPECT_EQ(Harness(Source::Terminal).feed("\033]" + body + "x7q", 0).events(),
              (std::vector<Ev>{digit('7'), letter('q')}));
}

// Random keys with random control strings between them, in reads cut at
// random: exactly the keys arrive, in order.
TEST(TerminalInputFuzz, StringsBetweenKeysLeaveTheKeys) {
    constexpr std::string_view kIntroducers = "]P_^X";
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
        std::string bytes;
        std::vector<Ev> expect;
        for (std::size_t token = 0, count = 1 + pick(20); token < count; ++token) {
            if (pick(2) == 0) {
                const char d = static_cast<char>('0' + pick(10));
                bytes += d;
                expect.push_back(digit(d));
                continue;
            }
            bytes += '\033';
            bytes += kIntroducers[pick(kIntroducers.size())];
            for (std::size_t i = 0, length = pick(200); i < length; ++i) {
                // Any byte but those that end or cancel a string.
                char b = static_cast<char>(pick(256));
                if (b == '\033' || b == '\a' || b == '\x18' || b == '\x1a') b = ';';
                bytes += b;
            }
            bytes += pick(2) == 0 ? "\a" : "\033\\";
        }
        Harness h(Source::Terminal);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min(bytes.size() - at, 1 + pick(64));
            h.feed(std::string_view(bytes).substr(at, n), 0);
            at += n;
        }
        EXPECT_EQ(h.finish().events(), expect) << "seed " << seed;
    }
}

// Any bytes at all, in one read or cut anywhere: the same events, and the
// decoder always settles.
TEST(TerminalInputFuzz, RandomBytesDecodeTheSameHoweverTheyAreCut) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        std::string bytes(std::uniform_int_distribution<std::size_t>(0, 300)(rng), '\0');
        // Mostly the bytes that steer the decoder, so that its states are visited.
        constexpr std::string_view kSteering = "\033[]P_^X\\\a\x18;0123456789~uAO\xc3\xa9";
        for (char& b : bytes) {
            const auto r = std::uniform_int_distribution<std::size_t>(0, kSteering.size() + 40)(rng);
            b = r < kSteering.size() ? kSteering[r] : static_cast<char>(rng());
        }
        for (const Source source : {Source::Terminal, Source::Pipe}) {
            Harness whole(source);
            whole.feed(bytes, 0);
            Harness cut(source);
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng() % 7);
                cut.feed(std::string_view(bytes).substr(at, n), 0);
                at += n;
            }
            EXPECT_EQ(cut.finish().events(), whole.finish().events()) << "seed " << seed;
            EXPECT_EQ(whole.decoder().deadline(), std::nullopt);
        }
    }
}

TEST(TerminalInput, FinishStartsAfresh) {
    Harness h(Source::Terminal);
    h.feed("\033[200~a", 0).finish().feed("\033[A\033x", 10);
    EXPECT_EQ(h.events(), (std::vector<Ev>{letter('a'), kUp, letter('x', kAlt)}));
}

}  // namespace
