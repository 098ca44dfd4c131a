#pragma once
// The SQL the archive's files share: the WHERE clause of a record filter, the log
// of a record's job, the rule that every job name has its jobs row, and a splicer's
// name. Internal to the archive and the stores kept in its file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_order.h"
#include "archive/database.h"
#include "archive/splice_time.h"
#include "base/text_codec.h"

namespace velmora::archive {

// What the job log's triggers ask the connection: the time and author of a change,
// new ids, and whether the change is a pulled one being applied (not logged again).
struct ChangeContext {
    Clock clock;
    std::string author;
    bool applying = false;
};

}  // namespace velmora::archive

namespace velmora::archive::sql {

// Logs the job each record `condition` selects (over `r`) now has: its job's id, as
// every parent is logged. Every writer of records.job calls it after its update
// (a trigger on records would make each insert of a download several times slower);
// renaming a job changes no record's job.
inline std::string RecordJobLogSql(std::string_view condition) {
    return "INSERT INTO job_changes(kind, entity, field, value, changed_at, author) "
           "SELECT 'record', i.identity, 'job', (SELECT uuid FROM jobs WHERE name = r.job), "
           "velmora_now(), velmora_author() "
           "FROM records r JOIN record_identities i ON i.id = r.id "
           "WHERE velmora_applying() = 0 AND (" +
           std::string(condition) + ") ORDER BY r.id";
}

// Every job name a record carries has its row in jobs: each writer of records.job
// makes the rows of the names it gives (a trigger would too, but makes storing a
// download seven times slower). `names` selects the names, one column, NULL for
// none; the new rows are made in the order of their names.
inline std::string JobRowsSql(std::string_view names) {
    return "WITH given(name) AS (" + std::string(names) +
           ") INSERT OR IGNORE INTO jobs(name) "
           "SELECT DISTINCT name FROM given WHERE name IS NOT NULL ORDER BY name";
}

// A splicer's name over its row in `table` (as SplicerDisplayName).
inline std::string SplicerNameSql(std::string_view table) {
    const std::string t(table);
    return "coalesce(nullif(" + t + ".serial, ''), " + t + ".folder)";
}

// Rows of `kind` (0 records, 1 images) read from a team archive are not this archive's
// to send: true for the row whose id is `id` unless it is one of them.
inline std::string NotReceivedSql(int kind, std::string_view id) {
    const std::string row(id);
    return "coalesce((SELECT t.last FROM team_received t WHERE t.kind = " + std::to_string(kind) +
           " AND t.first <= " + row + " ORDER BY t.first DESC LIMIT 1) < " + row + ", 1)";
}

// The WHERE clause of a record filter over `records`, and the values it binds in order.
struct Where {
    std::string sql;
    std::vector<std::variant<std::int64_t, std::string, std::nullptr_t>> values;

    void Add(std::string_view condition) {
        sql += sql.empty() ? " WHERE " : " AND ";
        sql += condition;
    }
    void BindTo(db::Statement& stmt, int first) const {
        for (std::size_t i = 0; i < values.size(); ++i)
            std::visit([&](const auto& value) { stmt.Set(first + static_cast<int>(i), value); },
                       values[i]);
    }
};

// The splicers of a filter over `table` (records, images or snapshots, which all
// have a splicer_id column).
inline void AddSplicers(Where& where, const std::optional<std::string>& device,
                        const std::optional<std::int64_t>& splicer, std::string_view table) {
    const std::string t(table);
    if (device) {
        where.Add(t + ".splicer_id IN (SELECT id FROM splicers WHERE serial = ? OR folder = ?)");
        where.values.emplace_back(*device);
        where.values.emplace_back(*device);
    }
    if (splicer) {
        where.Add(t + ".splicer_id = ?");
        where.values.emplace_back(*splicer);
    }
}

// The splicers and days of a filter over images (splicer_id and splice_time).
inline void AddSplicersAndDays(Where& where, const RecordFilter& filter, std::string_view table) {
    const std::string t(table);
    AddSplicers(where, filter.device, filter.splicer, table);
    if (filter.from) {
        where.Add(t + ".splice_time >= ?");
        where.values.emplace_back(DayStart(*filter.from));
    }
    if (filter.to) {
        where.Add(t + ".splice_time <= ?");
        where.values.emplace_back(DayEnd(*filter.to));
    }
}

// The ordinals of the records a filter's days take, both inclusive (none: the filter
// has no dates). The ordinal holds the splice time (archive_order.h), so days are a
// range of ordinals, read through the indexes that every order already has: records
// keep no index of their splice time, which each store would have to update across
// the whole archive. Undated records fall in no date range.
inline std::optional<order::Slot> DayOrdinals(const RecordFilter& filter) {
    if (!filter.from && !filter.to) return std::nullopt;
    return order::Slot{filter.from ? order::SlotOf(DayStart(*filter.from)).first : INT64_MIN,
                       filter.to ? order::SlotOf(DayEnd(*filter.to)).last : order::kUndated - 1};
}

// What a search (RecordFilter::search) finds, each from a small table and each taking
// the text as its one value: the jobs by name, the splicers by id, and the records
// placed in the closures found.
inline const std::string kSearchJobsSql = "SELECT name FROM jobs WHERE velmora_holds(name, ?)";
inline const std::string kSearchSplicersSql =
    "SELECT id FROM splicers WHERE velmora_holds(" + SplicerNameSql("splicers") + ", ?)";
inline const std::string kSearchPlacedSql =
    "SELECT placings.record_id FROM closures JOIN trays ON trays.closure_id = closures.id "
    "JOIN positions ON positions.tray_id = trays.id "
    "JOIN placings ON placings.position_id = positions.id WHERE velmora_holds(closures.name, ?)";

inline void AddFilter(Where& where, const RecordFilter& filter) {
    AddSplicers(where, filter.device, filter.splicer, "records");
    if (const auto days = DayOrdinals(filter)) {
        where.Add("records.ordinal BETWEEN ? AND ?");
        where.values.emplace_back(days->first);
        where.values.emplace_back(days->last);
    }
    if (filter.job) {
        if (filter.job->empty()) {
            where.Add("records.job IS NULL");
        } else {
            where.Add("records.job = ?");
            where.values.emplace_back(*filter.job);
        }
    }
    // The pass rule's verdict (Judge). Its first clause, the splicer's own result, is
    // the result column too, which its indexes hold: a listing by result then reads
    // only the run it wants.
    if (filter.result == Verdict::Failed) {
        where.Add("records.result > 0");
    } else if (filter.result) {
        where.Add("records.result = 0 AND velmora_verdict(records.bytes, ?, ?) = ?");
        where.values.emplace_back(std::int64_t{filter.limits.maxLoss});
        where.values.emplace_back(std::int64_t{filter.limits.maxAngle});
        where.values.emplace_back(static_cast<std::int64_t>(*filter.result));
    }
    // Each found set is read once into a table of its own, then looked up per record.
    if (!filter.search.empty()) {
        where.Add("(records.job IN (" + kSearchJobsSql + ") OR records.splicer_id IN (" +
                  kSearchSplicersSql + ") OR records.id IN (" + kSearchPlacedSql + "))");
        for (int i = 0; i < 3; ++i) where.values.emplace_back(filter.search);
    }
}

// The archive's order (archive_order.h): the ordinal, then the id, of the records
// `table` names (empty: unqualified), ascending or descending, for an ORDER BY.
inline std::string OrderSql(std::string_view table = "records", bool descending = false) {
    const std::string at = table.empty() ? std::string() : std::string(table) + ".";
    const char* direction = descending ? " DESC" : "";
    return at + "ordinal" + direction + ", " + at + "id" + direction;
}
// A record's place in that order, as a row value to compare: "(t.ordinal, t.id)".
inline std::string PlaceSql(std::string_view table = "records") {
    return "(" + std::string(table) + ".ordinal, " + std::string(table) + ".id)";
}

// The archive keeps its order (ordinal, then id) in indexes led by the splicer only:
// an index in the order of the whole archive takes a page write for nearly every
// record a download stores into the middle of a large archive, where one led by the
// splicer takes a few for that splicer's download. A listing in the whole archive's
// order is then one SELECT per splicer joined by UNION ALL, each reading `index` in
// the order the caller's ORDER BY asks (of the result columns, by number): SQLite
// merges such arms a row at a time, without sorting, and stops at the LIMIT. The
// text of those arms over `where` (each adds its splicer), their values added to
// `bound`. None: one SELECT that finds no row.
inline constexpr std::size_t kMostArms = 500;  // SQLite's bound on a compound SELECT
inline std::string EachSplicerSql(std::string_view columns, std::string_view index,
                                  const Where& where, std::span<const std::int64_t> splicers,
                                  Where& bound) {
    const std::string select = "SELECT " + std::string(columns) + " FROM records";
    const auto add = [&](const Where& arm) {
        bound.values.insert(bound.values.end(), arm.values.begin(), arm.values.end());
    };
    if (splicers.empty()) return select + " WHERE 0";
    // Past SQLite's bound, one SELECT that SQLite sorts: slower, the same rows.
    if (splicers.size() > kMostArms) {
        add(where);
        return select + where.sql;
    }
    std::string text;
    for (const std::int64_t splicer : splicers) {
        Where arm = where;
        arm.Add("records.splicer_id = ?");
        arm.values.emplace_back(splicer);
        if (!text.empty()) text += " UNION ALL ";
        text += select + " INDEXED BY " + std::string(index) + arm.sql;
        add(arm);
    }
    return text;
}

inline Where FilterWhere(const RecordFilter& filter) {
    Where where;
    AddFilter(where, filter);
    return where;
}

inline std::optional<std::string> FilterProblem(const RecordFilter& filter) {
    if ((filter.from && !filter.from->ok()) || (filter.to && !filter.to->ok()))
        return "a date of the filter is not a real date";
    if (!IsValidUtf8(filter.search)) return "the search text is not valid UTF-8";
    return std::nullopt;
}

}  // namespace velmora::archive::sql
