// Start-up and shutdown of the runtime, and the process-wide items start-up
// records: the command line and the standard console handles.
#pragma once

#include <cstdint>

#include "platform/console_api.h"

namespace rt {

// Records the command line, zeroes the handle table, then platform_init. The
// program entry calls it first, then run_module_constructors. It is built into
// bc_startup, above the console layer whose handle table it zeroes; the rest
// of this header is bc_core's.
void runtime_init(int argc, char** argv);

void record_command_line(int argc, char** argv);

// Round-to-nearest with extended precision where the processor has it; the
// standard handles; processed input added to the console input mode when
// standard input is a console (otherwise the mode is left alone). Reports
// nothing.
void platform_init();

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
