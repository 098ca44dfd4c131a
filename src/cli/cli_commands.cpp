#include "cli/cli_commands.h"

#include <array>

namespace velmora::cli {
namespace {

// Later commands (history, images, firmware) are added here.
constexpr std::array kCommands{
    CliCommand{"ports", "", "list the serial ports present", RunPorts},
    CliCommand{"read", "GROUP", "print a parameter group (splice, heating, environment, "
                                "fsconfig, system)", RunRead},
    CliCommand{"write", "GROUP ROW=TEXT...", "change rows of a group and write it to the splicer",
               RunWrite},
};

}  // namespace

std::span<const CliCommand> AllCliCommands() { return kCommands; }

const CliCommand* FindCliCommand(std::string_view name) {
    for (const CliCommand& command : kCommands)
        if (command.name == name) return &command;
    return nullptr;
}

}  // namespace velmora::cli
