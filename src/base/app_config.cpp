#include "base/app_config.h"

#include <climits>
#include <optional>

#include "base/ini_file.h"
#include "base/language.h"
#include "base/path_text.h"
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
    std::error_code ec;
    auto isFolder = [&ec](const std::filesystem::path& path) {
        return !path.empty() && std::filesystem::is_directory(path, ec);
    };
    const std::filesystem::path installedData = userData.empty() ? working : userData;
    std::optional<StartFolders> byProgram;
    if (!program.empty()) {
        const std::filesystem::path shared =
            (program / ".." / "share" / "velmora" / "par").lexically_normal();
        if (isFolder(program / "par")) {
            const bool installed = std::filesystem::is_regular_file(program / kInstalledMarker, ec);
            byProgram = {program / "par", installed ? installedData : program};
        } else if (isFolder(shared)) {
            byProgram = {shared, installedData};
        }
    }
    // Started in the program's own folder (a shortcut's working folder), the
    // program is still the one it was installed as.
    const std::filesystem::path workingPar = working / "par";
    if (isFolder(workingPar) &&
        !(byProgram && std::filesystem::equivalent(workingPar, byProgram->par, ec)))
        return {workingPar, working};
    return byProgram.value_or(StartFolders{workingPar, working});
}

StartFolders FindRunFolders() {
    std::error_code ec;
    return FindStartFolders(std::filesystem::current_path(ec), ProgramFolder(), UserDataFolder());
}

std::string RunFoldersHelp() {
    const StartFolders folders = FindRunFolders();
    return "language files: " + PathText(folders.par) +
           "\nown files (splicer folders, archive): " + PathText(folders.data) +
           "\n  an installed program keeps them in the user's data folder: " +
           PathText(UserDataFolder()) +
           "\n  a copy unpacked with par/ beside it (the Windows zip) keeps them there: " +
           PathText(ProgramFolder()) +
           "\n  to change from one to the other, close the program and move the FS folder\n";
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
