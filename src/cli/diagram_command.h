#pragma once
// diagram JOB CLOSURE [TRAY] -o FILE.svg|FILE.png: a tray's splice diagram (every
// tray of the closure, one below another, when no TRAY is named).
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunDiagram(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
