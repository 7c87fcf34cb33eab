// The handle layer: printing and reading address a handle by number, and
// handle number 0 is the console. A handle is a record with a table of
// operation slots; printing writes the bytes through the `write` slot, keeps
// the line length that print zones are measured from, and then carries out the
// print flags. Reading takes bytes put back first, then the `read` slot.
//
// Every operation that reports an error number also stores it in the error
// context (0 on success). Nothing is thrown.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/core/text.h"

namespace rt {

struct ConsoleHandle;

// A handle's operation slots, in table order. An empty slot makes the
// operation that needs it fail with error 1. Counts are in characters: bytes,
// or 16-bit units in the `_wide` slots.
struct HandleOps {
    // offset from the start (origin 0) or from the current position (origin 1)
    std::int32_t (*seek)(ConsoleHandle* handle, std::int32_t offset, std::int32_t origin);
    // `count` in: characters wanted; out: characters delivered
    std::int32_t (*read)(ConsoleHandle* handle, char* destination, std::int32_t* count);
    std::int32_t (*read_wide)(ConsoleHandle* handle, char16_t* destination, std::int32_t* count);
    std::int32_t (*write)(ConsoleHandle* handle, const char* bytes, std::int32_t count);
    std::int32_t (*write_wide)(ConsoleHandle* handle, const char16_t* characters, std::int32_t count);
};

enum class HandleKind : std::int32_t {
    none = 0,
    records = 1,  // fixed-length records of `record_length` bytes
    console = 4,
};

struct ConsoleHandle {
    HandleKind kind;
    std::uint32_t record_length;
    // Nonzero when the handle's characters are 16-bit; `put_back` then holds
    // two bytes per character.
    std::uint32_t wide;
    // Characters printed since the last carriage return or line feed, modulo
    // `width`; the print column is line_length + 1.
    std::int32_t line_length;
    // Line width for line_length and print zones; 0 = unlimited.
    std::uint32_t width;
    std::array<char, 4> put_back;
    std::uint32_t put_back_count;
    // None: the handle is not open.
    HandleOps* ops;
    // Owned by the handle's operations (the console's is a ConsoleKeyBuffer).
    void* private_data;
    // When set, the line_length and width of the last record of the chain
    // stand for this handle.
    ConsoleHandle* redirect;
};

// The console handle's private record: key text read ahead by the console's
// read operation, which alone uses it.
struct ConsoleKeyBuffer {
    std::array<char, 16> bytes;
    std::uint32_t count;
};

// Print flags, carried out after the text. With a line end among them the
// next-zone flag is ignored.
inline constexpr std::int32_t kPrintLineEnd = 1;
inline constexpr std::int32_t kPrintNextZone = 2;
inline constexpr std::int32_t kPrintLineEndToo = 4;

// Print zones are this many columns wide, starting at column 1.
inline constexpr std::int32_t kPrintZoneWidth = 14;

// The put-back buffer holds this many bytes.
inline constexpr std::uint32_t kPutBackSize = 4;

// 0 the console handle; -1 further record 0; 1 to 254 further record n; any
// other number none (null).
ConsoleHandle* handle_from_number(std::int32_t number);

// The console handle record and its operation table (handle number 0). The
// console's `read` slot is filled by the input statement.
ConsoleHandle& console_handle();
HandleOps& console_handle_ops();

// Zeroes the whole handle table (console and the 256 further records) and
// empties the console's operation slots: the state at start-up.
void handle_table_reset();

// Prints the text's bytes (if any) on the handle, then the flags; a temporary
// text is released whether or not anything was printed. `text` may be null.
void print_text(std::int32_t number, StringDescriptor* text, std::int32_t flags);
// As print_text with a zero-terminated text (may be null); releases nothing.
void print_cstr(std::int32_t number, const char* text, std::int32_t flags);
// Carries out the print flags alone: "\r\n" for a line end, else the next
// print zone, else nothing.
void print_finish(std::int32_t number, std::int32_t flags);
void print_finish(ConsoleHandle* handle, std::int32_t flags);
// Moves to the next 14-column zone after the print column with blanks, or
// starts a new line when that zone would not fit within the width.
void print_next_zone(ConsoleHandle* handle);
// handle_write at the current position with padding and line tracking; error
// 1 for no handle or one not open.
std::int32_t print_bytes(ConsoleHandle* handle, const char* bytes, std::int32_t count);

// Writes through the `write` slot, after seeking to `position` (1-based, 0 =
// current). Empties the put-back buffer. With `track_line`, a successful write
// updates the line length of the last handle of the redirect chain.
std::int32_t handle_write(ConsoleHandle* handle, std::int32_t position, const char* bytes, std::int32_t count,
                          bool pad_record, bool track_line);
// Reads put-back bytes first, then the `read` slot; `count` in: wanted, out:
// delivered. With no handle or one not open, `count` is left as it was.
std::int32_t handle_read(ConsoleHandle* handle, std::int32_t position, char* destination, std::int32_t* count,
                         bool skip_record);
// Puts bytes back in front of the input, to be read first, last put back
// first; error 3 (buffer unchanged) when they would not fit in 4 bytes.
std::int32_t handle_put_back(ConsoleHandle* handle, const char* bytes, std::int32_t count);
// Seeks to `position` (1-based, records for a record handle); empties the
// put-back buffer.
std::int32_t handle_seek(ConsoleHandle* handle, std::int32_t position);

// Sets up the console handle on first use: its key buffer, width from the
// console size, line length from the cursor column, its operation table.
// Never again once set up.
void ensure_console_handle();
// ensure_console_handle, and console_write in the console's `write` slot.
void ensure_console_write();
// The console's `write` slot: console_print of the bytes; always 0. The line
// length is kept by handle_write, which called it.
std::int32_t console_write(ConsoleHandle* handle, const char* bytes, std::int32_t count);

}  // namespace rt
