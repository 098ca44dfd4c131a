// The interrupt over the Windows console: Ctrl-C, Ctrl-Break and closing the
// console window set a flag.
#include <windows.h>

#include <atomic>

#include "base/interrupt.h"

namespace velmora {
namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_interrupted = true;
            return TRUE;
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

}  // namespace velmora
