#include "platform/posix/terminal_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <variant>

#include "platform/posix/posix_signals.h"
#include "platform/posix/screen_frames.h"
#include "platform/posix/terminal_render.h"

namespace platform {
namespace {

// Bracketed paste and win32-input-mode; a terminal that lacks them ignores the
// private modes.
constexpr std::string_view kProtocolsOn = "\x1b[?2004h\x1b[?9001h";
constexpr std::string_view kProtocolsOff = "\x1b[?9001l\x1b[?2004l";
// The kitty keyboard protocol query, then primary device attributes: every
// terminal answers the latter, so a reply to it with none to the former before
// it means the terminal lacks the protocol.
constexpr std::string_view kKittyQuery = "\x1b[?u\x1b[c";
constexpr std::string_view kKittyPop = "\x1b[<u";

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

// TERM=dumb names a terminal that shows text and line ends and nothing else
// (an editor's shell buffer, a log, a serial line); every other terminal,
// and one whose TERM is unset, is taken for an xterm-compatible one.
bool takes_escape_sequences() {
    const char* term = std::getenv("TERM");
    return term == nullptr || std::string_view(term) != "dumb";
}

bool same_device(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

}  // namespace

HostStreams HostStreams::detect(int input_fd, int output_fd) {
    HostStreams s;
    s.input_fd = input_fd;
    s.output_fd = output_fd;
    s.input_is_terminal = is_terminal(input_fd);
    s.output_is_terminal = is_terminal(output_fd) && takes_escape_sequences();
    s.same_terminal = s.input_is_terminal && s.output_is_terminal && same_device(input_fd, output_fd);
    return s;
}

TerminalSession::TerminalSession(const HostStreams& streams) : streams_(streams) {
    if (streams_.same_terminal) {
        terminals_.push_back({TerminalModes(streams_.output_fd), true, true});
        kitty_ = Kitty::Asked;
    } else {
        if (streams_.input_is_terminal) terminals_.push_back({TerminalModes(streams_.input_fd), true, false});
        if (streams_.output_is_terminal) terminals_.push_back({TerminalModes(streams_.output_fd), false, true});
    }
}

std::string TerminalSession::leaving_bytes() const {
    std::string bytes;
    if (kitty_ == Kitty::Pushed) bytes += kKittyPop;
    if (streams_.same_terminal) bytes += kProtocolsOff;
    bytes += kTerminalRestore;
    return bytes;
}

void TerminalSession::arm_rescues() {
    clear_terminal_rescues();
    const std::string leaving = leaving_bytes();
    for (const Terminal& t : terminals_) {
        if (t.modes.saved()) add_terminal_rescue(t.modes.fd(), t.modes.original(), t.shows_screen ? leaving : "");
    }
}

void TerminalSession::enter(ScreenFrames* screen) {
    for (Terminal& t : terminals_)
        t.modes.enter(t.reads_keys);
    if (screen != nullptr) {
        if (kitty_ == Kitty::Asked && !asked_) {
            // The answers are expected from when the queries go out: the
            // first frame, sent at once.
            asked_ = true;
            screen->queue(kKittyQuery);
            screen->send();
            replies_due_ = std::chrono::steady_clock::now() + kReplyPatience;
        }
        if (streams_.same_terminal) screen->queue(kProtocolsOn);
        if (kitty_ == Kitty::Pushed) screen->queue(kKittyKeyboardPush);
    }
    arm_rescues();
}

void TerminalSession::leave(ScreenFrames* screen, bool after_output) {
    if (screen != nullptr) {
        screen->queue(leaving_bytes());
        screen->leave();
    }
    for (Terminal& t : terminals_)
        t.modes.leave(after_output);
    clear_terminal_rescues();
}

void TerminalSession::reply(const TerminalEvent& event, ScreenFrames* screen) {
    if (kitty_ != Kitty::Asked) return;
    if (std::holds_alternative<KittyFlagsReport>(event)) {
        kitty_ = Kitty::Pushed;
        if (screen != nullptr) screen->queue(kKittyKeyboardPush);
        arm_rescues();
    } else if (std::holds_alternative<DeviceAttributesReport>(event)) {
        kitty_ = Kitty::Absent;
    }
}

}  // namespace platform
