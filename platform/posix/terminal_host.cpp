#include "platform/posix/terminal_host.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>
#include <variant>

#include "platform/posix/control_events.h"
#include "platform/posix/host_wait.h"
#include "platform/posix/posix_signals.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Keys that act as the terminal's signal keys while input is processed.
constexpr unsigned char kCtrlC = 0x03;
constexpr unsigned char kCtrlBackslash = 0x1C;
constexpr unsigned char kCtrlZ = 0x1A;

TerminalSize initial_size(const HostStreams& streams) {
    return streams.output_is_terminal ? terminal_size(streams.output_fd) : kFallbackTerminalSize;
}

std::unique_ptr<KeySource> key_source(const HostStreams& streams) {
    if (streams.input_is_terminal) return std::make_unique<TerminalKeys>(streams.input_fd);
    return std::make_unique<PipedKeys>(streams.input_fd);
}

}  // namespace

// Piped input is typed keys too: the input is always the console's.
TerminalHost::TerminalHost(const HostStreams& streams)
    : ConsoleHost(model_, streams.output_is_terminal, true),
      session_(streams),
      model_(initial_size(streams).cols, initial_size(streams).rows),
      keys_(key_source(streams)) {
    if (streams.output_is_terminal) {
        screen_.emplace(streams.output_fd, model_.cols(), model_.rows());
    } else {
        piped_output_.emplace(streams.output_fd);
    }
    session_.enter(screen_ ? &*screen_ : nullptr);
    // Without the wake-up pipes or the control thread, signals keep their
    // usual actions.
    watching_signals_ = watch_signals(streams.any_terminal());
    // Before the control thread: while the program waits for keys, they wake
    // that wait alone.
    waits_.emplace(signal_wake_fd(SignalQueue::Program), keys_->fd(), streams.input_is_terminal);
    if (watching_signals_ && !control_.start(*this, streams.input_is_terminal ? streams.input_fd : -1)) {
        unwatch_signals();
        watching_signals_ = false;
        waits_.emplace(-1, keys_->fd(), streams.input_is_terminal);
    }
}

TerminalHost::~TerminalHost() { shutdown(); }

// --- The session ---------------------------------------------------------------------

void TerminalHost::await_replies(bool keep_keys) {
    if (!session_.awaiting_replies() || keys_->ended()) return;
    std::vector<TerminalEvent> events;
    while (session_.awaiting_replies()) {
        const auto left = std::chrono::duration_cast<milliseconds>(session_.replies_due() - steady_clock::now());
        events.clear();
        if (left.count() <= 0 || !keys_->read(static_cast<int>(left.count()), events)) return;
        for (const TerminalEvent& event : events) {
            // Keys typed meanwhile stay kept for a program that carries on
            // after a suspension.
            if (const auto* record = std::get_if<INPUT_RECORD>(&event)) {
                if (keep_keys) keys_->keep(*record);
            } else {
                session_.reply(event, nullptr);
            }
        }
    }
}

void TerminalHost::suspend() {
    // Answers that arrive after the modes are given back would reach whatever
    // reads the terminal next, and a shell shows them as typed text.
    await_replies(true);
    show();
    session_.leave(screen_ ? &*screen_ : nullptr);
    stop_process_group();
    resume();
    // The SIGCONT that continued us is still to be taken, unless nobody
    // catches it.
    resumed_ = !signal_ignored(HostSignal::Continue);
}

void TerminalHost::resume() {
    follow_terminal_size();
    if (screen_) screen_->reset(model_.cols(), model_.rows());
    session_.enter(screen_ ? &*screen_ : nullptr);
}

void TerminalHost::follow_terminal_size() {
    if (!screen_) return;
    const TerminalSize size = terminal_size(session_.streams().output_fd);
    if (size.cols == model_.cols() && size.rows == model_.rows()) return;
    model_.resize(size.cols, size.rows);
    screen_->reset(size.cols, size.rows);
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
    if (piped_output_) piped_output_->flush(on_program_thread);
    std::unique_lock lock(mutex_, std::defer_lock);
    if (on_program_thread) {
        lock.lock();
    } else if (!lock_within(lock, kShutdownPatience)) {
        // The program's thread holds the terminal in a write that does not
        // end: no byte would get through, but the modes do, without waiting
        // for that write.
        if (shut_down_.exchange(true)) return;
        session_.leave(nullptr, false);
        if (watching_signals_) unwatch_signals();
        control_.stop();
        return;
    }
    if (shut_down_.exchange(true)) return;
    await_replies(on_program_thread);
    if (on_program_thread) show();
    session_.leave(screen_ ? &*screen_ : nullptr);
    if (watching_signals_) unwatch_signals();
    control_.stop();
    // Signals act as they did before the host, on the program's thread too.
    if (on_program_thread && control_.program_mask()) {
        ::pthread_sigmask(SIG_SETMASK, &*control_.program_mask(), nullptr);
    }
    // However the program ends, output that was lost makes it a failure.
    if (on_program_thread && piped_output_ && piped_output_->lost()) piped_output_->end_for_lost_output();
}

// --- Output -------------------------------------------------------------------------

void TerminalHost::show() {
    if (screen_) screen_->show(model_);
}

void TerminalHost::beep(DWORD, DWORD) {
    const std::lock_guard lock(mutex_);
    if (shut_down_ || !screen_) return;
    screen_->ring(model_);
}

bool TerminalHost::write_output(std::span<const std::byte> bytes, DWORD& written) {
    written = 0;
    end_if_output_lost();
    return piped_output_ && piped_output_->write(bytes, written);
}

void TerminalHost::end_if_output_lost() {
    if (piped_output_ && piped_output_->lost()) shutdown();
}

// --- Keys ------------------------------------------------------------------------------

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
            if (!session_.streams().input_is_terminal) return ControlKey::None;
            return signal_ignored(HostSignal::Suspend) ? ControlKey::Ignored : ControlKey::Suspend;
        default:
            return ControlKey::None;
    }
}

void TerminalHost::deliver(const INPUT_RECORD& record, AfterLock& after) {
    const ControlKey control = control_key(record, (model_.input_mode() & ENABLE_PROCESSED_INPUT) != 0);
    if (control == ControlKey::None) {
        model_.push_input(record);
    } else if (const auto event = event_of(control)) {
        after.events.push_back(*event);
    } else if (control == ControlKey::Suspend) {
        suspend();
    }
}

// Keys that act on arrival act now; the rest wait for the program.
void TerminalHost::take_events(const std::vector<TerminalEvent>& events, AfterLock& after) {
    for (const TerminalEvent& event : events) {
        const auto* record = std::get_if<INPUT_RECORD>(&event);
        if (record == nullptr) {
            session_.reply(event, screen_ ? &*screen_ : nullptr);
        } else if (!keys_->keys_act_on_arrival() ||
                   control_key(*record, (model_.input_mode() & ENABLE_PROCESSED_INPUT) != 0) == ControlKey::None) {
            keys_->keep(*record);
        } else {
            deliver(*record, after);
        }
    }
}

// One key-down per wait, with the releases that come before it: the console's
// queue never holds more than the program is about to read.
bool TerminalHost::hand_over_key(AfterLock& after) {
    if (model_.has_input() || !keys_->has_kept()) return false;
    while (keys_->has_kept()) {
        const INPUT_RECORD record = keys_->take_kept();
        deliver(record, after);
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
    }
    return true;
}

// Every piped key has been handed over and no byte will come again: this wait
// raises the close event, as when the window closes, and the next one ends the
// program.
void TerminalHost::end_of_input(AfterLock& after) {
    if (!close_raised_) {
        close_raised_ = true;
        after.events.push_back(CTRL_CLOSE_EVENT);
    } else {
        after.end_of_input = true;
    }
}

ControlThread::Host::Reading TerminalHost::read_for_program() {
    // A waiting program's thread is not kept from its lock: it reads the keys.
    if (shut_down_ || program_reads_keys()) return Reading::Left;
    AfterLock after;
    {
        const std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return Reading::Busy;
        if (shut_down_ || keys_->ended()) return Reading::Left;
        std::vector<TerminalEvent> events;
        keys_->read_ready(events);
        if (keys_->ended()) after.final_event = CTRL_CLOSE_EVENT;
        for (const TerminalEvent& event : events) {
            const auto* record = std::get_if<INPUT_RECORD>(&event);
            if (record == nullptr) {
                // What it queues goes out with the program's next frame.
                session_.reply(event, screen_ ? &*screen_ : nullptr);
                continue;
            }
            // Only the keys that raise events act here; a suspension draws
            // the screen, which is the program's thread's to do.
            const ControlKey control = control_key(*record, processed_input_);
            if (const auto raised = event_of(control)) {
                after.events.push_back(*raised);
            } else if (control != ControlKey::Ignored) {
                keys_->keep(*record);
            }
        }
    }
    run(after);
    return Reading::Done;
}

// A waiting program's thread reads the keys itself. Bytes taken from under
// it between its look and its wait would leave it asleep for the wait's whole
// time with a key kept, so the control thread asks to be woken when the wait
// ends instead. The request and the wait's end are each written before the
// other side's is read, so one of the two sides always sees the other's.
bool TerminalHost::program_reads_keys() {
    if (!looking_) return false;
    control_waits_ = true;
    if (looking_) return true;
    control_waits_ = false;
    return false;
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

void TerminalHost::run(const AfterLock& after) {
    for (const DWORD event : after.events)
        raise_control_event(event);
    if (after.final_event) {
        raise_control_event(*after.final_event);
        end_process(control_event_exit_status(*after.final_event));
    }
    if (after.end_of_input) crt::exit(kEndOfInputExitStatus);
}

void TerminalHost::end_process(int status) {
    shutdown();
    ::_exit(status);
}

void TerminalHost::wait(DWORD milliseconds) {
    end_if_output_lost();
    wait_until(milliseconds, false);
}

bool TerminalHost::wait_for_input(DWORD milliseconds) {
    end_if_output_lost();
    wait_until(milliseconds, true);
    return model_.has_input();
}

bool TerminalHost::look(bool input_ready, AfterLock& after) {
    if (program_woken_ || signals_noted(SignalQueue::Program)) handle_signals();
    events_.clear();
    // While typed keys wait to be handed over (a paste), the wait that hands
    // one over polls no more: what came meanwhile is looked for here, so that
    // Ctrl+C still acts at once.
    if (input_ready || (keys_->has_kept() && keys_->keys_act_on_arrival() && keys_->ready_now())) {
        keys_->read_ready(events_);
    }
    keys_->settle(events_);
    if (!events_.empty()) take_events(events_, after);
    // A terminal that hung up has nobody left to type: the end comes at once.
    if (keys_->ended() && keys_->keys_act_on_arrival()) after.final_event = CTRL_CLOSE_EVENT;
    if (hand_over_key(after)) {
        // A script's key ends the wait that hands it over.
        return !keys_->keys_act_on_arrival();
    }
    if (keys_->has_kept() || !keys_->ended() || model_.has_input()) return false;
    end_of_input(after);
    return true;
}

void TerminalHost::wait_until(DWORD milliseconds, bool until_input) {
    const bool terminal_keys = keys_->keys_act_on_arrival();
    // Keys typed meanwhile are the wait's to read; the control thread reads
    // for a program that does not wait, and is woken when a wait ends that it
    // left keys to.
    struct Looking {
        TerminalHost& host;
        bool marks;
        Looking(TerminalHost& h, bool m) : host(h), marks(m) {
            if (marks) host.looking_ = true;
        }
        ~Looking() {
            if (!marks) return;
            host.looking_ = false;
            if (host.control_waits_ && host.control_waits_.exchange(false)) host.control_.wake();
        }
        Looking(const Looking&) = delete;
        Looking& operator=(const Looking&) = delete;
    } looking(*this, terminal_keys);
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    bool input_ready = false;
    for (;;) {
        AfterLock after;
        bool over = false;
        bool watch_input = false;
        std::optional<std::chrono::milliseconds> key_deadline;
        {
            const std::lock_guard lock(mutex_);
            if (shut_down_) return;
            over = look(std::exchange(input_ready, false), after) || (until_input && model_.has_input());
            // A wait that hands over one of several keys already typed (a
            // paste) returns at once, and the program comes straight back for
            // the next: the frame goes out with the wait that finds no key
            // ready, so a paste costs a write per read, not one per key.
            if (!over || !keys_->has_kept()) show();
            if (!over) {
                watch_input = keys_->wants_bytes();
                key_deadline = keys_->deadline();
            }
        }
        run(after);
        if (over) return;
        if (piped_output_) {
            piped_output_->flush(true);
            end_if_output_lost();
        }
        // The wait ends when bytes or a signal come; one that times out at the
        // wait's end is its last system call.
        const auto left = std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now()),
                                   std::chrono::milliseconds(0));
        auto until = left;
        if (key_deadline)
            until = std::min(until, std::max(*key_deadline - steady_now_ms(), std::chrono::milliseconds(0)));
        const auto timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(until.count(), INT_MAX));
        WaitSet::Ready ready_now;
        const int ready = waits_->wait(watch_input, timeout, ready_now);
        if (ready > 0) {
            program_woken_ = program_woken_ || ready_now.wake;
            input_ready = ready_now.input;
        } else if (ready == 0 && until == left) {
            return;
        }
    }
}

}  // namespace platform
