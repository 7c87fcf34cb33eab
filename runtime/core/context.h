// Process-wide context records and the last error number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

// Slot indices in use: 0 the error context, 2 the input context, 4 a marker
// that the console window information has been read once.
inline constexpr int kContextSlotCount = 5;
inline constexpr int kErrorContextSlot = 0;
inline constexpr int kInputContextSlot = 2;
inline constexpr int kWindowInfoReadSlot = 4;

// Error numbers kept in the error context.
enum ErrorNumber : std::int32_t {
    kErrorNone = 0,
    kErrorIllegalCall = 1,  // no handle, empty operation slot, argument out of range
    kErrorPutBackFull = 3,  // the put-back buffer of a handle would overflow
    kErrorNoLine = 4,       // no typed line could be obtained for an input statement
};

struct ErrorContext {
    std::int32_t error_number;
};

// The slot's record, allocated zero-filled with `size` bytes on first use; a
// later size is ignored. Null when the allocation fails (the slot stays empty
// and a later call tries again).
void* context_slot(int index, std::size_t size);

// Marks a slot as used without a record (slot 4's marker).
void context_slot_mark(int index);

// Whether the slot holds a record or the marker.
bool context_slot_is_set(int index);

// Sets the error number in the error context and returns it. The error
// context is allocated on first use; when it cannot be, the number is kept
// all the same, so that get_error_number always answers it.
std::int32_t set_error_number(std::int32_t number);
std::int32_t get_error_number();

}  // namespace rt
