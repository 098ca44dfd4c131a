// The interrupt over the Windows console: Ctrl-C, Ctrl-Break and closing the
// console window set a flag. The system runs the handler on a thread of its own,
// so what an interrupt wakes runs there as ordinary code.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "base/interrupt.h"

namespace velmora {
namespace {

std::atomic<bool> g_interrupted{false};
// As a POSIX shell tells SIGINT (Ctrl-C) and SIGTERM (Ctrl-Break, the console closed).
std::atomic<int> g_exitStatus{130};
std::mutex g_callbackMutex;
std::function<void()> g_callback;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: {
            if (!g_interrupted.exchange(true)) g_exitStatus = event == CTRL_C_EVENT ? 130 : 143;
            std::lock_guard lock(g_callbackMutex);
            if (g_callback) g_callback();
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void InstallInterruptHandler() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
    return g_interrupted.load();
}

int InterruptExitStatus() {
    return g_exitStatus.load();
}

void SetInterruptCallback(std::function<void()> onInterrupt) {
    std::lock_guard lock(g_callbackMutex);
    g_callback = std::move(onInterrupt);
    if (g_callback && g_interrupted) g_callback();
}

}  // namespace velmora
