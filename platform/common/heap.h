// The heap behind crt::malloc and friends, as a small table of operations that
// a test can replace to inject allocation failures.
#pragma once

#include <cstddef>

namespace platform {

struct HeapOps {
    void* (*malloc)(std::size_t size);
    void* (*calloc)(std::size_t count, std::size_t size);
    void* (*realloc)(void* block, std::size_t size);
    void (*free)(void* block);
};

// The table in force; the default calls the system allocator.
HeapOps& heap_ops();
const HeapOps& system_heap_ops();

// Makes the nth allocation (malloc, calloc or realloc) from now on fail, 1 for
// the very next one, and every one after it when `and_after` is set. 0 turns
// failure injection off. Counting is per thread of control, not thread-safe:
// meant for tests of the single-threaded runtime.
void heap_fail_nth(unsigned long n, bool and_after = false);
// Allocation calls (successful or failed) seen since the last heap_fail_nth.
unsigned long heap_calls_seen();

}  // namespace platform
