#include "settings/settings_backup.h"

#include <ctime>

#include "base/local_time.h"
#include "base/path_text.h"
#include "base/time_text.h"
#include "settings/parameter_rows.h"
#include "settings/value_text.h"

namespace velmora {
namespace {

std::string NowText() {
    const std::tm t = LocalTime(std::time(nullptr));
    return TimeStampText(t.tm_year + 1900 - 2000, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                         t.tm_sec);
}

}  // namespace

BackupTaken TakeBackup(Link& link, ParameterSession& session, const Pump& pump) {
    BackupTaken taken;
    taken.step = ReadRecords(link, session, kBackupRecords, pump);
    if (!taken.step.ok) return taken;
    taken.backup = BackupOf(session.records, kBackupRecords);
    taken.backup.device = PathText(session.DeviceFolder.filename());
    taken.backup.serialNumber = session.SerialNumber;
    taken.backup.taken = NowText();
    return taken;
}

bool IsSameSplicer(const SettingsBackup& backup, const ParameterSession& session) {
    if (backup.serialNumber.empty() || backup.serialNumber != session.SerialNumber) return false;
    // A configuration record in the backup must name the same splicer too: the head
    // line alone may have been edited in a file written before it had a checksum.
    if (!backup.Holds(ParamRecord::DeviceConfig)) return true;
    return NameFromField(WithBackup(backup).config.serialNum) == session.SerialNumber;
}

RestorePlan PlanRestore(const SettingsBackup& backup, std::span<const ParamRecord> records,
                        const ParameterSession& session, const OptionTables& tables) {
    RestorePlan plan;
    plan.staged = session.records;
    // Bytes no row shows are taken only from a sealed backup of this same splicer.
    plan.otherBytesTaken = backup.sealed && IsSameSplicer(backup, session);
    const ParameterRecords wanted = WithBackup(backup, session.records);
    for (const ParamRecord record : records) {
        if (!backup.Holds(record) || !InfoOf(record).writeCommand) continue;
        // The backup's rows as if the user had typed them over the splicer's own,
        // read-only rows left as the splicer shows them.
        for (const ParamGroup group : GroupsOf(record)) {
            const std::vector<GridRow> now = ShownRows(group, plan.staged, tables);
            const std::vector<GridRow> then = ShownRows(group, wanted, tables);
            std::vector<std::string> texts;
            for (std::size_t i = 0; i < now.size(); ++i)
                texts.push_back(now[i].readOnly ? now[i].value : then[i].value);
            const std::vector<std::string> refused =
                ValidateAndEncode(group, texts, tables, plan.staged);
            plan.refusals.insert(plan.refusals.end(), refused.begin(), refused.end());
        }
        if (plan.otherBytesTaken) CopyKeptBytes(record, wanted, plan.staged);
        std::vector<RowDifference> rows =
            CompareRecord(record, session.records, plan.staged, tables);
        if (!rows.empty()) plan.changes.push_back({record, std::move(rows)});
    }
    return plan;
}

RestoreWritten WriteRestore(Link& link, ParameterSession& session, const RestorePlan& plan,
                            const Pump& pump) {
    RestoreWritten out;
    out.last.ok = plan.refusals.empty();
    out.last.userError = !out.last.ok;
    if (!out.last.ok) return out;
    for (const RestorePlan::Change& change : plan.changes) {
        DecodeRecord(change.record, EncodeRecord(change.record, plan.staged), session.records);
        out.last = WriteRecord(link, session, change.record, pump);
        if (!out.last.ok) break;
        out.written.push_back(change.record);
    }
    return out;
}

}  // namespace velmora
