#include "runtime/input/line_editor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "runtime/console/console_print.h"
#include "runtime/console/geometry.h"
#include "runtime/core/beep_sleep.h"
#include "runtime/core/characters.h"
#include "runtime/input/keyboard.h"

namespace rt {
namespace {

constexpr std::int32_t kKeyPollMs = 25;
constexpr std::int32_t kTabStop = 8;

enum class EditKey { ignored, backspace, tab, line_end, escape, home, end, left, right, up, down, del, character };

struct EditorKey {
    KeyCode code;
    EditKey action;
};

// The keys with a meaning of their own; every other code from the blank up is
// a character to insert, and everything else is ignored.
constexpr std::array kEditorKeys{
    EditorKey{8, EditKey::backspace},
    EditorKey{9, EditKey::tab},
    EditorKey{10, EditKey::line_end},
    EditorKey{13, EditKey::line_end},
    EditorKey{27, EditKey::escape},
    EditorKey{extended_key(0x47), EditKey::home},
    EditorKey{extended_key(0x4F), EditKey::end},
    EditorKey{extended_key(0x4B), EditKey::left},
    EditorKey{extended_key(0x4D), EditKey::right},
    EditorKey{extended_key(0x48), EditKey::up},
    EditorKey{extended_key(0x50), EditKey::down},
    EditorKey{extended_key(0x53), EditKey::del},
};

// The action of every character code (0 to 255) and of every extended code
// (indexed by E), made from the keys above while compiling, so that a key is
// dispatched by one look.
struct EditorActions {
    std::array<EditKey, 256> characters{};
    std::array<EditKey, 256> extended{};
};

constexpr EditorActions kEditorActions = [] {
    EditorActions actions{};
    for (KeyCode code = 0; code <= 0xFF; ++code)
        actions.characters[static_cast<std::size_t>(code)] = code >= ' ' ? EditKey::character : EditKey::ignored;
    for (const EditorKey& key : kEditorKeys) {
        if (key.code <= 0xFF) {
            actions.characters[static_cast<std::size_t>(key.code)] = key.action;
        } else {
            actions.extended[static_cast<std::size_t>(key.code >> 8)] = key.action;
        }
    }
    return actions;
}();

constexpr EditKey editor_action(KeyCode code) {
    if (code >= 0 && code <= 0xFF) return kEditorActions.characters[static_cast<std::size_t>(code)];
    if (code > 0xFF && (code & 0xFF) == 0xFF && code >> 8 <= 0xFF)
        return kEditorActions.extended[static_cast<std::size_t>(code >> 8)];
    return EditKey::ignored;
}

// The key code a key text stands for: one character, or 255 and an extended code.
KeyCode key_code_of(const StringDescriptor& key) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(key.data[i]); };
    return text_length(key) == 2 ? extended_key(byte(1)) : byte(0);
}

// Blanks printed over the cells a deletion frees, from a constant row of them so that
// blanking needs no temporary and cannot fail.
constexpr auto kBlanks = [] {
    std::array<char, 32> blanks{};
    blanks.fill(kBlank);
    return blanks;
}();

// The remainder of `value` divided by `divisor`, never negative; 0 for a
// divisor below 1.
std::int32_t floor_mod(std::int32_t value, std::int32_t divisor) {
    if (divisor < 1) return 0;
    const std::int32_t remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

void print_blanks(std::int32_t count) {
    constexpr auto most = static_cast<std::int32_t>(kBlanks.size());
    for (; count > 0; count -= most)
        console_print(kBlanks.data(), count < most ? count : most, 0);
}

class LineEditor {
  public:
    LineEditor(StringDescriptor* text, std::span<const std::string_view> prompt) : text_(text), prompt_(prompt) {
        for (const std::string_view piece : prompt_)
            prompt_length_ += static_cast<std::int32_t>(piece.size());
    }

    // Edits the line until Enter or Ctrl+Enter.
    void edit() {
        start();
        KeyCode code = 0;
        do {
            code = next_key();
        } while (code != kCarriageReturn && code != kLineFeed);
        finish();
    }

  private:
    void start() {
        // Text that ended in the bottom-right cell (a prompt as wide as the
        // screen) left its line feed pending; the cursor placements below
        // would cancel it, and the first echo would overwrite that last cell.
        // Carry it out first, so typing starts on a fresh row as it does
        // after text that ends at the edge of any other row.
        if (pending_line_feed()) console_print(nullptr, 0, kConsolePrintStep);
        console_size(&width_, nullptr);
        // Printing scrolls the view, which keeps the rows it had when the
        // screen was first cleared: once the window has grown, its bottom row
        // lies above the window's.
        view_rows(nullptr, &bottom_);
        get_cursor_position(&column_, &row_);
        lead_ = floor_mod(column_ - 1 - prompt_length_, width_);
        saved_visibility_ = (locate(0, 0, kKeepVisibility) & kLocateWasVisible) != 0 ? 1 : 0;
        locate(0, 0, 0);
        length_ = static_cast<std::int32_t>(text_length(*text_));
        point_ = length_;
        if (length_ > 0) console_print(text_->data, length_, 0);
        locate(0, 0, 1);
    }

    // One key: waited for, acted on, redrawn. 0 when the key text could not
    // be had.
    KeyCode next_key() {
        delete_count_ = 0;
        insert_count_ = 0;
        while (key_available() == 0) {
            follow_window();
            await_console_input(kKeyPollMs);
        }
        // A resize that came with the key_text is followed before the key_text acts.
        follow_window();
        StringDescriptor* key_text = read_key_text();
        if (key_text->data == nullptr || text_length(*key_text) == 0) {
            text_release(key_text);
            return 0;
        }
        const KeyCode code = key_code_of(*key_text);
        text_release(key_text);
        get_cursor_position(&column_, &row_);
        act(code);
        if (delete_count_ != 0 || insert_count_ != 0) locate(0, 0, 0);
        if (delete_count_ != 0) delete_at_point();
        if (insert_count_ != 0) insert_at_point();
        locate(0, 0, 1);
        return code;
    }

    void act(KeyCode code) {
        switch (editor_action(code)) {
            case EditKey::backspace:
                if (point_ > 0) {
                    move_point(-1);
                    delete_count_ = 1;
                }
                break;
            case EditKey::tab:
                // Tab stops count characters of the line, not screen columns.
                insert_count_ = ((point_ + kTabStop) & ~(kTabStop - 1)) - point_;
                insert_.fill(' ');
                break;
            case EditKey::escape:
                move_point(-point_);
                delete_count_ = length_;
                break;
            case EditKey::home:
                move_point(-point_);
                break;
            case EditKey::end:
                move_point(length_ - point_);
                break;
            case EditKey::left:
                if (point_ > 0) move_point(-1);
                break;
            case EditKey::right:
                if (point_ < length_) move_point(1);
                break;
            case EditKey::up:
                if (point_ >= width_) move_point(-width_);
                break;
            case EditKey::down:
                if (point_ + width_ <= length_) move_point(width_);
                break;
            case EditKey::del:
                if (point_ < length_) {
                    delete_count_ = 1;
                } else {
                    beep();
                }
                break;
            case EditKey::character:
                insert_[0] = static_cast<char>(code);
                insert_count_ = 1;
                break;
            case EditKey::line_end:
            case EditKey::ignored:
                break;
        }
    }

    void move_cursor(std::int32_t delta) { move_cursor_by(&column_, &row_, delta, width_, bottom_); }

    void move_point(std::int32_t delta) {
        move_cursor(delta);
        point_ += delta;
    }

    // Replaces the `cut` characters at the insertion point with the first
    // `inserted` characters of the insert buffer, in the text's own buffer:
    // only the tail behind them moves, so a key typed at the end of the line
    // costs the same however long the line is. A buffer without room grows by
    // a share of the line's length, so that appending costs constant time on
    // average. When that room cannot be had the text stays as it was, the
    // bell sounds and false is returned.
    bool splice(std::int32_t cut, std::int32_t inserted) {
        const std::int32_t tail_length = length_ - point_ - cut;
        const std::int32_t new_length = length_ - cut + inserted;
        if (inserted > cut && (inserted - cut > static_cast<std::int32_t>(kLengthMask) - length_ ||
                               text_reserve(text_, new_length, true) == nullptr)) {
            beep();
            return false;
        }
        char* at = text_->data + point_;
        std::memmove(at + inserted, at + cut, static_cast<std::size_t>(tail_length));
        std::memcpy(at, insert_.data(), static_cast<std::size_t>(inserted));
        text_->data[new_length] = '\0';
        text_->length = static_cast<std::uint32_t>(new_length) | (text_->length & kTempFlag);
        length_ = new_length;
        return true;
    }

    // The cursor already stands where the deleted characters began.
    void delete_at_point() {
        if (!splice(delete_count_, 0)) return;
        console_print(text_->data + point_, length_ - point_, 0);
        print_blanks(delete_count_);
        locate(row_, column_, kKeepVisibility);
    }

    void insert_at_point() {
        const std::int32_t insert_column = column_;
        const std::int32_t insert_row = row_;
        if (!splice(0, insert_count_)) return;
        const std::int32_t shown = length_ - point_;
        console_print(text_->data + point_, shown, 0);
        get_cursor_position(&column_, &row_);
        // An echo that ends in the bottom-right cell leaves the cursor on that
        // cell with its line feed still to come: the position after the echo
        // is one further on. When the echo has also scrolled, counting from
        // where it began would miss by that cell.
        const std::int32_t past_echo = pending_line_feed() ? 1 : 0;
        if (point_ + insert_count_ == length_) {
            // Going on from where the echo ended also scrolls for a pending
            // line feed; without one the cursor already stands there.
            move_cursor(past_echo);
        } else {
            std::int32_t end_column = insert_column;
            std::int32_t end_row = insert_row;
            advance_position(&end_column, &end_row, shown, width_);
            const bool scrolled = end_row > bottom_ + 1 || (end_row == bottom_ + 1 && end_column > 1);
            if (scrolled) {
                // The start position has moved up with the screen: step back
                // over the tail from where the echo ended instead.
                move_cursor(past_echo - (shown - insert_count_));
            } else {
                move_cursor_from(insert_column, insert_row, insert_count_);
            }
        }
        point_ += insert_count_;
    }

    // Moves the cursor `delta` characters on from (column, row), wherever it
    // stands.
    void move_cursor_from(std::int32_t column, std::int32_t row, std::int32_t delta) {
        column_ = column;
        row_ = row;
        move_cursor(delta);
    }

    // The console's size can change while the line is edited, when the user
    // resizes the terminal window. The console then keeps the cursor's row
    // but cuts rows at the new width, and drops rows from the top below a
    // new height, so the screen no longer shows the line. It is shown again:
    // the prompt's row and the whole line, laid out at the new size, with the
    // cursor at the insertion point.
    void follow_window() {
        window_info_refresh();
        std::int32_t width = 0;
        std::int32_t top = 0;
        std::int32_t bottom = 0;
        console_size(&width, nullptr);
        view_rows(&top, &bottom);
        if (width == width_ && bottom == bottom_) return;
        // The cursor stands at the insertion point, so many rows below the
        // prompt's first row at the old width.
        std::int32_t column = 0;
        std::int32_t row = 0;
        get_cursor_position(&column, &row);
        const std::int64_t before_cursor = std::int64_t{lead_} + prompt_length_ + point_;
        const auto rows_above = static_cast<std::int32_t>(before_cursor / std::max(width_, 1));
        width_ = width;
        bottom_ = bottom;
        // What scrolled off above the view is shown again from its top row.
        column_ = 1;
        row_ = std::max(row - rows_above, top);
        advance_position(&column_, &row_, lead_, width_);
        // Everything from the prompt's first cell to the end of the view
        // belongs to the prompt and the line: blanked, then written afresh.
        locate(row_, column_, 0);
        print_blanks((bottom_ - row_) * width_ + width_ - column_ + 1);
        locate(row_, column_, kKeepVisibility);
        for (const std::string_view piece : prompt_)
            console_print(piece.data(), static_cast<std::int32_t>(piece.size()), 0);
        console_print(text_->data, length_, 0);
        get_cursor_position(&column_, &row_);
        // Back over the tail from where the line ended, one cell past the
        // last one when the line filled the view's last cell.
        move_cursor((pending_line_feed() ? 1 : 0) - (length_ - point_));
        locate(0, 0, 1);
    }

    void finish() {
        get_cursor_position(&column_, &row_);
        move_cursor(length_ - point_);
        locate(0, 0, saved_visibility_);
    }

    StringDescriptor* text_;
    // What stands before the line on the screen, from its first cell: the
    // prompt, shown again with the line after a resize.
    std::span<const std::string_view> prompt_;
    std::int32_t prompt_length_ = 0;
    // The cells before the prompt on its first row.
    std::int32_t lead_ = 0;
    std::int32_t length_ = 0;
    std::int32_t point_ = 0;  // characters of the text before the cursor
    std::int32_t width_ = 0;
    std::int32_t bottom_ = 0;  // the print view's last row
    std::int32_t column_ = 0;
    std::int32_t row_ = 0;
    std::int32_t saved_visibility_ = 0;
    // What the current key inserts: one character, or up to 8 blanks for Tab.
    std::array<char, kTabStop + 1> insert_{};
    std::int32_t insert_count_ = 0;
    std::int32_t delete_count_ = 0;
};

}  // namespace

void edit_line(StringDescriptor* text, std::span<const std::string_view> prompt) {
    if (text == nullptr) return;
    LineEditor(text, prompt).edit();
}

StringDescriptor* edit_new_line(std::span<const std::string_view> prompt) {
    StringDescriptor* line = pool_take();
    if (line != nullptr) edit_line(line, prompt);
    return line;
}

}  // namespace rt
