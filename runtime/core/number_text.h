// Conversions between numbers and text: reading a typed value, rounding it to
// an integer and writing an integer back as decimal text.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/text.h"

namespace rt {

// The value of `text` (consumed; null or empty gives 0). Leading blanks are
// skipped; "&B", "&O" or "&H" and digits read as a 32-bit binary, octal or
// hexadecimal integer; anything else is read as a decimal number prefix:
// white space, an optional sign, digits with an optional fraction and an
// optional exponent, up to the first character that does not fit (0 when
// nothing fits). Correctly rounded to nearest, whatever the process locale
// and rounding mode.
double text_to_double(StringDescriptor* text);

// The nearest integer, ties to even; -2^63 for NaN and for values outside the
// signed 64-bit range. Independent of the floating-point rounding mode.
std::int64_t round_to_int64(double value);

// The decimal form as a new temporary (minus sign for negative values, no
// leading zeros); the shared empty text when no temporary can be had.
StringDescriptor* int64_to_text(std::int64_t value);
StringDescriptor* uint64_to_text(std::uint64_t value);

// What is left of `text` from its first character other than `character`.
std::string_view skip_leading_char(std::string_view text, char character);

// Every character counts as a digit of `radix` (2, 8 or 16; any other radix
// gives 0), in wrapping 32-bit arithmetic; the result is read as signed.
std::int32_t radix_text_to_int32(std::string_view digits, int radix);

}  // namespace rt
