// The terminal host's redirected output when another thread shuts the host
// down (a control handler ending the process) while the program's thread
// goes on writing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <span>
#include <string>
#include <thread>

#include "platform/posix/terminal_host.h"

namespace {

using platform::HostStreams;
using platform::TerminalHost;

struct Pipe {
    std::array<int, 2> fds{-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds.data(), O_CLOEXEC), 0); }
    ~Pipe() {
        for (int& fd : fds)
            close(fd);
    }
    void close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

std::string line(int i) { return "line " + std::to_string(i) + "\n"; }

// Gathered output is sent by whichever thread gets to it, the program's
// thread writing on meanwhile: every byte arrives once, in order, whether it
// was sent by a shutdown on the other thread, by the program's thread once
// the gathered bytes filled the buffer, or at the program's own shutdown.
TEST(RedirectedOutputAcrossThreads, AShutdownOnAnotherThreadSendsEveryByteOnce) {
    constexpr int kLines = 20000;  // several buffers' worth
    Pipe input;                    // silent: no key is ever read
    Pipe output;
    std::string received;
    std::thread reader([&] {
        std::array<char, 4096> buffer;
        for (ssize_t n; (n = ::read(output.fds[0], buffer.data(), buffer.size())) > 0;)
            received.append(buffer.data(), static_cast<std::size_t>(n));
    });
    {
        TerminalHost host(HostStreams{input.fds[0], output.fds[1], false, false, false});
        std::atomic<bool> writing{true};
        std::atomic<int> written_lines{0};
        std::thread other([&] {
            // Each shutdown after the first still sends what is gathered.
            while (writing) {
                if (written_lines > 0) host.shutdown();
                std::this_thread::yield();
            }
        });
        std::string expected;
        bool all_taken = true;
        for (int i = 0; i < kLines && all_taken; ++i) {
            const std::string text = line(i);
            DWORD written = 0;
            all_taken = host.write_output(std::as_bytes(std::span(text)), written) && written == text.size();
            expected += text;
            ++written_lines;
        }
        writing = false;
        other.join();
        host.shutdown();
        output.close(output.fds[1]);
        reader.join();
        EXPECT_TRUE(all_taken);
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected) << "bytes lost, doubled or out of order";
    }
}

}  // namespace
