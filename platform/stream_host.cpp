#include "platform/stream_host.h"

#include <time.h>

#include <cerrno>
#include <csignal>

#include "platform/posix_io.h"

namespace platform {

StreamHost::StreamHost(int fd) : fd_(fd) { std::signal(SIGPIPE, SIG_IGN); }

void StreamHost::wait(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool StreamHost::write_output(std::span<const std::byte> bytes, DWORD& written) {
    const bool ok = write_all(fd_, bytes);
    written = ok ? static_cast<DWORD>(bytes.size()) : 0;
    return ok;
}

}  // namespace platform
