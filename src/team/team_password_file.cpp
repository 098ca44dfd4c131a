#include "team/team_password_file.h"

#include <array>
#include <optional>

#include "base/file_read.h"

namespace velmora::team {
namespace {

std::string Escaped(std::string_view field) {
    std::string out;
    for (const char c : field) {
        if (c == ':' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The first four fields of a line, escapes undone; nullopt for a comment, a blank
// line or one with fewer fields.
std::optional<PasswordKey> KeyOfLine(std::string_view line) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') return std::nullopt;
    std::array<std::string, 4> fields;
    std::size_t n = 0;
    for (std::size_t i = 0; i < line.size() && n < fields.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            fields[n].push_back(line[++i]);
        else if (line[i] == ':')
            ++n;
        else
            fields[n].push_back(line[i]);
    }
    if (n < fields.size()) return std::nullopt;
    return PasswordKey{fields[0], fields[1], fields[2], fields[3]};
}

}  // namespace

std::string WithPassword(std::string_view text, const PasswordKey& key, std::string_view password) {
    std::string out = Escaped(key.host) + ":" + Escaped(key.port) + ":" + Escaped(key.database) +
                      ":" + Escaped(key.user) + ":" + Escaped(password) + "\n";
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (KeyOfLine(line) == key) continue;
        out.append(line);
        out.push_back('\n');
    }
    return out;
}

std::string RememberPassword(const std::filesystem::path& file, const PasswordKey& key,
                             std::string_view password) {
    if (file.empty()) return "no home folder for the password file";
    const FileReadResult read = ReadWholeFile(file, 1u << 20);
    if (!read.ok() && read.problem != FileReadProblem::Missing)
        return read.systemReason.empty() ? "the password file cannot be read" : read.systemReason;
    return WritePrivateFile(file, WithPassword(read.ok() ? read.bytes : "", key, password));
}

}  // namespace velmora::team
