// ProgramFolder and UserDataFolder over GetModuleFileNameW and %LOCALAPPDATA%.
#include <windows.h>

#include <string>

#include "base/user_folders.h"

namespace velmora {

std::filesystem::path ProgramFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) return {};
        if (n < name.size()) {
            name.resize(n);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);  // cut short: try a larger buffer
    }
}

std::filesystem::path UserDataFolder() {
    const DWORD needed = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (needed == 0) return {};
    std::wstring value(needed, L'\0');
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), needed);
    if (n == 0 || n >= needed) return {};
    value.resize(n);
    return std::filesystem::path(value) / L"Velmora";
}

}  // namespace velmora
