// A POSIX program always has the standard output its starter gave it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "base/console_output.h"

namespace velmora {

void PrintToStartingConsole() {}

StandardErrorSilenced::StandardErrorSilenced() {
    std::fflush(stderr);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0) ::dup2(nowhere, STDERR_FILENO);
    ::close(nowhere);
}

StandardErrorSilenced::~StandardErrorSilenced() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
}

}  // namespace velmora
