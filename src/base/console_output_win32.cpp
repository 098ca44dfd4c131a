// A window program's standard output and error, when not redirected, opened on the
// console of the program that started it (cmd, PowerShell), so that `velmora --help`
// is seen there. The console's prompt may come back before the text: it does not wait
// for a window program.
#include <windows.h>

#include <cstdio>

#include "base/console_output.h"

namespace velmora {
namespace {

bool Redirected(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void PrintToStartingConsole() {
    const bool out = Redirected(STD_OUTPUT_HANDLE), err = Redirected(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace velmora
