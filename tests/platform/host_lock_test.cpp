#include "platform/posix/host_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::HostLock;

// Threads that take turns at a plain counter: a lock that lets two in at once
// loses increments (and ThreadSanitizer reports the race).
TEST(HostLock, LetsOneThreadInAtATime) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    HostLock lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                const std::lock_guard guard(lock);
                ++counter;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counter, long{kThreads} * kRounds);
}

// What the holder wrote before letting go is what the next holder reads.
TEST(HostLock, HandsOverWhatTheHolderWrote) {
    HostLock lock;
    lock.lock();
    std::vector<int> shared;
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        waiting = true;
        const std::lock_guard guard(lock);
        shared.push_back(2);
    });
    while (!waiting)
        std::this_thread::yield();
    shared.push_back(1);
    lock.unlock();
    waiter.join();
    EXPECT_EQ(shared, (std::vector<int>{1, 2}));
}

// try_lock never waits: it fails while another thread holds the lock, and
// succeeds once that thread has let it go.
TEST(HostLock, TryLockFailsOnlyWhileHeld) {
    HostLock lock;
    std::atomic<int> stage{0};
    std::thread holder([&] {
        lock.lock();
        stage = 1;
        while (stage != 2)
            std::this_thread::yield();
        lock.unlock();
        stage = 3;
    });
    while (stage != 1)
        std::this_thread::yield();
    EXPECT_FALSE(lock.try_lock());
    std::unique_lock guard(lock, std::try_to_lock);
    EXPECT_FALSE(guard.owns_lock());
    stage = 2;
    while (stage != 3)
        std::this_thread::yield();
    EXPECT_TRUE(guard.try_lock());
    guard.unlock();
    holder.join();
}

}  // namespace
