// The close handler runs on the console's own thread while the program's
// thread may be inside any keyboard operation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/input/keyboard.h"
#include "tests/platform/test_console.h"
#include "tests/runtime/input/keyboard_support.h"

namespace {

using platform::TestConsole;
using rt::KeyCode;
using rt_testing::pop_all;

struct CloseKey : ::testing::Test {
    TestConsole console{80, 25};

    void SetUp() override {
        rt_testing::reset_keyboard(console);
        // Raising a close event with no handler would end the process: the
        // first keyboard operation installs the keyboard's.
        ASSERT_EQ(rt::key_available(), 0);
    }
};

TEST_F(CloseKey, AClosedWindowEndsAWaitAndReadsAsTheCloseKey) {
    console.on_wait([&](DWORD) {
        if (console.waits().size() == 1) {
            EXPECT_TRUE(console.raise(CTRL_CLOSE_EVENT));
        }
    });
    rt::wait_for_key(-1);
    EXPECT_EQ(console.waits().size(), 2u);
    EXPECT_EQ(rt_testing::read_key_bytes(), "\xFFk");
}

// The handler thread posts close keys while this thread posts its own keys and
// removes whatever is queued. However the two interleave, every key comes out
// exactly once and this thread's keys in their order. The handler thread stays
// at most kAhead keys ahead of the reader, so the ring never overflows and
// nothing is dropped by design. Each close event starts a handler thread;
// the sanitizer builds run a tenth of the rounds (tests/CMakeLists.txt says
// why that finds the same faults).
TEST_F(CloseKey, PostedFromTheHandlerThreadWhileKeysArePostedAndRemovedNothingIsLostOrDoubled) {
    constexpr int kRounds = 4000 / STRESS_DIVISOR;
    constexpr int kAhead = 200;
    std::atomic<int> closes_read{0};
    std::atomic<bool> all_raised{false};
    // Only a fault makes the reader fall behind for good (keys lost); the
    // handler side then gives up instead of hanging the test. However slowly
    // a loaded machine runs the two, a reader that still reads close keys is
    // not behind for good: the bound counts from the last one read.
    bool gave_up = false;
    std::thread handler_side([&] {
        constexpr auto kStalled = std::chrono::seconds(30);
        for (int raised = 0; raised < kRounds && !gave_up; ++raised) {
            auto read = closes_read.load();
            auto give_up_at = std::chrono::steady_clock::now() + kStalled;
            while (raised - read > kAhead && !gave_up) {
                std::this_thread::yield();
                if (const int now_read = closes_read.load(); now_read != read) {
                    read = now_read;
                    give_up_at = std::chrono::steady_clock::now() + kStalled;
                }
                gave_up = std::chrono::steady_clock::now() > give_up_at;
            }
            console.raise(CTRL_CLOSE_EVENT);
        }
        all_raised.store(true);
    });

    int own_posted = 0;
    int own_read = 0;
    int strays = 0;
    const auto take_queued = [&] {
        for (const KeyCode code : pop_all()) {
            if (code == rt::kCloseKey) {
                closes_read.fetch_add(1);
            } else if (code == own_read % 256) {
                ++own_read;
            } else {
                ++strays;
            }
        }
    };
    // This thread keeps posting and removing for as long as the handler thread
    // raises events, so the two really run at the same time.
    while (!all_raised.load()) {
        rt::post_key(own_posted++ % 256);
        take_queued();
    }
    handler_side.join();
    take_queued();

    EXPECT_FALSE(gave_up);
    EXPECT_EQ(strays, 0);
    EXPECT_EQ(own_read, own_posted);
    EXPECT_EQ(closes_read.load(), kRounds);
    EXPECT_EQ(rt::key_available(), 0);
}

}  // namespace
