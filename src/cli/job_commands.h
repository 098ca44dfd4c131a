#pragma once
// The as-built documentation on the command line: job, closure, cable and tray,
// plan, place, unplace and test-splice. Every change goes through the job store; a
// refused one says why on standard error, changes nothing and exits with status 2.
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunJob(CliContext& context, CommandArgs args);
int RunClosure(CliContext& context, CommandArgs args);
int RunCable(CliContext& context, CommandArgs args);
int RunTray(CliContext& context, CommandArgs args);
int RunPlace(CliContext& context, CommandArgs args);
int RunUnplace(CliContext& context, CommandArgs args);
int RunTestSplice(CliContext& context, CommandArgs args);
int RunPlan(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
