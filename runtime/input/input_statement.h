// The input statement: a prompt, a line typed with the line editor, and the
// line kept in the input context, from which field reads then take one field
// at a time by the field rules. Also the console handle's read operation,
// which serves the console as a byte stream made of key texts.
//
// The context, the input routine entry of console_hooks and the console's key
// buffer are process-wide and unlocked: one statement at a time.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/console/handle.h"
#include "runtime/core/text.h"

namespace rt {

// The kept typed line and where reading has got to in it. Kept in context
// slot kInputContextSlot, zero-filled on first use, never freed.
struct InputContext {
    // Where characters come from; none means `text`. Every statement resets it.
    ConsoleHandle* source;
    // Reset by every statement; nothing reads it.
    std::int32_t status;
    // The last typed line, owned here. It never holds CR or LF.
    StringDescriptor text;
    // Index of the next byte of `text` to be read.
    std::int32_t position;
};

// The value input_next_char gives at the end of the input; a byte 255 is an
// ordinary character.
inline constexpr std::int32_t kEndOfInput = -1;

// A field read collects at most this many characters; the rest stays unread
// for the next field.
inline constexpr std::int32_t kMaxFieldLength = 4096;

// Text mode keeps blanks inside a field and treats a closing quote as its end;
// number mode ends a field at a blank outside quotes and lets a closing quote
// switch quoting off without ending it.
enum class FieldMode { number, text };

// The context record, created on first use; null when it cannot be allocated.
InputContext* input_context();

// Shows the prompt (and "? " after it when asked), reads a line and keeps it
// in the context, then moves to the next line when asked. The prompt may be
// null, and a temporary prompt is consumed. The error number tells the
// outcome: 0, or 4 when no line could be obtained (the previous line stays,
// to be read again from its start). Without a context record nothing is shown
// or read and the error number is 4.
void input_statement(StringDescriptor* prompt, std::int32_t add_question_mark, std::int32_t add_newline);

// The input routine that runs while console_hooks has none: prompt, line,
// line end, and the line assigned to the target (in the size convention of
// text_assign). Returns the error number set, 0 or 4; with no line the target
// keeps what it held.
std::int32_t default_input_routine(StringDescriptor* prompt, void* target, std::int32_t target_size, bool fill,
                                   std::int32_t add_question_mark, std::int32_t add_newline);

// Takes the next field of the kept line in text mode and assigns it to the
// target as a zero-terminated text; sets and returns error number 0.
std::int32_t input_text_field(void* target, std::int32_t target_size, bool fill);

// Collects the next field into `buffer`, zero-terminated: at most `maximum`
// characters, and never more than the buffer holds with its terminator. With
// no context record the field is empty.
void extract_field(std::span<char> buffer, std::int32_t maximum, FieldMode mode);

// The next byte of the context's source (0 to 255), or kEndOfInput. Never
// reads past the kept line.
std::int32_t input_next_char(InputContext* context);
// Steps back over the byte just read. From a handle source: the result of
// handle_put_back; from the kept line: 1 when stepped back, 0 at its start.
std::int32_t input_put_back_char(InputContext* context, std::int32_t character);

// Sets the console handle up and installs console_read in its `read` slot
// unless that slot is already filled.
void ensure_console_read();
// The console's `read` slot: key texts as bytes (an extended key gives 255 and
// its code). When no key is waiting the bytes still wanted are zeroed and
// `count` is reduced to the bytes delivered. Sets and returns error number 0.
std::int32_t console_read(ConsoleHandle* handle, char* destination, std::int32_t* count);

}  // namespace rt
