#pragma once
// The team archive on the command line: team init|join|leave|sync|status, and
// archive list --team.
#include "archive/archive.h"
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunTeam(CliContext& context, CommandArgs args);

// The team archive's records the filter takes, printed as archive list prints the
// local ones.
int ListTeamRecords(const archive::RecordFilter& filter);

}  // namespace velmora::cli
