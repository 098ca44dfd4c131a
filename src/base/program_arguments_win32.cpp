#include <windows.h>

#include "base/program_arguments.h"
// shellapi.h needs the types windows.h declares first.
#include <shellapi.h>

#include "base/windows_error.h"

namespace velmora {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return argc < 1 ? std::vector<std::string>{}
                        : std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(NarrowFromWide(wide[i], static_cast<int>(wcslen(wide[i]))));
    LocalFree(wide);
    return arguments;
}

}  // namespace velmora
