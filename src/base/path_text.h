#pragma once
// Paths as UTF-8 text and back, the same on every platform. A path's string() and
// path(std::string) use the system's narrow code page on Windows, which garbles or
// refuses a folder such as C:\Users\张伟: every path shown, logged, handed to SQLite
// or taken from a text box or an argument goes through these two instead.
#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

inline std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

inline std::filesystem::path PathFromText(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace velmora
