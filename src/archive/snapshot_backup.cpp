#include "archive/snapshot_backup.h"

#include "settings/parameter_records.h"
#include "settings/value_text.h"

namespace velmora::archive {

std::vector<GroupBytes> SnapshotGroups(const SettingsBackup& backup) {
    std::vector<GroupBytes> groups;
    for (const auto& [record, bytes] : backup.records) groups.push_back({record, bytes});
    return groups;
}

std::optional<SettingsBackup> BackupFromSnapshot(const ParameterSnapshot& snapshot,
                                                 std::string& error) {
    SettingsBackup backup;
    backup.device = snapshot.device;
    backup.serialNumber = snapshot.serialNumber;
    for (const GroupBytes& group : snapshot.groups) {
        if (!InfoOf(group.kind).writeCommand) continue;  // the environment
        if (group.bytes.size() != InfoOf(group.kind).size) {
            error = "the " + std::string(InfoOf(group.kind).name) + " record holds " +
                    std::to_string(group.bytes.size()) + " bytes, not " +
                    std::to_string(InfoOf(group.kind).size);
            return std::nullopt;
        }
        backup.records[group.kind] = group.bytes;
    }
    // A splicer the archive knows by its folder alone (kept before serial numbers
    // told splicers apart) is named by the configuration record it sent, if any.
    if (backup.serialNumber.empty() && backup.Holds(ParamRecord::DeviceConfig))
        backup.serialNumber = NameFromField(WithBackup(backup).config.serialNum);
    return backup;
}

}  // namespace velmora::archive
