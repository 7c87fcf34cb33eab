#include "platform/posix/control_events.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/console_host.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::vector<PHANDLER_ROUTINE> g_handlers;  // in order of registration
bool g_ignore_ctrl_c = false;

constexpr int kShellSignalStatusBase = 128;

bool is_signal_event(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

bool is_known_event(DWORD type) {
    return is_signal_event(type) || type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT ||
           type == CTRL_SHUTDOWN_EVENT;
}

[[noreturn]] void end_by_signal(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    // The thread may have inherited a mask that blocks it (a host that takes
    // its signals through a descriptor blocks them).
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal_number);
    _exit(kShellSignalStatusBase + signal_number);
}

[[noreturn]] void default_handling(DWORD type) {
    shut_down_console_host();
    if (type == CTRL_C_EVENT) end_by_signal(SIGINT);
    if (type == CTRL_BREAK_EVENT) end_by_signal(SIGQUIT);
    _exit(control_event_exit_status(type));
}

// Runs on the handler thread.
void dispatch(DWORD type) {
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        // Handlers run without the lock, so that they may add or remove
        // handlers themselves.
        const std::lock_guard lock(g_mutex);
        handlers = g_handlers;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if ((*it)(type)) return;
    }
    default_handling(type);
}

}  // namespace

bool raise_control_event(DWORD type) {
    if (!is_known_event(type)) return false;
    {
        const std::lock_guard lock(g_mutex);
        if (type == CTRL_C_EVENT && g_ignore_ctrl_c) return false;
    }
    try {
        std::thread(dispatch, type).join();
    } catch (const std::system_error&) {
        // No thread to be had: the handlers still run, here.
        dispatch(type);
    }
    return true;
}

int control_event_exit_status(DWORD type) {
    switch (type) {
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
            return kShellSignalStatusBase + SIGHUP;
        case CTRL_SHUTDOWN_EVENT:
            return kShellSignalStatusBase + SIGTERM;
        default:
            return 0;
    }
}

std::size_t control_handler_count() {
    const std::lock_guard lock(g_mutex);
    return g_handlers.size();
}

}  // namespace platform

using platform::g_handlers;
using platform::g_ignore_ctrl_c;
using platform::g_mutex;

// A null routine switches the process between ignoring Ctrl+C and handling it.
// Removing takes out the latest registration of the routine and fails when
// there is none.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    const std::lock_guard lock(g_mutex);
    if (routine == nullptr) {
        g_ignore_ctrl_c = add != FALSE;
        return TRUE;
    }
    if (add) {
        g_handlers.push_back(routine);
        return TRUE;
    }
    const auto found = std::find(g_handlers.rbegin(), g_handlers.rend(), routine);
    if (found == g_handlers.rend()) return FALSE;
    g_handlers.erase(std::next(found).base());
    return TRUE;
}
