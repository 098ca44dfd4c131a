// The records of the archive: a download stored (each record once, in the archive's
// order) and the records a filter takes read back.
#include <algorithm>
#include <utility>

#include "archive/archive.h"
#include "archive/archive_order.h"
#include "archive/archive_splicers.h"
#include "archive/archive_sql.h"
#include "archive/database.h"
#include "archive/splice_time.h"

namespace velmora::archive {
namespace {

using std::chrono::sys_seconds;

// ---- storing a download ----

// A page cache of 16 MB instead of SQLite's 2 while many records are read or
// stored: read in time order through an index, each row's page is then found in
// memory instead of read and decoded again (100,000 records four times faster);
// stored, the index pages a download changes stay in memory until its commit
// instead of being written out and read again. Given back after, so that a
// long-running window does not keep it.
class LargePageCache {
  public:
    explicit LargePageCache(sqlite3* db) : db_(db) {
        sqlite3_exec(db_, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
    }
    ~LargePageCache() { sqlite3_exec(db_, "PRAGMA cache_size=-2000", nullptr, nullptr, nullptr); }
    LargePageCache(const LargePageCache&) = delete;
    LargePageCache& operator=(const LargePageCache&) = delete;

  private:
    sqlite3* db_;
};

using TimedRecords = std::vector<std::pair<std::optional<std::int64_t>, const SpliceRecord*>>;

// The records by splice time, the undated after, each kept in the order it came: the
// records of one second are then numbered in the order they came.
TimedRecords BySpliceTime(std::span<const SpliceRecord> records) {
    TimedRecords timed;
    timed.reserve(records.size());
    for (const SpliceRecord& record : records) timed.emplace_back(SpliceTime(record), &record);
    std::stable_sort(timed.begin(), timed.end(), [](const auto& x, const auto& y) {
        if (x.first.has_value() != y.first.has_value()) return x.first.has_value();
        return x.first && *x.first < *y.first;
    });
    return timed;
}

// The records new to the splicer's row, stored in one pass: how many, and the id of
// the first. `adoptFrom`: the row of unknown serial number whose records that are
// the splicer's move to it (keeping their id and job) instead of being new.
std::pair<std::size_t, std::optional<std::int64_t>> InsertRecords(
    sqlite3* db, std::int64_t splicer, std::optional<std::int64_t> adoptFrom,
    const TimedRecords& timed, std::string_view job, sys_seconds now) {
    db::Statement adopt(db,
                        "UPDATE OR IGNORE records SET splicer_id = ?1 "
                        "WHERE splicer_id = ?2 AND bytes = ?3");
    db::Statement insert(db,
                         "INSERT INTO records(splicer_id, bytes, splice_time, downloaded, job, "
                         "result, loss, angle, ordinal) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
                         "ON CONFLICT(splicer_id, bytes) DO NOTHING");
    std::size_t added = 0;
    std::optional<std::int64_t> firstNew;
    for (const auto& [time, record] : timed) {
        if (adoptFrom) adopt.Again(splicer, *adoptFrom, record->bytes).Run();
        const std::size_t stored =
            insert
                .Again(splicer, record->bytes, time, now.time_since_epoch().count(),
                       db::NullIfEmpty(job), std::int64_t{record->result()},
                       std::int64_t{record->loss()},
                       std::int64_t{std::max(record->lfAngle(), record->rfAngle())},
                       order::OrdinalOf(time))
                .Run();
        if (stored > 0) {
            ++added;
            if (!firstNew) firstNew = insert.InsertedId();
        }
    }
    return {added, firstNew};
}

}  // namespace

StoreResult Archive::StoreDownload(const SplicerIdentity& splicer,
                                   std::span<const SpliceRecord> records, std::string_view job,
                                   bool adoptUnknownSerial) {
    return Write("storing the download", [&]() -> StoreResult {
        if (auto problem = SplicerProblem(splicer))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        const sys_seconds now = Now();
        const LargePageCache cache(db_);
        db::Transaction tx(db_);
        const SplicerRow row = TouchSplicer(db_, splicer, now);
        const auto [added, firstNew] =
            InsertRecords(db_, row.id, adoptUnknownSerial ? row.unknownSerial : std::nullopt,
                          BySpliceTime(records), job, now);
        if (added > 0) {
            db::Statement(db_, sql::JobRowsSql("SELECT ?1"), db::NullIfEmpty(job)).Run();
            // The job the new records were given.
            db::Statement(db_, sql::RecordJobLogSql("r.id >= ?1 AND r.job IS NOT NULL"), *firstNew)
                .Run();
        }
        tx.Commit();
        return {added, 0, {}};
    });
}

// ---- reading records ----

namespace {

// The images the records a filter takes can be tied to (same splicer, same second),
// in time order, to be walked beside the records: far fewer than the records, and a
// lookup for every record would cost more than the records themselves.
struct TimedImage {
    std::int64_t splicer;
    std::int64_t time;
    std::string name;
};
std::vector<TimedImage> ReadTimedImages(sqlite3* db, const RecordFilter& filter) {
    sql::Where where;
    sql::AddSplicersAndDays(where, filter, "images");
    where.Add("images.splice_time IS NOT NULL");
    db::Statement query(db, "SELECT splicer_id, splice_time, file_name FROM images" + where.sql +
                                " ORDER BY splice_time, file_name");
    where.BindTo(query, 1);
    std::vector<TimedImage> images;
    while (query.Next()) images.push_back({query.Int(0), query.Int(1), query.Text(2)});
    return images;
}

std::size_t CountRecords(sqlite3* db, const RecordFilter& filter) {
    const sql::Where where = sql::FilterWhere(filter);
    db::Statement count(db, "SELECT count(*) FROM records" + where.sql);
    where.BindTo(count, 1);
    return static_cast<std::size_t>(count.Single().value_or(0));
}

void RefuseBadFilter(const RecordFilter& filter) {
    if (auto problem = sql::FilterProblem(filter))
        throw ArchiveError{ErrorCode::InvalidArgument, *problem};
}

}  // namespace

std::optional<std::vector<ArchivedRecord>> Archive::Records(const RecordFilter& filter) {
    return Run("reading records", [&]() -> std::optional<std::vector<ArchivedRecord>> {
        RefuseBadFilter(filter);
        const std::vector<TimedImage> images = ReadTimedImages(db_, filter);
        const LargePageCache cache(db_);
        // Counted first (a small part of the reading) so that the list is made once:
        // growing it copies every record taken so far.
        std::vector<ArchivedRecord> out;
        out.reserve(CountRecords(db_, filter));
        // The records come in the archive's order, the dated by time: each takes the
        // images of its splicer and second, walked from `nextImage` on.
        std::size_t nextImage = 0;
        const bool read = ForEachRecord(filter, [&](const ArchivedRecord& record) {
            ArchivedRecord& r = out.emplace_back(record);
            if (r.ordinal >= order::kUndated) return true;
            const std::int64_t time = order::TimeOf(r.ordinal);
            while (nextImage < images.size() && images[nextImage].time < time) ++nextImage;
            for (std::size_t i = nextImage; i < images.size() && images[i].time == time; ++i)
                if (images[i].splicer == r.splicerId) r.images.push_back(images[i].name);
            return true;
        });
        if (!read) throw ArchiveError(lastError_);
        return out;
    });
}

std::optional<SpliceSpan> Archive::SpliceTimes(const RecordFilter& filter) {
    return Run("reading the first and last splice time", [&]() -> std::optional<SpliceSpan> {
        RefuseBadFilter(filter);
        // For each splicer, each a query of its own: SQLite seeks one end of the
        // splicer's ordinal index for a lone min() or max(), but scans for the two
        // together. The ordinal holds the time.
        sql::Where where = sql::FilterWhere(filter);
        where.Add("records.ordinal < ?");
        where.values.emplace_back(order::kUndated);
        where.Add("records.splicer_id = splicers.id");
        db::Statement query(db_,
                            "SELECT min(first), max(last) FROM (SELECT (SELECT min(ordinal) "
                            "FROM records" +
                                where.sql +
                                ") AS first, (SELECT max(ordinal) "
                                "FROM records" +
                                where.sql + ") AS last FROM splicers)");
        where.BindTo(query, 1);
        where.BindTo(query, 1 + static_cast<int>(where.values.size()));
        query.Next();
        auto time = [&](int column) -> std::optional<std::chrono::local_seconds> {
            if (query.IsNull(column)) return std::nullopt;
            return LocalTimeOf(order::TimeOf(query.Int(column)));
        };
        return SpliceSpan{time(0), time(1)};
    });
}

}  // namespace velmora::archive
