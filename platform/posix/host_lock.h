// The terminal host's locks. The program's thread takes them around every wait
// and every redirected write, several times for each key; another thread takes
// them only now and then (the control thread reading keys for a program that
// does not look, a shutdown from a control handler's thread), and mostly with
// try_lock. So they are nearly always free, and taking one is a single atomic
// exchange and letting it go a plain store, with no call into the thread
// library. A thread that finds one taken spins a little, then sleeps in short
// steps: the holder may be a write to a terminal or pipe that takes nothing
// for a long while, and a spinning waiter would take a core from it meanwhile.
//
// Usable wherever std::mutex is: std::lock_guard, std::unique_lock.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

class HostLock {
  public:
    HostLock() = default;
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    bool try_lock() { return !held_.exchange(true, std::memory_order_acquire); }
    void lock() {
        if (!try_lock()) wait_and_lock();
    }
    void unlock() { held_.store(false, std::memory_order_release); }

  private:
    // How many times a waiter yields before it starts sleeping, and for how
    // long it sleeps then: a holder that reads a few bytes lets go within the
    // yields; one that is stuck costs the waiter a wake-up per step.
    static constexpr int kYields = 64;
    static constexpr std::chrono::microseconds kSleep{200};

    void wait_and_lock() {
        for (int tries = 0;; ++tries) {
            // Looked at before the exchange: a waiter does not keep taking the
            // cache line from the holder.
            if (!held_.load(std::memory_order_relaxed) && try_lock()) return;
            if (tries < kYields) {
                std::this_thread::yield();
            } else {
                std::this_thread::sleep_for(kSleep);
            }
        }
    }

    std::atomic<bool> held_{false};
};

}  // namespace platform
