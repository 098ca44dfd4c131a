#pragma once
// report: the splice report of archived records, as a PDF or an HTML file.
#include "cli/cli_commands.h"

namespace velmora::cli {

int RunReport(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
