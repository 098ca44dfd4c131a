#pragma once
// firmware: the FirmWare page's update on the command line.
#include "cli/cli_commands.h"

namespace velmora::cli {

// Sends FILE to the splicer after the two handshakes; prints the splicer's text,
// the percentages and the end text. The port is closed afterwards, as the page
// leaves it: the splicer has to be connected again.
int RunFirmware(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
