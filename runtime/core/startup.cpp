#include "runtime/core/startup.h"

#include <array>

namespace rt {
namespace {

using ModuleProc = void (*)();

// This program has no module constructors or destructors.
constexpr std::array<ModuleProc, 0> kModuleConstructors{};
constexpr std::array<ModuleProc, 0> kModuleDestructors{};

// Control word: extended precision and round-to-nearest, under the precision
// and rounding fields.
constexpr unsigned kExtendedRoundNearest = 0;
constexpr unsigned kPrecisionAndRounding = 0x30300;

int g_argc = 0;
char** g_argv = nullptr;
HANDLE g_input = nullptr;
HANDLE g_output = nullptr;

}  // namespace

void record_command_line(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
}

void set_number_mode() { crt::_controlfp(kExtendedRoundNearest, kPrecisionAndRounding); }

void platform_init() {
    set_number_mode();
    g_input = GetStdHandle(STD_INPUT_HANDLE);
    g_output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (g_input != nullptr && GetConsoleMode(g_input, &mode)) SetConsoleMode(g_input, mode | ENABLE_PROCESSED_INPUT);
}

void run_module_constructors() {
    for (const ModuleProc proc : kModuleConstructors)
        proc();
}

void runtime_end(std::int32_t status) {
    for (const ModuleProc proc : kModuleDestructors)
        proc();
    crt::exit(status);
}

int argument_count() { return g_argc; }
char** argument_vector() { return g_argv; }
HANDLE std_input_handle() { return g_input; }
HANDLE std_output_handle() { return g_output; }

}  // namespace rt
