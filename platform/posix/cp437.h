// Code page 437, the console's default: the glyph each byte shows, and the
// byte a typed character stands for.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The glyph shown for a cell byte, as a Unicode code point. Control bytes have
// glyphs of their own (1 is a smiling face, 127 a house); 0 shows as a blank.
char32_t cp437_glyph(std::uint8_t byte);

// The same glyph encoded as UTF-8: what a terminal is sent for the cell. Never
// a control character, so cell contents cannot form escape sequences.
std::string_view cp437_utf8(std::uint8_t byte);

// The byte for a typed character: ASCII 0x20 to 0x7E as themselves, and the
// characters of bytes 0x80 to 0xFF. Nothing for other characters (controls
// included: a terminal's control bytes are keys, not glyphs).
std::optional<std::uint8_t> cp437_from_unicode(char32_t c);

// Printed text as it goes to a file or a pipe, which get UTF-8 as a terminal
// does: ASCII bytes (the line ends, tabs and the bell among them) as they
// are, every byte from 0x80 up as its glyph, so that no C1 control byte and
// no invalid UTF-8 goes out and a typed character comes back as typed.
// `bytes` themselves when they are all ASCII, as nearly all printed text is;
// otherwise their UTF-8 form, made in `scratch`.
std::span<const std::byte> printed_as_utf8(std::span<const std::byte> bytes, std::string& scratch);

}  // namespace platform
