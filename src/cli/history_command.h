#pragma once
// history [--csv]: the splice records, listed or exported to the day's CSV file.
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunHistory(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
