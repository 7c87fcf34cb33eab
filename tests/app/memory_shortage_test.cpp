// The program short of memory: a scripted session is run again and again with
// one more of its heap allocations failing each time (or that one and all
// after it). Whichever fails, the program must not crash or hang, must end
// with a status it documents, and every answer it prints must be "Wrong
// input!" or the right digits of the values shown as typed.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "tests/app/session_text.h"
#include "tests/platform/pty_process.h"

namespace {

using platform::PtyProcess;
using session_text::digit_line;
using session_text::kBasePrompt;
using session_text::kExitHint;
using session_text::kNumberPrompt;
using session_text::kWrong;

// A valid pass, a wrong one, a key-ahead Escape: every layer allocates.
constexpr std::string_view kSession = "255\n16\n 7.0\n2\n 999999999999999\n999\n\x1b";
constexpr int kEndOfInputStatus = 3;

struct SessionRun {
    int status = -1;  // exit status, or -1 when the program did not exit
    std::string output;
};

// Runs the session with allocation `fail` failing ("" for none). Unless told
// `leak_check`, an instrumented program skips its leak check at exit: once
// every allocation after one fails, the way out is the one the single
// failure's run checks, and the check cost as much as the rest of the run.
SessionRun run_session(const std::string& fail, const std::string& count_file, bool leak_check = true) {
    if (fail.empty()) {
        unsetenv("BASECONV_FAIL_ALLOCATION");
    } else {
        setenv("BASECONV_FAIL_ALLOCATION", fail.c_str(), 1);
    }
    setenv("BASECONV_ALLOCATION_COUNT", count_file.c_str(), 1);
    PtyProcess::Options options{PtyProcess::Stream::Pipe, PtyProcess::Stream::Pipe, std::string(kSession)};
    if (!leak_check) options.environment.push_back(platform::without_leak_check());
    PtyProcess process(80, 25);
    process.start(SHORT_OF_MEMORY, {}, options);
    unsetenv("BASECONV_FAIL_ALLOCATION");
    unsetenv("BASECONV_ALLOCATION_COUNT");
    SessionRun run;
    const bool closed = process.read_until_output_closed();
    const auto status = process.wait_status();
    run.output = process.output_bytes();
    if (closed && status && WIFEXITED(*status)) run.status = WEXITSTATUS(*status);
    if (status && WIFSIGNALED(*status)) run.output += "\n[ended by signal " + std::to_string(WTERMSIG(*status)) + "]";
    if (!status) run.output += "\n[did not end]";
    return run;
}

bool canonical(std::string_view text) {
    if (text.empty() || text.size() > 15) return false;
    if (text.size() > 1 && text[0] == '0') return false;
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Every answer printed is "Wrong input!" or the digits of the number and base
// echoed at the two prompts before it. Returns what is wrong, or nothing.
std::string check_answers(const std::string& output) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < output.size();) {
        const std::size_t end = output.find("\r\n", at);
        lines.push_back(output.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? output.size() : end + 2;
    }
    for (std::size_t i = 0; i + 3 < lines.size(); ++i) {
        if (!lines[i].starts_with(kNumberPrompt)) continue;
        if (!lines[i + 1].starts_with(kBasePrompt) || lines[i + 3] != kExitHint) {
            return "a pass that does not read prompt, prompt, answer, closing line at line " + std::to_string(i);
        }
        const std::string number = lines[i].substr(kNumberPrompt.size());
        const std::string base = lines[i + 1].substr(kBasePrompt.size());
        const std::string& answer = lines[i + 2];
        if (answer == kWrong) continue;
        if (!canonical(number) || !canonical(base) || std::stoll(base) < 2) {
            return "an answer to the wrong input \"" + number + "\" in base \"" + base + "\": " + answer;
        }
        if (answer != digit_line(std::stoll(number), std::stoll(base))) {
            return "a wrong answer for " + number + " in base " + base + ": " + answer;
        }
    }
    return "";
}

// The sweep is cut into parts, each failing every kParts-th allocation, so that
// the parts can run side by side.
constexpr unsigned long kParts = 4;

// Whether the allocations after the failing one fail too, and the part.
class MemoryShortage : public testing::TestWithParam<std::tuple<bool, unsigned long>> {
  protected:
    void SetUp() override {
        char path[] = "/tmp/baseconv-allocations-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        count_file_ = path;
    }
    void TearDown() override { std::remove(count_file_.c_str()); }

    std::string count_file_;
};

TEST_P(MemoryShortage, EveryAllocationOfASessionFailing) {
    const auto [and_after, part] = GetParam();
    const SessionRun reference = run_session("", count_file_);
    ASSERT_EQ(reference.status, 0) << reference.output;
    ASSERT_EQ(check_answers(reference.output), "");
    ASSERT_NE(reference.output.find("d15 d15 \r\n"), std::string::npos) << reference.output;
    unsigned long allocations = 0;
    std::ifstream(count_file_) >> allocations;
    ASSERT_GT(allocations, 0u) << "the session made no allocation to fail";

    for (unsigned long nth = 1 + part; nth <= allocations; nth += kParts) {
        const std::string fail = std::to_string(nth) + (and_after ? "+" : "");
        const SessionRun run = run_session(fail, count_file_, !and_after);
        SCOPED_TRACE("allocation " + fail + " of " + std::to_string(allocations) + " failing; output:\n" + run.output);
        // Lost keys may leave the final Escape unread: then the input ends.
        ASSERT_TRUE(run.status == 0 || run.status == kEndOfInputStatus) << "status " << run.status;
        ASSERT_EQ(check_answers(run.output), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Sweep, MemoryShortage, testing::Combine(testing::Bool(), testing::Range(0ul, kParts)),
                         [](const testing::TestParamInfo<MemoryShortage::ParamType>& param) {
                             return std::string(std::get<0>(param.param) ? "ThatOneAndAllAfter" : "OnlyThatOne") +
                                    "_Part" + std::to_string(std::get<1>(param.param));
                         });

}  // namespace
