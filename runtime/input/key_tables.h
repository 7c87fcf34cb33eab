// The two tables that turn a key event into a key code.
//
// An entry above 255 holds an extended code E of the PC BIOS keyboard code set
// in its high byte (E << 8); the key code made from it is the entry | 0xFF.
#pragma once

#include <array>
#include <cstdint>

namespace rt {

// The entry for the extended code `code`.
constexpr std::uint16_t E(std::uint8_t code) { return static_cast<std::uint16_t>(code << 8); }

struct ScanKeys {
    std::uint16_t normal;
    std::uint16_t shift;
    std::uint16_t ctrl;
    std::uint16_t alt;
};

inline constexpr int kLastScanCode = 88;

// Indexed by scan code. Only the extended entries ever become key codes, so the
// rest are 0. The codes follow the PC BIOS set, except that backslash has no
// Alt code, the keypad's *, minus and plus have none at all, Alt+Tab gives the
// code of Shift+Tab and Alt+keypad 5 gives 0x4C. Alt+F4 (0x6B) is also the
// close key.
// clang-format off
inline constexpr std::array<ScanKeys, kLastScanCode + 1> ScanKeyTable{{
    //  normal,   Shift,    Ctrl,     Alt       scan key (US layout)
    {      0,       0,       0,       0},  //  0  (none)
    {      0,       0,       0, E(0x01)},  //  1  Esc
    {      0,       0,       0, E(0x78)},  //  2  1
    {      0,       0, E(0x03), E(0x79)},  //  3  2
    {      0,       0,       0, E(0x7A)},  //  4  3
    {      0,       0,       0, E(0x7B)},  //  5  4
    {      0,       0,       0, E(0x7C)},  //  6  5
    {      0,       0,       0, E(0x7D)},  //  7  6
    {      0,       0,       0, E(0x7E)},  //  8  7
    {      0,       0,       0, E(0x7F)},  //  9  8
    {      0,       0,       0, E(0x80)},  // 10  9
    {      0,       0,       0, E(0x81)},  // 11  0
    {      0,       0,       0, E(0x82)},  // 12  minus
    {      0,       0,       0, E(0x83)},  // 13  equals
    {      0,       0,       0, E(0x0E)},  // 14  Backspace
    {      0, E(0x0F), E(0x94), E(0x0F)},  // 15  Tab
    {      0,       0,       0, E(0x10)},  // 16  Q
    {      0,       0,       0, E(0x11)},  // 17  W
    {      0,       0,       0, E(0x12)},  // 18  E
    {      0,       0,       0, E(0x13)},  // 19  R
    {      0,       0,       0, E(0x14)},  // 20  T
    {      0,       0,       0, E(0x15)},  // 21  Y
    {      0,       0,       0, E(0x16)},  // 22  U
    {      0,       0,       0, E(0x17)},  // 23  I
    {      0,       0,       0, E(0x18)},  // 24  O
    {      0,       0,       0, E(0x19)},  // 25  P
    {      0,       0,       0, E(0x1A)},  // 26  [
    {      0,       0,       0, E(0x1B)},  // 27  ]
    {      0,       0,       0, E(0x1C)},  // 28  Enter
    {      0,       0,       0,       0},  // 29  Ctrl
    {      0,       0,       0, E(0x1E)},  // 30  A
    {      0,       0,       0, E(0x1F)},  // 31  S
    {      0,       0,       0, E(0x20)},  // 32  D
    {      0,       0,       0, E(0x21)},  // 33  F
    {      0,       0,       0, E(0x22)},  // 34  G
    {      0,       0,       0, E(0x23)},  // 35  H
    {      0,       0,       0, E(0x24)},  // 36  J
    {      0,       0,       0, E(0x25)},  // 37  K
    {      0,       0,       0, E(0x26)},  // 38  L
    {      0,       0,       0, E(0x27)},  // 39  ;
    {      0,       0,       0, E(0x28)},  // 40  '
    {      0,       0,       0, E(0x29)},  // 41  grave accent
    {      0,       0,       0,       0},  // 42  left Shift
    {      0,       0,       0,       0},  // 43  backslash
    {      0,       0,       0, E(0x2C)},  // 44  Z
    {      0,       0,       0, E(0x2D)},  // 45  X
    {      0,       0,       0, E(0x2E)},  // 46  C
    {      0,       0,       0, E(0x2F)},  // 47  V
    {      0,       0,       0, E(0x30)},  // 48  B
    {      0,       0,       0, E(0x31)},  // 49  N
    {      0,       0,       0, E(0x32)},  // 50  M
    {      0,       0,       0, E(0x33)},  // 51  ,
    {      0,       0,       0, E(0x34)},  // 52  .
    {      0,       0,       0, E(0x35)},  // 53  /
    {      0,       0,       0,       0},  // 54  right Shift
    {      0,       0,       0,       0},  // 55  keypad *
    {      0,       0,       0,       0},  // 56  Alt
    {      0,       0,       0,       0},  // 57  Space
    {      0,       0,       0,       0},  // 58  Caps Lock
    {E(0x3B), E(0x54), E(0x5E), E(0x68)},  // 59  F1
    {E(0x3C), E(0x55), E(0x5F), E(0x69)},  // 60  F2
    {E(0x3D), E(0x56), E(0x60), E(0x6A)},  // 61  F3
    {E(0x3E), E(0x57), E(0x61), E(0x6B)},  // 62  F4
    {E(0x3F), E(0x58), E(0x62), E(0x6C)},  // 63  F5
    {E(0x40), E(0x59), E(0x63), E(0x6D)},  // 64  F6
    {E(0x41), E(0x5A), E(0x64), E(0x6E)},  // 65  F7
    {E(0x42), E(0x5B), E(0x65), E(0x6F)},  // 66  F8
    {E(0x43), E(0x5C), E(0x66), E(0x70)},  // 67  F9
    {E(0x44), E(0x5D), E(0x67), E(0x71)},  // 68  F10
    {      0,       0,       0,       0},  // 69  Num Lock
    {      0,       0,       0,       0},  // 70  Scroll Lock
    {E(0x47),       0, E(0x77),       0},  // 71  keypad 7 / Home
    {E(0x48),       0, E(0x8D),       0},  // 72  keypad 8 / Up
    {E(0x49),       0, E(0x84),       0},  // 73  keypad 9 / PgUp
    {      0,       0,       0,       0},  // 74  keypad minus
    {E(0x4B),       0, E(0x73),       0},  // 75  keypad 4 / Left
    {E(0x4C),       0, E(0x8F), E(0x4C)},  // 76  keypad 5
    {E(0x4D),       0, E(0x74),       0},  // 77  keypad 6 / Right
    {      0,       0,       0,       0},  // 78  keypad plus
    {E(0x4F),       0, E(0x75),       0},  // 79  keypad 1 / End
    {E(0x50),       0, E(0x91),       0},  // 80  keypad 2 / Down
    {E(0x51),       0, E(0x76),       0},  // 81  keypad 3 / PgDn
    {E(0x52),       0, E(0x92),       0},  // 82  keypad 0 / Ins
    {E(0x53),       0, E(0x93),       0},  // 83  keypad . / Del
    {      0,       0,       0,       0},  // 84  (none)
    {      0,       0,       0,       0},  // 85  (none)
    {      0,       0,       0,       0},  // 86  (none)
    {E(0x85), E(0x87), E(0x89), E(0x8B)},  // 87  F11
    {E(0x86), E(0x88), E(0x8A), E(0x8C)},  // 88  F12
}};
// clang-format on

struct EnhancedKeys {
    std::uint16_t scan_code;
    std::uint16_t normal;
    std::uint16_t shift;
    std::uint16_t ctrl;
    std::uint16_t alt;
};

// The keys that report ENHANCED_KEY without a character, searched in this
// order by scan code. Entries of 255 or less are key codes themselves.
// clang-format off
inline constexpr std::array<EnhancedKeys, 12> EnhancedKeyTable{{
    // scan,  normal,   Shift,    Ctrl,     Alt       key
    {  0x1C,      13,      13,      10, E(0xA6)},  // keypad Enter
    {  0x35,      47,      63, E(0x95), E(0xA4)},  // keypad slash
    {  0x47, E(0x47), E(0x47), E(0x77), E(0x97)},  // Home
    {  0x48, E(0x48), E(0x48), E(0x8D), E(0x98)},  // Up
    {  0x49, E(0x49), E(0x49), E(0x84), E(0x99)},  // PgUp
    {  0x4B, E(0x4B), E(0x4B), E(0x73), E(0x9B)},  // Left
    {  0x4D, E(0x4D), E(0x4D), E(0x74), E(0x9D)},  // Right
    {  0x4F, E(0x4F), E(0x4F), E(0x75), E(0x9F)},  // End
    {  0x50, E(0x50), E(0x50), E(0x91), E(0xA0)},  // Down
    {  0x51, E(0x51), E(0x51), E(0x76), E(0xA1)},  // PgDn
    {  0x52, E(0x52), E(0x52), E(0x92), E(0xA2)},  // Insert
    {  0x53, E(0x53), E(0x53), E(0x93), E(0xA3)},  // Delete
}};
// clang-format on

}  // namespace rt
