// The records of the archive: a download stored (each record once, in the archive's
// order) and the records a filter takes read back.
#include <algorithm>
#include <unordered_map>
#include <utility>

#include "archive/archive.h"
#include "archive/archive_splicers.h"
#include "archive/archive_sql.h"
#include "archive/database.h"
#include "archive/splice_time.h"

namespace velmora::archive {
namespace {

using std::chrono::sys_seconds;

// ---- the archive's order: records.ordinal, by splice time, the undated last ----

// Gives the records from `firstNew` on (just stored, without an ordinal) their place in
// the archive's order, and moves the records after the earliest of them on. A download
// newer than everything archived (the usual case) numbers only its own records.
void NumberNewRecords(sqlite3* db, std::int64_t firstNew) {
    // The earliest new record: dated ones come before the undated.
    db::Statement earliest(db,
                           "SELECT splice_time, id FROM records WHERE id >= ?1 "
                           "ORDER BY splice_time IS NULL, splice_time, id LIMIT 1",
                           firstNew);
    if (!earliest.Next()) return;
    const bool dated = !earliest.IsNull(0);
    const std::int64_t time = earliest.Int(0);
    const std::int64_t id = earliest.Int(1);
    // The ordinal of the last record before it: the records before it keep theirs.
    const std::int64_t base =
        dated ? db::Statement(db,
                              "SELECT ordinal FROM records WHERE splice_time IS NOT NULL AND "
                              "(splice_time, id) < (?1, ?2) "
                              "ORDER BY splice_time DESC, id DESC LIMIT 1",
                              time, id)
                    .Single()
                    .value_or(0)
              : db::Statement(db, "SELECT max(ordinal) FROM records").Single().value_or(0);
    db::Statement(
        db,
        "UPDATE records SET ordinal = ranked.n FROM ("
        "SELECT id, ?1 + row_number() OVER (ORDER BY splice_time IS NULL, splice_time, id) AS n "
        "FROM (SELECT id, splice_time FROM records "
        "WHERE ?2 AND splice_time IS NOT NULL AND (splice_time, id) >= (?3, ?4) "
        "UNION ALL SELECT id, splice_time FROM records WHERE splice_time IS NULL AND id >= ?5)"
        ") AS ranked "
        "WHERE records.id = ranked.id AND records.ordinal IS NOT ranked.n",
        base, std::int64_t{dated}, time, id, dated ? 0 : id)
        .Run();
}

// The ordinal the first record of a download whose earliest splice time is `earliest`
// gets when the download goes after everything archived (no undated record archived,
// and nothing archived later than it); nothing when records must be moved on after it.
std::optional<std::int64_t> NextOrdinal(sqlite3* db, std::optional<std::int64_t> earliest) {
    db::Statement ends(db,
                       "SELECT (SELECT max(splice_time) FROM records), "
                       "EXISTS (SELECT 1 FROM records WHERE splice_time IS NULL), "
                       "(SELECT max(ordinal) FROM records)");
    ends.Next();
    if (ends.Int(1) != 0) return std::nullopt;
    if (!ends.IsNull(0) && earliest && *earliest < ends.Int(0)) return std::nullopt;
    return ends.Int(2) + 1;
}

// ---- storing a download ----

using TimedRecords = std::vector<std::pair<std::optional<std::int64_t>, const SpliceRecord*>>;

// The records by splice time, the undated after, each kept in the order it came: a
// download newer than everything archived is then numbered as it is stored.
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
                         "result, loss, ordinal) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) "
                         "ON CONFLICT(splicer_id, bytes) DO NOTHING");
    std::optional<std::int64_t> ordinal =
        NextOrdinal(db, timed.empty() ? std::nullopt : timed.front().first);
    std::size_t added = 0;
    std::optional<std::int64_t> firstNew;
    for (const auto& [time, record] : timed) {
        if (adoptFrom) adopt.Again(splicer, *adoptFrom, record->bytes).Run();
        const std::size_t stored =
            insert
                .Again(splicer, record->bytes, time, now.time_since_epoch().count(),
                       db::NullIfEmpty(job), std::int64_t{record->result()},
                       std::int64_t{record->loss()}, ordinal)
                .Run();
        if (stored > 0) {
            ++added;
            if (ordinal) ++*ordinal;
            if (!firstNew) firstNew = insert.InsertedId();
        }
    }
    if (firstNew && !ordinal) NumberNewRecords(db, *firstNew);
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

// The splicers by id: a handful, read once instead of joined to every row.
struct SplicerNames {
    std::string folder;
    std::string serial;
};
std::unordered_map<std::int64_t, SplicerNames> ReadSplicerNames(sqlite3* db) {
    std::unordered_map<std::int64_t, SplicerNames> splicers;
    db::Statement query(db, "SELECT id, folder, serial FROM splicers");
    while (query.Next()) splicers[query.Int(0)] = {query.Text(1), query.Text(2)};
    return splicers;
}

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

// A page cache of 16 MB instead of SQLite's 2 while the records are read in time
// order through an index: each row's page is then found in memory instead of read
// and decoded again (100,000 records four times faster). Given back after, so that
// a long-running window does not keep it.
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

std::size_t CountRecords(sqlite3* db, const RecordFilter& filter) {
    const sql::Where where = sql::FilterWhere(filter);
    db::Statement count(db, "SELECT count(*) FROM records" + where.sql);
    where.BindTo(count, 1);
    return static_cast<std::size_t>(count.Single().value_or(0));
}

// Reads the dated records the filter takes by time through the time index, or the
// undated ones in the order they were stored, onto `out`. A dated record gets the
// images of its time, walked from `nextImage` on.
void ReadRecordRows(sqlite3* db, const RecordFilter& filter, bool dated,
                    std::unordered_map<std::int64_t, SplicerNames>& splicers,
                    const std::vector<TimedImage>& images, std::size_t& nextImage,
                    std::vector<ArchivedRecord>& out) {
    sql::Where where = sql::FilterWhere(filter);
    where.Add(dated ? "records.splice_time IS NOT NULL" : "records.splice_time IS NULL");
    db::Statement query(
        db, "SELECT id, splicer_id, splice_time, bytes, job, downloaded FROM records" + where.sql +
                (dated ? " ORDER BY splice_time, id" : " ORDER BY id"));
    where.BindTo(query, 1);
    while (query.Next()) {
        ArchivedRecord& r = out.emplace_back();
        r.id = query.Int(0);
        const std::int64_t splicer = query.Int(1);
        r.splicerId = splicer;
        r.device = splicers[splicer].folder;
        r.serialNumber = splicers[splicer].serial;
        const auto bytes = query.Blob(3);
        std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), r.record.bytes.begin());
        r.job = query.Text(4);
        r.firstDownloaded = sys_seconds{std::chrono::seconds{query.Int(5)}};
        if (!dated) continue;
        const std::int64_t time = query.Int(2);
        while (nextImage < images.size() && images[nextImage].time < time) ++nextImage;
        for (std::size_t i = nextImage; i < images.size() && images[i].time == time; ++i)
            if (images[i].splicer == splicer) r.images.push_back(images[i].name);
    }
}

void RefuseBadFilter(const RecordFilter& filter) {
    if (auto problem = sql::FilterProblem(filter))
        throw ArchiveError{ErrorCode::InvalidArgument, *problem};
}

}  // namespace

std::optional<std::vector<ArchivedRecord>> Archive::Records(const RecordFilter& filter) {
    return Run("reading records", [&]() -> std::optional<std::vector<ArchivedRecord>> {
        RefuseBadFilter(filter);
        auto splicers = ReadSplicerNames(db_);
        const std::vector<TimedImage> images = ReadTimedImages(db_, filter);
        const LargePageCache cache(db_);
        // Counted first (through the same index, a small part of the reading) so that
        // the list is made once: growing it copies every record taken so far.
        std::vector<ArchivedRecord> out;
        out.reserve(CountRecords(db_, filter));
        std::size_t nextImage = 0;
        ReadRecordRows(db_, filter, true, splicers, images, nextImage, out);
        // Undated records fall in no date range.
        if (!filter.from && !filter.to)
            ReadRecordRows(db_, filter, false, splicers, images, nextImage, out);
        return out;
    });
}

std::optional<SpliceSpan> Archive::SpliceTimes(const RecordFilter& filter) {
    return Run("reading the first and last splice time", [&]() -> std::optional<SpliceSpan> {
        RefuseBadFilter(filter);
        // Each a query of its own: SQLite seeks one end of the time index for a lone
        // min() or max(), but scans for the two together.
        const sql::Where where = sql::FilterWhere(filter);
        db::Statement query(db_, "SELECT (SELECT min(splice_time) FROM records" + where.sql +
                                     "), (SELECT max(splice_time) FROM records" + where.sql + ")");
        where.BindTo(query, 1);
        where.BindTo(query, 1 + static_cast<int>(where.values.size()));
        query.Next();
        auto time = [&](int column) -> std::optional<std::chrono::local_seconds> {
            if (query.IsNull(column)) return std::nullopt;
            return LocalTimeOf(query.Int(column));
        };
        return SpliceSpan{time(0), time(1)};
    });
}

}  // namespace velmora::archive
