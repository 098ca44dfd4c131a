// velmora: the desktop companion of the fusion splicer.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/app_config.h"
#include "base/console_output.h"
#include "base/version.h"
#include "ui/app/velmora_app.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: velmora [--demo] [--version]\n"
                 "  --demo      also run a virtual splicer in this process; the Setting page\n"
                 "              lists its port first\n"
                 "  --version   print the version and stop\n"
                 "%s",
                 velmora::RunFoldersHelp().c_str());
}

[[maybe_unused]] bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt aborts when it finds no display; say what to do instead. Windows always has one.
bool DisplayAvailable() {
#ifdef _WIN32
    return true;
#else
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    velmora::ui::StartOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--demo") {
            options.demo = true;
            continue;
        }
        velmora::PrintToStartingConsole();
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("velmora %s\n", velmora::kVersion);
            return 0;
        }
        std::fprintf(stderr, "velmora: unknown option %s\n", argv[i]);
        Usage(stderr);
        return 2;
    }
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "velmora: no display found (DISPLAY and WAYLAND_DISPLAY are unset); run it "
                     "under a virtual one: xvfb-run -a %s%s\n",
                     argv[0], options.demo ? " --demo" : "");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    // Lets the desktop match the window to its menu entry (and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    velmora::ui::CVelmoraApp velmora;
    return velmora.InitInstance(options);
}
