#pragma once
// A settings backup as a text file a person can read: one line per row with the
// value as the Setting page shows it, each record's raw bytes, and a checksum of
// the whole. The bytes are what a restore reads; the rows must agree with them,
// so that a file edited by hand is refused instead of half believed.
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/option_tables.h"
#include "settings/parameter_records.h"

namespace velmora {

// The records a backup keeps and a restore may write (never the environment).
inline constexpr std::array<ParamRecord, 3> kBackupRecords{ParamRecord::Splice, ParamRecord::Heater,
                                                           ParamRecord::DeviceConfig};

struct SettingsBackup {
    std::string device;        // the splicer's folder name
    std::string serialNumber;  // the whole serial number it reported ("" when unknown)
    std::string taken;         // "2026-12-06 14:10:00"
    // The records kept, each exactly its layout's size.
    std::map<ParamRecord, std::vector<std::uint8_t>> records;
    // Its bytes are known to be as the splicer gave them: taken by the program, or
    // read from a file whose checksum matches. A file without its checksum line may
    // have been edited anywhere: only its rows are believed (they pass Accept's
    // checks), never the bytes no row shows.
    bool sealed = true;

    bool Holds(ParamRecord record) const { return records.contains(record); }
};

// The records of `from` named by `which`, as a backup (no head lines).
SettingsBackup BackupOf(const ParameterRecords& from, std::span<const ParamRecord> which);

// `base` with the backup's records in place of its own.
ParameterRecords WithBackup(const SettingsBackup& backup, ParameterRecords base = {});

// The file's text: a head, then per record its rows (caption, tab, shown value)
// and a "bytes" line in hexadecimal, then a "sha256" line over all of the text
// before it. LF line ends, UTF-8.
std::string BackupText(const SettingsBackup& backup, const OptionTables& tables);

// The backup in `text`, or nothing with `error` saying what is wrong: not a
// backup, a record whose bytes are missing or of the wrong size, a row whose
// shown value disagrees with the bytes (in either language), a checksum that does
// not match, text that is not UTF-8. A leading byte-order mark and CRLF line ends
// are fine; a file without a checksum line (written before backups carried one, or
// with it deleted) is read, not sealed.
std::optional<SettingsBackup> ParseBackupText(std::string_view text, std::string& error);

// The records of kBackupRecords a backup lacks, by their names in the file
// ("heating, config"); "" when it holds them all.
std::string MissingRecords(const SettingsBackup& backup);

// One row that differs between two sets of records.
struct RowDifference {
    ParamGroup group = ParamGroup::Splice;
    std::string caption;
    std::string from;  // as shown for `before`
    std::string to;    // as shown for `after`
};

// The rows of the record's groups that differ; a record whose rows are alike but
// whose bytes differ (bytes no row shows) gives one row with caption "(other bytes)".
std::vector<RowDifference> CompareRecord(ParamRecord record, const ParameterRecords& before,
                                         const ParameterRecords& after, const OptionTables& tables);

}  // namespace velmora
