#include "jobs/splice_matrix.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::jobs {

// Reads a whole job in a handful of queries over the job (never one a position), so
// that a job of thousands of positions is read in a fraction of a second.
class MatrixReader {
  public:
    explicit MatrixReader(archive::Archive& archive) : archive_(archive) {}
    std::optional<SpliceMatrix> Read(std::string_view name, const Limits& defaults,
                                     MatrixDetail detail);

  private:
    void ReadLayout(SpliceMatrix& matrix);
    void ReadSplices(SpliceMatrix& matrix);
    void NumberSplices(SpliceMatrix& matrix);

    archive::Archive& archive_;
    // Where each position's row is: the closure's index and the row's.
    std::unordered_map<std::int64_t, std::pair<std::size_t, std::size_t>> rowOf_;
    struct Splicer {
        std::string name;
        std::int64_t lastOrdinal = 0;  // of the job's records made on it
    };
    std::unordered_map<std::int64_t, Splicer> splicers_;
    std::unordered_map<std::int64_t, std::int64_t> splicerOf_;  // record id to splicer id
};

namespace {

using Query = archive::db::Statement;

void Count(MatrixCounts& counts, const MatrixRow& row) {
    ++counts.positions;
    if (!row.resplices.empty()) ++counts.respliced;
    counts.replaced += row.resplices.size();
    if (!row.splice) return;
    ++counts.spliced;
    if (row.splice->mark == Mark::Pass) {
        ++counts.passed;
    } else if (row.splice->mark == Mark::Failed) {
        ++counts.failed;
    } else {
        ++counts.overLimit;
    }
}

void Add(MatrixCounts& to, const MatrixCounts& counts) {
    to.positions += counts.positions;
    to.spliced += counts.spliced;
    to.passed += counts.passed;
    to.failed += counts.failed;
    to.overLimit += counts.overLimit;
    to.respliced += counts.respliced;
    to.replaced += counts.replaced;
}

}  // namespace

MatrixCounts CountRows(std::span<const MatrixRow> rows, std::optional<int> tray) {
    MatrixCounts counts;
    for (const MatrixRow& row : rows)
        if (!tray || row.tray == *tray) Count(counts, row);
    return counts;
}

void MatrixReader::ReadLayout(SpliceMatrix& matrix) {
    sqlite3* db = archive_.Connection();
    const std::int64_t job = matrix.job.id;
    std::unordered_map<std::int64_t, std::size_t> closureAt;
    Query closures(db,
                   "SELECT id, job_id, name, location, latitude, longitude, notes FROM closures "
                   "WHERE job_id = ?1 ORDER BY name",
                   job);
    while (closures.Next()) {
        closureAt[closures.Int(0)] = matrix.closures.size();
        MatrixClosure& c = matrix.closures.emplace_back();
        c.closure = {closures.Int(0),
                     closures.Int(1),
                     {closures.Text(2), closures.Text(3), std::nullopt, closures.Text(6)}};
        if (!closures.IsNull(4) && !closures.IsNull(5))
            c.closure.details.point = GeoPoint{closures.Real(4), closures.Real(5)};
    }
    Query cables(db,
                 "SELECT cables.id, closure_id, cables.name, fibres, per_tube FROM cables "
                 "JOIN closures ON closures.id = cables.closure_id WHERE job_id = ?1 "
                 "ORDER BY cables.name",
                 job);
    std::unordered_map<std::int64_t, const CableInfo*> cableOf;
    while (cables.Next())
        matrix.closures[closureAt.at(cables.Int(1))].cables.push_back(
            {cables.Int(0), cables.Int(1), {cables.Text(2), cables.Number(3), cables.Number(4)}});
    for (const MatrixClosure& c : matrix.closures)
        for (const CableInfo& cable : c.cables) cableOf[cable.id] = &cable;
    Query trays(db,
                "SELECT trays.id, closure_id, number, capacity FROM trays "
                "JOIN closures ON closures.id = trays.closure_id WHERE job_id = ?1 ORDER BY number",
                job);
    while (trays.Next())
        matrix.closures[closureAt.at(trays.Int(1))].trays.push_back(
            {trays.Int(0), trays.Int(1), {trays.Number(2), trays.Number(3)}});
    Query positions(db,
                    "SELECT positions.id, trays.closure_id, trays.number, positions.number, "
                    "cable_a, fibre_a, cable_b, fibre_b FROM positions "
                    "JOIN trays ON trays.id = positions.tray_id "
                    "JOIN closures ON closures.id = trays.closure_id WHERE job_id = ?1 "
                    "ORDER BY trays.number, positions.number",
                    job);
    auto end = [&](int cableColumn) {
        const CableInfo* cable = cableOf.at(positions.Int(cableColumn));
        const int fibre = positions.Number(cableColumn + 1);
        return MatrixEnd{cable->details.name, fibre, PlaceOfFibre(fibre, cable->details.perTube)};
    };
    while (positions.Next()) {
        const std::size_t at = closureAt.at(positions.Int(1));
        std::vector<MatrixRow>& rows = matrix.closures[at].rows;
        rowOf_[positions.Int(0)] = {at, rows.size()};
        rows.push_back({positions.Number(2), positions.Number(3), end(4), end(6)});
    }
}

void MatrixReader::ReadSplices(SpliceMatrix& matrix) {
    sqlite3* db = archive_.Connection();
    auto splice = [&](const Query& q, int first) {
        MatrixSplice s;
        s.recordId = q.Int(first);
        const std::int64_t splicer = q.Int(first + 1);
        const auto bytes = q.Blob(first + 2);
        std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), s.record.bytes.begin());
        s.mark = Judge(s.record, matrix.limits);
        splicerOf_[s.recordId] = splicer;
        std::int64_t& last = splicers_[splicer].lastOrdinal;
        last = std::max(last, q.Int(first + 3));
        return s;
    };
    // The placed ones by splice time: each position's last is the one that counts.
    Query placed(db,
                 "SELECT placings.position_id, records.id, records.splicer_id, records.bytes, "
                 "records.ordinal FROM placings "
                 "JOIN positions ON positions.id = placings.position_id "
                 "JOIN trays ON trays.id = positions.tray_id "
                 "JOIN closures ON closures.id = trays.closure_id "
                 "JOIN records ON records.id = placings.record_id "
                 "WHERE closures.job_id = ?1 ORDER BY " +
                     archive::sql::OrderSql(),
                 matrix.job.id);
    while (placed.Next()) {
        const auto [closure, row] = rowOf_.at(placed.Int(0));
        MatrixRow& r = matrix.closures[closure].rows[row];
        if (r.splice) r.resplices.push_back(std::move(*r.splice));
        r.splice = splice(placed, 1);
    }
    Query others(db,
                 "SELECT EXISTS (SELECT 1 FROM test_splices WHERE record_id = records.id), id, "
                 "splicer_id, bytes, ordinal FROM records WHERE job = ?1 "
                 "AND NOT EXISTS (SELECT 1 FROM placings WHERE record_id = records.id) "
                 "ORDER BY " +
                     archive::sql::OrderSql(""),
                 matrix.job.details.name);
    while (others.Next())
        (others.Int(0) != 0 ? matrix.testSplices : matrix.unplaced).push_back(splice(others, 1));
}

// A splice's number is its place among all the records of its splicer: each
// splicer's records are walked on the (splicer, ordinal) index up to the last one
// of the job, which reads the index alone.
void MatrixReader::NumberSplices(SpliceMatrix& matrix) {
    sqlite3* db = archive_.Connection();
    Query names(db, "SELECT id, folder, serial FROM splicers");
    while (names.Next()) {
        const auto found = splicers_.find(names.Int(0));
        if (found != splicers_.end())
            found->second.name = archive::SplicerDisplayName(names.Text(2), names.Text(1));
    }
    std::unordered_map<std::int64_t, std::int64_t> numberOf;
    numberOf.reserve(splicerOf_.size());
    Query walk(db,
               "SELECT id FROM records INDEXED BY records_by_splicer_ordinal "
               "WHERE splicer_id = ?1 AND ordinal <= ?2 ORDER BY " +
                   archive::sql::OrderSql(""));
    for (const auto& [id, splicer] : splicers_) {
        walk.Again(id, splicer.lastOrdinal);
        for (std::int64_t number = 1; walk.Next(); ++number)
            if (splicerOf_.contains(walk.Int(0))) numberOf[walk.Int(0)] = number;
    }
    auto fill = [&](MatrixSplice& s) {
        s.splicer = splicers_[splicerOf_[s.recordId]].name;
        s.number = numberOf[s.recordId];
    };
    for (MatrixClosure& c : matrix.closures) {
        for (MatrixRow& row : c.rows) {
            if (row.splice) fill(*row.splice);
            for (MatrixSplice& s : row.resplices) fill(s);
        }
    }
    for (MatrixSplice& s : matrix.unplaced) fill(s);
    for (MatrixSplice& s : matrix.testSplices) fill(s);
}

std::optional<SpliceMatrix> MatrixReader::Read(std::string_view name, const Limits& defaults,
                                               MatrixDetail detail) {
    std::optional<JobInfo> job = JobStore(archive_).Job(name);
    if (!job) return std::nullopt;
    return archive_.Run("reading the splice matrix", [&]() -> std::optional<SpliceMatrix> {
        SpliceMatrix matrix;
        matrix.job = std::move(*job);
        matrix.limits = defaults;
        const JobLimits& own = matrix.job.details.limits;
        if (own.maxLoss) matrix.limits.maxLoss = *own.maxLoss;
        if (own.maxAngle) matrix.limits.maxAngle = *own.maxAngle;
        // One read transaction: the layout and the splices are of the same moment.
        const archive::db::Transaction read(archive_.Connection(), archive::db::For::Reading);
        ReadLayout(matrix);
        ReadSplices(matrix);
        if (detail == MatrixDetail::Full) NumberSplices(matrix);
        for (MatrixClosure& c : matrix.closures) {
            c.counts = CountRows(c.rows);
            Add(matrix.totals, c.counts);
        }
        return matrix;
    });
}

std::optional<SpliceMatrix> ReadMatrix(archive::Archive& archive, std::string_view name,
                                       const Limits& defaults, MatrixDetail detail) {
    return MatrixReader(archive).Read(name, defaults, detail);
}

}  // namespace velmora::jobs
