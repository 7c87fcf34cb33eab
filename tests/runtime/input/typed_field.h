// One prompt on a cleared screen and the first field of the line typed there,
// shown between brackets on the next line: what the pseudo-terminal test runs
// in a program of its own and, for comparison, on a test console.
#pragma once

#include "runtime/console/geometry.h"
#include "runtime/console/handle.h"
#include "runtime/core/text.h"
#include "runtime/input/input_statement.h"

namespace rt_testing {

inline void show_typed_field() {
    rt::console_clear(rt::kClearDefault);
    rt::input_statement(rt::text_view("Field"), 1, 1);
    rt::StringDescriptor field{};
    rt::input_text_field(&field, rt::kDescriptorSize, false);
    rt::print_cstr(0, "[", 0);
    rt::print_text(0, &field, 0);
    rt::print_cstr(0, "]", rt::kPrintLineEnd);
    rt::text_free(&field);
}

}  // namespace rt_testing
