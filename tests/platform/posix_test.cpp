// The terminal host's POSIX pieces: the system-call table and what is built on
// it, terminal modes and size on a real pseudo-terminal, the signal watch, and
// the control thread.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/console_api.h"
#include "platform/posix/control_thread.h"
#include "platform/posix/key_sources.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_signals.h"
#include "platform/posix/posix_terminal.h"
#include "platform/posix/wait_set.h"
#include "tests/platform/pty_process.h"

namespace platform {
namespace {

std::span<const std::byte> bytes_of(std::string_view s) { return std::as_bytes(std::span(s.data(), s.size())); }

// --- write_all and read_some over a scripted system ----------------------------

// What the next write() does: take up to `take` bytes (-1: all), or fail with
// `error` when take is 0 and error is set.
struct WriteStep {
    int take;
    int error;
};

struct ScriptedSystem : ::testing::Test {
    static inline std::deque<WriteStep> steps;
    static inline std::string written;
    static inline int polls = 0;

    void SetUp() override {
        steps.clear();
        written.clear();
        polls = 0;
        posix_calls().write = [](int, const void* buffer, std::size_t count) -> ssize_t {
            if (steps.empty()) return -1;  // the script ran out: a test error shows as failure
            const WriteStep step = steps.front();
            steps.pop_front();
            if (step.error != 0) {
                errno = step.error;
                return -1;
            }
            const std::size_t n = step.take < 0 ? count : std::min<std::size_t>(count, step.take);
            written.append(static_cast<const char*>(buffer), n);
            return static_cast<ssize_t>(n);
        };
        posix_calls().poll = [](pollfd* fds, nfds_t, int) {
            ++polls;
            fds[0].revents = POLLOUT;
            return 1;
        };
    }
    void TearDown() override { posix_calls() = system_posix_calls(); }
};

struct WriteCase {
    const char* name;
    std::vector<WriteStep> steps;
    bool ok;
    std::string_view written;
    int polls;
};

const WriteCase kWriteCases[] = {
    {"one call", {{-1, 0}}, true, "abcdef", 0},
    {"short writes continue with the rest", {{2, 0}, {1, 0}, {-1, 0}}, true, "abcdef", 0},
    {"interrupted calls are repeated", {{0, EINTR}, {3, 0}, {0, EINTR}, {-1, 0}}, true, "abcdef", 0},
    {"a full non-blocking descriptor is waited for", {{0, EAGAIN}, {-1, 0}}, true, "abcdef", 1},
    {"a call that writes nothing is an error, not a loop", {{2, 0}, {0, 0}}, false, "ab", 0},
    {"a failed call is an error", {{1, 0}, {0, EIO}}, false, "a", 0},
};

TEST_F(ScriptedSystem, WriteAll) {
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        SetUp();
        steps.assign(c.steps.begin(), c.steps.end());
        EXPECT_EQ(write_all(1, bytes_of("abcdef")), c.ok);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(polls, c.polls);
    }
}

TEST_F(ScriptedSystem, ReadSomeRepeatsInterruptedCalls) {
    posix_calls().read = [](int, void* buffer, std::size_t) -> ssize_t {
        static int calls = 0;
        if (++calls < 3) {
            errno = EINTR;
            return -1;
        }
        std::memcpy(buffer, "xy", 2);
        return 2;
    };
    std::array<std::byte, 8> buffer{};
    EXPECT_EQ(read_some(0, buffer), 2);
    EXPECT_EQ(buffer[1], std::byte{'y'});
}

// --- terminal modes -------------------------------------------------------------

termios shell_modes() {
    termios t{};
    t.c_iflag = ICRNL | IXON | INLCR | IGNCR | ISTRIP | IUTF8;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | CREAD;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHONL | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    t.c_cc[VINTR] = 3;
    return t;
}

struct ModeCase {
    const char* flag;
    tcflag_t termios::*field;
    tcflag_t bit;
    bool kept_for_output;  // in the modes of a terminal used for output only
    bool kept_for_keys;    // in the modes of a terminal the keys come from
};

const ModeCase kModeCases[] = {
    {"OPOST", &termios::c_oflag, OPOST, false, false},   {"ECHO", &termios::c_lflag, ECHO, false, false},
    {"ECHONL", &termios::c_lflag, ECHONL, false, false}, {"ICANON", &termios::c_lflag, ICANON, true, false},
    {"ISIG", &termios::c_lflag, ISIG, true, false},      {"IEXTEN", &termios::c_lflag, IEXTEN, true, false},
    {"ICRNL", &termios::c_iflag, ICRNL, true, false},    {"INLCR", &termios::c_iflag, INLCR, true, false},
    {"IGNCR", &termios::c_iflag, IGNCR, true, false},    {"IXON", &termios::c_iflag, IXON, true, false},
    {"ISTRIP", &termios::c_iflag, ISTRIP, true, false},  {"IUTF8", &termios::c_iflag, IUTF8, true, true},
    {"ECHOE", &termios::c_lflag, ECHOE, true, true},     {"CS8", &termios::c_cflag, CS8, true, true},
};

TEST(ConsoleModes, ClearExactlyWhatTheConsoleNeeds) {
    const termios shell = shell_modes();
    for (const bool reads_keys : {false, true}) {
        const termios modes = console_modes(shell, reads_keys);
        for (const ModeCase& c : kModeCases) {
            SCOPED_TRACE(std::string(c.flag) + (reads_keys ? " (keys)" : " (output only)"));
            EXPECT_EQ((modes.*c.field & c.bit) != 0, reads_keys ? c.kept_for_keys : c.kept_for_output);
        }
    }
    const termios keys = console_modes(shell, true);
    EXPECT_EQ(keys.c_cc[VMIN], 0);
    EXPECT_EQ(keys.c_cc[VTIME], 0);
    EXPECT_EQ(keys.c_cc[VINTR], 3);
    EXPECT_EQ(console_modes(shell, false).c_cc[VMIN], 1);
}

struct Pty : ::testing::Test {
    int master = -1;
    int slave = -1;

    void SetUp() override {
        const PtyPair pty = open_pty_pair();
        master = pty.master;
        slave = pty.slave;
    }
    void TearDown() override {
        posix_calls() = system_posix_calls();
        ::close(master);
        ::close(slave);
    }
    termios modes() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(slave, &t), 0);
        return t;
    }
};

TEST_F(Pty, EnterAndLeaveGiveTheTerminalBackAsItWas) {
    const termios before = modes();
    TerminalModes terminal(slave);
    ASSERT_TRUE(terminal.saved());
    ASSERT_TRUE(terminal.enter(true));
    EXPECT_TRUE(same_modes(modes(), console_modes(before, true)));
    ASSERT_TRUE(terminal.leave());
    EXPECT_TRUE(same_modes(modes(), before));
}

TEST_F(Pty, TypedAheadInputSurvivesTheModeChange) {
    // A line typed before the program switched modes is still there for it.
    ASSERT_EQ(::write(master, "255\r1", 5), 5);
    pollfd p{slave, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    TerminalModes terminal(slave);
    ASSERT_TRUE(terminal.enter(true));
    std::string got;
    std::array<char, 16> buffer;
    while (got.size() < 5 && ::poll(&p, 1, 5000) == 1) {
        const ssize_t n = ::read(slave, buffer.data(), buffer.size());
        ASSERT_GT(n, 0);
        got.append(buffer.data(), static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "255\n1");  // the CR became LF while the line was typed in canonical mode
    EXPECT_TRUE(terminal.leave());
}

TEST_F(Pty, ModesThatCannotBeReadAreNeverWritten) {
    posix_calls().tcgetattr = [](int, termios*) {
        errno = ENOTTY;
        return -1;
    };
    posix_calls().tcsetattr = [](int, int, const termios*) -> int {
        ADD_FAILURE() << "modes set without knowing the original";
        return -1;
    };
    TerminalModes terminal(slave);
    EXPECT_FALSE(terminal.saved());
    EXPECT_FALSE(terminal.enter(true));
    EXPECT_FALSE(terminal.leave());
}

TEST_F(Pty, ModeChangesUseDrainAndRepeatWhenInterrupted) {
    static int calls;
    static int when_seen;
    calls = 0;
    when_seen = -1;
    posix_calls().tcsetattr = [](int fd, int when, const termios* t) {
        when_seen = when;
        if (++calls == 1) {
            errno = EINTR;
            return -1;
        }
        return ::tcsetattr(fd, when, t);
    };
    TerminalModes terminal(slave);
    EXPECT_TRUE(terminal.enter(false));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(when_seen, TCSADRAIN);
}

// Two threads read the terminal (the program's, and the one that watches it
// while the program computes): the bytes one saw ready may be gone when it
// reads. Its reads never block, so that read is empty, and only a hang-up
// ends the keys.
TEST_F(Pty, AnEmptyReadEndsTheKeysOnlyWhenTheTerminalHangsUp) {
    TerminalModes terminal(slave);
    ASSERT_TRUE(terminal.enter(true));
    TerminalKeys keys(slave);
    std::vector<TerminalEvent> events;
    keys.read_ready(events);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(keys.ended());

    ASSERT_EQ(::write(master, "a", 1), 1);
    pollfd p{slave, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    keys.read_ready(events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<INPUT_RECORD>(events[0]).Event.KeyEvent.uChar.AsciiChar, 'a');
    EXPECT_FALSE(keys.ended());

    ::close(std::exchange(master, -1));
    keys.read_ready(events);
    EXPECT_TRUE(keys.ended());
}

TEST_F(Pty, SizeComesFromTheTerminalWithAFallbackForNothingOrZero) {
    struct Case {
        unsigned short cols, rows;
        TerminalSize expected;
    };
    const Case cases[] = {
        {100, 30, {100, 30}}, {1, 1, {1, 1}},     {0, 0, {80, 25}},
        {0, 40, {80, 25}},    {120, 0, {80, 25}}, {65535, 40000, {32767, 32767}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        set_pty_size(master, c.cols, c.rows);
        const TerminalSize size = terminal_size(slave);
        EXPECT_EQ(size.cols, c.expected.cols);
        EXPECT_EQ(size.rows, c.expected.rows);
    }
    posix_calls().get_window_size = [](int, winsize*) {
        errno = ENOTTY;
        return -1;
    };
    EXPECT_EQ(terminal_size(slave).cols, 80);
    EXPECT_EQ(terminal_size(slave).rows, 25);
}

// A closed standard stream gets a stand-in that ends input at once and fails
// every write, before anything else can take its number.
TEST(StandardStreams, AClosedOneReadsNothingAndTakesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::close(STDIN_FILENO);
            ::close(STDOUT_FILENO);
            hold_closed_standard_streams();
            int fds[2];
            const bool own_pipe_elsewhere = ::pipe(fds) == 0 && fds[0] > STDERR_FILENO;
            char byte = 0;
            const bool input_ended = ::read(STDIN_FILENO, &byte, 1) == 0;
            const bool output_fails = ::write(STDOUT_FILENO, "x", 1) < 0;
            std::_Exit(own_pipe_elsewhere && input_ended && output_fails ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// --- signals ------------------------------------------------------------------------

struct Signals : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(watch_signals(true)); }
    void TearDown() override {
        unwatch_signals();
        posix_calls() = system_posix_calls();
    }
    static bool woken(SignalQueue queue) {
        pollfd p{signal_wake_fd(queue), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
};

TEST_F(Signals, AreNotedWakeTheirQueueAndAreTakenOnce) {
    struct Case {
        int number;
        HostSignal signal;
        SignalQueue queue;
    };
    const Case cases[] = {
        {SIGINT, HostSignal::Interrupt, SignalQueue::Control},  {SIGQUIT, HostSignal::Quit, SignalQueue::Control},
        {SIGTERM, HostSignal::Terminate, SignalQueue::Control}, {SIGHUP, HostSignal::HangUp, SignalQueue::Control},
        {SIGTSTP, HostSignal::Suspend, SignalQueue::Program},   {SIGCONT, HostSignal::Continue, SignalQueue::Program},
        {SIGWINCH, HostSignal::Resize, SignalQueue::Program},
    };
    for (const SignalQueue queue : {SignalQueue::Control, SignalQueue::Program})
        EXPECT_FALSE(woken(queue));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        const SignalQueue other = c.queue == SignalQueue::Control ? SignalQueue::Program : SignalQueue::Control;
        ASSERT_EQ(::raise(c.number), 0);  // the process survives even the deadly ones
        ::raise(c.number);                // twice is still one
        EXPECT_TRUE(woken(c.queue));
        EXPECT_FALSE(woken(other));
        EXPECT_TRUE(signals_noted(c.queue));
        EXPECT_FALSE(signals_noted(other));
        EXPECT_TRUE(take_signals(other).empty());
        HostSignals taken = take_signals(c.queue);
        EXPECT_TRUE(taken.has(c.signal));
        taken.remove(c.signal);
        EXPECT_TRUE(taken.empty());
        EXPECT_FALSE(woken(c.queue));
        EXPECT_FALSE(signals_noted(c.queue));
        EXPECT_TRUE(take_signals(c.queue).empty());
    }
}

// Looking for signals between two keys costs nothing while none is noted.
TEST_F(Signals, ALookWithNothingNotedMakesNoSystemCall) {
    static int reads;
    reads = 0;
    posix_calls().read = [](int fd, void* buffer, std::size_t count) {
        ++reads;
        return ::read(fd, buffer, count);
    };
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(take_signals(SignalQueue::Program).empty());
    EXPECT_EQ(reads, 0);
    ::raise(SIGWINCH);
    EXPECT_TRUE(take_signals(SignalQueue::Program).has(HostSignal::Resize));
    EXPECT_GT(reads, 0);
}

TEST_F(Signals, UnwatchGivesThePreviousDispositionsBack) {
    unwatch_signals();
    struct sigaction mine {};
    mine.sa_handler = SIG_IGN;
    sigemptyset(&mine.sa_mask);
    struct sigaction before {};
    ::sigaction(SIGWINCH, &mine, &before);
    ASSERT_TRUE(watch_signals(true));
    unwatch_signals();
    struct sigaction after {};
    ::sigaction(SIGWINCH, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
    ::sigaction(SIGWINCH, &before, nullptr);
    EXPECT_EQ(signal_wake_fd(SignalQueue::Program), -1);
    ASSERT_TRUE(watch_signals(true));
}

// A process dying of a fatal signal gives the terminal back first, and still
// dies of that signal.
TEST_F(Pty, FatalSignalsRescueTheTerminalAndStillKill) {
    const termios before = modes();
    for (const int number : {SIGABRT, SIGILL}) {
        SCOPED_TRACE(number);
        EXPECT_EXIT(
            {
                watch_signals(true);
                TerminalModes terminal(slave);
                terminal.enter(true);
                add_terminal_rescue(slave, terminal.original(), "RESCUED");
                ::raise(number);
            },
            ::testing::KilledBySignal(number), "");
        EXPECT_TRUE(same_modes(modes(), before));
        std::string got(64, '\0');
        pollfd p{master, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        got.resize(static_cast<std::size_t>(::read(master, got.data(), got.size())));
        EXPECT_EQ(got, "RESCUED");
    }
}

// --- the control thread ------------------------------------------------------------

// A host whose answers to the thread's reads are scripted; each read that is
// Done takes what waits in the input. The control events the thread raises
// are counted too.
struct ControlThreadTest : ::testing::Test {
    using Reading = ControlThread::Host::Reading;

    struct ScriptedHost final : ControlThread::Host {
        int input_fd = -1;
        std::deque<Reading> answers;
        int reads = 0;

        Reading read_for_program() override {
            const std::lock_guard lock(mutex);
            ++reads;
            Reading answer = Reading::Done;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            if (answer == Reading::Done) {
                char bytes[16];
                while (::read(input_fd, bytes, sizeof bytes) > 0) {
                }
            }
            changed.notify_all();
            return answer;
        }
        [[noreturn]] void end_process(int) override { std::abort(); }
    };

    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline int interrupts = 0;

    static BOOL count_interrupt(DWORD type) {
        const std::lock_guard lock(mutex);
        if (type == CTRL_C_EVENT) ++interrupts;
        changed.notify_all();
        return TRUE;
    }

    int input[2] = {-1, -1};
    ScriptedHost host;
    std::optional<ControlThread> thread;

    void SetUp() override {
        interrupts = 0;
        ASSERT_TRUE(watch_signals(false));
        ASSERT_EQ(::pipe2(input, O_CLOEXEC | O_NONBLOCK), 0);
        host.input_fd = input[0];
        SetConsoleCtrlHandler(count_interrupt, TRUE);
    }
    void TearDown() override {
        if (thread) {
            thread->stop();
            const std::optional<sigset_t> mask = thread->program_mask();
            thread.reset();
            if (mask) ::pthread_sigmask(SIG_SETMASK, &*mask, nullptr);
        }
        SetConsoleCtrlHandler(count_interrupt, FALSE);
        unwatch_signals();
        for (const int fd : input)
            ::close(fd);
    }

    void start(std::initializer_list<Reading> answers) {
        host.answers.assign(answers);
        thread.emplace();
        ASSERT_TRUE(thread->start(host, input[0]));
    }
    void type() { ASSERT_EQ(::write(input[1], "k", 1), 1); }
    // Waits until the thread has read `count` times, or handled an interrupt.
    template <typename Done>
    static bool await(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), done);
    }
    int reads() {
        const std::lock_guard lock(mutex);
        return host.reads;
    }
};

// A key is read as it arrives. Keys left to the program are not looked at
// again until the thread is woken: the poll that next wakes it (here for a
// signal) does not find them, though they are still there to be read.
TEST_F(ControlThreadTest, ReadsKeysOnArrivalAndLeavesTheProgramsAloneUntilWoken) {
    start({Reading::Left});
    type();
    ASSERT_TRUE(await([this] { return host.reads == 1; }));
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    ASSERT_TRUE(await([] { return interrupts == 1; }));
    EXPECT_EQ(reads(), 1);
    thread->wake();
    ASSERT_TRUE(await([this] { return host.reads == 2; }));
    type();  // watched again without another wake
    ASSERT_TRUE(await([this] { return host.reads == 3; }));
}

// A host that is busy is tried again without a new key or a wake.
TEST_F(ControlThreadTest, ABusyHostIsTriedAgain) {
    start({Reading::Busy, Reading::Busy});
    type();
    ASSERT_TRUE(await([this] { return host.reads == 3; }));
}

// --- the program's wait set ---------------------------------------------------------

// Registered once (epoll) or polled, the set reports the same: nothing, the
// input while it is watched, the wake-up, a hung-up terminal; input that is
// readable but no longer watched does not end a wait.
TEST_F(Pty, AWaitSetReportsWhatIsWatchedEitherWay) {
    for (const bool register_once : {true, false}) {
        SCOPED_TRACE(register_once ? "epoll" : "poll");
        int wake[2];
        ASSERT_EQ(::pipe(wake), 0);
        {
            const PtyPair pty = open_pty_pair();
            TerminalModes terminal(pty.slave);
            ASSERT_TRUE(terminal.enter(true));
            WaitSet set(wake[0], pty.slave, register_once);
            WaitSet::Ready ready;
            EXPECT_EQ(set.wait(true, 0, ready), 0);
            EXPECT_FALSE(ready.input || ready.wake);

            // A look sees a key the terminal has only just received.
            ASSERT_EQ(::write(pty.master, "a", 1), 1);
            EXPECT_EQ(set.wait(true, 0, ready), 1);
            EXPECT_TRUE(ready.input);
            EXPECT_EQ(set.wait(true, 5000, ready), 1);
            EXPECT_TRUE(ready.input);
            EXPECT_FALSE(ready.wake);
            EXPECT_EQ(set.wait(false, 0, ready), 0);
            EXPECT_FALSE(ready.input);

            ASSERT_EQ(::write(wake[1], "w", 1), 1);
            EXPECT_EQ(set.wait(false, 5000, ready), 1);
            EXPECT_TRUE(ready.wake);
            EXPECT_FALSE(ready.input);
            char w;
            ASSERT_EQ(::read(wake[0], &w, 1), 1);

            ::close(pty.master);
            EXPECT_EQ(set.wait(true, 5000, ready), 1);
            EXPECT_TRUE(ready.input);
            // A terminal that hung up stays readable: once it is no longer
            // watched, waits run their time again.
            EXPECT_EQ(set.wait(false, 0, ready), 0);
            ::close(pty.slave);
        }
        ::close(wake[0]);
        ::close(wake[1]);
    }
}

// epoll takes no regular file: input from one is polled.
TEST(WaitSet, InputEpollRefusesIsPolled) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    WaitSet set(-1, ::fileno(file), true);
    WaitSet::Ready ready;
    EXPECT_EQ(set.wait(true, 0, ready), 1);
    EXPECT_TRUE(ready.input);
    std::fclose(file);
}

}  // namespace
}  // namespace platform
