#include "runtime/core/context.h"

#include "platform/console_api.h"

namespace rt {

// A slot holds a record, the marker, or nothing.
void* context_detail::slots[kContextSlotCount];

namespace {

using context_detail::slots;

char g_marker;

// When the error context cannot be allocated the number is still kept, here,
// so that a later query never reads a record that does not exist.
ErrorContext g_error_fallback;

}  // namespace

ErrorContext& context_detail::allocate_error_context() {
    auto* record = static_cast<ErrorContext*>(context_slot(kErrorContextSlot, sizeof(ErrorContext)));
    return record != nullptr ? *record : g_error_fallback;
}

void* context_slot(int index, std::size_t size) {
    if (index < 0 || index >= kContextSlotCount) return nullptr;
    if (slots[index] == nullptr) slots[index] = crt::calloc(1, size);
    return slots[index];
}

void context_slot_mark(int index) {
    if (index >= 0 && index < kContextSlotCount && slots[index] == nullptr) slots[index] = &g_marker;
}

}  // namespace rt
