#include "tests/platform/vterm_screen.h"

#include <vterm.h>

#include <utility>

namespace platform {
namespace {

constexpr WORD kUnknownColour = 0xFFFF;

char32_t cell_glyph(const VTermScreenCell& cell) { return cell.chars[0] == 0 ? U' ' : cell.chars[0]; }

// ANSI colour numbers are red 1, green 2, blue 4; console ones blue 1,
// green 2, red 4. Bit 3 (bright) is the same in both.
WORD console_colour(int ansi) {
    return static_cast<WORD>((ansi & 8) | ((ansi & 1) << 2) | (ansi & 2) | ((ansi & 4) >> 2));
}

}  // namespace

struct VtermScreen::Callbacks {
    static int settermprop(VTermProp prop, VTermValue* value, void* user) {
        if (prop == VTERM_PROP_CURSORVISIBLE) static_cast<VtermScreen*>(user)->cursor_visible_ = value->boolean != 0;
        return 1;
    }
    static int bell(void* user) {
        ++static_cast<VtermScreen*>(user)->bells_;
        return 1;
    }
    static int sb_pushline(int cols, const VTermScreenCell* cells, void* user) {
        std::u32string line;
        for (int x = 0; x < cols; ++x)
            line += cell_glyph(cells[x]);
        static_cast<VtermScreen*>(user)->scrollback_.push_back(std::move(line));
        return 1;
    }
    static void output(const char* bytes, size_t length, void* user) {
        static_cast<VtermScreen*>(user)->replies_.append(bytes, length);
    }
};

VtermScreen::VtermScreen(int cols, int rows) : vt_(vterm_new(rows, cols)), cols_(cols), rows_(rows) {
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &Callbacks::output, this);
    screen_ = vterm_obtain_screen(vt_);
    static const VTermScreenCallbacks callbacks = {
        .damage = nullptr,
        .moverect = nullptr,
        .movecursor = nullptr,
        .settermprop = &Callbacks::settermprop,
        .bell = &Callbacks::bell,
        .resize = nullptr,
        .sb_pushline = &Callbacks::sb_pushline,
        .sb_popline = nullptr,
    };
    vterm_screen_set_callbacks(screen_, &callbacks, this);
    vterm_screen_reset(screen_, 1);
}

VtermScreen::~VtermScreen() { vterm_free(vt_); }

void VtermScreen::feed(std::string_view bytes) {
    vterm_input_write(vt_, bytes.data(), bytes.size());
    vterm_screen_flush_damage(screen_);
}

void VtermScreen::resize(int cols, int rows) {
    vterm_set_size(vt_, rows, cols);
    cols_ = cols;
    rows_ = rows;
}

char32_t VtermScreen::glyph(int x, int y) const {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{y, x}, &cell);
    return cell_glyph(cell);
}

WORD VtermScreen::attr(int x, int y) const {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{y, x}, &cell);
    VTermState* state = vterm_obtain_state(vt_);
    // Indexed colours may come back as the palette's RGB values.
    auto colour = [state](const VTermColor& c, WORD default_colour) -> WORD {
        if ((c.type & (VTERM_COLOR_DEFAULT_FG | VTERM_COLOR_DEFAULT_BG)) != 0) return default_colour;
        if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx < 16 ? console_colour(c.indexed.idx) : kUnknownColour;
        for (int i = 0; i < 16; ++i) {
            VTermColor entry{};
            vterm_state_get_palette_color(state, i, &entry);
            if (vterm_color_is_equal(&entry, &c)) return console_colour(i);
        }
        return kUnknownColour;
    };
    const WORD fg = colour(cell.fg, 7);
    const WORD bg = colour(cell.bg, 0);
    if (fg == kUnknownColour || bg == kUnknownColour) return kUnknownColour;
    return static_cast<WORD>(fg | (bg << 4));
}

std::u32string VtermScreen::line(int y) const {
    std::u32string result;
    for (int x = 0; x < cols_; ++x)
        result += glyph(x, y);
    return result;
}

std::string VtermScreen::text(int y) const {
    std::u32string glyphs = line(y);
    glyphs.erase(glyphs.find_last_not_of(U' ') + 1);
    return to_utf8(glyphs);
}

int VtermScreen::cursor_x() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.col;
}

int VtermScreen::cursor_y() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.row;
}

std::string VtermScreen::take_replies() { return std::exchange(replies_, {}); }

std::string to_utf8(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace platform
