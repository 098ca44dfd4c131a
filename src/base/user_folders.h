#pragma once
// Where the running program is and where its user keeps a program's own files,
// which each platform tells differently (user_folders_<platform>.cpp).
#include <filesystem>

namespace velmora {

// The folder of the running executable, or empty when the system does not say.
std::filesystem::path ProgramFolder();

// The user's folder for this program's files, where an installed program keeps
// its own (FindStartFolders): $XDG_DATA_HOME/velmora, else ~/.local/share/velmora
// (POSIX); %LOCALAPPDATA%\Velmora (Windows). Empty when the system names no such
// folder. Not created here.
std::filesystem::path UserDataFolder();

}  // namespace velmora
