// What the program's thread waits on between its looks at keys and signals:
// its signal wake-up and, while it wants bytes, the key source's input.
//
// A prompt waits in steps of 25 ms for as long as nobody types. Watching a
// terminal with poll registers the wait with the terminal at every step, and
// that registration is most of what an idle step costs; so for keys typed on
// a terminal the descriptors are registered with the kernel once (epoll), and
// a step that finds nothing costs one system call and nothing more. Piped
// input is watched only while no decoded key waits to be handed over, which
// changes with every key: it is watched with poll, where that change costs no
// call. Where epoll is not to be had, poll does both.
//
// A wait that does not block (a look) always polls: polling a terminal first
// passes on the bytes it has received to be read, which a registered set
// learns of only once the kernel's worker has done so, a moment later.
#pragma once

namespace platform {

class WaitSet {
  public:
    struct Ready {
        bool wake = false;   // the wake-up descriptor is readable
        bool input = false;  // the input is readable, hung up or failed
    };

    // `wake_fd` is watched always (none when negative), `input_fd` while a
    // wait asks for it; `register_once` picks epoll, and registers both at
    // once. A set made before another thread's registers a terminal's keys
    // ahead of it: a key wakes this set's wait alone while there is one.
    WaitSet(int wake_fd, int input_fd, bool register_once);
    ~WaitSet();
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;

    // Waits up to `timeout_ms` (-1: no limit) until the wake-up, or the input
    // while `watch_input`, is ready. The count of descriptors ready, 0 when
    // the time ran out, -1 when interrupted or failed (errno tells).
    int wait(bool watch_input, int timeout_ms, Ready& ready);

  private:
    int wait_by_poll(bool watch_input, int timeout_ms, Ready& ready);
    // Registers or drops the input to match `watch_input`; false when the
    // kernel refuses, after which poll does the waiting.
    bool register_input(bool watch_input);

    int wake_fd_;
    int input_fd_;
    int epoll_fd_ = -1;
    bool input_registered_ = false;
};

}  // namespace platform
