#include "runtime/core/context.h"

#include "platform/console_api.h"

namespace rt {
namespace {

// A slot holds a record, the marker, or nothing.
void* g_slots[kContextSlotCount];
char g_marker;

// When the error context cannot be allocated the number is still kept, here,
// so that a later query never reads a record that does not exist.
ErrorContext g_error_fallback;

ErrorContext& error_context() {
    auto* record = static_cast<ErrorContext*>(context_slot(kErrorContextSlot, sizeof(ErrorContext)));
    return record != nullptr ? *record : g_error_fallback;
}

}  // namespace

void* context_slot(int index, std::size_t size) {
    if (index < 0 || index >= kContextSlotCount) return nullptr;
    if (g_slots[index] == nullptr) g_slots[index] = crt::calloc(1, size);
    return g_slots[index];
}

void context_slot_mark(int index) {
    if (index >= 0 && index < kContextSlotCount && g_slots[index] == nullptr) g_slots[index] = &g_marker;
}

bool context_slot_is_set(int index) { return index >= 0 && index < kContextSlotCount && g_slots[index] != nullptr; }

std::int32_t set_error_number(std::int32_t number) {
    error_context().error_number = number;
    return number;
}

std::int32_t get_error_number() { return error_context().error_number; }

}  // namespace rt
