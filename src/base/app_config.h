#pragma once
// The process-wide settings fixed once at start-up: the language of the run,
// the working directory every file of the program lives under, and the page colour.
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace velmora {

// A colour as red in the low byte, then green, then blue.
constexpr std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return r | (g << 8) | (static_cast<std::uint32_t>(b) << 16);
}
constexpr std::uint8_t RedOf(std::uint32_t c) {
    return c & 0xFF;
}
constexpr std::uint8_t GreenOf(std::uint32_t c) {
    return (c >> 8) & 0xFF;
}
constexpr std::uint8_t BlueOf(std::uint32_t c) {
    return (c >> 16) & 0xFF;
}

inline constexpr std::uint32_t kDefaultPageColour = Rgb(173, 216, 230);

struct AppConfig {
    // 1 = English, 0 = Chinese; other values are kept as read (see UsesEnglishFiles).
    int EnglishFlag = 1;
    // The working directory at start-up, not the executable's folder.
    std::filesystem::path AppDirectory;
    std::uint32_t PageColour = kDefaultPageColour;

    // Messages and status texts are English for any non-zero flag...
    bool EnglishMessages() const { return EnglishFlag != 0; }
    // ...while the language files and option tables are English only for exactly 1.
    bool UsesEnglishFiles() const { return EnglishFlag == 1; }
};

// The C library's atoi without its undefined overflow: leading blanks, an
// optional sign and leading digits; 0 when there are none.
int AtoiValue(std::string_view text);

// Reads par/Lan_Ver.ini and the chosen language file under `workingDirectory`.
AppConfig LoadAppConfig(const std::filesystem::path& workingDirectory);

// The settings of this run. Installed once by start-up; tests install their own.
const AppConfig& Config();
void InstallConfig(const AppConfig& config);

}  // namespace velmora
