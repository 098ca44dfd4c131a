#include "base/ini_file.h"

#include <optional>
#include <set>

#include "base/file_read.h"
#include "base/text_codec.h"

namespace velmora {
namespace {

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n\f\v";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

// Names match without regard to case, for ASCII letters only (as the Windows
// reader does for the files' own code pages): both sides are folded alike.
std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// The language files are a few tens of kB; nothing near this size is one.
constexpr std::uintmax_t kProfileFileLimit = 1 << 20;

// The file's bytes, or nothing for anything that cannot be a profile (missing,
// unreadable, a folder, a device, far too large): it reads as a missing file does.
std::string ProfileBytes(const std::filesystem::path& file) {
    FileReadResult read = ReadWholeFile(file, kProfileFileLimit);
    return read.ok() ? std::move(read.bytes) : std::string();
}

}  // namespace

ProfileTable ProfileTable::Read(const std::filesystem::path& file) {
    ProfileTable table;
    const std::string raw = ProfileBytes(file);
    std::string_view text = raw;
    bool utf8 = false;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
        utf8 = true;
    } else {
        utf8 = IsValidUtf8(text);
    }

    std::set<std::string> seenSections;
    std::optional<std::string> section;  // the section being read; none when it does not count
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            // Only the first section of a name counts, as with the Windows reader.
            std::string name = Folded(Trim(line.substr(1, close - 1)));
            section.reset();
            if (seenSections.insert(name).second) section = std::move(name);
            continue;
        }
        if (!section) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::pair<std::string, std::string> name{*section, Folded(Trim(line.substr(0, eq)))};
        if (table.values_.contains(name)) continue;  // the first of a key counts
        std::string_view value = Unquote(Trim(line.substr(eq + 1)));
        // A file marked UTF-8 is read as UTF-8 whatever it holds; a byte that is
        // not UTF-8 shows as a replacement character, never as invalid text.
        table.values_.emplace(std::move(name), utf8 ? ValidUtf8(CutUtf8(value, kProfileValueCap))
                                                    : GbkToUtf8(CutGbk(value, kProfileValueCap)));
    }
    return table;
}

std::string ProfileTable::Lookup(std::string_view section, std::string_view key) const {
    const auto found = values_.find(std::pair{Folded(section), Folded(key)});
    return found == values_.end() ? std::string() : found->second;
}

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key) {
    return ProfileTable::Read(file).Lookup(section, key);
}

}  // namespace velmora
