#pragma once
// The commands of velmora-cli, one table. A command parses its own arguments
// first (usage errors never touch the line), then connects if it needs the splicer.
#include <span>
#include <string>
#include <string_view>

#include "cli/cli_context.h"

namespace velmora::cli {

using CommandArgs = std::span<const std::string>;

struct CliCommand {
    std::string_view name;
    std::string_view synopsis;  // its arguments, for the usage text
    std::string_view summary;
    int (*run)(CliContext& context, CommandArgs args);
};

std::span<const CliCommand> AllCliCommands();
const CliCommand* FindCliCommand(std::string_view name);

// The Setting page's commands.
int RunPorts(CliContext& context, CommandArgs args);
int RunRead(CliContext& context, CommandArgs args);
int RunWrite(CliContext& context, CommandArgs args);
int RunBackup(CliContext& context, CommandArgs args);
int RunDiff(CliContext& context, CommandArgs args);
int RunRestore(CliContext& context, CommandArgs args);
// Reads the splicer's settings, keeps them in the archive and, with a FILE, writes
// them there; kExitOk, or the exit status of what failed (already reported).
int BackUpSettings(CliContext& context, const std::string& file, bool quiet);

}  // namespace velmora::cli
