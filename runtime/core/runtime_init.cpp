// Start-up proper sits above the console layer: the handle table it zeroes is
// the console layer's, and the console layer itself stands on bc_core.
#include "runtime/console/handle.h"
#include "runtime/core/startup.h"

namespace rt {

void runtime_init(int argc, char** argv) {
    record_command_line(argc, argv);
    handle_table_reset();
    platform_init();
}

}  // namespace rt
