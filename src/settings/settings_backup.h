#pragma once
// Taking a backup of the splicer's settings and restoring one, written once for
// the window (the Archive tab, the FirmWare page) and velmora-cli. A restore
// writes only what Accept would write: it takes from the backup the rows a user
// can edit, each through ValidateAndEncode, and the bytes no row shows only when
// the backup is sealed (its checksum matched) and of this same splicer. Nothing that identifies a
// splicer (its serial number) is ever written from a backup.
#include <span>
#include <string>
#include <vector>

#include "settings/backup_texts.h"
#include "settings/parameter_exchange.h"

namespace velmora {

// Reads every record a backup keeps from the splicer into the session, then gives
// them as a backup with the splicer's folder, serial number and the time now.
struct BackupTaken {
    StepResult step;  // the first read that failed, or ok
    SettingsBackup backup;
};
BackupTaken TakeBackup(Link& link, ParameterSession& session, const Pump& pump = {});

// Whether the backup is of the connected splicer: both serial numbers known and
// equal, and the serial number in the backup's configuration record (when it holds
// one) equal to the one the session read.
bool IsSameSplicer(const SettingsBackup& backup, const ParameterSession& session);

// What a restore of `records` would write, worked out from the records as the
// session holds them (read from the splicer just before) and the backup.
struct RestorePlan {
    struct Change {
        ParamRecord record;
        std::vector<RowDifference> rows;  // as the splicer has them, then as restored
    };
    ParameterRecords staged;            // the session's records with the restore in them
    std::vector<Change> changes;        // the records that would change, in order
    std::vector<std::string> refusals;  // rows refused: then nothing may be written
    bool otherBytesTaken = false;       // the backup is sealed and of this splicer
};
RestorePlan PlanRestore(const SettingsBackup& backup, std::span<const ParamRecord> records,
                        const ParameterSession& session, const OptionTables& tables);

// Writes the plan's changes one record after another; the first failure ends it.
// Nothing is written when the plan holds refusals.
struct RestoreWritten {
    StepResult last;                   // the last write, or the failure that ended it
    std::vector<ParamRecord> written;  // accepted by the splicer, in order
};
RestoreWritten WriteRestore(Link& link, ParameterSession& session, const RestorePlan& plan,
                            const Pump& pump = {});

}  // namespace velmora
