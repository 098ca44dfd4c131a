#pragma once
// images and image: the Image page's work on the command line.
#include "cli/cli_commands.h"

namespace velmora::cli {

// Prints "<number>\t<time>" for every image the splicer holds, numbered from 1.
int RunImages(CliContext& context, CommandArgs args);
// Downloads image NUMBER (as listed) into the device folder's JPG folder under
// the page's file name, replacing an existing file, and prints its path.
int RunImage(CliContext& context, CommandArgs args);

}  // namespace velmora::cli
