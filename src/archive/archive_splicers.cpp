// The splicers of the archive: found, added and marked seen by the writers, and listed.
#include "archive/archive_splicers.h"

#include "archive/archive_sql.h"
#include "archive/database.h"
#include "settings/device_folder.h"

namespace velmora::archive {

std::optional<std::string> SplicerProblem(const SplicerIdentity& splicer) {
    const std::string& name = splicer.folderName;
    if (name.empty() || SafeFolderName(name) != name)
        return "the splicer's folder name \"" + name + "\" is not a safe folder name";
    return std::nullopt;
}

SplicerRow TouchSplicer(sqlite3* db, const SplicerIdentity& splicer, std::chrono::sys_seconds now) {
    const bool known = !splicer.serialNumber.empty();
    const std::optional<std::int64_t> folderRow =
        db::Statement(db, "SELECT id FROM splicers WHERE serial = '' AND folder = ?1",
                      splicer.folderName)
            .Single();
    std::optional<std::int64_t> id = folderRow;
    if (known)
        id = db::Statement(db, "SELECT id FROM splicers WHERE serial = ?1", splicer.serialNumber)
                 .Single();
    const std::int64_t seen = now.time_since_epoch().count();
    if (id) {
        // The folder a splicer's files go to now, should its naming ever change.
        db::Statement(db,
                      "UPDATE splicers SET last_seen = max(last_seen, ?1), folder = ?2 "
                      "WHERE id = ?3",
                      seen, splicer.folderName, *id)
            .Run();
    } else {
        db::Statement insert(db,
                             "INSERT INTO splicers(folder, serial, first_seen, last_seen) "
                             "VALUES(?1, ?2, ?3, ?3)",
                             splicer.folderName, splicer.serialNumber, seen);
        insert.Run();
        id = insert.InsertedId();
    }
    return SplicerRow{*id, known ? folderRow : std::nullopt};
}

std::optional<std::vector<SplicerInfo>> Archive::Splicers() {
    return Run("reading splicers", [&]() -> std::optional<std::vector<SplicerInfo>> {
        db::Statement query(db_,
                            "SELECT id, folder, serial, first_seen, last_seen FROM splicers "
                            "ORDER BY serial = '', " +
                                sql::SplicerNameSql("splicers") + ", id");
        std::vector<SplicerInfo> out;
        while (query.Next())
            out.push_back({query.Int(0), query.Text(1), query.Text(2),
                           std::chrono::sys_seconds{std::chrono::seconds{query.Int(3)}},
                           std::chrono::sys_seconds{std::chrono::seconds{query.Int(4)}}});
        return out;
    });
}

}  // namespace velmora::archive
