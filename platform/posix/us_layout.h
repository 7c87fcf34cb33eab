// The keys of a US PC keyboard: virtual-key code, scan code and the characters
// they type. The terminal decoder uses it to give typed characters the key
// fields a console reports, and MapVirtualKeyA to answer for a virtual key.
#pragma once

#include <cstdint>
#include <span>

#include "platform/console_api.h"

namespace platform {

struct UsKey {
    WORD vk;
    WORD scan;
    char normal;   // character without Shift; 0 for keys without one
    char shifted;  // character with Shift
};

std::span<const UsKey> us_layout_keys();

// The key that types the printable ASCII character c (with Shift when c is
// the key's shifted character), or null. Keypad keys are not chosen here.
const UsKey* us_key_for_char(char c);

// The first key with this virtual-key code, or null.
const UsKey* us_key_for_vk(WORD vk);

}  // namespace platform
