// The program itself, run as a user runs it: on a terminal read through a
// terminal emulator, checking the whole screen after every step, and through
// pipes, checking every byte.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/app/session_text.h"
#include "tests/platform/pty_process.h"

extern char** environ;

namespace {

using platform::PtyProcess;
using session_text::digit_line;
using session_text::kBasePrompt;
using session_text::kExitHint;
using session_text::kNumberPrompt;
using session_text::kWrong;
using session_text::pass_bytes;

constexpr const char* kProgram = BASECONV;
constexpr int kCols = 80;
constexpr int kRows = 25;

constexpr std::string_view kEscape = "\x1b";
constexpr std::int64_t kMax = 999'999'999'999'999;

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// What the user should see from the top of the cleared screen: every line the
// program showed, cut into rows of the terminal's width.
class Transcript {
  public:
    explicit Transcript(int cols) : cols_(static_cast<std::size_t>(cols)) {}

    void line(std::string_view text) {
        do {
            rows_.push_back(trimmed(std::string(text.substr(0, cols_))));
            text.remove_prefix(std::min(text.size(), cols_));
        } while (!text.empty());
    }
    // Both prompts with what was typed at them, the answer and the closing line.
    void pass(std::string_view number, std::string_view base, std::string_view answer) {
        line(std::string(kNumberPrompt) + std::string(number));
        line(std::string(kBasePrompt) + std::string(base));
        line(answer);
        line(kExitHint);
    }
    // The first prompt of the next pass, nothing typed yet.
    void next_prompt() { line(kNumberPrompt); }
    void drop_last() { rows_.pop_back(); }

    const std::vector<std::string>& rows() const { return rows_; }

  private:
    std::size_t cols_;
    std::vector<std::string> rows_;
};

// Everything the terminal shows and has scrolled away, row by row, without
// trailing blanks or trailing empty rows.
std::vector<std::string> shown(PtyProcess& pty) {
    std::vector<std::string> rows;
    for (const std::u32string& line : pty.screen().scrollback())
        rows.push_back(trimmed(platform::to_utf8(line)));
    for (int y = 0; y < pty.screen().rows(); ++y)
        rows.push_back(pty.screen().text(y));
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

std::string dump(const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& row : rows)
        text += "|" + row + "\n";
    return text;
}

// Reads until the terminal shows exactly `expected`, with the cursor at
// `cursor_x` on the row after the last one (or on the last one when
// `cursor_on_last_row`).
void expect_screen(PtyProcess& pty, const Transcript& expected, int cursor_x, bool cursor_on_last_row = false) {
    const auto cursor_row = [&] {
        const int last =
            static_cast<int>(expected.rows().size()) - 1 - static_cast<int>(pty.screen().scrollback().size());
        return cursor_on_last_row ? last : last + 1;
    };
    const bool matched = pty.read_until([&] {
        return shown(pty) == expected.rows() && pty.screen().cursor_x() == cursor_x &&
               pty.screen().cursor_y() == cursor_row();
    });
    ASSERT_TRUE(matched) << "expected, cursor at " << cursor_x << "," << cursor_row() << ":\n"
                         << dump(expected.rows()) << "shown, cursor at " << pty.screen().cursor_x() << ","
                         << pty.screen().cursor_y() << ":\n"
                         << dump(shown(pty));
}

void expect_exit(PtyProcess& process, int code) {
    const auto status = process.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << "wait status " << *status;
    EXPECT_EQ(WEXITSTATUS(*status), code);
}

void expect_terminal_given_back(PtyProcess& pty) {
    EXPECT_TRUE(platform::same_modes(pty.modes(), pty.initial_modes()));
    EXPECT_TRUE(pty.screen().cursor_visible());
}

// A terminal with the program started on it and showing its first prompt.
class OnATerminal : public testing::Test {
  protected:
    void SetUp() override {
        // Whatever the terminal showed before is cleared away.
        pty_.screen().feed("left over\r\nfrom before");
        pty_.start(kProgram);
        expected_.next_prompt();
        expect_screen(pty_, expected_, static_cast<int>(kNumberPrompt.size()), true);
    }

    // Types a number and a base with Enter after each and checks the whole
    // screen once the program waits at "<Esc> for exit".
    void pass(std::string_view number, std::string_view base, std::string_view answer) {
        pty_.type(std::string(number) + "\r");
        pty_.type(std::string(base) + "\r");
        expected_.drop_last();
        expected_.pass(number, base, answer);
        expect_screen(pty_, expected_, 0);
    }
    // A key at "<Esc> for exit" that is not Escape: the next prompt below.
    void next(std::string_view key) {
        pty_.type(key);
        expected_.next_prompt();
        expect_screen(pty_, expected_, static_cast<int>(kNumberPrompt.size()), true);
    }

    PtyProcess pty_{kCols, kRows};
    Transcript expected_{kCols};
};

TEST_F(OnATerminal, StartsOnAClearedScreenWithTheCursorAfterTheFirstPrompt) {
    EXPECT_TRUE(pty_.screen().scrollback().empty());
}

struct Conversion {
    std::string number;
    std::string base;
    std::string answer;
};

// Pass after pass on one screen, below each other, until the screen has
// scrolled: the worked results, and the largest number in base 2, whose 50
// digits wrap over two rows.
TEST_F(OnATerminal, WorkedResultsPassAfterPassScrollingPastTheBottom) {
    const Conversion cases[] = {
        {"5", "2", "d1 d0 d1 "},
        {"0", "2", "d0 "},
        {"10", "10", "d1 d0 "},
        {"255", "16", "d15 d15 "},
        {"7", "999999999999999", "d7 "},
        {"999999999999999", "999999999999999", "d1 d0 "},
        {"999999999999999", "2", digit_line(kMax, 2)},
        {"123456789", "1000", "d123 d456 d789 "},
    };
    ASSERT_EQ(std::count(cases[6].answer.begin(), cases[6].answer.end(), 'd'), 50);
    bool first = true;
    for (const Conversion& c : cases) {
        SCOPED_TRACE(c.number + " in base " + c.base);
        if (!first) {
            ASSERT_NO_FATAL_FAILURE(next(" "));
        }
        first = false;
        ASSERT_NO_FATAL_FAILURE(pass(c.number, c.base, c.answer));
    }
    ASSERT_FALSE(pty_.screen().scrollback().empty()) << "the passes never reached the bottom";
    pty_.type(kEscape);
    expect_exit(pty_, 0);
    expect_terminal_given_back(pty_);
}

// What counts as the value typed at a prompt, and what is wrong.
TEST_F(OnATerminal, WrongInputAndTheFieldOfTheTypedLine) {
    const std::string wrong(kWrong);
    const Conversion cases[] = {
        // Not the canonical decimal form.
        {"007", "10", wrong},
        {"+7", "10", wrong},
        {"7.0", "10", wrong},
        {"7e0", "10", wrong},
        {"&H7", "10", wrong},
        {"-0", "10", wrong},
        {"-5", "10", wrong},
        {"7", "010", wrong},
        // Out of range.
        {"1000000000000000", "10", wrong},
        {"99999999999999999999", "10", wrong},
        {"5", "1", wrong},
        {"5", "0", wrong},
        {"5", "1000000000000000", wrong},
        // The field: leading blanks are dropped, a trailing blank stays, a
        // comma ends it, quotes enclose it, an empty line is wrong.
        {"  12", "10", "d1 d2 "},
        {"12 ", "10", wrong},
        {"12,34", "10", "d1 d2 "},
        {"\"12\"", "10", "d1 d2 "},
        {"12", "  16,x", "d12 "},
        {"", "10", wrong},
        {"12", "", wrong},
    };
    bool first = true;
    for (const Conversion& c : cases) {
        SCOPED_TRACE("\"" + c.number + "\" in base \"" + c.base + "\"");
        if (!first) {
            ASSERT_NO_FATAL_FAILURE(next(" "));
        }
        first = false;
        ASSERT_NO_FATAL_FAILURE(pass(c.number, c.base, c.answer));
    }
}

TEST_F(OnATerminal, EscapeWhileEditingClearsTheLineAndOnlyEndsTheProgramAtTheClosingLine) {
    pty_.type("123");
    expected_.drop_last();
    expected_.line(std::string(kNumberPrompt) + "123");
    ASSERT_NO_FATAL_FAILURE(expect_screen(pty_, expected_, static_cast<int>(kNumberPrompt.size()) + 3, true));
    pty_.type(kEscape);
    expected_.drop_last();
    expected_.next_prompt();
    ASSERT_NO_FATAL_FAILURE(expect_screen(pty_, expected_, static_cast<int>(kNumberPrompt.size()), true));

    // The cleared digits are gone from the value as well as from the screen.
    ASSERT_NO_FATAL_FAILURE(pass("5", "2", "d1 d0 d1 "));
    pty_.type(kEscape);
    expect_exit(pty_, 0);
    expect_terminal_given_back(pty_);
    EXPECT_EQ(shown(pty_), expected_.rows()) << "the screen is left as it was";
}

// Any key but Escape at "<Esc> for exit" starts the next pass below without
// clearing, and is not typed into its first prompt.
TEST_F(OnATerminal, AnyOtherKeyStartsTheNextPassAndIsDropped) {
    ASSERT_NO_FATAL_FAILURE(pass("5", "2", "d1 d0 d1 "));
    const char* keys[] = {"x", "\x1bOP" /* F1 */, "\r", "\x1b[A" /* Up */, "\t"};
    for (const char* key : keys) {
        SCOPED_TRACE(testing::PrintToString(std::string(key)));
        ASSERT_NO_FATAL_FAILURE(next(key));
        ASSERT_NO_FATAL_FAILURE(pass("6", "2", "d1 d1 d0 "));
    }
}

TEST_F(OnATerminal, KeysTypedAheadInOneGoEndWithTheirEscape) {
    pty_.type("255\r16\r\x1b");
    expect_exit(pty_, 0);
    expect_terminal_given_back(pty_);
    expected_.drop_last();
    expected_.pass("255", "16", "d15 d15 ");
    EXPECT_EQ(shown(pty_), expected_.rows());
}

// However much is pasted at once, no key is lost: the first field of a paste
// of 100,000 characters, its first character, is the number.
TEST_F(OnATerminal, AHundredThousandCharacterPasteArrivesWhole) {
    pty_.type_reading("\x1b[200~5" + std::string(99999, ',') + "\x1b[201~\r");
    pty_.type("2\r");
    const bool answered = pty_.read_until([&] {
        for (int y = 1; y + 1 < kRows; ++y) {
            if (pty_.screen().text(y - 1) == std::string(kBasePrompt) + "2" && pty_.screen().text(y) == "d1 d0 d1" &&
                pty_.screen().text(y + 1) == kExitHint) {
                return true;
            }
        }
        return false;
    });
    EXPECT_TRUE(answered) << dump(shown(pty_));
}

// Control strings that arrive between typed keys (late replies to a query, or
// pasted) leave the line as the keys made it.
TEST_F(OnATerminal, ControlStringsBetweenKeysLeaveTheLineUnchanged) {
    pty_.type("12");
    pty_.type("\x1b]11;rgb:0000/0000/0000\x1b\\");
    pty_.type("\x1bP1$r0m\x1b\\");
    pty_.type("\x1b_Gi=1;OK\x1b\\");
    pty_.type("3\r10\r");
    expected_.drop_last();
    expected_.pass("123", "10", "d1 d2 d3 ");
    expect_screen(pty_, expected_, 0);
}

TEST_F(OnATerminal, CtrlCAtAPromptEndsTheProgramAndGivesTheTerminalBack) {
    pty_.type("12");
    expected_.drop_last();
    expected_.line(std::string(kNumberPrompt) + "12");
    ASSERT_NO_FATAL_FAILURE(expect_screen(pty_, expected_, static_cast<int>(kNumberPrompt.size()) + 2, true));
    pty_.type("\x03");
    const auto status = pty_.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "wait status " << *status;
    EXPECT_EQ(WTERMSIG(*status), SIGINT);
    expect_terminal_given_back(pty_);
}

// The terminal shrinks between the two prompts of a pass: the pass ends with
// its answer and the program goes on at the new size.
TEST_F(OnATerminal, ResizeInTheMiddleOfAPass) {
    pty_.type("255\r");
    ASSERT_TRUE(pty_.read_until_row(1, kBasePrompt.substr(0, kBasePrompt.size() - 1)));
    constexpr int kNewCols = 60;
    constexpr int kNewRows = 12;
    pty_.resize(kNewCols, kNewRows);
    pty_.type("16\r");
    ASSERT_TRUE(pty_.read_until([&] {
        const int y = pty_.screen().cursor_y();
        return y >= 2 && pty_.screen().text(y - 1) == kExitHint && pty_.screen().text(y - 2) == "d15 d15";
    })) << dump(shown(pty_));
    EXPECT_EQ(pty_.screen().cursor_x(), 0);
    // Each pass different, so that a program that stopped showing its passes
    // cannot match an earlier one.
    for (int number = 10; number < 14; ++number) {
        pty_.type(" " + std::to_string(number) + "\r10\r");
        ASSERT_TRUE(pty_.read_until([&] {
            const int y = pty_.screen().cursor_y();
            return y >= 4 && pty_.screen().text(y - 1) == kExitHint &&
                   pty_.screen().text(y - 2) == "d1 d" + std::to_string(number - 10) &&
                   pty_.screen().text(y - 3) == std::string(kBasePrompt) + "10" &&
                   pty_.screen().text(y - 4) == std::string(kNumberPrompt) + std::to_string(number);
        })) << number
            << " in base 10\n"
            << dump(shown(pty_));
    }
    EXPECT_EQ(pty_.screen().cursor_y(), kNewRows - 1) << "the passes fill the smaller screen to its bottom\n"
                                                      << dump(shown(pty_));
}

// --- Through pipes -------------------------------------------------------------------

struct Script {
    std::string name;
    std::string input;
    std::string output;
    int status;
};

class ThroughPipes : public testing::TestWithParam<Script> {};

TEST_P(ThroughPipes, PrintsExactlyTheseBytesAndEndsWithItsStatus) {
    const Script& s = GetParam();
    PtyProcess process(kCols, kRows);
    process.start(kProgram, {}, {PtyProcess::Stream::Pipe, PtyProcess::Stream::Pipe, s.input, false});
    ASSERT_TRUE(process.read_until_output_closed()) << "the program did not end its output";
    expect_exit(process, s.status);
    EXPECT_EQ(process.output_bytes(), s.output);
    EXPECT_EQ(process.terminal_bytes(), "") << "nothing reaches the terminal";
}

const std::string kPass255 = pass_bytes("255", "16", "d15 d15 ");

INSTANTIATE_TEST_SUITE_P(Scripts, ThroughPipes,
                         testing::Values(Script{"OnePass", "255\n16\n\x1b", kPass255, 0},
                                         Script{"CrLfIsOneEnter", "255\r\n16\r\n\x1b", kPass255, 0},
                                         Script{"TwoPassesWithAKeyBetween", "5\n2\n 255\n16\n\x1b",
                                                pass_bytes("5", "2", "d1 d0 d1 ") + kPass255, 0},
                                         Script{"WrongInput", "7.0\n16\n\x1b", pass_bytes("7.0", "16", kWrong), 0},
                                         // Escape while editing empties the value. The cursor cannot
                                         // move back in a pipe: the erased characters stay in the
                                         // output, followed by the blanks that clear them on a screen.
                                         Script{"EscapeWhileEditing",
                                                "99\x1b"
                                                "5\n2\n\x1b",
                                                pass_bytes("99  5", "2", "d1 d0 d1 "), 0},
                                         // Input that ends without the final Escape: the console
                                         // closes, which counts as a key at "<Esc> for exit", and
                                         // the program ends with its own status at its next wait.
                                         Script{"EndOfInputAfterAPass", "255\n16\n",
                                                kPass255 + std::string(kNumberPrompt), 3},
                                         Script{"EndOfInputAtAPrompt", "25", std::string(kNumberPrompt) + "25", 3},
                                         Script{"NoInputAtAll", "", std::string(kNumberPrompt), 3}),
                         [](const testing::TestParamInfo<Script>& param) { return param.param.name; });

// The sweeps below run the program hundreds of times, looking for wrong output
// and crashes; the scripted sessions and the memory-shortage sweep check
// leaks, so these runs do without.
PtyProcess::Options piped_sweep_run(std::string input) {
    PtyProcess::Options options{PtyProcess::Stream::Pipe, PtyProcess::Stream::Pipe, std::move(input)};
    options.environment.push_back(platform::without_leak_check());
    return options;
}

// Random scripted sessions: values typed in the forms the field rules and the
// canonical form decide on, keys between the passes, the answer of each pass
// known from how its values were made. Every byte of the output is checked.
class RandomSessions : public testing::TestWithParam<unsigned> {};

TEST_P(RandomSessions, EveryPassAnswersWhatWasTyped) {
    std::mt19937 rng(GetParam());
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // A value's digits: 0, or up to 17 digits without a leading zero, so that
    // some lie above the largest value.
    auto digits = [&] {
        if (pick(0, 5) == 0) return std::string(1, static_cast<char>('0' + pick(0, 2)));
        std::string d(1, static_cast<char>('1' + pick(0, 8)));
        for (int n = pick(0, 16); n > 0; --n)
            d += static_cast<char>('0' + pick(0, 9));
        return d;
    };
    // A typed line, and the digits it stands for when its field is canonical.
    struct Typed {
        std::string line;
        std::optional<std::string> value;
    };
    auto typed = [&]() -> Typed {
        const std::string d = digits();
        switch (pick(0, 9)) {
            case 0:
                return {"  " + d, d};  // leading blanks are skipped
            case 1:
                return {d + "," + digits(), d};  // a comma ends the field
            case 2:
                return {"\"" + d + "\"", d};  // quotes enclose it
            case 3:
                return {d + " ", std::nullopt};  // a trailing blank stays in it
            case 4:
                return {"+" + d, std::nullopt};
            case 5:
                return {"0" + d, std::nullopt};
            case 6:
                return {d + ".0", std::nullopt};
            case 7:
                return {"", std::nullopt};
            default:
                return {d, d};
        }
    };
    auto in_range = [](const std::string& d, std::int64_t low) {
        return d.size() <= 15 && std::stoll(d) >= low && std::stoll(d) <= kMax;
    };
    const std::string_view between[] = {" ", "x", "\x1bOP", "\t", "\x1b[A"};

    std::string input;
    std::string output;
    const int passes = pick(1, 6);
    for (int pass = 0; pass < passes; ++pass) {
        const Typed number = typed();
        const Typed base = typed();
        std::string answer(kWrong);
        if (number.value && base.value && in_range(*number.value, 0) && in_range(*base.value, 2)) {
            answer = digit_line(std::stoll(*number.value), std::stoll(*base.value));
        }
        if (pass > 0) input += between[pick(0, static_cast<int>(std::size(between)) - 1)];
        input += number.line + "\n" + base.line + "\n";
        output += pass_bytes(number.line, base.line, answer);
    }
    input += kEscape;

    PtyProcess process(kCols, kRows);
    process.start(kProgram, {}, piped_sweep_run(input));
    ASSERT_TRUE(process.read_until_output_closed());
    expect_exit(process, 0);
    EXPECT_EQ(process.output_bytes(), output) << testing::PrintToString(input);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSessions, testing::Range(1u, 101u));

// Any bytes at all through a pipe (but the two that stand for Ctrl+C and
// Ctrl+\, which end the program by their signals): editing keys, key
// sequences, bytes above 127, zero bytes. The program ends on its own, with
// status 0 at an Escape after "<Esc> for exit" or 3 at the end of the input.
// The sessions are made in one sequence and run in parts, each every
// kAnyBytesParts-th session, so that the parts can run side by side.
constexpr int kAnyBytesParts = 4;
class ThroughPipesAnyBytes : public testing::TestWithParam<int> {};

TEST_P(ThroughPipesAnyBytes, EndWithADocumentedStatus) {
    std::mt19937 rng(20261210);
    for (int session = 0; session < 60; ++session) {
        std::string input(std::uniform_int_distribution<std::size_t>(1, 600)(rng), '\0');
        for (char& byte : input) {
            do {
                byte = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            } while (byte == '\x03' || byte == '\x1c');
        }
        if (session % kAnyBytesParts != GetParam()) continue;
        PtyProcess process(kCols, kRows);
        process.start(kProgram, {}, piped_sweep_run(input));
        ASSERT_TRUE(process.read_until_output_closed()) << testing::PrintToString(input);
        const auto status = process.wait_status();
        ASSERT_TRUE(status && WIFEXITED(*status)) << testing::PrintToString(input);
        EXPECT_TRUE(WEXITSTATUS(*status) == 0 || WEXITSTATUS(*status) == 3) << testing::PrintToString(input);
        EXPECT_TRUE(process.output_bytes().starts_with(kNumberPrompt));
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, ThroughPipesAnyBytes, testing::Range(0, kAnyBytesParts));

// The program on pipes that the test keeps open as long as it likes, unlike
// PtyProcess, which closes the input once written. Every wait is bounded.
class PipedProgram {
  public:
    PipedProgram() {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        // SIGPIPE as a shell leaves it, whatever this process does with it.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        std::string path = kProgram;
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv, environ) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~PipedProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close_input();
        close_output();
    }
    PipedProgram(const PipedProgram&) = delete;
    PipedProgram& operator=(const PipedProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Writes all of `bytes`; false when the program stopped taking them.
    bool type(std::string_view bytes) {
        while (!bytes.empty() && std::chrono::steady_clock::now() < deadline_) {
            pollfd w{input_, POLLOUT, 0};
            if (poll(&w, 1, 100) != 1) continue;
            const ssize_t n = write(input_, bytes.data(), bytes.size());
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return bytes.empty();
    }
    // Reads until the output ends with `tail`; false at its end or on timeout.
    bool read_until_ends_with(std::string_view tail) {
        while (!std::string_view(output).ends_with(tail)) {
            pollfd r{output_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0 || poll(&r, 1, static_cast<int>(left.count())) != 1) return false;
            char buffer[4096];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) return false;
            output.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    void close_input() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }
    void close_output() {
        if (output_ >= 0) close(output_);
        output_ = -1;
    }
    // The wait status once it has ended; nothing on timeout.
    std::optional<int> wait_status() {
        const auto status = platform::wait_for_end(pid_, deadline_);
        if (status) pid_ = -1;
        return status;
    }

    std::string output;

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + PtyProcess::kTimeout;
};

// A script that waits for each answer before it types on: everything printed
// is out while the program waits for the next key, and a signal then ends it
// with its status, losing nothing.
TEST(Program, ThroughPipesEachAnswerIsOutBeforeTheProgramWaits) {
    PipedProgram program;
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.read_until_ends_with(kNumberPrompt)) << program.output;
    ASSERT_TRUE(program.type("255\n16\n"));
    ASSERT_TRUE(program.read_until_ends_with(kPass255)) << program.output;
    ASSERT_TRUE(program.type(" 5\n2\n"));
    const std::string both = kPass255 + pass_bytes("5", "2", "d1 d0 d1 ");
    ASSERT_TRUE(program.read_until_ends_with(both)) << program.output;
    kill(program.pid(), SIGTERM);
    const auto status = program.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 128 + SIGTERM);
    program.read_until_ends_with("never printed");
    EXPECT_EQ(program.output, both);
}

// A reader that goes away: the program does not go on converting for nobody;
// it ends as writers to a closed pipe end, long before its input is used up.
TEST(Program, AReaderThatClosesThePipeEarly) {
    PipedProgram program;
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.read_until_ends_with(kNumberPrompt));
    program.close_output();
    // Passes go on being typed until the program stops taking them; one that
    // went on for nobody would take them until the test gives up. Once it
    // has gone, the write fails here: this process must not end of that.
    std::string passes;
    for (int pass = 0; pass < 200; ++pass)
        passes += " 999999999999999\n2\n";
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    bool taken = program.type("999999999999999\n2\n");
    while (taken)
        taken = program.type(passes);
    sigaction(SIGPIPE, &previous, nullptr);
    program.close_input();
    const auto status = program.wait_status();
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGPIPE) << "wait status " << *status;
}

}  // namespace
