#include "sim/splicer_contents.h"

#include "sim/firmware_commands.h"
#include "sim/parameter_commands.h"

namespace velmora::sim {

void InstallAllCommands(VirtualSplicer& splicer, const SplicerContents& contents) {
    InstallParameterCommands(splicer);
    InstallRecordCommands(splicer, contents.records);
    InstallImageCommands(splicer, contents.images);
    FirmwareSimOptions firmware;
    firmware.report = contents.firmwareReport;
    InstallFirmwareCommands(splicer, firmware);
}

}  // namespace velmora::sim
