#include "platform/posix/posix_terminal.h"

#include <algorithm>

#include "platform/posix/posix_io.h"

namespace platform {

termios console_modes(const termios& original, bool reads_keys) {
    termios modes = original;
    modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (reads_keys) {
        modes.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
        modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | IEXTEN);
        // Reads never block: the host polls first and reads what is there.
        modes.c_cc[VMIN] = 0;
        modes.c_cc[VTIME] = 0;
    }
    return modes;
}

TerminalModes::TerminalModes(int fd) : fd_(fd) { saved_ = posix_calls().tcgetattr(fd, &original_) == 0; }

bool TerminalModes::enter(bool reads_keys) {
    return saved_ && set_modes(fd_, TCSADRAIN, console_modes(original_, reads_keys));
}

bool TerminalModes::leave(bool after_output) {
    return saved_ && set_modes(fd_, after_output ? TCSADRAIN : TCSANOW, original_);
}

TerminalSize terminal_size(int fd) {
    winsize size{};
    if (posix_calls().get_window_size(fd, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return kFallbackTerminalSize;
    }
    // Console coordinates are 16-bit signed.
    constexpr int kLargest = 32767;
    return {std::min<int>(size.ws_col, kLargest), std::min<int>(size.ws_row, kLargest)};
}

}  // namespace platform
