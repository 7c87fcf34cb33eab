#include "runtime/console/handle.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/common/heap.h"
#include "runtime/console/runtime_init.h"
#include "tests/runtime/console/console_fixture.h"
#include "tests/runtime/core/text_support.h"

namespace {

using console_test::ConsoleTest;
using console_test::put_cursor;
using console_test::start_runtime;
using platform::TestConsole;

using HandleLayer = ConsoleTest;

TEST_F(HandleLayer, HandleNumbersMapOntoTheTable) {
    rt::ConsoleHandle* const further0 = rt::handle_from_number(-1);
    const struct {
        std::int32_t number;
        rt::ConsoleHandle* expected;
    } kCases[] = {
        {0, &rt::console_handle()},
        {-1, further0},
        {1, further0 + 1},
        {254, further0 + 254},
        {255, nullptr},
        {-2, nullptr},
        {1000, nullptr},
    };
    ASSERT_NE(further0, nullptr);
    for (const auto& c : kCases)
        EXPECT_EQ(rt::handle_from_number(c.number), c.expected) << c.number;
}

TEST_F(HandleLayer, HandlesThatAreNotOpenFailWithError1) {
    char byte = 'x';
    std::int32_t count = 1;
    for (rt::ConsoleHandle* handle :
         {rt::handle_from_number(3), rt::handle_from_number(-1), static_cast<rt::ConsoleHandle*>(nullptr)}) {
        EXPECT_EQ(rt::print_bytes(handle, "ab", 2), rt::kErrorIllegalCall);
        EXPECT_EQ(rt::handle_write(handle, 0, "ab", 2, true, true), rt::kErrorIllegalCall);
        EXPECT_EQ(rt::handle_put_back(handle, "a", 1), rt::kErrorIllegalCall);
        EXPECT_EQ(rt::handle_read(handle, 0, &byte, &count, false), rt::kErrorIllegalCall);
        EXPECT_EQ(count, 1);  // left as it was
        EXPECT_EQ(rt::handle_seek(handle, 1), rt::kErrorIllegalCall);
        EXPECT_EQ(rt::get_error_number(), rt::kErrorIllegalCall);
    }
    rt::print_cstr(7, "never", rt::kPrintLineEnd);
    EXPECT_EQ(rt::get_error_number(), rt::kErrorIllegalCall);
    EXPECT_EQ(console.row_text(0).substr(0, 5), "     ");
}

TEST_F(HandleLayer, TheConsoleIsSetUpOnFirstUseFromTheConsoleAndNeverAgain) {
    put_cursor(12, 3);
    EXPECT_EQ(rt::console_handle().ops, nullptr);
    rt::ensure_console_handle();
    const rt::ConsoleHandle& console_record = rt::console_handle();
    EXPECT_EQ(console_record.kind, rt::HandleKind::console);
    EXPECT_EQ(console_record.width, 80u);
    EXPECT_EQ(console_record.line_length, 12);
    ASSERT_NE(console_record.private_data, nullptr);
    EXPECT_EQ(static_cast<rt::ConsoleKeyBuffer*>(console_record.private_data)->count, 0u);
    EXPECT_EQ(console_record.ops, &rt::console_handle_ops());
    EXPECT_EQ(rt::console_handle_ops().write, nullptr);

    rt::ensure_console_write();
    EXPECT_EQ(rt::console_handle_ops().write, &rt::console_write);
    rt::console_handle().line_length = 40;
    rt::ensure_console_handle();
    EXPECT_EQ(rt::console_handle().line_length, 40);
}

TEST_F(HandleLayer, AKeyBufferThatCannotBeAllocatedIsStoodInFor) {
    platform::heap_fail_nth(1, true);
    rt::ensure_console_handle();
    platform::heap_fail_nth(0);
    auto* keys = static_cast<rt::ConsoleKeyBuffer*>(rt::console_handle().private_data);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys->count, 0u);
    EXPECT_NE(rt::console_handle().ops, nullptr);
    start_runtime();  // the stand-in is not freed
}

TEST_F(HandleLayer, PrintingAllocatesNothing) {
    rt::ensure_console_write();
    platform::heap_fail_nth(1, true);
    const std::string text = std::string(300, 'x') + "\t\r\n" + std::string(300, 'y');
    rt::print_cstr(0, text.c_str(), rt::kPrintNextZone);
    const unsigned long calls = platform::heap_calls_seen();
    platform::heap_fail_nth(0);
    EXPECT_EQ(calls, 0u);
    EXPECT_EQ(console.row_text(4).substr(0, 3), "yyy");
}

TEST_F(HandleLayer, RuntimeInitRecordsTheCommandLineAndZeroesTheHandleTable) {
    rt::print_cstr(0, "x", 0);
    rt::handle_from_number(5)->line_length = 9;
    char program[] = "baseconv";
    char* argv[] = {program, nullptr};
    rt::runtime_init(1, argv);
    EXPECT_EQ(rt::argument_count(), 1);
    EXPECT_EQ(rt::argument_vector(), argv);
    EXPECT_EQ(rt::std_output_handle(), GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(rt::console_handle().ops, nullptr);
    EXPECT_EQ(rt::console_handle().private_data, nullptr);
    EXPECT_EQ(rt::console_handle_ops().write, nullptr);
    EXPECT_EQ(rt::handle_from_number(5)->line_length, 0);
}

TEST_F(HandleLayer, PrintTextWritesTheTextThenTheFlagsAndReleasesATemporary) {
    rt::StringDescriptor* text = rt_testing::temp_of("digits");
    const int in_use = rt::pool_in_use_count();
    rt::print_text(0, text, rt::kPrintLineEnd);
    EXPECT_EQ(console.row_text(0).substr(0, 7), "digits ");
    EXPECT_EQ(console.cursor().Y, 1);
    EXPECT_EQ(console.cursor().X, 0);
    EXPECT_EQ(rt::pool_in_use_count(), in_use - 1);
    EXPECT_EQ(rt::get_error_number(), rt::kErrorNone);

    rt::StringDescriptor* empty = rt_testing::temp_of("");
    const int before_empty = rt::pool_in_use_count();
    rt::print_text(0, empty, 0);
    EXPECT_EQ(rt::pool_in_use_count(), before_empty - 1);
    EXPECT_EQ(console.cursor().Y, 1);
    EXPECT_EQ(console.cursor().X, 0);
    rt::print_text(0, nullptr, 0);
}

TEST_F(HandleLayer, PrintFinishWritesOneLineEndOrAZoneOrNothing) {
    const struct {
        std::int32_t flags;
        std::int32_t column;  // cursor column after, from column 3
        std::int32_t row;
    } kCases[] = {
        {0, 3, 0}, {1, 0, 1}, {2, 14, 0}, {3, 0, 1}, {4, 0, 1}, {6, 0, 1}, {8, 3, 0},
    };
    for (const auto& c : kCases) {
        start_runtime();
        rt::print_cstr(0, "abc", 0);
        rt::print_finish(0, c.flags);
        EXPECT_EQ(console.cursor().X, c.column) << c.flags;
        EXPECT_EQ(console.cursor().Y, c.row) << c.flags;
        put_cursor(0, 0);
    }
}

TEST_F(HandleLayer, PrintZonesAreFourteenColumnsAndANewLineNearTheWidth) {
    const struct {
        std::int32_t line_length;
        std::int32_t width;
        std::string_view written;
    } kCases[] = {
        {0, 80, "              "},
        {13, 80, " "},
        {14, 80, "              "},
        {27, 80, " "},
        {55, 80, " "},
        {56, 80, "\r\n"},
        {79, 80, "\r\n"},
        {30, 0, "            "},
        {30, 10, "            "},  // a width below one zone never starts a new line
        // The next zone starts a new line once it begins past column w - 14.
        {28, 57, "              "},
        {28, 56, "\r\n"},
        {14, 43, "              "},
        {14, 42, "\r\n"},
    };
    console.set_output_is_console(false);
    start_runtime();
    for (const auto& c : kCases) {
        rt::ensure_console_write();
        rt::console_handle().line_length = c.line_length;
        rt::console_handle().width = static_cast<std::uint32_t>(c.width);
        console.clear_written();
        rt::print_next_zone(&rt::console_handle());
        EXPECT_EQ(console.written(), c.written) << c.line_length << " at width " << c.width;
    }
}

TEST_F(HandleLayer, LineLengthCountsWhatFollowsTheLastLineEnd) {
    rt::print_cstr(0, "abc", 0);
    EXPECT_EQ(rt::console_handle().line_length, 3);
    rt::print_cstr(0, "de\r\nf", 0);
    EXPECT_EQ(rt::console_handle().line_length, 1);
    rt::print_cstr(0, "gh\ni\tj\a", 0);  // every byte after the line end counts
    EXPECT_EQ(rt::console_handle().line_length, 4);
    rt::print_cstr(0, std::string(85, 'k').c_str(), 0);
    EXPECT_EQ(rt::console_handle().line_length, (4 + 85) % 80);

    // Output straight to the console print is not seen.
    console_test::print("zzz");
    EXPECT_EQ(rt::console_handle().line_length, 9);
}

TEST_F(HandleLayer, LineLengthIsKeptAtTheEndOfTheRedirectChain) {
    rt::ensure_console_write();
    rt::ConsoleHandle& end = *rt::handle_from_number(9);
    end.width = 10;
    end.line_length = 5;
    rt::console_handle().redirect = &end;
    rt::console_handle().line_length = 0;
    rt::print_cstr(0, "abcdefgh", 0);
    EXPECT_EQ(end.line_length, 3);
    EXPECT_EQ(rt::console_handle().line_length, 0);

    // The zone is measured at the chain's end but written to the handle given.
    rt::print_next_zone(&rt::console_handle());
    EXPECT_EQ(console.cursor().X, 8 + 11);  // from column 4 to the zone at 15
    EXPECT_EQ(end.line_length, (3 + 11) % 10);
    rt::console_handle().redirect = nullptr;
}

// A handle open for reading from a fixed text.
std::string_view g_source;

std::int32_t read_source(rt::ConsoleHandle*, char* destination, std::int32_t* count) {
    const std::size_t n = std::min(g_source.size(), static_cast<std::size_t>(*count));
    std::copy_n(g_source.begin(), n, destination);
    g_source.remove_prefix(n);
    *count = static_cast<std::int32_t>(n);
    return rt::kErrorNone;
}

TEST_F(HandleLayer, PutBackHoldsFourBytesReadFirstLastPutBackFirst) {
    rt::HandleOps ops{};
    ops.read = read_source;
    rt::ConsoleHandle& handle = *rt::handle_from_number(2);
    handle.ops = &ops;
    g_source = "rest";

    EXPECT_EQ(rt::handle_put_back(&handle, "d", 1), rt::kErrorNone);
    EXPECT_EQ(rt::handle_put_back(&handle, "bc", 2), rt::kErrorNone);
    EXPECT_EQ(rt::handle_put_back(&handle, "a", 1), rt::kErrorNone);
    EXPECT_EQ(rt::handle_put_back(&handle, "e", 1), rt::kErrorPutBackFull);
    EXPECT_EQ(rt::get_error_number(), rt::kErrorPutBackFull);
    EXPECT_EQ(handle.put_back_count, 4u);

    char buffer[8] = {};
    std::int32_t count = 4;
    EXPECT_EQ(rt::handle_read(&handle, 0, buffer, &count, false), rt::kErrorNone);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::string_view(buffer, 4), "abcd");

    // Put-back bytes first, then the handle's own input.
    rt::handle_put_back(&handle, "x", 1);
    count = 3;
    EXPECT_EQ(rt::handle_read(&handle, 0, buffer, &count, false), rt::kErrorNone);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::string_view(buffer, 3), "xre");

    // A write empties the put-back buffer.
    rt::handle_put_back(&handle, "y", 1);
    rt::handle_write(&handle, 0, "z", 1, false, false);  // no write slot: error 1, still emptied
    EXPECT_EQ(rt::get_error_number(), rt::kErrorIllegalCall);
    EXPECT_EQ(handle.put_back_count, 0u);
    handle.ops = nullptr;
}

TEST_F(HandleLayer, AReadWithNoReadSlotDeliversThePutBackBytesAndFails) {
    rt::ensure_console_handle();
    rt::handle_put_back(&rt::console_handle(), "ab", 2);
    char buffer[4] = {};
    std::int32_t count = 4;
    EXPECT_EQ(rt::handle_read(&rt::console_handle(), 0, buffer, &count, false), rt::kErrorIllegalCall);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::string_view(buffer, 2), "ab");
}

TEST_F(HandleLayer, WideHandlesHoldTwoBytesACharacterInPutBack) {
    rt::HandleOps ops{};
    rt::ConsoleHandle& handle = *rt::handle_from_number(4);
    handle.ops = &ops;
    handle.wide = 1;
    EXPECT_EQ(rt::handle_put_back(&handle, "\xe9", 1), rt::kErrorNone);
    EXPECT_EQ(handle.put_back_count, 2u);
    EXPECT_EQ(handle.put_back[1], '\xff');  // sign-extended
    EXPECT_EQ(rt::handle_put_back(&handle, "ab", 2), rt::kErrorPutBackFull);
    EXPECT_EQ(rt::handle_put_back(&handle, "a", 1), rt::kErrorNone);
    char buffer[2] = {};
    std::int32_t count = 2;
    rt::handle_read(&handle, 0, buffer, &count, false);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::string_view(buffer, 2), "a\xe9");
    handle = rt::ConsoleHandle{};
}

// A record-mode handle that logs its seeks.
std::string g_seeks;

std::int32_t log_seek(rt::ConsoleHandle*, std::int32_t offset, std::int32_t origin) {
    g_seeks += std::to_string(offset) + "@" + std::to_string(origin) + " ";
    return rt::kErrorNone;
}

std::int32_t accept_write(rt::ConsoleHandle*, const char*, std::int32_t) { return rt::kErrorNone; }

TEST_F(HandleLayer, RecordHandlesSeekByRecordsAndSkipToTheNextRecordAfterATransfer) {
    rt::HandleOps ops{};
    ops.seek = log_seek;
    ops.write = accept_write;
    ops.read = read_source;
    rt::ConsoleHandle& handle = *rt::handle_from_number(6);
    handle.ops = &ops;
    handle.kind = rt::HandleKind::records;
    handle.record_length = 10;
    g_seeks.clear();

    EXPECT_EQ(rt::handle_seek(&handle, 3), rt::kErrorNone);
    EXPECT_EQ(rt::handle_write(&handle, 0, "abcd", 4, true, false), rt::kErrorNone);
    EXPECT_EQ(rt::handle_write(&handle, 0, "0123456789", 10, true, false), rt::kErrorNone);
    EXPECT_EQ(rt::handle_write(&handle, 0, "ab", 2, false, false), rt::kErrorNone);
    g_source = "xyz";
    char buffer[4] = {};
    std::int32_t count = 3;
    rt::handle_put_back(&handle, "p", 1);
    EXPECT_EQ(rt::handle_read(&handle, 2, buffer, &count, true), rt::kErrorNone);
    EXPECT_EQ(g_seeks, "20@0 6@1 10@0 7@1 ");
    handle = rt::ConsoleHandle{};

    // Any other kind is left where the transfer ended.
    rt::ConsoleHandle& plain = *rt::handle_from_number(7);
    plain.ops = &ops;
    plain.record_length = 10;
    g_seeks.clear();
    rt::handle_write(&plain, 0, "abcd", 4, true, false);
    EXPECT_EQ(g_seeks, "");
    plain = rt::ConsoleHandle{};
}

TEST(HandleLayerRedirected, ThePrintedBytesArriveUnchanged) {
    TestConsole console(80, 25);
    console.set_output_is_console(false);
    start_runtime();
    rt::print_cstr(0, "255\t\a", rt::kPrintNextZone);
    rt::print_text(0, rt_testing::temp_of("d15 d15 "), rt::kPrintLineEnd);
    EXPECT_EQ(console.written(), "255\t\a         d15 d15 \r\n");
    EXPECT_EQ(rt::console_handle().width, 80u);
}

}  // namespace
