#include "platform/common/heap.h"

#include <gtest/gtest.h>

#include "platform/console_api.h"

namespace {

struct HeapFaults : ::testing::Test {
    void TearDown() override { platform::heap_fail_nth(0); }
};

TEST_F(HeapFaults, FailsExactlyTheNthAllocationOfAnyKind) {
    platform::heap_fail_nth(3);
    void* a = crt::malloc(8);
    void* b = crt::calloc(2, 8);
    void* c = crt::realloc(a, 64);  // the third call fails: `a` must survive
    void* d = crt::malloc(8);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr);
    EXPECT_EQ(platform::heap_calls_seen(), 4u);
    crt::free(a);
    crt::free(b);
    crt::free(d);
}

TEST_F(HeapFaults, AndAfterKeepsFailing) {
    platform::heap_fail_nth(2, true);
    void* a = crt::malloc(1);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(crt::malloc(1), nullptr);
    EXPECT_EQ(crt::calloc(1, 1), nullptr);
    crt::free(a);
    platform::heap_fail_nth(0);
    void* b = crt::malloc(1);
    EXPECT_NE(b, nullptr);
    crt::free(b);
}

TEST_F(HeapFaults, ReplacedTableIsUsed) {
    static int calls;
    calls = 0;  // the case may run more than once in a process
    platform::HeapOps saved = platform::heap_ops();
    platform::heap_ops().malloc = [](std::size_t) -> void* {
        ++calls;
        return nullptr;
    };
    EXPECT_EQ(crt::malloc(16), nullptr);
    platform::heap_ops() = saved;
    EXPECT_EQ(calls, 1);
}

}  // namespace
