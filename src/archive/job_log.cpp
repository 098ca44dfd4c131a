#include "archive/job_log.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <variant>

#include "archive/archive_sql.h"
#include "archive/change_order.h"
#include "archive/database.h"
#include "archive/record_identity.h"

namespace velmora::archive {

namespace {

using SqlValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

// Runs `sql` with `values` bound from ?1: the rows it changed.
std::size_t RunBound(sqlite3* db, const std::string& sql, const std::vector<SqlValue>& values) {
    db::Statement s(db, sql);
    for (std::size_t i = 0; i < values.size(); ++i)
        std::visit([&](const auto& value) { s.Set(static_cast<int>(i) + 1, value); }, values[i]);
    return s.Run();
}

std::optional<std::int64_t> Integer(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    try {
        return std::stoll(*text);
    } catch (...) {
        return std::nullopt;
    }
}

SqlValue IntegerOrNull(const std::optional<std::string>& text) {
    if (const auto i = Integer(text)) return *i;
    return nullptr;
}

SqlValue RealOrNull(const std::optional<std::string>& text) {
    if (!text || text->empty()) return nullptr;
    try {
        return std::stod(*text);
    } catch (...) {
        return nullptr;
    }
}

// The name given to an entity whose name its parent already gives another one.
std::string Apart(const std::string& name, const std::string& uuid) {
    return name + " (" + uuid.substr(0, 8) + ")";
}

// Writes the winning state of one entity into the job tables. A converged state is
// taken as it is, checked by the file's own constraints only: a record may sit on a
// position of another job, a position over its tray's capacity or on a fibre another
// position uses, and a closure, cable, tray or position deleted on one laptop goes
// with the records placed on it (they are unplaced). A name two laptops gave two
// different closures (or jobs, cables) of one parent is kept apart by the id's first
// digits; a tray or position number taken so is left to the one there first.
class Applier {
  public:
    Applier(sqlite3* db, std::string_view kind, const std::string& entity,
            const std::string& ownLaptop)
        : db_(db), entity_(entity) {
        db::Statement s(db_,
                        "SELECT field, value FROM job_changes WHERE kind = ?1 AND entity = ?2 "
                        "ORDER BY field, " +
                            LatestFirstSqlite(),
                        kind, entity);
        s.Set(9, ownLaptop);
        while (s.Next()) {
            std::optional<std::string> value;
            if (!s.IsNull(1)) value = s.Text(1);
            winners_.try_emplace(s.Text(0), std::move(value));
        }
    }

    // Whether the entity's row changed.
    bool Apply(std::string_view kind) {
        if (kind == "job") return Job();
        if (kind == "closure") return Closure();
        if (kind == "cable") return Cable();
        if (kind == "tray") return Tray();
        if (kind == "position") return Position();
        return Record();
    }

  private:
    bool Has(const char* name) const { return winners_.count(name) > 0; }
    std::optional<std::string> Field(const char* name) const {
        const auto it = winners_.find(name);
        return it == winners_.end() ? std::nullopt : it->second;
    }
    std::string Text(const char* name) const { return Field(name).value_or(""); }
    bool Deleted() const { return Text("deleted") == "1"; }

    std::optional<std::int64_t> IdOf(const char* table, const std::optional<std::string>& uuid) {
        if (!uuid) return std::nullopt;
        return db::Statement(db_, std::string("SELECT id FROM ") + table + " WHERE uuid = ?1",
                             *uuid)
            .Single();
    }

    void Run(const std::string& sql, const std::vector<SqlValue>& values) {
        changed_ = RunBound(db_, sql, values) > 0 || changed_;
    }

    using Columns = std::vector<std::pair<const char*, SqlValue>>;

    // The row of the entity in `table` made or brought to `columns`; false when a
    // unique name or number of its parent is taken by another row.
    bool Upsert(const char* table, const Columns& columns) {
        const std::optional<std::int64_t> id = IdOf(table, entity_);
        std::string sql;
        std::vector<SqlValue> values;
        if (id) {
            std::string differs;
            sql = std::string("UPDATE ") + table + " SET ";
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::string at = "?" + std::to_string(i + 1);
                sql += (i ? ", " : "") + std::string(columns[i].first) + " = " + at;
                differs += (i ? " OR " : "") + std::string(columns[i].first) + " IS NOT " + at;
                values.push_back(columns[i].second);
            }
            sql += " WHERE id = " + std::to_string(*id) + " AND (" + differs + ")";
        } else {
            std::string names = "uuid", marks = "?1";
            values.push_back(entity_);
            for (std::size_t i = 0; i < columns.size(); ++i) {
                names += std::string(", ") + columns[i].first;
                marks += ", ?" + std::to_string(i + 2);
                values.push_back(columns[i].second);
            }
            sql = std::string("INSERT INTO ") + table + "(" + names + ") VALUES(" + marks + ")";
        }
        try {
            changed_ = RunBound(db_, sql, values) > 0 || changed_;
        } catch (const db::Failure& f) {
            if (f.Code() == SQLITE_CONSTRAINT_UNIQUE) return false;
            throw;
        }
        return true;
    }

    // Upsert, with the name kept apart when its parent gives it to another entity.
    bool Named(const char* table, Columns columns) {
        if (Upsert(table, columns)) return true;
        for (auto& [column, value] : columns)
            if (std::string_view(column) == "name")
                value = Apart(std::get<std::string>(value), entity_);
        return Upsert(table, columns);
    }

    // A deleted entity: the records placed on it taken off (the positions a subquery
    // on positions p `unplaceWhere` selects), then the rows `deletes` name (its own last).
    bool Remove(std::optional<std::int64_t> id, const char* unplaceWhere,
                std::initializer_list<const char*> deletes) {
        if (!id) return false;
        Run(std::string("DELETE FROM placings WHERE position_id IN (SELECT p.id FROM "
                        "positions p ") +
                unplaceWhere + ")",
            {*id});
        for (const char* sql : deletes) Run(sql, {*id});
        changed_ = true;
        return true;
    }

    bool Job() {
        const std::string name = Text("name");
        if (Deleted() || name.empty()) return false;
        const std::optional<std::int64_t> id = IdOf("jobs", entity_);
        std::string before;
        if (id) {
            db::Statement s(db_, "SELECT name FROM jobs WHERE id = ?1", *id);
            if (s.Next()) before = s.Text(0);
        }
        if (!Named("jobs", {{"name", name},
                            {"customer", Text("customer")},
                            {"contractor", Text("contractor")},
                            {"technicians", Text("technicians")},
                            {"notes", Text("notes")},
                            {"max_loss", IntegerOrNull(Field("max_loss"))},
                            {"max_angle", IntegerOrNull(Field("max_angle"))}}))
            return changed_;
        // The records keep their job by name in the file: a renamed job takes them along.
        if (id && !before.empty())
            Run("UPDATE records SET job = (SELECT name FROM jobs WHERE id = ?1) WHERE job = ?2 "
                "AND ?2 <> (SELECT name FROM jobs WHERE id = ?1)",
                {*id, before});
        return changed_;
    }

    bool Closure() {
        if (Deleted()) {
            Remove(IdOf("closures", entity_),
                   "JOIN trays t ON t.id = p.tray_id WHERE t.closure_id = ?1",
                   {"DELETE FROM positions WHERE tray_id IN (SELECT id FROM trays WHERE "
                    "closure_id = ?1)",
                    "DELETE FROM closures WHERE id = ?1"});
            return changed_;
        }
        const auto job = IdOf("jobs", Field("job"));
        const SqlValue lat = RealOrNull(Field("latitude")), lon = RealOrNull(Field("longitude"));
        const bool point = !std::holds_alternative<std::nullptr_t>(lat) &&
                           !std::holds_alternative<std::nullptr_t>(lon);
        if (!job || Text("name").empty()) return false;
        Named("closures", {{"job_id", *job},
                           {"name", Text("name")},
                           {"location", Text("location")},
                           {"latitude", point ? lat : SqlValue(nullptr)},
                           {"longitude", point ? lon : SqlValue(nullptr)},
                           {"notes", Text("notes")}});
        return changed_;
    }

    bool Cable() {
        if (Deleted()) {
            Remove(IdOf("cables", entity_), "WHERE p.cable_a = ?1 OR p.cable_b = ?1",
                   {"DELETE FROM positions WHERE cable_a = ?1 OR cable_b = ?1",
                    "DELETE FROM cables WHERE id = ?1"});
            return changed_;
        }
        const auto closure = IdOf("closures", Field("closure"));
        const auto fibres = Integer(Field("fibres"));
        if (!closure || !fibres || Text("name").empty()) return false;
        Named("cables", {{"closure_id", *closure},
                         {"name", Text("name")},
                         {"fibres", *fibres},
                         {"per_tube", std::min(Integer(Field("per_tube")).value_or(12), *fibres)}});
        return changed_;
    }

    bool Tray() {
        if (Deleted()) {
            Remove(IdOf("trays", entity_), "WHERE p.tray_id = ?1",
                   {"DELETE FROM trays WHERE id = ?1"});
            return changed_;
        }
        const auto closure = IdOf("closures", Field("closure"));
        const auto number = Integer(Field("number")), capacity = Integer(Field("capacity"));
        if (!closure || !number || !capacity) return false;
        Upsert("trays", {{"closure_id", *closure}, {"number", *number}, {"capacity", *capacity}});
        return changed_;
    }

    bool Position() {
        if (Deleted()) {
            Remove(IdOf("positions", entity_), "WHERE p.id = ?1",
                   {"DELETE FROM positions WHERE id = ?1"});
            return changed_;
        }
        const auto tray = IdOf("trays", Field("tray"));
        const auto cableA = IdOf("cables", Field("cable_a"));
        const auto cableB = IdOf("cables", Field("cable_b"));
        const auto number = Integer(Field("number")), fibreA = Integer(Field("fibre_a")),
                   fibreB = Integer(Field("fibre_b"));
        if (!tray || !cableA || !cableB || !number || !fibreA || !fibreB) return false;
        Upsert("positions", {{"tray_id", *tray},
                             {"number", *number},
                             {"cable_a", *cableA},
                             {"fibre_a", *fibreA},
                             {"cable_b", *cableB},
                             {"fibre_b", *fibreB}});
        return changed_;
    }

    // A record: its job (by the job's id), its position and its test mark.
    bool Record() {
        const auto record = RecordOf(db_, entity_);
        if (!record) return false;
        if (Has("job")) {
            const std::optional<std::string> job = Field("job");
            // A job this archive does not hold (yet) leaves the record's job as it is.
            const std::optional<std::string> name = job ? JobName(*job) : std::nullopt;
            if (!job || name)
                Run("UPDATE records SET job = ?1 WHERE id = ?2 AND job IS NOT ?1",
                    {name ? SqlValue(*name) : SqlValue(nullptr), *record});
        }
        if (Has("position")) {
            if (const auto position = IdOf("positions", Field("position"))) {
                Run("INSERT INTO placings(record_id, position_id) VALUES(?1, ?2) "
                    "ON CONFLICT(record_id) DO UPDATE SET position_id = excluded.position_id "
                    "WHERE position_id IS NOT excluded.position_id",
                    {*record, *position});
            } else {
                Run("DELETE FROM placings WHERE record_id = ?1", {*record});
            }
        }
        if (Has("test")) {
            if (Text("test") == "1") {
                Run("INSERT OR IGNORE INTO test_splices(record_id) VALUES(?1)", {*record});
            } else {
                Run("DELETE FROM test_splices WHERE record_id = ?1", {*record});
            }
        }
        return changed_;
    }

    std::optional<std::string> JobName(const std::string& uuid) {
        db::Statement s(db_, "SELECT name FROM jobs WHERE uuid = ?1", uuid);
        if (s.Next()) return s.Text(0);
        return std::nullopt;
    }

  public:
    // The archive's record of a record's identity, if it holds it.
    static std::optional<std::int64_t> RecordOf(sqlite3* db, const std::string& entity) {
        const std::optional<RecordIdentity> identity = ParseRecordIdentity(entity);
        if (!identity) return std::nullopt;
        // The splicer first, then its record on (splicer_id, bytes): left to itself,
        // SQLite scans every record for the bytes.
        return db::Statement(db,
                             identity->bySerial
                                 ? "SELECT r.id FROM splicers s CROSS JOIN records r ON "
                                   "r.splicer_id = s.id WHERE r.bytes = ?1 AND s.serial = ?2 "
                                   "AND s.serial <> ''"
                                 : "SELECT r.id FROM splicers s CROSS JOIN records r ON "
                                   "r.splicer_id = s.id WHERE r.bytes = ?1 AND s.serial = '' "
                                   "AND s.folder = ?2",
                             std::span<const std::uint8_t>(identity->bytes), identity->name)
            .Single();
    }

  private:
    sqlite3* db_;
    const std::string& entity_;
    std::map<std::string, std::optional<std::string>> winners_;
    bool changed_ = false;
};

}  // namespace

JobLog::JobLog(Archive& archive, std::string ownLaptop)
    : archive_(archive), ownLaptop_(std::move(ownLaptop)) {}

JobLog::~JobLog() = default;

namespace {

std::int64_t HighestId(sqlite3* db, const char* table) {
    return db::Statement(db, std::string("SELECT coalesce(max(id), 0) FROM ") + table)
        .Single()
        .value_or(0);
}

}  // namespace

bool JobLog::BeginRead() {
    return archive_.Write("beginning a read of the team archive", [&] {
        sqlite3* db = archive_.Connection();
        auto read = std::make_unique<db::Transaction>(db);
        recordsBefore_ = HighestId(db, "records");
        imagesBefore_ = HighestId(db, "images");
        read_ = std::move(read);
        return true;
    });
}

bool JobLog::CommitRead() {
    // Committed here, or rolled back with it whatever happens.
    const std::unique_ptr<db::Transaction> read = std::move(read_);
    return archive_.Write("keeping what was read from the team archive", [&] {
        if (!read) throw std::logic_error("no read was begun");
        sqlite3* db = archive_.Connection();
        for (const auto& [table, kind, before] :
             {std::tuple("records", OutboxKind::Records, recordsBefore_),
              std::tuple("images", OutboxKind::Images, imagesBefore_)})
            db::Statement(db,
                          std::string("INSERT INTO team_received(kind, first, last) "
                                      "SELECT ?1, ?2 + 1, max(id) FROM ") +
                              table + " HAVING max(id) > ?2",
                          static_cast<std::int64_t>(kind), before)
                .Run();
        read->Commit();
        return true;
    });
}

std::optional<std::vector<JobChange>> JobLog::ToSend(std::int64_t after, std::size_t limit) {
    return archive_.Run("reading job changes to send", [&] {
        db::Statement s(archive_.Connection(),
                        "SELECT id, kind, entity, field, value, changed_at, author "
                        "FROM job_changes WHERE id > ?1 AND laptop = '' ORDER BY id LIMIT ?2",
                        after, static_cast<std::int64_t>(limit));
        std::optional<std::vector<JobChange>> rows(std::in_place);
        while (s.Next()) {
            JobChange& c = rows->emplace_back();
            c.id = c.originId = s.Int(0);
            c.kind = s.Text(1);
            c.entity = s.Text(2);
            c.field = s.Text(3);
            if (!s.IsNull(4)) c.value = s.Text(4);
            c.changedAt = s.Int(5);
            c.author = s.Text(6);
        }
        return rows;
    });
}

bool JobLog::Keep(std::span<const JobChange> changes) {
    return archive_.Write("keeping job changes from the team archive", [&] {
        sqlite3* db = archive_.Connection();
        db::Transaction tx(db);
        db::Statement own(db,
                          "UPDATE job_changes SET effective = ?1 "
                          "WHERE laptop = '' AND id = ?2 AND effective IS NOT ?1");
        db::Statement other(db,
                            "INSERT OR IGNORE INTO job_changes(kind, entity, field, value, "
                            "changed_at, author, laptop, origin_id, effective) "
                            "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        db::Statement note(db, "INSERT OR IGNORE INTO job_pending(kind, entity) VALUES(?1, ?2)");
        db::Statement held(db, "SELECT 1 FROM job_changes WHERE laptop = '' AND id = ?1");
        for (const JobChange& c : changes) {
            // This archive's own change comes back with its effective time; one it no
            // longer holds (restored from an older backup) is kept as another's.
            const bool mine =
                !ownLaptop_.empty() && c.laptop == ownLaptop_ && held.Again(c.originId).Next();
            const std::size_t kept =
                mine ? own.Again(c.effective.value_or(c.changedAt), c.originId).Run()
                     : other
                           .Again(c.kind, c.entity, c.field, c.value, c.changedAt, c.author,
                                  c.laptop, c.originId, c.effective)
                           .Run();
            if (kept > 0) note.Again(c.kind, c.entity).Run();
        }
        tx.Commit();
        return true;
    });
}

bool JobLog::MoveOwnAbove(std::int64_t sentUpTo, std::int64_t takenUpTo, std::string_view team) {
    return archive_.Write("numbering job changes after a restored backup", [&] {
        sqlite3* db = archive_.Connection();
        db::Transaction tx(db);
        // Through negative ids: no row meets another on the way.
        db::Statement(db, "UPDATE job_changes SET id = -(id + ?2 - ?1) WHERE id > ?1", sentUpTo,
                      takenUpTo)
            .Run();
        db::Execute(db, "UPDATE job_changes SET id = -id WHERE id < 0");
        // A new row takes the highest id plus one: when none moved, one held at the
        // team archive's mark keeps later ids above it (never sent, of no entity).
        db::Statement(db,
                      "INSERT INTO job_changes(id, kind, entity, field, value, changed_at, author) "
                      "SELECT ?1, 'job', '', 'restored', NULL, 0, '' "
                      "WHERE NOT EXISTS (SELECT 1 FROM job_changes WHERE id >= ?1)",
                      takenUpTo)
            .Run();
        if (!archive_.MarkSent(team, OutboxKind::JobChanges, takenUpTo)) throw archive_.LastError();
        tx.Commit();
        return true;
    });
}

std::optional<Applied> JobLog::Apply() {
    // Values written here are the log's own: the triggers do not log them again.
    struct Applying {
        Archive& archive;
        explicit Applying(Archive& a) : archive(a) { archive.SetApplyingChanges(true); }
        ~Applying() { archive.SetApplyingChanges(false); }
    } applying(archive_);
    return archive_.Write("applying job changes from the team archive", [&] {
        sqlite3* db = archive_.Connection();
        std::optional<Applied> applied(std::in_place);
        for (std::string_view kind : kChangeKinds) {
            while (true) {
                db::Transaction tx(db);
                std::vector<std::string> entities;
                db::Statement pending(
                    db, "SELECT entity FROM job_pending WHERE kind = ?1 LIMIT 500", kind);
                while (pending.Next()) entities.push_back(pending.Text(0));
                if (entities.empty()) break;
                db::Statement done(db, "DELETE FROM job_pending WHERE kind = ?1 AND entity = ?2");
                const std::size_t before = applied->changed;
                for (const std::string& entity : entities) {
                    // Each entity on its own: one the file's constraints refuse is undone alone.
                    db::Execute(db, "SAVEPOINT entity");
                    try {
                        applied->changed += Applier(db, kind, entity, ownLaptop_).Apply(kind);
                        db::Execute(db, "RELEASE entity");
                    } catch (const db::Failure& f) {
                        if ((f.Code() & 0xFF) != SQLITE_CONSTRAINT) throw;
                        db::Execute(db, "ROLLBACK TO entity; RELEASE entity");
                        applied->unapplied.push_back({std::string(kind), entity, f.Text()});
                    }
                    done.Again(kind, entity).Run();
                }
                // The last naming or placing cannot be undone over what others changed.
                if (applied->changed > before)
                    db::Execute(db, "DELETE FROM placing_undo; DELETE FROM naming_undo");
                tx.Commit();
            }
        }
        return applied;
    });
}

namespace {

// What an entity of `kind` is, for people, from its row as it is now (?1: its id, or
// a record's row): the job's, closure's or cable's name, the tray's or position's
// number, or the record's splicer and its place among that splicer's records (1 the
// oldest: the splice number the job's report gives it).
std::string EntityNameSql(std::string_view kind) {
    if (kind == "record")
        return "SELECT " + sql::SplicerNameSql("s") +
               " || ' #' || (SELECT count(*) FROM records o WHERE o.splicer_id = r.splicer_id "
               "AND " +
               sql::PlaceSql("o") + " <= " + sql::PlaceSql("r") +
               ") FROM records r JOIN splicers s ON s.id = r.splicer_id "
               "WHERE r.id = ?1";
    if (kind == "tray") return "SELECT number FROM trays WHERE uuid = ?1";
    if (kind == "position") return "SELECT number FROM positions WHERE uuid = ?1";
    if (kind == "closure") return "SELECT name FROM closures WHERE uuid = ?1";
    if (kind == "cable") return "SELECT name FROM cables WHERE uuid = ?1";
    return "SELECT name FROM jobs WHERE uuid = ?1";
}

}  // namespace

std::optional<std::vector<LostChange>> JobLog::History(std::string_view name) {
    return archive_.Run("reading the job's history", [&] {
        sqlite3* db = archive_.Connection();
        // The entities ever logged under the job, by the ids of their parents.
        db::Statement s(
            db,
            "WITH j(e) AS (SELECT uuid FROM jobs WHERE name = ?1), "
            "cl(e) AS (SELECT DISTINCT entity FROM job_changes "
            "          WHERE kind = 'closure' AND field = 'job' AND value IN (SELECT e FROM j)), "
            "ct(k, e) AS (SELECT DISTINCT kind, entity FROM job_changes "
            "             WHERE kind IN ('cable', 'tray') AND field = 'closure' "
            "               AND value IN (SELECT e FROM cl)), "
            "po(e) AS (SELECT DISTINCT entity FROM job_changes WHERE kind = 'position' "
            "          AND field = 'tray' AND value IN (SELECT e FROM ct WHERE k = 'tray')), "
            "re(e) AS (SELECT DISTINCT entity FROM job_changes "
            "          WHERE kind = 'record' AND field = 'job' AND value IN (SELECT e FROM j)), "
            "ents(k, e) AS (SELECT 'job', e FROM j UNION SELECT 'closure', e FROM cl "
            "               UNION SELECT k, e FROM ct UNION SELECT 'position', e FROM po "
            "               UNION SELECT 'record', e FROM re) "
            "SELECT id, kind, entity, field, value, changed_at, author, "
            "       CASE laptop WHEN '' THEN ?9 ELSE laptop END, coalesce(origin_id, id), "
            "       effective "
            "FROM job_changes JOIN ents ON kind = ents.k AND entity = ents.e "
            "ORDER BY kind, entity, field, " +
                LatestFirstSqlite(),
            name);
        s.Set(9, ownLaptop_);
        std::optional<std::vector<LostChange>> lost(std::in_place);
        JobChange winner;
        while (s.Next()) {
            JobChange c;
            c.id = s.Int(0);
            c.kind = s.Text(1);
            c.entity = s.Text(2);
            c.field = s.Text(3);
            if (!s.IsNull(4)) c.value = s.Text(4);
            c.changedAt = s.Int(5);
            c.author = s.Text(6);
            c.laptop = s.Text(7);
            c.originId = s.Int(8);
            if (!s.IsNull(9)) c.effective = s.Int(9);
            if (c.kind != winner.kind || c.entity != winner.entity || c.field != winner.field) {
                winner = std::move(c);
                continue;
            }
            // A laptop changing its own value again is editing, not a conflict.
            if (c.laptop == winner.laptop) continue;
            lost->push_back({std::move(c),
                             winner.value,
                             winner.author,
                             winner.effective.value_or(winner.changedAt),
                             {}});
        }
        // Names for people, from the rows as they are now; a record's job by its name.
        db::Statement jobName(db, "SELECT name FROM jobs WHERE uuid = ?1");
        auto nameOfJob = [&](std::optional<std::string>& value) {
            if (value && jobName.Again(*value).Next()) value = jobName.Text(0);
        };
        for (LostChange& l : *lost) {
            std::optional<std::int64_t> record;
            if (l.change.kind == "record") {
                record = Applier::RecordOf(db, l.change.entity);
                if (!record) continue;
                if (l.change.field == "job") {
                    nameOfJob(l.change.value);
                    nameOfJob(l.winningValue);
                }
            }
            const std::string sql = EntityNameSql(l.change.kind);
            if (record) {
                if (db::Statement n(db, sql, *record); n.Next()) l.entityName = n.Text(0);
            } else if (db::Statement n(db, sql, l.change.entity); n.Next()) {
                l.entityName = n.Text(0);
            }
        }
        std::stable_sort(lost->begin(), lost->end(), [&](const LostChange& x, const LostChange& y) {
            return IsLater(x.change, y.change, ownLaptop_);
        });
        return lost;
    });
}

std::optional<std::vector<std::pair<std::string, std::string>>> JobLog::Jobs() {
    return archive_.Run("reading the jobs", [&] {
        db::Statement s(archive_.Connection(),
                        "SELECT uuid, name FROM jobs WHERE uuid IS NOT NULL ORDER BY name");
        std::optional<std::vector<std::pair<std::string, std::string>>> jobs(std::in_place);
        while (s.Next()) jobs->emplace_back(s.Text(0), s.Text(1));
        return jobs;
    });
}

}  // namespace velmora::archive
