#pragma once
// The process-wide settings fixed once at start-up: the language of the run,
// the folder its language files are read from, the folder every file the
// program writes lives under, and the page colour.
#include <cstdint>
#include <filesystem>
#include <string>
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
    // The folder the program's own files go under: the splicer folders FS/<device>
    // and the archive (see FindStartFolders).
    std::filesystem::path AppDirectory;
    // The folder of the language files; empty means par/ under AppDirectory.
    std::filesystem::path ParDirectory;
    std::uint32_t PageColour = kDefaultPageColour;

    // Messages and status texts are English for any non-zero flag...
    bool EnglishMessages() const { return EnglishFlag != 0; }
    // ...while the language files and option tables are English only for exactly 1.
    bool UsesEnglishFiles() const { return EnglishFlag == 1; }

    std::filesystem::path ParFolder() const {
        return ParDirectory.empty() ? AppDirectory / "par" : ParDirectory;
    }
};

// Where a run reads its language files and writes its own files.
struct StartFolders {
    std::filesystem::path par;   // may not exist: then every text is the English default
    std::filesystem::path data;  // made when first written to
};

// The file the Windows installer puts beside the installed executable. Its presence,
// not the folder's name or its permissions, says the program was installed: the
// installer may be pointed at any folder, and an administrator (or anyone under Wine)
// can write to Program Files, yet an installed program keeps its files out of it for
// every user alike. The zip does not hold it.
inline constexpr const char* kInstalledMarker = "installed.txt";

// One rule on every platform: a program that was installed never writes beside
// itself (its folder belongs to the system and to every user of the machine); it
// reads the language files it was installed with and keeps its own files in the
// user's data folder. A copy set up by hand keeps everything together. In order:
//   1. `working`/par, unless it is the installed one: par there, files in `working`
//      (a developer's folder, the tests);
//   2. `program`/par: installed when the installer's marker is beside it (the MSI:
//      files in `userData`), else a copy unpacked with par/ beside the executable
//      (the Windows zip: files there too);
//   3. `program`/../share/velmora/par, installed (the Debian package): files in
//      `userData`;
//   4. no par/ anywhere: `working` for both, as a program that was never installed.
// An installed program whose system names no user folder keeps its files in `working`.
StartFolders FindStartFolders(const std::filesystem::path& working,
                              const std::filesystem::path& program,
                              const std::filesystem::path& userData);

// FindStartFolders for this process: its working directory, the folder of its
// executable and the user's data folder of the platform.
StartFolders FindRunFolders();

// The lines a program's --help ends with: the folders of this run, and the two
// places own files are kept (an installed program's user data folder, an unpacked
// copy's own folder), so that a user moving from one to the other can take the FS
// folder along.
std::string RunFoldersHelp();

// The C library's atoi without its undefined overflow: leading blanks, an
// optional sign and leading digits; 0 when there are none.
int AtoiValue(std::string_view text);

// Reads Lan_Ver.ini and the chosen language file in `folders.par`.
AppConfig LoadAppConfig(const StartFolders& folders);
// The same with par/ and the files both under `workingDirectory`.
AppConfig LoadAppConfig(const std::filesystem::path& workingDirectory);

// The settings of this run. Installed once by start-up; tests install their own.
const AppConfig& Config();
void InstallConfig(const AppConfig& config);

}  // namespace velmora
