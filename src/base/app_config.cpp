#include "base/app_config.h"

#include <climits>

#include "base/ini_file.h"
#include "base/language.h"
#include "base/user_folders.h"

namespace velmora {
namespace {
AppConfig g_config;
}

int AtoiValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

StartFolders FindStartFolders(const std::filesystem::path& working,
                              const std::filesystem::path& program,
                              const std::filesystem::path& userData) {
    auto isFolder = [](const std::filesystem::path& path) {
        std::error_code ec;
        return !path.empty() && std::filesystem::is_directory(path, ec);
    };
    if (isFolder(working / "par")) return {working / "par", working};
    if (!program.empty()) {
        if (isFolder(program / "par")) return {program / "par", program};
        const std::filesystem::path installed =
            (program / ".." / "share" / "velmora" / "par").lexically_normal();
        if (isFolder(installed)) return {installed, userData.empty() ? working : userData};
    }
    return {working / "par", working};
}

StartFolders FindRunFolders() {
    std::error_code ec;
    return FindStartFolders(std::filesystem::current_path(ec), ProgramFolder(), UserDataFolder());
}

AppConfig LoadAppConfig(const std::filesystem::path& workingDirectory) {
    return LoadAppConfig(StartFolders{workingDirectory / "par", workingDirectory});
}

AppConfig LoadAppConfig(const StartFolders& folders) {
    AppConfig config;
    config.AppDirectory = folders.data;
    config.ParDirectory = folders.par;
    config.EnglishFlag = 1;
    std::string version = ReadProfileString(folders.par / "Lan_Ver.ini", "DlgPara", "Comm_Lanage");
    if (!version.empty()) config.EnglishFlag = AtoiValue(version);

    std::uint8_t rgb[3] = {RedOf(kDefaultPageColour), GreenOf(kDefaultPageColour),
                           BlueOf(kDefaultPageColour)};
    const TextKey* keys[3] = {&keys::DlgColorRed, &keys::DlgColorGreen, &keys::DlgColorBlue};
    for (int i = 0; i < 3; ++i) {
        std::string value = LookupText(config, keys[i]->section, keys[i]->key);
        // Only the low 8 bits count: "300" is 44 and "-1" is 255.
        if (!value.empty()) rgb[i] = static_cast<std::uint8_t>(AtoiValue(value) & 0xFF);
    }
    config.PageColour = Rgb(rgb[0], rgb[1], rgb[2]);
    return config;
}

const AppConfig& Config() {
    return g_config;
}
void InstallConfig(const AppConfig& config) {
    g_config = config;
}

}  // namespace velmora
