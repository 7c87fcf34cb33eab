#include "platform/posix/control_events.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/test_console.h"

namespace {

using platform::TestConsole;

// What the handlers saw, in the order they were called.
struct Seen {
    char handler;
    DWORD type;
    std::thread::id thread;
};
std::mutex g_mutex;
std::vector<Seen> g_seen;

void note(char handler, DWORD type) {
    const std::lock_guard lock(g_mutex);
    g_seen.push_back({handler, type, std::this_thread::get_id()});
}

BOOL declines(DWORD type) {
    note('d', type);
    return FALSE;
}
BOOL handles(DWORD type) {
    note('h', type);
    return TRUE;
}
BOOL handles_too(DWORD type) {
    note('t', type);
    return TRUE;
}
// Takes itself out while it runs: handlers run without the list locked.
BOOL removes_itself(DWORD type) {
    note('r', type);
    SetConsoleCtrlHandler(removes_itself, FALSE);
    return TRUE;
}

std::string order() {
    std::string s;
    for (const Seen& seen : g_seen)
        s += seen.handler;
    return s;
}

class ControlEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seen.clear();
        handlers_at_start_ = platform::control_handler_count();
    }
    void TearDown() override {
        for (auto* h : {declines, handles, handles_too, removes_itself}) {
            while (SetConsoleCtrlHandler(h, FALSE)) {
            }
        }
        SetConsoleCtrlHandler(nullptr, FALSE);
        EXPECT_EQ(platform::control_handler_count(), handlers_at_start_);
    }
    TestConsole console_{80, 25};
    std::size_t handlers_at_start_ = 0;
};

TEST_F(ControlEvents, HandlersRunOnAThreadOfTheirOwnAndRaiseWaitsForThem) {
    ASSERT_TRUE(SetConsoleCtrlHandler(handles, TRUE));
    EXPECT_TRUE(console_.raise(CTRL_CLOSE_EVENT));
    // raise returned, so the handler has finished: no locking needed to look.
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].type, CTRL_CLOSE_EVENT);
    EXPECT_NE(g_seen[0].thread, std::this_thread::get_id());
}

TEST_F(ControlEvents, LastRegisteredFirstUntilOneHandles) {
    SetConsoleCtrlHandler(handles, TRUE);
    SetConsoleCtrlHandler(declines, TRUE);
    SetConsoleCtrlHandler(declines, TRUE);
    EXPECT_TRUE(console_.raise(CTRL_LOGOFF_EVENT));
    EXPECT_EQ(order(), "ddh");

    g_seen.clear();
    SetConsoleCtrlHandler(handles_too, TRUE);
    EXPECT_TRUE(console_.raise(CTRL_C_EVENT));
    EXPECT_EQ(order(), "t");
    EXPECT_EQ(g_seen[0].type, CTRL_C_EVENT);
}

TEST_F(ControlEvents, RemovingTakesOutTheLatestRegistration) {
    SetConsoleCtrlHandler(handles, TRUE);
    SetConsoleCtrlHandler(declines, TRUE);
    SetConsoleCtrlHandler(handles_too, TRUE);
    SetConsoleCtrlHandler(declines, TRUE);
    EXPECT_EQ(platform::control_handler_count(), handlers_at_start_ + 4);
    EXPECT_TRUE(SetConsoleCtrlHandler(declines, FALSE));
    EXPECT_TRUE(SetConsoleCtrlHandler(handles_too, FALSE));
    EXPECT_FALSE(SetConsoleCtrlHandler(handles_too, FALSE));  // not registered any more
    console_.raise(CTRL_SHUTDOWN_EVENT);
    EXPECT_EQ(order(), "dh");  // the earlier registration of `declines` is still there
}

TEST_F(ControlEvents, AHandlerMayRemoveItself) {
    SetConsoleCtrlHandler(handles, TRUE);
    SetConsoleCtrlHandler(removes_itself, TRUE);
    console_.raise(CTRL_CLOSE_EVENT);
    console_.raise(CTRL_CLOSE_EVENT);
    EXPECT_EQ(order(), "rh");
}

TEST_F(ControlEvents, IgnoringCtrlCSkipsOnlyCtrlC) {
    SetConsoleCtrlHandler(handles, TRUE);
    ASSERT_TRUE(SetConsoleCtrlHandler(nullptr, TRUE));
    EXPECT_FALSE(console_.raise(CTRL_C_EVENT));
    EXPECT_TRUE(console_.raise(CTRL_BREAK_EVENT));
    EXPECT_EQ(order(), "h");
    ASSERT_TRUE(SetConsoleCtrlHandler(nullptr, FALSE));
    EXPECT_TRUE(console_.raise(CTRL_C_EVENT));
    EXPECT_EQ(order(), "hh");
}

TEST_F(ControlEvents, UnknownEventTypesAreNotDelivered) {
    SetConsoleCtrlHandler(handles, TRUE);
    EXPECT_FALSE(console_.raise(3));
    EXPECT_FALSE(console_.raise(7));
    EXPECT_TRUE(g_seen.empty());
}

TEST(ControlEventStatus, CloseLikeEventsEndAsAShellReportsTheMatchingSignal) {
    EXPECT_EQ(platform::control_event_exit_status(CTRL_CLOSE_EVENT), 128 + SIGHUP);
    EXPECT_EQ(platform::control_event_exit_status(CTRL_LOGOFF_EVENT), 128 + SIGHUP);
    EXPECT_EQ(platform::control_event_exit_status(CTRL_SHUTDOWN_EVENT), 128 + SIGTERM);
    EXPECT_EQ(platform::control_event_exit_status(CTRL_C_EVENT), 0);
}

// Ends the process as the default handling does when no handler handles it.
void raise_unhandled(DWORD type) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would dump core
    // The host's shutdown leaves a mark on standard error, so that the death
    // tests below see it ran before the process ended.
    platform::TestConsole host(10, 2);
    host.on_shutdown([] {
        std::fputs("[host shut down]", stderr);
        std::fflush(stderr);
    });
    SetConsoleCtrlHandler(declines, TRUE);
    platform::raise_control_event(type);
    std::fputs("[still running]", stderr);
    std::exit(0);
}

struct DefaultEnd {
    DWORD type;
    bool by_signal;
    int signal_or_status;
    friend void PrintTo(const DefaultEnd& c, std::ostream* os) { *os << "event " << c.type; }
};
constexpr DefaultEnd kDefaultEnds[] = {
    {CTRL_C_EVENT, true, SIGINT},
    {CTRL_BREAK_EVENT, true, SIGQUIT},
    {CTRL_CLOSE_EVENT, false, 128 + SIGHUP},
    {CTRL_LOGOFF_EVENT, false, 128 + SIGHUP},
    {CTRL_SHUTDOWN_EVENT, false, 128 + SIGTERM},
};

class DefaultHandling : public ::testing::TestWithParam<DefaultEnd> {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_P(DefaultHandling, EndsTheProcessAfterShuttingTheHostDown) {
    const DefaultEnd& c = GetParam();
    if (c.by_signal) {
        EXPECT_EXIT(raise_unhandled(c.type), ::testing::KilledBySignal(c.signal_or_status), "\\[host shut down\\]$");
    } else {
        EXPECT_EXIT(raise_unhandled(c.type), ::testing::ExitedWithCode(c.signal_or_status), "\\[host shut down\\]$");
    }
}

INSTANTIATE_TEST_SUITE_P(ControlEvents, DefaultHandling, ::testing::ValuesIn(kDefaultEnds));

// The handler thread inherits the signal mask of the thread that raises; the
// default handling must still end the process by the signal.
TEST(DefaultHandlingWithSignalsBlocked, StillEndsBySignal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            sigset_t all;
            sigfillset(&all);
            pthread_sigmask(SIG_BLOCK, &all, nullptr);
            raise_unhandled(CTRL_C_EVENT);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
