// Built into a copy of the program for the memory-shortage tests, which cannot
// reach into the program otherwise: it takes no options and reads no
// environment. Before the program starts, the allocation that
// BASECONV_FAIL_ALLOCATION names fails: "N" the Nth one only, "N+" the Nth and
// every one after it. When the program ends through exit, the number of
// allocations it made goes to the file BASECONV_ALLOCATION_COUNT names.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/common/heap.h"

namespace {

void write_allocation_count() {
    const char* path = std::getenv("BASECONV_ALLOCATION_COUNT");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "w")) {
        std::fprintf(f, "%lu\n", platform::heap_calls_seen());
        std::fclose(f);
    }
}

struct FailAllocation {
    FailAllocation() {
        unsigned long nth = 0;
        bool and_after = false;
        if (const char* setting = std::getenv("BASECONV_FAIL_ALLOCATION")) {
            const std::string text = setting;
            nth = std::stoul(text);
            and_after = text.ends_with('+');
        }
        platform::heap_fail_nth(nth, and_after);
        // Registered before anything the program registers, so it runs after
        // all of that: the count includes the program's own way out.
        std::atexit(write_allocation_count);
    }
};

const FailAllocation fail_allocation;

}  // namespace
