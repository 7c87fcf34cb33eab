// What the program says: its two prompts, its answer to input it cannot
// convert and its closing line. The program and the tests that check what it
// shows, on every platform, take them from here, so a changed text changes
// both at once.
#pragma once

#include <string_view>

namespace app {

// The input statement shows "? " after each prompt.
inline constexpr std::string_view kNumberPrompt = "Decimal number  (max. 999999999999999)";
inline constexpr std::string_view kBasePrompt = "in base (min. 2; max. 999999999999999)";
inline constexpr std::string_view kWrongInput = "Wrong input!";
inline constexpr std::string_view kExitHint = "<Esc> for exit";

}  // namespace app
