#pragma once
// The team archive on the command line: team init|join|leave|sync|status|take, and
// --team on archive list, report, matrix and closure show.
#include <string_view>

#include "archive/archive.h"
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunTeam(CliContext& context, CommandArgs args);

// The team archive's records the filter takes, printed as archive list prints the
// local ones.
int ListTeamRecords(const archive::RecordFilter& filter);

// `run` with `args`; with --team among them, on the team view instead of this PC's
// archive (run without --team, its data folder the team view's), which is first
// brought up to date (the job `job` alone, when not ""). A team archive that cannot
// be reached is said once, and the view is used as last read; exit 1 without one.
int OnTeamView(CliContext& context, CommandArgs args, int (*run)(CliContext&, CommandArgs),
               std::string_view job);

}  // namespace velmora::cli
