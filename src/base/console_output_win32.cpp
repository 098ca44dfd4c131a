// A window program's standard output and error, when not redirected, opened on the
// console of the program that started it (cmd, PowerShell), so that `velmora --help`
// is seen there. The console's prompt may come back before the text: it does not wait
// for a window program.
#include <fcntl.h>
#include <io.h>
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

StandardErrorSilenced::StandardErrorSilenced() {
    std::fflush(stderr);
    const int nowhere = _open("NUL", _O_WRONLY);
    if (nowhere < 0) return;
    saved_ = _dup(2);
    if (saved_ >= 0) _dup2(nowhere, 2);
    _close(nowhere);
}

StandardErrorSilenced::~StandardErrorSilenced() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
}

}  // namespace velmora
