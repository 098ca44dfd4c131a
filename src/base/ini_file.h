#pragma once
// A reader of Windows-style INI files with the private-profile rules the
// language and version files were written for.
#include <filesystem>
#include <string>
#include <string_view>

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

}  // namespace velmora
