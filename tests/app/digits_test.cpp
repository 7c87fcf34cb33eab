#include "app/digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/common/heap.h"

namespace {

// What the print operation received: each text and its print flags.
std::vector<std::pair<std::string, int>> g_printed;

void record_print(rt::StringDescriptor* text, int flags) {
    g_printed.emplace_back(std::string(rt::text_chars(*text)), flags);
    rt::text_release(text);
}

void set_text(rt::StringDescriptor& variable, std::string_view typed) {
    const std::string terminated(typed);
    rt::text_assign(&variable, rt::kDescriptorSize, terminated.c_str(), rt::kZeroTerminatedSize, false);
}

class DigitsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        in_use_before_ = rt::pool_in_use_count();
        g_printed.clear();
        app::digit_index = 0;
    }
    void TearDown() override {
        platform::heap_fail_nth(0);
        rt::text_free(&app::number_text);
        rt::text_free(&app::base_text);
        EXPECT_EQ(rt::pool_in_use_count(), in_use_before_) << "a temporary was not consumed";
    }

    // One pass as the conversion loop runs it; true when the input was accepted.
    static bool convert(std::string_view number, std::string_view base) {
        set_text(app::number_text, number);
        set_text(app::base_text, base);
        app::digit_index = 0;
        app::read_values();
        if (app::input_is_wrong()) return false;
        app::divide_into_digits();
        app::print_digits(record_print);
        return true;
    }

    // The digit values printed, in printing order, from "d", value, " " triples.
    static std::vector<std::int64_t> printed_digits() {
        std::vector<std::int64_t> digits;
        EXPECT_EQ(g_printed.size() % 3, 0u);
        for (std::size_t i = 0; i + 2 < g_printed.size(); i += 3) {
            EXPECT_EQ(g_printed[i].first, "d");
            EXPECT_EQ(g_printed[i + 2].first, " ");
            digits.push_back(std::stoll(g_printed[i + 1].first));
        }
        for (const auto& [text, flags] : g_printed)
            EXPECT_EQ(flags, 0) << text;
        return digits;
    }

  private:
    int in_use_before_ = 0;
};

struct WorkedCase {
    std::string_view number;
    std::string_view base;
    std::vector<std::int64_t> digits;
};

const WorkedCase kWorkedCase[] = {
    {"5", "2", {1, 0, 1}},
    {"0", "2", {0}},
    {"10", "10", {1, 0}},
    {"255", "16", {15, 15}},
    {"7", "999999999999999", {7}},
    {"999999999999999", "999999999999999", {1, 0}},
    {"1", "2", {1}},
    {"999999999999999", "10", {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
    {"999999999999999", "999999999999998", {1, 1}},
    {"1000", "999", {1, 1}},
};

class WorkedResults : public DigitsTest, public ::testing::WithParamInterface<WorkedCase> {};

TEST_P(WorkedResults, PrintMostSignificantDigitFirst) {
    const WorkedCase& c = GetParam();
    ASSERT_TRUE(convert(c.number, c.base));
    EXPECT_EQ(printed_digits(), c.digits);
    EXPECT_EQ(app::digit_index, -1);
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkedResults, ::testing::ValuesIn(kWorkedCase));

TEST_F(DigitsTest, PrintsEachDigitAsDValueBlank) {
    ASSERT_TRUE(convert("5", "2"));
    const std::vector<std::pair<std::string, int>> expected = {
        {"d", 0}, {"1", 0}, {" ", 0}, {"d", 0}, {"0", 0}, {" ", 0}, {"d", 0}, {"1", 0}, {" ", 0},
    };
    EXPECT_EQ(g_printed, expected);
}

TEST_F(DigitsTest, LargestNumberInBaseTwoFillsFiftySlots) {
    set_text(app::number_text, "999999999999999");
    set_text(app::base_text, "2");
    app::read_values();
    ASSERT_FALSE(app::input_is_wrong());
    app::divide_into_digits();
    EXPECT_EQ(app::digit_index, 49);
    std::int64_t value = 0;
    for (std::int64_t i = app::digit_index; i >= 0; --i)
        value = value * 2 + app::DigitTable[static_cast<std::size_t>(i)];
    EXPECT_EQ(value, 999999999999999);
    EXPECT_EQ(app::DigitTable[49], 1);
    app::print_digits(record_print);
    EXPECT_EQ(printed_digits().size(), 50u);
}

struct InputCase {
    std::string_view number;
    std::string_view base;
    bool wrong;
};

constexpr InputCase kInputCase[] = {
    {"5", "2", false},
    {"0", "10", false},
    {"7", "1", true},
    {"7", "0", true},
    {"7", "-2", true},
    {"1000000000000000", "10", true},
    {"5", "1000000000000000", true},
    {"99999999999999999999", "10", true},
    {"9223372036854775807", "10", true},
    {"9223372036854775808", "10", true},
    {"-9223372036854775808", "10", true},
    {"007", "10", true},
    {"+7", "10", true},
    {"7.0", "10", true},
    {"7e0", "10", true},
    {"&H7", "10", true},
    {"-0", "10", true},
    {"-5", "10", true},
    {" 7", "10", true},
    {"7 ", "10", true},
    {"7\t", "10", true},
    {"", "10", true},
    {"", "2", true},
    {"7", "", true},
    {"7", "010", true},
    {"7", "2.0", true},
    {"7", "&H10", true},
};

class Validation : public DigitsTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(Validation, AcceptsOnlyCanonicalIntegersWithinTheLimits) {
    const InputCase c = GetParam();
    set_text(app::number_text, c.number);
    set_text(app::base_text, c.base);
    app::read_values();
    EXPECT_EQ(app::input_is_wrong(), c.wrong) << '"' << c.number << "\" in base \"" << c.base << '"';
}

INSTANTIATE_TEST_SUITE_P(Cases, Validation, ::testing::ValuesIn(kInputCase));

// Makes the allocation calls numbered `first` to `last` fail (1 is the next
// one); the heap's own count numbers them.
class FailingAllocations {
  public:
    FailingAllocations(unsigned long first, unsigned long last) : saved_(platform::heap_ops()) {
        first_ = first;
        last_ = last;
        platform::heap_fail_nth(0);
        platform::heap_ops().malloc = [](std::size_t size) {
            return fails_now() ? nullptr : platform::system_heap_ops().malloc(size);
        };
        platform::heap_ops().realloc = [](void* block, std::size_t size) {
            return fails_now() ? nullptr : platform::system_heap_ops().realloc(block, size);
        };
    }
    ~FailingAllocations() { platform::heap_ops() = saved_; }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

  private:
    static bool fails_now() {
        const unsigned long call = platform::heap_calls_seen();
        return call >= first_ && call <= last_;
    }
    platform::HeapOps saved_;
    static inline unsigned long first_ = 0;
    static inline unsigned long last_ = 0;
};

// Each text written back costs up to two allocations (the proposed capacity,
// then the exact one): every run of failures among the first four calls, so
// that one text can fail while the other is made.
TEST_F(DigitsTest, AShortageNeverTurnsWrongInputIntoAnAnswer) {
    for (const InputCase& c : kInputCase) {
        if (!c.wrong) continue;
        set_text(app::number_text, c.number);
        set_text(app::base_text, c.base);
        app::read_values();
        for (unsigned long first = 1; first <= 4; ++first) {
            for (unsigned long last = first; last <= 4; ++last) {
                const FailingAllocations shortage(first, last);
                EXPECT_TRUE(app::input_is_wrong()) << '"' << c.number << "\" in base \"" << c.base << "\", allocations "
                                                   << first << " to " << last << " failing";
            }
        }
    }
}

// Every canonical integer of 1 to 15 digits survives the round trip: the
// boundaries of each length, and a seeded random sample of each length.
TEST_F(DigitsTest, RoundTripAcceptsCanonicalIntegersUpToFifteenDigits) {
    std::vector<std::int64_t> values = {0};
    std::int64_t power = 1;
    for (int length = 1; length <= 15; ++length, power *= 10) {
        values.push_back(power);           // 1, 10, 100, ...
        values.push_back(power * 10 - 1);  // 9, 99, 999, ...
        values.push_back(power == 1 ? 5 : power + 1);
    }
    std::mt19937_64 random(20240611);
    for (int length = 1; length <= 15; ++length) {
        const std::int64_t low = length == 1 ? 0 : values[static_cast<std::size_t>(3 * length - 2)];
        std::uniform_int_distribution<std::int64_t> draw(low, values[static_cast<std::size_t>(3 * length - 1)]);
        for (int i = 0; i < 2000; ++i)
            values.push_back(draw(random));
    }
    set_text(app::base_text, "10");
    for (const std::int64_t value : values) {
        const std::string typed = std::to_string(value);
        set_text(app::number_text, typed);
        app::read_values();
        ASSERT_EQ(app::number, value) << typed;
        ASSERT_FALSE(app::input_is_wrong()) << typed;
    }
}

TEST_F(DigitsTest, ShortagesMakeTheInputWrong) {
    set_text(app::number_text, "5");
    set_text(app::base_text, "2");
    app::read_values();

    platform::heap_fail_nth(1, true);
    EXPECT_TRUE(app::input_is_wrong());
    platform::heap_fail_nth(0);

    std::vector<rt::StringDescriptor*> taken;
    while (rt::StringDescriptor* text = rt::pool_take())
        taken.push_back(text);
    EXPECT_TRUE(app::input_is_wrong());
    for (rt::StringDescriptor* text : taken)
        rt::pool_give_back(text);

    EXPECT_FALSE(app::input_is_wrong());
}

// A digit text that cannot be made leaves nothing printed, not a bare "d":
// every allocation of the printing failing from the first, then from each
// later one.
TEST_F(DigitsTest, AShortageWhilePrintingPrintsNoDigitAtAll) {
    for (unsigned long first = 1;; ++first) {
        set_text(app::number_text, "999999999999999");
        set_text(app::base_text, "2");
        app::read_values();
        ASSERT_FALSE(app::input_is_wrong());
        app::divide_into_digits();
        g_printed.clear();
        platform::heap_fail_nth(first, true);
        const bool printed = app::print_digits(record_print);
        const unsigned long calls = platform::heap_calls_seen();
        platform::heap_fail_nth(0);
        EXPECT_EQ(app::digit_index, -1);
        if (calls < first) {
            // No allocation failed: all 50 digits.
            EXPECT_TRUE(printed);
            EXPECT_EQ(printed_digits().size(), 50u);
            break;
        }
        EXPECT_FALSE(printed) << "allocations from " << first << " failing";
        EXPECT_TRUE(g_printed.empty()) << "allocations from " << first << " failing";
    }
}

}  // namespace
