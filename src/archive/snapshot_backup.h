#pragma once
// A settings backup and an archived snapshot of the same records, each as the other.
#include <optional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "settings/backup_texts.h"

namespace velmora::archive {

// The backup's records as the archive keeps them in a snapshot.
std::vector<GroupBytes> SnapshotGroups(const SettingsBackup& backup);
// A snapshot as a backup (its environment record left out: it is never written).
// Nothing, with `error` saying which, when a record's bytes are not its layout's size.
std::optional<SettingsBackup> BackupFromSnapshot(const ParameterSnapshot& snapshot,
                                                 std::string& error);

}  // namespace velmora::archive
