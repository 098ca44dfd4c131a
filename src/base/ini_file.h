#pragma once
// A reader of Windows-style INI files with the private-profile rules the
// language and version files were written for.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

// Longest value a lookup returns, in bytes of the file's own encoding.
inline constexpr std::size_t kProfileValueCap = 1023;

// Value of `key` in `section` of `file`, as UTF-8, or "" when the file,
// section or key is missing. Section and key names match without regard to
// case; blanks around keys and values are trimmed; one pair of matching
// surrounding quotes is removed; values are cut at 1023 bytes. The file may
// be GBK or UTF-8 (ASCII being both), with CRLF or LF line ends. A file that
// cannot be a profile (a folder, a device, unreadable, over 1 MiB) reads as a
// missing one.
std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key);

// A whole profile file read once, answering lookups as ReadProfileString does
// (the same rules: the first section of a name and the first key in it count).
class ProfileTable {
  public:
    ProfileTable() = default;  // a missing file: every lookup is ""
    static ProfileTable Read(const std::filesystem::path& file);
    std::string Lookup(std::string_view section, std::string_view key) const;

  private:
    // Section and key, each folded to lower case (ASCII letters only), to the value as UTF-8.
    std::map<std::pair<std::string, std::string>, std::string, std::less<>> values_;
};

}  // namespace velmora
