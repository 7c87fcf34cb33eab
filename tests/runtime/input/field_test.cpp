// Field extraction from the kept line: the field rules in both modes, the
// length cut, what a quoted field consumes behind it, reading through a handle
// and the character readers' limits.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/heap.h"
#include "runtime/console/handle.h"
#include "runtime/core/context.h"
#include "runtime/core/text.h"
#include "runtime/input/input_statement.h"

namespace {

using rt::FieldMode;

// The context lives for the whole process; every case starts it over.
class Field : public ::testing::Test {
  protected:
    void SetUp() override { keep_line(""); }
    void TearDown() override { keep_line(""); }

    static rt::InputContext& context() {
        rt::InputContext* record = rt::input_context();
        EXPECT_NE(record, nullptr);
        return *record;
    }

    // As a statement leaves it: the line kept, read from its start.
    static void keep_line(std::string_view line) {
        rt::InputContext& kept = context();
        rt::text_assign(&kept.text, rt::kDescriptorSize, rt::text_view(line), rt::kDescriptorSize, false);
        kept.position = 0;
        kept.source = nullptr;
    }

    // The next field as the buffer holds it, up to its terminator.
    static std::string next_field(FieldMode mode, std::int32_t maximum = rt::kMaxFieldLength) {
        std::array<char, rt::kMaxFieldLength + 1> buffer;
        buffer.fill('#');
        rt::extract_field(buffer, maximum, mode);
        return buffer.data();
    }

    static std::vector<std::string> all_fields(std::string_view line, FieldMode mode, int count) {
        keep_line(line);
        std::vector<std::string> fields;
        for (int i = 0; i < count; ++i)
            fields.push_back(next_field(mode));
        return fields;
    }
};

struct FieldCase {
    std::string_view line;
    std::vector<std::string> fields;  // the first fields read one after another
};

std::ostream& operator<<(std::ostream& out, const FieldCase& c) { return out << '[' << c.line << ']'; }

TEST_F(Field, TextModeRules) {
    const FieldCase kCases[] = {
        {"12", {"12", ""}},
        {"  12", {"12"}},
        {"\t \t12", {"12"}},
        {"12 ", {"12 ", ""}},
        {"1 2", {"1 2"}},
        {"12,34", {"12", "34", ""}},
        {"1,2", {"1", "2", ""}},
        {"\"12\"", {"12", ""}},
        {"\"1,2\"", {"1,2"}},
        {"\" 12", {" 12", ""}},
        {"\"12\" x", {"12", "x"}},
        {"12\"3", {"12\"3"}},
        {"", {"", ""}},
        {"   ", {""}},
        {"\"12\"   ,5", {"12", "5"}},
        {"\"12\"\t,", {"12", ""}},
        {"\"a\tb\"", {"a\tb"}},
        {"\"\",x", {"", "x"}},
        {",x", {"", "x"}},
        {"1\xFF"
         "2",
         {"1\xFF"
          "2"}},
        // Line ends do not come from the editor, but a field read from any
        // source treats them alike, inside quotes too.
        {"1\n2", {"1", "2"}},
        {"1\r2", {"1", "2"}},
        {"1\r\n2", {"1", "2", ""}},
        {"\"a\nb\"", {"a", "b\""}},
        {"\"12\"\r\n7", {"12", "7"}},
        {"\"12\"\r7", {"12", "7"}},
        {"\"12\"\r", {"12", ""}},
    };
    for (const FieldCase& c : kCases) {
        EXPECT_EQ(all_fields(c.line, FieldMode::text, static_cast<int>(c.fields.size())), c.fields) << c;
    }
}

TEST_F(Field, NumberModeEndsAtBlanksAndLetsAClosingQuoteGoOn) {
    const FieldCase kCases[] = {
        {"12 34", {"12", "34", ""}}, {"12\t", {"12", ""}},        {"  12", {"12"}},    {"\"1 2\"3 4", {"1 23", "4"}},
        {"\" 1\"", {"1"}},           {"\"1,2\",3", {"1,2", "3"}}, {"1,2", {"1", "2"}}, {"12\"3", {"12\"3"}},
    };
    for (const FieldCase& c : kCases) {
        EXPECT_EQ(all_fields(c.line, FieldMode::number, static_cast<int>(c.fields.size())), c.fields) << c;
    }
}

TEST_F(Field, AQuotedFieldLeavesTheNextCharacterWhereItCanBeRead) {
    keep_line("\"12\"  x");
    EXPECT_EQ(next_field(FieldMode::text), "12");
    EXPECT_EQ(context().position, 6);
    EXPECT_EQ(rt::input_next_char(&context()), 'x');

    keep_line("\"12\"  ,x");
    EXPECT_EQ(next_field(FieldMode::text), "12");
    EXPECT_EQ(context().position, 7);
}

TEST_F(Field, CutAtTheMaximumLeavingTheRestForTheNextField) {
    const std::string digits(rt::kMaxFieldLength, '7');
    keep_line(digits + "89");
    EXPECT_EQ(next_field(FieldMode::text), digits);
    EXPECT_EQ(context().position, rt::kMaxFieldLength);
    EXPECT_EQ(next_field(FieldMode::text), "89");

    keep_line(digits + ",5");
    EXPECT_EQ(next_field(FieldMode::text), digits);
    EXPECT_EQ(rt::input_next_char(&context()), ',');

    keep_line("abcdef");
    EXPECT_EQ(next_field(FieldMode::text, 4), "abcd");
    EXPECT_EQ(next_field(FieldMode::text, 0), "");
    EXPECT_EQ(context().position, 4);
}

TEST_F(Field, NeverWritesPastTheBufferWhateverTheMaximumSays) {
    keep_line("abcdef");
    std::array<char, 5> buffer{'#', '#', '#', '#', '#'};
    rt::extract_field(std::span(buffer).first(3), 100, FieldMode::text);
    EXPECT_EQ(std::string(buffer.data()), "ab");
    EXPECT_EQ(buffer[3], '#');
    EXPECT_EQ(next_field(FieldMode::text), "cdef");
}

TEST_F(Field, TheZeroByteIsStoredButEndsTheAssignedText) {
    keep_line(
        std::string_view("1\0"
                         "2,x",
                         5));
    std::array<char, 8> buffer{};
    buffer.fill('#');
    rt::extract_field(buffer, 7, FieldMode::text);
    EXPECT_EQ(std::string_view(buffer.data(), 4), std::string_view("1\0"
                                                                   "2\0",
                                                                   4));

    keep_line(
        std::string_view("1\0"
                         "2,x",
                         5));
    rt::StringDescriptor target{};
    EXPECT_EQ(rt::input_text_field(&target, rt::kDescriptorSize, false), 0);
    EXPECT_EQ(rt::text_chars(target), "1");
    EXPECT_EQ(rt::input_text_field(&target, rt::kDescriptorSize, false), 0);
    EXPECT_EQ(rt::text_chars(target), "x");
    rt::text_free(&target);
}

TEST_F(Field, TextFieldAssignsToAnyTargetAndClearsTheErrorNumber) {
    keep_line("  255 , 16");
    rt::set_error_number(rt::kErrorNoLine);
    rt::StringDescriptor target{};
    EXPECT_EQ(rt::input_text_field(&target, rt::kDescriptorSize, false), 0);
    EXPECT_EQ(rt::get_error_number(), 0);
    EXPECT_EQ(rt::text_chars(target), "255 ");
    rt::text_free(&target);

    // The fill flag reaches the assignment: the buffer is zeroed behind the text.
    std::array<char, 6> fixed{};
    fixed.fill('#');
    EXPECT_EQ(rt::input_text_field(fixed.data(), static_cast<std::int32_t>(fixed.size()), true), 0);
    EXPECT_EQ(std::string_view(fixed.data(), 5), std::string_view("16\0\0\0", 5));
}

TEST_F(Field, ReadersStayWithinTheLine) {
    // A buffer longer than the line: nothing behind the length is read.
    keep_line("abc");
    rt::InputContext& kept = context();
    kept.text.length = 2;
    EXPECT_EQ(rt::input_next_char(&kept), 'a');
    EXPECT_EQ(rt::input_next_char(&kept), 'b');
    EXPECT_EQ(rt::input_next_char(&kept), rt::kEndOfInput);
    EXPECT_EQ(kept.position, 2);
    kept.text.length = 3;

    // Only the character just read can be put back; the line is not changed.
    keep_line("\xFF");
    EXPECT_EQ(rt::input_put_back_char(&kept, 'z'), 0);
    EXPECT_EQ(rt::input_next_char(&kept), 0xFF);
    EXPECT_EQ(rt::input_put_back_char(&kept, 'z'), 1);
    EXPECT_EQ(kept.position, 0);
    EXPECT_EQ(rt::input_next_char(&kept), 0xFF);
    EXPECT_EQ(rt::input_next_char(&kept), rt::kEndOfInput);

    // A field read with nothing kept at all.
    rt::text_free(&kept.text);
    EXPECT_EQ(next_field(FieldMode::text), "");
}

// A handle whose reads deliver a fixed text, a byte at a time.
std::string_view g_handle_input;
std::int32_t read_fixed(rt::ConsoleHandle* /*handle*/, char* destination, std::int32_t* count) {
    std::int32_t delivered = 0;
    while (delivered < *count && !g_handle_input.empty()) {
        destination[delivered++] = g_handle_input.front();
        g_handle_input.remove_prefix(1);
    }
    *count = delivered;
    return 0;
}

TEST_F(Field, AHandleSourceIsReadThroughTheHandleLayer) {
    rt::HandleOps ops{};
    ops.read = read_fixed;
    rt::ConsoleHandle* handle = rt::handle_from_number(1);
    ASSERT_NE(handle, nullptr);
    *handle = rt::ConsoleHandle{};
    handle->ops = &ops;
    g_handle_input = "\"ab\" c,\xFF";

    keep_line("ignored");
    context().source = handle;
    EXPECT_EQ(next_field(FieldMode::text), "ab");
    // The c behind the quoted field was put back in the handle.
    EXPECT_EQ(handle->put_back_count, 1u);
    EXPECT_EQ(next_field(FieldMode::text), "c");
    EXPECT_EQ(rt::input_next_char(&context()), 0xFF);
    EXPECT_EQ(rt::input_next_char(&context()), rt::kEndOfInput);
    EXPECT_EQ(context().position, 0);

    // A handle without operations is no source: the kept line is read.
    handle->ops = nullptr;
    EXPECT_EQ(next_field(FieldMode::text), "ignored");
    *handle = rt::ConsoleHandle{};
}

// Slot 2, once filled, stays filled for the process, so the missing record is
// tried in a fresh copy of this program that runs only this case.
void read_without_a_context() {
    platform::heap_fail_nth(1, true);
    std::array<char, 8> buffer{};
    buffer.fill('#');
    rt::extract_field(buffer, 7, FieldMode::text);
    std::array<char, 4> target{'x', 'y', 'z', '\0'};
    const std::int32_t result = rt::input_text_field(target.data(), 4, false);
    platform::heap_fail_nth(0);
    std::fprintf(stderr, "context:%s field:[%s] result:%d target:[%s]",
                 rt::context_slot_is_set(rt::kInputContextSlot) ? "set" : "none", buffer.data(), result, target.data());
    std::exit(0);
}

TEST(FieldWithoutContext, AnEmptyFieldAndNoRecordTouched) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(read_without_a_context(), ::testing::ExitedWithCode(0),
                "context:none field:\\[\\] result:0 target:\\[\\]");
}

}  // namespace
