#include "jobs/job_store.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>
#include <variant>

#include "archive/archive_sql.h"
#include "archive/database.h"
#include "base/text_codec.h"
#include "history/splice_acceptance.h"
#include "jobs/fibre_colours.h"
#include "jobs/job_numbers.h"

namespace velmora::jobs {
namespace {

using archive::ArchiveError;
using archive::ErrorCode;
using Query = archive::db::Statement;
using WriteTransaction = archive::db::Transaction;

// Runs `sql` once; the number of rows it changed.
template <class... Args>
std::size_t Change(sqlite3* db, std::string_view sql, const Args&... args) {
    return Query(db, sql, args...).Run();
}

JobResult Refuse(Refusal refusal, std::string detail = {}) {
    return {.refusal = refusal, .detail = std::move(detail)};
}
JobResult Made(std::int64_t id) {
    return {.count = 1, .id = id};
}
JobResult Counted(std::size_t count) {
    return {.count = count};
}

// The name among `names` (a parent's other children) that `name` would be the same
// as, if any.
std::optional<std::string> TakenName(Query&& names, std::string_view name) {
    while (names.Next())
        if (SameName(names.Text(0), name)) return names.Text(0);
    return std::nullopt;
}

bool LimitOk(const std::optional<int>& limit) {
    return !limit || (*limit >= 0 && *limit <= kLimitCap);
}

constexpr int kMaxCapacity = 1000;

}  // namespace

std::optional<JobResult> DetailsProblem(const JobDetails& d) {
    if (d.name.empty()) return Refuse(Refusal::EmptyName, "job");
    if (!LimitOk(d.limits.maxLoss) || !LimitOk(d.limits.maxAngle)) return Refuse(Refusal::BadLimit);
    return std::nullopt;
}

std::optional<JobResult> DetailsProblem(const ClosureDetails& d) {
    if (d.name.empty()) return Refuse(Refusal::EmptyName, "closure");
    if (d.point) {
        const double lat = d.point->latitude, lon = d.point->longitude;
        // Written so that NaN fails too.
        if (!(lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180))
            return Refuse(Refusal::BadPoint);
    }
    return std::nullopt;
}

std::optional<JobResult> DetailsProblem(const CableDetails& d) {
    if (d.name.empty()) return Refuse(Refusal::EmptyName, "cable");
    if (d.fibres < kMinFibres || d.fibres > kMaxFibres)
        return Refuse(Refusal::BadFibreCount, std::to_string(d.fibres));
    if (d.perTube < 1 || d.perTube > d.fibres)
        return Refuse(Refusal::BadPerTube, std::to_string(d.perTube));
    return std::nullopt;
}

std::optional<JobResult> DetailsProblem(const TrayDetails& d) {
    if (d.number < 1) return Refuse(Refusal::BadNumber, std::to_string(d.number));
    if (d.capacity < kTrayCapacities.min || d.capacity > kTrayCapacities.max)
        return Refuse(Refusal::BadCapacity, std::to_string(d.capacity));
    return std::nullopt;
}

namespace {

std::optional<double> Latitude(const ClosureDetails& d) {
    return d.point ? std::optional(d.point->latitude) : std::nullopt;
}
std::optional<double> Longitude(const ClosureDetails& d) {
    return d.point ? std::optional(d.point->longitude) : std::nullopt;
}

// Jobs with their record counts: the job `name`, or all of them.
std::vector<JobInfo> ReadJobs(sqlite3* db, std::optional<std::string_view> name) {
    constexpr std::string_view sql =
        "SELECT jobs.id, jobs.name, jobs.customer, jobs.contractor, jobs.technicians, "
        "jobs.notes, jobs.max_loss, jobs.max_angle, count(records.id), "
        "count(placings.record_id), count(test_splices.record_id) FROM jobs "
        "LEFT JOIN records ON records.job = jobs.name "
        "LEFT JOIN placings ON placings.record_id = records.id "
        "LEFT JOIN test_splices ON test_splices.record_id = records.id "
        "WHERE ?1 IS NULL OR jobs.name = ?1 GROUP BY jobs.id ORDER BY jobs.name";
    Query q(db, sql, name);
    std::vector<JobInfo> out;
    while (q.Next()) {
        JobInfo& job = out.emplace_back();
        job.id = q.Int(0);
        job.details = {q.Text(1), q.Text(2), q.Text(3),
                       q.Text(4), q.Text(5), {q.OptionalNumber(6), q.OptionalNumber(7)}};
        job.records = static_cast<std::size_t>(q.Int(8));
        job.placed = static_cast<std::size_t>(q.Int(9));
        job.testSplices = static_cast<std::size_t>(q.Int(10));
    }
    return out;
}

// A tray, its closure's job and cables: what placing on it is checked against.
struct TrayContext {
    std::int64_t id = 0;
    std::int64_t closureId = 0;
    int capacity = 0;
    std::string job;
    struct Cable {
        std::string name;
        int fibres = 0;
    };
    std::vector<std::pair<std::int64_t, Cable>> cables;

    const Cable* CableOf(std::int64_t id) const {
        for (const auto& [cableId, cable] : cables)
            if (cableId == id) return &cable;
        return nullptr;
    }
};

std::optional<TrayContext> ReadTray(sqlite3* db, std::int64_t trayId) {
    Query tray(db,
               "SELECT trays.closure_id, trays.capacity, jobs.name FROM trays "
               "JOIN closures ON closures.id = trays.closure_id "
               "JOIN jobs ON jobs.id = closures.job_id WHERE trays.id = ?1",
               trayId);
    if (!tray.Next()) return std::nullopt;
    TrayContext context{trayId, tray.Int(0), tray.Number(1), tray.Text(2), {}};
    Query cables(db, "SELECT id, name, fibres FROM cables WHERE closure_id = ?1",
                 context.closureId);
    while (cables.Next())
        context.cables.push_back({cables.Int(0), {cables.Text(1), cables.Number(2)}});
    return context;
}

// Plans positions of one tray, checking each against the tray, its closure's cables
// and the positions already there; the statements are prepared once for a placing.
class Planner {
  public:
    Planner(sqlite3* db, const TrayContext& tray)
        : db_(db),
          tray_(tray),
          find_(db,
                "SELECT id, cable_a, fibre_a, cable_b, fibre_b, "
                "EXISTS (SELECT 1 FROM placings WHERE position_id = positions.id) "
                "FROM positions WHERE tray_id = ?1 AND number = ?2"),
          used_(db,
                "SELECT id FROM positions WHERE id IS NOT ?3 AND tray_id IN "
                "(SELECT id FROM trays WHERE closure_id = ?4) AND "
                "((cable_a = ?1 AND fibre_a = ?2) OR (cable_b = ?1 AND fibre_b = ?2)) LIMIT 1"),
          insert_(db,
                  "INSERT INTO positions(tray_id, number, cable_a, fibre_a, cable_b, fibre_b) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
          replan_(db,
                  "UPDATE positions SET cable_a = ?2, fibre_a = ?3, cable_b = ?4, fibre_b = ?5 "
                  "WHERE id = ?1") {}

    struct Planned {
        std::int64_t id = 0;
        bool made = false;  // the position did not exist before
    };

    // The position `number` joining `a` to `b`, made or re-planned as needed; or why not.
    std::variant<Planned, JobResult> Plan(int number, FibreEnd a, FibreEnd b) {
        if (number < 1) return Refuse(Refusal::BadNumber, std::to_string(number));
        if (number > tray_.capacity)
            return Refuse(Refusal::PositionOverCapacity, std::to_string(number));
        for (const FibreEnd& end : {a, b}) {
            const TrayContext::Cable* cable = tray_.CableOf(end.cable);
            if (!cable) return Refuse(Refusal::NoSuchCable, std::to_string(end.cable));
            const std::string named = cable->name + ":" + std::to_string(end.fibre);
            if (end.fibre < 1) return Refuse(Refusal::BadNumber, named);
            if (end.fibre > cable->fibres) return Refuse(Refusal::FibreOverCount, named);
        }
        if (a == b) return Refuse(Refusal::FibreToItself, Named(a));
        std::optional<std::int64_t> existing;
        if (find_.Again(tray_.id, number).Next()) {
            existing = find_.Int(0);
            const bool same = FibreEnd{find_.Int(1), find_.Number(2)} == a &&
                              FibreEnd{find_.Int(3), find_.Number(4)} == b;
            if (same) return Planned{*existing, false};
            if (find_.Int(5) != 0)
                return Refuse(Refusal::PositionJoinsOther, std::to_string(number));
        }
        for (const FibreEnd& end : {a, b})
            if (used_.Again(end.cable, end.fibre, existing, tray_.closureId).Next())
                return Refuse(Refusal::FibreInUse, Named(end));
        if (existing) {
            replan_.Again(*existing, a.cable, a.fibre, b.cable, b.fibre).Run();
            return Planned{*existing, false};
        }
        insert_.Again(tray_.id, number, a.cable, a.fibre, b.cable, b.fibre).Run();
        return Planned{sqlite3_last_insert_rowid(db_), true};
    }

  private:
    std::string Named(const FibreEnd& end) const {
        const TrayContext::Cable* cable = tray_.CableOf(end.cable);
        return (cable ? cable->name : std::to_string(end.cable)) + ":" + std::to_string(end.fibre);
    }

    sqlite3* db_;
    const TrayContext& tray_;
    Query find_;
    Query used_;
    Query insert_;
    Query replan_;
};

// A record's job, and whether it is placed or a test splice.
struct RecordState {
    std::optional<std::string> job;
    bool placed = false;
    bool test = false;
};

std::optional<RecordState> ReadRecordState(Query& q, std::int64_t recordId) {
    if (!q.Again(recordId).Next()) return std::nullopt;
    return RecordState{q.IsNull(0) ? std::nullopt : std::optional(q.Text(0)), q.Int(1) != 0,
                       q.Int(2) != 0};
}

constexpr const char* kRecordStateSql =
    "SELECT job, EXISTS (SELECT 1 FROM placings WHERE record_id = records.id), "
    "EXISTS (SELECT 1 FROM test_splices WHERE record_id = records.id) "
    "FROM records WHERE id = ?1";

std::vector<std::int64_t> ReadLatestUnplaced(sqlite3* db, std::string_view job, std::size_t count) {
    Query q(db,
            "SELECT id FROM (SELECT id, ordinal FROM records WHERE job = ?1 "
            "AND NOT EXISTS (SELECT 1 FROM placings WHERE record_id = records.id) "
            "AND NOT EXISTS (SELECT 1 FROM test_splices WHERE record_id = records.id) "
            "ORDER BY " +
                archive::sql::OrderSql("", true) + " LIMIT ?2) ORDER BY " +
                archive::sql::OrderSql(""),
            job, static_cast<std::int64_t>(count));
    std::vector<std::int64_t> ids;
    while (q.Next()) ids.push_back(q.Int(0));
    return ids;
}

// A record placed on a position holding a newer splice does not count there: the
// newer one does. When that newer splice fails, the record would be taken for its
// re-splice, which it cannot be; such a placing is refused.
class SpliceOrder {
  public:
    SpliceOrder(sqlite3* db, const std::string& job, const Limits& defaults)
        : limits_(defaults),
          ordinal_(db, "SELECT ordinal, id FROM records WHERE id = ?1"),
          newest_(db,
                  "SELECT records.ordinal, records.bytes, records.id FROM placings "
                  "JOIN records ON records.id = placings.record_id "
                  "WHERE placings.position_id = ?1 AND placings.record_id <> ?2 "
                  "ORDER BY " +
                      archive::sql::OrderSql("records", true) + " LIMIT 1") {
        Query own(db, "SELECT max_loss, max_angle FROM jobs WHERE name = ?1", job);
        if (own.Next()) {
            limits_.maxLoss = own.OptionalNumber(0).value_or(limits_.maxLoss);
            limits_.maxAngle = own.OptionalNumber(1).value_or(limits_.maxAngle);
        }
    }

    // Whether placing `recordId` on `positionId` would put it under a newer failure.
    bool UnderNewerFailure(std::int64_t recordId, std::int64_t positionId) {
        if (!newest_.Again(positionId, recordId).Next()) return false;
        if (!ordinal_.Again(recordId).Next() || std::pair(ordinal_.Int(0), ordinal_.Int(1)) >=
                                                    std::pair(newest_.Int(0), newest_.Int(2)))
            return false;
        SpliceRecord newest;
        const auto bytes = newest_.Blob(1);
        std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), newest.bytes.begin());
        return Judge(newest, limits_) != Mark::Pass;
    }

  private:
    Limits limits_;
    Query ordinal_;
    Query newest_;
};

// Gives the records of no job `ids` the job `job`, as a naming does: logged for the
// team, and kept as the naming the Archive tab can undo (once they are off their
// positions again).
void NameToJob(sqlite3* db, const std::string& job, std::span<const std::int64_t> ids) {
    Change(db, "DELETE FROM naming_undo");
    Query keep(db, "INSERT INTO naming_undo(record_id, job) VALUES (?1, NULL)");
    for (const std::int64_t id : ids) keep.Again(id).Run();
    Change(db,
           "UPDATE records SET job = ?1 WHERE job IS NULL AND id IN "
           "(SELECT record_id FROM naming_undo)",
           job);
    Change(db, archive::sql::RecordJobLogSql("r.id IN (SELECT record_id FROM naming_undo)"));
}

std::optional<std::string> JobNameOf(sqlite3* db, std::int64_t jobId) {
    Query q(db, "SELECT name FROM jobs WHERE id = ?1", jobId);
    if (!q.Next()) return std::nullopt;
    return q.Text(0);
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    return a == b || FoldCase(a) == FoldCase(b);
}

template <class Work>
auto JobStore::Guard(const char* what, bool writes, Work work) -> decltype(work()) {
    return writes ? archive_.Write(what, work) : archive_.Run(what, work);
}

JobStore::JobStore(archive::Archive& archive) : archive_(archive) {}

const archive::ArchiveError& JobStore::LastError() const {
    return archive_.LastError();
}

// ---- jobs ----

std::optional<std::vector<JobInfo>> JobStore::Jobs() {
    return Guard("reading jobs", false, [&]() -> std::optional<std::vector<JobInfo>> {
        return ReadJobs(archive_.Connection(), std::nullopt);
    });
}

std::optional<JobInfo> JobStore::Job(std::string_view name) {
    return Guard("reading a job", false, [&]() -> std::optional<JobInfo> {
        auto jobs = ReadJobs(archive_.Connection(), name);
        if (jobs.empty())
            throw ArchiveError{ErrorCode::NotFound,
                               "there is no job \"" + std::string(name) + "\""};
        return std::move(jobs.front());
    });
}

JobResult JobStore::CreateJob(const JobDetails& d) {
    return Guard("creating a job", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (auto taken = TakenName(Query(db, "SELECT name FROM jobs"), d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        Query(db,
              "INSERT INTO jobs(name, customer, contractor, technicians, notes, max_loss, "
              "max_angle) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
              d.name, d.customer, d.contractor, d.technicians, d.notes, d.limits.maxLoss,
              d.limits.maxAngle)
            .Run();
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        tx.Commit();
        return Made(id);
    });
}

JobResult JobStore::EditJob(std::string_view name, const JobDetails& d) {
    return Guard("changing a job", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto id = Query(db, "SELECT id FROM jobs WHERE name = ?1", name).Single();
        if (!id) return Refuse(Refusal::NoSuchJob, std::string(name));
        const bool renamed = d.name != name;
        if (auto taken = TakenName(Query(db, "SELECT name FROM jobs WHERE id <> ?1", *id), d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        Change(db,
               "UPDATE jobs SET name = ?2, customer = ?3, contractor = ?4, technicians = ?5, "
               "notes = ?6, max_loss = ?7, max_angle = ?8 WHERE id = ?1",
               *id, d.name, d.customer, d.contractor, d.technicians, d.notes, d.limits.maxLoss,
               d.limits.maxAngle);
        // The records carry their job by name; so does the naming kept for undoing. The
        // job log knows their job by its id, which a renaming keeps.
        if (renamed) {
            Change(db, "UPDATE records SET job = ?2 WHERE job = ?1", name, d.name);
            Change(db, "UPDATE naming_undo SET job = ?2 WHERE job = ?1", name, d.name);
        }
        tx.Commit();
        return Made(*id);
    });
}

// ---- closures ----

namespace {

std::vector<ClosureInfo> ReadClosures(Query&& q) {
    std::vector<ClosureInfo> out;
    while (q.Next()) {
        ClosureInfo& c = out.emplace_back();
        c.id = q.Int(0);
        c.jobId = q.Int(1);
        c.details.name = q.Text(2);
        c.details.location = q.Text(3);
        if (!q.IsNull(4) && !q.IsNull(5)) c.details.point = GeoPoint{q.Real(4), q.Real(5)};
        c.details.notes = q.Text(6);
    }
    return out;
}

}  // namespace

std::optional<std::vector<ClosureInfo>> JobStore::Closures(std::int64_t jobId) {
    return Guard("reading closures", false, [&]() -> std::optional<std::vector<ClosureInfo>> {
        return ReadClosures(Query(archive_.Connection(),
                                  "SELECT id, job_id, name, location, latitude, longitude, notes "
                                  "FROM closures WHERE job_id = ?1 ORDER BY name",
                                  jobId));
    });
}

JobResult JobStore::AddClosure(std::int64_t jobId, const ClosureDetails& d) {
    return Guard("adding a closure", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!JobNameOf(db, jobId)) return Refuse(Refusal::NoSuchJob, std::to_string(jobId));
        if (auto taken =
                TakenName(Query(db, "SELECT name FROM closures WHERE job_id = ?1", jobId), d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        Query(db,
              "INSERT INTO closures(job_id, name, location, latitude, longitude, notes) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
              jobId, d.name, d.location, Latitude(d), Longitude(d), d.notes)
            .Run();
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        tx.Commit();
        return Made(id);
    });
}

JobResult JobStore::EditClosure(std::int64_t closureId, const ClosureDetails& d) {
    return Guard("changing a closure", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto jobId =
            Query(db, "SELECT job_id FROM closures WHERE id = ?1", closureId).Single();
        if (!jobId) return Refuse(Refusal::NoSuchClosure, std::to_string(closureId));
        if (auto taken =
                TakenName(Query(db, "SELECT name FROM closures WHERE job_id = ?1 AND id <> ?2",
                                *jobId, closureId),
                          d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        Change(db,
               "UPDATE closures SET name = ?2, location = ?3, latitude = ?4, longitude = ?5, "
               "notes = ?6 WHERE id = ?1",
               closureId, d.name, d.location, Latitude(d), Longitude(d), d.notes);
        tx.Commit();
        return Made(closureId);
    });
}

JobResult JobStore::DeleteClosure(std::int64_t closureId) {
    return Guard("deleting a closure", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        Query closure(db, "SELECT name FROM closures WHERE id = ?1", closureId);
        if (!closure.Next()) return Refuse(Refusal::NoSuchClosure, std::to_string(closureId));
        if (Query(db,
                  "SELECT 1 FROM placings JOIN positions ON positions.id = placings.position_id "
                  "JOIN trays ON trays.id = positions.tray_id WHERE trays.closure_id = ?1 LIMIT 1",
                  closureId)
                .Next())
            return Refuse(Refusal::ClosureNotEmpty, closure.Text(0));
        // Its trays, their positions and its cables go with it.
        Change(db, "DELETE FROM closures WHERE id = ?1", closureId);
        tx.Commit();
        return Made(closureId);
    });
}

// ---- cables ----

std::optional<std::vector<CableInfo>> JobStore::Cables(std::int64_t closureId) {
    return Guard("reading cables", false, [&]() -> std::optional<std::vector<CableInfo>> {
        Query q(archive_.Connection(),
                "SELECT id, closure_id, name, fibres, per_tube FROM cables WHERE closure_id = ?1 "
                "ORDER BY name",
                closureId);
        std::vector<CableInfo> out;
        while (q.Next()) out.push_back({q.Int(0), q.Int(1), {q.Text(2), q.Number(3), q.Number(4)}});
        return out;
    });
}

JobResult JobStore::AddCable(std::int64_t closureId, const CableDetails& d) {
    return Guard("adding a cable", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT id FROM closures WHERE id = ?1", closureId).Next())
            return Refuse(Refusal::NoSuchClosure, std::to_string(closureId));
        if (auto taken = TakenName(
                Query(db, "SELECT name FROM cables WHERE closure_id = ?1", closureId), d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        Query(db, "INSERT INTO cables(closure_id, name, fibres, per_tube) VALUES (?1, ?2, ?3, ?4)",
              closureId, d.name, d.fibres, d.perTube)
            .Run();
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        tx.Commit();
        return Made(id);
    });
}

JobResult JobStore::EditCable(std::int64_t cableId, const CableDetails& d) {
    return Guard("changing a cable", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto closureId =
            Query(db, "SELECT closure_id FROM cables WHERE id = ?1", cableId).Single();
        if (!closureId) return Refuse(Refusal::NoSuchCable, std::to_string(cableId));
        if (auto taken =
                TakenName(Query(db, "SELECT name FROM cables WHERE closure_id = ?1 AND id <> ?2",
                                *closureId, cableId),
                          d.name))
            return Refuse(Refusal::DuplicateName, *taken);
        const auto highest =
            Query(db,
                  "SELECT max(max(CASE WHEN cable_a = ?1 THEN fibre_a ELSE 0 END), "
                  "max(CASE WHEN cable_b = ?1 THEN fibre_b ELSE 0 END)) FROM positions "
                  "WHERE cable_a = ?1 OR cable_b = ?1",
                  cableId)
                .Single();
        if (highest && *highest > d.fibres)
            return Refuse(Refusal::FibreOverCount, d.name + ":" + std::to_string(*highest));
        Change(db, "UPDATE cables SET name = ?2, fibres = ?3, per_tube = ?4 WHERE id = ?1", cableId,
               d.name, d.fibres, d.perTube);
        tx.Commit();
        return Made(cableId);
    });
}

JobResult JobStore::DeleteCable(std::int64_t cableId) {
    return Guard("deleting a cable", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        Query cable(db, "SELECT name FROM cables WHERE id = ?1", cableId);
        if (!cable.Next()) return Refuse(Refusal::NoSuchCable, std::to_string(cableId));
        if (Query(db, "SELECT 1 FROM positions WHERE cable_a = ?1 OR cable_b = ?1 LIMIT 1", cableId)
                .Next())
            return Refuse(Refusal::CableInUse, cable.Text(0));
        Change(db, "DELETE FROM cables WHERE id = ?1", cableId);
        tx.Commit();
        return Made(cableId);
    });
}

// ---- trays ----

std::optional<std::vector<TrayInfo>> JobStore::Trays(std::int64_t closureId) {
    return Guard("reading trays", false, [&]() -> std::optional<std::vector<TrayInfo>> {
        Query q(archive_.Connection(),
                "SELECT id, closure_id, number, capacity FROM trays WHERE closure_id = ?1 "
                "ORDER BY number",
                closureId);
        std::vector<TrayInfo> out;
        while (q.Next()) out.push_back({q.Int(0), q.Int(1), {q.Number(2), q.Number(3)}});
        return out;
    });
}

JobResult JobStore::AddTray(std::int64_t closureId, const TrayDetails& d) {
    return Guard("adding a tray", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT id FROM closures WHERE id = ?1", closureId).Next())
            return Refuse(Refusal::NoSuchClosure, std::to_string(closureId));
        if (Query(db, "SELECT id FROM trays WHERE closure_id = ?1 AND number = ?2", closureId,
                  d.number)
                .Next())
            return Refuse(Refusal::DuplicateName, std::to_string(d.number));
        Query(db, "INSERT INTO trays(closure_id, number, capacity) VALUES (?1, ?2, ?3)", closureId,
              d.number, d.capacity)
            .Run();
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        tx.Commit();
        return Made(id);
    });
}

JobResult JobStore::EditTray(std::int64_t trayId, const TrayDetails& d) {
    return Guard("changing a tray", true, [&]() -> JobResult {
        if (auto problem = DetailsProblem(d)) return *problem;
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto closureId =
            Query(db, "SELECT closure_id FROM trays WHERE id = ?1", trayId).Single();
        if (!closureId) return Refuse(Refusal::NoSuchTray, std::to_string(trayId));
        if (Query(db, "SELECT id FROM trays WHERE closure_id = ?1 AND number = ?2 AND id <> ?3",
                  *closureId, d.number, trayId)
                .Next())
            return Refuse(Refusal::DuplicateName, std::to_string(d.number));
        const auto highest =
            Query(db, "SELECT max(number) FROM positions WHERE tray_id = ?1", trayId).Single();
        if (highest && *highest > d.capacity)
            return Refuse(Refusal::CapacityBelowPositions, std::to_string(*highest));
        Change(db, "UPDATE trays SET number = ?2, capacity = ?3 WHERE id = ?1", trayId, d.number,
               d.capacity);
        tx.Commit();
        return Made(trayId);
    });
}

JobResult JobStore::DeleteTray(std::int64_t trayId) {
    return Guard("deleting a tray", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto number = Query(db, "SELECT number FROM trays WHERE id = ?1", trayId).Single();
        if (!number) return Refuse(Refusal::NoSuchTray, std::to_string(trayId));
        if (Query(db,
                  "SELECT 1 FROM placings JOIN positions ON positions.id = placings.position_id "
                  "WHERE positions.tray_id = ?1 LIMIT 1",
                  trayId)
                .Next())
            return Refuse(Refusal::TrayNotEmpty, std::to_string(*number));
        Change(db, "DELETE FROM trays WHERE id = ?1", trayId);
        tx.Commit();
        return Made(trayId);
    });
}

// ---- positions and placing ----

std::optional<std::vector<PositionInfo>> JobStore::Positions(std::int64_t trayId) {
    return Guard("reading positions", false, [&]() -> std::optional<std::vector<PositionInfo>> {
        Query q(archive_.Connection(),
                "SELECT positions.id, positions.number, cable_a, fibre_a, cable_b, fibre_b, "
                "placings.record_id FROM positions "
                "LEFT JOIN placings ON placings.position_id = positions.id "
                "LEFT JOIN records ON records.id = placings.record_id "
                "WHERE positions.tray_id = ?1 ORDER BY positions.number, " +
                    archive::sql::OrderSql(),
                trayId);
        std::vector<PositionInfo> out;
        while (q.Next()) {
            if (out.empty() || out.back().id != q.Int(0))
                out.push_back({q.Int(0),
                               trayId,
                               q.Number(1),
                               {q.Int(2), q.Number(3)},
                               {q.Int(4), q.Number(5)},
                               {}});
            if (!q.IsNull(6)) out.back().records.push_back(q.Int(6));
        }
        return out;
    });
}

JobResult JobStore::PlanPosition(std::int64_t trayId, int number, FibreEnd a, FibreEnd b) {
    return Guard("planning a position", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto tray = ReadTray(db, trayId);
        if (!tray) return Refuse(Refusal::NoSuchTray, std::to_string(trayId));
        Planner planner(db, *tray);
        auto planned = planner.Plan(number, a, b);
        if (auto* refused = std::get_if<JobResult>(&planned)) return *refused;
        tx.Commit();
        return Made(std::get<Planner::Planned>(planned).id);
    });
}

PlanResult JobStore::PlanPositions(std::int64_t jobId, std::span<const PlannedPosition> plan) {
    std::size_t at = 0;
    JobResult result = Guard("planning positions", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!JobNameOf(db, jobId)) return Refuse(Refusal::NoSuchJob, std::to_string(jobId));
        Query closure(db, "SELECT id FROM closures WHERE job_id = ?1 AND name = ?2");
        Query tray(db, "SELECT id FROM trays WHERE closure_id = ?1 AND number = ?2");
        Query cable(db, "SELECT id FROM cables WHERE closure_id = ?1 AND name = ?2");
        // Each tray's context, read once. The planner of the tray at hand is kept while
        // the plan stays on it: every planner holds open statements, and SQLite walks
        // all open cursors whenever it opens one.
        std::map<std::int64_t, TrayContext> trays;
        std::unique_ptr<Planner> planner;
        std::int64_t plannerTray = 0;
        std::set<std::pair<std::int64_t, int>> named;
        for (at = 0; at < plan.size(); ++at) {
            const PlannedPosition& p = plan[at];
            const auto closureId = closure.Again(jobId, p.closure).Single();
            if (!closureId) return Refuse(Refusal::NoSuchClosure, p.closure);
            const auto trayId = tray.Again(*closureId, p.tray).Single();
            if (!trayId) return Refuse(Refusal::NoSuchTray, std::to_string(p.tray));
            FibreEnd ends[2];
            for (int e = 0; e < 2; ++e) {
                const std::string& name = e == 0 ? p.cableA : p.cableB;
                const auto cableId = cable.Again(*closureId, name).Single();
                if (!cableId) return Refuse(Refusal::NoSuchCable, name);
                ends[e] = {*cableId, e == 0 ? p.fibreA : p.fibreB};
            }
            if (!named.insert({*trayId, p.position}).second)
                return Refuse(Refusal::PositionPlannedTwice,
                              std::to_string(p.tray) + "/" + std::to_string(p.position));
            auto [found, made] = trays.try_emplace(*trayId);
            if (made) found->second = *ReadTray(db, *trayId);
            if (!planner || plannerTray != *trayId) {
                planner.reset();
                planner = std::make_unique<Planner>(db, found->second);
                plannerTray = *trayId;
            }
            auto planned = planner->Plan(p.position, ends[0], ends[1]);
            if (auto* refused = std::get_if<JobResult>(&planned)) return *refused;
        }
        tx.Commit();
        return Counted(plan.size());
    });
    return {result, result.ok() ? 0 : std::min(at, plan.size())};
}

std::optional<std::vector<std::int64_t>> JobStore::LatestUnplaced(std::int64_t jobId,
                                                                  std::size_t count) {
    return Guard(
        "reading unplaced records", false, [&]() -> std::optional<std::vector<std::int64_t>> {
            const auto job = JobNameOf(archive_.Connection(), jobId);
            if (!job)
                throw ArchiveError{ErrorCode::NotFound, "there is no job " + std::to_string(jobId)};
            return ReadLatestUnplaced(archive_.Connection(), *job, count);
        });
}

namespace {

// The steps of a request: its records side by side from its first position and fibres.
std::vector<PlacingStep> StepsOf(const PlacingRequest& request) {
    std::vector<PlacingStep> steps;
    steps.reserve(request.records.size());
    for (std::size_t k = 0; k < request.records.size(); ++k) {
        const int step = static_cast<int>(k);
        steps.push_back({request.records[k],
                         request.firstPosition + step,
                         {request.a.cable, request.a.fibre + step},
                         {request.b.cable, request.b.fibre + step}});
    }
    return steps;
}

}  // namespace

// Inside the caller's transaction: every record checked, those of no job named to the
// tray's job, then each put on its position, and the placing kept as the one to undo.
JobResult JobStore::PlaceRecords(std::int64_t trayId, std::span<const PlacingStep> steps,
                                 const Limits& limits) {
    sqlite3* db = archive_.Connection();
    const auto tray = ReadTray(db, trayId);
    if (!tray) return Refuse(Refusal::NoSuchTray, std::to_string(trayId));
    Query state(db, kRecordStateSql);
    std::set<std::int64_t> seen;
    std::vector<std::int64_t> unnamed;
    for (const PlacingStep& step : steps) {
        const auto record = ReadRecordState(state, step.record);
        const std::string named = std::to_string(step.record);
        if (!record) return Refuse(Refusal::NoSuchRecord, named);
        if (!record->job) unnamed.push_back(step.record);
        if (record->job && *record->job != tray->job)
            return Refuse(Refusal::RecordOfOtherJob, named);
        if (record->test) return Refuse(Refusal::RecordIsTestSplice, named);
        if (record->placed || !seen.insert(step.record).second)
            return Refuse(Refusal::RecordPlaced, named);
    }
    if (!unnamed.empty()) NameToJob(db, tray->job, unnamed);
    Planner planner(db, *tray);
    SpliceOrder order(db, tray->job, limits);
    Change(db, "DELETE FROM placing_undo");
    Query place(db, "INSERT INTO placings(record_id, position_id) VALUES (?1, ?2)");
    Query keep(db, "INSERT INTO placing_undo(record_id, position_id, made) VALUES (?1, ?2, ?3)");
    for (const PlacingStep& step : steps) {
        auto planned = planner.Plan(step.position, step.a, step.b);
        if (auto* refused = std::get_if<JobResult>(&planned)) return *refused;
        const auto [position, made] = std::get<Planner::Planned>(planned);
        if (order.UnderNewerFailure(step.record, position))
            return Refuse(Refusal::OlderThanFailure, std::to_string(step.record));
        place.Again(step.record, position).Run();
        keep.Again(step.record, position, int{made}).Run();
    }
    return Counted(steps.size());
}

JobResult JobStore::Place(const PlacingRequest& request) {
    return Place(request.trayId, StepsOf(request), request.limits);
}

JobResult JobStore::Place(std::int64_t trayId, std::span<const PlacingStep> steps,
                          const Limits& limits) {
    return Guard("placing splices", true, [&]() -> JobResult {
        if (steps.empty()) return Counted(0);
        WriteTransaction tx(archive_.Connection());
        JobResult result = PlaceRecords(trayId, steps, limits);
        if (result.ok()) tx.Commit();
        return result;
    });
}

JobResult JobStore::PlaceLatest(const PlacingRequest& request, std::size_t count) {
    return Guard("placing splices", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        const auto tray = ReadTray(db, request.trayId);
        if (!tray) return Refuse(Refusal::NoSuchTray, std::to_string(request.trayId));
        PlacingRequest latest = request;
        latest.records = ReadLatestUnplaced(db, tray->job, count);
        if (latest.records.size() < count)
            return Refuse(Refusal::NotEnoughUnplaced, std::to_string(latest.records.size()));
        if (latest.records.empty()) return Counted(0);
        JobResult result = PlaceRecords(latest.trayId, StepsOf(latest), latest.limits);
        if (result.ok()) tx.Commit();
        return result;
    });
}

JobResult JobStore::UndoLastPlacing() {
    return Guard("undoing the last placing", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT 1 FROM placing_undo LIMIT 1").Next())
            return Refuse(Refusal::NothingToUndo);
        // Only the records still where the placing put them.
        const std::size_t taken = Change(db,
                                         "DELETE FROM placings WHERE record_id IN (SELECT "
                                         "placing_undo.record_id FROM placing_undo WHERE "
                                         "placing_undo.position_id = placings.position_id)");
        Change(db,
               "DELETE FROM positions WHERE id IN (SELECT position_id FROM placing_undo "
               "WHERE made <> 0) "
               "AND NOT EXISTS (SELECT 1 FROM placings WHERE position_id = positions.id)");
        Change(db, "DELETE FROM placing_undo");
        tx.Commit();
        return Counted(taken);
    });
}

JobResult JobStore::Move(std::int64_t recordId, std::int64_t positionId, const Limits& limits) {
    return Guard("moving a splice", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        Query position(db,
                       "SELECT jobs.name FROM positions JOIN trays ON trays.id = positions.tray_id "
                       "JOIN closures ON closures.id = trays.closure_id "
                       "JOIN jobs ON jobs.id = closures.job_id WHERE positions.id = ?1",
                       positionId);
        if (!position.Next()) return Refuse(Refusal::NoSuchPosition, std::to_string(positionId));
        Query state(db, kRecordStateSql);
        const auto record = ReadRecordState(state, recordId);
        if (!record) return Refuse(Refusal::NoSuchRecord, std::to_string(recordId));
        if (record->job != position.Text(0))
            return Refuse(Refusal::RecordOfOtherJob, std::to_string(recordId));
        if (record->test) return Refuse(Refusal::RecordIsTestSplice, std::to_string(recordId));
        if (SpliceOrder(db, position.Text(0), limits).UnderNewerFailure(recordId, positionId))
            return Refuse(Refusal::OlderThanFailure, std::to_string(recordId));
        Change(db, "INSERT OR REPLACE INTO placings(record_id, position_id) VALUES (?1, ?2)",
               recordId, positionId);
        tx.Commit();
        return Counted(1);
    });
}

JobResult JobStore::Unplace(std::int64_t positionId) {
    return Guard("taking splices off a position", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT id FROM positions WHERE id = ?1", positionId).Next())
            return Refuse(Refusal::NoSuchPosition, std::to_string(positionId));
        const std::size_t taken =
            Change(db, "DELETE FROM placings WHERE position_id = ?1", positionId);
        tx.Commit();
        return Counted(taken);
    });
}

JobResult JobStore::UnplaceRecord(std::int64_t recordId) {
    return Guard("taking a splice off its position", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT id FROM records WHERE id = ?1", recordId).Next())
            return Refuse(Refusal::NoSuchRecord, std::to_string(recordId));
        const std::size_t taken = Change(db, "DELETE FROM placings WHERE record_id = ?1", recordId);
        tx.Commit();
        return Counted(taken);
    });
}

JobResult JobStore::MarkTestSplice(std::int64_t recordId, bool test) {
    return Guard("marking a test splice", true, [&]() -> JobResult {
        sqlite3* db = archive_.Connection();
        WriteTransaction tx(db);
        if (!Query(db, "SELECT id FROM records WHERE id = ?1", recordId).Next())
            return Refuse(Refusal::NoSuchRecord, std::to_string(recordId));
        std::size_t changed = 0;
        if (test) {
            Change(db, "DELETE FROM placings WHERE record_id = ?1", recordId);
            changed =
                Change(db, "INSERT OR IGNORE INTO test_splices(record_id) VALUES (?1)", recordId);
        } else {
            changed = Change(db, "DELETE FROM test_splices WHERE record_id = ?1", recordId);
        }
        tx.Commit();
        return Counted(changed);
    });
}

}  // namespace velmora::jobs
