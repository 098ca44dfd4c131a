// velmora-cli: the splicer's parameters (and later its records, images and
// firmware) from the command line, through the same core as the window.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/app_config.h"
#include "base/number_text.h"
#include "base/program_arguments.h"
#include "base/version.h"
#include "cli/cli_commands.h"

namespace {

using namespace velmora;
using namespace velmora::cli;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: velmora-cli [-p|--port DEVICE] [-b|--baud RATE] [-l|--lang en|zh] "
                 "COMMAND ...\n"
                 "       velmora-cli --version\n"
                 "  -p, --port DEVICE  serial port of the splicer (default: the first port found)\n"
                 "  -b, --baud RATE    line speed (default 115200)\n"
                 "  -l, --lang en|zh   language of texts (default: Lan_Ver.ini of the language "
                 "files)\n"
                 "  --                 ends the options, here and after a command: every word "
                 "after it is a name or a file (job create -- -o)\n"
                 "every -o FILE and FILE written: - is the standard output; a link is followed; "
                 "a FIFO or device is written to, never replaced\n"
                 "commands:\n");
    for (const CliCommand& command : AllCliCommands()) {
        const std::string head = std::string(command.name) + (command.synopsis.empty() ? "" : " ") +
                                 std::string(command.synopsis);
        std::fprintf(to, "  %-26s %.*s\n", head.c_str(), static_cast<int>(command.summary.size()),
                     command.summary.data());
    }
    std::fprintf(to,
                 "exit status: 0 success, 1 the splicer or the line failed, 2 usage error, "
                 "failed range check or file error, 3 done but not kept in the archive (the "
                 "reason on standard error)\n");
    std::fprintf(to, "%s", RunFoldersHelp().c_str());
}

// Any line speed the port can be set to.
constexpr NumberRange kLineSpeeds{1, 0x7FFFFFFF};

struct ParsedLine {
    GlobalOptions options;
    std::vector<std::string> rest;  // the command and its arguments
    bool help = false;
    bool version = false;
    std::string error;
    bool usage = true;  // the usage text follows the error
};

// Options come before the command; "--opt=value" and "--opt value" both work; "--"
// ends them.
ParsedLine ParseCommandLine(int argc, char** argv) {
    ParsedLine parsed;
    const ProgramArgumentsRead read = ProgramArguments(argc, argv);
    const std::vector<std::string>& args = read.arguments;
    if (read.unreadable) {
        parsed.error = ArgumentNotText(args, *read.unreadable, read.encoding);
        parsed.usage = false;
        return parsed;
    }
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("-"); ++i) {
        if (args[i] == "--") {
            ++i;
            break;
        }
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('=');
            name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            parsed.error = name + " needs a value";
            return std::nullopt;
        };
        if (name == "-h" || name == "--help") {
            parsed.help = true;
        } else if (name == "--version") {
            parsed.version = true;
        } else if (name == "-p" || name == "--port") {
            if (auto v = value()) parsed.options.port = *v;
        } else if (name == "-b" || name == "--baud") {
            if (auto v = value()) {
                const NumberRead baud = ReadNumber(*v, kLineSpeeds);
                if (!baud.ok()) parsed.error = NumberRefusedText("-b", *v, kLineSpeeds);
                parsed.options.baud = static_cast<int>(baud.units);
            }
        } else if (name == "-l" || name == "--lang") {
            if (auto v = value()) {
                if (*v == "en")
                    parsed.options.englishFlag = 1;
                else if (*v == "zh")
                    parsed.options.englishFlag = 0;
                else
                    parsed.error = "the language is en or zh, not '" + *v + "'";
            }
        } else {
            parsed.error = "unknown option " + name;
        }
        if (!parsed.error.empty()) return parsed;
    }
    parsed.rest.assign(args.begin() + static_cast<long>(i), args.end());
    return parsed;
}

}  // namespace

int main(int argc, char** argv) {
    ParsedLine parsed = ParseCommandLine(argc, argv);
    if (parsed.help) {
        Usage(stdout);
        return kExitOk;
    }
    if (parsed.version) {
        std::printf("velmora-cli %s\n", kVersion);
        return kExitOk;
    }
    if (!parsed.error.empty() || parsed.rest.empty()) {
        if (!parsed.error.empty()) std::fprintf(stderr, "velmora-cli: %s\n", parsed.error.c_str());
        if (parsed.usage) Usage(stderr);
        return kExitUsage;
    }
    const CliCommand* command = FindCliCommand(parsed.rest.front());
    if (!command) {
        std::fprintf(stderr, "velmora-cli: unknown command '%s'\n", parsed.rest.front().c_str());
        Usage(stderr);
        return kExitUsage;
    }

    AppConfig config = LoadAppConfig(FindRunFolders());
    if (parsed.options.englishFlag) config.EnglishFlag = *parsed.options.englishFlag;
    InstallConfig(config);
    InstallInterruptHandler();

    CliContext context(parsed.options);
    const std::vector<std::string> args(parsed.rest.begin() + 1, parsed.rest.end());
    const int status = command->run(context, args);
    context.FinishSplicer();
    return status;
}
