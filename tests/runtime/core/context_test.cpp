#include "runtime/core/context.h"

#include <gtest/gtest.h>

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

TEST(ContextSlots, FailedAllocationLeavesSlotEmptyAndRetries) {
    platform::heap_fail_nth(1);
    EXPECT_EQ(rt::context_slot(1, 16), nullptr);
    EXPECT_FALSE(rt::context_slot_is_set(1));
    platform::heap_fail_nth(0);
    EXPECT_NE(rt::context_slot(1, 16), nullptr);
}

TEST(ContextSlots, IndexOutOfRangeGivesNothing) {
    EXPECT_EQ(rt::context_slot(5, 4), nullptr);
    EXPECT_EQ(rt::context_slot(-1, 4), nullptr);
}

}  // namespace
