// What the program does when its command line asks for no session: the help,
// the version, a usage error, or one conversion. All of it is written with the
// C library's standard streams; the console is never set up, so a terminal
// keeps its screen and modes.
#pragma once

#include "app/command_line.h"

namespace app {

// Exit statuses of the program besides 0 (success). The session's own ends
// (standard input ran out, signals) have theirs in the platform.
inline constexpr int kStatusWrongInput = 1;
inline constexpr int kStatusUsage = 2;
// Standard output could not take everything written to it (a full disk, an
// I/O error, a reader that went away).
inline constexpr int kStatusOutputLost = 4;

// Carries out `command`, whose mode is not Session, and gives the exit status:
//   Help     the usage and a description on standard output, 0;
//   Version  the name and version on standard output, 0;
//   UsageError  the problem and the usage on standard error, kStatusUsage;
//   OneShot  the answer line a session would print for these values and a
//            line feed on standard output, 0, or "Wrong input!" on standard
//            error, kStatusWrongInput.
// Output that cannot all be written gives kStatusOutputLost instead, with a
// line naming the error on standard error unless the reader went away.
int run_command(const Command& command);

}  // namespace app
