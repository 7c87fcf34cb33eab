#include "runtime/core/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <span>

#include "platform/console_api.h"

namespace rt {
namespace {

// Free nodes form a stack linked through `next_free`, the last one given back
// on top. Nodes from `never_taken` on have not been out yet and are free
// without being linked: the pool starts zeroed and needs no setting up.
struct PoolNode {
    PoolNode* next_free;
    bool in_use;
    StringDescriptor descriptor;
};

struct TempDescriptorPool {
    std::int32_t never_taken;
    PoolNode* free_first;
    std::array<PoolNode, kPoolSize> nodes;
};

TempDescriptorPool g_pool;
StringDescriptor g_empty_text;

constexpr StringDescriptor kCleared{nullptr, 0, 0};

// The node whose descriptor field `text` is, or null. Addresses are compared
// as integers: `text` may point anywhere. Below the array the unsigned offset
// wraps around to one far past its end.
PoolNode* pool_node_of(const StringDescriptor* text) {
    const std::uintptr_t offset =
        reinterpret_cast<std::uintptr_t>(text) - reinterpret_cast<std::uintptr_t>(&g_pool.nodes[0].descriptor);
    if (offset % sizeof(PoolNode) != 0 || offset / sizeof(PoolNode) >= g_pool.nodes.size()) return nullptr;
    return &g_pool.nodes[offset / sizeof(PoolNode)];
}

std::int32_t measure(const char* text) {
    if (text == nullptr) return 0;
    return static_cast<std::int32_t>(std::min<std::size_t>(std::strlen(text), kLengthMask));
}

// The bytes of a text argument under the size convention.
struct Bytes {
    const char* data;
    std::int32_t length;
};

Bytes bytes_of(const void* text, std::int32_t size) {
    if (text == nullptr) return {nullptr, 0};
    if (size == kDescriptorSize) {
        const auto* descriptor = static_cast<const StringDescriptor*>(text);
        return {descriptor->data, static_cast<std::int32_t>(text_length(*descriptor))};
    }
    const auto* chars = static_cast<const char*>(text);
    return {chars, measure(chars)};
}

// A descriptor handed over with size -1 is consumed; the caller passed it as a
// source, so it is not an object of its own that must stay unchanged.
void release_argument(const void* text, std::int32_t size) {
    if (size == kDescriptorSize)
        text_release(const_cast<StringDescriptor*>(static_cast<const StringDescriptor*>(text)));
}

// Whether `bytes` points into the buffer of `text`, which a reallocation of
// that buffer would leave dangling.
bool points_into(const char* bytes, const StringDescriptor& text) {
    if (bytes == nullptr || text.data == nullptr) return false;
    const auto address = reinterpret_cast<std::uintptr_t>(bytes);
    const auto first = reinterpret_cast<std::uintptr_t>(text.data);
    return address >= first && address - first <= static_cast<std::uintptr_t>(text.capacity);
}

void take_buffer_over(StringDescriptor* target, StringDescriptor* source) {
    text_free(target);
    target->data = source->data;
    target->length = text_length(*source);
    target->capacity = source->capacity;
    *source = kCleared;
    pool_give_back(source);
}

void assign_to_descriptor(StringDescriptor* target, Bytes source) {
    if (source.length == 0) {
        text_free(target);
        return;
    }
    const auto length = static_cast<std::uint32_t>(source.length);
    // A source inside the target's own buffer (a view of the target) is moved
    // to its front first, so that a reallocation that keeps the contents keeps it.
    const bool own_bytes = points_into(source.data, *target);
    if (own_bytes) std::memmove(target->data, source.data, length);
    if (text_length(*target) != length && text_reserve(target, source.length, own_bytes) == nullptr) {
        text_free(target);
        return;
    }
    copy_terminated(target->data, own_bytes ? target->data : source.data, source.length);
    target->length = length;
}

void assign_to_buffer(char* target, std::int32_t size, Bytes source, bool fill) {
    if (source.length == 0) {
        target[0] = '\0';
        if (fill && size > 0) std::memset(target, 0, static_cast<std::size_t>(size));
        return;
    }
    const std::int32_t count = size == 0 ? source.length : std::min(source.length, size - 1);
    copy_terminated(target, source.data, count);
    if (fill && size > 0) std::memset(target + count, 0, static_cast<std::size_t>(size - 1 - count));
}

// Every assignment but the hand-over of a flagged temporary's buffer.
void* assign_copying(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill) {
    if (target == nullptr) {
        release_argument(source, source_size);
        return nullptr;
    }
    const Bytes bytes = bytes_of(source, source_size);
    if (target_size == kDescriptorSize) {
        assign_to_descriptor(static_cast<StringDescriptor*>(target), bytes);
    } else if (target_size >= 0) {
        assign_to_buffer(static_cast<char*>(target), target_size, bytes, fill);
    }
    release_argument(source, source_size);
    return target;
}

void append_to_descriptor(StringDescriptor* target, Bytes source) {
    const std::uint32_t old_length = text_length(*target);
    if (old_length + static_cast<std::uint32_t>(source.length) > kLengthMask) return;
    const bool own_bytes = points_into(source.data, *target);
    const std::uintptr_t offset =
        own_bytes ? reinterpret_cast<std::uintptr_t>(source.data) - reinterpret_cast<std::uintptr_t>(target->data) : 0;
    if (text_reserve(target, static_cast<std::int32_t>(old_length) + source.length, true) == nullptr) return;
    copy_terminated(target->data + old_length, own_bytes ? target->data + offset : source.data, source.length);
}

void append_to_buffer(char* target, std::int32_t size, Bytes source, bool fill) {
    // A buffer without a terminator within its size is not a text to extend.
    const char* end = size > 0 ? static_cast<const char*>(std::memchr(target, 0, static_cast<std::size_t>(size)))
                               : target + std::strlen(target);
    if (end == nullptr) return;
    const auto old_length = static_cast<std::int32_t>(std::min<std::ptrdiff_t>(end - target, kLengthMask));
    const std::int32_t count = size > 0 ? std::min(source.length, size - 1 - old_length) : source.length;
    copy_terminated(target + old_length, source.data, count);
    if (fill && size > 1) {
        std::memset(target + old_length + count, 0, static_cast<std::size_t>(size - 1 - old_length - count));
    }
}

// Every append but one of a descriptor to a descriptor.
void* append_other(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill) {
    if (target == nullptr) {
        release_argument(source, source_size);
        return nullptr;
    }
    if (source == nullptr) return target;
    const Bytes bytes = bytes_of(source, source_size);
    if (bytes.length > 0) {
        if (target_size == kDescriptorSize) {
            append_to_descriptor(static_cast<StringDescriptor*>(target), bytes);
        } else if (target_size >= 0) {
            append_to_buffer(static_cast<char*>(target), target_size, bytes, fill);
        }
    }
    release_argument(source, source_size);
    return target;
}

// 36 bytes for every 32 requested: an eighth of headroom. Near the top of
// the 31-bit range the proposal is capped at what a capacity can hold.
std::int32_t proposed_capacity(std::int32_t length) {
    const std::int64_t proposed = 36 * ((static_cast<std::int64_t>(length) + 31) / 32);
    return static_cast<std::int32_t>(std::min<std::int64_t>(proposed, INT32_MAX));
}

// Gives `text` a buffer from `allocate` (called with a byte count, the
// terminator's included): room for the proposed capacity, else for exactly
// `length`. False, and the descriptor untouched, when neither can be had.
template <typename Allocate>
bool place_buffer(StringDescriptor* text, std::int32_t length, std::int32_t proposed, Allocate allocate) {
    std::int32_t capacity = proposed;
    void* buffer = allocate(static_cast<std::size_t>(capacity) + 1);
    if (buffer == nullptr) {
        capacity = length;
        buffer = allocate(static_cast<std::size_t>(capacity) + 1);
    }
    if (buffer == nullptr) return false;
    text->data = static_cast<char*>(buffer);
    text->capacity = capacity;
    return true;
}

// A fresh buffer for a descriptor that holds none.
bool allocate_buffer(StringDescriptor* text, std::int32_t length, std::int32_t proposed) {
    return place_buffer(text, length, proposed, [](std::size_t bytes) { return crt::malloc(bytes); });
}

// The buffer of `text` cannot be kept for `length` bytes. Preserving resizes
// it in place of the old one; otherwise the old one goes first and a fresh one
// is allocated.
bool replace_buffer(StringDescriptor* text, std::int32_t length, std::int32_t proposed, bool preserve) {
    if (preserve)
        return place_buffer(text, length, proposed, [&](std::size_t bytes) { return crt::realloc(text->data, bytes); });
    text_free(text);
    return allocate_buffer(text, length, proposed);
}

// A free node's descriptor is already cleared: the pool starts zeroed, and a
// node goes back on the free list only through pool_give_back, which clears it.
StringDescriptor* hand_out(PoolNode* node) {
    node->in_use = true;
    return &node->descriptor;
}

// Only the first kPoolSize takes without a give-back in between come here.
StringDescriptor* take_never_taken() {
    if (g_pool.never_taken >= kPoolSize) return nullptr;
    return hand_out(&g_pool.nodes[static_cast<std::size_t>(g_pool.never_taken++)]);
}

// A temporary that keeps or replaces the buffer of the descriptor it is made
// from.
StringDescriptor* temp_text_reuse(StringDescriptor* text, std::int32_t length) {
    if (text_reserve(text, length, false) == nullptr) return nullptr;
    text->length |= kTempFlag;
    return text;
}

// The proposed capacity could not be had for a fresh temporary: room for
// exactly `length`, else the descriptor goes back to the pool.
StringDescriptor* temp_text_exact(StringDescriptor* target, std::int32_t length) {
    void* buffer = crt::malloc(static_cast<std::size_t>(length) + 1);
    if (buffer == nullptr) {
        pool_give_back(target);
        return nullptr;
    }
    target->data = static_cast<char*>(buffer);
    target->capacity = length;
    target->length = static_cast<std::uint32_t>(length) | kTempFlag;
    return target;
}

// A temporary made from a fresh pool descriptor, which has no buffer to keep
// or free: it only needs one allocated.
StringDescriptor* fresh_temporary(std::int32_t length) {
    // A negative length, which a reserve refuses, is refused before taking
    // one, and the pool is left as a take and a give-back would leave it.
    if (length < 0) return nullptr;
    StringDescriptor* target = pool_take();
    if (target == nullptr) return nullptr;
    const std::int32_t proposed = proposed_capacity(length);
    void* buffer = crt::malloc(static_cast<std::size_t>(proposed) + 1);
    if (buffer == nullptr) return temp_text_exact(target, length);
    target->data = static_cast<char*>(buffer);
    target->capacity = proposed;
    target->length = static_cast<std::uint32_t>(length) | kTempFlag;
    return target;
}

}  // namespace

StringDescriptor* shared_empty_text() { return &g_empty_text; }

StringDescriptor* pool_take() {
    PoolNode* node = g_pool.free_first;
    if (node == nullptr) return take_never_taken();
    g_pool.free_first = node->next_free;
    return hand_out(node);
}

int pool_give_back(StringDescriptor* text) {
    PoolNode* node = pool_node_of(text);
    // Giving a free node back again would stack it twice and hand it out twice.
    if (node == nullptr || !node->in_use) return -1;
    node->in_use = false;
    node->next_free = g_pool.free_first;
    g_pool.free_first = node;
    node->descriptor = kCleared;
    return 0;
}

// Counted over the nodes when asked: only checks of the pool ask.
int pool_in_use_count() {
    const auto taken = std::span(g_pool.nodes).first(static_cast<std::size_t>(g_pool.never_taken));
    return static_cast<int>(std::ranges::count_if(taken, [](const PoolNode& node) { return node.in_use; }));
}

void text_free(StringDescriptor* text) {
    if (text == nullptr || text->data == nullptr) return;
    crt::free(text->data);
    *text = kCleared;
}

int text_release(StringDescriptor* text) {
    if (text == nullptr) return -1;
    if (is_temporary(*text)) text_free(text);
    return pool_give_back(text);
}

StringDescriptor* text_reserve(StringDescriptor* text, std::int32_t length, bool preserve) {
    if (text == nullptr || length < 0) return nullptr;
    const std::int32_t proposed = proposed_capacity(length);
    const std::int32_t held = text->capacity;
    const bool keep = text->data != nullptr && held >= length && held - held / 8 <= proposed;
    if (!keep && !replace_buffer(text, length, proposed, preserve)) return nullptr;
    text->length = static_cast<std::uint32_t>(length) | (text->length & kTempFlag);
    return text;
}

StringDescriptor* temp_text_alloc(StringDescriptor* text, std::int32_t length) {
    return text != nullptr ? temp_text_reuse(text, length) : fresh_temporary(length);
}

StringDescriptor* text_view(std::string_view bytes) {
    if (bytes.size() > kLengthMask) return shared_empty_text();
    StringDescriptor* view = pool_take();
    if (view == nullptr) return shared_empty_text();
    // A view is never written through: the bytes may be a literal.
    view->data = const_cast<char*>(bytes.data());
    view->length = static_cast<std::uint32_t>(bytes.size());
    view->capacity = static_cast<std::int32_t>(bytes.size());
    return view;
}

StringDescriptor* text_view_cstr(const char* text) {
    return text_view({text, static_cast<std::size_t>(measure(text))});
}

StringDescriptor* text_view_sized(const char* bytes, std::int32_t size) {
    return size > 0 ? text_view({bytes, static_cast<std::size_t>(size - 1)}) : text_view_cstr(bytes);
}

StringDescriptor* text_view_of(const StringDescriptor* text) {
    if (text == nullptr) return shared_empty_text();
    StringDescriptor* view = pool_take();
    if (view == nullptr) return shared_empty_text();
    view->data = text->data;
    view->length = text_length(*text);
    view->capacity = text->capacity;
    return view;
}

void copy_terminated(char* destination, const char* source, std::int32_t count) {
    if (source == nullptr || count <= 0) {
        destination[0] = '\0';
        return;
    }
    std::memmove(destination, source, static_cast<std::size_t>(count));
    destination[count] = '\0';
}

void* text_assign(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill) {
    // Most assignments hand a non-empty flagged temporary's buffer to a
    // descriptor, which needs no measuring and no copying: told apart first,
    // the copying cases are not set up for it.
    if (target != nullptr && target_size == kDescriptorSize && source != nullptr && source_size == kDescriptorSize) {
        auto* source_descriptor = const_cast<StringDescriptor*>(static_cast<const StringDescriptor*>(source));
        if (is_temporary(*source_descriptor) && text_length(*source_descriptor) > 0) {
            take_buffer_over(static_cast<StringDescriptor*>(target), source_descriptor);
            return target;
        }
    }
    return assign_copying(target, target_size, source, source_size, fill);
}

void* text_append(void* target, std::int32_t target_size, const void* source, std::int32_t source_size, bool fill) {
    // A descriptor appended to a descriptor goes straight to the copy.
    if (target != nullptr && target_size == kDescriptorSize && source != nullptr && source_size == kDescriptorSize) {
        auto* source_descriptor = const_cast<StringDescriptor*>(static_cast<const StringDescriptor*>(source));
        if (text_length(*source_descriptor) > 0)
            append_to_descriptor(static_cast<StringDescriptor*>(target), bytes_of(source_descriptor, source_size));
        text_release(source_descriptor);
        return target;
    }
    return append_other(target, target_size, source, source_size, fill);
}

int text_compare(const void* a, std::int32_t size_a, const void* b, std::int32_t size_b) {
    const auto without_buffer = [](const void* text, std::int32_t size) {
        return size == kDescriptorSize && static_cast<const StringDescriptor*>(text)->data == nullptr;
    };
    int result = 0;
    if (a != nullptr && b != nullptr) {
        const Bytes left = bytes_of(a, size_a);
        const Bytes right = bytes_of(b, size_b);
        const std::int32_t common = std::min(left.length, right.length);
        const int bytes_order = common > 0 ? std::memcmp(left.data, right.data, static_cast<std::size_t>(common)) : 0;
        if (bytes_order != 0) {
            result = bytes_order > 0 ? 1 : -1;
        } else if (left.length != right.length) {
            result = left.length > right.length ? 1 : -1;
        }
    } else if (a == nullptr) {
        result = b == nullptr || without_buffer(b, size_b) ? 0 : -1;
    } else {
        result = without_buffer(a, size_a) ? 0 : 1;
    }
    release_argument(a, size_a);
    release_argument(b, size_b);
    return result;
}

StringDescriptor* text_mid(StringDescriptor* text, std::int32_t start, std::int32_t length) {
    StringDescriptor* result = shared_empty_text();
    const std::int64_t total = text != nullptr ? text_length(*text) : 0;
    if (text != nullptr && text->data != nullptr && total > 0 && start >= 1 && start <= total && length != 0) {
        const std::int64_t available = total - start + 1;
        const auto count =
            static_cast<std::int32_t>(length < 0 ? available : std::min<std::int64_t>(length, available));
        if (StringDescriptor* piece = fresh_temporary(count); piece != nullptr) {
            copy_terminated(piece->data, text->data + (start - 1), count);
            result = piece;
        }
    }
    text_release(text);
    return result;
}

StringDescriptor* text_fill(std::int32_t count, char character) {
    if (count <= 0) return shared_empty_text();
    StringDescriptor* text = fresh_temporary(count);
    if (text == nullptr) return shared_empty_text();
    std::memset(text->data, static_cast<unsigned char>(character), static_cast<std::size_t>(count));
    text->data[count] = '\0';
    return text;
}

StringDescriptor* text_fill_first(std::int32_t count, StringDescriptor* text) {
    StringDescriptor* result = shared_empty_text();
    if (count > 0 && text != nullptr && text->data != nullptr && text_length(*text) > 0) {
        result = text_fill(count, text->data[0]);
    }
    text_release(text);
    return result;
}

}  // namespace rt
