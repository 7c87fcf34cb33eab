// Console control events (Ctrl+C, Ctrl+Break, close, log-off, shut-down) and
// the handlers that SetConsoleCtrlHandler registers for them.
#pragma once

#include <cstddef>

#include "platform/console_api.h"

namespace platform {

// Calls the registered handlers for the event on a thread of their own, last
// registered first, until one returns TRUE, and waits for that thread to
// finish: the caller (a host, on the program's thread) is parked while the
// handlers run, so a handler that ends the process never races with it.
// When no handler returns TRUE, the default handling ends the process from
// the handler thread, after shut_down_console_host():
//   CTRL_C_EVENT, CTRL_BREAK_EVENT: as a Unix program ends on SIGINT and
//     SIGQUIT (the signal is reset to its default action and raised);
//   CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT: _exit with
//     control_event_exit_status(type).
// Neither runs the at-exit list, as when a signal ends a process.
// Returns true when a handler handled the event, false when the event was
// not delivered: CTRL_C_EVENT while SetConsoleCtrlHandler(nullptr, TRUE) is in
// force, or a type that is not one of the five.
bool raise_control_event(DWORD type);

// The exit status of a process that a close, log-off or shut-down event ends:
// what a shell reports for a process ended by the matching signal (hang-up
// for close and log-off, termination for shut-down), so scripts can tell it
// from an ordinary exit. 0 for other types.
int control_event_exit_status(DWORD type);

// The handlers registered now (tests check that the runtime removes its own).
std::size_t control_handler_count();

}  // namespace platform
