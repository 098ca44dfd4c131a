#include "base/ini_file.h"

#include <cctype>

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

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x < 0x80 && y < 0x80) {
            if (std::tolower(x) != std::tolower(y)) return false;
        } else if (x != y) {
            return false;
        }
    }
    return true;
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

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key) {
    const std::string raw = ProfileBytes(file);
    std::string_view text = raw;
    bool utf8 = false;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
        utf8 = true;
    } else {
        utf8 = IsValidUtf8(text);
    }

    bool inSection = false;
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
            // Only the first section of that name counts, as with the Windows reader.
            if (inSection) return {};
            inSection = EqualsNoCase(Trim(line.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (!EqualsNoCase(Trim(line.substr(0, eq)), key)) continue;
        std::string_view value = Unquote(Trim(line.substr(eq + 1)));
        // A file marked UTF-8 is read as UTF-8 whatever it holds; a byte that is
        // not UTF-8 shows as a replacement character, never as invalid text.
        if (utf8) return ValidUtf8(CutUtf8(value, kProfileValueCap));
        return GbkToUtf8(CutGbk(value, kProfileValueCap));
    }
    return {};
}

}  // namespace velmora
