#include "runtime/core/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "platform/console_api.h"

namespace rt {
namespace {

// Room for the longest decimal form, -9223372036854775808, and some.
constexpr std::int32_t kNumberTextRoom = 24;

// White space as the C locale has it, whatever the process locale is.
constexpr bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t digits_from(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    return end - at;
}

// Significant digits a reading keeps. The exact decimal form of a point
// halfway between two neighbouring doubles has at most 767 of them, so a
// number cut after more digits than that, with a 1 put behind the cut for the
// nonzero digits it drops, lies on the same side of every such point as the
// whole number and reads as the same double.
constexpr std::size_t kKeptDigits = 780;
// Orders of magnitude from which the value is infinite (from 10^309 up it is
// beyond the largest double) or 0 (below 10^-324 it is under half the
// smallest).
constexpr std::int64_t kInfiniteOrder = 310;
constexpr std::int64_t kZeroOrder = -324;

// The digits of a number, whole part then fraction, read as one run.
struct DigitRun {
    std::string_view whole;
    std::string_view fraction;

    std::size_t size() const { return whole.size() + fraction.size(); }
    char operator[](std::size_t at) const { return at < whole.size() ? whole[at] : fraction[at - whole.size()]; }
};

// The value of `digits` times ten to `exponent`, without sign.
double digits_value(DigitRun digits, std::int64_t exponent) {
    std::size_t first = 0;
    while (first < digits.size() && digits[first] == '0')
        ++first;
    if (first == digits.size()) return 0.0;
    std::size_t end = digits.size();
    while (digits[end - 1] == '0')
        --end;
    // The value is 0.d...d times 10^order, with a first digit d that is not 0.
    const std::int64_t order =
        exponent + static_cast<std::int64_t>(digits.whole.size()) - static_cast<std::int64_t>(first);
    if (order >= kInfiniteOrder) return std::numeric_limits<double>::infinity();
    if (order < kZeroOrder) return 0.0;

    // Digits without a decimal point, the one part of such a number the
    // locale changes, and a small exponent: the reading is exact whatever the
    // locale, and the text is bounded whatever the number's length.
    std::array<char, kKeptDigits + 16> text{};
    std::size_t length = std::min(end - first, kKeptDigits);
    for (std::size_t i = 0; i < length; ++i)
        text[i] = digits[first + i];
    if (end - first > kKeptDigits) text[length++] = '1';
    const std::int64_t last_digit_exponent = order - static_cast<std::int64_t>(length);
    text[length++] = 'e';
    *std::to_chars(text.data() + length, text.data() + text.size() - 1, last_digit_exponent).ptr = '\0';
    return crt::decimal_to_double(text.data());
}

// The longest prefix of `text` that reads as a decimal number, and its value.
double decimal_prefix_value(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

    const std::string_view whole = text.substr(at, digits_from(text, at));
    at += whole.size();
    std::string_view fraction;
    if (at < text.size() && text[at] == '.') {
        fraction = text.substr(at + 1, digits_from(text, at + 1));
        at += 1 + fraction.size();
    }
    if (whole.empty() && fraction.empty()) return 0.0;

    // An exponent counts only with at least one digit; past the orders of
    // magnitude a double has, its value no longer matters, so it saturates.
    std::int64_t exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t digits_at = at + 1;
        const bool exponent_negative = digits_at < text.size() && text[digits_at] == '-';
        if (digits_at < text.size() && (text[digits_at] == '+' || text[digits_at] == '-')) ++digits_at;
        const std::size_t count = digits_from(text, digits_at);
        if (count > 0) {
            for (char c : text.substr(digits_at, count))
                exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000'000);
            if (exponent_negative) exponent = -exponent;
            at = digits_at + count;
        }
    }

    const double value = digits_value({whole, fraction}, exponent);
    return negative ? -value : value;
}

template <typename Integer>
StringDescriptor* integer_to_text(Integer value) {
    StringDescriptor* text = temp_text_alloc(nullptr, kNumberTextRoom);
    if (text == nullptr) return shared_empty_text();
    char* const end = std::to_chars(text->data, text->data + kNumberTextRoom, value).ptr;
    *end = '\0';
    text->length = static_cast<std::uint32_t>(end - text->data) | kTempFlag;
    return text;
}

double value_of(std::string_view text) {
    if (text.size() >= 2 && text[0] == '&') {
        switch (text[1]) {
            case 'B':
            case 'b':
                return radix_text_to_int32(text.substr(2), 2);
            case 'O':
            case 'o':
                return radix_text_to_int32(text.substr(2), 8);
            case 'H':
            case 'h':
                return radix_text_to_int32(text.substr(2), 16);
            default:
                break;
        }
    }
    return decimal_prefix_value(text);
}

}  // namespace

double text_to_double(StringDescriptor* text) {
    if (text == nullptr) return 0.0;
    // Only the blank is skipped here; other white space is part of the
    // decimal reading, which skips it itself (and "\t&H1" is then no number).
    const double value = text->data != nullptr ? value_of(skip_leading_char(text_chars(*text), ' ')) : 0.0;
    text_release(text);
    return value;
}

std::int64_t round_to_int64(double value) {
    constexpr double kTwoTo52 = 4503599627370496.0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    // From 2^52 up every double is an integer. Below, the conversion cuts the
    // fraction off and the subtraction gives it back exactly, so no step
    // depends on the rounding mode.
    if (value > -kTwoTo52 && value < kTwoTo52) {
        std::int64_t whole = static_cast<std::int64_t>(value);
        const double rest = value - static_cast<double>(whole);
        const bool odd = (whole & 1) != 0;
        if (rest > 0.5 || (rest == 0.5 && odd)) ++whole;
        if (rest < -0.5 || (rest == -0.5 && odd)) --whole;
        return whole;
    }
    // NaN and infinities fail this test as well.
    if (!(value >= -kTwoTo63 && value < kTwoTo63)) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

StringDescriptor* int64_to_text(std::int64_t value) { return integer_to_text(value); }
StringDescriptor* uint64_to_text(std::uint64_t value) { return integer_to_text(value); }

std::string_view skip_leading_char(std::string_view text, char character) {
    const std::size_t first = text.find_first_not_of(character);
    return first == std::string_view::npos ? text.substr(text.size()) : text.substr(first);
}

std::int32_t radix_text_to_int32(std::string_view digits, int radix) {
    if (radix != 2 && radix != 8 && radix != 16) return 0;
    std::uint32_t value = 0;
    for (char c : digits) {
        const int code = static_cast<signed char>(c);
        int digit = code - '0';
        if (radix == 16 && digit > 9) {
            digit = code - 55;            // 'A' gives 10
            if (digit > 16) digit -= 32;  // lower case
        }
        value = value * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace rt
