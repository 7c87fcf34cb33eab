// A program whose standard output is redirected: the bytes it writes arrive
// whole (as UTF-8) and in time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/console_api.h"
#include "platform/posix/cp437.h"
#include "tests/platform/stream_pattern.h"

extern char** environ;

namespace {

// The pattern as the pipe receives it: as UTF-8, each byte beyond ASCII as its
// code page 437 glyph.
std::string sent_pattern() {
    const std::string pattern = stream_test::pattern();
    std::string scratch;
    const auto sent = platform::printed_as_utf8(std::as_bytes(std::span(pattern.data(), pattern.size())), scratch);
    return std::string(reinterpret_cast<const char*>(sent.data()), sent.size());
}

// Every wait on the child is bounded: a broken child fails the test instead
// of hanging it.
constexpr int kPatienceMs = 20000;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    void close_read() {
        if (read >= 0) close(read);
        read = -1;
    }
    void close_write() {
        if (write >= 0) close(write);
        write = -1;
    }
};

// stream_child with its standard output on `out` and standard input on `in`.
pid_t spawn_child(const char* mode, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    char path[] = STREAM_CHILD;
    std::string mode_arg = mode;
    char* argv[] = {path, mode_arg.data(), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Reads until `count` bytes have arrived or the pipe ends; empty on timeout.
std::string read_bytes(int fd, std::size_t count, bool& timed_out) {
    std::string got;
    timed_out = false;
    while (got.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kPatienceMs) <= 0) {
            timed_out = true;
            break;
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

int wait_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST(RedirectedOutput, AllBytesAreOutBeforeTheProgramWaits) {
    Pipe input;  // kept open and silent: the child has keys to wait for, forever
    Pipe output;
    ASSERT_GE(output.read, 0);
    const pid_t pid = spawn_child("wait", input.read, output.write);
    ASSERT_GT(pid, 0);
    output.close_write();

    const std::string expected = sent_pattern();
    bool timed_out = false;
    const std::string got = read_bytes(output.read, expected.size(), timed_out);
    // Everything arrived while the child is still waiting for input.
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the child ended before it waited";
    kill(pid, SIGKILL);
    wait_status(pid);
    EXPECT_FALSE(timed_out);
    EXPECT_TRUE(got == expected) << "got " << got.size() << " of " << expected.size() << " bytes, or other bytes";
}

TEST(RedirectedOutput, AllBytesAreOutAtExitWithTheStatus) {
    Pipe input;
    Pipe output;
    const pid_t pid = spawn_child("exit", input.read, output.write);
    ASSERT_GT(pid, 0);
    output.close_write();
    const std::string expected = sent_pattern();
    bool timed_out = false;
    const std::string got = read_bytes(output.read, expected.size() + 1, timed_out);  // up to the end
    const int status = wait_status(pid);
    EXPECT_FALSE(timed_out);
    EXPECT_TRUE(got == expected) << "got " << got.size() << " of " << expected.size() << " bytes, or other bytes";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

// The write itself fails quietly; the program then ends as writers to a
// closed pipe end, at its next wait.
TEST(RedirectedOutput, WritingToAClosedPipeEndsTheProgramAtItsNextWait) {
    Pipe input;
    Pipe output;
    const int write_end = output.write;
    output.close_read();  // nobody will ever read
    const pid_t pid = spawn_child("broken", input.read, write_end);
    ASSERT_GT(pid, 0);
    output.close_write();
    const int status = wait_status(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE)
        << "wait status " << status << ": the program went on after its output was lost";
}

}  // namespace
