#include "platform/posix/terminal_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>
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
// How long a shutdown on another thread waits for the program's thread to
// finish a write to the terminal; longer means the terminal takes nothing.
constexpr milliseconds kShutdownPatience{500};
// Redirected output gathered beyond this is sent without waiting for a wait.
constexpr std::size_t kPipedOutputChunk = 64 * 1024;

// How long the program's thread may go without looking for keys before the
// control thread reads the terminal for it. A program that polls looks every
// few tens of milliseconds.
constexpr milliseconds kUnattended{1000};
// How soon the control thread tries again when the program's thread holds the
// host (a write to a slow terminal).
constexpr milliseconds kRetryUnattended{10};

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

// Looks for the lock every millisecond until `patience` has passed.
bool lock_within(std::unique_lock<HostLock>& lock, milliseconds patience) {
    const auto give_up = steady_clock::now() + patience;
    while (!lock.try_lock()) {
        if (steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
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

// Piped input is typed keys too: the input is always the console's.
TerminalHost::TerminalHost(const HostStreams& streams)
    : ConsoleHost(model_, streams.output_is_terminal, true),
      streams_(streams),
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
    } else {
        piped_output_.resize(kPipedOutputChunk);
    }
    if (streams_.same_terminal) {
        kitty_ = Kitty::Asked;
        outgoing_ += kKittyQuery;
    }
    enter_terminals();
    // Without the wake-up pipes or the control thread, signals keep their
    // usual actions.
    if (watch_signals() && !start_control_thread()) unwatch_signals();
}

bool TerminalHost::start_control_thread() {
    if (::pipe2(control_stop_.data(), O_CLOEXEC) != 0) return false;
    // The signals of control events go to the control thread alone, so that
    // they are noted whatever the program's thread is doing. The thread (and
    // the handler threads it starts) takes no other signal but the faults of
    // its own instructions: those go to the program's thread as before it
    // existed, so that a SIGCONT is noted before the stop it ends returns.
    const sigset_t control = signals_of(SignalQueue::Control);
    sigset_t program_mask;
    ::pthread_sigmask(SIG_BLOCK, &control, &program_mask);
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
        sigdelset(&blocked, fault);
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &mask);
    bool started = true;
    control_running_ = true;
    try {
        // Detached: a process that ends does not wait for it (it may be
        // running a handler), and it is no thread left behind unjoined.
        std::thread(&TerminalHost::watch_control_signals, this).detach();
    } catch (const std::system_error&) {
        control_running_ = false;
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, started ? &mask : &program_mask, nullptr);
    if (started) program_mask_ = program_mask;
    return started;
}

TerminalHost::~TerminalHost() {
    shutdown();
    {
        std::unique_lock lock(control_mutex_);
        control_ended_.wait(lock, [this] { return !control_running_; });
    }
    for (const int fd : control_stop_) {
        if (fd >= 0) ::close(fd);
    }
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

void TerminalHost::await_query_replies(bool keep_keys) {
    if (kitty_ != Kitty::Asked || input_ended_) return;
    send();  // the queries may still be waiting to go out
    std::vector<TerminalEvent> events;
    while (kitty_ == Kitty::Asked) {
        const auto left = std::chrono::duration_cast<milliseconds>(*replies_due_ - steady_clock::now());
        events.clear();
        if (left.count() <= 0 || read_input(static_cast<int>(left.count()), events) != Read::Bytes) return;
        for (const TerminalEvent& event : events) {
            // Keys typed meanwhile stay queued for a program that carries on
            // after a suspension. The protocol is not pushed any more: the
            // device attributes answer alone settles the question.
            if (const auto* record = std::get_if<INPUT_RECORD>(&event)) {
                if (keep_keys) model_.push_input(*record);
            } else if (std::holds_alternative<DeviceAttributesReport>(event)) {
                kitty_ = Kitty::Absent;
            }
        }
    }
}

void TerminalHost::leave_terminals(bool on_program_thread) {
    // Answers that arrive after the modes are given back would reach whatever
    // reads the terminal next, and a shell shows them as typed text.
    await_query_replies(on_program_thread);
    if (renderer_) {
        if (on_program_thread) draw();
        outgoing_ += renderer_->take_output();
        outgoing_ += leaving_bytes();
        // The shell carries on below what the program showed.
        renderer_->end_at_cursor();
        outgoing_ += renderer_->take_output();
        send();
    }
    for (Terminal& t : terminals_)
        t.modes.leave();
    clear_terminal_rescues();
}

void TerminalHost::suspend() {
    leave_terminals(true);
    stop_process_group();
    resume();
    // The SIGCONT that continued us is still to be taken, unless nobody
    // catches it.
    resumed_ = !signal_ignored(HostSignal::Continue);
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
    const bool on_program_thread = std::this_thread::get_id() == program_thread_;
    // What the program printed goes out on every way out, unless the program's
    // thread is stuck sending it.
    flush_piped_output(on_program_thread);
    std::unique_lock lock(mutex_, std::defer_lock);
    if (on_program_thread) {
        lock.lock();
    } else if (!lock_within(lock, kShutdownPatience)) {
        // The program's thread holds the terminal in a write that does not
        // end: no byte would get through, but the modes do, without waiting
        // for that write.
        if (shut_down_.exchange(true)) return;
        for (Terminal& t : terminals_)
            t.modes.leave(false);
        clear_terminal_rescues();
        unwatch_signals();
        stop_control_thread();
        return;
    }
    if (shut_down_.exchange(true)) return;
    leave_terminals(on_program_thread);
    unwatch_signals();
    stop_control_thread();
    // Signals act as they did before the host, on the program's thread too.
    if (on_program_thread && program_mask_) ::pthread_sigmask(SIG_SETMASK, &*program_mask_, nullptr);
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
    if (kitty_ == Kitty::Asked && !replies_due_) replies_due_ = steady_clock::now() + kReplyPatience;
    // A terminal that cannot take the bytes has gone away; its hang-up ends
    // the program.
    write_all(streams_.output_fd, bytes_of(outgoing_));
    outgoing_.clear();
}

void TerminalHost::flush() {
    if (renderer_) {
        draw();
        outgoing_ += renderer_->take_output();
    }
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

// Redirected output is gathered and sent when the program is about to wait
// for input (and at the end): a script's reader gets every byte before the
// program could block, without a system call per echoed key. A failed send
// makes this and every later write fail. Only the output lock is held for a
// send, so a write that blocks on a full pipe does not keep a shutdown on
// another thread waiting longer than its patience.
//
// Only the program's thread writes (as it alone changes the console), and it
// writes several times for each key: gathering takes no lock. The bytes are
// copied past what is gathered and then published with the new count; a
// shutdown on another thread sends only what was published, under the lock,
// and marks it sent rather than emptying the buffer under the writer.
bool TerminalHost::write_output(std::span<const std::byte> bytes, DWORD& written) {
    written = 0;
    if (output_failed_) return false;
    const std::size_t gathered = piped_gathered_.load(std::memory_order_relaxed);
    if (bytes.size() < piped_output_.size() - gathered) {
        // An echoed key is a byte of its own: stored, not copied by a call.
        if (bytes.size() == 1) {
            piped_output_[gathered] = bytes.front();
        } else {
            std::copy(bytes.begin(), bytes.end(), piped_output_.begin() + static_cast<std::ptrdiff_t>(gathered));
        }
        piped_gathered_.store(gathered + bytes.size(), std::memory_order_release);
    } else if (!send_piped_output_and(bytes)) {
        return false;
    }
    written = static_cast<DWORD>(bytes.size());
    return true;
}

bool TerminalHost::send_piped_output_and(std::span<const std::byte> bytes) {
    const std::lock_guard lock(output_mutex_);
    if (!send_piped_output(true)) return false;
    if (!write_all(streams_.output_fd, bytes)) output_failed_ = true;
    return !output_failed_;
}

bool TerminalHost::send_piped_output(bool on_program_thread) {
    const std::size_t gathered = piped_gathered_.load(std::memory_order_acquire);
    if (gathered > piped_sent_ && !output_failed_ &&
        !write_all(streams_.output_fd, std::span(piped_output_).subspan(piped_sent_, gathered - piped_sent_))) {
        output_failed_ = true;
    }
    if (on_program_thread) {
        piped_gathered_.store(0, std::memory_order_relaxed);
        piped_sent_ = 0;
    } else {
        piped_sent_ = gathered;
    }
    return !output_failed_;
}

void TerminalHost::flush_piped_output(bool on_program_thread) {
    std::unique_lock lock(output_mutex_, std::defer_lock);
    if (on_program_thread) {
        lock.lock();
    } else if (!lock_within(lock, kShutdownPatience)) {
        return;
    }
    send_piped_output(on_program_thread);
}

// --- Input ----------------------------------------------------------------------------

std::optional<DWORD> TerminalHost::event_of(ControlKey key) {
    switch (key) {
        case ControlKey::Interrupt:
            return CTRL_C_EVENT;
        case ControlKey::Break:
            return CTRL_BREAK_EVENT;
        default:
            return std::nullopt;
    }
}

TerminalHost::ControlKey TerminalHost::control_key(const INPUT_RECORD& record, bool processed_input) const {
    const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
    if (!processed_input || !k.bKeyDown) return ControlKey::None;
    switch (static_cast<unsigned char>(k.uChar.AsciiChar)) {
        case kCtrlC:
            return signal_ignored(HostSignal::Interrupt) ? ControlKey::Ignored : ControlKey::Interrupt;
        case kCtrlBackslash:
            return signal_ignored(HostSignal::Quit) ? ControlKey::Ignored : ControlKey::Break;
        case kCtrlZ:
            // Only a person at a terminal can bring a stopped program back; a
            // script would hang.
            if (!streams_.input_is_terminal) return ControlKey::None;
            return signal_ignored(HostSignal::Suspend) ? ControlKey::Ignored : ControlKey::Suspend;
        default:
            return ControlKey::None;
    }
}

void TerminalHost::key(const INPUT_RECORD& record, Deferred& deferred) {
    const ControlKey control = control_key(record, (model_.input_mode() & ENABLE_PROCESSED_INPUT) != 0);
    if (control == ControlKey::None) {
        model_.push_input(record);
    } else {
        act_on(control, deferred);
    }
}

void TerminalHost::act_on(ControlKey control, Deferred& deferred) {
    if (const auto event = event_of(control)) {
        deferred.events.push_back(*event);
    } else if (control == ControlKey::Suspend) {
        suspend();
    }
}

bool TerminalHost::read_for_program() {
    Deferred deferred;
    {
        const std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        if (shut_down_ || input_ended_) return true;
        std::vector<TerminalEvent> events;
        if (read_input(0, events) == Read::Ended) {
            input_ended_ = true;
            deferred.final_event = CTRL_CLOSE_EVENT;
        }
        for (const TerminalEvent& event : events) {
            const auto* record = std::get_if<INPUT_RECORD>(&event);
            if (record == nullptr) {
                reply(event);
                continue;
            }
            // Only the keys that raise events act here; a suspension draws
            // the screen, which is the program's thread's to do.
            const ControlKey control = control_key(*record, processed_input_);
            if (const auto raised = event_of(control)) {
                deferred.events.push_back(*raised);
            } else if (control != ControlKey::Ignored) {
                typed_.push_back(*record);
            }
        }
    }
    run(deferred);
    return true;
}

std::optional<milliseconds> TerminalHost::until_unattended() const {
    if (!streams_.input_is_terminal || input_ended_) return std::nullopt;
    if (looking_) return kUnattended;
    const auto since = steady_clock::now() - steady_clock::time_point(steady_clock::duration(last_look_.load()));
    return std::max(std::chrono::duration_cast<milliseconds>(kUnattended - since), milliseconds(0));
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

void TerminalHost::read_terminal(Deferred& deferred) {
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
    for (const TerminalEvent& event : events) {
        if (const auto* record = std::get_if<INPUT_RECORD>(&event)) {
            key(*record, deferred);
        } else {
            reply(event);
        }
    }
}

// Only once every key decoded before has been handed over: the events are
// decoded in place, for next_piped_key to step through.
void TerminalHost::take_piped_bytes() {
    piped_events_.clear();
    piped_next_ = 0;
    if (read_input(0, piped_events_) == Read::Ended) {
        input_ended_ = true;
        decoder_.finish(piped_events_);
    }
}

const INPUT_RECORD* TerminalHost::next_piped_key() {
    while (piped_next_ < piped_events_.size()) {
        if (const auto* record = std::get_if<INPUT_RECORD>(&piped_events_[piped_next_++])) return record;
    }
    return nullptr;
}

bool TerminalHost::deliver_piped_key(Deferred& deferred) {
    // Typed keys: the next one comes when the program waits with none pending.
    if (model_.has_input()) return false;
    const INPUT_RECORD* record = next_piped_key();
    if (record == nullptr && !input_ended_) {
        take_piped_bytes();
        record = next_piped_key();
    }
    if (record != nullptr) {
        key(*record, deferred);
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

void TerminalHost::handle_signals() {
    HostSignals signals = take_signals(SignalQueue::Program, std::exchange(program_woken_, false));
    if (resumed_ && signals.has(HostSignal::Continue)) {
        signals.remove(HostSignal::Continue);
        resumed_ = false;
    }
    if (signals.has(HostSignal::Resize)) follow_terminal_size();
    if (signals.has(HostSignal::Continue)) resume();
    if (signals.has(HostSignal::Suspend)) suspend();
}

void TerminalHost::watch_control_signals() {
    std::array<pollfd, 3> fds{pollfd{signal_wake_fd(SignalQueue::Control), POLLIN, 0},
                              pollfd{control_stop_[0], POLLIN, 0}, pollfd{-1, POLLIN, 0}};
    const sigset_t control = signals_of(SignalQueue::Control);
    ::pthread_sigmask(SIG_UNBLOCK, &control, nullptr);
    std::optional<milliseconds> retry;
    for (;;) {
        const std::optional<milliseconds> unattended = retry ? retry : until_unattended();
        retry.reset();
        fds[2].fd = unattended && unattended->count() == 0 ? streams_.input_fd : -1;
        const int timeout = unattended && unattended->count() > 0 ? static_cast<int>(unattended->count()) : -1;
        if (::poll(fds.data(), fds.size(), timeout) < 0) continue;  // interrupted
        if (fds[1].revents != 0) break;
        if (fds[2].revents != 0 && !read_for_program()) retry = kRetryUnattended;
        if (fds[0].revents == 0) continue;
        const HostSignals signals = take_signals(SignalQueue::Control, true);
        if (signals.has(HostSignal::Interrupt)) raise_control_event(CTRL_C_EVENT);
        if (signals.has(HostSignal::Quit)) raise_control_event(CTRL_BREAK_EVENT);
        std::optional<DWORD> final_event;
        if (signals.has(HostSignal::HangUp)) {
            final_event = CTRL_CLOSE_EVENT;
        } else if (signals.has(HostSignal::Terminate)) {
            final_event = CTRL_SHUTDOWN_EVENT;
        }
        if (final_event) {
            raise_control_event(*final_event);
            end_process(control_event_exit_status(*final_event));
        }
    }
    // Nothing of the host is touched after this.
    const std::lock_guard lock(control_mutex_);
    control_running_ = false;
    control_ended_.notify_all();
}

void TerminalHost::stop_control_thread() {
    if (control_stop_[1] < 0) return;
    const char stop = 0;
    [[maybe_unused]] const ssize_t n = ::write(control_stop_[1], &stop, 1);
}

void TerminalHost::service(Deferred& deferred) {
    if (streams_.input_is_terminal) serve_terminal(deferred);
    // Between two keys no signal is noted: nothing to take.
    if (program_woken_ || signals_noted(SignalQueue::Program)) handle_signals();
    // With nothing drawn, only host sequences can be waiting to go out.
    if (renderer_ || !outgoing_.empty()) flush();
}

// The control thread reads only a terminal for the program.
void TerminalHost::serve_terminal(Deferred& deferred) {
    last_look_ = steady_clock::now().time_since_epoch().count();
    processed_input_ = (model_.input_mode() & ENABLE_PROCESSED_INPUT) != 0;
    // An empty queue put in its place costs an allocation: only for keys.
    if (!typed_.empty()) {
        for (const INPUT_RECORD& record : std::exchange(typed_, {}))
            key(record, deferred);
    }
    if (!input_ended_) read_terminal(deferred);
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
    // Piped both ways, a poll has nothing to read or draw: unless a signal
    // waits for the program's thread, there is nothing to lock for. The
    // program polls several times for every key.
    if (!streams_.input_is_terminal && !renderer_ && !program_woken_ && !signals_noted(SignalQueue::Program)) return;
    serve_idle();
}

void TerminalHost::serve_idle() {
    Deferred deferred;
    {
        const std::lock_guard lock(mutex_);
        if (shut_down_) return;
        service(deferred);
    }
    run(deferred);
}

void TerminalHost::wait(DWORD milliseconds) {
    // A script's keys come as fast as the program takes them: a wait that
    // hands one over ends there, before it looks at the clock or sets up a
    // poll.
    if (!streams_.input_is_terminal && serve_wait(nullptr)) return;
    wait_until(milliseconds, false);
}

bool TerminalHost::wait_for_input(DWORD milliseconds) {
    if (!streams_.input_is_terminal && serve_wait(nullptr)) return model_.has_input();
    wait_until(milliseconds, true);
    return model_.has_input();
}

bool TerminalHost::serve_wait(WaitPoll* poll) {
    Deferred deferred;
    bool delivered = false;
    {
        const std::lock_guard lock(mutex_);
        if (shut_down_) return true;
        service(deferred);
        if (!streams_.input_is_terminal) delivered = deliver_piped_key(deferred);
        if (!delivered && poll != nullptr) {
            poll->fds[0].fd = signal_wake_fd(SignalQueue::Program);
            const bool reading = streams_.input_is_terminal
                                     ? !input_ended_
                                     : !input_ended_ && piped_next_ == piped_events_.size() && !model_.has_input();
            poll->fds[1].fd = reading ? streams_.input_fd : -1;
            poll->key_deadline = decoder_.deadline();
        }
    }
    run(deferred);
    return delivered;
}

void TerminalHost::wait_until(DWORD milliseconds, bool until_input) {
    // Keys typed meanwhile are the wait's to read. Piped keys are never read
    // by the control thread: a script's wait marks nothing.
    struct Looking {
        TerminalHost& host;
        explicit Looking(TerminalHost& h) : host(h) {
            if (host.streams_.input_is_terminal) host.looking_ = true;
        }
        ~Looking() {
            if (!host.streams_.input_is_terminal) return;
            host.last_look_ = steady_clock::now().time_since_epoch().count();
            host.looking_ = false;
        }
        Looking(const Looking&) = delete;
        Looking& operator=(const Looking&) = delete;
    } looking(*this);
    // A wait that hands over a piped key ends before it needs the clock: its
    // time counts from the first look that finds none.
    std::optional<steady_clock::time_point> deadline;
    if (streams_.input_is_terminal) deadline = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        WaitPoll poll;
        if (serve_wait(&poll) || (until_input && model_.has_input())) return;

        const auto now = steady_clock::now();
        if (!deadline) deadline = now + std::chrono::milliseconds(milliseconds);
        if (now >= *deadline) return;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now) + std::chrono::milliseconds(1);
        if (poll.key_deadline) {
            left = std::min(left, std::max(*poll.key_deadline - now_ms(), std::chrono::milliseconds(0)));
        }
        const auto timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
        flush_piped_output(true);
        if (posix_calls().poll(poll.fds.data(), poll.fds.size(), timeout) > 0 && (poll.fds[0].revents & POLLIN) != 0) {
            program_woken_ = true;
        }
    }
}

}  // namespace platform
