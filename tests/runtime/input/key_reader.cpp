// The keyboard layer on the process's real console, for the pseudo-terminal
// test: writes "ready " and then each key code it reads, in decimal with a
// blank behind it, through plain WriteFile (on the console's screen, or
// straight out when output is redirected). Escape ends it with status 0.
#include <string>

#include "platform/console_api.h"
#include "runtime/console/runtime_init.h"
#include "runtime/core/startup.h"
#include "runtime/input/keyboard.h"

namespace {

void write_out(const std::string& text) {
    DWORD written = 0;
    WriteFile(rt::std_output_handle(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    rt::runtime_init(argc, argv);
    write_out("ready ");
    for (;;) {
        const rt::KeyCode code = rt::wait_key_code();
        write_out(std::to_string(code) + " ");
        if (code == 27) rt::runtime_end(0);
    }
}
