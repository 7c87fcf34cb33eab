// The typed-field scene as a program on the real console, for the
// pseudo-terminal test: after showing the field it waits for a key and ends.
#include "runtime/console/runtime_init.h"
#include "runtime/core/startup.h"
#include "runtime/input/keyboard.h"
#include "tests/runtime/input/typed_field.h"

int main(int argc, char** argv) {
    rt::runtime_init(argc, argv);
    rt_testing::show_typed_field();
    rt::wait_for_key(-1);
    rt::runtime_end(0);
}
