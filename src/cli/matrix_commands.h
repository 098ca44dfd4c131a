#pragma once
// A job's deliverables on the command line: matrix JOB -o FILE.xlsx|FILE.csv and
// geojson JOB -o FILE.geojson.
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunMatrix(CliContext& context, CommandArgs args);
int RunGeoJson(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
