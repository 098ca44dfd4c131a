#include "archive/record_cursor.h"

#include <algorithm>
#include <tuple>

#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::archive {
using db::Statement;
using sql::AddFilter;
using sql::Where;
namespace {

// Every kStride-th key is kept while counting: a position is at most that many index
// steps from a kept key.
constexpr std::size_t kStride = 256;
// How many rows a count walks before it looks again whether it is still wanted.
constexpr std::size_t kCountStep = 65536;

// The columns of a row the list shows: its key first (0 id, 1 ordinal, 2 the value of
// its part's column), then the record. A part is ordered by the value, the ordinal and
// the id: records of one second from two splicers may share an ordinal, and the id
// orders them as they came.
constexpr const char* kWholeColumns = ", splicer_id, splice_time, bytes, job, downloaded";

// The archive's change counters as this connection sees them: another connection's
// commits move the first, this one's own the second. None when they cannot be read.
std::optional<std::pair<std::int64_t, std::int64_t>> ChangeStamp(sqlite3* db) {
    try {
        const auto version = Statement(db, "PRAGMA data_version").Single();
        if (!version) return std::nullopt;
        return std::pair(*version, static_cast<std::int64_t>(sqlite3_total_changes64(db)));
    } catch (const db::Failure&) {
        return std::nullopt;
    }
}

void AddValue(Where& where, const RecordCursor::Key& key) {
    if (const auto* n = std::get_if<std::int64_t>(&key.value)) {
        where.values.emplace_back(*n);
    } else if (const auto* text = std::get_if<std::string>(&key.value)) {
        where.values.emplace_back(*text);
    } else {
        where.values.emplace_back(nullptr);
    }
}

// Runs `work`, telling a failure of SQLite in it as one of `what`.
template <class Work>
auto Doing(const char* what, Work work) -> decltype(work()) {
    try {
        return work();
    } catch (const db::Failure& failure) {
        throw failure.During(what);
    }
}

constexpr const char* kReading = "reading records";

}  // namespace

RecordCursor::RecordCursor(RecordFilter filter, RecordOrder order)
    : given_(std::move(filter)), filter_(given_), order_(order) {}

template <class Work>
auto RecordCursor::Guarded(Archive& archive, const char* what, Work work)
    -> std::optional<decltype(work())> {
    std::optional<decltype(work())> result;
    error_ = db::Attempt(what, [&] { result = work(); });
    if (error_.ok()) return result;
    error_.file = archive.File();
    return std::nullopt;
}

bool RecordCursor::Changed(Archive& archive) {
    return prepared_ && ChangeStamp(archive.Connection()) != stamp_;
}

void RecordCursor::Restart() {
    prepared_ = false;
    counted_ = 0;
    anchors_.clear();
    lastCounted_.reset();
    total_.reset();
}

void RecordCursor::Prepare(Archive& archive) {
    if (prepared_) return;
    if (auto problem = sql::FilterProblem(given_))
        throw ArchiveError{ErrorCode::InvalidArgument, *problem};
    filter_ = given_;
    stamp_ = ChangeStamp(archive.Connection());
    // The splicers, few, by id for the rows and in the list's order for its parts.
    const auto splicers = archive.Splicers();
    if (!splicers) throw archive.LastError();
    splicers_.clear();
    for (const SplicerInfo& s : *splicers) splicers_[s.id] = {s.folderName, s.serialNumber};
    FindDates();
    NarrowSearch(archive);
    eachSplicer_.clear();
    for (const SplicerInfo& s : *splicers)
        if ((!filter_.splicer || *filter_.splicer == s.id) &&
            (!filter_.device || *filter_.device == s.serialNumber ||
             *filter_.device == s.folderName))
            eachSplicer_.push_back(s.id);
    FindNoneOverALimit(archive);
    MakeParts(*splicers);
    prepared_ = true;
}

void RecordCursor::FindDates() {
    const auto days = sql::DayOrdinals(filter_);
    empty_ = days && days->first > days->last;
}

void RecordCursor::FindNoneOverALimit(Archive& archive) {
    if (empty_ || filter_.result != Verdict::OverLimit) return;
    // Over a limit is a loss or a cleave angle past it (Judge) on a splice the
    // splicer passed: two index seeks a splicer instead of judging every record.
    Statement over(archive.Connection(),
                   "SELECT EXISTS(SELECT 1 FROM records INDEXED BY records_passed_by_loss "
                   "WHERE splicer_id = ?1 AND result = 0 AND loss > ?2) OR EXISTS(SELECT 1 "
                   "FROM records INDEXED BY records_passed_by_angle WHERE splicer_id = ?1 "
                   "AND result = 0 AND angle > ?3)");
    empty_ = std::none_of(eachSplicer_.begin(), eachSplicer_.end(), [&](std::int64_t splicer) {
        return over.Again(splicer, std::int64_t{filter_.limits.maxLoss},
                          std::int64_t{filter_.limits.maxAngle})
                   .Single() == 1;
    });
}

void RecordCursor::NarrowSearch(Archive& archive) {
    if (filter_.search.empty()) return;
    sqlite3* db = archive.Connection();
    const std::string& text = filter_.search;
    std::vector<std::string> jobs;
    for (Statement found(db, sql::kSearchJobsSql, text); found.Next();)
        jobs.push_back(found.Text(0));
    std::vector<std::int64_t> splicers;
    for (Statement found(db, sql::kSearchSplicersSql, text); found.Next();)
        splicers.push_back(found.Int(0));
    Statement placed(db, "SELECT EXISTS(" + sql::kSearchPlacedSql + ")", text);
    if (placed.Single() == 1) return;
    if (jobs.empty() && splicers.empty()) {
        empty_ = true;
    } else if (jobs.empty() && splicers.size() == 1) {
        empty_ = empty_ || (filter_.splicer && *filter_.splicer != splicers[0]);
        filter_.splicer = splicers[0];
        filter_.search.clear();
    } else if (splicers.empty() && jobs.size() == 1) {
        empty_ = empty_ || (filter_.job && *filter_.job != jobs[0]);
        filter_.job = jobs[0];
        filter_.search.clear();
    }
}

void RecordCursor::MakeParts(const std::vector<SplicerInfo>& splicers) {
    parts_.clear();
    switch (order_.by) {
        case RecordSort::Result:
            // Passed and over a limit take only a result of 0: the order by result is
            // the archive's own then, and SQLite sorts a range of (result, ordinal)
            // with result fixed as well instead of reading it in order.
            parts_.push_back(
                {"", std::nullopt,
                 filter_.result && *filter_.result != Verdict::Failed ? nullptr : "result"});
            break;
        case RecordSort::Loss:
            parts_.push_back({"", std::nullopt, "loss"});
            break;
        case RecordSort::Job:
            // One job taken: the archive's own order is the job's.
            if (filter_.job) {
                parts_.push_back({"", std::nullopt, nullptr});
                break;
            }
            // No job first, as an empty name would sort.
            parts_.push_back({"records.job IS NULL", std::nullopt, nullptr});
            parts_.push_back({"records.job IS NOT NULL", std::nullopt, "job"});
            break;
        case RecordSort::Splicer:
            // As the splicer list: by serial number, those known by folder alone after.
            for (const SplicerInfo& s : splicers)
                if (!filter_.splicer || *filter_.splicer == s.id)
                    parts_.push_back({"", s.id, nullptr});
            break;
        default:
            parts_.push_back({"", std::nullopt, nullptr});
    }
    if (order_.descending) std::reverse(parts_.begin(), parts_.end());
}

RecordCursor::Reading RecordCursor::IndexFor(const Part& part) const {
    const bool oneSplicer = part.splicer || filter_.splicer;
    // The index by job holds only the records that have one.
    const bool noJob =
        (filter_.job && filter_.job->empty()) || part.condition == "records.job IS NULL";
    const bool oneJob = filter_.job && !noJob;
    const std::string_view column = part.column ? part.column : "";
    if (column == "result") return {"records_by_splicer_result", !oneSplicer};
    if (column == "loss")
        return {filter_.result == Verdict::Failed ? "records_failed_by_loss"
                                                  : "records_by_splicer_loss",
                !oneSplicer};
    // The records that have a job, of every splicer, are in one index of their own.
    if (!oneSplicer && (column == "job" || oneJob)) return {"records_by_job_ordinal", false};
    if (column == "job" || oneJob || noJob) return {"records_by_splicer_job", !oneSplicer};
    return {"records_by_splicer_ordinal", !oneSplicer};
}

std::string RecordCursor::QueryText(std::size_t p, const Key* after, bool whole,
                                    Where& bound) const {
    const Part& part = parts_[p];
    const char* direction = order_.descending ? " DESC" : "";
    const char* beyond = order_.descending ? " < " : " > ";
    const std::string column = part.column ? std::string("records.") + part.column : "NULL";
    Where where;
    AddFilter(where, filter_);
    if (part.splicer) {
        where.Add("records.splicer_id = ?");
        where.values.emplace_back(*part.splicer);
    }
    if (!part.condition.empty()) where.Add(part.condition);
    if (after) {
        where.Add(part.column
                      ? "(" + column + ", records.ordinal, records.id)" + beyond + "(?, ?, ?)"
                      : sql::PlaceSql() + beyond + "(?, ?)");
        if (part.column) AddValue(where, *after);
        where.values.emplace_back(after->ordinal);
        where.values.emplace_back(after->id);
    }
    const std::string columns =
        "records.id, records.ordinal, " + column + (whole ? kWholeColumns : "");
    // Ordered by the result columns' numbers, as a UNION ALL must be.
    const std::string orderBy = " ORDER BY " +
                                (part.column ? std::string("3") + direction + ", " : "") + "2" +
                                direction + ", 1" + direction + " LIMIT ?";
    const Reading reading = IndexFor(part);
    if (reading.eachSplicer)
        return sql::EachSplicerSql(columns, reading.index, where, eachSplicer_, bound) + orderBy;
    // The index named: SQLite, without statistics, may otherwise take a range of
    // ordinals and sort what it found, which is all of it in a wide range.
    bound.values.insert(bound.values.end(), where.values.begin(), where.values.end());
    return "SELECT " + columns + " FROM records INDEXED BY " + reading.index + where.sql + orderBy;
}

std::optional<std::vector<std::string>> RecordCursor::Plans(Archive& archive) {
    return Guarded(archive, "planning", [&] {
        Prepare(archive);
        std::vector<std::string> plans;
        for (std::size_t p = 0; p < parts_.size(); ++p)
            for (const bool keyed : {false, true})
                for (const bool whole : {false, true}) {
                    Where where;
                    const Key key{static_cast<int>(p)};
                    const std::string text = QueryText(p, keyed ? &key : nullptr, whole, where);
                    Statement plan(archive.Connection(), "EXPLAIN QUERY PLAN " + text);
                    std::string details;
                    while (plan.Next()) details += plan.Text(3) + "; ";
                    plans.push_back(text + " => " + details);
                }
        return plans;
    });
}

std::size_t RecordCursor::Walk(Archive& archive, const std::optional<Key>& after, std::size_t limit,
                               bool whole, const Visit& visit) {
    Prepare(archive);
    if (empty_ || limit == 0) return 0;
    return Doing(kReading, [&] {
        std::size_t visited = 0;
        for (std::size_t p = after ? static_cast<std::size_t>(after->part) : 0;
             p < parts_.size() && visited < limit; ++p) {
            const Part& part = parts_[p];
            const bool keyed = after && static_cast<std::size_t>(after->part) == p;
            Where where;
            Statement query(archive.Connection(),
                            QueryText(p, keyed ? &*after : nullptr, whole, where));
            where.BindTo(query, 1);
            query.Set(static_cast<int>(where.values.size()) + 1,
                      static_cast<std::int64_t>(limit - visited));
            Key key{static_cast<int>(p)};
            while (query.Next()) {
                key.ordinal = query.Int(1);
                key.id = query.Int(0);
                if (query.IsNull(2)) {
                    key.value = std::monostate{};
                } else if (part.column && std::string_view(part.column) == "job") {
                    key.value = query.Text(2);
                } else {
                    key.value = query.Int(2);
                }
                visit(key, key.id, whole ? &query : nullptr);
                ++visited;
            }
        }
        return visited;
    });
}

bool RecordCursor::CountOn(Archive& archive, std::size_t budget) {
    Prepare(archive);
    if (total_) return true;
    const std::size_t walked =
        Walk(archive, lastCounted_, budget, false, [this](const Key& key, std::int64_t, auto) {
            if (counted_ % kStride == 0) anchors_.push_back(key);
            ++counted_;
            lastCounted_ = key;
        });
    if (walked < budget) total_ = counted_;
    return total_.has_value();
}

std::optional<bool> RecordCursor::Count(Archive& archive, std::size_t budget) {
    return Guarded(archive, kReading, [&] { return CountOn(archive, budget); });
}

std::optional<RecordCursor::Key> RecordCursor::KeyAt(Archive& archive, std::size_t position) {
    Prepare(archive);
    while (!total_ && counted_ <= position) CountOn(archive, kCountStep);
    if (position >= counted_) return std::nullopt;
    const std::size_t anchor = position / kStride;
    std::optional<Key> found = anchors_[anchor];
    const std::size_t steps = position - anchor * kStride;
    if (steps > 0)
        Walk(archive, anchors_[anchor], steps, false,
             [&](const Key& key, std::int64_t, auto) { found = key; });
    return found;
}

namespace {

// The record of a whole row Walk visits.
ArchivedRecord RecordOf(
    std::int64_t id, const Statement& row,
    const std::unordered_map<std::int64_t, std::pair<std::string, std::string>>& splicers) {
    ArchivedRecord r;
    r.id = id;
    r.ordinal = row.Int(1);
    r.splicerId = row.Int(3);
    const auto splicer = splicers.find(r.splicerId);
    if (splicer != splicers.end()) {
        r.device = splicer->second.first;
        r.serialNumber = splicer->second.second;
    }
    const auto bytes = row.Blob(5);
    std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), r.record.bytes.begin());
    r.job = row.Text(6);
    r.firstDownloaded = std::chrono::sys_seconds{std::chrono::seconds{row.Int(7)}};
    return r;
}

// Where each row was placed in its job, or that it is a test splice: two lookups on
// primary keys a row.
void ReadPlacings(sqlite3* db, std::vector<ArchivedRecord>& rows) {
    Statement placing(db,
                      "SELECT closures.name, trays.number, positions.number FROM placings "
                      "JOIN positions ON positions.id = placings.position_id "
                      "JOIN trays ON trays.id = positions.tray_id "
                      "JOIN closures ON closures.id = trays.closure_id "
                      "WHERE placings.record_id = ?1");
    Statement test(db, "SELECT 1 FROM test_splices WHERE record_id = ?1");
    for (ArchivedRecord& row : rows) {
        if (placing.Again(row.id).Next()) {
            row.closure = placing.Text(0);
            row.tray = placing.Number(1);
            row.position = placing.Number(2);
        }
        row.testSplice = test.Again(row.id).Next();
    }
}

// The images of each dated row's time (`times`, beside the rows): a few index
// lookups for a screenful.
void ReadImages(sqlite3* db, std::vector<ArchivedRecord>& rows,
                const std::vector<std::optional<std::int64_t>>& times) {
    Statement images(db,
                     "SELECT file_name, sha256 FROM images WHERE splicer_id = ?1 AND "
                     "splice_time = ?2 ORDER BY file_name, id");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!times[i]) continue;
        images.Again(rows[i].splicerId, *times[i]);
        while (images.Next()) {
            rows[i].images.push_back(images.Text(0));
            rows[i].imageDigests.push_back(images.Text(1));
        }
    }
}

}  // namespace

std::optional<std::vector<ArchivedRecord>> RecordCursor::Rows(Archive& archive, std::size_t first,
                                                              std::size_t count) {
    return Guarded(archive, kReading, [&] {
        std::vector<ArchivedRecord> rows;
        std::optional<Key> after;
        if (first > 0) {
            after = KeyAt(archive, first - 1);
            if (!after) return rows;
        }
        std::vector<std::optional<std::int64_t>> times;
        Walk(archive, after, count, true, [&](const Key&, std::int64_t id, const Statement* row) {
            rows.push_back(RecordOf(id, *row, splicers_));
            times.push_back(row->IsNull(4) ? std::nullopt : std::optional(row->Int(4)));
        });
        Doing("reading placings", [&] { ReadPlacings(archive.Connection(), rows); });
        Doing("reading images", [&] { ReadImages(archive.Connection(), rows, times); });
        return rows;
    });
}

bool RecordCursor::Each(Archive& archive, const std::function<bool(const ArchivedRecord&)>& take) {
    constexpr std::size_t kChunk = 4096;
    return Guarded(archive, kReading,
                   [&] {
                       std::optional<Key> after;
                       bool more = true;
                       while (more) {
                           std::size_t visited = 0;
                           bool wanted = true;
                           Walk(archive, after, kChunk, true,
                                [&](const Key& key, std::int64_t id, const Statement* row) {
                                    after = key;
                                    ++visited;
                                    if (wanted) wanted = take(RecordOf(id, *row, splicers_));
                                });
                           more = wanted && visited == kChunk;
                       }
                       return true;
                   })
        .has_value();
}

bool Archive::ForEachRecord(const RecordFilter& filter,
                            const std::function<bool(const ArchivedRecord&)>& take) {
    lastError_ = {};
    RecordCursor cursor(filter, {});
    if (cursor.Each(*this, take)) return true;
    lastError_ = cursor.Error();
    return false;
}

std::optional<std::vector<std::int64_t>> RecordCursor::Ids(Archive& archive,
                                                           std::span<const Range> ranges) {
    return Guarded(archive, kReading, [&] {
        std::vector<std::int64_t> ids;
        for (const auto& [from, to] : ranges) {
            if (to < from) continue;
            std::optional<Key> after;
            if (from > 0) {
                after = KeyAt(archive, from - 1);
                if (!after) break;
            }
            Walk(archive, after, to - from + 1, false,
                 [&](const Key&, std::int64_t id, auto) { ids.push_back(id); });
        }
        return ids;
    });
}

bool RecordCursor::Before(const Key& a, const Key& b) const {
    if (a.part != b.part) return a.part < b.part;
    const auto rest = [](const Key& k) { return std::tie(k.value, k.ordinal, k.id); };
    return order_.descending ? rest(b) < rest(a) : rest(a) < rest(b);
}

std::optional<std::vector<std::size_t>> RecordCursor::Positions(Archive& archive,
                                                                std::span<const std::int64_t> ids) {
    return Guarded(archive, "finding records", [&] {
        while (!CountOn(archive, kCountStep)) {
        }
        std::vector<std::size_t> positions;
        if (empty_) return positions;
        Where where;
        AddFilter(where, filter_);
        where.Add("records.id = ?");
        Statement query(archive.Connection(),
                        "SELECT records.ordinal, records.splicer_id, records.job, records.result, "
                        "records.loss FROM records" +
                            where.sql);
        where.BindTo(query, 1);
        const int idAt = static_cast<int>(where.values.size()) + 1;
        for (const std::int64_t id : ids) {
            if (!query.Set(idAt, id).Next()) continue;
            Key key{0, {}, query.Int(0), id};
            const bool noJob = query.IsNull(2);
            const std::int64_t splicer = query.Int(1);
            const auto part = std::find_if(parts_.begin(), parts_.end(), [&](const Part& p) {
                if (p.splicer) return *p.splicer == splicer;
                if (p.condition.empty()) return true;
                return (p.column == nullptr) == noJob;  // the runs without and with a job
            });
            const std::string_view column =
                part != parts_.end() && part->column ? part->column : "";
            if (column == "result") key.value = query.Int(3);
            if (column == "loss") key.value = query.Int(4);
            if (column == "job") key.value = query.Text(2);
            if (part == parts_.end()) continue;
            key.part = static_cast<int>(part - parts_.begin());
            // The last kept key not after it, then on from there to it.
            const auto next =
                std::upper_bound(anchors_.begin(), anchors_.end(), key,
                                 [this](const Key& a, const Key& b) { return Before(a, b); });
            if (next == anchors_.begin()) continue;
            const auto anchor = static_cast<std::size_t>(next - anchors_.begin() - 1);
            std::size_t position = anchor * kStride;
            bool found = anchors_[anchor].id == key.id;
            if (!found)
                Walk(archive, anchors_[anchor], kStride, false,
                     [&](const Key& k, std::int64_t, auto) {
                         if (found) return;
                         ++position;
                         found = k.id == key.id;
                     });
            if (found) positions.push_back(position);
        }
        std::sort(positions.begin(), positions.end());
        return positions;
    });
}

}  // namespace velmora::archive
