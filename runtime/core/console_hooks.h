// The console's replaceable operations. Each entry is empty or holds an
// operation with the same arguments and result as the default it stands in
// for; an empty entry means the default runs. The program installs none, but
// the printing, geometry, keyboard and input layers all look here first, so a
// different screen or keyboard can be attached without touching them.
//
// It names only text values, so it lives with them, under every layer that
// reads it.
#pragma once

#include <cstdint>

#include "runtime/core/text.h"

namespace rt {

struct ConsoleHooks {
    // console_print (bytes, count, console print flags)
    void (*print)(const char* bytes, std::int32_t count, std::int32_t flags);
    // console_clear (mode)
    void (*clear)(std::int32_t mode);
    // locate (row, column, visibility): the packed locate result
    std::uint32_t (*locate)(std::int32_t row, std::int32_t column, std::int32_t visibility);
    // cursor_column: the cursor's column in window coordinates
    std::int32_t (*current_column)();
    // get_cursor_position (column, row), window coordinates
    void (*cursor_position)(std::int32_t* column, std::int32_t* row);
    // console_size (width, height); either may be null
    void (*console_size)(std::int32_t* width, std::int32_t* height);
    // The keyboard: wait_for_key (limit in ms), read_key_text, wait_key_code,
    // key_available.
    void (*wait_for_key)(std::int32_t milliseconds);
    StringDescriptor* (*read_key_text)();
    std::int32_t (*wait_key_code)();
    std::int32_t (*key_available)();
    // input_routine (prompt, target, target size, fill, add question mark,
    // add newline): the error number, 0 or 4.
    std::int32_t (*input_routine)(StringDescriptor* prompt, void* target, std::int32_t target_size, bool fill,
                                  std::int32_t add_question_mark, std::int32_t add_newline);
};

// The process's table; zero-initialised, so every default runs.
inline ConsoleHooks console_hooks{};

}  // namespace rt
