// Sending to a team archive and reading from one: the marks of what was sent and read,
// and the rows that wait above them.
#include <algorithm>

#include "archive/archive.h"
#include "archive/archive_sql.h"
#include "archive/database.h"

namespace velmora::archive {
namespace {

using std::chrono::sys_seconds;

// The rows `sql` selects above `after` (?1), at most `limit` (?2), each made by `read`
// after its id, serial number, folder and time of storing (the first four columns).
template <class Row, class Read>
std::vector<Row> RowsToSend(sqlite3* db, const std::string& sql, std::int64_t after,
                            std::size_t limit, Read read) {
    db::Statement query(db, sql, after, static_cast<std::int64_t>(limit));
    std::vector<Row> rows;
    while (query.Next()) {
        Row& row = rows.emplace_back();
        row.id = query.Int(0);
        row.serialNumber = query.Text(1);
        row.device = query.Text(2);
        row.stored = sys_seconds{std::chrono::seconds{query.Int(3)}};
        read(query, row);
    }
    return rows;
}

}  // namespace

std::optional<OutboxMarks> Archive::SentMarks(std::string_view team) {
    return Run("reading what was sent", [&]() -> std::optional<OutboxMarks> {
        OutboxMarks marks;
        db::Statement query(db_, "SELECT kind, up_to FROM team_marks WHERE team = ?1", team);
        while (query.Next())
            if (query.Int(0) >= 0 && query.Int(0) < static_cast<std::int64_t>(kOutboxKinds))
                marks.upTo[static_cast<std::size_t>(query.Int(0))] = query.Int(1);
        if (const auto last =
                db::Statement(db_, "SELECT last_success FROM team_sends WHERE team = ?1", team)
                    .Single())
            marks.lastSuccess = sys_seconds{std::chrono::seconds{*last}};
        return marks;
    });
}

std::optional<OutboxCounts> Archive::Waiting(const OutboxCounts& upTo) {
    return Run("counting what waits to be sent", [&]() -> std::optional<OutboxCounts> {
        const std::string kCount[kOutboxKinds] = {
            "SELECT count(*) FROM records WHERE id > ?1 AND " + sql::NotReceivedSql(0, "id"),
            "SELECT count(*) FROM images WHERE id > ?1 AND " + sql::NotReceivedSql(1, "id"),
            "SELECT count(*) FROM snapshots WHERE id > ?1",
            "SELECT count(*) FROM job_changes WHERE id > ?1 AND laptop = ''"};
        OutboxCounts counts{};
        for (std::size_t kind = 0; kind < kOutboxKinds; ++kind)
            counts[kind] = db::Statement(db_, kCount[kind], upTo[kind]).Single().value_or(0);
        return counts;
    });
}

std::optional<std::vector<OutboxRecord>> Archive::RecordsToSend(std::int64_t after,
                                                                std::size_t limit) {
    return Run("reading records to send", [&]() -> std::optional<std::vector<OutboxRecord>> {
        return RowsToSend<OutboxRecord>(
            db_,
            "SELECT records.id, splicers.serial, splicers.folder, records.downloaded, "
            "records.bytes FROM records JOIN splicers ON splicers.id = records.splicer_id "
            "WHERE records.id > ?1 AND " +
                sql::NotReceivedSql(0, "records.id") + " ORDER BY records.id LIMIT ?2",
            after, limit, [](const db::Statement& query, OutboxRecord& row) {
                const auto bytes = query.Blob(4);
                std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize),
                            row.record.bytes.begin());
            });
    });
}

std::optional<std::vector<OutboxImage>> Archive::ImagesToSend(std::int64_t after,
                                                              std::size_t limit) {
    return Run("reading images to send", [&]() -> std::optional<std::vector<OutboxImage>> {
        return RowsToSend<OutboxImage>(
            db_,
            "SELECT images.id, splicers.serial, splicers.folder, images.stored, images.stamp, "
            "images.file_name, images.size, images.sha256 FROM images "
            "JOIN splicers ON splicers.id = images.splicer_id "
            "WHERE images.id > ?1 AND " +
                sql::NotReceivedSql(1, "images.id") + " ORDER BY images.id LIMIT ?2",
            after, limit, [](const db::Statement& query, OutboxImage& row) {
                row.stamp = query.Text(4);
                row.fileName = query.Text(5);
                row.size = static_cast<std::uint64_t>(query.Int(6));
                row.sha256 = query.Text(7);
            });
    });
}

std::optional<std::vector<OutboxSnapshot>> Archive::SnapshotsToSend(std::int64_t after,
                                                                    std::size_t limit) {
    return Run("reading parameter snapshots to send",
               [&]() -> std::optional<std::vector<OutboxSnapshot>> {
                   auto rows = RowsToSend<OutboxSnapshot>(
                       db_,
                       "SELECT snapshots.id, splicers.serial, splicers.folder, snapshots.taken, "
                       "snapshots.reason FROM snapshots "
                       "JOIN splicers ON splicers.id = snapshots.splicer_id "
                       "WHERE snapshots.id > ?1 ORDER BY snapshots.id LIMIT ?2",
                       after, limit, [](const db::Statement& query, OutboxSnapshot& row) {
                           row.reason = query.Text(4);
                       });
                   db::Statement groups(db_,
                                        "SELECT kind, bytes FROM snapshot_groups "
                                        "WHERE snapshot_id = ?1 ORDER BY kind");
                   for (OutboxSnapshot& row : rows) {
                       groups.Again(row.id);
                       while (groups.Next()) {
                           const auto bytes = groups.Blob(1);
                           if (const auto kind = RecordNumbered(static_cast<int>(groups.Int(0))))
                               row.groups.push_back({*kind, {bytes.begin(), bytes.end()}});
                       }
                   }
                   return rows;
               });
}

bool Archive::MarkSent(std::string_view team, OutboxKind kind, std::int64_t upTo) {
    return Run("keeping what was sent", [&] {
        db::Statement(db_,
                      "INSERT INTO team_marks(team, kind, up_to) VALUES(?1, ?2, ?3) "
                      "ON CONFLICT(team, kind) DO UPDATE SET up_to = max(up_to, excluded.up_to)",
                      team, static_cast<std::int64_t>(kind), upTo)
            .Run();
        return true;
    });
}

bool Archive::MarkSendComplete(std::string_view team) {
    return Run("keeping the time of the send", [&] {
        db::Statement(db_, "INSERT OR REPLACE INTO team_sends(team, last_success) VALUES(?1, ?2)",
                      team, static_cast<std::int64_t>(Now().time_since_epoch().count()))
            .Run();
        return true;
    });
}

std::optional<PullMark> Archive::PulledMark(std::string_view team, std::string_view scope) {
    return Run("reading what was read from the team archive", [&]() -> std::optional<PullMark> {
        db::Statement query(
            db_, "SELECT mark, pulled FROM team_pulls WHERE team = ?1 AND scope = ?2", team, scope);
        if (!query.Next()) return PullMark{};
        return PullMark{query.Text(0), sys_seconds{std::chrono::seconds{query.Int(1)}}};
    });
}

bool Archive::KeepPulledMark(std::string_view team, std::string_view scope, std::string_view mark) {
    return Run("keeping what was read from the team archive", [&] {
        db::Statement(db_,
                      "INSERT OR REPLACE INTO team_pulls(team, scope, mark, pulled) "
                      "VALUES(?1, ?2, ?3, ?4)",
                      team, scope, mark,
                      static_cast<std::int64_t>(Now().time_since_epoch().count()))
            .Run();
        return true;
    });
}

}  // namespace velmora::archive
