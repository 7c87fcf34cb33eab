// What the program shows in a pass, for the tests of the whole program: its
// texts as they are shown, the digit line worked out independently of the
// program, and a pass as it reaches a pipe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/program_text.h"

namespace session_text {

// The prompts as they are shown, with the input statement's "? " behind them.
inline const std::string kNumberPrompt = std::string(app::kNumberPrompt) + "? ";
inline const std::string kBasePrompt = std::string(app::kBasePrompt) + "? ";
inline constexpr std::string_view kWrong = app::kWrongInput;
inline constexpr std::string_view kExitHint = app::kExitHint;

// "d", each digit's value and a blank, most significant first, by repeated
// division from the top place down.
inline std::string digit_line(std::int64_t number, std::int64_t base) {
    std::int64_t place = 1;
    while (number / place >= base)
        place *= base;
    std::string line;
    for (; place > 0; place /= base) {
        line += "d" + std::to_string(number / place) + " ";
        number %= place;
    }
    return line;
}

// One pass through pipes: both prompts with the echo of what was typed, the
// answer and the closing line, each ended by CR LF.
inline std::string pass_bytes(std::string_view number, std::string_view base, std::string_view answer) {
    return std::string(kNumberPrompt) + std::string(number) + "\r\n" + std::string(kBasePrompt) + std::string(base) +
           "\r\n" + std::string(answer) + "\r\n" + std::string(kExitHint) + "\r\n";
}

}  // namespace session_text
