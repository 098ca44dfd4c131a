// ProgramFolder and UserDataFolder over /proc and the XDG base directories.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "base/user_folders.h"

namespace velmora {

std::filesystem::path ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path UserDataFolder() {
    // The XDG rules ignore a relative $XDG_DATA_HOME as they ignore an empty one.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::filesystem::path(xdg) / "velmora";
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user && user->pw_dir && *user->pw_dir == '/' ? user->pw_dir : nullptr;
    }
    if (!home) return {};
    return std::filesystem::path(home) / ".local" / "share" / "velmora";
}

}  // namespace velmora
