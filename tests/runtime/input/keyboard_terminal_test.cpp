// The keyboard layer on the real terminal host: keys typed as terminal bytes
// on a pseudo-terminal, or piped in, arrive as the key codes a console's key
// events make.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/pty_process.h"

namespace {

using platform::PtyProcess;

constexpr int kCols = 80;
constexpr int kRows = 6;

// win32-input-mode reports (virtual key; scan code; character; down; control
// state; repeat): Alt held while keypad 6 and 5 are typed with Num Lock on,
// then released.
constexpr std::string_view kAltKeypad65 =
    "\x1b[18;56;0;1;34;1_"                        // Alt down
    "\x1b[102;77;0;1;34;1_\x1b[102;77;0;0;34;1_"  // keypad 6
    "\x1b[101;76;0;1;34;1_\x1b[101;76;0;0;34;1_"  // keypad 5
    "\x1b[18;56;0;0;32;1_";                       // Alt up

TEST(KeyboardOnATerminal, TypedBytesArriveAsKeyCodes) {
    PtyProcess pty(kCols, kRows);
    pty.start(KEY_READER);
    ASSERT_TRUE(pty.read_until_row(0, "ready"));
    // a, Up, F1 (xterm), Alt+keypad 6 5.
    pty.type("a\x1b[A\x1bOP");
    pty.type(kAltKeypad65);
    ASSERT_TRUE(pty.read_until_row(0, "ready 97 18687 15359 65")) << pty.screen().text(0);
    // A lone ESC is Escape once the terminal's timeout has passed; the reader
    // ends on it alone.
    pty.type("\x1b");
    const auto status = pty.wait_status();
    ASSERT_TRUE(status.has_value()) << "the reader did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(KeyboardOnATerminal, PipedKeysThenTheCloseKeyWhenTheInputEnds) {
    PtyProcess pty(kCols, kRows);
    PtyProcess::Options options;
    options.input = PtyProcess::Stream::Pipe;
    options.output = PtyProcess::Stream::Pipe;
    options.piped_input = "a\x1b[A\x1bOP";
    pty.start(KEY_READER, {}, options);
    ASSERT_TRUE(pty.read_until_output_closed());
    EXPECT_EQ(pty.output_bytes(), "ready 97 18687 15359 27647 ");
    const auto status = pty.wait_status();
    ASSERT_TRUE(status.has_value()) << "the reader did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 3);  // ended at the wait after the close key
}

}  // namespace
