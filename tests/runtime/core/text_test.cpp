#include "runtime/core/text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/heap.h"
#include "platform/console_api.h"
#include "tests/runtime/core/text_support.h"

namespace {

using rt::StringDescriptor;

std::string_view chars(const StringDescriptor* text) { return rt::text_chars(*text); }

using rt_testing::temp_of;

// A variable: owns its buffer, never flagged, lives outside the pool.
struct Variable {
    StringDescriptor text{};
    explicit Variable(std::string_view bytes = {}) {
        rt::text_assign(&text, rt::kDescriptorSize, temp_of(bytes), rt::kDescriptorSize, false);
    }
    // A buffer of exactly `capacity`, so that the capacity policy can be tried from any starting point.
    static Variable with_capacity(std::int32_t capacity, std::string_view bytes) {
        Variable v;
        v.text.data = static_cast<char*>(crt::malloc(static_cast<std::size_t>(capacity) + 1));
        v.text.capacity = capacity;
        v.text.length = static_cast<std::uint32_t>(bytes.size());
        bytes.copy(v.text.data, bytes.size());
        v.text.data[bytes.size()] = '\0';
        return v;
    }
    Variable(Variable&& other) noexcept : text(other.text) { other.text = {}; }
    Variable& operator=(Variable&&) = delete;
    ~Variable() { rt::text_free(&text); }
};

// Every case gives back what it takes: the pool count is the same after it,
// the shared empty text is never written, and heap failures are switched off.
class TextTest : public ::testing::Test {
  protected:
    void SetUp() override { in_use_before_ = rt::pool_in_use_count(); }
    void TearDown() override {
        platform::heap_fail_nth(0);
        EXPECT_EQ(rt::pool_in_use_count(), in_use_before_) << "a temporary was not consumed";
        const StringDescriptor* empty = rt::shared_empty_text();
        EXPECT_EQ(empty->data, nullptr);
        EXPECT_EQ(empty->length, 0u);
        EXPECT_EQ(empty->capacity, 0);
    }

  private:
    int in_use_before_ = 0;
};

// Counts the buffers given back to the heap while it lives.
class FreeCounter {
  public:
    FreeCounter() : saved_(platform::heap_ops()) {
        count_ = 0;
        platform::heap_ops().free = [](void* block) {
            ++count_;
            platform::system_heap_ops().free(block);
        };
    }
    ~FreeCounter() { platform::heap_ops() = saved_; }
    int count() const { return count_; }

  private:
    platform::HeapOps saved_;
    static inline int count_ = 0;
};

// --- the pool ---------------------------------------------------------------

TEST_F(TextTest, PoolHandsOutAllItsDescriptorsThenRefusesAndReusesTheLastGivenBack) {
    std::vector<StringDescriptor*> taken;
    while (StringDescriptor* text = rt::pool_take()) {
        EXPECT_EQ(text->data, nullptr);
        taken.push_back(text);
    }
    EXPECT_EQ(rt::pool_in_use_count(), rt::kPoolSize);
    EXPECT_EQ(rt::pool_take(), nullptr);
    EXPECT_EQ(rt::text_view("abc"), rt::shared_empty_text());
    EXPECT_EQ(rt::text_view_of(taken.front()), rt::shared_empty_text());
    EXPECT_EQ(rt::temp_text_alloc(nullptr, 4), nullptr);

    // Last given back, first out.
    StringDescriptor* first = taken[10];
    StringDescriptor* second = taken[200];
    ASSERT_EQ(rt::pool_give_back(first), 0);
    ASSERT_EQ(rt::pool_give_back(second), 0);
    EXPECT_EQ(rt::pool_in_use_count(), rt::kPoolSize - 2);
    EXPECT_EQ(rt::pool_take(), second);
    EXPECT_EQ(rt::pool_take(), first);
    EXPECT_EQ(rt::pool_take(), nullptr);

    for (StringDescriptor* text : taken)
        EXPECT_EQ(rt::pool_give_back(text), 0);
}

TEST_F(TextTest, GiveBackRefusesWhatIsNotOut) {
    Variable variable("abc");
    EXPECT_EQ(rt::pool_give_back(&variable.text), -1);
    EXPECT_EQ(rt::pool_give_back(rt::shared_empty_text()), -1);
    EXPECT_EQ(rt::pool_give_back(nullptr), -1);
    EXPECT_EQ(chars(&variable.text), "abc");

    // A second give-back of the same descriptor must not put it on the free
    // list twice, or two later takes would share it.
    StringDescriptor* text = rt::pool_take();
    ASSERT_EQ(rt::pool_give_back(text), 0);
    EXPECT_EQ(rt::pool_give_back(text), -1);
    StringDescriptor* again = rt::pool_take();
    StringDescriptor* other = rt::pool_take();
    EXPECT_EQ(again, text);
    EXPECT_NE(other, text);
    rt::pool_give_back(other);
    rt::pool_give_back(again);
}

TEST_F(TextTest, ATakeHandsOutAClearedDescriptorWhateverItHeldWhenGivenBack) {
    StringDescriptor* view = rt::text_view("abc");
    ASSERT_NE(view, rt::shared_empty_text());
    ASSERT_EQ(rt::pool_give_back(view), 0);
    StringDescriptor* again = rt::pool_take();
    ASSERT_EQ(again, view);
    EXPECT_EQ(again->data, nullptr);
    EXPECT_EQ(again->length, 0u);
    EXPECT_EQ(again->capacity, 0);
    rt::pool_give_back(again);
}

// --- capacity policy --------------------------------------------------------

struct ReserveCase {
    std::int32_t capacity;  // of the buffer held before, -1 for none
    std::int32_t length;
    std::int32_t expected_capacity;
    bool keeps_buffer;
};

constexpr ReserveCase kReserveCase[] = {
    {-1, 0, 0, false},    {-1, 1, 36, false},  {-1, 32, 36, false}, {-1, 33, 72, false},   {-1, 64, 72, false},
    {-1, 65, 108, false}, {36, 10, 36, true},  {72, 10, 36, false}, {40, 33, 40, true},    {41, 10, 41, true},
    {42, 10, 36, false},  {36, 37, 72, false}, {36, 36, 36, true},  {100, 100, 100, true},
};

class CapacityPolicy : public TextTest, public ::testing::WithParamInterface<std::tuple<ReserveCase, bool>> {};

TEST_P(CapacityPolicy, GrowsBy36Per32AndKeepsABufferThatIsNotMuchTooLarge) {
    const auto [c, preserve] = GetParam();
    Variable held = c.capacity < 0 ? Variable() : Variable::with_capacity(c.capacity, "keep");
    const char* old_data = held.text.data;
    platform::heap_fail_nth(0);  // restarts the count of allocation calls
    ASSERT_EQ(rt::text_reserve(&held.text, c.length, preserve), &held.text);
    EXPECT_EQ(held.text.capacity, c.expected_capacity);
    EXPECT_EQ(rt::text_length(held.text), static_cast<std::uint32_t>(c.length));
    EXPECT_EQ(platform::heap_calls_seen(), c.keeps_buffer ? 0u : 1u);
    if (c.keeps_buffer) {
        EXPECT_EQ(held.text.data, old_data);
    }
    if (preserve && old_data != nullptr && c.length >= 4) {
        EXPECT_EQ(chars(&held.text).substr(0, 4), "keep");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CapacityPolicy,
                         ::testing::Combine(::testing::ValuesIn(kReserveCase), ::testing::Bool()));

TEST_F(TextTest, ReserveKeepsTheTemporaryFlagUnlessItAllocatesAfresh) {
    struct Case {
        std::int32_t length;
        bool preserve;
        bool flag_after;
    };
    // From capacity 36: 10 keeps the buffer, 100 needs another one.
    for (const Case c : {Case{10, false, true}, Case{100, true, true}, Case{100, false, false}}) {
        Variable held = Variable::with_capacity(36, "x");
        held.text.length |= rt::kTempFlag;
        ASSERT_NE(rt::text_reserve(&held.text, c.length, c.preserve), nullptr);
        EXPECT_EQ(rt::is_temporary(held.text), c.flag_after) << c.length << " " << c.preserve;
        EXPECT_EQ(rt::text_length(held.text), static_cast<std::uint32_t>(c.length));
    }
}

TEST_F(TextTest, ReserveRejectsANegativeLength) {
    Variable held("abc");
    EXPECT_EQ(rt::text_reserve(&held.text, -1, true), nullptr);
    EXPECT_EQ(rt::text_reserve(nullptr, 5, true), nullptr);
    EXPECT_EQ(chars(&held.text), "abc");
}

// --- memory shortage --------------------------------------------------------

struct ShortageCase {
    bool preserve;
    bool both_fail;  // else only the first (proposed) allocation fails
};

class ReserveShortage : public TextTest, public ::testing::WithParamInterface<ShortageCase> {};

TEST_P(ReserveShortage, FallsBackToTheExactLengthThenFailsAsDocumented) {
    const ShortageCase c = GetParam();
    Variable held = Variable::with_capacity(5, "hello");
    const StringDescriptor before = held.text;
    platform::heap_fail_nth(1, c.both_fail);
    StringDescriptor* result = rt::text_reserve(&held.text, 40, c.preserve);
    platform::heap_fail_nth(0);
    if (!c.both_fail) {
        ASSERT_EQ(result, &held.text);
        EXPECT_EQ(held.text.capacity, 40);  // the exact length, not the proposed 72
        EXPECT_EQ(rt::text_length(held.text), 40u);
        if (c.preserve) {
            EXPECT_EQ(chars(&held.text).substr(0, 5), "hello");
        }
    } else if (c.preserve) {
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(held.text.data, before.data);
        EXPECT_EQ(held.text.length, before.length);
        EXPECT_EQ(held.text.capacity, before.capacity);
        EXPECT_EQ(chars(&held.text), "hello");
    } else {
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(held.text.data, nullptr);
        EXPECT_EQ(held.text.length, 0u);
        EXPECT_EQ(held.text.capacity, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReserveShortage,
                         ::testing::Values(ShortageCase{false, false}, ShortageCase{false, true},
                                           ShortageCase{true, false}, ShortageCase{true, true}));

TEST_F(TextTest, FreshTemporaryFallsBackToTheExactLength) {
    platform::heap_fail_nth(1);
    StringDescriptor* text = rt::temp_text_alloc(nullptr, 40);
    platform::heap_fail_nth(0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->capacity, 40);  // not the proposed 72
    EXPECT_EQ(rt::text_length(*text), 40u);
    EXPECT_TRUE(rt::is_temporary(*text));
    EXPECT_EQ(rt::text_release(text), 0);
}

TEST_F(TextTest, ShortagesLeaveAssignTargetsEmptyAndAppendTargetsUnchanged) {
    Variable assigned("hello");
    Variable appended("hello");
    platform::heap_fail_nth(1, true);
    EXPECT_EQ(
        rt::text_assign(&assigned.text, -1, rt::text_view("a text too long for the buffer it has now"), -1, false),
        &assigned.text);
    EXPECT_EQ(rt::text_append(&appended.text, -1, rt::text_view(" world, and more than 36 bytes of it"), -1, false),
              &appended.text);
    EXPECT_EQ(rt::temp_text_alloc(nullptr, 3), nullptr);  // and its descriptor went back
    EXPECT_EQ(rt::text_mid(rt::text_view("abc"), 1, 2), rt::shared_empty_text());
    EXPECT_EQ(rt::text_fill(3, 'x'), rt::shared_empty_text());
    platform::heap_fail_nth(0);
    EXPECT_EQ(assigned.text.data, nullptr);
    EXPECT_EQ(rt::text_length(assigned.text), 0u);
    EXPECT_EQ(chars(&appended.text), "hello");
}

// --- temporaries and views --------------------------------------------------

TEST_F(TextTest, TempTextAllocFlagsAPoolDescriptorOrReusesTheOneGiven) {
    StringDescriptor* text = rt::temp_text_alloc(nullptr, 5);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(rt::is_temporary(*text));
    EXPECT_EQ(rt::text_length(*text), 5u);
    EXPECT_GE(text->capacity, 5);
    const int in_use = rt::pool_in_use_count();
    EXPECT_EQ(rt::temp_text_alloc(text, 50), text);
    EXPECT_EQ(rt::pool_in_use_count(), in_use);
    EXPECT_EQ(rt::text_length(*text), 50u);
    EXPECT_TRUE(rt::is_temporary(*text));
    rt::text_release(text);
}

TEST_F(TextTest, ViewsMeasureTheirBytesAndCopyNothing) {
    static constexpr char kBytes[] = "hello";
    struct Case {
        StringDescriptor* view;
        std::uint32_t length;
    };
    const Case cases[] = {
        {rt::text_view({kBytes, 3}), 3},     {rt::text_view_cstr(kBytes), 5},     {rt::text_view_cstr(nullptr), 0},
        {rt::text_view_sized(kBytes, 5), 4}, {rt::text_view_sized(kBytes, 0), 5},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(rt::is_temporary(*c.view));
        EXPECT_EQ(rt::text_length(*c.view), c.length);
        if (c.length > 0) {
            EXPECT_EQ(c.view->data, kBytes);
        }
        EXPECT_EQ(rt::text_release(c.view), 0);
    }
}

TEST_F(TextTest, ViewOfSharesTheBufferWithoutTheFlagAndLeavesTheSourceAlone) {
    StringDescriptor* temp = temp_of("abc");
    StringDescriptor* view = rt::text_view_of(temp);
    EXPECT_EQ(view->data, temp->data);
    EXPECT_EQ(view->capacity, temp->capacity);
    EXPECT_EQ(view->length, 3u);
    EXPECT_EQ(rt::text_release(view), 0);
    EXPECT_EQ(chars(temp), "abc");
    EXPECT_TRUE(rt::is_temporary(*temp));
    rt::text_release(temp);
}

TEST_F(TextTest, ReleaseFreesOnlyAFlaggedTemporarysBuffer) {
    static constexpr char kLiteral[] = "literal";
    Variable variable("kept");
    FreeCounter frees;
    EXPECT_EQ(rt::text_release(nullptr), -1);
    EXPECT_EQ(rt::text_release(rt::shared_empty_text()), -1);
    EXPECT_EQ(rt::text_release(&variable.text), -1);
    EXPECT_EQ(rt::text_release(rt::text_view(kLiteral)), 0);
    EXPECT_EQ(frees.count(), 0);
    EXPECT_EQ(chars(&variable.text), "kept");

    StringDescriptor* temp = temp_of("abc");
    EXPECT_EQ(rt::text_release(temp), 0);
    EXPECT_EQ(frees.count(), 1);
    EXPECT_EQ(temp->data, nullptr);
}

TEST_F(TextTest, CopyTerminatedTerminatesEvenWhenNothingIsCopied) {
    std::array<char, 4> buffer{'x', 'x', 'x', 'x'};
    rt::copy_terminated(buffer.data(), nullptr, 3);
    EXPECT_EQ(buffer, (std::array<char, 4>{'\0', 'x', 'x', 'x'}));
    rt::copy_terminated(buffer.data(), "ab", 2);
    EXPECT_EQ(buffer, (std::array<char, 4>{'a', 'b', '\0', 'x'}));
}

// --- assignment and appending to descriptors ---------------------------------

TEST_F(TextTest, AssignTakesOverAFlaggedTemporarysBuffer) {
    Variable variable("old");
    StringDescriptor* temp = temp_of("new text");
    const char* buffer = temp->data;
    const std::int32_t capacity = temp->capacity;
    const int in_use = rt::pool_in_use_count();
    platform::heap_fail_nth(0);
    rt::text_assign(&variable.text, -1, temp, -1, false);
    EXPECT_EQ(platform::heap_calls_seen(), 0u);
    EXPECT_EQ(variable.text.data, buffer);
    EXPECT_EQ(variable.text.capacity, capacity);
    EXPECT_EQ(variable.text.length, 8u);  // no flag
    EXPECT_EQ(temp->data, nullptr);
    EXPECT_EQ(temp->length, 0u);
    EXPECT_EQ(rt::pool_in_use_count(), in_use - 1);
}

// Equal lengths keep the buffer even where reserving would give a smaller one
// (108 bytes for a 5-byte text).
TEST_F(TextTest, AssignOfAnEqualLengthCopiesIntoTheBufferItHas) {
    Variable variables[] = {Variable("abcde"), Variable::with_capacity(108, "abcde")};
    for (Variable& variable : variables) {
        const char* buffer = variable.text.data;
        const std::int32_t capacity = variable.text.capacity;
        platform::heap_fail_nth(0);
        rt::text_assign(&variable.text, -1, rt::text_view("vwxyz"), -1, false);
        EXPECT_EQ(platform::heap_calls_seen(), 0u) << capacity;
        EXPECT_EQ(variable.text.data, buffer);
        EXPECT_EQ(variable.text.capacity, capacity);
        EXPECT_EQ(chars(&variable.text), "vwxyz");
        EXPECT_EQ(variable.text.data[5], '\0');
    }
}

struct DescriptorCase {
    std::string_view before;
    std::string_view source;
    bool append;
    std::string_view after;
};

constexpr DescriptorCase kDescriptorCase[] = {
    {"abc", "de", false, "de"},
    {"", "longer than thirty-six bytes, to need a buffer", false, "longer than thirty-six bytes, to need a buffer"},
    {"abc", "", false, ""},
    {"abc", "de", true, "abcde"},
    {"", "de", true, "de"},
    {"abc", "", true, "abc"},
    {"a text of thirty-two characters.", "and more to grow it", true,
     "a text of thirty-two characters.and more to grow it"},
};

class DescriptorTarget : public TextTest, public ::testing::WithParamInterface<DescriptorCase> {};

// Each source kind: a view (released), a flagged temporary (consumed) and a zero-terminated text.
TEST_P(DescriptorTarget, AssignsAndAppendsEverySourceKind) {
    const DescriptorCase c = GetParam();
    const auto apply = [&](const void* source, std::int32_t size) {
        Variable variable(c.before);
        auto* op = c.append ? rt::text_append : rt::text_assign;
        EXPECT_EQ(op(&variable.text, -1, source, size, false), &variable.text);
        EXPECT_EQ(chars(&variable.text), c.after);
        EXPECT_FALSE(rt::is_temporary(variable.text));
        if (variable.text.data != nullptr) {
            EXPECT_EQ(variable.text.data[c.after.size()], '\0');
            EXPECT_GE(variable.text.capacity, static_cast<std::int32_t>(c.after.size()));
        }
    };
    apply(rt::text_view(c.source), -1);
    apply(temp_of(c.source), -1);
    const std::string terminated(c.source);
    apply(terminated.c_str(), 0);
    apply(terminated.c_str(), 7);  // a positive source size still means a zero-terminated text
}

INSTANTIATE_TEST_SUITE_P(Cases, DescriptorTarget, ::testing::ValuesIn(kDescriptorCase));

TEST_F(TextTest, WithoutATargetTheSourceIsStillConsumed) {
    EXPECT_EQ(rt::text_assign(nullptr, -1, temp_of("abc"), -1, false), nullptr);
    EXPECT_EQ(rt::text_append(nullptr, -1, rt::text_view("abc"), -1, false), nullptr);
    Variable variable("abc");
    EXPECT_EQ(rt::text_append(&variable.text, -1, nullptr, -1, false), &variable.text);
    EXPECT_EQ(chars(&variable.text), "abc");
}

// A source that lies in the target's own buffer survives the target getting
// a new buffer.
TEST_F(TextTest, ASourceInsideTheTargetSurvivesItsReallocation) {
    const std::string start(30, 'a');
    Variable shrunk(std::string(100, 'x') + "end");
    rt::text_assign(&shrunk.text, -1, rt::text_view({shrunk.text.data + 99, 4}), -1, false);
    EXPECT_EQ(chars(&shrunk.text), "xend");
    EXPECT_EQ(shrunk.text.capacity, 36);

    Variable appended(start + "tail");
    rt::text_append(&appended.text, -1, rt::text_view_of(&appended.text), -1, false);
    EXPECT_EQ(chars(&appended.text), start + "tail" + start + "tail");
}

// Moving the source to the front has already overwritten the old text when
// the smaller buffer cannot be had: the target is then left empty, as any
// assignment in a shortage leaves it, never holding the shifted bytes.
TEST_F(TextTest, ASourceInsideTheTargetLeavesItEmptyInAShortage) {
    Variable shrunk(std::string(100, 'x') + "end");
    platform::heap_fail_nth(1, true);
    rt::text_assign(&shrunk.text, -1, rt::text_view({shrunk.text.data + 99, 4}), -1, false);
    platform::heap_fail_nth(0);
    EXPECT_EQ(shrunk.text.data, nullptr);
    EXPECT_EQ(shrunk.text.length, 0u);
    EXPECT_EQ(shrunk.text.capacity, 0);
}

// --- fixed buffers ----------------------------------------------------------

struct BufferCase {
    std::string_view before;  // the buffer's bytes, 8 of them
    std::int32_t size;
    const char* source;
    bool append;
    bool fill;
    std::string_view after;
};

constexpr BufferCase kBufferCase[] = {
    {"########", 3, "abc", false, false, {"ab\0#####", 8}},
    {"########", 8, "ab", false, true, {"ab\0\0\0\0\0#", 8}},
    {"########", 8, "ab", false, false, {"ab\0#####", 8}},
    {"########", 0, "abcdef", false, false, {"abcdef\0#", 8}},
    {"########", 8, "", false, true, {"\0\0\0\0\0\0\0\0", 8}},
    {"########", 8, "", false, false, {"\0#######", 8}},
    {"########", 8, nullptr, false, false, {"\0#######", 8}},
    {{"ab\0#####", 8}, 5, "cdef", true, false, {"abcd\0###", 8}},
    {{"ab\0#####", 8}, 7, "c", true, true, {"abc\0\0\0##", 8}},
    {{"ab\0#####", 8}, 0, "cdef", true, false, {"abcdef\0#", 8}},
    {{"ab\0#####", 8}, 3, "cd", true, false, {"ab\0#####", 8}},
    {{"ab\0#####", 8}, 8, "", true, false, {"ab\0#####", 8}},
    // No terminator within the buffer's size: nothing to append to.
    {"########", 4, "cd", true, false, "########"},
};

class BufferTarget : public TextTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(BufferTarget, StaysWithinItsSize) {
    const BufferCase c = GetParam();
    std::array<char, 8> buffer{};
    std::memcpy(buffer.data(), c.before.data(), buffer.size());
    auto* op = c.append ? rt::text_append : rt::text_assign;
    EXPECT_EQ(op(buffer.data(), c.size, c.source, 0, c.fill), buffer.data());
    EXPECT_EQ(std::string_view(buffer.data(), buffer.size()), c.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferTarget, ::testing::ValuesIn(kBufferCase));

// --- comparison ---------------------------------------------------------------

enum class Kind { Absent, Descriptor, Cleared, Terminated };

struct Side {
    Kind kind;
    const char* text;
};

struct CompareCase {
    Side a;
    Side b;
    int expected;
};

constexpr CompareCase kCompareCase[] = {
    {{Kind::Descriptor, "abc"}, {Kind::Descriptor, "abd"}, -1},
    {{Kind::Descriptor, "abd"}, {Kind::Descriptor, "abc"}, 1},
    {{Kind::Descriptor, "ab"}, {Kind::Descriptor, "abc"}, -1},
    {{Kind::Descriptor, "abc"}, {Kind::Descriptor, "ab"}, 1},
    {{Kind::Descriptor, "abc"}, {Kind::Terminated, "abc"}, 0},
    {{Kind::Terminated, "\xC8"}, {Kind::Terminated, "\x64"}, 1},
    {{Kind::Descriptor, "a\x64"}, {Kind::Descriptor, "a\xC8"}, -1},
    {{Kind::Cleared, nullptr}, {Kind::Cleared, nullptr}, 0},
    {{Kind::Cleared, nullptr}, {Kind::Descriptor, "a"}, -1},
    {{Kind::Absent, nullptr}, {Kind::Absent, nullptr}, 0},
    {{Kind::Absent, nullptr}, {Kind::Cleared, nullptr}, 0},
    {{Kind::Absent, nullptr}, {Kind::Descriptor, "a"}, -1},
    {{Kind::Absent, nullptr}, {Kind::Terminated, ""}, -1},
    {{Kind::Cleared, nullptr}, {Kind::Absent, nullptr}, 0},
    {{Kind::Descriptor, "a"}, {Kind::Absent, nullptr}, 1},
    {{Kind::Descriptor, "\x1B"}, {Kind::Terminated, "\x1B"}, 0},
};

class Compare : public TextTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(Compare, OrdersUnsignedBytesThenLengthsAndConsumesDescriptors) {
    const CompareCase c = GetParam();
    const auto argument = [](Side side) -> std::pair<const void*, std::int32_t> {
        switch (side.kind) {
            case Kind::Absent:
                return {nullptr, -1};
            case Kind::Descriptor:
                return {temp_of(side.text), -1};
            case Kind::Cleared:
                return {rt::pool_take(), -1};
            case Kind::Terminated:
                return {side.text, 0};
        }
        return {nullptr, 0};
    };
    const auto [a, size_a] = argument(c.a);
    const auto [b, size_b] = argument(c.b);
    EXPECT_EQ(rt::text_compare(a, size_a, b, size_b), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Compare, ::testing::ValuesIn(kCompareCase));

// --- substring and repetition -------------------------------------------------

struct MidCase {
    std::int32_t start;
    std::int32_t length;
    std::string_view expected;  // empty: the shared empty text
};

constexpr MidCase kMidCase[] = {
    {2, 3, "bcd"}, {5, 10, "ef"}, {3, -1, "cdef"}, {1, 6, "abcdef"}, {6, 1, "f"}, {1, INT32_MAX, "abcdef"},
    {0, 3, ""},    {7, 1, ""},    {2, 0, ""},      {-1, 2, ""},
};

class Mid : public TextTest, public ::testing::WithParamInterface<MidCase> {};

TEST_P(Mid, CutsOneBasedAndConsumesItsSource) {
    const MidCase c = GetParam();
    for (StringDescriptor* source : {temp_of("abcdef"), rt::text_view("abcdef")}) {
        StringDescriptor* piece = rt::text_mid(source, c.start, c.length);
        if (c.expected.empty()) {
            EXPECT_EQ(piece, rt::shared_empty_text());
        } else {
            EXPECT_EQ(chars(piece), c.expected);
            EXPECT_TRUE(rt::is_temporary(*piece));
            EXPECT_EQ(piece->data[c.expected.size()], '\0');
        }
        rt::text_release(piece);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Mid, ::testing::ValuesIn(kMidCase));

TEST_F(TextTest, MidOfNothingOrOfAnEmptyTextIsTheSharedEmptyText) {
    EXPECT_EQ(rt::text_mid(nullptr, 1, 1), rt::shared_empty_text());
    EXPECT_EQ(rt::text_mid(rt::pool_take(), 1, 1), rt::shared_empty_text());
    EXPECT_EQ(rt::text_mid(rt::text_view(""), 1, 1), rt::shared_empty_text());
}

TEST_F(TextTest, FillRepeatsACharacterOrTheFirstByte) {
    struct Case {
        StringDescriptor* text;
        std::string_view expected;  // empty: the shared empty text
    };
    const Case cases[] = {
        {rt::text_fill(3, 'x'), "xxx"},
        {rt::text_fill(0, 'x'), ""},
        {rt::text_fill(-2, 'x'), ""},
        {rt::text_fill_first(2, rt::text_view("ab")), "aa"},
        {rt::text_fill_first(2, temp_of("\xFF")), "\xFF\xFF"},
        {rt::text_fill_first(0, temp_of("ab")), ""},
        {rt::text_fill_first(2, rt::text_view("")), ""},
        {rt::text_fill_first(2, nullptr), ""},
    };
    for (const Case& c : cases) {
        if (c.expected.empty()) {
            EXPECT_EQ(c.text, rt::shared_empty_text());
        } else {
            EXPECT_EQ(chars(c.text), c.expected);
            EXPECT_EQ(c.text->data[c.expected.size()], '\0');
        }
        rt::text_release(c.text);
    }
}

}  // namespace
