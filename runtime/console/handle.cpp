#include "runtime/console/handle.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/console_api.h"
#include "runtime/console/console_print.h"
#include "runtime/console/geometry.h"
#include "runtime/core/context.h"

namespace rt {
namespace {

// Further records 0 to 255; index 255 has no handle number.
inline constexpr int kFurtherHandleCount = 256;
inline constexpr std::int32_t kLastFurtherNumber = 254;

struct HandleTable {
    ConsoleHandle console;
    std::array<ConsoleHandle, kFurtherHandleCount> further;
};

HandleTable g_handles;
HandleOps g_console_ops;

// Stands in for the console's key buffer when it cannot be allocated, so that
// the console's read operation always finds one.
ConsoleKeyBuffer g_key_buffer_fallback;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kZoneBlanks = "              ";
static_assert(kZoneBlanks.size() == kPrintZoneWidth);

bool is_open(const ConsoleHandle* handle) { return handle != nullptr && handle->ops != nullptr; }

// The record whose line_length and width stand for the handle. A chain longer
// than the table can only be a loop, and is followed no further than that.
ConsoleHandle& line_owner(ConsoleHandle& handle) {
    ConsoleHandle* owner = &handle;
    for (int step = 0; owner->redirect != nullptr && step <= kFurtherHandleCount; ++step)
        owner = owner->redirect;
    return *owner;
}

void update_line_length(ConsoleHandle& handle, std::string_view bytes) {
    ConsoleHandle& owner = line_owner(handle);
    // The line length counts from the last CR or LF.
    const auto after_end = std::find_if(bytes.rbegin(), bytes.rend(),
                                        [](char byte) { return byte == kLineEnd[0] || byte == kLineEnd[1]; });
    const std::int64_t since_end = after_end - bytes.rbegin();
    const std::int64_t length = after_end == bytes.rend() ? since_end + owner.line_length : since_end;
    owner.line_length = owner.width != 0 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(length) % owner.width)
                                         : static_cast<std::int32_t>(length);
}

// A record handle is left at a record boundary: whatever of the current record
// the transfer did not use is skipped through the seek slot, after dropping
// put-back bytes, which come first in the input.
std::int32_t skip_to_record_end(ConsoleHandle& handle, std::int32_t transferred) {
    if (handle.kind != HandleKind::records || handle.record_length == 0) return kErrorNone;
    const std::uint32_t used = static_cast<std::uint32_t>(transferred) % handle.record_length;
    if (used == 0) return kErrorNone;
    std::uint32_t rest = handle.record_length - used;
    const std::uint32_t dropped = std::min(rest, handle.put_back_count);
    std::memmove(handle.put_back.data(), handle.put_back.data() + dropped, handle.put_back_count - dropped);
    handle.put_back_count -= dropped;
    rest -= dropped;
    if (rest == 0) return kErrorNone;
    if (handle.ops->seek == nullptr) return kErrorIllegalCall;
    return handle.ops->seek(&handle, static_cast<std::int32_t>(rest), 1);
}

// Put-back bytes into `destination`, front first; the characters delivered. A
// 16-bit handle holds two bytes per character and delivers the low byte.
std::int32_t take_put_back(ConsoleHandle& handle, char* destination, std::int32_t wanted) {
    const std::uint32_t unit = handle.wide != 0 ? 2 : 1;
    const std::uint32_t held = handle.put_back_count / unit;
    const std::uint32_t taken = std::min(static_cast<std::uint32_t>(std::max(wanted, 0)), held);
    for (std::uint32_t i = 0; i < taken; ++i)
        destination[i] = handle.put_back[i * unit];
    const std::uint32_t used = taken * unit;
    std::memmove(handle.put_back.data(), handle.put_back.data() + used, handle.put_back_count - used);
    handle.put_back_count -= used;
    return static_cast<std::int32_t>(taken);
}

}  // namespace

ConsoleHandle* handle_from_number(std::int32_t number) {
    if (number == 0) return &g_handles.console;
    if (number == -1) return &g_handles.further[0];
    if (number >= 1 && number <= kLastFurtherNumber) return &g_handles.further[static_cast<std::size_t>(number)];
    return nullptr;
}

ConsoleHandle& console_handle() { return g_handles.console; }
HandleOps& console_handle_ops() { return g_console_ops; }

void handle_table_reset() {
    if (g_handles.console.private_data != &g_key_buffer_fallback) crt::free(g_handles.console.private_data);
    g_handles = HandleTable{};
    g_console_ops = HandleOps{};
}

void print_text(std::int32_t number, StringDescriptor* text, std::int32_t flags) {
    ConsoleHandle* handle = handle_from_number(number);
    if (text != nullptr && text->data != nullptr && text_length(*text) != 0)
        print_bytes(handle, text->data, static_cast<std::int32_t>(text_length(*text)));
    print_finish(handle, flags);
    text_release(text);
}

void print_cstr(std::int32_t number, const char* text, std::int32_t flags) {
    ConsoleHandle* handle = handle_from_number(number);
    if (text != nullptr && text[0] != '\0') print_bytes(handle, text, static_cast<std::int32_t>(std::strlen(text)));
    print_finish(handle, flags);
}

void print_finish(std::int32_t number, std::int32_t flags) { print_finish(handle_from_number(number), flags); }

void print_finish(ConsoleHandle* handle, std::int32_t flags) {
    if ((flags & (kPrintLineEnd | kPrintLineEndToo)) != 0)
        print_bytes(handle, kLineEnd.data(), static_cast<std::int32_t>(kLineEnd.size()));
    else if ((flags & kPrintNextZone) != 0)
        print_next_zone(handle);
}

void print_next_zone(ConsoleHandle* handle) {
    ensure_console_write();
    if (handle == nullptr) {
        set_error_number(kErrorIllegalCall);
        return;
    }
    const ConsoleHandle& owner = line_owner(*handle);
    const std::int32_t column = owner.line_length + 1;
    std::int32_t next = kPrintZoneWidth * ((owner.line_length + kPrintZoneWidth) / kPrintZoneWidth) + 1;
    // Compared unsigned, so a width below one zone never starts a new line.
    if (owner.width != 0 && static_cast<std::uint32_t>(next) > owner.width - kPrintZoneWidth) next = 1;
    if (next <= column)
        print_bytes(handle, kLineEnd.data(), static_cast<std::int32_t>(kLineEnd.size()));
    else
        print_bytes(handle, kZoneBlanks.data(), std::min(next - column, kPrintZoneWidth));
}

std::int32_t print_bytes(ConsoleHandle* handle, const char* bytes, std::int32_t count) {
    ensure_console_write();
    if (!is_open(handle)) return set_error_number(kErrorIllegalCall);
    return handle_write(handle, 0, bytes, count, true, true);
}

std::int32_t handle_write(ConsoleHandle* handle, std::int32_t position, const char* bytes, std::int32_t count,
                          bool pad_record, bool track_line) {
    if (!is_open(handle)) return set_error_number(kErrorIllegalCall);
    set_error_number(kErrorNone);
    handle->put_back_count = 0;
    if (bytes == nullptr || count < 0) count = 0;
    std::int32_t error = position > 0 ? handle_seek(handle, position) : kErrorNone;
    if (error == kErrorNone)
        error = handle->ops->write != nullptr ? handle->ops->write(handle, bytes, count) : kErrorIllegalCall;
    if (error == kErrorNone && pad_record) error = skip_to_record_end(*handle, count);
    if (error == kErrorNone && track_line) update_line_length(*handle, {bytes, static_cast<std::size_t>(count)});
    return set_error_number(error);
}

std::int32_t handle_read(ConsoleHandle* handle, std::int32_t position, char* destination, std::int32_t* count,
                         bool skip_record) {
    if (!is_open(handle)) return set_error_number(kErrorIllegalCall);
    set_error_number(kErrorNone);
    const std::int32_t wanted = destination != nullptr && count != nullptr ? std::max(*count, 0) : 0;
    std::int32_t error = position > 0 ? handle_seek(handle, position) : kErrorNone;
    std::int32_t delivered = 0;
    if (error == kErrorNone) delivered = take_put_back(*handle, destination, wanted);
    if (error == kErrorNone && delivered < wanted) {
        std::int32_t more = wanted - delivered;
        if (handle->ops->read == nullptr) {
            error = kErrorIllegalCall;
        } else {
            error = handle->ops->read(handle, destination + delivered, &more);
            // A slot cannot deliver more than it was given room for.
            delivered += std::clamp(more, 0, wanted - delivered);
        }
    }
    if (error == kErrorNone && skip_record) error = skip_to_record_end(*handle, delivered);
    if (count != nullptr) *count = delivered;
    return set_error_number(error);
}

std::int32_t handle_put_back(ConsoleHandle* handle, const char* bytes, std::int32_t count) {
    if (!is_open(handle)) return set_error_number(kErrorIllegalCall);
    set_error_number(kErrorNone);
    if (bytes == nullptr || count < 0) count = 0;
    const std::uint32_t unit = handle->wide != 0 ? 2 : 1;
    const std::uint32_t size = static_cast<std::uint32_t>(count) * unit;
    if (size > kPutBackSize - handle->put_back_count) return set_error_number(kErrorPutBackFull);
    std::memmove(handle->put_back.data() + size, handle->put_back.data(), handle->put_back_count);
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(count); ++i) {
        handle->put_back[i * unit] = bytes[i];
        // The high byte of a 16-bit character: the byte sign-extended.
        if (unit == 2) handle->put_back[i * unit + 1] = bytes[i] < 0 ? '\xFF' : '\0';
    }
    handle->put_back_count += size;
    return kErrorNone;
}

std::int32_t handle_seek(ConsoleHandle* handle, std::int32_t position) {
    if (!is_open(handle)) return set_error_number(kErrorIllegalCall);
    handle->put_back_count = 0;
    std::int32_t offset = position - 1;
    if (handle->kind == HandleKind::records) offset *= static_cast<std::int32_t>(handle->record_length);
    if (handle->ops->seek == nullptr) return set_error_number(kErrorIllegalCall);
    return set_error_number(handle->ops->seek(handle, offset, 0));
}

namespace {

// The console handle's set-up, on its first use.
void set_up_console_handle() {
    ConsoleHandle& console = g_handles.console;
    console = ConsoleHandle{};
    console.kind = HandleKind::console;
    auto* keys = static_cast<ConsoleKeyBuffer*>(crt::calloc(1, sizeof(ConsoleKeyBuffer)));
    if (keys == nullptr) {
        keys = &g_key_buffer_fallback;
        keys->count = 0;
    }
    console.private_data = keys;
    std::int32_t width = 0;
    console_size(&width, nullptr);
    console.width = static_cast<std::uint32_t>(std::max(width, 0));
    // Without a console window the column is not converted and can be 0;
    // the print column is never left of the first.
    console.line_length = std::max(cursor_column() - 1, 0);
    console.ops = &g_console_ops;
}

}  // namespace

void ensure_console_handle() {
    if (g_handles.console.ops == nullptr) set_up_console_handle();
}

void ensure_console_write() {
    ensure_console_handle();
    if (g_console_ops.write == nullptr) g_console_ops.write = console_write;
}

std::int32_t console_write(ConsoleHandle*, const char* bytes, std::int32_t count) {
    console_print(bytes, count, 0);
    set_error_number(kErrorNone);
    return kErrorNone;
}

}  // namespace rt
