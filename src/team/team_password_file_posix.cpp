// The password file on Linux: ~/.pgpass, or the file PGPASSFILE names; libpq
// ignores it unless only its owner may read it, so it is written 0600.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "team/team_password_file.h"

namespace velmora::team {

std::filesystem::path PasswordFilePath() {
    if (const char* named = std::getenv("PGPASSFILE"); named && *named) return named;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    return home && *home ? std::filesystem::path(home) / ".pgpass" : std::filesystem::path();
}

std::string WritePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::string temporary = file.string() + ".XXXXXX";
    // mkstemp makes the file 0600 whatever the umask: the password is never readable
    // by others, not even for a moment.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), file.c_str()) == 0) return {};
    const std::string why = std::strerror(ok ? errno : error);
    ::unlink(temporary.c_str());
    return why;
}

}  // namespace velmora::team
