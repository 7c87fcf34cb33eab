#include "platform/common/heap.h"

#include <cstdlib>

#include "platform/console_api.h"

namespace platform {
namespace {

constexpr HeapOps kSystemHeap{
    [](std::size_t size) { return std::malloc(size); },
    [](std::size_t count, std::size_t size) { return std::calloc(count, size); },
    [](void* block, std::size_t size) { return std::realloc(block, size); },
    [](void* block) { std::free(block); },
};

HeapOps g_heap = kSystemHeap;

unsigned long g_fail_at = 0;  // 0: never
bool g_fail_after = false;
unsigned long g_calls = 0;

// Counts one allocation call and tells whether it is to fail.
bool allocation_fails() {
    ++g_calls;
    if (g_fail_at == 0) return false;
    return g_calls == g_fail_at || (g_fail_after && g_calls > g_fail_at);
}

}  // namespace

HeapOps& heap_ops() { return g_heap; }
const HeapOps& system_heap_ops() { return kSystemHeap; }

void heap_fail_nth(unsigned long n, bool and_after) {
    g_fail_at = n;
    g_fail_after = and_after;
    g_calls = 0;
}

unsigned long heap_calls_seen() { return g_calls; }

}  // namespace platform

namespace crt {

void* malloc(std::size_t size) { return platform::allocation_fails() ? nullptr : platform::g_heap.malloc(size); }

void* calloc(std::size_t count, std::size_t size) {
    return platform::allocation_fails() ? nullptr : platform::g_heap.calloc(count, size);
}

// A failed realloc leaves the block untouched, as the C library's does.
void* realloc(void* block, std::size_t size) {
    return platform::allocation_fails() ? nullptr : platform::g_heap.realloc(block, size);
}

void free(void* block) { platform::g_heap.free(block); }

}  // namespace crt
