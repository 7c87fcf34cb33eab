// Validation of the typed number and base, and the number's digits in that
// base. The state is the program's own and lives for the whole run; the
// conversion loop sets digit_index to 0 at the top of every pass and calls
// read_values, input_is_wrong and, only when that is false,
// divide_into_digits and print_digits.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/core/text.h"

namespace app {

// Largest number and base accepted: fifteen nines, below 2^50, so a number
// has at most 50 digits.
inline constexpr std::int64_t kMaxValue = 999'999'999'999'999;
inline constexpr std::int64_t kMinBase = 2;
inline constexpr std::size_t kDigitSlots = 64;

extern rt::StringDescriptor number_text;  // typed at the first prompt
extern rt::StringDescriptor base_text;    // typed at the second prompt
extern std::int64_t number;               // divided down in place
extern std::int64_t base;
extern std::array<std::int64_t, kDigitSlots> DigitTable;  // least significant digit at index 0
// While dividing, the next digit slot; then the most significant digit,
// counted down while printing.
extern std::int64_t digit_index;

// Prints `text` (a temporary it consumes) with print flags `flags`.
using PrintOperation = void (*)(rt::StringDescriptor* text, int flags);

// number and base from their texts.
void read_values();
// True unless both texts are canonical decimal integers (no sign, no leading
// zeros, nothing else) within the limits: 0..kMaxValue for the number,
// kMinBase..kMaxValue for the base.
bool input_is_wrong();
// Fills DigitTable from index 0 and leaves digit_index at the most
// significant digit. Only for input that input_is_wrong accepted.
void divide_into_digits();
// Prints each digit from digit_index down to 0 as "d", its decimal value and a
// blank, all with print flags 0. False, with nothing printed, when the digits'
// texts could not all be made (a memory shortage).
bool print_digits(PrintOperation print);

// A pass's answer from number_text and base_text: read_values, then, unless
// the input is wrong, divide_into_digits and print_digits with `print`. False,
// with nothing printed, when the input is wrong or the digits could not be
// written; the answer is then "Wrong input!".
bool print_answer(PrintOperation print);

}  // namespace app
