// The console output layer on whatever terminal runs it: the script's start,
// then one script step per key, until Escape.
#include "runtime/console/runtime_init.h"
#include "runtime/core/startup.h"
#include "runtime/input/keyboard.h"
#include "tests/runtime/console/console_script.h"

int main(int argc, char** argv) {
    rt::runtime_init(argc, argv);
    console_script::start();
    for (;;) {
        const rt::KeyCode key = rt::wait_key_code();
        if (key == 27) rt::runtime_end(0);
        if (key >= 0 && key < 256) console_script::step(static_cast<char>(key));
    }
}
