#pragma once
// Everything a complete virtual splicer answers: parameters, records, images and
// firmware updates, for velmora-sim and the program's demo alike.
#include <cstdio>

#include "sim/image_commands.h"
#include "sim/record_commands.h"
#include "sim/virtual_splicer.h"

namespace velmora::sim {

struct SplicerContents {
    int records = kDefaultRecordCount;
    int images = kDefaultImageCount;
    // Where a line about each received firmware file goes (nowhere when null).
    std::FILE* firmwareReport = nullptr;
};

void InstallAllCommands(VirtualSplicer& splicer, const SplicerContents& contents = {});

}  // namespace velmora::sim
