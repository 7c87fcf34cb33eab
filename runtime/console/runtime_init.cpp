#include "runtime/console/runtime_init.h"

#include "runtime/console/handle.h"
#include "runtime/core/startup.h"

namespace rt {

void runtime_init(int argc, char** argv) {
    record_command_line(argc, argv);
    handle_table_reset();
    platform_init();
}

}  // namespace rt
