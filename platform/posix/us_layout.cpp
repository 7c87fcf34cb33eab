#include "platform/posix/us_layout.h"

#include <array>
#include <cstddef>
#include <iterator>

namespace platform {
namespace {

constexpr UsKey kKeys[] = {
    {VK_ESCAPE, 1, '\x1b', '\x1b'},
    {'1', 2, '1', '!'},
    {'2', 3, '2', '@'},
    {'3', 4, '3', '#'},
    {'4', 5, '4', '$'},
    {'5', 6, '5', '%'},
    {'6', 7, '6', '^'},
    {'7', 8, '7', '&'},
    {'8', 9, '8', '*'},
    {'9', 10, '9', '('},
    {'0', 11, '0', ')'},
    {VK_OEM_MINUS, 12, '-', '_'},
    {VK_OEM_PLUS, 13, '=', '+'},
    {VK_BACK, 14, '\b', '\b'},
    {VK_TAB, 15, '\t', '\t'},
    {'Q', 16, 'q', 'Q'},
    {'W', 17, 'w', 'W'},
    {'E', 18, 'e', 'E'},
    {'R', 19, 'r', 'R'},
    {'T', 20, 't', 'T'},
    {'Y', 21, 'y', 'Y'},
    {'U', 22, 'u', 'U'},
    {'I', 23, 'i', 'I'},
    {'O', 24, 'o', 'O'},
    {'P', 25, 'p', 'P'},
    {VK_OEM_4, 26, '[', '{'},
    {VK_OEM_6, 27, ']', '}'},
    {VK_RETURN, 28, '\r', '\r'},
    {VK_CONTROL, 29, 0, 0},
    {'A', 30, 'a', 'A'},
    {'S', 31, 's', 'S'},
    {'D', 32, 'd', 'D'},
    {'F', 33, 'f', 'F'},
    {'G', 34, 'g', 'G'},
    {'H', 35, 'h', 'H'},
    {'J', 36, 'j', 'J'},
    {'K', 37, 'k', 'K'},
    {'L', 38, 'l', 'L'},
    {VK_OEM_1, 39, ';', ':'},
    {VK_OEM_7, 40, '\'', '"'},
    {VK_OEM_3, 41, '`', '~'},
    {VK_SHIFT, 42, 0, 0},
    {VK_OEM_5, 43, '\\', '|'},
    {'Z', 44, 'z', 'Z'},
    {'X', 45, 'x', 'X'},
    {'C', 46, 'c', 'C'},
    {'V', 47, 'v', 'V'},
    {'B', 48, 'b', 'B'},
    {'N', 49, 'n', 'N'},
    {'M', 50, 'm', 'M'},
    {VK_OEM_COMMA, 51, ',', '<'},
    {VK_OEM_PERIOD, 52, '.', '>'},
    {VK_OEM_2, 53, '/', '?'},
    {VK_SHIFT, 54, 0, 0},  // right Shift
    {VK_MULTIPLY, 55, '*', '*'},
    {VK_MENU, 56, 0, 0},
    {VK_SPACE, 57, ' ', ' '},
    {VK_CAPITAL, 58, 0, 0},
    {VK_F1, 59, 0, 0},
    {VK_F2, 60, 0, 0},
    {VK_F3, 61, 0, 0},
    {VK_F4, 62, 0, 0},
    {VK_F5, 63, 0, 0},
    {VK_F6, 64, 0, 0},
    {VK_F7, 65, 0, 0},
    {VK_F8, 66, 0, 0},
    {VK_F9, 67, 0, 0},
    {VK_F10, 68, 0, 0},
    {VK_NUMLOCK, 69, 0, 0},
    {VK_SCROLL, 70, 0, 0},
    {VK_NUMPAD7, 71, '7', '7'},
    {VK_NUMPAD8, 72, '8', '8'},
    {VK_NUMPAD9, 73, '9', '9'},
    {VK_SUBTRACT, 74, '-', '-'},
    {VK_NUMPAD4, 75, '4', '4'},
    {VK_NUMPAD5, 76, '5', '5'},
    {VK_NUMPAD6, 77, '6', '6'},
    {VK_ADD, 78, '+', '+'},
    {VK_NUMPAD1, 79, '1', '1'},
    {VK_NUMPAD2, 80, '2', '2'},
    {VK_NUMPAD3, 81, '3', '3'},
    {VK_NUMPAD0, 82, '0', '0'},
    {VK_DECIMAL, 83, '.', '.'},
    {VK_F11, 87, 0, 0},
    {VK_F12, 88, 0, 0},
    // The cursor block and keypad Enter and slash share scan codes with the
    // keypad keys above and are told apart by ENHANCED_KEY.
    {VK_HOME, 71, 0, 0},
    {VK_UP, 72, 0, 0},
    {VK_PRIOR, 73, 0, 0},
    {VK_LEFT, 75, 0, 0},
    {VK_RIGHT, 77, 0, 0},
    {VK_END, 79, 0, 0},
    {VK_DOWN, 80, 0, 0},
    {VK_NEXT, 81, 0, 0},
    {VK_INSERT, 82, 0, 0},
    {VK_DELETE, 83, 0, 0},
    {VK_DIVIDE, 53, '/', '/'},
};

constexpr bool is_keypad(WORD vk) { return vk >= VK_NUMPAD0 && vk <= VK_DIVIDE; }

constexpr bool types(const UsKey& k, char c) { return !is_keypad(k.vk) && c != 0 && (k.normal == c || k.shifted == c); }

// Every typed character and every translated key looks a key up: the first
// entry that answers each ASCII character and each virtual-key code below 256
// is found once, when compiling, and kNoKey stands for none.
constexpr std::size_t kNoKey = std::size(kKeys);
static_assert(kNoKey <= 0xFF);

template <std::size_t Count, typename Matches>
constexpr std::array<std::uint8_t, Count> first_keys(Matches matches) {
    std::array<std::uint8_t, Count> first{};
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>(kNoKey);
        for (std::size_t k = kNoKey; k-- > 0;) {
            if (matches(kKeys[k], i)) first[i] = static_cast<std::uint8_t>(k);
        }
    }
    return first;
}

constexpr auto kKeyForChar =
    first_keys<128>([](const UsKey& k, std::size_t c) { return types(k, static_cast<char>(c)); });
constexpr auto kKeyForVk = first_keys<256>([](const UsKey& k, std::size_t vk) { return k.vk == vk; });

const UsKey* key_at(std::uint8_t index) { return index == kNoKey ? nullptr : &kKeys[index]; }

}  // namespace

std::span<const UsKey> us_layout_keys() { return kKeys; }

const UsKey* us_key_for_char(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < kKeyForChar.size() ? key_at(kKeyForChar[code]) : nullptr;
}

const UsKey* us_key_for_vk(WORD vk) { return vk < kKeyForVk.size() ? key_at(kKeyForVk[vk]) : nullptr; }

}  // namespace platform
