// The password file on Windows: %APPDATA%\postgresql\pgpass.conf, or the file
// PGPASSFILE names. A file in the user's own profile is private to that user.
#include <cstdlib>

#include "base/atomic_file.h"
#include "team/team_password_file.h"

namespace velmora::team {

std::filesystem::path PasswordFilePath() {
    // The wide environment, so that a profile folder with any name survives.
    if (const wchar_t* named = ::_wgetenv(L"PGPASSFILE"); named && *named) return named;
    const wchar_t* appData = ::_wgetenv(L"APPDATA");
    if (!appData || !*appData) return {};
    return std::filesystem::path(appData) / L"postgresql" / L"pgpass.conf";
}

std::string WritePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const FileWriteResult written = ReplaceFile(file, bytes);
    return written.ok ? std::string() : written.reason;
}

}  // namespace velmora::team
