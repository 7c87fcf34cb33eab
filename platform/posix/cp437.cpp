#include "platform/posix/cp437.h"

#include <algorithm>
#include <array>

namespace platform {
namespace {

constexpr std::array<char16_t, 256> kGlyphs = [] {
    std::array<char16_t, 256> t{};
    constexpr char16_t low[32] = {
        0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
        0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
        0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
    };
    constexpr char16_t high[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
        0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
        0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
        0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
        0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
        0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
        0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
        0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
        0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
        0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
    };
    for (int i = 0; i < 32; ++i)
        t[i] = low[i];
    for (int i = 32; i < 127; ++i)
        t[i] = static_cast<char16_t>(i);
    t[127] = 0x2302;
    for (int i = 0; i < 128; ++i)
        t[128 + i] = high[i];
    return t;
}();

// Each glyph as UTF-8, at most 3 bytes (every glyph is in the BMP).
struct Utf8Glyph {
    char bytes[3];
    unsigned char size;
};

constexpr std::array<Utf8Glyph, 256> kUtf8 = [] {
    std::array<Utf8Glyph, 256> t{};
    for (int i = 0; i < 256; ++i) {
        const char32_t c = kGlyphs[i];
        Utf8Glyph& g = t[i];
        if (c < 0x80) {
            g = {{static_cast<char>(c), 0, 0}, 1};
        } else if (c < 0x800) {
            g = {{static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F)), 0}, 2};
        } else {
            g = {{static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (c & 0x3F))},
                 3};
        }
    }
    return t;
}();

}  // namespace

char32_t cp437_glyph(std::uint8_t byte) { return kGlyphs[byte]; }

std::string_view cp437_utf8(std::uint8_t byte) { return {kUtf8[byte].bytes, kUtf8[byte].size}; }

std::optional<std::uint8_t> cp437_from_unicode(char32_t c) {
    if (c >= 0x20 && c < 0x7F) return static_cast<std::uint8_t>(c);
    // Byte 127 is a glyph of its own (the house), typed like any other.
    for (int i = 127; i < 256; ++i) {
        if (kGlyphs[i] == c) return static_cast<std::uint8_t>(i);
    }
    return std::nullopt;
}

std::span<const std::byte> printed_as_utf8(std::span<const std::byte> bytes, std::string& scratch) {
    const auto beyond_ascii = [](std::byte b) { return std::to_integer<std::uint8_t>(b) >= 0x80; };
    const auto first = std::find_if(bytes.begin(), bytes.end(), beyond_ascii);
    if (first == bytes.end()) return bytes;
    scratch.clear();
    for (const std::byte b : bytes)
        scratch += beyond_ascii(b) ? cp437_utf8(std::to_integer<std::uint8_t>(b))
                                   : std::string_view(reinterpret_cast<const char*>(&b), 1);
    return std::as_bytes(std::span(scratch.data(), scratch.size()));
}

}  // namespace platform
