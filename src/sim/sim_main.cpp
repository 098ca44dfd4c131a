// velmora-sim: a virtual splicer on a pseudo-terminal, for the program, the
// command-line tool and manual testing. Prints the port's device path first.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/version.h"
#include "sim/splicer_contents.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: velmora-sim [--baud RATE] [--fast] [--link PATH] [--fault CMD:KIND[:ARG][xN]]...\n"
        "                   [--records N] [--images N] [--version]\n"
        "  --baud RATE   line rate the replies and intake are paced at (default 115200)\n"
        "  --fast        no pacing\n"
        "  --link PATH   also make PATH a symbolic link to the port\n"
        "  --fault F     misbehave on command CMD (hex): silent, delay:MS, trickle[:MS],\n"
        "                badcheck, reject, wrongecho, short[:N], hangup[:N]; xN = only N times\n"
        "  --records N   splice records held in memory (default 150, at most 65535)\n"
        "  --images N    splice images held (default 6, at most 255)\n"
        "  --version     print the version and stop\n"
        "The first line printed is the port to open, e.g. /dev/pts/3.\n");
}

// A whole number from 0 to `max`, or -1.
long CountArgument(const std::string& text, long max) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    return (text.empty() || *end != '\0' || n < 0 || n > max) ? -1 : n;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora::sim;
    SplicerOptions options;
    std::vector<CommandFault> faults;
    SplicerContents contents;
    contents.firmwareReport = stderr;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "velmora-sim: %.*s needs a value\n",
                             static_cast<int>(a.size()), a.data());
                std::exit(2);
            }
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("velmora-sim %s\n", velmora::kVersion);
            return 0;
        } else if (a == "--baud") {
            options.baud = std::atoi(std::string(value()).c_str());
            if (options.baud <= 0) {
                std::fprintf(stderr, "velmora-sim: the rate must be a positive number\n");
                return 2;
            }
        } else if (a == "--fast") {
            options.fast = true;
        } else if (a == "--link") {
            options.linkPath = std::string(value());
        } else if (a == "--records") {
            contents.records = static_cast<int>(CountArgument(std::string(value()), 0xFFFF));
            if (contents.records < 0) {
                std::fprintf(stderr, "velmora-sim: --records needs a number from 0 to 65535\n");
                return 2;
            }
        } else if (a == "--images") {
            contents.images = static_cast<int>(CountArgument(std::string(value()), kMaxImageCount));
            if (contents.images < 0) {
                std::fprintf(stderr, "velmora-sim: --images needs a number from 0 to 255\n");
                return 2;
            }
        } else if (a == "--fault") {
            std::string error;
            auto fault = ParseFault(value(), &error);
            if (!fault) {
                std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
                return 2;
            }
            faults.push_back(*fault);
        } else {
            std::fprintf(stderr, "velmora-sim: unknown option %.*s\n", static_cast<int>(a.size()),
                         a.data());
            Usage(stderr);
            return 2;
        }
    }

    // Block the stop signals before any thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    VirtualSplicer splicer(options);
    InstallAllCommands(splicer, contents);
    for (const CommandFault& f : faults) splicer.SetFault(f.command, f.fault);
    std::string error;
    if (!splicer.Start(&error)) {
        std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", splicer.PortPath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-sim: virtual splicer at %d bit/s%s on %s; Ctrl-C stops it\n",
                 options.baud, options.fast ? " (unpaced)" : "", splicer.PortPath().c_str());

    const timespec tick{0, 200'000'000};
    for (;;) {
        int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig > 0) break;
        if (splicer.HungUp()) {
            std::fprintf(stderr, "velmora-sim: line dropped (hang-up fault)\n");
            break;
        }
    }
    splicer.Stop();
    return 0;
}
