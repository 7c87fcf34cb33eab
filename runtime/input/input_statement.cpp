#include "runtime/input/input_statement.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "runtime/console/console_print.h"
#include "runtime/core/characters.h"
#include "runtime/core/console_hooks.h"
#include "runtime/core/context.h"
#include "runtime/input/keyboard.h"
#include "runtime/input/line_editor.h"

namespace rt {
namespace {

constexpr std::int32_t kQuote = '"';
constexpr std::int32_t kComma = ',';

enum class CharClass { blank, line_feed, carriage_return, quote, comma, other };

constexpr CharClass classify(std::int32_t character) {
    switch (character) {
        case kBlank:
        case kTab:
            return CharClass::blank;
        case kLineFeed:
            return CharClass::line_feed;
        case kCarriageReturn:
            return CharClass::carriage_return;
        case kQuote:
            return CharClass::quote;
        case kComma:
            return CharClass::comma;
        default:
            return CharClass::other;
    }
}

enum class FieldAction {
    store,
    drop,         // not stored, the field goes on
    end,          // the character is consumed and ends the field
    end_at_cr,    // also consumes an LF right behind the CR
    close_quote,  // text mode: the field ends, what follows the quote is dealt with
    quote_off,    // number mode: quoting ends, the field goes on
    quote_on,
};

// A condition of a rule: either way, or only when it holds, or only when not.
enum class When { any, yes, no };

constexpr bool matches(When when, bool value) { return when == When::any || (when == When::yes) == value; }

struct FieldRule {
    CharClass character;
    When in_quotes;
    When stored;  // something of the field is stored already
    When text_mode;
    FieldAction action;
};

// The first rule that matches decides.
constexpr std::array kFieldRules{
    FieldRule{CharClass::blank, When::yes, When::no, When::yes, FieldAction::store},
    FieldRule{CharClass::blank, When::any, When::no, When::any, FieldAction::drop},
    FieldRule{CharClass::blank, When::any, When::yes, When::yes, FieldAction::store},
    FieldRule{CharClass::blank, When::yes, When::yes, When::any, FieldAction::store},
    FieldRule{CharClass::blank, When::no, When::yes, When::no, FieldAction::end},
    FieldRule{CharClass::line_feed, When::any, When::any, When::any, FieldAction::end},
    FieldRule{CharClass::carriage_return, When::any, When::any, When::any, FieldAction::end_at_cr},
    FieldRule{CharClass::quote, When::yes, When::any, When::yes, FieldAction::close_quote},
    FieldRule{CharClass::quote, When::yes, When::any, When::no, FieldAction::quote_off},
    FieldRule{CharClass::quote, When::no, When::no, When::any, FieldAction::quote_on},
    FieldRule{CharClass::quote, When::no, When::yes, When::any, FieldAction::store},
    FieldRule{CharClass::comma, When::yes, When::any, When::any, FieldAction::store},
    FieldRule{CharClass::comma, When::no, When::any, When::any, FieldAction::end},
    FieldRule{CharClass::other, When::any, When::any, When::any, FieldAction::store},
};

constexpr const FieldRule* find_field_rule(CharClass character, bool in_quotes, bool stored, bool text_mode) {
    for (const FieldRule& rule : kFieldRules) {
        if (rule.character == character && matches(rule.in_quotes, in_quotes) && matches(rule.stored, stored) &&
            matches(rule.text_mode, text_mode)) {
            return &rule;
        }
    }
    return nullptr;
}

// Every field's every character asks for its action: the rules are looked up
// once for each case while compiling. A case that no rule matches stops the
// compile here.
constexpr std::array kCharClasses{CharClass::blank, CharClass::line_feed, CharClass::carriage_return,
                                  CharClass::quote, CharClass::comma,     CharClass::other};

constexpr std::size_t action_index(CharClass character, bool in_quotes, bool stored, bool text_mode) {
    return static_cast<std::size_t>(character) * 8 + (in_quotes ? 4u : 0u) + (stored ? 2u : 0u) + (text_mode ? 1u : 0u);
}

constexpr auto kFieldActions = [] {
    std::array<FieldAction, kCharClasses.size() * 8> actions{};
    for (const CharClass character : kCharClasses) {
        for (const bool in_quotes : {false, true}) {
            for (const bool stored : {false, true}) {
                for (const bool text_mode : {false, true}) {
                    actions[action_index(character, in_quotes, stored, text_mode)] =
                        find_field_rule(character, in_quotes, stored, text_mode)->action;
                }
            }
        }
    }
    return actions;
}();

FieldAction field_action(std::int32_t character, bool in_quotes, bool stored, FieldMode mode) {
    return kFieldActions[action_index(classify(character), in_quotes, stored, mode == FieldMode::text)];
}

// After a CR: an LF right behind it belongs to the same line end; anything
// else is put back for the next reader. The end of input is never put back.
void consume_line_feed_after_cr(InputContext* context) {
    const std::int32_t next = input_next_char(context);
    if (next != kLineFeed && next != kEndOfInput) input_put_back_char(context, next);
}

// Behind a closing quote: blanks and one delimiter belong to the quoted field.
void finish_quoted_field(InputContext* context, std::int32_t character) {
    while (character == kBlank || character == kTab)
        character = input_next_char(context);
    if (character == kLineFeed || character == kComma || character == kEndOfInput) return;
    if (character == kCarriageReturn) {
        consume_line_feed_after_cr(context);
    } else {
        input_put_back_char(context, character);
    }
}

// A source handle that is not open is no source: the kept line is read.
bool reads_handle(const InputContext* context) { return context->source != nullptr && context->source->ops != nullptr; }

// The next character read through the source handle, or kEndOfInput.
std::int32_t next_char_of_handle(ConsoleHandle* source) {
    char byte = 0;
    std::int32_t count = 1;
    if (handle_read(source, 0, &byte, &count, false) != kErrorNone || count < 1) return kEndOfInput;
    return static_cast<unsigned char>(byte);
}

ConsoleKeyBuffer* key_buffer_of(ConsoleHandle* handle) {
    while (handle->redirect != nullptr)
        handle = handle->redirect;
    return static_cast<ConsoleKeyBuffer*>(handle->private_data);
}

void console_read_refill(ConsoleKeyBuffer& keys) {
    StringDescriptor* key_text = read_key_text();
    const auto count = std::min(text_length(*key_text), static_cast<std::uint32_t>(keys.bytes.size()));
    if (count > 0) std::memcpy(keys.bytes.data(), key_text->data, count);
    keys.count = count;
    text_release(key_text);
}

}  // namespace

InputContext* input_context() {
    return static_cast<InputContext*>(context_slot(kInputContextSlot, sizeof(InputContext)));
}

void input_statement(StringDescriptor* prompt, std::int32_t add_question_mark, std::int32_t add_newline) {
    ensure_console_read();
    InputContext* context = input_context();
    if (context == nullptr) {
        // Without the record there is nowhere to keep a line, so none is read:
        // keys typed stay queued for whoever reads next.
        text_release(prompt);
        set_error_number(kErrorNoLine);
        return;
    }
    context->source = nullptr;
    context->status = 0;
    context->position = 0;
    const auto routine = console_hooks.input_routine != nullptr ? console_hooks.input_routine : default_input_routine;
    routine(prompt, &context->text, kDescriptorSize, false, add_question_mark, add_newline);
}

std::int32_t default_input_routine(StringDescriptor* prompt, void* target, std::int32_t target_size, bool fill,
                                   std::int32_t add_question_mark, std::int32_t add_newline) {
    // A pending line feed is carried out first, so the prompt and the line
    // start where the next character will appear.
    console_print(nullptr, 0, kConsolePrintStep);
    // The editor shows the prompt again when the console changes size, so
    // the prompt is kept until the line has been read.
    std::array<std::string_view, 2> shown{};
    if (prompt != nullptr) {
        shown[0] = text_chars(*prompt);
        if (!shown[0].empty())
            print_bytes(handle_from_number(0), shown[0].data(), static_cast<std::int32_t>(shown[0].size()));
        if (add_question_mark != 0) {
            shown[1] = "? ";
            print_cstr(0, shown[1].data(), 0);
        }
    }
    StringDescriptor* line = edit_new_line(shown);
    text_release(prompt);
    // From here on the line is a temporary that owns its buffer, so assigning
    // it hands the buffer over.
    if (line != nullptr) line->length |= kTempFlag;
    if (add_newline != 0) console_print("\r\n", 2, 0);
    if (line == nullptr) return set_error_number(kErrorNoLine);
    text_assign(target, target_size, line, kDescriptorSize, fill);
    return set_error_number(kErrorNone);
}

std::int32_t input_text_field(void* target, std::int32_t target_size, bool fill) {
    std::array<char, kMaxFieldLength + 1> field;
    extract_field(field, kMaxFieldLength, FieldMode::text);
    text_assign(target, target_size, field.data(), kZeroTerminatedSize, fill);
    return set_error_number(kErrorNone);
}

void extract_field(std::span<char> buffer, std::int32_t maximum, FieldMode mode) {
    if (buffer.empty()) return;
    const std::int32_t limit = std::clamp<std::int32_t>(
        maximum, 0, static_cast<std::int32_t>(std::min<std::size_t>(buffer.size() - 1, kLengthMask)));
    InputContext* context = input_context();
    buffer[0] = '\0';
    // A field with no room takes nothing from the input.
    if (context == nullptr || limit == 0) return;

    std::int32_t character = input_next_char(context);
    while (character == kBlank || character == kTab || character == kCarriageReturn || character == kLineFeed) {
        character = input_next_char(context);
    }

    std::int32_t count = 0;
    bool in_quotes = false;
    bool quote_closed = false;
    while (character != kEndOfInput) {
        bool ended = false;
        switch (field_action(character, in_quotes, count > 0, mode)) {
            case FieldAction::store:
                buffer[static_cast<std::size_t>(count++)] = static_cast<char>(character);
                break;
            case FieldAction::drop:
                break;
            case FieldAction::end:
                ended = true;
                break;
            case FieldAction::end_at_cr:
                consume_line_feed_after_cr(context);
                ended = true;
                break;
            case FieldAction::close_quote:
                in_quotes = false;
                character = input_next_char(context);
                quote_closed = true;
                ended = true;
                break;
            case FieldAction::quote_off:
                in_quotes = false;
                break;
            case FieldAction::quote_on:
                in_quotes = true;
                break;
        }
        // At the limit the next character is left for a later field.
        if (ended || count >= limit) break;
        character = input_next_char(context);
    }
    buffer[static_cast<std::size_t>(count)] = '\0';
    if (quote_closed) finish_quoted_field(context, character);
}

std::int32_t input_next_char(InputContext* context) {
    if (reads_handle(context)) return next_char_of_handle(context->source);
    if (context->position < 0 || static_cast<std::uint32_t>(context->position) >= text_length(context->text)) {
        return kEndOfInput;
    }
    return static_cast<unsigned char>(context->text.data[context->position++]);
}

std::int32_t input_put_back_char(InputContext* context, std::int32_t character) {
    if (reads_handle(context)) {
        const char byte = static_cast<char>(character);
        return handle_put_back(context->source, &byte, 1);
    }
    if (context->position <= 0) return 0;
    --context->position;
    return 1;
}

void ensure_console_read() {
    ensure_console_handle();
    HandleOps& ops = console_handle_ops();
    if (ops.read == nullptr) ops.read = console_read;
}

std::int32_t console_read(ConsoleHandle* handle, char* destination, std::int32_t* count) {
    const std::int32_t wanted = count != nullptr ? std::max(*count, 0) : 0;
    ConsoleKeyBuffer* keys = handle != nullptr ? key_buffer_of(handle) : nullptr;
    std::int32_t delivered = 0;
    while (keys != nullptr && delivered < wanted) {
        if (keys->count == 0) {
            console_read_refill(*keys);
            if (keys->count == 0) break;
        }
        const auto taken = std::min<std::uint32_t>(keys->count, static_cast<std::uint32_t>(wanted - delivered));
        std::memcpy(destination + delivered, keys->bytes.data(), taken);
        std::memmove(keys->bytes.data(), keys->bytes.data() + taken, keys->count - taken);
        keys->count -= taken;
        delivered += static_cast<std::int32_t>(taken);
    }
    if (delivered < wanted) std::memset(destination + delivered, 0, static_cast<std::size_t>(wanted - delivered));
    if (count != nullptr) *count = delivered;
    return set_error_number(kErrorNone);
}

}  // namespace rt
