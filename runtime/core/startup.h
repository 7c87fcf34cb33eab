// Start-up and shutdown of the runtime, and the process-wide items start-up
// records: the command line and the standard console handles.
#pragma once

#include <cstdint>

#include "platform/console_api.h"

namespace rt {

// The program entry starts with runtime_init (runtime/console/runtime_init.h),
// which records the command line and calls platform_init, then calls
// run_module_constructors.
void record_command_line(int argc, char** argv);

// Round-to-nearest with extended precision where the processor has it; the
// standard handles; processed input added to the console input mode when
// standard input is a console (otherwise the mode is left alone). Reports
// nothing.
void platform_init();
// The first step of platform_init on its own, for a program that converts
// numbers without the console: the rounding (and, where the processor has
// it, the precision) that round_to_int64 needs.
void set_number_mode();

void run_module_constructors();

// Runs the module destructors and leaves the process with `status` through
// the C runtime's exit, so that the at-exit list runs.
[[noreturn]] void runtime_end(std::int32_t status);

int argument_count();
char** argument_vector();
// As GetStdHandle gave them at start-up; null when there was none.
HANDLE std_input_handle();
HANDLE std_output_handle();

}  // namespace rt
