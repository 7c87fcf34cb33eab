#include "tests/platform/pty_process.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace platform {
namespace {

constexpr std::string_view kKittyQuery = "\x1b[?u";
constexpr std::string_view kKittyReply = "\x1b[?0u";

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// With `reader_may_leave`, a reader that has gone (the program ended without
// reading all of its input, as it may) ends the writing quietly.
void write_fully(int fd, std::string_view bytes, bool reader_may_leave = false) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE && reader_may_leave) return;
        check(n > 0, "write");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

sigset_t child_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    return set;
}

}  // namespace

PtyPair open_pty_pair() {
    PtyPair pty;
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(pty.master >= 0, "posix_openpt");
    check(::grantpt(pty.master) == 0 && ::unlockpt(pty.master) == 0, "grantpt");
    pty.slave = ::open(::ptsname(pty.master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) ::close(pty.master);
    check(pty.slave >= 0, "open pty");
    return pty;
}

void set_pty_size(int master, int cols, int rows) {
    const winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(cols), 0, 0};
    check(::ioctl(master, TIOCSWINSZ, &size) == 0, "TIOCSWINSZ");
}

std::string without_leak_check() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") + ":detect_leaks=0";
}

std::optional<int> wait_for_end(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    // A process descriptor becomes readable when the child ends; without one
    // (a kernel before 5.3) the wait looks every 10 ms.
    // Asked by its number: the C library's declaration of it lacks C linkage
    // in some versions.
    const int ended = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            if (ended >= 0) ::close(ended);
            return r == pid ? std::optional<int>(status) : std::nullopt;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (ended >= 0) ::close(ended);
            return std::nullopt;
        }
        pollfd p{ended, POLLIN, 0};
        ::poll(&p, 1, ended >= 0 ? static_cast<int>(left.count()) : std::min<int>(10, static_cast<int>(left.count())));
    }
}

bool same_modes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

PtyProcess::PtyProcess(int cols, int rows) : screen_(cols, rows) {
    // A program that dies early must not take the test down with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    // The test keeps the terminal's other side open, so the terminal and its
    // modes outlive the program.
    const PtyPair pty = open_pty_pair();
    master_ = pty.master;
    slave_ = pty.slave;
    set_pty_size(master_, cols, rows);
    check(::tcgetattr(slave_, &initial_modes_) == 0, "tcgetattr");

    const sigset_t set = child_signal_set();
    check(::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0, "sigmask");
    child_signals_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    check(child_signals_ >= 0, "signalfd");
}

PtyProcess::~PtyProcess() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    // SIGCHLD stays blocked: another PtyProcess of the test may still wait.
    for (int fd : {master_, slave_, child_signals_, output_pipe_}) {
        if (fd >= 0) ::close(fd);
    }
}

void PtyProcess::start(const std::string& program, const std::vector<std::string>& args, const Options& options) {
    kitty_terminal_ = options.kitty_terminal;
    silent_terminal_ = options.silent_terminal;
    int input_pipe[2] = {-1, -1};
    int output_pipe[2] = {-1, -1};
    if (options.input == Stream::Pipe) check(::pipe2(input_pipe, O_CLOEXEC) == 0, "pipe");
    if (options.output == Stream::Pipe) check(::pipe2(output_pipe, O_CLOEXEC) == 0, "pipe");

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Made before the fork: the child only calls what is safe after it.
    std::vector<std::string> settings = options.environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view name = std::string_view(*variable).substr(0, std::string_view(*variable).find('='));
        const bool replaced = std::any_of(settings.begin(), settings.end(), [name](const std::string& setting) {
            return setting.starts_with(name) && setting.size() > name.size() && setting[name.size()] == '=';
        });
        if (!replaced) settings.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (std::string& setting : settings)
        envp.push_back(setting.data());
    envp.push_back(nullptr);

    // The program is spawned: a fork would copy this process's page tables,
    // which an instrumented test's are large, and each page this process
    // writes afterwards would fault once more; the tests start programs
    // hundreds of times. The program leads a process group of its own.
    posix_spawn_file_actions_t actions;
    check(::posix_spawn_file_actions_init(&actions) == 0, "spawn actions");
    auto bind = [&](Stream stream, int pipe_end, int fd) {
        if (stream == Stream::Closed) {
            ::posix_spawn_file_actions_addclose(&actions, fd);
        } else {
            ::posix_spawn_file_actions_adddup2(&actions, stream == Stream::Pipe ? pipe_end : slave_, fd);
        }
    };
    bind(options.input, input_pipe[0], STDIN_FILENO);
    bind(options.output, output_pipe[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    check(::posix_spawnattr_init(&attributes) == 0, "spawn attributes");
    ::posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    // SIGPIPE at its default, whatever this process does with it. A signal
    // the program is to start ignoring is ignored here while it is spawned:
    // an ignored signal is what a new program inherits.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    std::vector<std::pair<int, struct sigaction>> kept;
    for (const int number : options.ignored_signals) {
        sigdelset(&defaults, number);
        struct sigaction previous {};
        ::sigaction(number, &ignore, &previous);
        kept.emplace_back(number, previous);
    }
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    for (const auto& [number, previous] : kept)
        ::sigaction(number, &previous, nullptr);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        errno = spawned;
        pid_ = -1;
        for (int fd : {input_pipe[0], input_pipe[1], output_pipe[0], output_pipe[1]})
            if (fd >= 0) ::close(fd);
        check(false, program.c_str());
    }
    // Programs killed by SIGQUIT or SIGABRT on purpose leave no core file.
    // The spawn returns once the program is running, before anything the
    // test sends it.
    const rlimit no_core{0, 0};
    ::prlimit(pid_, RLIMIT_CORE, &no_core, nullptr);
    if (options.input == Stream::Pipe) {
        ::close(input_pipe[0]);
        write_fully(input_pipe[1], options.piped_input, true);
        ::close(input_pipe[1]);
    }
    if (options.output == Stream::Pipe) {
        ::close(output_pipe[1]);
        output_pipe_ = output_pipe[0];
    }
}

void PtyProcess::type(std::string_view bytes) { write_fully(master_, bytes); }

void PtyProcess::type_reading(std::string_view bytes) {
    // As with read_until: a program that keeps taking keys or sending is
    // working, however slowly; the typing gives up after kTimeout without
    // either, or after kLongestRead in all.
    const auto start = std::chrono::steady_clock::now();
    auto deadline = start + kTimeout;
    while (!bytes.empty() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master_, POLLIN | POLLOUT, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const std::size_t received = terminal_bytes_.size();
        const std::size_t left = bytes.size();
        if ((p.revents & POLLIN) != 0) take(master_, terminal_bytes_, true);
        if ((p.revents & POLLOUT) != 0) {
            const ssize_t n = ::write(master_, bytes.data(), std::min<std::size_t>(bytes.size(), 256));
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        if (terminal_bytes_.size() != received || bytes.size() != left) {
            deadline = std::min(std::chrono::steady_clock::now() + kTimeout, start + kLongestRead);
        }
    }
    check(bytes.empty(), "typing timed out");
}

void PtyProcess::signal(int number) { check(::kill(pid_, number) == 0, "kill"); }

void PtyProcess::close_terminal() {
    ::close(master_);
    master_ = -1;
}

void PtyProcess::resize(int cols, int rows) {
    set_pty_size(master_, cols, rows);
    screen_.resize(cols, rows);
    signal(SIGWINCH);
}

void PtyProcess::take(int fd, std::string& into, bool to_screen) {
    std::array<char, 4096> buffer;
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) {
        if (fd == output_pipe_ && (n == 0 || errno != EINTR)) {
            ::close(output_pipe_);
            output_pipe_ = -1;
        }
        return;
    }
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
    into.append(chunk);
    if (!to_screen) return;
    if (kitty_terminal_) {
        for (std::size_t at = into.find(kKittyQuery, kitty_scan_from_); at != std::string::npos;
             at = into.find(kKittyQuery, at + 1)) {
            type(kKittyReply);
        }
        kitty_scan_from_ = into.size() >= kKittyQuery.size() ? into.size() - (kKittyQuery.size() - 1) : 0;
    }
    screen_.feed(chunk);
    // The emulator's answers to queries go back as the terminal's input.
    if (const std::string replies = screen_.take_replies(); !replies.empty() && !silent_terminal_) type(replies);
}

bool PtyProcess::pump(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    std::array<pollfd, 3> fds{pollfd{master_, POLLIN, 0}, pollfd{output_pipe_, POLLIN, 0},
                              pollfd{child_signals_, POLLIN, 0}};
    const int n = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (n < 0) return errno == EINTR;
    if (fds[0].revents & POLLIN) take(master_, terminal_bytes_, true);
    if (fds[1].revents & (POLLIN | POLLHUP)) take(output_pipe_, output_bytes_, false);
    if (fds[2].revents & POLLIN) {
        signalfd_siginfo info;
        while (::read(child_signals_, &info, sizeof info) > 0) {
        }
    }
    return true;
}

void PtyProcess::take_what_is_left() {
    // Each source until it has nothing more, or is at its end.
    auto drain = [this](const int& fd, std::string& into, bool to_screen) {
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (fd < 0 || ::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) return;
            const std::size_t before = into.size();
            take(fd, into, to_screen);
            if (into.size() == before) return;
        }
    };
    drain(master_, terminal_bytes_, true);
    drain(output_pipe_, output_bytes_, false);
}

bool PtyProcess::read_until(const std::function<bool()>& done) {
    // A program that keeps sending is working, however slowly a loaded or
    // instrumented build goes: the wait gives up after kTimeout without
    // anything sent, or after kLongestRead in all.
    const auto start = std::chrono::steady_clock::now();
    auto deadline = start + kTimeout;
    while (!done()) {
        const std::size_t sent = terminal_bytes_.size() + output_bytes_.size();
        if (!pump(deadline)) return done();
        if (terminal_bytes_.size() + output_bytes_.size() != sent) {
            deadline = std::min(std::chrono::steady_clock::now() + kTimeout, start + kLongestRead);
        }
    }
    return true;
}

bool PtyProcess::read_until_row(int y, std::string_view text) {
    return read_until([&] { return screen_.text(y).starts_with(text); });
}

bool PtyProcess::read_until_output_closed() {
    return read_until([&] { return output_pipe_ < 0; });
}

std::optional<int> PtyProcess::wait_status(Reading reading) {
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG | WUNTRACED);
        if (r == pid_) {
            if (WIFEXITED(status) || WIFSIGNALED(status)) {
                exited_ = true;
                // What it wrote before it ended may not have been read yet.
                take_what_is_left();
            }
            return status;
        }
        if (reading == Reading::Output) {
            if (!pump(deadline)) return std::nullopt;
            continue;
        }
        // Only the end is waited for: SIGCHLD, or the time running out.
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        pollfd p{child_signals_, POLLIN, 0};
        if (::poll(&p, 1, 10) == 1) {
            signalfd_siginfo info;
            while (::read(child_signals_, &info, sizeof info) > 0) {
            }
        }
    }
}

bool PtyProcess::in_system_call(long number) const {
    std::ifstream state("/proc/" + std::to_string(pid_) + "/syscall");
    long current = -1;
    return static_cast<bool>(state >> current) && current == number;
}

termios PtyProcess::modes() const {
    termios modes{};
    check(::tcgetattr(slave_, &modes) == 0, "tcgetattr");
    return modes;
}

}  // namespace platform
