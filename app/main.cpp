// Program entry. Without operands: clear the screen once, then ask for a
// number and a base, answer with the digits or "Wrong input!", and wait for a
// key, until that key is Escape. Any other command line (options, one
// conversion, a usage error) is carried out without the console.
#include <cstdint>
#include <span>
#include <string_view>

#include "app/command_line.h"
#include "app/command_output.h"
#include "app/digits.h"
#include "app/program_text.h"
#include "runtime/console/geometry.h"
#include "runtime/console/handle.h"
#include "runtime/console/runtime_init.h"
#include "runtime/core/startup.h"
#include "runtime/core/text.h"
#include "runtime/input/input_statement.h"
#include "runtime/input/keyboard.h"

namespace {

// Compared as a zero-terminated text: a key text holds one character, or two
// for an extended key, so only the Escape key itself matches.
constexpr char kEscape[] = "\x1b";

constexpr std::int32_t kConsole = 0;
constexpr std::int32_t kWaitWithoutLimit = -1;

void print_on_console(rt::StringDescriptor* text, int flags) { rt::print_text(kConsole, text, flags); }

// The prompt and "? ", the line editor, the line end; the first field of the
// typed line goes into `field`.
void ask(std::string_view prompt, rt::StringDescriptor& field) {
    rt::input_statement(rt::text_view(prompt), 1, 1);
    rt::input_text_field(&field, rt::kDescriptorSize, false);
}

}  // namespace

int main(int argc, char** argv) {
    const std::span<const char* const> words(argv, static_cast<std::size_t>(argc));
    const app::Command command = app::read_command_line(words.empty() ? words : words.subspan(1));
    if (command.mode != app::Mode::Session) return app::run_command(command);
    rt::runtime_init(argc, argv);
    rt::run_module_constructors();
    rt::console_clear(rt::kClearDefault);
    for (;;) {
        app::digit_index = 0;
        ask(app::kNumberPrompt, app::number_text);
        ask(app::kBasePrompt, app::base_text);
        if (app::print_answer(print_on_console)) {
            rt::print_finish(kConsole, rt::kPrintLineEnd);
        } else {
            // Digits that could not be written for want of memory get the
            // answer a shortage in the round trip gives, never a partial line.
            rt::print_text(kConsole, rt::text_view(app::kWrongInput), rt::kPrintLineEnd);
        }
        rt::print_text(kConsole, rt::text_view(app::kExitHint), rt::kPrintLineEnd);
        // Only a key posted after the base's Enter ends the wait; any key but
        // Escape is dropped here and never reaches the next prompt.
        rt::wait_for_key(kWaitWithoutLimit);
        if (rt::text_compare(rt::read_key_text(), rt::kDescriptorSize, kEscape, sizeof kEscape) == 0) {
            rt::runtime_end(0);
        }
    }
}
