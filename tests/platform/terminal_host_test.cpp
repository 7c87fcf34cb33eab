// The terminal host: in this process over a pseudo-terminal and pipes (frames,
// keys, control keys, protocols, size changes, piped keys), and as the host of a
// real program run on a pseudo-terminal (every way out gives the terminal back,
// suspend and resume, scrollback, redirected streams, end of piped input).
#include "platform/posix/terminal_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_api.h"
#include "platform/posix/control_events.h"
#include "platform/posix/posix_io.h"
#include "tests/platform/pty_process.h"
#include "tests/platform/vterm_screen.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Far longer than anything here takes when it works; a wait that should have
// ended early but runs this long fails the test.
constexpr DWORD kLongWait = 5000;
// A wait on a terminal, which lasts its whole time: long enough for the lone
// Escape's timeout to pass within it.
constexpr DWORD kTerminalWait = 150;
// A VT220-class terminal's answer to the primary device attributes query.
constexpr std::string_view kDeviceAttributesReply = "\x1b[?62;22c";

// --- Control events seen by a handler ------------------------------------------

std::mutex g_events_mutex;
std::condition_variable g_events_changed;
std::vector<DWORD> g_events;

BOOL record_event(DWORD type) {
    const std::lock_guard lock(g_events_mutex);
    g_events.push_back(type);
    g_events_changed.notify_all();
    return TRUE;
}

// The events the handlers have seen, taken once there are at least `count`
// (or a long wait has passed): those that keys typed on the terminal raise may
// come from the host's control thread, after the program's wait is over.
std::vector<DWORD> await_events(std::size_t count) {
    std::unique_lock lock(g_events_mutex);
    g_events_changed.wait_for(lock, milliseconds(kLongWait), [count] { return g_events.size() >= count; });
    return std::exchange(g_events, {});
}

std::vector<DWORD> take_events() {
    const std::lock_guard lock(g_events_mutex);
    return std::exchange(g_events, {});
}

// --- Writes to the terminal, counted -------------------------------------------

int g_counted_fd = -1;
int g_writes = 0;
std::string g_last_write;

ssize_t counting_write(int fd, const void* buffer, std::size_t count) {
    if (fd == g_counted_fd) {
        ++g_writes;
        g_last_write.assign(static_cast<const char*>(buffer), count);
    }
    return ::write(fd, buffer, count);
}

// --- The control thread, as the kernel sees it -------------------------------------

// The wait a thread is asleep in (epoll_wait): for how long (-1: until
// something is ready), the descriptors its set holds, and how often the thread
// has gone to sleep so far.
struct Asleep {
    int timeout_ms;
    std::vector<int> watched;
    long sleeps;

    bool watches(int fd) const { return std::find(watched.begin(), watched.end(), fd) != watched.end(); }
};

// The descriptors an epoll set holds, from /proc.
std::vector<int> epoll_set(int epoll_fd) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(epoll_fd));
    std::vector<int> fds;
    for (std::string line; std::getline(info, line);) {
        if (line.starts_with("tfd:")) fds.push_back(std::stoi(line.substr(4)));
    }
    return fds;
}

// The wait thread `id` of this process sleeps in, from /proc; nothing while
// it runs, is woken and not yet run, or sleeps in another call.
std::optional<Asleep> asleep_in_wait(pid_t id) {
    const std::filesystem::path task = "/proc/self/task/" + std::to_string(id);
    std::ifstream stat(task / "stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos || line.compare(name_end + 2, 1, "S") != 0) return std::nullopt;
    // The call's number and its arguments; "running" while it is not in one.
    std::ifstream call(task / "syscall");
    long number = -1;
    unsigned long epoll_fd = 0;
    unsigned long events = 0;
    unsigned long count = 0;
    unsigned long timeout = 0;
    if (!(call >> number >> std::hex >> epoll_fd >> events >> count >> timeout) ||
        (number != SYS_epoll_wait && number != SYS_epoll_pwait)) {
        return std::nullopt;
    }
    std::ifstream status(task / "status");
    long sleeps = -1;
    for (std::string entry; std::getline(status, entry);) {
        if (entry.starts_with("voluntary_ctxt_switches:")) sleeps = std::stol(entry.substr(24));
    }
    return Asleep{static_cast<int>(static_cast<unsigned int>(timeout)), epoll_set(static_cast<int>(epoll_fd)), sleeps};
}

// The wait that a thread of this process other than `others` sleeps in: the
// host's control thread, the only other thread that waits. Nothing once a
// long wait has passed without one.
std::optional<Asleep> control_thread_asleep(std::initializer_list<pid_t> others) {
    const auto give_up = steady_clock::now() + milliseconds(kLongWait);
    while (steady_clock::now() < give_up) {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            const pid_t id = std::stoi(task.path().filename().string());
            if (std::find(others.begin(), others.end(), id) != others.end()) continue;
            if (auto found = asleep_in_wait(id)) return found;
        }
        std::this_thread::yield();
    }
    return std::nullopt;
}

pid_t this_thread_id() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

std::string key_chars(ConsoleModel& model) {
    std::string chars;
    INPUT_RECORD record{};
    while (model.read_input(std::span(&record, 1)) == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            chars += record.Event.KeyEvent.uChar.AsciiChar;
    }
    return chars;
}

// The keys handed over one per wait, each taken by the program before the
// next wait, until a wait hands over none.
std::string keys_over_waits(ConsoleModel& model) {
    std::string chars;
    for (;;) {
        Sleep(0);
        if (!model.has_input()) return chars;
        chars += key_chars(model);
    }
}

// A TerminalHost in this process, its console the process's console. The
// screen side is a pseudo-terminal read through an emulator; keys come from the
// same terminal or from a pipe.
struct HostTest : ::testing::Test {
    int master = -1;
    int slave = -1;
    int pipe_in[2] = {-1, -1};
    int pipe_out[2] = {-1, -1};
    termios initial{};
    std::optional<VtermScreen> screen;
    std::optional<TerminalHost> host;
    std::string received;
    bool queried = false;  // the host on the terminal has sent its queries

    void SetUp() override {
        const PtyPair pty = open_pty_pair();
        master = pty.master;
        slave = pty.slave;
        ASSERT_EQ(::tcgetattr(slave, &initial), 0);
        SetConsoleCtrlHandler(record_event, TRUE);
        take_events();
    }

    void TearDown() override {
        stop_host();
        set_console_host(nullptr);
        posix_calls() = system_posix_calls();
        SetConsoleCtrlHandler(record_event, FALSE);
        for (int fd : {master, slave, pipe_in[0], pipe_in[1], pipe_out[0], pipe_out[1]}) {
            if (fd >= 0) ::close(fd);
        }
    }

    void set_size(int cols, int rows) { set_pty_size(master, cols, rows); }

    // Keys and screen on the terminal.
    void start_on_terminal(int cols, int rows) {
        set_size(cols, rows);
        screen.emplace(cols, rows);
        host.emplace(HostStreams{slave, slave, true, true, true});
        set_console_host(&*host);
        queried = true;
    }
    // The terminal answers the host's start-up queries as one without the
    // kitty protocol does, so that shutting the host down need not wait for
    // the answer.
    void answer_queries() { type(kDeviceAttributesReply); }
    void stop_host() {
        if (host && queried) answer_queries();
        queried = false;
        host.reset();
        set_console_host(nullptr);
    }
    // Keys from a pipe; the screen on the terminal, or standard output a pipe.
    void start_piped(bool screen_on_terminal, int cols = 20, int rows = 5) {
        ASSERT_EQ(::pipe2(pipe_in, O_CLOEXEC), 0);
        HostStreams streams{pipe_in[0], slave, false, true, false};
        if (screen_on_terminal) {
            set_size(cols, rows);
            screen.emplace(cols, rows);
        } else {
            ASSERT_EQ(::pipe2(pipe_out, O_CLOEXEC), 0);
            streams.output_fd = pipe_out[1];
            streams.output_is_terminal = false;
        }
        host.emplace(streams);
        set_console_host(&*host);
    }
    void pipe_keys(std::string_view bytes) { ASSERT_TRUE(write_all(pipe_in[1], std::as_bytes(std::span(bytes)))); }
    void end_pipe() {
        ::close(pipe_in[1]);
        pipe_in[1] = -1;
    }

    // Everything the terminal has been sent so far, into the emulator.
    void pump() {
        std::array<char, 4096> buffer;
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n <= 0) break;
            received.append(buffer.data(), static_cast<std::size_t>(n));
            if (screen) screen->feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        }
    }
    void type(std::string_view bytes) { ASSERT_TRUE(write_all(master, std::as_bytes(std::span(bytes)))); }
    // Counts the bytes that threads other than this one (the host's control
    // thread) read. In force before the host starts: the control thread reads
    // through the same table.
    static inline std::atomic<std::size_t> control_bytes{0};
    static inline pid_t program_thread = 0;
    static void count_control_reads() {
        program_thread = this_thread_id();
        posix_calls().read = [](int fd, void* buffer, std::size_t count) {
            const ssize_t n = ::read(fd, buffer, count);
            if (n > 0 && this_thread_id() != program_thread) control_bytes += static_cast<std::size_t>(n);
            return n;
        };
    }
    // Types `bytes` while this thread makes no console call, and waits until
    // the control thread has read them all; false when it has not after a
    // long wait.
    bool type_while_computing(std::string_view bytes) {
        control_bytes = 0;
        type(bytes);
        const auto give_up = steady_clock::now() + milliseconds(kLongWait);
        while (control_bytes < bytes.size() && steady_clock::now() < give_up)
            std::this_thread::yield();
        return control_bytes == bytes.size();
    }
    void count_writes() {
        g_counted_fd = slave;
        g_writes = 0;
        posix_calls().write = counting_write;
    }

    static HANDLE out() { return GetStdHandle(STD_OUTPUT_HANDLE); }
    static HANDLE in() { return GetStdHandle(STD_INPUT_HANDLE); }
    static void write_text(COORD at, std::string_view text) {
        std::vector<CHAR_INFO> cells(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            cells[i].Char.AsciiChar = text[i];
            cells[i].Attributes = 7;
        }
        SMALL_RECT region{at.X, at.Y, static_cast<SHORT>(at.X + text.size() - 1), at.Y};
        WriteConsoleOutputA(out(), cells.data(), COORD{static_cast<SHORT>(text.size()), 1}, COORD{0, 0}, &region);
    }
    static void set_processed_input(bool on) {
        DWORD mode = 0;
        GetConsoleMode(in(), &mode);
        SetConsoleMode(in(), on ? (mode | ENABLE_PROCESSED_INPUT) : (mode & ~ENABLE_PROCESSED_INPUT));
    }
    static bool peek() {
        INPUT_RECORD record{};
        DWORD count = 0;
        return PeekConsoleInputA(in(), &record, 1, &count) && count == 1;
    }
    static milliseconds timed_sleep(DWORD ms) {
        const auto start = steady_clock::now();
        Sleep(ms);
        return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
    }
};

// --- Frames -----------------------------------------------------------------------

TEST_F(HostTest, ChangesGoOutInOneWriteOnlyWhenTheProgramWaits) {
    start_on_terminal(20, 5);
    Sleep(0);
    pump();
    count_writes();
    write_text({2, 1}, "hello");
    SetConsoleCursorPosition(out(), {7, 1});
    EXPECT_EQ(g_writes, 0);
    EXPECT_FALSE(peek());  // a poll is no wait: nothing goes out
    EXPECT_EQ(g_writes, 0);
    Sleep(0);
    EXPECT_EQ(g_writes, 1);
    pump();
    EXPECT_EQ(screen->text(1), "  hello");
    EXPECT_EQ(screen->cursor_x(), 7);
    EXPECT_EQ(screen->cursor_y(), 1);
    Sleep(0);  // nothing changed: nothing sent
    EXPECT_EQ(g_writes, 1);
}

TEST_F(HostTest, EchoOfATypedCharacterAtTheEndOfALineCostsOneByte) {
    start_on_terminal(20, 5);
    write_text({0, 0}, "255");
    SetConsoleCursorPosition(out(), {3, 0});
    Sleep(0);
    pump();
    count_writes();
    // What the line editor does for each typed character.
    CONSOLE_CURSOR_INFO cursor{25, FALSE};
    SetConsoleCursorInfo(out(), &cursor);
    write_text({3, 0}, "6");
    SetConsoleCursorPosition(out(), {4, 0});
    cursor.bVisible = TRUE;
    SetConsoleCursorInfo(out(), &cursor);
    Sleep(0);
    EXPECT_EQ(g_writes, 1);
    EXPECT_EQ(g_last_write, "6");
    pump();
    EXPECT_EQ(screen->text(0), "2556");
}

TEST_F(HostTest, WholeBufferScrollsPutLinesIntoTheTerminalsScrollback) {
    start_on_terminal(10, 4);
    for (SHORT y = 0; y < 4; ++y)
        write_text({0, y}, "line" + std::to_string(y));
    Sleep(0);
    write_text({0, 3}, "newer");  // pending when the scroll comes: shown before it
    const SMALL_RECT below_top{0, 2, 9, 3};
    CHAR_INFO blank{};
    blank.Char.AsciiChar = ' ';
    blank.Attributes = 7;
    ScrollConsoleScreenBufferA(out(), &below_top, nullptr, COORD{0, 0}, &blank);
    Sleep(0);
    pump();
    ASSERT_EQ(screen->scrollback().size(), 2u);
    EXPECT_EQ(to_utf8(screen->scrollback()[0]).substr(0, 5), "line0");
    EXPECT_EQ(to_utf8(screen->scrollback()[1]).substr(0, 5), "line1");
    EXPECT_EQ(screen->text(0), "line2");
    EXPECT_EQ(screen->text(1), "newer");
    EXPECT_EQ(screen->text(2), "");
}

// A terminal that takes a few bytes at a time and is interrupted by signals
// still gets every frame and every key whole.
TEST_F(HostTest, ShortAndInterruptedCallsLoseNothing) {
    posix_calls().write = [](int fd, const void* buffer, std::size_t count) -> ssize_t {
        static int calls = 0;
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, buffer, std::min<std::size_t>(count, 3));
    };
    posix_calls().read = [](int fd, void* buffer, std::size_t count) -> ssize_t {
        static int calls = 0;
        if (++calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        return ::read(fd, buffer, std::min<std::size_t>(count, 2));
    };
    start_on_terminal(12, 3);
    write_text({1, 1}, "interrupted");
    Sleep(0);
    pump();
    EXPECT_EQ(screen->text(1), " interrupted");
    type("12345\x1b[B");
    Sleep(kTerminalWait);
    ConsoleModel& model = host->console();
    std::string keys = key_chars(model);
    keys += keys_over_waits(model);
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys.substr(0, 5), "12345");
}

TEST_F(HostTest, CursorVisibilityAndTheBell) {
    start_on_terminal(10, 3);
    Sleep(0);
    pump();
    EXPECT_TRUE(screen->cursor_visible());
    CONSOLE_CURSOR_INFO cursor{25, FALSE};
    SetConsoleCursorInfo(out(), &cursor);
    Sleep(0);
    pump();
    EXPECT_FALSE(screen->cursor_visible());
    // The bell goes out at once, with what was drawn before it.
    write_text({0, 0}, "x");
    Beep(800, 200);
    pump();
    EXPECT_EQ(screen->bells(), 1);
    EXPECT_EQ(screen->text(0), "x");
}

TEST_F(HostTest, ShutdownGivesTheTerminalBackOnce) {
    start_on_terminal(10, 3);
    termios during{};
    ASSERT_EQ(::tcgetattr(slave, &during), 0);
    EXPECT_FALSE(same_modes(during, initial));
    CONSOLE_CURSOR_INFO cursor{25, FALSE};
    SetConsoleCursorInfo(out(), &cursor);
    write_text({0, 1}, "ab");
    SetConsoleCursorPosition(out(), {2, 1});
    Sleep(0);
    pump();
    answer_queries();
    host->shutdown();
    pump();
    // The answers were read before the modes went back: none is left for
    // the shell to show as typed text.
    pollfd pending{slave, POLLIN, 0};
    EXPECT_EQ(::poll(&pending, 1, 0), 0);
    termios after{};
    ASSERT_EQ(::tcgetattr(slave, &after), 0);
    EXPECT_TRUE(same_modes(after, initial));
    EXPECT_TRUE(screen->cursor_visible());
    EXPECT_TRUE(received.ends_with("\x1b[?9001l\x1b[?2004l\x1b[0m\x1b[?25h\x1b[2;3H\r\n")) << received;
    EXPECT_EQ(screen->cursor_y(), 2);
    const std::size_t size = received.size();
    host->shutdown();
    Sleep(0);
    pump();
    EXPECT_EQ(received.size(), size);
}

// The shell goes on below what the program showed, on a line of its own: the
// cursor's line is ended unless it stands at the start of an empty row.
TEST_F(HostTest, TheShellStartsOnALineOfItsOwn) {
    struct Case {
        const char* name;
        COORD cursor;
        std::string_view ending;
    };
    const Case cases[] = {
        {"after text", {4, 1}, "\x1b[2;5H\r\n"},
        {"at the start of a row that holds text", {0, 1}, "\x1b[2H\r\n"},
        {"at the start of an empty row", {0, 2}, "\x1b[3H"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        start_on_terminal(10, 4);
        write_text({0, 1}, "text");
        SetConsoleCursorPosition(out(), c.cursor);
        Sleep(0);
        stop_host();
        pump();
        EXPECT_TRUE(received.ends_with(std::string(kTerminalRestore) + std::string(c.ending))) << received;
    }
}

// A terminal that has not answered the start-up queries by the time they are
// due never will: a program that ends after that does not wait for it.
TEST_F(HostTest, AnswersThatNeverCameAreNotWaitedForAtTheEnd) {
    start_on_terminal(10, 3);
    queried = false;  // this terminal answers nothing
    Sleep(static_cast<DWORD>(kReplyPatience.count()) + 50);
    // Whether the end waits is told by the waits it asks for, not by a clock:
    // a loaded machine could make either look slow or fast.
    static int input_waits_asked;
    input_waits_asked = 0;
    posix_calls().poll = [](pollfd* fds, nfds_t count, int timeout_ms) {
        for (nfds_t i = 0; i < count; ++i) {
            if ((fds[i].events & POLLIN) != 0 && timeout_ms != 0) ++input_waits_asked;
        }
        return system_posix_calls().poll(fds, count, timeout_ms);
    };
    host->shutdown();
    posix_calls() = system_posix_calls();
    EXPECT_EQ(input_waits_asked, 0);
    termios after{};
    ASSERT_EQ(::tcgetattr(slave, &after), 0);
    EXPECT_TRUE(same_modes(after, initial));
}

// --- Keyboard protocols -----------------------------------------------------------

TEST_F(HostTest, KittyFlagsArePushedOnlyWhenTheTerminalAnswersTheQuery) {
    struct Case {
        const char* name;
        std::string_view replies;
        bool pushed;
    };
    const Case cases[] = {
        {"kitty reply, then device attributes", "\x1b[?0u\x1b[?62;22c", true},
        {"device attributes alone", "\x1b[?62;22c", false},
        {"a late kitty reply", "\x1b[?62;22c\x1b[?0u", false},
    };
    // The replies are read by the program's next wait, or while it computes
    // by the host's control thread; either way the push goes out with the
    // next frame.
    count_control_reads();
    for (const bool while_computing : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(while_computing ? "read while the program computes" : "read by a wait");
            received.clear();
            start_on_terminal(10, 3);
            Sleep(0);
            pump();
            EXPECT_TRUE(received.starts_with("\x1b[?u\x1b[c\x1b[?2004h\x1b[?9001h")) << received;
            if (while_computing) {
                ASSERT_TRUE(type_while_computing(c.replies));
            } else {
                type(c.replies);
            }
            Sleep(0);
            pump();
            EXPECT_EQ(received.find("\x1b[>31u") != std::string::npos, c.pushed);
            EXPECT_EQ(host->console().input_count(), 0u);  // replies are not keys
            host.reset();
            set_console_host(nullptr);
            pump();
            EXPECT_EQ(received.find("\x1b[<u") != std::string::npos, c.pushed);
            termios after{};
            ASSERT_EQ(::tcgetattr(slave, &after), 0);
            EXPECT_TRUE(same_modes(after, initial));
        }
    }
}

TEST_F(HostTest, NoQueriesWhereTheKeysDoNotComeFromTheSameTerminal) {
    start_piped(true);
    Sleep(0);
    host.reset();
    pump();
    EXPECT_EQ(received.find("\x1b[?u"), std::string::npos);
    EXPECT_EQ(received.find("\x1b[?2004h"), std::string::npos);
    EXPECT_NE(received.find("\x1b[?25h"), std::string::npos);
}

// --- Keys from the terminal ---------------------------------------------------------

// Sleep is the thread waiting the time given: of the keys typed meanwhile one
// is queued, and the next ones follow at the program's next waits.
TEST_F(HostTest, ATerminalSleepLastsTheTimeGivenAndHandsOverOneKey) {
    start_on_terminal(10, 3);
    type("ab\x1b[A");
    EXPECT_GE(timed_sleep(kTerminalWait).count(), kTerminalWait);
    ConsoleModel& model = host->console();
    const std::array<WORD, 3> keys{'A', 'B', VK_UP};
    for (const WORD vk : keys) {
        ASSERT_EQ(model.input_count(), 1u);
        INPUT_RECORD record{};
        model.read_input(std::span(&record, 1));
        EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, vk);
        Sleep(0);
    }
    EXPECT_EQ(model.input_count(), 0u);
}

// A key typed while the program waits on the input handle ends the wait at
// once, and its echo goes out at the start of the program's next wait: no poll
// of either wait runs out its time.
TEST_F(HostTest, AKeyTypedDuringAWaitOnTheInputEndsItAndItsEchoGoesOutAtTheNext) {
    start_on_terminal(20, 5);
    answer_queries();
    Sleep(0);
    pump();
    static int master_fd;
    static int polls;
    static int timed_out;
    master_fd = master;
    polls = timed_out = 0;
    // The key is typed when the wait first polls.
    posix_calls().epoll_wait = [](int epoll_fd, epoll_event* events, int count, int timeout_ms) {
        if (polls++ == 0) {
            EXPECT_EQ(::write(master_fd, "7", 1), 1);
        }
        const int ready = ::epoll_wait(epoll_fd, events, count, timeout_ms);
        if (ready == 0) ++timed_out;
        return ready;
    };
    EXPECT_EQ(WaitForSingleObject(in(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(timed_out, 0);
    EXPECT_EQ(key_chars(host->console()), "7");
    // The program echoes it and waits for the next key.
    count_writes();
    write_text({0, 0}, "7");
    static int writes_before_poll;
    writes_before_poll = -1;
    // A wait that does not block polls.
    posix_calls().poll = [](pollfd* fds, nfds_t count, int timeout_ms) {
        if (writes_before_poll < 0) writes_before_poll = g_writes;
        return ::poll(fds, count, timeout_ms);
    };
    EXPECT_EQ(WaitForSingleObject(in(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(writes_before_poll, 1);
    pump();
    EXPECT_EQ(screen->text(0), "7");
}

// A paste far longer than the program's key queue is handed over key by key:
// every key arrives, in order.
TEST_F(HostTest, ALongPasteArrivesWhole) {
    start_on_terminal(20, 5);
    answer_queries();
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += static_cast<char>('0' + i % 10);
    std::thread typist([&] { type("\x1b[200~" + text + "\x1b[201~"); });
    ConsoleModel& model = host->console();
    std::string keys;
    for (int waits = 0; keys.size() < text.size() && waits < 100000; ++waits) {
        WaitForSingleObject(in(), 25);
        keys += key_chars(model);
    }
    typist.join();
    EXPECT_EQ(keys, text);
}

// Keys of a paste that are already read are handed over one per wait, and
// each such wait returns at once: the program's echo of them goes out with
// the wait that finds no key left, not one frame per key.
TEST_F(HostTest, APasteAlreadyReadIsShownOnceItsLastKeyIsTaken) {
    start_on_terminal(20, 5);
    answer_queries();
    Sleep(0);
    pump();
    const std::string text(200, '4');
    type("\x1b[200~" + text + "\x1b[201~");
    count_writes();
    ConsoleModel& model = host->console();
    std::string keys;
    for (int waits = 0; keys.size() < text.size() && waits < 1000; ++waits) {
        EXPECT_EQ(WaitForSingleObject(in(), kLongWait), WAIT_OBJECT_0);
        keys += key_chars(model);
        write_text({0, 0}, std::to_string(keys.size()));
    }
    EXPECT_EQ(keys, text);
    EXPECT_EQ(WaitForSingleObject(in(), 0), WAIT_TIMEOUT);
    // The frame of the wait that handed over the last key, and the last one.
    EXPECT_LE(g_writes, 2);
    pump();
    EXPECT_EQ(screen->text(0), "200");
}

TEST_F(HostTest, ALoneEscapeBecomesEscapeAfterTheTimeoutWithinAWait) {
    start_on_terminal(10, 3);
    type("\x1b");
    EXPECT_FALSE(peek());  // too early to tell Escape from the start of a sequence
    static_assert(milliseconds(kTerminalWait) > kEscapeTimeout);
    Sleep(kTerminalWait);
    INPUT_RECORD record{};
    ASSERT_EQ(host->console().read_input(std::span(&record, 1)), 1u);
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);
}

TEST_F(HostTest, ProcessedInputTurnsControlKeysIntoControlEvents) {
    struct Case {
        const char* name;
        std::string_view bytes;
        bool processed;
        std::vector<DWORD> events;
        std::string keys;
    };
    const Case cases[] = {
        {"Ctrl+C", "a\x03z", true, {CTRL_C_EVENT}, "az"},
        {"Ctrl+\\", "\x1c", true, {CTRL_BREAK_EVENT}, ""},
        {"kitty Ctrl+C", "\x1b[99;5u", true, {CTRL_C_EVENT}, ""},
        {"win32-input-mode Ctrl+C", "\x1b[67;46;3;1;8;1_", true, {CTRL_C_EVENT}, ""},
        {"Ctrl+C as a key", "\x03", false, {}, "\x03"},
        {"Ctrl+\\ as a key", "\x1c", false, {}, "\x1c"},
        {"Ctrl+Z as a key", "\x1a", false, {}, "\x1a"},
    };
    // Read by the program's next wait, or while it computes by the host's
    // control thread, which goes by the mode the program set last.
    count_control_reads();
    for (const bool while_computing : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(while_computing ? "read while the program computes" : "read by a wait");
            start_on_terminal(10, 3);
            set_processed_input(c.processed);
            if (while_computing) {
                ASSERT_TRUE(type_while_computing(c.bytes));
            } else {
                type(c.bytes);
            }
            const std::string keys = keys_over_waits(host->console());
            EXPECT_EQ(await_events(c.events.size()), c.events);
            EXPECT_EQ(keys, c.keys);
            stop_host();
        }
    }
}

// Ctrl+C and Ctrl+\ typed while the program's thread computes, away from the
// console, act on their arrival, while it is still held in its computation;
// the keys typed with them wait for its next wait. The control thread sleeps
// with no time limit, whether the program waits or computes, with the
// terminal among what it waits on: it neither wakes on a timer while the
// program idles nor waits out a spell of the program not looking before it
// reads for it. A key typed during a wait is the wait's alone: it does not
// wake the control thread.
TEST_F(HostTest, ControlKeysTypedWhileTheProgramComputesActOnArrival) {
    struct Case {
        const char* name;
        std::string_view key;
        DWORD event;
    };
    const Case cases[] = {{"Ctrl+C", "\x03", CTRL_C_EVENT}, {"Ctrl+\\", "\x1c", CTRL_BREAK_EVENT}};
    const pid_t program = this_thread_id();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The terminal's answers to the start-up queries come at the end: any
        // byte typed while the program is not waiting for keys is the control
        // thread's to read.
        start_on_terminal(20, 5);
        set_processed_input(true);
        Sleep(0);
        const std::optional<Asleep> before = control_thread_asleep({program});
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(before->timeout_ms, -1);
        EXPECT_TRUE(before->watches(slave));
        // The key comes while the program's thread sleeps in its wait.
        std::thread typist([&] {
            const auto give_up = steady_clock::now() + milliseconds(kLongWait);
            while (!asleep_in_wait(program) && steady_clock::now() < give_up)
                std::this_thread::yield();
            type("a");
        });
        EXPECT_EQ(WaitForSingleObject(in(), kLongWait), WAIT_OBJECT_0);
        typist.join();
        EXPECT_EQ(key_chars(host->console()), "a");
        const std::optional<Asleep> after = control_thread_asleep({program});
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->sleeps, before->sleeps);

        // From here this thread makes no console call until the event came.
        EXPECT_TRUE(after->watches(slave));
        EXPECT_EQ(after->timeout_ms, -1);
        type("x");
        type(c.key);
        EXPECT_EQ(await_events(1), std::vector<DWORD>{c.event});

        EXPECT_EQ(keys_over_waits(host->console()), "x");
        stop_host();
    }
}

TEST_F(HostTest, SizeChangesReachTheBufferAndRedrawTheScreen) {
    start_on_terminal(10, 3);
    DWORD mode = 0;
    GetConsoleMode(in(), &mode);
    SetConsoleMode(in(), mode | ENABLE_WINDOW_INPUT);
    write_text({0, 0}, "top");
    Sleep(0);
    pump();
    set_size(14, 5);
    screen->resize(14, 5);
    ::raise(SIGWINCH);
    Sleep(0);
    pump();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(out(), &info));
    EXPECT_EQ(info.dwSize.X, 14);
    EXPECT_EQ(info.dwSize.Y, 5);
    EXPECT_EQ(info.srWindow.Right, 13);
    EXPECT_EQ(info.srWindow.Bottom, 4);
    INPUT_RECORD record{};
    ASSERT_EQ(host->console().read_input(std::span(&record, 1)), 1u);
    EXPECT_EQ(record.EventType, WINDOW_BUFFER_SIZE_EVENT);
    EXPECT_EQ(record.Event.WindowBufferSizeEvent.dwSize.X, 14);
    write_text({10, 4}, "edge");
    Sleep(0);
    pump();
    EXPECT_EQ(screen->text(0), "top");
    EXPECT_EQ(screen->text(4), "          edge");
}

// --- Keys from a pipe ---------------------------------------------------------------

TEST_F(HostTest, PipedKeysArriveOnePerWaitAndThatWaitReturnsAtOnce) {
    start_piped(false);
    pipe_keys("ab\x1b[A");
    EXPECT_FALSE(peek());  // polling alone delivers nothing
    EXPECT_LT(timed_sleep(kLongWait).count(), kLongWait);
    EXPECT_EQ(host->console().input_count(), 1u);
    Sleep(0);  // a key is pending: the next one waits
    EXPECT_EQ(key_chars(host->console()), "a");
    Sleep(kLongWait);
    EXPECT_EQ(key_chars(host->console()), "b");
    Sleep(kLongWait);
    INPUT_RECORD record{};
    ASSERT_EQ(host->console().read_input(std::span(&record, 1)), 1u);
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_UP);
    EXPECT_TRUE(take_events().empty());
}

// A key costs the read of its share of a chunk of input and nothing else:
// no look for signals that makes a system call while none has come.
TEST_F(HostTest, PipedKeysCostNoSystemCallEach) {
    start_piped(false);
    static int reads;
    reads = 0;
    posix_calls().read = [](int fd, void* buffer, std::size_t count) {
        ++reads;
        return ::read(fd, buffer, count);
    };
    constexpr std::size_t kKeys = 200;
    pipe_keys(std::string(kKeys, 'k'));
    for (std::size_t i = 0; i < kKeys; ++i) {
        Sleep(kLongWait);
        ASSERT_EQ(key_chars(host->console()), "k");
    }
    EXPECT_LE(reads, 2);
}

TEST_F(HostTest, PipedInputThatEndsRaisesTheCloseEventAfterTheLastKey) {
    start_piped(false);
    pipe_keys("x\x1b");
    end_pipe();
    Sleep(kLongWait);
    EXPECT_EQ(key_chars(host->console()), "x");
    Sleep(kLongWait);
    INPUT_RECORD record{};
    ASSERT_EQ(host->console().read_input(std::span(&record, 1)), 1u);
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);  // a final ESC is Escape at once
    EXPECT_TRUE(take_events().empty());
    EXPECT_LT(timed_sleep(kLongWait).count(), kLongWait);
    EXPECT_EQ(take_events(), std::vector<DWORD>{CTRL_CLOSE_EVENT});
    // The next wait ends the process: see the program tests.
}

TEST_F(HostTest, APipedSequenceSplitAcrossWritesWaitsForItsEnd) {
    start_piped(false);
    pipe_keys("\x1b[");
    Sleep(20);
    EXPECT_EQ(host->console().input_count(), 0u);
    pipe_keys("1;5C");
    Sleep(kLongWait);
    INPUT_RECORD record{};
    ASSERT_EQ(host->console().read_input(std::span(&record, 1)), 1u);
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_RIGHT);
    EXPECT_NE(record.Event.KeyEvent.dwControlKeyState & LEFT_CTRL_PRESSED, 0u);
}

TEST_F(HostTest, RedirectedOutputIsGatheredAndSentBeforeAWait) {
    start_piped(false);
    DWORD written = 0;
    // Code page 437's bytes beyond ASCII go out as UTF-8: 0x82 is é.
    EXPECT_TRUE(WriteFile(out(), "a\r\n\x1b[0m\x82", 8, &written, nullptr));
    EXPECT_EQ(written, 8u);
    // Gathered, not sent byte by byte: it goes out before the program waits.
    pollfd p{pipe_out[0], POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    Sleep(1);
    std::string got(16, '\0');
    got.resize(static_cast<std::size_t>(::read(pipe_out[0], got.data(), got.size())));
    EXPECT_EQ(got, "a\r\n\x1b[0m\xc3\xa9");
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_FALSE(GetConsoleScreenBufferInfo(out(), &info));
}

// --- A real program on a pseudo-terminal ----------------------------------------------

constexpr const char* kDemo = TERMINAL_DEMO;
constexpr int kCols = 30;
constexpr int kRows = 6;

// Escape is a lone ESC: the program sees it once the timeout has passed.
constexpr std::string_view kEscape = "\x1b";
constexpr std::string_view kF1 = "\x1bOP";
constexpr std::string_view kF2 = "\x1bOQ";
constexpr std::string_view kF3 = "\x1bOR";
constexpr std::string_view kF4 = "\x1bOS";
constexpr std::string_view kF5 = "\x1b[15~";
constexpr std::string_view kF6 = "\x1b[17~";

void expect_exited(PtyProcess& process, int code) {
    const auto status = process.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), code);
}

// How SIGINT and SIGQUIT (or their keys) end the program when no handler
// takes their events: killed by the signal; SIGTERM and SIGHUP: the status of
// their events, handled or not. The terminal is given back either way.
void expect_ended_by(PtyProcess& process, int signal) {
    const auto status = process.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    if (signal == SIGINT || signal == SIGQUIT) {
        ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
        EXPECT_EQ(WTERMSIG(*status), signal);
    } else {
        ASSERT_TRUE(WIFEXITED(*status)) << *status;
        EXPECT_EQ(WEXITSTATUS(*status),
                  control_event_exit_status(signal == SIGTERM ? CTRL_SHUTDOWN_EVENT : CTRL_CLOSE_EVENT));
    }
    EXPECT_TRUE(same_modes(process.modes(), process.initial_modes()));
    EXPECT_TRUE(process.screen().cursor_visible());
}

struct Program : ::testing::Test {
    PtyProcess pty{kCols, kRows};

    void start(const std::vector<std::string>& args = {}) {
        pty.start(kDemo, args);
        ASSERT_TRUE(pty.read_until_row(0, "ready 30x6"));
    }
    bool shows(int y, std::string_view text) { return pty.read_until_row(y, text); }
    // The terminal is as it was before the program ran.
    void expect_given_back() {
        EXPECT_TRUE(same_modes(pty.modes(), pty.initial_modes()));
        EXPECT_TRUE(pty.screen().cursor_visible());
        EXPECT_NE(pty.terminal_bytes().find(kTerminalRestore), std::string::npos);
    }
    void expect_exit(int code) { expect_exited(pty, code); }
    void expect_killed(int number) {
        const auto status = pty.wait_status();
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
        EXPECT_EQ(WTERMSIG(*status), number);
    }
};

TEST_F(Program, ShowsCellsAndGivesTheTerminalBackOnEscape) {
    start();
    EXPECT_FALSE(same_modes(pty.modes(), pty.initial_modes()));
    pty.type("hello");
    ASSERT_TRUE(shows(1, "hello"));
    EXPECT_EQ(pty.screen().cursor_x(), 5);
    EXPECT_EQ(pty.screen().cursor_y(), 1);
    pty.type(kEscape);
    expect_exit(0);
    expect_given_back();
}

TEST_F(Program, KeysTypedBeforeItReadsAreKept) {
    pty.start(kDemo);
    pty.type("early");
    ASSERT_TRUE(shows(1, "early"));
    pty.type(kEscape);
    expect_exit(0);
}

TEST_F(Program, LinesScrolledOffTheTopGoIntoScrollback) {
    start();
    for (int i = 1; i <= 7; ++i)
        pty.type("l" + std::to_string(i) + "\r");
    ASSERT_TRUE(shows(kRows - 2, "l7"));
    // ready, l1 .. l7 and an empty last line: three lines left the screen.
    const auto& scrollback = pty.screen().scrollback();
    ASSERT_EQ(scrollback.size(), 3u);
    EXPECT_TRUE(to_utf8(scrollback[0]).starts_with("ready 30x6"));
    EXPECT_TRUE(to_utf8(scrollback[1]).starts_with("l1 "));
    EXPECT_TRUE(to_utf8(scrollback[2]).starts_with("l2 "));
    EXPECT_EQ(pty.screen().text(0), "l3");
    pty.type(kF1);
    ASSERT_TRUE(shows(0, "l4"));
    EXPECT_EQ(pty.screen().scrollback().size(), 4u);
}

TEST_F(Program, CursorVisibilityAndBell) {
    start();
    pty.type(kF2);
    ASSERT_TRUE(pty.read_until([&] { return !pty.screen().cursor_visible(); }));
    pty.type(kF3);
    ASSERT_TRUE(pty.read_until([&] { return pty.screen().cursor_visible(); }));
    pty.type(kF4);
    ASSERT_TRUE(pty.read_until([&] { return pty.screen().bells() == 1; }));
    // Hidden when the program ends: shown again all the same.
    pty.type(kF2);
    ASSERT_TRUE(pty.read_until([&] { return !pty.screen().cursor_visible(); }));
    pty.type(kEscape);
    expect_exit(0);
    expect_given_back();
}

// The keys, and the signals sent by another process, end it as the signals
// end a program that does not catch them.
TEST_F(Program, CtrlCAndCtrlBackslashEndItAsTheSignalsWouldAfterGivingTheTerminalBack) {
    struct Case {
        std::string_view key;  // typed, or else the signal is sent
        int signal;
    };
    const Case cases[] = {{"\x03", SIGINT}, {"\x1c", SIGQUIT}, {"", SIGINT}, {"", SIGQUIT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + (c.key.empty() ? " sent" : " typed"));
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo);
        ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        if (c.key.empty()) {
            fresh.signal(c.signal);
        } else {
            fresh.type(c.key);
        }
        expect_ended_by(fresh, c.signal);
    }
}

// The terminal goes away without a SIGHUP (the program is not its session's
// leader): the end of its input is a hang-up all the same, and nothing spins.
TEST_F(Program, AClosedTerminalEndsItAsAHangUp) {
    start();
    pty.close_terminal();
    expect_exit(control_event_exit_status(CTRL_CLOSE_EVENT));
}

TEST_F(Program, AHandlerCanTakeCtrlC) {
    start({"--handler"});
    pty.type("\x03");
    ASSERT_TRUE(shows(1, "<event 0>"));
    pty.type(kEscape);
    expect_exit(0);
}

TEST_F(Program, WithoutProcessedInputControlKeysAreKeys) {
    start({"--raw"});
    pty.type("\x03\x1c\x1a");
    ASSERT_TRUE(shows(1, "^C^\\^Z"));
    pty.type(kEscape);
    expect_exit(0);
}

TEST_F(Program, TerminationAndHangUpRaiseTheirEventsThenEndIt) {
    struct Case {
        int signal;
        std::vector<std::string> args;
    };
    const Case cases[] = {{SIGTERM, {}}, {SIGTERM, {"--handler"}}, {SIGHUP, {}}, {SIGHUP, {"--handler"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + (c.args.empty() ? "" : " with a handler"));
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo, c.args);
        ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        fresh.signal(c.signal);
        expect_ended_by(fresh, c.signal);
    }
}

// Every signal whose default action ends the process gives the terminal back
// first (modes, and the protocols turned on), then ends it as that signal
// would.
TEST_F(Program, EverySignalThatEndsItGivesTheTerminalBackFirst) {
    for (const int number : {SIGXCPU, SIGXFSZ, SIGSYS, SIGTRAP, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGPWR,
                             SIGSTKFLT, SIGIO, SIGRTMIN, SIGRTMAX}) {
        SCOPED_TRACE(::strsignal(number));
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo);
        ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        fresh.signal(number);
        const auto status = fresh.wait_status();
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
        EXPECT_EQ(WTERMSIG(*status), number);
        EXPECT_TRUE(same_modes(fresh.modes(), fresh.initial_modes()));
        EXPECT_TRUE(fresh.screen().cursor_visible());
        EXPECT_NE(fresh.terminal_bytes().find("\x1b[?9001l\x1b[?2004l"), std::string::npos);
    }
}

// Started as nohup or a non-interactive shell's background job starts it: the
// signals it was started ignoring, and the keys that stand for them, leave it
// running.
TEST_F(Program, SignalsStartedIgnoredStayIgnored) {
    PtyProcess::Options options;
    options.ignored_signals = {SIGINT, SIGQUIT, SIGHUP};
    pty.start(kDemo, {}, options);
    ASSERT_TRUE(shows(0, "ready"));
    for (const int number : options.ignored_signals)
        pty.signal(number);
    pty.type(
        "\x03\x1c"
        "x");
    ASSERT_TRUE(shows(1, "x"));
    pty.type(kEscape);
    expect_exit(0);
    expect_given_back();
}

// A missing standard stream is an empty input or an output that fails, never
// a descriptor the program opens for itself.
TEST_F(Program, ClosedStandardStreams) {
    using Stream = PtyProcess::Stream;
    struct Case {
        const char* name;
        Stream input;
        Stream output;
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {"no input: the end of input at once",
         Stream::Closed,
         Stream::Pipe,
         {},
         control_event_exit_status(CTRL_CLOSE_EVENT)},
        {"no input and no output", Stream::Closed, Stream::Closed, {}, control_event_exit_status(CTRL_CLOSE_EVENT)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo, c.args, {c.input, c.output, "ab"});
        const auto status = fresh.wait_status();
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        ASSERT_TRUE(WIFEXITED(*status)) << *status;
        EXPECT_EQ(WEXITSTATUS(*status), c.status);
        EXPECT_EQ(fresh.output_bytes(), "");
    }
}

// Control events come as the signals do, on a thread of their own, while the
// program's thread computes without ever calling the console.
TEST_F(Program, SignalsReachTheHandlersWhileTheProgramComputes) {
    start({"--handler"});
    pty.type(kF5);
    ASSERT_TRUE(shows(1, "busy"));
    pty.signal(SIGINT);
    ASSERT_TRUE(shows(1, "busy<event 0>"));
    pty.type(kEscape);
    expect_exit(0);
    expect_given_back();
}

TEST_F(Program, SignalsEndItWhileItComputes) {
    for (const int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo);
        ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        fresh.type(kF5);
        ASSERT_TRUE(fresh.read_until_row(1, "busy"));
        fresh.signal(signal);
        expect_ended_by(fresh, signal);
    }
}

// Keys typed while the program computes: the terminal is read for it, so that
// Ctrl+C reaches the handlers or ends it, and a terminal that goes away ends
// it; the other keys wait for it to look.
TEST_F(Program, TypedControlKeysAndAHangUpActWhileItComputes) {
    start({"--handler"});
    pty.type(kF5);
    ASSERT_TRUE(shows(1, "busy"));
    pty.type("x\x03");
    ASSERT_TRUE(shows(1, "busy<event 0>"));
    ASSERT_TRUE(shows(2, "x"));
    pty.type(kEscape);
    expect_exit(0);

    PtyProcess unhandled(kCols, kRows);
    unhandled.start(kDemo);
    ASSERT_TRUE(unhandled.read_until_row(0, "ready"));
    unhandled.type(kF5);
    ASSERT_TRUE(unhandled.read_until_row(1, "busy"));
    unhandled.type("\x03");
    expect_ended_by(unhandled, SIGINT);

    PtyProcess closed(kCols, kRows);
    closed.start(kDemo);
    ASSERT_TRUE(closed.read_until_row(0, "ready"));
    closed.type(kF5);
    ASSERT_TRUE(closed.read_until_row(1, "busy"));
    closed.close_terminal();
    expect_exited(closed, control_event_exit_status(CTRL_CLOSE_EVENT));
}

// The program's thread is stuck in a write to a terminal or a pipe that
// nobody reads: SIGTERM still raises its event and ends the process, and the
// terminal gets its modes back.
TEST_F(Program, TerminationEndsItWhileItsOutputIsBlocked) {
    using Stream = PtyProcess::Stream;
    struct Case {
        Stream output;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {Stream::Terminal, {}},
        {Stream::Terminal, {"--handler"}},
        {Stream::Pipe, {"--greet"}},
        {Stream::Pipe, {"--greet", "--handler"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.output == Stream::Pipe ? "pipe" : "terminal") << " " << c.args.size());
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo, c.args, {PtyProcess::Stream::Terminal, c.output});
        if (c.output == Stream::Pipe) {
            ASSERT_TRUE(fresh.read_until([&] { return fresh.output_bytes() == "ready\n"; }));
        } else {
            ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        }
        fresh.type(kF6);
        // Nothing is read from here on: the program's writes fill the pipe
        // or the terminal, and the next one blocks.
        const auto give_up = steady_clock::now() + PtyProcess::kTimeout;
        while (!fresh.in_system_call(SYS_write) && steady_clock::now() < give_up)
            std::this_thread::sleep_for(milliseconds(5));
        ASSERT_TRUE(fresh.in_system_call(SYS_write)) << "the program's output never blocked";
        fresh.signal(SIGTERM);
        const auto status = fresh.wait_status(PtyProcess::Reading::Nothing);
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        ASSERT_TRUE(WIFEXITED(*status)) << *status;
        EXPECT_EQ(WEXITSTATUS(*status), control_event_exit_status(CTRL_SHUTDOWN_EVENT));
        EXPECT_TRUE(same_modes(fresh.modes(), fresh.initial_modes()));
    }
}

TEST_F(Program, AFatalSignalStillGivesTheTerminalBack) {
    start();
    pty.type("x");
    ASSERT_TRUE(shows(1, "x"));
    pty.signal(SIGABRT);
    expect_killed(SIGABRT);
    EXPECT_TRUE(same_modes(pty.modes(), pty.initial_modes()));
    EXPECT_TRUE(pty.screen().cursor_visible());
}

// Ctrl+Z typed (a byte, the terminal's own suspend key being off) and SIGTSTP
// sent by another process both suspend it; SIGCONT brings it back.
TEST_F(Program, SuspendsAndResumes) {
    for (const bool by_key : {true, false}) {
        SCOPED_TRACE(by_key ? "Ctrl+Z" : "SIGTSTP");
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo);
        ASSERT_TRUE(fresh.read_until_row(0, "ready"));
        fresh.type("ab");
        ASSERT_TRUE(fresh.read_until_row(1, "ab"));
        if (by_key) {
            fresh.type("\x1a");
        } else {
            fresh.signal(SIGTSTP);
        }
        const auto stopped = fresh.wait_status();
        ASSERT_TRUE(stopped.has_value());
        ASSERT_TRUE(WIFSTOPPED(*stopped)) << *stopped;
        EXPECT_TRUE(same_modes(fresh.modes(), fresh.initial_modes()));
        EXPECT_TRUE(fresh.screen().cursor_visible());

        const std::size_t before = fresh.terminal_bytes().size();
        fresh.signal(SIGCONT);
        // Redrawn whole: the screen is erased and drawn again.
        ASSERT_TRUE(
            fresh.read_until([&] { return fresh.terminal_bytes().find("\x1b[2J", before) != std::string::npos; }));
        ASSERT_TRUE(fresh.read_until_row(1, "ab"));
        EXPECT_FALSE(same_modes(fresh.modes(), fresh.initial_modes()));
        fresh.type("c");
        ASSERT_TRUE(fresh.read_until_row(1, "abc"));
        const std::string after = fresh.terminal_bytes().substr(before);
        EXPECT_EQ(after.find("\x1b[2J"), after.rfind("\x1b[2J")) << "redrawn more than once";
        fresh.type(kEscape);
        const auto status = fresh.wait_status();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        EXPECT_TRUE(same_modes(fresh.modes(), fresh.initial_modes()));
    }
}

TEST_F(Program, FollowsTheTerminalsSize) {
    start();
    pty.type("abc");
    ASSERT_TRUE(shows(1, "abc"));
    pty.resize(40, 8);
    ASSERT_TRUE(shows(0, "size 40x8"));
    EXPECT_EQ(pty.screen().text(1), "abc");
    pty.resize(12, 3);
    ASSERT_TRUE(shows(0, "size 12x3"));
    pty.type("defghijklmnop");
    ASSERT_TRUE(shows(1, "abcdefghijkl"));
    ASSERT_TRUE(shows(2, "mnop"));
    pty.type(kEscape);
    expect_exit(0);
}

TEST_F(Program, RedirectedOutputWithKeysFromTheTerminal) {
    pty.start(kDemo, {}, {PtyProcess::Stream::Terminal, PtyProcess::Stream::Pipe});
    pty.type("hi\r");
    pty.type(kEscape);
    ASSERT_TRUE(pty.read_until_output_closed());
    EXPECT_EQ(pty.output_bytes(), "hi\n");
    expect_exit(0);
    EXPECT_TRUE(same_modes(pty.modes(), pty.initial_modes()));
    // Nothing drawn and nothing asked on the terminal (it may have echoed
    // keys typed before the program turned echo off).
    EXPECT_EQ(pty.terminal_bytes().find('\x1b'), std::string::npos);
}

TEST_F(Program, NegotiatesTheKittyProtocolWithATerminalThatHasIt) {
    pty.start(kDemo, {}, {PtyProcess::Stream::Terminal, PtyProcess::Stream::Terminal, "", true});
    ASSERT_TRUE(pty.read_until([&] { return pty.terminal_bytes().find("\x1b[>31u") != std::string::npos; }));
    // Keys as that terminal now reports them: press and release.
    pty.type("\x1b[107;1:1u\x1b[107;1:3u");
    ASSERT_TRUE(shows(1, "k"));
    pty.type("\x1b[27u");
    expect_exit(0);
    EXPECT_NE(pty.terminal_bytes().find("\x1b[<u\x1b[?9001l\x1b[?2004l\x1b[0m\x1b[?25h"), std::string::npos);
    EXPECT_TRUE(same_modes(pty.modes(), pty.initial_modes()));
}

// --- Piped standard input -------------------------------------------------------------

TEST_F(Program, PipedKeysWithTheScreenOnTheTerminal) {
    pty.start(kDemo, {"--handler"}, {PtyProcess::Stream::Pipe, PtyProcess::Stream::Terminal, "one\rtwo"});
    ASSERT_TRUE(shows(2, "two<event 2>"));
    EXPECT_EQ(pty.screen().text(1), "one");
    expect_exit(kEndOfInputExitStatus);
    EXPECT_TRUE(same_modes(pty.modes(), pty.initial_modes()));
}

TEST_F(Program, PipedKeysAndRedirectedOutputGiveExactBytes) {
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> args;
        std::string output;
        int status;
    };
    const Case cases[] = {
        {"Escape ends it", "255\n16\r\x1b", {}, "255\n16\n", 0},
        {"Escape then more input", "a\x1bzz", {}, "a", 0},
        {"end of input: close event, then the end", "ab\x1b[D", {"--handler"}, "ab<event 2>\n", kEndOfInputExitStatus},
        {"end of input without a handler", "ab", {}, "ab", control_event_exit_status(CTRL_CLOSE_EVENT)},
        {"nothing at all", "", {"--handler"}, "<event 2>\n", kEndOfInputExitStatus},
        {"Ctrl+C from a pipe",
         "a\x03"
         "b",
         {"--handler"},
         "a<event 0>\nb<event 2>\n",
         kEndOfInputExitStatus},
        {"Ctrl+Z from a pipe is a key", "a\x1a\x1b", {}, "a^Z", 0},
        {"UTF-8 and a key sequence", "\xc3\xa9\x1b[Ax", {}, "\xc3\xa9x", control_event_exit_status(CTRL_CLOSE_EVENT)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyProcess fresh(kCols, kRows);
        fresh.start(kDemo, c.args, {PtyProcess::Stream::Pipe, PtyProcess::Stream::Pipe, c.input});
        ASSERT_TRUE(fresh.read_until_output_closed());
        EXPECT_EQ(fresh.output_bytes(), c.output);
        const auto status = fresh.wait_status();
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status)) << *status;
        EXPECT_EQ(WEXITSTATUS(*status), c.status);
        EXPECT_EQ(fresh.terminal_bytes(), "");
    }
}

}  // namespace
}  // namespace platform
