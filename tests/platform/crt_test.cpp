#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>

#include "platform/console_api.h"
#if !defined(_WIN32)
#include "tests/platform/test_console.h"
#endif

namespace {

constexpr unsigned kRoundingMask = 0x300;
constexpr unsigned kPrecisionMask = 0x30000;

class ControlWord : public ::testing::Test {
  protected:
    void TearDown() override { std::fesetround(FE_TONEAREST); }
};

TEST_F(ControlWord, RoundingFieldSetsTheRoundingMode) {
    const struct {
        unsigned bits;
        int mode;
        double half_up;  // nearbyint(2.5)
        double minus;    // nearbyint(-2.5)
    } kCases[] = {
        {0x000, FE_TONEAREST, 2.0, -2.0},
        {0x100, FE_DOWNWARD, 2.0, -3.0},
        {0x200, FE_UPWARD, 3.0, -2.0},
        {0x300, FE_TOWARDZERO, 2.0, -2.0},
    };
    for (const auto& c : kCases) {
        const unsigned word = crt::_controlfp(c.bits, kRoundingMask);
        EXPECT_EQ(word & kRoundingMask, c.bits);
        EXPECT_EQ(std::fegetround(), c.mode);
        volatile double half = 2.5;
        EXPECT_EQ(std::nearbyint(half), c.half_up) << c.bits;
        EXPECT_EQ(std::nearbyint(-half), c.minus) << c.bits;
    }
}

TEST_F(ControlWord, OnlyTheMaskedFieldsChange) {
    crt::_controlfp(0x200, kRoundingMask);
    const unsigned before = crt::_controlfp(0, 0);  // a query
    EXPECT_EQ(before & kRoundingMask, 0x200u);
    EXPECT_EQ(crt::_controlfp(0x100, 0) & kRoundingMask, 0x200u);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    // Part of a field: the bits outside the mask keep their value.
    EXPECT_EQ(crt::_controlfp(0x100, 0x100) & kRoundingMask, 0x300u);
    EXPECT_EQ(std::fegetround(), FE_TOWARDZERO);
    EXPECT_EQ(crt::_controlfp(0x000, 0x200) & kRoundingMask, 0x100u);
    EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
    EXPECT_EQ(crt::_controlfp(0x200, 0x100) & kRoundingMask, 0x000u);  // value bits outside the mask are ignored
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
#if defined(__i386__)
    // The x87 unit in double precision first, so that the request below has a
    // field to change.
    EXPECT_EQ(crt::_controlfp(0x10000, kPrecisionMask) & kPrecisionMask, 0x10000u);
#endif
    // What start-up asks for: extended precision and round-to-nearest.
    crt::_controlfp(0x200, kRoundingMask);
    const unsigned word = crt::_controlfp(0, kPrecisionMask | kRoundingMask);
    EXPECT_EQ(word & kRoundingMask, 0u);
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
#if defined(__i386__)
    EXPECT_EQ(word & kPrecisionMask, 0u);
    volatile long double tiny = 0x1p-60L;
    EXPECT_NE(1.0L + tiny, 1.0L) << "the unit rounds to fewer than 64 bits";
#else
    // Without an x87 unit arithmetic keeps the precision of double.
    EXPECT_EQ(word & kPrecisionMask, 0x10000u);
#endif
}

TEST(CaseRules, OnlyAsciiLettersChangeCase) {
    const struct {
        int c;
        int lower;
        int upper;
    } kCases[] = {
        {'A', 'a', 'A'},    {'Z', 'z', 'Z'}, {'a', 'a', 'A'}, {'z', 'z', 'Z'}, {'@', '@', '@'},
        {'[', '[', '['},    {'`', '`', '`'}, {'{', '{', '{'}, {'5', '5', '5'}, {0, 0, 0},
        {0xC4, 0xC4, 0xC4}, {-1, -1, -1},    {255, 255, 255},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(crt::tolower(c.c), c.lower) << c.c;
        EXPECT_EQ(crt::toupper(c.c), c.upper) << c.c;
    }
}

TEST(CharacterClasses, ClassicMaskBitsInTheCLocale) {
    constexpr int kUpper = 0x1, kLower = 0x2, kDigit = 0x4, kSpace = 0x8, kPunct = 0x10, kControl = 0x20, kBlank = 0x40,
                  kHex = 0x80, kAlpha = 0x100;
    constexpr int kAll = 0x1FF;
    const struct {
        int c;
        int classes;
    } kCases[] = {
        {'A', kUpper | kHex | kAlpha},
        {'G', kUpper | kAlpha},
        {'f', kLower | kHex | kAlpha},
        {'z', kLower | kAlpha},
        {'0', kDigit | kHex},
        {'9', kDigit | kHex},
        {' ', kSpace | kBlank},
        {'\t', kSpace | kControl},
        {'\n', kSpace | kControl},
        {'\r', kSpace | kControl},
        {'\v', kSpace | kControl},
        {'\f', kSpace | kControl},
        {0, kControl},
        {0x1B, kControl},
        {0x7F, kControl},
        {'!', kPunct},
        {'~', kPunct},
        {'_', kPunct},
        {0x80, 0},
        {0xE9, 0},
        {0xFF, 0},
        {-1, 0},
        {256, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(crt::_isctype(c.c, kAll), c.classes) << c.c;
    EXPECT_NE(crt::_isctype('q', kUpper | kLower), 0);
    EXPECT_EQ(crt::_isctype('q', kUpper | kDigit), 0);
}

// The program's own at-exit entries run in reverse order of registration;
// where the console is ours, its host is shut down after them. The real
// console of Windows has no host to shut down.
void first_entry() { std::fputs("[first]", stderr); }
void second_entry() { std::fputs("[second]", stderr); }

#if defined(_WIN32)
constexpr const char* kExitOutput = "\\[second\\]\\[first\\]$";
#else
constexpr const char* kExitOutput = "\\[second\\]\\[first\\]\\[shutdown\\]$";
#endif

void exit_with_entries(int status) {
    crt::atexit(first_entry);
    crt::atexit(second_entry);
#if !defined(_WIN32)
    auto* host = new platform::TestConsole(10, 2);  // lives through the at-exit list
    host->on_shutdown([] { std::fputs("[shutdown]", stderr); });
#endif
    crt::exit(status);
}

TEST(Exit, RunsTheAtExitListThenShutsTheHostDown) {
    EXPECT_EXIT(exit_with_entries(7), ::testing::ExitedWithCode(7), kExitOutput);
    EXPECT_EXIT(exit_with_entries(0), ::testing::ExitedWithCode(0), kExitOutput);
}

}  // namespace
