#pragma once
// job package JOB -o DIR|FILE.zip [--images]: a job's hand-over package.
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunPackage(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
