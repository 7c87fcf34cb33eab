// The bell and the pause, which the console print (a BEL character), the line
// editor (a refused key) and the keyboard's waits share.
#pragma once

#include <cstdint>

namespace rt {

// Holds the program for `milliseconds`.
void sleep_ms(std::int32_t milliseconds);
// A 1000 Hz tone for 250 ms.
void beep();

}  // namespace rt
