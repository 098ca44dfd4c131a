#include <windows.h>

#include "base/program_arguments.h"
// shellapi.h needs the types windows.h declares first.
#include <shellapi.h>

#include "base/path_text.h"
#include "base/windows_error.h"

namespace velmora {
namespace {

// A surrogate without its pair is no character: it has no UTF-8 form (the
// converter would make it U+FFFD, which was not typed).
bool IsWholeText(const wchar_t* text) {
    for (; *text; ++text) {
        const bool high = *text >= 0xD800 && *text <= 0xDBFF;
        const bool low = *text >= 0xDC00 && *text <= 0xDFFF;
        if (low) return false;
        if (high && !(text[1] >= 0xDC00 && text[1] <= 0xDFFF)) return false;
        if (high) ++text;
    }
    return true;
}

}  // namespace

ProgramArgumentsRead ProgramArguments(int argc, char** argv) {
    ProgramArgumentsRead read;
    read.encoding = "UTF-16";
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        if (argc > 1) read.arguments.assign(argv + 1, argv + argc);
    } else {
        for (int i = 1; i < count; ++i) {
            if (!IsWholeText(wide[i]) && !read.unreadable) read.unreadable = i - 1;
            read.arguments.push_back(NarrowFromWide(wide[i], static_cast<int>(wcslen(wide[i]))));
        }
        LocalFree(wide);
    }
    return read;
}

std::filesystem::path PathFromArgument(std::string_view utf8) {
    return PathFromText(utf8);
}

}  // namespace velmora
