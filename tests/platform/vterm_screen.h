// A terminal emulator screen for tests: bytes a program sends to its terminal
// go in, the cells, cursor and scrollback the user would see come out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/console_api.h"

struct VTerm;
struct VTermScreen;

namespace platform {

class VtermScreen {
  public:
    VtermScreen(int cols, int rows);
    ~VtermScreen();
    VtermScreen(const VtermScreen&) = delete;
    VtermScreen& operator=(const VtermScreen&) = delete;

    // Bytes as the terminal receives them (UTF-8).
    void feed(std::string_view bytes);
    // The terminal was resized (the emulator keeps its contents as it sees fit).
    void resize(int cols, int rows);

    int cols() const { return cols_; }
    int rows() const { return rows_; }

    // The character shown in a cell; U+0020 for a cell never written.
    char32_t glyph(int x, int y) const;
    // The cell's colours as a console attribute: default colours count as
    // attribute 7 (light grey on black), the 16 standard colours as their
    // console numbers. 0xFFFF for a colour outside those.
    WORD attr(int x, int y) const;
    // Row y's characters, all columns.
    std::u32string line(int y) const;
    // Row y as UTF-8 without trailing blanks.
    std::string text(int y) const;

    int cursor_x() const;
    int cursor_y() const;
    bool cursor_visible() const { return cursor_visible_; }

    // Lines that scrolled off the top, oldest first, all columns.
    const std::vector<std::u32string>& scrollback() const { return scrollback_; }
    int bells() const { return bells_; }
    // What the terminal would answer the program (replies to queries such as
    // device attributes), taken since the last call.
    std::string take_replies();

  private:
    struct Callbacks;

    VTerm* vt_;
    VTermScreen* screen_;
    int cols_;
    int rows_;
    bool cursor_visible_ = true;
    std::vector<std::u32string> scrollback_;
    int bells_ = 0;
    std::string replies_;
};

// UTF-8 of a string of code points.
std::string to_utf8(std::u32string_view text);

}  // namespace platform
