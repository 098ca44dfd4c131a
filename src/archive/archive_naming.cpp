// Naming: giving records a job (or renaming a job), looking at what a naming would
// do, undoing the last one, and the jobs the records carry.
#include <set>
#include <variant>

#include "archive/archive.h"
#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::archive {
namespace {

using sql::Where;

// The records a naming takes: one condition for a filter, one an id for a list of
// ids. Each begins with "records.job IS NOT ?1" when `changing`: only the records
// the naming would change, ?1 being the job given. The filter's values follow ?1.
std::vector<Where> NamingConditions(
    const std::variant<RecordFilter, std::vector<std::int64_t>>& taken, bool changing) {
    std::vector<Where> conditions;
    auto start = [&]() -> Where& {
        Where& where = conditions.emplace_back();
        if (changing) where.Add("records.job IS NOT ?1");
        return where;
    };
    if (const auto* filter = std::get_if<RecordFilter>(&taken)) {
        sql::AddFilter(start(), *filter);
    } else {
        for (const std::int64_t id :
             std::set<std::int64_t>(std::get<1>(taken).begin(), std::get<1>(taken).end())) {
            Where& where = start();
            where.Add("records.id = ?");
            where.values.emplace_back(id);
        }
    }
    return conditions;
}

// Runs `sql` followed by one of the conditions, once for each, with ?1 the job given.
template <class Each>
void ForEachCondition(sqlite3* db, const std::string& sql, std::string_view job,
                      const std::vector<Where>& conditions, Each each) {
    for (const Where& where : conditions) {
        db::Statement statement(db, sql + where.sql);
        statement.Set(1, db::NullIfEmpty(job));
        where.BindTo(statement, 2);
        each(statement);
    }
}

NamingPreview Preview(sqlite3* db, std::string_view job, const std::vector<Where>& conditions) {
    NamingPreview preview;
    ForEachCondition(db,
                     "SELECT count(*), coalesce(sum(records.job IS NULL), 0), "
                     "coalesce(sum(records.job IS NOT NULL AND records.job IS NOT ?1), 0) "
                     "FROM records",
                     job, conditions, [&](db::Statement& count) {
                         count.Next();
                         preview.records += static_cast<std::size_t>(count.Int(0));
                         preview.noJob += static_cast<std::size_t>(count.Int(1));
                         preview.otherJob += static_cast<std::size_t>(count.Int(2));
                     });
    return preview;
}

// A refusal to change the job of records placed on positions of their job.
ArchiveError PlacedRefusal(std::int64_t placed) {
    return {ErrorCode::InvalidArgument,
            std::to_string(placed) +
                " of the records are placed on positions of their job; take them off first"};
}

// A job's row follows its name: renaming every record of job `from` to a name no job
// has yet renames the job, its closures and placings with it. Otherwise a record
// placed on a position keeps its job (the position is in a closure of that job), and
// a naming that would change one is refused (thrown). True when the job row was renamed.
bool FollowJobRow(sqlite3* db, std::string_view job, const std::optional<std::string>& from,
                  const std::vector<Where>& changing) {
    if (from && !job.empty() &&
        db::Statement(db,
                      "UPDATE jobs SET name = ?2 WHERE name = ?1 AND NOT EXISTS "
                      "(SELECT 1 FROM jobs WHERE name = ?2)",
                      *from, job)
                .Run() > 0)
        return true;
    std::int64_t placed = 0;
    ForEachCondition(
        db, "SELECT count(*) FROM records JOIN placings ON placings.record_id = records.id", job,
        changing, [&](db::Statement& count) { placed += count.Single().value_or(0); });
    if (placed > 0) throw PlacedRefusal(placed);
    return false;
}

// The queries below read the records through naming_undo (CROSS JOIN keeps it the
// outer loop): without statistics SQLite would walk every record of the archive.
//
// Undoing a naming that renamed a whole job to a new name renames the job back:
// every record the naming changed had one job before it (`back`, a name no job has
// now) and has one job now, which no other record has. Otherwise, as for a naming,
// a placed record keeps its job (see FollowJobRow). True when the job row was renamed.
bool FollowUndo(sqlite3* db) {
    db::Statement whole(db,
                        "SELECT back.job, now.job "
                        "FROM (SELECT min(naming_undo.job) AS job, "
                        "             count(DISTINCT naming_undo.job) AS jobs, "
                        "             count(naming_undo.job) AS named, "
                        "             count(*) AS records "
                        "      FROM naming_undo) AS back, "
                        "     (SELECT min(records.job) AS job, "
                        "             count(DISTINCT records.job) AS jobs "
                        "      FROM naming_undo "
                        "      CROSS JOIN records ON records.id = naming_undo.record_id) AS now "
                        "WHERE back.jobs = 1 AND now.jobs = 1 "
                        "  AND back.named = back.records "
                        "  AND back.records = (SELECT count(*) FROM records WHERE job = now.job) "
                        "  AND NOT EXISTS (SELECT 1 FROM jobs WHERE name = back.job)");
    if (whole.Next()) {
        db::Statement(db, "UPDATE jobs SET name = ?1 WHERE name = ?2", whole.Text(0), whole.Text(1))
            .Run();
        return true;
    }
    const std::int64_t placed =
        db::Statement(db,
                      "SELECT count(*) FROM naming_undo "
                      "CROSS JOIN placings ON placings.record_id = naming_undo.record_id "
                      "CROSS JOIN records ON records.id = naming_undo.record_id "
                      "WHERE records.job IS NOT naming_undo.job")
            .Single()
            .value_or(0);
    if (placed > 0) throw PlacedRefusal(placed);
    return false;
}

// Gives `job` to the records `changing` takes, keeping what they had to undo it.
// `renaming`: the job all of them have, when the naming takes every record of it.
std::size_t NameRecords(sqlite3* db, std::string_view job, const std::vector<Where>& changing,
                        const std::optional<std::string>& renaming) {
    db::Transaction tx(db);
    // A naming that changes nothing leaves the one before it to be undone.
    if (Preview(db, job, changing).records == 0) return 0;
    const bool renamed = FollowJobRow(db, job, renaming, changing);
    db::Statement(db, sql::JobRowsSql("SELECT ?1"), db::NullIfEmpty(job)).Run();
    db::Execute(db, "DELETE FROM naming_undo");
    ForEachCondition(db,
                     "INSERT OR IGNORE INTO naming_undo(record_id, job) "
                     "SELECT records.id, records.job FROM records",
                     job, changing, [](db::Statement& keep) { keep.Run(); });
    const std::size_t changed =
        db::Statement(db,
                      "UPDATE records SET job = ?1 WHERE id IN (SELECT record_id FROM naming_undo)",
                      db::NullIfEmpty(job))
            .Run();
    // A renamed job keeps its id: its records' job did not change.
    if (!renamed)
        db::Statement(
            db,
            sql::RecordJobLogSql("r.id IN (SELECT record_id FROM naming_undo WHERE job IS NOT ?1)"),
            db::NullIfEmpty(job))
            .Run();
    tx.Commit();
    return changed;
}

void RefuseBadFilter(const RecordFilter& filter) {
    if (auto problem = sql::FilterProblem(filter))
        throw ArchiveError{ErrorCode::InvalidArgument, *problem};
}

}  // namespace

StoreResult Archive::TagJob(std::string_view job, const RecordFilter& filter) {
    return Write("giving records a job", [&]() -> StoreResult {
        RefuseBadFilter(filter);
        const bool wholeJob = filter.job && !filter.job->empty() && !filter.device &&
                              !filter.splicer && !filter.from && !filter.to;
        return {NameRecords(db_, job, NamingConditions(filter, true),
                            wholeJob ? filter.job : std::nullopt),
                0,
                {}};
    });
}

StoreResult Archive::TagJob(std::string_view job, std::span<const std::int64_t> recordIds) {
    return Write("giving records a job", [&]() -> StoreResult {
        return {NameRecords(db_, job,
                            NamingConditions(std::vector(recordIds.begin(), recordIds.end()), true),
                            std::nullopt),
                0,
                {}};
    });
}

std::optional<NamingPreview> Archive::PreviewJob(std::string_view job, const RecordFilter& filter) {
    return Run("looking at a naming", [&]() -> std::optional<NamingPreview> {
        RefuseBadFilter(filter);
        return Preview(db_, job, NamingConditions(filter, false));
    });
}

std::optional<NamingPreview> Archive::PreviewJob(std::string_view job,
                                                 std::span<const std::int64_t> recordIds) {
    return Run("looking at a naming", [&]() -> std::optional<NamingPreview> {
        return Preview(db_, job,
                       NamingConditions(std::vector(recordIds.begin(), recordIds.end()), false));
    });
}

StoreResult Archive::UndoLastNaming() {
    return Write("undoing the last naming", [&]() -> StoreResult {
        db::Transaction tx(db_);
        const bool renamed = FollowUndo(db_);
        db::Execute(db_, sql::JobRowsSql("SELECT job FROM naming_undo"));
        const std::size_t restored =
            db::Statement(db_,
                          "UPDATE records SET job = (SELECT naming_undo.job FROM naming_undo "
                          "WHERE naming_undo.record_id = records.id) "
                          "WHERE id IN (SELECT record_id FROM naming_undo)")
                .Run();
        if (!renamed)
            db::Execute(db_, sql::RecordJobLogSql("r.id IN (SELECT record_id FROM naming_undo)"));
        db::Execute(db_, "DELETE FROM naming_undo");
        tx.Commit();
        return {restored, 0, {}};
    });
}

std::optional<std::vector<JobSummary>> Archive::Jobs() {
    return Run("reading jobs", [&]() -> std::optional<std::vector<JobSummary>> {
        db::Statement query(db_,
                            "SELECT job, count(*) FROM records WHERE job IS NOT NULL "
                            "GROUP BY job ORDER BY job");
        std::vector<JobSummary> out;
        while (query.Next()) out.push_back({query.Text(0), static_cast<std::size_t>(query.Int(1))});
        return out;
    });
}

}  // namespace velmora::archive
