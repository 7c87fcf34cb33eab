// Random key sequences on a narrow console: after every key the cells from
// where the line began show exactly the line and then blanks, the cursor
// stands at the insertion point, and the line ends up as the keys made it.
// Built with the sanitizers, it also shows that no key reads or writes outside
// the text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/input/line_editor.h"
#include "tests/runtime/input/line_input_fixture.h"

namespace {

using namespace rt_testing;

constexpr int kWidth = 7;
constexpr int kHeight = 5;
// The line starts on the middle row after a three-column prompt.
constexpr int kStartRow = 2;
constexpr int kStartColumn = 3;
// Longer lines could push their start above the top row, where no cursor can
// follow; scrolling still happens well before this.
constexpr std::size_t kMaxLength = kWidth * (kHeight - 1) - 1;

// What the keys do to the line, stated plainly.
struct ExpectedLine {
    std::string text;
    std::size_t point = 0;

    void apply(rt::KeyCode key) {
        const std::size_t width = kWidth;
        if (key == kBackspace && point > 0) {
            text.erase(--point, 1);
        } else if (key == kTab) {
            insert(std::string(8 - point % 8, ' '));
        } else if (key == kEscape) {
            text.clear();
            point = 0;
        } else if (key == kHome) {
            point = 0;
        } else if (key == kEnd) {
            point = text.size();
        } else if (key == kLeft && point > 0) {
            --point;
        } else if (key == kRight && point < text.size()) {
            ++point;
        } else if (key == kUp && point >= width) {
            point -= width;
        } else if (key == kDown && point + width <= text.size()) {
            point += width;
        } else if (key == kDelete && point < text.size()) {
            text.erase(point, 1);
        } else if (key >= ' ' && key <= 0xFF) {
            insert(std::string(1, static_cast<char>(key)));
        }
    }
    void insert(const std::string& characters) {
        text.insert(point, characters);
        point += characters.size();
    }
    std::size_t inserted_by(rt::KeyCode key) const {
        if (key == kTab) return 8 - point % 8;
        return key >= ' ' && key <= 0xFF ? 1 : 0;
    }
};

constexpr std::array kEditingKeys{kBackspace, kTab, kEscape, kHome, kEnd, kLeft, kRight, kUp, kDown, kDelete};
constexpr std::array kIgnoredKeys{rt::extended_key(0x52), rt::extended_key(0x3B), rt::kCloseKey, rt::KeyCode{1},
                                  rt::KeyCode{31}};

class LineEditorFuzz : public LineInputTest {
  protected:
    LineEditorFuzz() : LineInputTest(kWidth, kHeight) {}

    rt::KeyCode random_key(std::mt19937& random, const ExpectedLine& line) {
        const auto pick = std::uniform_int_distribution<int>(0, 99)(random);
        rt::KeyCode key = 0;
        if (pick < 45) {
            key = std::uniform_int_distribution<rt::KeyCode>(' ', 0xFF)(random);
        } else if (pick < 95) {
            key = kEditingKeys[std::uniform_int_distribution<std::size_t>(0, kEditingKeys.size() - 1)(random)];
            // Escape empties the line: rarely, so that lines grow.
            if (key == kEscape && pick % 4 != 0) key = kLeft;
        } else {
            key = kIgnoredKeys[std::uniform_int_distribution<std::size_t>(0, kIgnoredKeys.size() - 1)(random)];
        }
        return line.text.size() + line.inserted_by(key) > kMaxLength ? kDelete : key;
    }

    // The line as the console shows it: from where it starts now (the
    // cursor's cell less the insertion point) to the last cell, and where
    // that start is.
    void expect_shown(const ExpectedLine& line, const std::string& trace) {
        const int cursor = cursor_y() * kWidth + cursor_x();
        const int start = cursor - static_cast<int>(line.point);
        // The start only ever moves up by whole rows, as the screen scrolls.
        ASSERT_GE(start, 0) << trace;
        ASSERT_EQ((kStartRow * kWidth + kStartColumn - start) % kWidth, 0) << trace;
        std::string expected = line.text;
        expected.resize(static_cast<std::size_t>(kWidth * kHeight - start), ' ');
        ASSERT_EQ(screen_cells().substr(static_cast<std::size_t>(start)), expected) << trace;
        ASSERT_TRUE(console_.cursor_visible()) << trace;
    }
};

TEST_F(LineEditorFuzz, TheScreenAlwaysShowsTheLine) {
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        std::mt19937 random(seed);
        clear_screen(kStartRow, 0);
        rt::console_print("ab>", 3, 0);

        ExpectedLine line;
        std::ostringstream trace;
        trace << "seed " << seed << " keys";
        const int keys = std::uniform_int_distribution<int>(1, 80)(random);
        std::vector<std::function<void()>> steps;
        for (int i = 0; i < keys; ++i) {
            steps.emplace_back([&, this] {
                // After a failure the line is ended at once.
                if (!HasFatalFailure()) expect_shown(line, trace.str());
                if (HasFatalFailure()) {
                    rt::post_key(kEnter);
                    return;
                }
                const rt::KeyCode key = random_key(random, line);
                trace << ' ' << key;
                line.apply(key);
                rt::post_key(key);
            });
        }
        steps.emplace_back([&] { rt::post_key(kEnter); });
        at_waits(std::move(steps));

        const std::string typed = take_line(rt::edit_new_line());
        if (HasFatalFailure()) break;
        EXPECT_EQ(typed, line.text) << trace.str();
        // Enter leaves the cursor after the line.
        line.point = line.text.size();
        expect_shown(line, trace.str());
        if (HasFatalFailure() || typed != line.text) break;
    }
}

}  // namespace
