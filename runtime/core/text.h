// Text values: descriptors, the pool of temporary descriptors, the capacity
// policy of text buffers and the text operations the rest of the runtime uses.
//
// A temporary is consumed by the operation that receives it: released, or its
// buffer taken over by an assignment, on every path. Releasing a variable, a
// view over a literal, the shared empty text or nothing is harmless.
#pragma once

#include <cstdint>
#include <string_view>

namespace rt {

// Bit 31 of `length` marks a temporary that owns its buffer; bits 0 to 30 are
// the byte count. Every reader of a length masks the flag off.
inline constexpr std::uint32_t kTempFlag = 0x80000000u;
inline constexpr std::uint32_t kLengthMask = 0x7FFFFFFFu;

// A descriptor that owns its buffer has `capacity` + 1 bytes there and keeps a
// zero byte at data[length] after every operation that writes the text. The
// cleared state (no data, length 0, capacity 0) is the empty text.
struct StringDescriptor {
    char* data;
    std::uint32_t length;
    std::int32_t capacity;
};

inline std::uint32_t text_length(const StringDescriptor& text) { return text.length & kLengthMask; }
inline bool is_temporary(const StringDescriptor& text) { return (text.length & kTempFlag) != 0; }
inline std::string_view text_chars(const StringDescriptor& text) { return {text.data, text_length(text)}; }

// Size of a text argument: a descriptor (a source given so is released after
// use), a zero-terminated text, or n > 0 for a byte buffer of n bytes with room
// for n - 1 characters and the terminator (a source of any size but -1 is read
// as a zero-terminated text).
inline constexpr std::int32_t kDescriptorSize = -1;
inline constexpr std::int32_t kZeroTerminatedSize = 0;

inline constexpr int kPoolSize = 256;

// The process-wide empty descriptor outside the pool, handed out when no
// temporary can be had or when a result is empty. It is never written.
StringDescriptor* shared_empty_text();

// An empty pool descriptor, or null when all kPoolSize are out.
StringDescriptor* pool_take();
// 0 when `text` was a pool descriptor in use and went back (its buffer is not
// freed); -1 and nothing done otherwise.
int pool_give_back(StringDescriptor* text);
// Pool descriptors out at the moment.
int pool_in_use_count();

// Frees the buffer and clears the descriptor (flag included); a descriptor
// without a buffer, or null, is left as it is.
void text_free(StringDescriptor* text);
// Frees a flagged temporary's buffer, then gives the descriptor back to the
// pool. -1 for null, else the result of pool_give_back.
int text_release(StringDescriptor* text);

// Sets the length to `length` with a buffer of at least that capacity, growing
// in steps of 36 bytes per 32 requested. With `preserve` the contents are kept.
// Null on allocation failure: preserving leaves the text as it was, otherwise
// the text is left cleared. No terminator is written.
StringDescriptor* text_reserve(StringDescriptor* text, std::int32_t length, bool preserve);

// A temporary with its own buffer of `length` bytes and the flag set, reusing
// `text` when given, else taken from the pool. The caller fills the bytes and
// the terminator. Null when no descriptor or no memory can be had.
StringDescriptor* temp_text_alloc(StringDescriptor* text, std::int32_t length);

// Views: pool descriptors without the flag over bytes they do not own; the
// shared empty text when the pool is exhausted. Nothing is copied.
StringDescriptor* text_view(std::string_view bytes);
StringDescriptor* text_view_cstr(const char* text);
// `size` counts the terminator; 0 (or less) measures the zero-terminated bytes.
StringDescriptor* text_view_sized(const char* bytes, std::int32_t size);
// Shares the buffer of `text`, which is not consumed.
StringDescriptor* text_view_of(const StringDescriptor* text);

// Copies `count` bytes (none when `source` is null) and a zero byte behind them.
// The ranges may overlap.
void copy_terminated(char* destination, const char* source, std::int32_t count);

// Target and source follow the size convention above. A descriptor target that
// receives a flagged temporary takes its buffer over; on a memory shortage the
// target is left empty. With `fill`, a fixed buffer is zeroed behind the text.
// Returns the target, null when there is none.
void* text_assign(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill);
// As text_assign, appending; on a memory shortage the target is unchanged.
void* text_append(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill);
// Byte-wise comparison (unsigned bytes, then lengths): -1, 0 or 1.
int text_compare(const void* a, std::int32_t size_a, const void* b, std::int32_t size_b);

// `length` characters of `text` (consumed) from the 1-based `start`; a negative
// length means to the end. A new temporary, or the shared empty text.
StringDescriptor* text_mid(StringDescriptor* text, std::int32_t start, std::int32_t length);
// `count` copies of `character` as a new temporary, or the shared empty text.
StringDescriptor* text_fill(std::int32_t count, char character);
// `count` copies of the first byte of `text` (consumed), or the shared empty text.
StringDescriptor* text_fill_first(std::int32_t count, StringDescriptor* text);

}  // namespace rt
