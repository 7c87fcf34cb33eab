#include "platform/posix/terminal_host.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <variant>

#include "platform/posix/control_events.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_signals.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Bracketed paste and win32-input-mode; a terminal that lacks them ignores the
// private modes.
constexpr std::string_view kProtocolsOn = "\x1b[?2004h\x1b[?9001h";
constexpr std::string_view kProtocolsOff = "\x1b[?9001l\x1b[?2004l";
// The kitty keyboard protocol query, then primary device attributes: every
// terminal answers the latter, so a reply to it with none to the former before
// it means the terminal lacks the protocol.
constexpr std::string_view kKittyQuery = "\x1b[?u\x1b[c";
constexpr std::string_view kKittyPop = "\x1b[<u";
// How long a program that ends before the terminal has answered those queries
// waits for the answers. A terminal answers in a moment; over a slow link it
// may take a while.
constexpr milliseconds kReplyPatience{500};

// Keys that act as the terminal's signal keys while input is processed.
constexpr unsigned char kCtrlC = 0x03;
constexpr unsigned char kCtrlBackslash = 0x1C;
constexpr unsigned char kCtrlZ = 0x1A;

// Bytes read from a terminal in one go, and at most this many reads per poll,
// so that a flood of input cannot keep the program from running.
constexpr std::size_t kReadChunk = 4096;
constexpr int kReadsPerPoll = 16;

milliseconds now_ms() { return std::chrono::duration_cast<milliseconds>(steady_clock::now().time_since_epoch()); }

std::span<const std::byte> bytes_of(std::string_view s) { return std::as_bytes(std::span(s.data(), s.size())); }

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

bool same_device(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

TerminalSize initial_size(const HostStreams& streams) {
    return streams.output_is_terminal ? terminal_size(streams.output_fd) : kFallbackTerminalSize;
}

}  // namespace

HostStreams HostStreams::detect(int input_fd, int output_fd) {
    HostStreams s;
    s.input_fd = input_fd;
    s.output_fd = output_fd;
    s.input_is_terminal = is_terminal(input_fd);
    s.output_is_terminal = is_terminal(output_fd);
    s.same_terminal = s.input_is_terminal && s.output_is_terminal && same_device(input_fd, output_fd);
    return s;
}

TerminalHost::TerminalHost(const HostStreams& streams)
    : streams_(streams),
      model_(initial_size(streams).cols, initial_size(streams).rows),
      decoder_(streams.input_is_terminal ? TerminalInputDecoder::Source::Terminal
                                         : TerminalInputDecoder::Source::Pipe) {
    if (streams_.same_terminal) {
        terminals_.push_back({TerminalModes(streams_.output_fd), true, true});
    } else {
        if (streams_.input_is_terminal) terminals_.push_back({TerminalModes(streams_.input_fd), true, false});
        if (streams_.output_is_terminal) terminals_.push_back({TerminalModes(streams_.output_fd), false, true});
    }
    if (streams_.output_is_terminal) {
        renderer_.emplace(model_.cols(), model_.rows());
        model_.set_observer(this);
    }
    // Without the wake-up pipe, signals keep their usual actions.
    watch_signals();
    if (streams_.same_terminal) {
        kitty_ = Kitty::Asked;
        outgoing_ += kKittyQuery;
    }
    enter_terminals();
}

TerminalHost::~TerminalHost() {
    shutdown();
    model_.set_observer(nullptr);
}

// --- Entering and leaving the terminals ------------------------------------------

std::string TerminalHost::leaving_bytes() const {
    std::string bytes;
    if (kitty_ == Kitty::Pushed) bytes += kKittyPop;
    if (streams_.same_terminal) bytes += kProtocolsOff;
    bytes += kTerminalRestore;
    return bytes;
}

void TerminalHost::arm_rescues() {
    clear_terminal_rescues();
    const std::string leaving = leaving_bytes();
    for (const Terminal& t : terminals_) {
        if (t.modes.saved()) add_terminal_rescue(t.modes.fd(), t.modes.original(), t.shows_screen ? leaving : "");
    }
}

void TerminalHost::enter_terminals() {
    for (Terminal& t : terminals_)
        t.modes.enter(t.reads_keys);
    if (renderer_) {
        if (streams_.same_terminal) outgoing_ += kProtocolsOn;
        if (kitty_ == Kitty::Pushed) outgoing_ += kKittyKeyboardPush;
        // Whatever was on the screen is unknown: draw it all.
        renderer_->reset(model_.cols(), model_.rows());
        redraw_ = true;
    }
    arm_rescues();
}

void TerminalHost::await_query_replies() {
    if (kitty_ != Kitty::Asked || input_ended_) return;
    send();  // the queries may still be waiting to go out
    const auto give_up = steady_clock::now() + kReplyPatience;
    std::vector<TerminalEvent> events;
    while (kitty_ == Kitty::Asked) {
        const auto left = std::chrono::duration_cast<milliseconds>(give_up - steady_clock::now());
        events.clear();
        if (left.count() <= 0 || read_input(static_cast<int>(left.count()), events) != Read::Bytes) return;
        for (const TerminalEvent& event : events) {
            // Keys typed meanwhile stay queued for a program that carries on
            // after a suspension. The protocol is not pushed any more: the
            // device attributes answer alone settles the question.
            if (const auto* record = std::get_if<INPUT_RECORD>(&event)) {
                model_.push_input(*record);
            } else if (std::holds_alternative<DeviceAttributesReport>(event)) {
                kitty_ = Kitty::Absent;
            }
        }
    }
}

void TerminalHost::leave_terminals() {
    // Answers that arrive after the modes are given back would reach whatever
    // reads the terminal next, and a shell shows them as typed text.
    await_query_replies();
    if (renderer_) {
        draw();
        outgoing_ += renderer_->take_output();
        outgoing_ += leaving_bytes();
        // The shell carries on below what the program showed: at the cursor,
        // on a line of its own.
        const SMALL_RECT w = model_.window();
        const COORD cursor = model_.cursor();
        const int x = cursor.X - w.Left;
        const int y = cursor.Y - w.Top;
        if (x >= 0 && y >= 0 && x <= w.Right - w.Left && y <= w.Bottom - w.Top) {
            append_cursor_position(outgoing_, x, y);
            if (x != 0) outgoing_ += "\r\n";
        }
        send();
    }
    for (Terminal& t : terminals_)
        t.modes.leave();
    clear_terminal_rescues();
}

void TerminalHost::suspend() {
    leave_terminals();
    stop_process_group();
    resume();
    resumed_ = true;
}

void TerminalHost::resume() {
    follow_terminal_size();
    enter_terminals();
}

void TerminalHost::follow_terminal_size() {
    if (!renderer_) return;
    const TerminalSize size = terminal_size(streams_.output_fd);
    if (size.cols == model_.cols() && size.rows == model_.rows()) return;
    model_.resize(size.cols, size.rows);
    renderer_->reset(size.cols, size.rows);
    redraw_ = true;
    // As the console reports a new buffer size to a program that asked for it.
    if ((model_.input_mode() & ENABLE_WINDOW_INPUT) != 0) {
        INPUT_RECORD record{};
        record.EventType = WINDOW_BUFFER_SIZE_EVENT;
        record.Event.WindowBufferSizeEvent.dwSize = {static_cast<SHORT>(size.cols), static_cast<SHORT>(size.rows)};
        model_.push_input(record);
    }
}

void TerminalHost::shutdown() {
    const std::lock_guard lock(mutex_);
    if (shut_down_) return;
    shut_down_ = true;
    leave_terminals();
    unwatch_signals();
}

// --- Output -------------------------------------------------------------------------

Frame TerminalHost::frame() {
    const SMALL_RECT w = model_.window();
    const int cols = w.Right - w.Left + 1;
    const int rows = w.Bottom - w.Top + 1;
    std::span<const ConsoleCell> cells;
    if (cols == model_.cols()) {
        cells = model_.cells().subspan(static_cast<std::size_t>(w.Top) * cols, static_cast<std::size_t>(rows) * cols);
    } else {
        window_cells_.clear();
        for (int y = w.Top; y <= w.Bottom; ++y) {
            const auto row = model_.row(y).subspan(static_cast<std::size_t>(w.Left), static_cast<std::size_t>(cols));
            window_cells_.insert(window_cells_.end(), row.begin(), row.end());
        }
        cells = window_cells_;
    }
    const COORD cursor = model_.cursor();
    return Frame{cols, rows, cells, cursor.X - w.Left, cursor.Y - w.Top, model_.cursor_info().bVisible != FALSE};
}

void TerminalHost::draw() {
    if (!renderer_) return;
    const ConsoleChanges changes = model_.take_changes();
    if (!redraw_ && !changes.any_row() && !changes.cursor && !changes.window && !changes.resized) return;
    redraw_ = false;
    renderer_->draw(frame());
}

void TerminalHost::send() {
    if (outgoing_.empty()) return;
    // A terminal that cannot take the bytes has gone away; its hang-up ends
    // the program.
    write_all(streams_.output_fd, bytes_of(outgoing_));
    outgoing_.clear();
}

void TerminalHost::flush() {
    draw();
    if (renderer_) outgoing_ += renderer_->take_output();
    send();
}

void TerminalHost::before_scroll_up(int rows) {
    const std::lock_guard lock(mutex_);
    if (shut_down_ || !renderer_) return;
    // Only a window that shows the whole buffer scrolls with it; otherwise its
    // rows just change.
    const SMALL_RECT w = model_.window();
    if (w.Left != 0 || w.Top != 0 || w.Right != model_.cols() - 1 || w.Bottom != model_.rows() - 1) return;
    draw();
    renderer_->scroll_up(rows);
}

void TerminalHost::beep(DWORD, DWORD) {
    const std::lock_guard lock(mutex_);
    if (shut_down_ || !renderer_) return;
    draw();
    renderer_->bell();
    flush();
}

bool TerminalHost::write_output(std::span<const std::byte> bytes, DWORD& written) {
    const std::lock_guard lock(mutex_);
    written = 0;
    if (!write_all(streams_.output_fd, bytes)) return false;
    written = static_cast<DWORD>(bytes.size());
    return true;
}

// --- Input ----------------------------------------------------------------------------

bool TerminalHost::key(const INPUT_RECORD& record, Deferred& deferred) {
    const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
    if ((model_.input_mode() & ENABLE_PROCESSED_INPUT) != 0 && k.bKeyDown) {
        switch (static_cast<unsigned char>(k.uChar.AsciiChar)) {
            case kCtrlC:
                deferred.events.push_back(CTRL_C_EVENT);
                return false;
            case kCtrlBackslash:
                deferred.events.push_back(CTRL_BREAK_EVENT);
                return false;
            case kCtrlZ:
                // Only a person at a terminal can bring a stopped program
                // back; a script would hang.
                if (!streams_.input_is_terminal) break;
                suspend();
                return false;
            default:
                break;
        }
    }
    model_.push_input(record);
    return true;
}

void TerminalHost::reply(const TerminalEvent& event) {
    if (kitty_ != Kitty::Asked) return;
    if (std::holds_alternative<KittyFlagsReport>(event)) {
        kitty_ = Kitty::Pushed;
        outgoing_ += kKittyKeyboardPush;
        arm_rescues();
    } else if (std::holds_alternative<DeviceAttributesReport>(event)) {
        kitty_ = Kitty::Absent;
    }
}

TerminalHost::Read TerminalHost::read_input(int timeout_ms, std::vector<TerminalEvent>& events) {
    pollfd p{streams_.input_fd, POLLIN, 0};
    if (posix_calls().poll(&p, 1, timeout_ms) <= 0) return Read::Nothing;
    if ((p.revents & POLLIN) != 0) {
        std::array<std::byte, kReadChunk> buffer;
        const ssize_t n = read_some(streams_.input_fd, buffer);
        if (n > 0) {
            decoder_.feed(std::span(buffer.data(), static_cast<std::size_t>(n)), now_ms(), events);
            return Read::Bytes;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::Nothing;
    }
    return Read::Ended;
}

bool TerminalHost::read_terminal(Deferred& deferred) {
    std::vector<TerminalEvent> events;
    for (int reads = 0; reads < kReadsPerPoll; ++reads) {
        const Read read = read_input(0, events);
        if (read == Read::Bytes) continue;
        if (read == Read::Ended) {
            // Hung up: no key will ever come again, as when the window closes.
            input_ended_ = true;
            deferred.final_event = CTRL_CLOSE_EVENT;
        }
        break;
    }
    decoder_.advance(now_ms(), events);
    bool queued = false;
    for (const TerminalEvent& event : events) {
        if (const auto* record = std::get_if<INPUT_RECORD>(&event)) {
            queued = key(*record, deferred) || queued;
        } else {
            reply(event);
        }
    }
    return queued;
}

void TerminalHost::take_piped_bytes() {
    std::vector<TerminalEvent> events;
    if (read_input(0, events) == Read::Ended) {
        input_ended_ = true;
        decoder_.finish(events);
    }
    for (const TerminalEvent& event : events) {
        if (const auto* record = std::get_if<INPUT_RECORD>(&event)) piped_keys_.push_back(*record);
    }
}

bool TerminalHost::deliver_piped_key(Deferred& deferred) {
    // Typed keys: the next one comes when the program waits with none pending.
    if (model_.input_count() != 0) return false;
    if (piped_keys_.empty() && !input_ended_) take_piped_bytes();
    if (!piped_keys_.empty()) {
        const INPUT_RECORD record = piped_keys_.front();
        piped_keys_.pop_front();
        key(record, deferred);
        return true;
    }
    if (!input_ended_) return false;
    if (!close_raised_) {
        close_raised_ = true;
        deferred.events.push_back(CTRL_CLOSE_EVENT);
    } else {
        deferred.end_of_input = true;
    }
    return true;
}

// --- Signals and the waits ----------------------------------------------------------

void TerminalHost::handle_signals(Deferred& deferred) {
    HostSignals signals = take_signals();
    if (resumed_) {
        signals.remove(HostSignal::Continue);
        resumed_ = false;
    }
    if (signals.has(HostSignal::Resize)) follow_terminal_size();
    if (signals.has(HostSignal::Continue)) resume();
    if (signals.has(HostSignal::Suspend)) suspend();
    if (signals.has(HostSignal::Interrupt)) deferred.events.push_back(CTRL_C_EVENT);
    if (signals.has(HostSignal::Quit)) deferred.events.push_back(CTRL_BREAK_EVENT);
    if (signals.has(HostSignal::HangUp)) {
        deferred.final_event = CTRL_CLOSE_EVENT;
    } else if (signals.has(HostSignal::Terminate)) {
        deferred.final_event = CTRL_SHUTDOWN_EVENT;
    }
}

bool TerminalHost::service(Deferred& deferred) {
    bool queued = false;
    if (streams_.input_is_terminal && !input_ended_) queued = read_terminal(deferred);
    handle_signals(deferred);
    flush();
    return queued;
}

void TerminalHost::run(const Deferred& deferred) {
    for (const DWORD event : deferred.events)
        raise_control_event(event);
    if (deferred.final_event) {
        raise_control_event(*deferred.final_event);
        end_process(control_event_exit_status(*deferred.final_event));
    }
    if (deferred.end_of_input) crt::exit(kEndOfInputExitStatus);
}

void TerminalHost::end_process(int status) {
    shutdown();
    ::_exit(status);
}

void TerminalHost::input_idle() {
    Deferred deferred;
    {
        const std::lock_guard lock(mutex_);
        if (shut_down_) return;
        service(deferred);
    }
    run(deferred);
}

void TerminalHost::wait(DWORD milliseconds) {
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        Deferred deferred;
        bool done = false;
        std::array<pollfd, 2> fds{pollfd{-1, POLLIN, 0}, pollfd{-1, POLLIN, 0}};
        std::optional<std::chrono::milliseconds> key_deadline;
        {
            const std::lock_guard lock(mutex_);
            if (shut_down_) return;
            done = service(deferred);
            if (!streams_.input_is_terminal) done = deliver_piped_key(deferred) || done;
            fds[0].fd = signal_wake_fd();
            const bool reading = streams_.input_is_terminal
                                     ? !input_ended_
                                     : !input_ended_ && piped_keys_.empty() && model_.input_count() == 0;
            if (reading) fds[1].fd = streams_.input_fd;
            key_deadline = decoder_.deadline();
        }
        run(deferred);
        if (done) return;

        const auto now = steady_clock::now();
        if (now >= deadline) return;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1);
        if (key_deadline) left = std::min(left, std::max(*key_deadline - now_ms(), std::chrono::milliseconds(0)));
        const auto timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
        posix_calls().poll(fds.data(), fds.size(), timeout);
    }
}

}  // namespace platform
