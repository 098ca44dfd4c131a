// The parameter snapshots of the archive: one or more whole parameter records of a
// splicer, taken at one time for one reason.
#include <set>

#include "archive/archive.h"
#include "archive/archive_splicers.h"
#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::archive {
namespace {

std::optional<std::string> SnapshotProblem(const SplicerIdentity& splicer, std::string_view why,
                                           std::span<const GroupBytes> groups) {
    if (auto problem = SplicerProblem(splicer)) return problem;
    if (why.empty()) return "a snapshot needs a reason";
    if (groups.empty()) return "a snapshot needs at least one parameter record";
    std::set<RecordKind> kinds;
    for (const GroupBytes& group : groups) {
        const std::string kind = std::to_string(static_cast<int>(group.kind));
        const std::size_t size = RecordKindSize(group.kind);
        if (size == 0) return "unknown parameter record kind " + kind;
        if (group.bytes.size() != size)
            return "parameter record kind " + kind + " has " + std::to_string(group.bytes.size()) +
                   " bytes instead of " + std::to_string(size);
        if (!kinds.insert(group.kind).second)
            return "parameter record kind " + kind + " is given twice";
    }
    return std::nullopt;
}

// Snapshots and their groups, one row a group, in snapshot order then kind.
std::vector<ParameterSnapshot> ReadSnapshots(sqlite3* db, const sql::Where& where) {
    db::Statement query(db,
                        "SELECT snapshots.id, splicers.folder, snapshots.taken, snapshots.reason, "
                        "snapshot_groups.kind, snapshot_groups.bytes, splicers.serial "
                        "FROM snapshots JOIN splicers ON splicers.id = snapshots.splicer_id "
                        "JOIN snapshot_groups ON snapshot_groups.snapshot_id = snapshots.id" +
                            where.sql +
                            " ORDER BY snapshots.taken, snapshots.id, snapshot_groups.kind");
    where.BindTo(query, 1);
    std::vector<ParameterSnapshot> out;
    while (query.Next()) {
        if (out.empty() || out.back().id != query.Int(0)) {
            ParameterSnapshot& s = out.emplace_back();
            s.id = query.Int(0);
            s.device = query.Text(1);
            s.taken = std::chrono::sys_seconds{std::chrono::seconds{query.Int(2)}};
            s.reason = query.Text(3);
            s.serialNumber = query.Text(6);
        }
        // A kind no record has (a file changed by other means) is left out.
        const std::optional<ParamRecord> kind = RecordNumbered(static_cast<int>(query.Int(4)));
        const auto bytes = query.Blob(5);
        if (kind)
            out.back().groups.push_back(
                {*kind, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    }
    return out;
}

}  // namespace

StoreResult Archive::StoreSnapshot(const SplicerIdentity& splicer, std::string_view why,
                                   std::span<const GroupBytes> groups) {
    return Write("storing a parameter snapshot", [&]() -> StoreResult {
        if (auto problem = SnapshotProblem(splicer, why, groups))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        const std::chrono::sys_seconds now = Now();
        db::Transaction tx(db_);
        const SplicerRow row = TouchSplicer(db_, splicer, now);
        db::Statement snapshot(
            db_, "INSERT INTO snapshots(splicer_id, taken, reason) VALUES(?1, ?2, ?3)", row.id,
            now.time_since_epoch().count(), why);
        snapshot.Run();
        const std::int64_t id = snapshot.InsertedId();
        db::Statement insert(
            db_, "INSERT INTO snapshot_groups(snapshot_id, kind, bytes) VALUES(?1, ?2, ?3)");
        for (const GroupBytes& group : groups)
            insert.Again(id, static_cast<std::int64_t>(group.kind), group.bytes).Run();
        tx.Commit();
        return {1, id, {}};
    });
}

std::optional<std::vector<ParameterSnapshot>> Archive::Snapshots(const SnapshotFilter& filter) {
    return Run("reading parameter snapshots",
               [&]() -> std::optional<std::vector<ParameterSnapshot>> {
                   sql::Where where;
                   sql::AddSplicers(where, filter.device, filter.splicer, "snapshots");
                   if (filter.reason) {
                       where.Add("snapshots.reason = ?");
                       where.values.emplace_back(*filter.reason);
                   }
                   return ReadSnapshots(db_, where);
               });
}

std::optional<ParameterSnapshot> Archive::Snapshot(std::int64_t id) {
    return Run("reading a parameter snapshot", [&]() -> std::optional<ParameterSnapshot> {
        sql::Where where;
        where.Add("snapshots.id = ?");
        where.values.emplace_back(id);
        std::vector<ParameterSnapshot> found = ReadSnapshots(db_, where);
        if (found.empty())
            throw ArchiveError{ErrorCode::NotFound,
                               "there is no parameter snapshot " + std::to_string(id)};
        return std::move(found.front());
    });
}

}  // namespace velmora::archive
