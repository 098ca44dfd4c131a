// The password file on Windows: %APPDATA%\postgresql\pgpass.conf, or the file
// PGPASSFILE names. A file in the user's own profile is private to that user.
#include <windows.h>

#include "base/atomic_file.h"
#include "team/team_password_file.h"

namespace velmora::team {

std::filesystem::path PasswordFilePath() {
    wchar_t value[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"PGPASSFILE", value, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return std::filesystem::path(value);
    n = ::GetEnvironmentVariableW(L"APPDATA", value, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::filesystem::path(value) / L"postgresql" / L"pgpass.conf";
}

std::string WritePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const FileWriteResult written = ReplaceFile(file, bytes);
    return written.ok ? std::string() : written.reason;
}

}  // namespace velmora::team
