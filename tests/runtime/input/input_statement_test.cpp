// The input statement on a test console: prompt and "? ", the typed line kept
// in the input context, the line end, a statement that gets no line, the
// input routine entry, and the console handle's key read.
#include "runtime/input/input_statement.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/common/heap.h"
#include "runtime/core/context.h"
#include "tests/runtime/input/line_input_fixture.h"

namespace {

using namespace rt_testing;

class InputStatement : public LineInputTest {
  protected:
    InputStatement() : LineInputTest(30, 4) {
        rt::InputContext& kept = context();
        rt::text_free(&kept.text);
        kept = rt::InputContext{};
        rt::set_error_number(0);
    }
    ~InputStatement() override { rt::text_free(&context().text); }

    static rt::InputContext& context() {
        rt::InputContext* record = rt::input_context();
        EXPECT_NE(record, nullptr);
        return *record;
    }
    static std::string kept_line() { return std::string(rt::text_chars(context().text)); }

    static std::string first_field() {
        rt::StringDescriptor field{};
        rt::input_text_field(&field, rt::kDescriptorSize, false);
        std::string text(rt::text_chars(field));
        rt::text_free(&field);
        return text;
    }
};

TEST_F(InputStatement, PromptQuestionMarkLineAndLineEnd) {
    console_.type("255\r");
    rt::input_statement(rt::text_view("Number"), 1, 1);
    EXPECT_EQ(rt::get_error_number(), 0);
    EXPECT_EQ(row(0).substr(0, 12), "Number? 255 ");
    EXPECT_EQ(cursor_x(), 0);
    EXPECT_EQ(cursor_y(), 1);
    EXPECT_EQ(kept_line(), "255");
    EXPECT_EQ(first_field(), "255");
}

TEST_F(InputStatement, WhatThePromptFlagsShow) {
    const struct {
        bool prompt;
        std::int32_t question_mark;
        std::int32_t newline;
        const char* shown;
        int cursor_x;
        int cursor_y;
    } kCases[] = {
        {true, 1, 1, "Base? 16", 0, 1}, {true, 0, 1, "Base16", 0, 1}, {true, 1, 0, "Base? 16", 8, 0},
        {false, 1, 1, "16", 0, 1},      {false, 0, 0, "16", 2, 0},
    };
    for (const auto& c : kCases) {
        clear_screen();
        console_.type("16\r");
        rt::input_statement(c.prompt ? rt::text_view("Base") : nullptr, c.question_mark, c.newline);
        const std::string shown = c.shown;
        EXPECT_EQ(row(0), shown + std::string(30 - shown.size(), ' ')) << c.shown;
        EXPECT_EQ(cursor_x(), c.cursor_x) << c.shown;
        EXPECT_EQ(cursor_y(), c.cursor_y) << c.shown;
        EXPECT_EQ(first_field(), "16");
    }
}

TEST_F(InputStatement, EnterAloneGivesTheEmptyFieldAndTheNextLine) {
    console_.type("\r");
    rt::input_statement(rt::text_view("N"), 1, 1);
    EXPECT_EQ(rt::get_error_number(), 0);
    EXPECT_EQ(first_field(), "");
    EXPECT_EQ(cursor_x(), 0);
    EXPECT_EQ(cursor_y(), 1);
}

TEST_F(InputStatement, EveryStatementStartsReadingTheNewLineFromItsStart) {
    console_.type("1,2\r");
    rt::input_statement(nullptr, 0, 1);
    EXPECT_EQ(first_field(), "1");
    EXPECT_EQ(first_field(), "2");
    EXPECT_EQ(first_field(), "");

    context().status = 7;
    context().source = rt::handle_from_number(1);
    console_.type("\"3 \"x\r");
    rt::input_statement(nullptr, 0, 1);
    EXPECT_EQ(context().source, nullptr);
    EXPECT_EQ(context().status, 0);
    EXPECT_EQ(context().position, 0);
    EXPECT_EQ(first_field(), "3 ");
    EXPECT_EQ(first_field(), "x");
}

TEST_F(InputStatement, OnlyThePromptGoesThroughTheConsoleHandle) {
    rt::ensure_console_write();
    static std::string through_handle;
    through_handle.clear();
    rt::console_handle_ops().write = [](rt::ConsoleHandle* handle, const char* bytes, std::int32_t count) {
        through_handle.append(bytes, static_cast<std::size_t>(count));
        return rt::console_write(handle, bytes, count);
    };
    console_.type("12345\r");
    rt::input_statement(rt::text_view("ab"), 1, 1);
    EXPECT_EQ(through_handle, "ab? ");
    EXPECT_EQ(row(0).substr(0, 10), "ab? 12345 ");
    // The line length follows the cursor placed after the line, and the line
    // end written straight to the console does not reset it.
    EXPECT_EQ(rt::console_handle().line_length, 9);
}

TEST_F(InputStatement, APendingLineFeedIsCarriedOutBeforeThePrompt) {
    // A print that fills the bottom row exactly leaves the cursor in its last
    // cell with the line feed still to come.
    clear_screen(3, 0);
    const std::string full(30, '=');
    rt::console_print(full.data(), static_cast<std::int32_t>(full.size()), 0);
    ASSERT_TRUE(rt::pending_line_feed());
    console_.type("7\r");
    rt::input_statement(rt::text_view("P"), 1, 0);
    EXPECT_EQ(row(2), full);
    EXPECT_EQ(row(3).substr(0, 5), "P? 7 ");
}

TEST_F(InputStatement, TheLineIsHandedOverNotCopied) {
    const int in_use = rt::pool_in_use_count();
    // The line end is printed after the editor has returned the line and
    // before it is assigned: every allocation after that point is counted.
    static unsigned long calls_at_line_end = 0;
    rt::console_hooks.print = [](const char* bytes, std::int32_t count, std::int32_t flags) {
        if (count == 2 && bytes[0] == '\r') calls_at_line_end = platform::heap_calls_seen();
        rt::console_print_default(bytes, count, flags);
    };
    platform::heap_fail_nth(0);
    console_.type("123456\r");
    rt::input_statement(rt::text_view("Q"), 1, 1);
    EXPECT_EQ(platform::heap_calls_seen(), calls_at_line_end);
    EXPECT_EQ(kept_line(), "123456");
    // The prompt, the key texts and the line's descriptor all went back.
    EXPECT_EQ(rt::pool_in_use_count(), in_use);

    // An empty line empties the kept text and frees its buffer.
    console_.type("\r");
    rt::input_statement(rt::text_view("Q"), 1, 1);
    EXPECT_EQ(context().text.data, nullptr);
    EXPECT_EQ(rt::pool_in_use_count(), in_use);
}

TEST_F(InputStatement, NoDescriptorForTheLineKeepsThePreviousOne) {
    console_.type("12\r");
    rt::input_statement(rt::text_view("A"), 1, 1);
    ASSERT_EQ(kept_line(), "12");
    ASSERT_EQ(first_field(), "12");

    // A prompt outside the pool: releasing a pool prompt would free the one
    // descriptor the line needs.
    char prompt_text[] = "B";
    rt::StringDescriptor prompt{prompt_text, 1, 1};
    std::vector<rt::StringDescriptor*> taken;
    for (rt::StringDescriptor* d = rt::pool_take(); d != nullptr; d = rt::pool_take())
        taken.push_back(d);
    console_.type("34\r");
    rt::input_statement(&prompt, 1, 1);
    for (rt::StringDescriptor* d : taken)
        rt::pool_give_back(d);

    EXPECT_EQ(rt::get_error_number(), rt::kErrorNoLine);
    // The prompt was shown and the line end written, but no key was read.
    EXPECT_EQ(row(1).substr(0, 4), "B?  ");
    EXPECT_EQ(cursor_x(), 0);
    EXPECT_EQ(cursor_y(), 2);
    EXPECT_EQ(read_key_bytes(), "3");
    // The previous line is read again from its start; the error is cleared.
    EXPECT_EQ(first_field(), "12");
    EXPECT_EQ(rt::get_error_number(), 0);
    reset_keyboard(console_);
}

TEST_F(InputStatement, AnInstalledInputRoutineRunsInsteadOfTheDefault) {
    struct Call {
        rt::StringDescriptor* prompt;
        void* target;
        std::int32_t size;
        bool fill;
        std::int32_t question_mark;
        std::int32_t newline;
    };
    static std::vector<Call> calls;
    calls.clear();
    rt::console_hooks.input_routine = [](rt::StringDescriptor* prompt, void* target, std::int32_t size, bool fill,
                                         std::int32_t question_mark, std::int32_t newline) {
        calls.push_back({prompt, target, size, fill, question_mark, newline});
        rt::text_release(prompt);
        rt::text_assign(target, size, "routine", rt::kZeroTerminatedSize, fill);
        return rt::set_error_number(0);
    };
    rt::StringDescriptor* prompt = rt::text_view("R");
    rt::input_statement(prompt, 0, 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].prompt, prompt);
    EXPECT_EQ(calls[0].target, &context().text);
    EXPECT_EQ(calls[0].size, rt::kDescriptorSize);
    EXPECT_FALSE(calls[0].fill);
    EXPECT_EQ(calls[0].question_mark, 0);
    EXPECT_EQ(calls[0].newline, 1);
    EXPECT_EQ(first_field(), "routine");
    EXPECT_EQ(row(0), std::string(30, ' '));
}

TEST_F(InputStatement, ConsoleReadIsInstalledOnceAndNeverOverAnotherRead) {
    rt::ensure_console_read();
    EXPECT_EQ(rt::console_handle_ops().read, rt::console_read);
    const auto other = [](rt::ConsoleHandle*, char*, std::int32_t*) { return std::int32_t{0}; };
    rt::console_handle_ops().read = other;
    rt::ensure_console_read();
    EXPECT_EQ(rt::console_handle_ops().read, +other);
}

TEST_F(InputStatement, ConsoleReadDeliversKeyTextsAsBytes) {
    rt::ensure_console_read();
    rt::ConsoleHandle& console = rt::console_handle();
    post_text("a\xFF");
    post({kLeft, 'b'});

    std::array<char, 8> bytes{};
    bytes.fill('#');
    std::int32_t count = 3;
    EXPECT_EQ(rt::console_read(&console, bytes.data(), &count), 0);
    EXPECT_EQ(count, 3);
    // An extended key is 255 and its code; a typed 255 is one byte.
    EXPECT_EQ(std::string(bytes.data(), 3), "a\xFF\xFF");
    // The code of Left stayed in the key buffer for the next read.
    bytes.fill('#');
    count = 5;
    rt::set_error_number(rt::kErrorIllegalCall);
    EXPECT_EQ(rt::console_read(&console, bytes.data(), &count), 0);
    EXPECT_EQ(rt::get_error_number(), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::string(bytes.data(), 6), std::string("\x4B"
                                                        "b\0\0\0#",
                                                        6));

    // With no key waiting: zeros, nothing delivered, success.
    count = 2;
    bytes.fill('#');
    EXPECT_EQ(rt::console_read(&console, bytes.data(), &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(std::string(bytes.data(), 3), std::string("\0\0#", 3));
}

TEST_F(InputStatement, ConsoleReadThroughTheHandleLayerAndARedirection) {
    rt::ensure_console_read();
    post_text("xy");
    // A handle redirected to the console reads the console's key buffer.
    rt::ConsoleHandle* further = rt::handle_from_number(2);
    *further = rt::ConsoleHandle{};
    further->ops = &rt::console_handle_ops();
    further->redirect = &rt::console_handle();
    char byte = 0;
    std::int32_t count = 1;
    EXPECT_EQ(rt::handle_read(further, 0, &byte, &count, false), 0);
    EXPECT_EQ(byte, 'x');

    // The context reads a handle source the same way, put-back bytes first.
    context().source = &rt::console_handle();
    EXPECT_EQ(rt::input_next_char(&context()), 'y');
    EXPECT_EQ(rt::input_put_back_char(&context(), 'z'), 0);
    EXPECT_EQ(rt::input_next_char(&context()), 'z');
    EXPECT_EQ(rt::input_next_char(&context()), rt::kEndOfInput);
    context().source = nullptr;
    *further = rt::ConsoleHandle{};
}

// Slot 2, once filled, stays filled for the process, so the statement without
// a context record runs in a fresh copy of this program.
void statement_without_a_context() {
    platform::TestConsole console(30, 4);
    rt::platform_init();
    console.type("5\r");
    // The console handle is set up first, then every allocation fails.
    rt::ensure_console_read();
    const int in_use = rt::pool_in_use_count();
    rt::StringDescriptor* prompt = rt::text_view("N");
    platform::heap_fail_nth(1, true);
    rt::input_statement(prompt, 1, 1);
    const std::int32_t error = rt::get_error_number();
    const std::int32_t field = rt::input_text_field(nullptr, rt::kDescriptorSize, false);
    platform::heap_fail_nth(0);
    std::fprintf(stderr, "error:%d field:%d shown:[%s] keys:%zu descriptors:%d", error, field,
                 console.screen_text().c_str(), console.queued(), rt::pool_in_use_count() - in_use);
    std::exit(0);
}

TEST(InputStatementWithoutContext, NothingShownOrReadAndNoLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(statement_without_a_context(), ::testing::ExitedWithCode(0),
                "error:4 field:0 shown:\\[\\] keys:4 descriptors:0");
}

}  // namespace
