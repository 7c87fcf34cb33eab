// What the end-to-end console test does, in one place: console_demo runs it on
// a real terminal, keyed by the test, and the test runs the same steps on a
// TestConsole to know what the terminal must show.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/console/geometry.h"
#include "runtime/console/handle.h"

namespace console_script {

inline void start() {
    rt::console_clear();
    rt::print_cstr(0, "Number", 0);
    rt::print_cstr(0, "? ", 0);
}

// 'w' a line of 100 digits that wraps, 'l' thirty numbered lines that scroll,
// 't' a short text without a line end.
inline void step(char key) {
    switch (key) {
        case 'w': {
            std::string digits;
            for (int i = 0; i < 100; ++i)
                digits += static_cast<char>('0' + i % 10);
            rt::print_finish(0, rt::kPrintLineEnd);
            rt::print_cstr(0, digits.c_str(), rt::kPrintLineEnd);
            break;
        }
        case 'l':
            for (int i = 0; i < 30; ++i) {
                char line[24];  // room for any int
                std::snprintf(line, sizeof line, "line %02d", i);
                rt::print_cstr(0, line, rt::kPrintLineEnd);
            }
            break;
        case 't':
            rt::print_cstr(0, "tail", 0);
            break;
        default:
            break;
    }
}

}  // namespace console_script
