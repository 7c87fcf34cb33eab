#include "runtime/core/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

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

// The magnitude of the scanned number as a power of ten: positive exactly
// when its value is 1 or more.
std::int64_t decimal_order(std::string_view whole, std::string_view fraction, std::int64_t exponent) {
    const std::size_t significant = whole.find_first_not_of('0');
    if (significant != std::string_view::npos) {
        return exponent + static_cast<std::int64_t>(whole.size() - significant);
    }
    const std::size_t zeros = fraction.find_first_not_of('0');
    return zeros == std::string_view::npos ? 0 : exponent - static_cast<std::int64_t>(zeros);
}

// The longest prefix of `text` that reads as a decimal number, and its value.
double decimal_prefix_value(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t number_start = at;

    const std::string_view whole = text.substr(at, digits_from(text, at));
    at += whole.size();
    std::string_view fraction;
    if (at < text.size() && text[at] == '.') {
        fraction = text.substr(at + 1, digits_from(text, at + 1));
        at += 1 + fraction.size();
    }
    if (whole.empty() && fraction.empty()) return 0.0;

    // An exponent counts only with at least one digit; its value is needed
    // only to tell an overflow from an underflow, so it saturates.
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

    double value = 0.0;
    const auto result =
        std::from_chars(text.data() + number_start, text.data() + at, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = decimal_order(whole, fraction, exponent) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
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
    constexpr double kTwoTo63 = 9223372036854775808.0;
    double whole = std::trunc(value);
    const double rest = std::fabs(value - whole);  // exact for every finite double
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += std::copysign(1.0, value);
    // NaN and infinities fail this test as well.
    if (!(whole >= -kTwoTo63 && whole < kTwoTo63)) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(whole);
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
