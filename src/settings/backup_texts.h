#pragma once
// A settings backup as a text file a person can read: one line per row with the
// value as the Setting page shows it, and each record's raw bytes, from which a
// restore brings the record back byte for byte.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "settings/option_tables.h"
#include "settings/parameter_records.h"

namespace velmora {

struct SettingsBackup {
    std::string device;        // the splicer's folder name
    std::string serialNumber;  // as it reported it
    std::string taken;         // "2026-12-06 14:10:00"
    // The records kept; a backup may hold any of them.
    std::optional<FieldBytes<kSpliceParamsSize>> splice;
    std::optional<FieldBytes<kHeaterParamsSize>> heater;
    std::optional<FieldBytes<kDeviceConfigSize>> config;
};

// The file's text: a head, then per record its rows (caption, tab, shown value)
// and a "bytes" line in hexadecimal. LF line ends, UTF-8.
std::string BackupText(const SettingsBackup& backup, const OptionTables& tables);

// The backup in `text`, or nothing with `error` saying which line is wrong. Only
// the "bytes" lines count; a record whose bytes are missing or of the wrong size
// is refused, never guessed.
std::optional<SettingsBackup> ParseBackupText(std::string_view text, std::string& error);

// The groups (0 splice, 1 heating, 3 FsConfig, 4 System) whose records a backup holds.
std::vector<int> BackupGroups(const SettingsBackup& backup);

// Puts the backup's records into `records`.
void ApplyBackup(const SettingsBackup& backup, ParameterRecords& records);

// The record behind `group` alone (nothing for the environment, which is never written).
SettingsBackup BackupOfGroup(int group, const ParameterRecords& records);
// Every record a backup holds, as `records` has them.
SettingsBackup BackupOfAll(const ParameterRecords& records);

// The backup's records as the archive keeps them in a snapshot.
std::vector<archive::GroupBytes> SnapshotGroups(const SettingsBackup& backup);
// A snapshot as a backup (its environment record left out: it is never written).
// Nothing, with `error` saying which, when a record's bytes are not its layout's size.
std::optional<SettingsBackup> BackupFromSnapshot(const archive::ParameterSnapshot& snapshot,
                                                 std::string& error);

// Restores the record behind `group` in `records` as Accept would write it: the
// backup's record, shown as rows and checked and encoded from them. On a failed
// check `records` is left as it was and the checks' texts are returned. FsConfig
// and System share one record: either checks the rows of both.
std::vector<std::string> StageRestore(const SettingsBackup& backup, int group,
                                      ParameterRecords& records, const OptionTables& tables);

// One row that differs between two sets of records.
struct RowDifference {
    int group = 0;
    std::string caption;
    std::string from;  // as shown for `before`
    std::string to;    // as shown for `after`
};

// The rows of `group` that differ; a group whose rows are alike but whose bytes
// differ (bytes the page does not show) gives one row with caption "(other bytes)".
std::vector<RowDifference> CompareGroup(int group, const ParameterRecords& before,
                                        const ParameterRecords& after, const OptionTables& tables);

}  // namespace velmora
