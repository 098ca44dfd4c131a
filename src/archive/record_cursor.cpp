#include "archive/record_cursor.h"

#include <algorithm>

#include "archive/archive_sql.h"

namespace velmora::archive {
using namespace sql;
namespace {

// Every kStride-th key is kept while counting: a position is at most that many index
// steps from a kept key.
constexpr std::size_t kStride = 256;
// How many rows a count walks before it looks again whether it is still wanted.
constexpr std::size_t kCountStep = 65536;

// The columns of a row the list shows: its key first (0 id, 1 ordinal, 2 the value of
// its part's column), then the record.
constexpr const char* kWholeColumns = ", splicer_id, splice_time, bytes, job, downloaded";

// The archive's change counters as this connection sees them: another connection's
// commits move the first, this one's own the second.
std::optional<std::pair<std::int64_t, std::int64_t>> ChangeStamp(sqlite3* db) {
    Statement version(db, "PRAGMA data_version");
    if (!version.ok() || version.Step() != SQLITE_ROW) return std::nullopt;
    return std::pair(version.Int(0), static_cast<std::int64_t>(sqlite3_total_changes64(db)));
}

void BindValue(Statement& stmt, int at, const RecordCursor::Key& key) {
    if (const auto* n = std::get_if<std::int64_t>(&key.value)) {
        stmt.Bind(at, *n);
    } else if (const auto* text = std::get_if<std::string>(&key.value)) {
        stmt.Bind(at, *text);
    } else {
        stmt.BindNull(at);
    }
}

}  // namespace

RecordCursor::RecordCursor(RecordFilter filter, RecordOrder order)
    : filter_(std::move(filter)), order_(order) {}

bool RecordCursor::Fail(Archive& archive, const char* what, int rc) {
    error_ = SqliteError(archive.db_, what, rc);
    error_.file = archive.file_;
    return false;
}

bool RecordCursor::Dense() const {
    return (order_.by == RecordSort::Index || order_.by == RecordSort::Time) && !filter_.splicer &&
           !filter_.device && !filter_.job;
}

bool RecordCursor::Changed(Archive& archive) {
    return prepared_ && ChangeStamp(archive.db_) != stamp_;
}

void RecordCursor::Restart() {
    prepared_ = false;
    counted_ = 0;
    anchors_.clear();
    lastCounted_.reset();
    total_.reset();
}

bool RecordCursor::Prepare(Archive& archive) {
    if (prepared_) return true;
    constexpr const char* kWhat = "reading records";
    error_ = {};
    if (auto problem = FilterProblem(filter_)) {
        error_ = {ErrorCode::InvalidArgument, *problem, archive.file_};
        return false;
    }
    stamp_ = ChangeStamp(archive.db_);
    sqlite3* db = archive.db_;
    // The splicers, few, by id for the rows and in the list's order for its parts.
    const auto splicers = archive.Splicers();
    if (!splicers) {
        error_ = archive.LastError();
        return false;
    }
    splicers_.clear();
    for (const SplicerInfo& s : *splicers) splicers_[s.id] = {s.folderName, s.serialNumber};

    // The dates as the ordinals of the first and last record they take: the records
    // of a time range are one run of the archive's order.
    empty_ = false;
    first_ = 1;
    last_ = 0;
    {
        Statement last(db, "SELECT max(ordinal) FROM records");
        if (!last.ok()) return Fail(archive, kWhat, last.PrepareCode());
        if (int rc = last.Step(); rc != SQLITE_ROW) return Fail(archive, kWhat, rc);
        last_ = last.Int(0);
    }
    if (filter_.from) {
        Statement first(db,
                        "SELECT ordinal FROM records WHERE splice_time >= ?1 "
                        "ORDER BY splice_time, id LIMIT 1");
        if (!first.ok()) return Fail(archive, kWhat, first.PrepareCode());
        first.Bind(1, DayStart(*filter_.from));
        const int rc = first.Step();
        if (rc == SQLITE_ROW)
            first_ = first.Int(0);
        else if (rc == SQLITE_DONE)
            empty_ = true;
        else
            return Fail(archive, kWhat, rc);
    }
    if (filter_.from || filter_.to) {
        // Undated records fall in no date range.
        Statement last(db,
                       "SELECT ordinal FROM records WHERE splice_time IS NOT NULL AND "
                       "splice_time <= ?1 ORDER BY splice_time DESC, id DESC LIMIT 1");
        if (!last.ok()) return Fail(archive, kWhat, last.PrepareCode());
        last.Bind(1, filter_.to ? DayStart(*filter_.to) + 235959 : INT64_MAX);
        const int rc = last.Step();
        if (rc == SQLITE_ROW)
            last_ = last.Int(0);
        else if (rc == SQLITE_DONE)
            empty_ = true;
        else
            return Fail(archive, kWhat, rc);
    }
    if (first_ > last_) empty_ = true;

    parts_.clear();
    switch (order_.by) {
        case RecordSort::Result:
            parts_.push_back({"", std::nullopt, "result"});
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
            for (const SplicerInfo& s : *splicers)
                if (!filter_.splicer || *filter_.splicer == s.id)
                    parts_.push_back({"", s.id, nullptr});
            break;
        default:
            parts_.push_back({"", std::nullopt, nullptr});
    }
    if (order_.descending) std::reverse(parts_.begin(), parts_.end());
    if (Dense()) total_ = empty_ ? 0 : static_cast<std::size_t>(last_ - first_ + 1);
    prepared_ = true;
    return true;
}

const char* RecordCursor::IndexFor(const Part& part) const {
    if (filter_.device) return nullptr;  // the command line's: any splicers of a folder
    const bool oneSplicer = part.splicer || filter_.splicer;
    const bool oneJob = filter_.job || part.condition == "records.job IS NULL";
    const std::string_view column = part.column ? part.column : "";
    if (column == "result") return oneSplicer ? "records_by_splicer_result" : "records_by_result";
    if (column == "loss") return oneSplicer ? "records_by_splicer_loss" : "records_by_loss";
    if (column == "job") return oneSplicer ? "records_by_splicer_job" : "records_by_job_ordinal";
    if (oneSplicer && oneJob) return "records_by_splicer_job";
    if (oneSplicer) return "records_by_splicer_ordinal";
    if (oneJob) return "records_by_job_ordinal";
    return "records_by_ordinal";
}

std::string RecordCursor::QueryText(std::size_t p, bool keyed, bool whole, Where& where) const {
    const Part& part = parts_[p];
    const char* direction = order_.descending ? " DESC" : "";
    const char* beyond = order_.descending ? " < " : " > ";
    const std::string column = part.column ? std::string("records.") + part.column : "NULL";
    RecordFilter withoutDates = filter_;
    withoutDates.from.reset();
    withoutDates.to.reset();
    AddFilter(where, withoutDates);
    if (filter_.from || filter_.to) {
        where.Add("records.ordinal BETWEEN ? AND ?");
        where.values.emplace_back(first_);
        where.values.emplace_back(last_);
    }
    if (part.splicer) {
        where.Add("records.splicer_id = ?");
        where.values.emplace_back(*part.splicer);
    }
    if (!part.condition.empty()) where.Add(part.condition);
    if (keyed)
        where.Add(part.column ? "(" + column + ", records.ordinal)" + beyond + "(?, ?)"
                              : std::string("records.ordinal") + beyond + "?");
    // The index named: SQLite, without statistics, may otherwise take a range of
    // ordinals and sort what it found, which is all of it in a wide range.
    const char* index = IndexFor(part);
    return "SELECT records.id, records.ordinal, " + column + (whole ? kWholeColumns : "") +
           " FROM records" + (index ? std::string(" INDEXED BY ") + index : std::string()) +
           where.sql + " ORDER BY " + (part.column ? column + direction + ", " : "") +
           "records.ordinal" + direction + " LIMIT ?";
}

std::optional<std::vector<std::string>> RecordCursor::Plans(Archive& archive) {
    if (!Prepare(archive)) return std::nullopt;
    std::vector<std::string> plans;
    for (std::size_t p = 0; p < parts_.size(); ++p)
        for (const bool keyed : {false, true})
            for (const bool whole : {false, true}) {
                Where where;
                const std::string text = QueryText(p, keyed, whole, where);
                Statement plan(archive.db_, "EXPLAIN QUERY PLAN " + text);
                if (!plan.ok()) {
                    Fail(archive, "planning", plan.PrepareCode());
                    return std::nullopt;
                }
                std::string details;
                while (plan.Step() == SQLITE_ROW) details += plan.Text(3) + "; ";
                plans.push_back(text + " => " + details);
            }
    return plans;
}

std::optional<std::size_t> RecordCursor::Walk(Archive& archive, const std::optional<Key>& after,
                                              std::size_t limit, bool whole, const Visit& visit) {
    if (!Prepare(archive)) return std::nullopt;
    if (empty_ || limit == 0) return 0;
    std::size_t visited = 0;
    for (std::size_t p = after ? static_cast<std::size_t>(after->part) : 0;
         p < parts_.size() && visited < limit; ++p) {
        const Part& part = parts_[p];
        const bool keyed = after && static_cast<std::size_t>(after->part) == p;
        Where where;
        Statement query(archive.db_, QueryText(p, keyed, whole, where));
        if (!query.ok()) {
            Fail(archive, "reading records", query.PrepareCode());
            return std::nullopt;
        }
        where.BindTo(query, 1);
        int at = static_cast<int>(where.values.size()) + 1;
        if (keyed) {
            if (part.column) BindValue(query, at++, *after);
            query.Bind(at++, after->ordinal);
        }
        query.Bind(at, static_cast<std::int64_t>(limit - visited));
        int rc;
        Key key{static_cast<int>(p)};
        while ((rc = query.Step()) == SQLITE_ROW) {
            key.ordinal = query.Int(1);
            if (query.IsNull(2)) {
                key.value = std::monostate{};
            } else if (part.column && std::string_view(part.column) == "job") {
                key.value = query.Text(2);
            } else {
                key.value = query.Int(2);
            }
            visit(key, query.Int(0), whole ? &query : nullptr);
            ++visited;
        }
        if (rc != SQLITE_DONE) {
            Fail(archive, "reading records", rc);
            return std::nullopt;
        }
    }
    return visited;
}

std::optional<bool> RecordCursor::Count(Archive& archive, std::size_t budget) {
    if (!Prepare(archive)) return std::nullopt;
    if (total_) return true;
    const auto walked =
        Walk(archive, lastCounted_, budget, false, [this](const Key& key, std::int64_t, auto) {
            if (counted_ % kStride == 0) anchors_.push_back(key);
            ++counted_;
            lastCounted_ = key;
        });
    if (!walked) return std::nullopt;
    if (*walked < budget) total_ = counted_;
    return total_.has_value();
}

std::optional<std::optional<RecordCursor::Key>> RecordCursor::KeyAt(Archive& archive,
                                                                    std::size_t position) {
    if (!Prepare(archive)) return std::nullopt;
    if (Dense()) {
        if (position >= *total_) return std::optional<Key>();
        const auto step = static_cast<std::int64_t>(position);
        return std::optional<Key>(Key{0, {}, order_.descending ? last_ - step : first_ + step});
    }
    while (!total_ && counted_ <= position)
        if (!Count(archive, kCountStep)) return std::nullopt;
    if (position >= counted_) return std::optional<Key>();
    const std::size_t anchor = position / kStride;
    std::optional<Key> found = anchors_[anchor];
    const std::size_t steps = position - anchor * kStride;
    if (steps > 0 && !Walk(archive, anchors_[anchor], steps, false,
                           [&](const Key& key, std::int64_t, auto) { found = key; }))
        return std::nullopt;
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

}  // namespace

std::optional<std::vector<ArchivedRecord>> RecordCursor::Rows(Archive& archive, std::size_t first,
                                                              std::size_t count) {
    std::optional<Key> after;
    if (first > 0) {
        const auto key = KeyAt(archive, first - 1);
        if (!key) return std::nullopt;
        if (!*key) return std::vector<ArchivedRecord>();
        after = *key;
    }
    std::vector<ArchivedRecord> rows;
    std::vector<std::optional<std::int64_t>> times;
    const auto walked =
        Walk(archive, after, count, true, [&](const Key&, std::int64_t id, const Statement* row) {
            rows.push_back(RecordOf(id, *row, splicers_));
            times.push_back(row->IsNull(4) ? std::nullopt : std::optional(row->Int(4)));
        });
    if (!walked) return std::nullopt;
    // The images of each dated row's time: a few index lookups for a screenful.
    Statement images(archive.db_,
                     "SELECT file_name, sha256 FROM images WHERE splicer_id = ?1 AND "
                     "splice_time = ?2 ORDER BY file_name, id");
    if (!images.ok()) {
        Fail(archive, "reading images", images.PrepareCode());
        return std::nullopt;
    }
    // Where each row was placed in its job, or that it is a test splice: two lookups
    // on primary keys a row.
    Statement placing(archive.db_,
                      "SELECT closures.name, trays.number, positions.number FROM placings "
                      "JOIN positions ON positions.id = placings.position_id "
                      "JOIN trays ON trays.id = positions.tray_id "
                      "JOIN closures ON closures.id = trays.closure_id "
                      "WHERE placings.record_id = ?1");
    Statement test(archive.db_, "SELECT 1 FROM test_splices WHERE record_id = ?1");
    if (!placing.ok() || !test.ok()) {
        Fail(archive, "reading placings",
             placing.ok() ? test.PrepareCode() : placing.PrepareCode());
        return std::nullopt;
    }
    for (ArchivedRecord& row : rows) {
        placing.Bind(1, row.id);
        int rc = placing.Step();
        if (rc == SQLITE_ROW) {
            row.closure = placing.Text(0);
            row.tray = static_cast<int>(placing.Int(1));
            row.position = static_cast<int>(placing.Int(2));
        }
        placing.Reset();
        test.Bind(1, row.id);
        const int tested = test.Step();
        row.testSplice = tested == SQLITE_ROW;
        test.Reset();
        if ((rc != SQLITE_ROW && rc != SQLITE_DONE) ||
            (tested != SQLITE_ROW && tested != SQLITE_DONE)) {
            Fail(archive, "reading placings", rc != SQLITE_ROW && rc != SQLITE_DONE ? rc : tested);
            return std::nullopt;
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!times[i]) continue;
        images.Bind(1, rows[i].splicerId);
        images.Bind(2, *times[i]);
        int rc;
        while ((rc = images.Step()) == SQLITE_ROW) {
            rows[i].images.push_back(images.Text(0));
            rows[i].imageDigests.push_back(images.Text(1));
        }
        images.Reset();
        if (rc != SQLITE_DONE) {
            Fail(archive, "reading images", rc);
            return std::nullopt;
        }
    }
    return rows;
}

bool RecordCursor::Each(Archive& archive, const std::function<bool(const ArchivedRecord&)>& take) {
    constexpr std::size_t kChunk = 4096;
    std::optional<Key> after;
    bool more = true;
    while (more) {
        std::size_t visited = 0;
        bool wanted = true;
        const auto walked = Walk(archive, after, kChunk, true,
                                 [&](const Key& key, std::int64_t id, const Statement* row) {
                                     after = key;
                                     ++visited;
                                     if (wanted) wanted = take(RecordOf(id, *row, splicers_));
                                 });
        if (!walked) return false;
        more = wanted && visited == kChunk;
    }
    return true;
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
    std::vector<std::int64_t> ids;
    for (const auto& [from, to] : ranges) {
        if (to < from) continue;
        std::optional<Key> after;
        if (from > 0) {
            const auto key = KeyAt(archive, from - 1);
            if (!key) return std::nullopt;
            if (!*key) break;
            after = *key;
        }
        if (!Walk(archive, after, to - from + 1, false,
                  [&](const Key&, std::int64_t id, auto) { ids.push_back(id); }))
            return std::nullopt;
    }
    return ids;
}

bool RecordCursor::Before(const Key& a, const Key& b) const {
    if (a.part != b.part) return a.part < b.part;
    if (a.value != b.value) return order_.descending ? b.value < a.value : a.value < b.value;
    return order_.descending ? b.ordinal < a.ordinal : a.ordinal < b.ordinal;
}

std::optional<std::vector<std::size_t>> RecordCursor::Positions(Archive& archive,
                                                                std::span<const std::int64_t> ids) {
    std::optional<bool> counted;
    while ((counted = Count(archive, kCountStep)) && !*counted) {
    }
    if (!counted) return std::nullopt;
    std::vector<std::size_t> positions;
    if (empty_) return positions;
    Where where;
    RecordFilter withoutDates = filter_;
    withoutDates.from.reset();
    withoutDates.to.reset();
    AddFilter(where, withoutDates);
    where.Add("records.ordinal BETWEEN ? AND ?");
    where.values.emplace_back(first_);
    where.values.emplace_back(last_);
    where.Add("records.id = ?");
    Statement query(archive.db_,
                    "SELECT records.ordinal, records.splicer_id, records.job, records.result, "
                    "records.loss FROM records" +
                        where.sql);
    if (!query.ok()) {
        Fail(archive, "finding records", query.PrepareCode());
        return std::nullopt;
    }
    where.BindTo(query, 1);
    const int idAt = static_cast<int>(where.values.size()) + 1;
    for (const std::int64_t id : ids) {
        query.Bind(idAt, id);
        const int rc = query.Step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            Fail(archive, "finding records", rc);
            return std::nullopt;
        }
        if (rc == SQLITE_DONE) {
            query.Reset();
            continue;
        }
        Key key{0, {}, query.Int(0)};
        const bool noJob = query.IsNull(2);
        const std::int64_t splicer = query.Int(1);
        const auto part = std::find_if(parts_.begin(), parts_.end(), [&](const Part& p) {
            if (p.splicer) return *p.splicer == splicer;
            if (p.condition.empty()) return true;
            return (p.column == nullptr) == noJob;  // the runs without and with a job
        });
        const std::string_view column = part != parts_.end() && part->column ? part->column : "";
        if (column == "result") key.value = query.Int(3);
        if (column == "loss") key.value = query.Int(4);
        if (column == "job") key.value = query.Text(2);
        query.Reset();
        if (part == parts_.end()) continue;
        key.part = static_cast<int>(part - parts_.begin());
        if (Dense()) {
            positions.push_back(static_cast<std::size_t>(order_.descending ? last_ - key.ordinal
                                                                           : key.ordinal - first_));
            continue;
        }
        // The last kept key not after it, then on from there to it.
        const auto next =
            std::upper_bound(anchors_.begin(), anchors_.end(), key,
                             [this](const Key& a, const Key& b) { return Before(a, b); });
        if (next == anchors_.begin()) continue;
        const auto anchor = static_cast<std::size_t>(next - anchors_.begin() - 1);
        std::size_t position = anchor * kStride;
        bool found = anchors_[anchor].ordinal == key.ordinal;
        if (!found &&
            !Walk(archive, anchors_[anchor], kStride, false, [&](const Key& k, std::int64_t, auto) {
                if (found) return;
                ++position;
                found = k.ordinal == key.ordinal;
            }))
            return std::nullopt;
        if (found) positions.push_back(position);
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

}  // namespace velmora::archive
