#include "runtime/core/context.h"

#include <array>

#include "platform/console_api.h"

namespace rt {
namespace {

// A slot holds a record, the marker, or nothing.
std::array<void*, kContextSlotCount> g_slots{};

char g_marker;

// When the error context cannot be allocated the number is still kept, here,
// so that a later query never reads a record that does not exist.
ErrorContext g_error_fallback;

bool is_slot_index(int index) { return index >= 0 && index < kContextSlotCount; }

ErrorContext& error_context() {
    auto* record = static_cast<ErrorContext*>(context_slot(kErrorContextSlot, sizeof(ErrorContext)));
    return record != nullptr ? *record : g_error_fallback;
}

}  // namespace

void* context_slot(int index, std::size_t size) {
    if (!is_slot_index(index)) return nullptr;
    void*& slot = g_slots[static_cast<std::size_t>(index)];
    if (slot == nullptr) slot = crt::calloc(1, size);
    return slot;
}

void context_slot_mark(int index) {
    if (is_slot_index(index) && g_slots[static_cast<std::size_t>(index)] == nullptr)
        g_slots[static_cast<std::size_t>(index)] = &g_marker;
}

bool context_slot_is_set(int index) {
    return is_slot_index(index) && g_slots[static_cast<std::size_t>(index)] != nullptr;
}

std::int32_t set_error_number(std::int32_t number) {
    error_context().error_number = number;
    return number;
}

std::int32_t get_error_number() { return error_context().error_number; }

}  // namespace rt
