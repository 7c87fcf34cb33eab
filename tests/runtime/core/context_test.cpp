#include "runtime/core/context.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/common/heap.h"

namespace {

// Context records live for the whole process: each case holds whether it runs
// alone (as CTest runs it) or after the others in one process.
TEST(ContextSlots, ErrorNumberStartsAtZeroAndKeepsWhatIsSet) {
    EXPECT_EQ(rt::get_error_number(), 0);
    EXPECT_EQ(rt::set_error_number(rt::kErrorPutBackFull), 3);
    EXPECT_EQ(rt::get_error_number(), 3);
    rt::set_error_number(0);
}

TEST(ContextSlots, SameRecordTwiceAndLaterSizeIgnored) {
    void* first = rt::context_slot(3, 4);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(rt::context_slot(3, 4096), first);
    EXPECT_EQ(*static_cast<int*>(first), 0);
}

// A slot, once filled, stays filled for the life of the process, so the
// failure is tried in a process of its own: a fresh copy of this program
// that runs only this case, however often or in whatever order the cases
// run here. The child writes what it saw; the parent checks it.
void fail_then_retry_slot_one() {
    platform::heap_fail_nth(1);
    const void* failed = rt::context_slot(1, 16);
    const bool set_after_failure = rt::context_slot_is_set(1);
    platform::heap_fail_nth(0);
    const void* retried = rt::context_slot(1, 16);
    std::fprintf(stderr, "failed:%s set:%d retried:%s set:%d", failed == nullptr ? "null" : "record",
                 set_after_failure ? 1 : 0, retried == nullptr ? "null" : "record", rt::context_slot_is_set(1) ? 1 : 0);
    std::exit(0);
}

TEST(ContextSlots, FailedAllocationLeavesSlotEmptyAndRetries) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fail_then_retry_slot_one(), ::testing::ExitedWithCode(0), "failed:null set:0 retried:record set:1");
}

TEST(ContextSlots, IndexOutOfRangeGivesNothing) {
    EXPECT_EQ(rt::context_slot(5, 4), nullptr);
    EXPECT_EQ(rt::context_slot(-1, 4), nullptr);
}

}  // namespace
