#include "runtime/core/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/common/heap.h"
#include "tests/runtime/core/rounding_cases.h"
#include "tests/runtime/core/text_support.h"

namespace {

using rt::StringDescriptor;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

using rt_testing::temp_of;

// Every case gives back the temporaries it takes.
class NumberTextTest : public ::testing::Test {
  protected:
    void SetUp() override { in_use_before_ = rt::pool_in_use_count(); }
    void TearDown() override {
        platform::heap_fail_nth(0);
        EXPECT_EQ(rt::pool_in_use_count(), in_use_before_) << "a temporary was not consumed";
    }

  private:
    int in_use_before_ = 0;
};

// --- text to double -------------------------------------------------------------

struct ToDoubleCase {
    std::string_view text;
    double expected;
};

constexpr ToDoubleCase kToDoubleCase[] = {
    // Blanks are skipped first; other white space by the decimal reading.
    {"  12", 12},
    {"\t12", 12},
    {"\v\f\r\n 7", 7},
    {"", 0},
    {"   ", 0},
    // Radix prefixes: 32-bit, signed, wrapping, digits unchecked.
    {"&H1F", 31},
    {"&h1f", 31},
    {"&O17", 15},
    {"&o17", 15},
    {"&B101", 5},
    {"&b101", 5},
    {"  &H10", 16},
    {"&HFFFFFFFF", -1},
    {"&H100000010", 16},
    {"&HG", 16},
    {"&hg", 16},
    {"&H", 0},
    {"&H\x80", -176},  // bytes read as signed: 0x80 is -128, a digit of -176
    {"&X5", 0},
    {"&", 0},
    {"\t&H10", 0},
    // Decimal prefixes.
    {"12abc", 12},
    {"1 2", 1},
    {"-5", -5},
    {"+5", 5},
    {"--5", 0},
    {"+-5", 0},
    {"00012", 12},
    {"5.", 5},
    {".5", 0.5},
    {".", 0},
    {"-.5e1", -5},
    {"0.1e1", 1},
    {"1E-2", 0.01},
    {"1e2x", 100},
    {"1e", 1},
    {"1e+", 1},
    {"1e-x", 1},
    {"1,5", 1},
    {{"12\0"
      "34",
      5},
     12},
    // Not numbers here: only the prefix that fits counts.
    {"0x1p3", 0},
    {"inf", 0},
    {"nan", 0},
    {"-inf", 0},
    // Correct rounding, and the ends of the range.
    {"0.1", 0.1},
    {"0.1000000000000000055511151231257827021181583404541015625", 0.1},
    {"9007199254740993", 9007199254740992.0},
    {"2.2250738585072011e-308", 2.2250738585072011e-308},
    {"4e-324", 4e-324},
    {"1e400", kInf},
    {"-1e400", -kInf},
    {"1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000",
     kInf},
    {"1e-400", 0},
    {"0.000000001e-320", 0},
    {"-1e-400", 0},
    {"0e999999999999999999", 0},
};

class TextToDouble : public NumberTextTest, public ::testing::WithParamInterface<ToDoubleCase> {};

TEST_P(TextToDouble, ReadsThePrefixThatFitsAndConsumesTheText) {
    const ToDoubleCase c = GetParam();
    EXPECT_EQ(rt::text_to_double(temp_of(c.text)), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Cases, TextToDouble, ::testing::ValuesIn(kToDoubleCase));

// Texts at a midpoint between two doubles and just beside one: a reading that
// is not correctly rounded, for instance one that rounds first to a wider
// significand and then to double, lands on the wrong neighbour. The table is
// checked against the C library's own reading before it is trusted.
class CorrectRounding : public NumberTextTest, public ::testing::WithParamInterface<rt_testing::RoundingCase> {};

TEST_P(CorrectRounding, ReadsTheNearestDoubleAndBreaksTiesToEven) {
    const rt_testing::RoundingCase c = GetParam();
    const std::string terminated(c.text);
#if !defined(_WIN32)
    // The table is the same everywhere; the strtod of the Windows build's C
    // library (mingw-w64's own) misreads two of its longest texts, a subnormal
    // and one beside the largest double.
    ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(terminated.c_str(), nullptr)), c.bits) << "table: " << c.text;
#endif
    if (c.trap && std::numeric_limits<long double>::digits == 64) {
        const auto twice = static_cast<double>(std::strtold(terminated.c_str(), nullptr));
        EXPECT_NE(std::bit_cast<std::uint64_t>(twice), c.bits) << "table: not a trap: " << c.text;
    }
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rt::text_to_double(temp_of(c.text))), c.bits) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Midpoints, CorrectRounding, ::testing::ValuesIn(rt_testing::kRoundingCases));

// Out of range, the value's order of magnitude decides between infinity and
// zero; zeros ahead of the first significant digit do not count towards it.
TEST_F(NumberTextTest, LeadingZerosDoNotTurnAnUnderflowIntoAnOverflow) {
    const std::string zeros(400, '0');
    const struct {
        std::string text;
        double expected;
    } cases[] = {
        {zeros + "1e-330", 0},
        {zeros + "12e-330", 0},
        {"-" + zeros + "1e-330", 0},
        {"0." + std::string(700, '0') + "1e350", 0},
        {zeros + "1e330", kInf},
        {zeros + "1." + zeros + "1e330", kInf},
        {"0." + std::string(20, '0') + "1e330", kInf},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rt::text_to_double(temp_of(c.text)), c.expected) << c.text;
    }
}

// Random numbers at and beside the points halfway between two doubles,
// written in random shapes, against the standard library's own reading.
class RandomDecimals : public NumberTextTest {
  protected:
    // A random finite double, often a subnormal or one at either end of the
    // exponents, where readings go wrong most.
    double random_double() {
        std::uniform_int_distribution<std::uint64_t> mantissa(0, (std::uint64_t{1} << 52) - 1);
        std::uniform_int_distribution<std::uint64_t> any_exponent(0, 0x7FE);
        std::uint64_t exponent = any_exponent(random_);
        switch (random_() % 4) {
            case 0:
                exponent = random_() % 3;  // subnormal or the smallest normals
                break;
            case 1:
                exponent = 0x7FE - random_() % 2;  // the largest
                break;
            default:
                break;
        }
        return std::bit_cast<double>(exponent << 52 | mantissa(random_));
    }

    // The exact decimal digits of `value` (no leading or trailing zeros) and
    // its order: value = 0.digits * 10^order. A long double holds the point
    // halfway between two doubles exactly, and the C library prints it exactly.
    static std::pair<std::string, int> exact_digits(long double value) {
        std::string printed(1200, '\0');
        printed.resize(static_cast<std::size_t>(std::snprintf(printed.data(), printed.size(), "%.1100Le", value)));
        const std::size_t e = printed.find('e');
        std::string digits = printed.substr(0, 1) + printed.substr(2, e - 2);
        digits.erase(digits.find_last_not_of('0') + 1);
        return {digits, std::stoi(printed.substr(e + 1)) + 1};
    }

    // The digits written with random leading and trailing zeros, decimal point
    // and exponent, and a random sign.
    std::string random_shape(const std::string& digits, int order) {
        const std::size_t point = random_below(digits.size() + 1);
        std::string text = random_() % 2 == 0 ? "" : (random_() % 2 == 0 ? "+" : "-");
        text += std::string(random_below(3), '0') + digits.substr(0, point) + "." + digits.substr(point) +
                std::string(random_below(3), '0');
        return text + (random_() % 2 == 0 ? "e" : "E") + std::to_string(order - static_cast<int>(point));
    }

    // The standard library's reading of the magnitude; out of range, infinity
    // or 0 by the order of magnitude.
    static double reference(const std::string& text, int order) {
        const std::size_t start = text[0] == '-' || text[0] == '+' ? 1 : 0;
        double value = 0.0;
        const auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), value);
        EXPECT_EQ(end, text.data() + text.size()) << text;
        if (ec == std::errc::result_out_of_range) value = order > 0 ? kInf : 0.0;
        return value;
    }

    // Expects `text` to read as `magnitude` with the text's sign.
    void expect_reads_as(const std::string& text, double magnitude) {
        const double expected = text[0] == '-' ? -magnitude : magnitude;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(rt::text_to_double(temp_of(text))),
                  std::bit_cast<std::uint64_t>(expected))
            << text;
    }

    // A random count from 0 to n - 1.
    std::size_t random_below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    std::mt19937_64 random_{20261211};
};

TEST_F(RandomDecimals, ReadLikeTheStandardLibrary) {
    for (int round = 0; round < 3000; ++round) {
        const double below = random_double();
        const double above = std::nextafter(below, kInf);
        if (std::isinf(above)) continue;
        const long double midpoint = (static_cast<long double>(below) + static_cast<long double>(above)) / 2;
        auto [digits, order] = exact_digits(midpoint);

        // The midpoint itself, and cut short after 15 to 25 digits with the
        // last one moved up or down.
        std::string text = random_shape(digits, order);
        expect_reads_as(text, reference(text, order));
        std::string cut = digits.substr(0, 15 + random_below(11));
        char& last = cut.back();
        last = static_cast<char>(last == '9'   ? last - 1
                                 : last == '0' ? last + 1
                                               : last + (random_() % 2 == 0 ? 1 : -1));
        text = random_shape(cut, order);
        expect_reads_as(text, reference(text, order));

        // Digits past the ones a reading keeps decide only whether the value
        // is above the midpoint.
        const std::string zeros(900, '0');
        expect_reads_as(random_shape(digits + zeros, order),
                        (std::bit_cast<std::uint64_t>(below) & 1) == 0 ? below : above);
        expect_reads_as(random_shape(digits + zeros + "1", order), above);
        expect_reads_as(digits + zeros + "1e" + std::to_string(order - static_cast<int>(digits.size() + 901)), above);
    }
}

// The reading is to nearest even when the process rounds another way, and
// leaves the process's rounding as it was.
TEST_F(NumberTextTest, TextToDoubleDoesNotFollowTheFloatingPointRoundingMode) {
    const std::string_view texts[] = {"0.3", "0.1", "2.5e-324", "1.7976931348623158e308", "-0.7", "4503599627370497.5"};
    std::vector<std::uint64_t> nearest;
    for (std::string_view text : texts)
        nearest.push_back(std::bit_cast<std::uint64_t>(rt::text_to_double(temp_of(text))));
    const int saved = std::fegetround();
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        std::vector<std::uint64_t> read;
        for (std::string_view text : texts)
            read.push_back(std::bit_cast<std::uint64_t>(rt::text_to_double(temp_of(text))));
        const int after = std::fegetround();
        std::fesetround(saved);
        EXPECT_EQ(read, nearest) << "mode " << mode;
        EXPECT_EQ(after, mode);
    }
}

TEST_F(NumberTextTest, TextToDoubleReadsNoFurtherThanTheLength) {
    EXPECT_EQ(rt::text_to_double(rt::text_view({"12345", 2})), 12);
    EXPECT_EQ(rt::text_to_double(rt::text_view({"&H1F", 3})), 1);
}

TEST_F(NumberTextTest, TextToDoubleOfNothingIsZeroAndAVariableIsLeftAsItIs) {
    EXPECT_EQ(rt::text_to_double(nullptr), 0);
    EXPECT_EQ(rt::text_to_double(rt::pool_take()), 0);
    StringDescriptor variable{};
    rt::text_assign(&variable, rt::kDescriptorSize, "42", rt::kZeroTerminatedSize, false);
    EXPECT_EQ(rt::text_to_double(&variable), 42);
    EXPECT_EQ(rt::text_chars(variable), "42");
    rt::text_free(&variable);
}

// --- round to int64 ----------------------------------------------------------------

struct RoundCase {
    double value;
    std::int64_t expected;
};

constexpr RoundCase kRoundCase[] = {
    {2.5, 2},
    {3.5, 4},
    {-2.5, -2},
    {-3.5, -4},
    {0.5, 0},
    {1.5, 2},
    {-0.5, 0},
    {2.4999999999999996, 2},
    {2.5000000000000004, 3},
    {-7.6, -8},
    {4503599627370495.5, 4503599627370496},
    {9223372036854774784.0, 9223372036854774784},  // the largest double below 2^63
    {-9223372036854775808.0, kInt64Min},           // -2^63 itself is in range
    {9223372036854775808.0, kInt64Min},            // 2^63 is not
    {1e19, kInt64Min},
    {-1e19, kInt64Min},
    {kInf, kInt64Min},
    {-kInf, kInt64Min},
    {std::numeric_limits<double>::quiet_NaN(), kInt64Min},
};

class RoundToInt64 : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt64, TiesToEvenAndOutOfRangeToTheSmallestValue) {
    const RoundCase c = GetParam();
    EXPECT_EQ(rt::round_to_int64(c.value), c.expected) << c.value;
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundToInt64, ::testing::ValuesIn(kRoundCase));

TEST(RoundToInt64Mode, DoesNotFollowTheFloatingPointRoundingMode) {
    const int saved = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    const std::int64_t rounded = rt::round_to_int64(2.5);
    std::fesetround(saved);
    EXPECT_EQ(rounded, 2);
}

// Random values around integers and halves, in and out of the signed 64-bit
// range, against the C library's rounding to nearest.
TEST(RoundToInt64Mode, RoundsLikeTheLibraryToNearest) {
    const int saved = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_TONEAREST), 0);
    std::mt19937_64 random(20261211);
    std::uniform_real_distribution<double> power(0, 64);
    const auto expected = [](double value) {
        const double nearest = std::nearbyint(value);
        if (!(nearest >= -9223372036854775808.0 && nearest < 9223372036854775808.0)) return kInt64Min;
        return static_cast<std::int64_t>(nearest);
    };
    for (int round = 0; round < 100000; ++round) {
        const double magnitude = std::floor(std::exp2(power(random)));
        const double base = random() % 2 == 0 ? magnitude : -magnitude;
        for (double value :
             {base, base + 0.5, base - 0.5, std::nextafter(base + 0.5, kInf), std::nextafter(base + 0.5, -kInf),
              std::nextafter(base - 0.5, -kInf), std::nextafter(base - 0.5, kInf)}) {
            ASSERT_EQ(rt::round_to_int64(value), expected(value)) << std::hexfloat << value;
        }
    }
    std::fesetround(saved);
}

// --- integer to text ----------------------------------------------------------------

struct IntegerTextCase {
    StringDescriptor* (*convert)(std::int64_t);
    std::int64_t value;
    std::string_view expected;
};

StringDescriptor* unsigned_text(std::int64_t value) { return rt::uint64_to_text(static_cast<std::uint64_t>(value)); }

const IntegerTextCase kIntegerTextCase[] = {
    {rt::int64_to_text, 0, "0"},
    {rt::int64_to_text, 7, "7"},
    {rt::int64_to_text, -5, "-5"},
    {rt::int64_to_text, 999999999999999, "999999999999999"},
    {rt::int64_to_text, kInt64Max, "9223372036854775807"},
    {rt::int64_to_text, kInt64Min, "-9223372036854775808"},
    {unsigned_text, 0, "0"},
    {unsigned_text, -1, "18446744073709551615"},
};

class IntegerToText : public NumberTextTest, public ::testing::WithParamInterface<IntegerTextCase> {};

TEST_P(IntegerToText, WritesAFlaggedTerminatedTemporary) {
    const IntegerTextCase c = GetParam();
    StringDescriptor* text = c.convert(c.value);
    EXPECT_EQ(rt::text_chars(*text), c.expected);
    EXPECT_TRUE(rt::is_temporary(*text));
    EXPECT_EQ(text->data[c.expected.size()], '\0');
    rt::text_release(text);
}

INSTANTIATE_TEST_SUITE_P(Cases, IntegerToText, ::testing::ValuesIn(kIntegerTextCase));

TEST_F(NumberTextTest, IntegerToTextGivesTheSharedEmptyTextInAShortage) {
    platform::heap_fail_nth(1, true);
    EXPECT_EQ(rt::int64_to_text(5), rt::shared_empty_text());
    EXPECT_EQ(rt::uint64_to_text(5), rt::shared_empty_text());
    platform::heap_fail_nth(0);

    std::vector<StringDescriptor*> taken;
    while (StringDescriptor* text = rt::pool_take())
        taken.push_back(text);
    EXPECT_EQ(rt::int64_to_text(5), rt::shared_empty_text());
    for (StringDescriptor* text : taken)
        rt::pool_give_back(text);
}

// --- the round trip -------------------------------------------------------------------

struct RoundTripCase {
    std::string_view text;
    std::string_view back;
};

constexpr RoundTripCase kRoundTripCase[] = {
    {"0", "0"},
    {"999999999999999", "999999999999999"},
    {"9007199254740992", "9007199254740992"},
    {"9007199254740993", "9007199254740992"},
    {"9999999999999999", "10000000000000000"},
    {"05", "5"},
    {"5.0", "5"},
    {"+5", "5"},
    {"5 ", "5"},
    {"-0", "0"},
    {"", "0"},
    {"9223372036854775808", "-9223372036854775808"},
};

class RoundTrip : public NumberTextTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTrip, GivesBackOnlyTheCanonicalForm) {
    const RoundTripCase c = GetParam();
    StringDescriptor* back = rt::int64_to_text(rt::round_to_int64(rt::text_to_double(temp_of(c.text))));
    EXPECT_EQ(rt::text_chars(*back), c.back);
    rt::text_release(back);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundTrip, ::testing::ValuesIn(kRoundTripCase));

// --- helpers -----------------------------------------------------------------------

TEST(SkipLeadingChar, StopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(rt::skip_leading_char("  a b", ' '), "a b");
    EXPECT_EQ(rt::skip_leading_char("   ", ' '), "");
    EXPECT_EQ(rt::skip_leading_char("\t a", ' '), "\t a");
    EXPECT_EQ(rt::skip_leading_char("xxy", 'x'), "y");
    EXPECT_EQ(rt::skip_leading_char({}, ' ').data(), nullptr);
}

struct RadixCase {
    std::string_view digits;
    int radix;
    std::int32_t expected;
};

constexpr RadixCase kRadixCase[] = {
    {"101", 2, 5},
    {"17", 8, 15},
    {"fF", 16, 255},
    {"7fffffff", 16, 2147483647},
    {"80000000", 16, -2147483647 - 1},
    {"FFFFFFFF", 16, -1},
    {"123456789", 16, 0x23456789},                 // the ninth digit wraps out
    {"111111111111111111111111111111111", 2, -1},  // 33 ones
    {"2", 2, 2},                                   // digits are not checked
    {"-1", 16, -47},                               // '-' is 45, a digit of -3
    {"\x80", 16, -176},                            // bytes are signed: 0x80 is -128
    {"1\xFF", 2, -47},                             // 0xFF is -1, a digit of -49
    {"", 16, 0},
    {"123", 10, 0},
};

class RadixText : public ::testing::TestWithParam<RadixCase> {};

TEST_P(RadixText, WrapsAs32Bits) {
    const RadixCase c = GetParam();
    EXPECT_EQ(rt::radix_text_to_int32(c.digits, c.radix), c.expected) << c.digits;
}

INSTANTIATE_TEST_SUITE_P(Cases, RadixText, ::testing::ValuesIn(kRadixCase));

}  // namespace
