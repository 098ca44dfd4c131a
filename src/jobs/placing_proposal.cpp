#include "jobs/placing_proposal.h"

#include <algorithm>
#include <string>

#include "archive/archive_order.h"
#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::jobs {
namespace {

using Query = archive::db::Statement;

// The ordinals of one day: a splice time (YYYYMMDDhhmmss) over 1,000,000 is its day.
constexpr std::int64_t kOrdinalsADay = 1'000'000 * archive::order::kPerSecond;

std::int64_t CableId(const MatrixClosure& closure, const std::string& name) {
    for (const CableInfo& cable : closure.cables)
        if (cable.details.name == name) return cable.id;
    return 0;
}

// The fibre after the last one of `cable` the closure's positions join.
int NextFibre(const MatrixClosure& closure, std::int64_t cable) {
    int fibre = 1;
    for (const MatrixRow& row : closure.rows)
        for (const MatrixEnd* end : {&row.a, &row.b})
            if (CableId(closure, end->cable) == cable) fibre = std::max(fibre, end->fibre + 1);
    return fibre;
}

const MatrixRow* RowAt(const MatrixClosure& closure, int tray, int position) {
    for (const MatrixRow& row : closure.rows)
        if (row.tray == tray && row.position == position) return &row;
    return nullptr;
}

// A row of "SELECT id, bytes, job IS NULL, ..." as a candidate judged by `limits`.
PlacingCandidate CandidateOf(const Query& q, const Limits& limits) {
    PlacingCandidate c;
    c.splice.recordId = q.Int(0);
    const auto bytes = q.Blob(1);
    std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), c.splice.record.bytes.begin());
    c.splice.mark = Judge(c.splice.record, limits);
    c.noJob = q.Int(2) != 0;
    return c;
}

// The first column of the row `q` gives: none when it is NULL, as min() and max() of
// no row give.
std::optional<std::int64_t> ValueOf(Query&& q) {
    if (!q.Next() || q.IsNull(0)) return std::nullopt;
    return q.Int(0);
}

// Where the job `name`'s work stands, as the (ordinal, id) the records to place come
// after: its last placed record; else just before its first record; else, for a job
// without records, before the first record of the day of the latest record of no job
// (the day's download). None when there is no such place. The archive's order is
// read per splicer (sql::EachSplicerSql): each max() or min() is one index seek.
std::optional<std::pair<std::int64_t, std::int64_t>> WhereTheWorkStands(sqlite3* db,
                                                                        const std::string& name) {
    constexpr std::int64_t kBeforeAnyId = INT64_MAX;  // (ordinal - 1, this): before `ordinal`
    Query placed(db,
                 "SELECT ordinal, id FROM records WHERE job = ?1 AND EXISTS "
                 "(SELECT 1 FROM placings WHERE record_id = records.id) "
                 "ORDER BY " +
                     archive::sql::OrderSql("", true) + " LIMIT 1",
                 name);
    if (placed.Next()) return std::pair(placed.Int(0), placed.Int(1));
    if (const auto first =
            ValueOf(Query(db, "SELECT min(ordinal) FROM records WHERE job = ?1", name)))
        return std::pair(*first - 1, kBeforeAnyId);
    const auto latest =
        ValueOf(Query(db,
                      "SELECT max((SELECT max(ordinal) FROM records WHERE splicer_id = "
                      "splicers.id AND job IS NULL AND ordinal < ?1)) FROM splicers",
                      archive::order::kUndated));
    if (!latest) return std::nullopt;
    const auto first =
        ValueOf(Query(db,
                      "SELECT min((SELECT min(ordinal) FROM records WHERE splicer_id = "
                      "splicers.id AND ordinal >= ?1)) FROM splicers",
                      *latest / kOrdinalsADay * kOrdinalsADay));
    return std::pair(first.value_or(*latest) - 1, kBeforeAnyId);
}

// Up to `limit` records of no job (and of the job `jobId` too when `ofTheJob`) that
// are neither placed nor test splices, in splice order after where the job's work
// stands (WhereTheWorkStands); the latest `limit` when there is no such place.
std::optional<std::vector<PlacingCandidate>> ReadAfterTheWork(archive::Archive& archive,
                                                              std::int64_t jobId,
                                                              const Limits& limits,
                                                              std::size_t limit, bool ofTheJob) {
    return archive.Run(
        "reading records to place", [&]() -> std::optional<std::vector<PlacingCandidate>> {
            sqlite3* db = archive.Connection();
            const archive::db::Transaction read(db, archive::db::For::Reading);
            Query job(db, "SELECT name FROM jobs WHERE id = ?1", jobId);
            if (!job.Next())
                throw archive::ArchiveError{archive::ErrorCode::NotFound,
                                            "there is no job " + std::to_string(jobId)};
            const std::string name = job.Text(0);
            const auto after = WhereTheWorkStands(db, name);
            const auto where = [&](std::string_view whose) {
                archive::sql::Where w;
                w.Add(whose);
                w.Add("NOT EXISTS (SELECT 1 FROM placings WHERE record_id = records.id)");
                w.Add("NOT EXISTS (SELECT 1 FROM test_splices WHERE record_id = records.id)");
                if (after) {
                    w.Add(archive::sql::PlaceSql() + " > (?, ?)");
                    w.values.emplace_back(after->first);
                    w.values.emplace_back(after->second);
                }
                return w;
            };
            const char* columns = "records.id, records.bytes, records.job IS NULL, records.ordinal";
            archive::sql::Where bound;
            std::vector<std::int64_t> splicers;
            for (Query all(db, "SELECT id FROM splicers"); all.Next();)
                splicers.push_back(all.Int(0));
            std::string text = archive::sql::EachSplicerSql(
                columns, "records_by_splicer_job", where("records.job IS NULL"), splicers, bound);
            if (ofTheJob) {
                archive::sql::Where own = where("records.job = ?");
                own.values.insert(own.values.begin(), name);
                text += std::string(" UNION ALL SELECT ") + columns +
                        " FROM records INDEXED BY records_by_job_ordinal" + own.sql;
                bound.values.insert(bound.values.end(), own.values.begin(), own.values.end());
            }
            // After the work: the first ones; else the latest, turned round after.
            text += after ? " ORDER BY 4, 1 LIMIT ?" : " ORDER BY 4 DESC, 1 DESC LIMIT ?";
            Query q(db, text);
            bound.BindTo(q, 1);
            q.Set(static_cast<int>(bound.values.size()) + 1, static_cast<std::int64_t>(limit));
            std::vector<PlacingCandidate> candidates;
            while (q.Next()) candidates.push_back(CandidateOf(q, limits));
            if (!after) std::reverse(candidates.begin(), candidates.end());
            return candidates;
        });
}

}  // namespace

std::optional<std::vector<PlacingCandidate>> ReadPlacingCandidates(archive::Archive& archive,
                                                                   std::int64_t jobId,
                                                                   const Limits& limits,
                                                                   std::size_t limit) {
    return ReadAfterTheWork(archive, jobId, limits, limit, true);
}

std::optional<std::vector<PlacingCandidate>> ReadRecordsOfNoJob(archive::Archive& archive,
                                                                std::int64_t jobId,
                                                                const Limits& limits,
                                                                std::size_t limit) {
    return ReadAfterTheWork(archive, jobId, limits, limit, false);
}

std::optional<std::vector<PlacingCandidate>> ReadRecordsToPlace(archive::Archive& archive,
                                                                std::span<const std::int64_t> ids,
                                                                const Limits& limits) {
    return archive.Run(
        "reading records to place", [&]() -> std::optional<std::vector<PlacingCandidate>> {
            Query q(archive.Connection(),
                    "SELECT id, bytes, job IS NULL, ordinal FROM records WHERE id = ?1");
            std::vector<std::pair<std::int64_t, PlacingCandidate>> found;
            for (const std::int64_t id : ids)
                if (q.Again(id).Next()) found.push_back({q.Int(3), CandidateOf(q, limits)});
            std::stable_sort(found.begin(), found.end(),
                             [](const auto& x, const auto& y) { return x.first < y.first; });
            std::vector<PlacingCandidate> candidates;
            for (auto& [ordinal, c] : found) candidates.push_back(std::move(c));
            return candidates;
        });
}

PlacingStart ResumeAt(const MatrixClosure& closure, int tray) {
    PlacingStart start;
    const MatrixRow* last = nullptr;
    const MatrixRow* firstPlanned = nullptr;
    for (const MatrixRow& row : closure.rows) {
        if (row.tray != tray) continue;
        last = &row;
        if (row.splice) start.position = std::max(start.position, row.position + 1);
        if (!row.splice && !firstPlanned) firstPlanned = &row;
    }
    if (firstPlanned) start.position = firstPlanned->position;
    if (last) {
        start.a.cable = CableId(closure, last->a.cable);
        start.b.cable = CableId(closure, last->b.cable);
    } else if (!closure.cables.empty()) {
        start.a.cable = closure.cables.front().id;
        start.b.cable = closure.cables[std::min<std::size_t>(1, closure.cables.size() - 1)].id;
    }
    start.a.fibre = NextFibre(closure, start.a.cable);
    start.b.fibre = NextFibre(closure, start.b.cable);
    return start;
}

bool HasRoom(const MatrixClosure& closure, const TrayInfo& tray) {
    return ResumeAt(closure, tray.details.number).position <= tray.details.capacity;
}

std::optional<TrayAt> TrayWithRoom(const SpliceMatrix& matrix, std::int64_t trayId) {
    std::vector<TrayAt> trays;
    std::size_t asked = 0;
    for (const MatrixClosure& closure : matrix.closures)
        for (const TrayInfo& tray : closure.trays) {
            if (tray.id == trayId) asked = trays.size();
            trays.push_back({&closure, &tray});
        }
    for (std::size_t k = 0; k < trays.size(); ++k) {
        const TrayAt& at = trays[(asked + k) % trays.size()];
        if (HasRoom(*at.closure, *at.tray)) return at;
    }
    return std::nullopt;
}

std::vector<ProposedPlacing> ProposePlacing(const MatrixClosure& closure, const TrayInfo& tray,
                                            const PlacingStart& start,
                                            std::span<const std::int64_t> records) {
    std::vector<ProposedPlacing> proposal;
    const int number = tray.details.number;
    int position = start.position;
    int fresh = 0;  // positions proposed that hold nothing yet, each on the next fibres
    for (const std::int64_t record : records) {
        // After the first, positions whose splice counts already are passed over.
        if (!proposal.empty())
            for (const MatrixRow* row = RowAt(closure, number, position); row && row->splice;
                 row = RowAt(closure, number, position))
                ++position;
        if (position < 1 || position > tray.details.capacity) break;
        ProposedPlacing p;
        p.record = record;
        p.position = position;
        if (const MatrixRow* row = RowAt(closure, number, position)) {
            p.a = {CableId(closure, row->a.cable), row->a.fibre};
            p.b = {CableId(closure, row->b.cable), row->b.fibre};
            p.planned = !row->splice;
            p.replaces = row->splice;
        } else {
            p.a = {start.a.cable, start.a.fibre + fresh};
            p.b = {start.b.cable, start.b.fibre + fresh};
            ++fresh;
        }
        proposal.push_back(std::move(p));
        ++position;
    }
    return proposal;
}

std::vector<PlacingStep> StepsOf(std::span<const ProposedPlacing> proposal) {
    std::vector<PlacingStep> steps;
    steps.reserve(proposal.size());
    for (const ProposedPlacing& p : proposal) steps.push_back({p.record, p.position, p.a, p.b});
    return steps;
}

}  // namespace velmora::jobs
