#include "tests/app/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/platform/pty_process.h"

extern char** environ;

namespace app_test {
namespace {

constexpr std::chrono::seconds kTimeout{10};

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        read = fds[0];
        write = fds[1];
    }
};

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    Pipe input;
    Pipe output;
    Pipe error;
    int file = -1;
    if (options.output == RunOptions::Output::File) {
        file = open(options.output_file.c_str(), O_WRONLY | O_CLOEXEC);
        if (file < 0) throw std::runtime_error("cannot open " + options.output_file);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, file >= 0 ? file : output.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error.write, STDERR_FILENO);
    // SIGPIPE as the options say, whatever this process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    struct sigaction previous {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!options.sigpipe_ignored) sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings;
    for (char** entry = environ; *entry != nullptr; ++entry)
        settings.emplace_back(*entry);
    settings.insert(settings.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> envp;
    for (std::string& setting : settings)
        envp.push_back(setting.data());
    envp.push_back(nullptr);

    if (options.output == RunOptions::Output::ClosedPipe) close_fd(output.read);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close_fd(input.read);
    close_fd(output.write);
    close_fd(error.write);
    close_fd(file);
    if (spawned != 0) {
        sigaction(SIGPIPE, &previous, nullptr);
        throw std::runtime_error("cannot start " + program);
    }

    // A program that ends before it has read all of its input must not end
    // this process too.
    (void)!write(input.write, options.input.data(), options.input.size());
    sigaction(SIGPIPE, &previous, nullptr);
    close_fd(input.write);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while ((output.read >= 0 || error.read >= 0) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{output.read, POLLIN, 0}, {error.read, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            int& fd = i == 0 ? output.read : error.read;
            std::string& into = i == 0 ? result.output : result.error;
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
            } else {
                close_fd(fd);
            }
        }
    }
    close_fd(output.read);
    close_fd(error.read);
    if (const auto status = platform::wait_for_end(pid, deadline)) {
        result.status = *status;
        return result;
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return result;
}

std::string describe(const std::optional<int>& status) {
    if (!status) return "no end";
    if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "signal " + std::to_string(WTERMSIG(*status));
    return "wait status " + std::to_string(*status);
}

}  // namespace app_test
