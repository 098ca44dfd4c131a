#pragma once
// libpq's own password file, the one place a team archive's password is kept when
// the user asks for it to be remembered: ~/.pgpass (or the file PGPASSFILE names)
// on Linux, %APPDATA%\postgresql\pgpass.conf on Windows. Lines are
// host:port:database:user:password, with ':' and '\' escaped by a backslash; libpq
// takes the first line that matches.
#include <filesystem>
#include <string>
#include <string_view>

#include "team/team_address.h"

namespace velmora::team {

// The file libpq reads (one implementation per platform); empty when the system
// names no home for it.
std::filesystem::path PasswordFilePath();

// `text` (a password file's contents) with `password` for `key` as its first line:
// lines for the same host, port, database and user (as written, escapes undone)
// are dropped, every other line is kept as it was.
std::string WithPassword(std::string_view text, const PasswordKey& key, std::string_view password);

// Writes `password` for `key` into `file` (created when missing), readable and
// writable by its owner only; "" when written, else why not.
std::string RememberPassword(const std::filesystem::path& file, const PasswordKey& key,
                             std::string_view password);

// Replaces `file` whole with `bytes`, owner-only (one implementation per platform).
std::string WritePrivateFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace velmora::team
