// Random key sequences on a narrow console that now and then changes size
// between keys, growing and shrinking: after every key the cells from where
// the prompt begins show exactly the prompt, the line and then blanks, the
// cursor stands at the insertion point, and the line ends up as the keys made
// it.
// Built with the sanitizers, it also shows that no key reads or writes outside
// the text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/input/line_editor.h"
#include "tests/runtime/input/line_input_fixture.h"

namespace {

using namespace rt_testing;

constexpr int kWidth = 7;
constexpr int kHeight = 5;
// The sizes the console takes: never smaller than at the start.
constexpr int kMaxWidth = 13;
constexpr int kMaxHeight = 8;
// The line starts on the middle row after a three-column prompt.
constexpr int kStartRow = 2;
constexpr std::string_view kPrompt = "ab>";
// Longer lines could push the prompt above the top row, where no cursor can
// follow; scrolling still happens well before this.
constexpr std::size_t kMaxLength = kWidth * (kHeight - 1) - kPrompt.size() - 1;

// What the keys do to the line, stated plainly.
struct ExpectedLine {
    std::string text;
    std::size_t point = 0;

    void apply(rt::KeyCode key, std::size_t width) {
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

    int width() { return console_.model().cols(); }
    int height() { return console_.model().rows(); }

    // Now and then the console takes a random size.
    void maybe_resize(std::mt19937& random, std::ostringstream& trace) {
        if (std::uniform_int_distribution<int>(0, 99)(random) >= 15) return;
        const int cols = std::uniform_int_distribution<int>(kWidth, kMaxWidth)(random);
        const int rows = std::uniform_int_distribution<int>(kHeight, kMaxHeight)(random);
        trace << " [" << cols << 'x' << rows << ']';
        console_.model().resize(cols, rows);
    }

    // The prompt and the line as the console shows them: from where the
    // prompt starts now (the cursor's cell less the insertion point and the
    // prompt) to the last cell.
    void expect_shown(const ExpectedLine& line, const std::string& trace) {
        const int cursor = cursor_y() * width() + cursor_x();
        const int start = cursor - static_cast<int>(line.point + kPrompt.size());
        // The prompt starts a row, wherever scrolling or a resize has put it.
        ASSERT_GE(start, 0) << trace;
        ASSERT_EQ(start % width(), 0) << trace;
        std::string expected = std::string(kPrompt) + line.text;
        expected.resize(static_cast<std::size_t>(width() * height() - start), ' ');
        ASSERT_EQ(screen_cells().substr(static_cast<std::size_t>(start)), expected) << trace;
        ASSERT_TRUE(console_.cursor_visible()) << trace;
    }
};

TEST_F(LineEditorFuzz, TheScreenAlwaysShowsTheLine) {
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        std::mt19937 random(seed);
        console_.model().resize(kWidth, kHeight);
        clear_screen(kStartRow, 0);
        rt::console_print(kPrompt.data(), static_cast<std::int32_t>(kPrompt.size()), 0);

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
                maybe_resize(random, trace);
                const rt::KeyCode key = random_key(random, line);
                trace << ' ' << key;
                line.apply(key, static_cast<std::size_t>(width()));
                rt::post_key(key);
            });
        }
        steps.emplace_back([&, this] {
            maybe_resize(random, trace);
            rt::post_key(kEnter);
        });
        at_waits(std::move(steps));

        const std::string_view prompt[] = {kPrompt};
        const std::string typed = take_line(rt::edit_new_line(prompt));
        if (HasFatalFailure()) break;
        EXPECT_EQ(typed, line.text) << trace.str();
        // Enter leaves the cursor after the line.
        line.point = line.text.size();
        expect_shown(line, trace.str());
        if (HasFatalFailure() || typed != line.text) break;
    }
}

}  // namespace
