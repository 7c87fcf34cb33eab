// Helpers for tests of the keyboard layer, whose queue and composition state
// live for the whole process: each test starts from an empty queue.
#pragma once

#include <string>
#include <vector>

#include "platform/console_api.h"
#include "runtime/core/startup.h"
#include "runtime/input/keyboard.h"
#include "tests/platform/test_console.h"

namespace rt_testing {

// Every queued key code, oldest first, removed.
inline std::vector<rt::KeyCode> pop_all() {
    std::vector<rt::KeyCode> codes;
    for (rt::KeyCode code = rt::pop_key(); code != rt::kNoKey; code = rt::pop_key())
        codes.push_back(code);
    return codes;
}

// Takes the console's standard handles as start-up does, ends any
// composition left behind (a release without Alt posts it), empties the queue
// and clears input_changed; the console's queue is left empty too.
inline void reset_keyboard(platform::TestConsole& console) {
    rt::platform_init();
    console.push(platform::TestConsole::key_event(VK_MENU, 0, 0, false));
    pop_all();
    rt::take_input_changed();
}

// read_key_text's result as bytes; the temporary goes back to the pool.
inline std::string read_key_bytes() {
    rt::StringDescriptor* text = rt::read_key_text();
    std::string bytes(rt::text_chars(*text));
    rt::text_release(text);
    return bytes;
}

}  // namespace rt_testing
