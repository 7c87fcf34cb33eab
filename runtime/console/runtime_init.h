// The runtime's start-up: what the program entry calls first. It zeroes the
// handle table, the highest state it sets up, so it belongs to the console
// layer; the rest of start-up and shutdown is runtime/core/startup.h.
#pragma once

namespace rt {

// Records the command line, zeroes the handle table, then platform_init. The
// program entry calls it first, then run_module_constructors.
void runtime_init(int argc, char** argv);

}  // namespace rt
