#include "platform/posix/cp437.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace {

using platform::printed_as_utf8;

std::span<const std::byte> bytes_of(std::string_view text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string text_of(std::span<const std::byte> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Decodes UTF-8 strictly: the code points, or nothing for any malformed,
// overlong or surrogate sequence.
std::optional<std::u32string> decode(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) return std::nullopt;
        char32_t c = extra == 0 ? lead : lead & (extra == 1 ? 0x1F : 0x0F);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
        out += c;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

TEST(PrintedAsUtf8, AsciiGoesOutAsItIsWithoutACopy) {
    std::string scratch = "untouched";
    const std::string_view text = "d15 d15 \r\n\a\t<Esc> for exit\x7f";
    const auto out = printed_as_utf8(bytes_of(text), scratch);
    EXPECT_EQ(out.data(), bytes_of(text).data());
    EXPECT_EQ(text_of(out), text);
    EXPECT_EQ(scratch, "untouched");
}

// Every byte from 0x80 up, alone and between ASCII: valid UTF-8 without a C1
// control, whose character is the one that byte stands for when typed.
TEST(PrintedAsUtf8, EveryHighByteBecomesItsGlyph) {
    std::string scratch;
    for (int byte = 0x80; byte < 0x100; ++byte) {
        const std::string text = "a" + std::string(1, static_cast<char>(byte)) + "\r\n";
        const std::string out = text_of(printed_as_utf8(bytes_of(text), scratch));
        const auto decoded = decode(out);
        ASSERT_TRUE(decoded.has_value()) << "byte " << byte;
        ASSERT_EQ(decoded->size(), 4u) << "byte " << byte;
        EXPECT_EQ((*decoded)[0], U'a');
        EXPECT_EQ((*decoded)[1], platform::cp437_glyph(static_cast<std::uint8_t>(byte))) << "byte " << byte;
        EXPECT_FALSE((*decoded)[1] >= 0x80 && (*decoded)[1] < 0xA0) << "a C1 control for byte " << byte;
        EXPECT_EQ(platform::cp437_from_unicode((*decoded)[1]), byte) << "byte " << byte;
        EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
    }
}

TEST(PrintedAsUtf8, KnownCharacters) {
    std::string scratch;
    // é is 0x82, ¢ 0x9B (a CSI to an 8-bit terminal), the no-break space 0xFF.
    EXPECT_EQ(text_of(printed_as_utf8(bytes_of("caf\x82 \x9b"
                                               "2J \xff."),
                                      scratch)),
              "café ¢2J \u00a0.");
}

}  // namespace
