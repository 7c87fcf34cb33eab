// Taking a lock from another thread than the program's, which may hold it in
// a write to a terminal or pipe that takes nothing for a long while.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>

namespace platform {

// How long a shutdown on another thread waits for the program's thread to
// finish a write; longer means the reader takes nothing.
inline constexpr std::chrono::milliseconds kShutdownPatience{500};

// Tries the lock every millisecond until `patience` has passed.
inline bool lock_within(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds patience) {
    const auto give_up = std::chrono::steady_clock::now() + patience;
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace platform
