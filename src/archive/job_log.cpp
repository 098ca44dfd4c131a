#include "archive/job_log.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <utility>
#include <variant>

#include "archive/archive_sql.h"
#include "archive/change_order.h"
#include "archive/record_identity.h"

namespace velmora::archive {
using namespace sql;

namespace {

// A failure of SQLite inside a step, carried to the public call that reports it.
struct Failure {
    int code;
    std::string message;
};

void Check(sqlite3* db, int rc, int expected = SQLITE_DONE) {
    if (rc != expected && !(expected == SQLITE_DONE && rc == SQLITE_OK))
        throw Failure{rc, sqlite3_errmsg(db)};
}

void Exec(sqlite3* db, const char* sql) {
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
}

using SqlValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

void BindValue(Statement& s, int at, const SqlValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        s.Bind(at, *i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        s.Bind(at, *d);
    } else if (const auto* t = std::get_if<std::string>(&v)) {
        s.Bind(at, std::string_view(*t));
    } else {
        s.BindNull(at);
    }
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
        Statement s(db_,
                    "SELECT field, value FROM job_changes WHERE kind = ?1 AND entity = ?2 "
                    "ORDER BY field, " +
                        LatestFirstSqlite());
        Check(db_, s.PrepareCode(), SQLITE_OK);
        s.Bind(1, kind);
        s.Bind(2, std::string_view(entity));
        s.Bind(9, std::string_view(ownLaptop));
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            std::optional<std::string> value;
            if (!s.IsNull(1)) value = s.Text(1);
            winners_.try_emplace(s.Text(0), std::move(value));
        }
        Check(db_, rc);
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
        Statement s(db_, std::string("SELECT id FROM ") + table + " WHERE uuid = ?1");
        Check(db_, s.PrepareCode(), SQLITE_OK);
        s.Bind(1, std::string_view(*uuid));
        const int rc = s.Step();
        if (rc == SQLITE_ROW) return s.Int(0);
        Check(db_, rc);
        return std::nullopt;
    }

    void Run(const std::string& sql, const std::vector<SqlValue>& values) {
        Statement s(db_, sql);
        Check(db_, s.PrepareCode(), SQLITE_OK);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindValue(s, static_cast<int>(i) + 1, values[i]);
        Check(db_, s.Step());
        changed_ = changed_ || sqlite3_changes(db_) > 0;
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
        Statement s(db_, sql);
        Check(db_, s.PrepareCode(), SQLITE_OK);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindValue(s, static_cast<int>(i) + 1, values[i]);
        const int rc = s.Step();
        if (rc == SQLITE_CONSTRAINT_UNIQUE) return false;
        Check(db_, rc);
        changed_ = changed_ || sqlite3_changes(db_) > 0;
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
            Statement s(db_, "SELECT name FROM jobs WHERE id = ?1");
            s.Bind(1, *id);
            if (s.Step() == SQLITE_ROW) before = s.Text(0);
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
        Statement s(db_, "SELECT name FROM jobs WHERE uuid = ?1");
        Check(db_, s.PrepareCode(), SQLITE_OK);
        s.Bind(1, std::string_view(uuid));
        const int rc = s.Step();
        if (rc == SQLITE_ROW) return s.Text(0);
        Check(db_, rc);
        return std::nullopt;
    }

  public:
    // The archive's record of a record's identity, if it holds it.
    static std::optional<std::int64_t> RecordOf(sqlite3* db, const std::string& entity) {
        const std::optional<RecordIdentity> identity = ParseRecordIdentity(entity);
        if (!identity) return std::nullopt;
        // The splicer first, then its record on (splicer_id, bytes): left to itself,
        // SQLite scans every record for the bytes.
        Statement s(db, identity->bySerial
                            ? "SELECT r.id FROM splicers s CROSS JOIN records r ON "
                              "r.splicer_id = s.id WHERE r.bytes = ?1 AND s.serial = ?2 "
                              "AND s.serial <> ''"
                            : "SELECT r.id FROM splicers s CROSS JOIN records r ON "
                              "r.splicer_id = s.id WHERE r.bytes = ?1 AND s.serial = '' "
                              "AND s.folder = ?2");
        Check(db, s.PrepareCode(), SQLITE_OK);
        s.Bind(1, std::span<const std::uint8_t>(identity->bytes));
        s.Bind(2, std::string_view(identity->name));
        const int rc = s.Step();
        if (rc == SQLITE_ROW) return s.Int(0);
        Check(db, rc);
        return std::nullopt;
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
    Statement s(db, std::string("SELECT coalesce(max(id), 0) FROM ") + table);
    Check(db, s.PrepareCode(), SQLITE_OK);
    Check(db, s.Step(), SQLITE_ROW);
    return s.Int(0);
}

}  // namespace

bool JobLog::BeginRead() {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    try {
        auto read = std::make_unique<Transaction>(db);
        Check(db, read->BeginCode(), SQLITE_OK);
        recordsBefore_ = HighestId(db, "records");
        imagesBefore_ = HighestId(db, "images");
        read_ = std::move(read);
        return true;
    } catch (const Failure& f) {
        archive_.lastError_ = {CodeFor(f.code),
                               "beginning a read of the team archive: " + f.message};
    }
    return false;
}

bool JobLog::CommitRead() {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    try {
        if (!read_) throw Failure{SQLITE_MISUSE, "no read was begun"};
        Statement note(db,
                       "INSERT INTO team_received(kind, first, last) SELECT ?1, ?2 + 1, max(id) "
                       "FROM records HAVING max(id) > ?2");
        Statement images(db,
                         "INSERT INTO team_received(kind, first, last) SELECT ?1, ?2 + 1, max(id) "
                         "FROM images HAVING max(id) > ?2");
        for (auto [s, kind, before] : {std::tuple(&note, OutboxKind::Records, recordsBefore_),
                                       std::tuple(&images, OutboxKind::Images, imagesBefore_)}) {
            Check(db, s->PrepareCode(), SQLITE_OK);
            s->Bind(1, static_cast<std::int64_t>(kind));
            s->Bind(2, before);
            Check(db, s->Step());
        }
        Check(db, read_->Commit(), SQLITE_OK);
        read_.reset();
        return true;
    } catch (const Failure& f) {
        archive_.lastError_ = {CodeFor(f.code),
                               "keeping what was read from the team archive: " + f.message};
    }
    read_.reset();
    return false;
}

std::optional<std::vector<JobChange>> JobLog::ToSend(std::int64_t after, std::size_t limit) {
    archive_.lastError_ = {};
    Statement s(archive_.db_,
                "SELECT id, kind, entity, field, value, changed_at, author FROM job_changes "
                "WHERE id > ?1 AND laptop = '' ORDER BY id LIMIT ?2");
    std::vector<JobChange> rows;
    int rc = s.PrepareCode();
    if (s.ok()) {
        s.Bind(1, after);
        s.Bind(2, static_cast<std::int64_t>(limit));
        while ((rc = s.Step()) == SQLITE_ROW) {
            JobChange& c = rows.emplace_back();
            c.id = c.originId = s.Int(0);
            c.kind = s.Text(1);
            c.entity = s.Text(2);
            c.field = s.Text(3);
            if (!s.IsNull(4)) c.value = s.Text(4);
            c.changedAt = s.Int(5);
            c.author = s.Text(6);
        }
    }
    if (rc == SQLITE_DONE) return rows;
    archive_.lastError_ = SqliteError(archive_.db_, "reading job changes to send", rc);
    return std::nullopt;
}

bool JobLog::Keep(std::span<const JobChange> changes) {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    try {
        Transaction tx(db);
        Check(db, tx.BeginCode(), SQLITE_OK);
        Statement own(db,
                      "UPDATE job_changes SET effective = ?1 WHERE laptop = '' AND id = ?2 AND "
                      "effective IS NOT ?1");
        Statement other(db,
                        "INSERT OR IGNORE INTO job_changes(kind, entity, field, value, changed_at, "
                        "author, laptop, origin_id, effective) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                        "?8, ?9)");
        Statement note(db, "INSERT OR IGNORE INTO job_pending(kind, entity) VALUES(?1, ?2)");
        Statement held(db, "SELECT 1 FROM job_changes WHERE laptop = '' AND id = ?1");
        Check(db, own.PrepareCode(), SQLITE_OK);
        Check(db, other.PrepareCode(), SQLITE_OK);
        Check(db, note.PrepareCode(), SQLITE_OK);
        Check(db, held.PrepareCode(), SQLITE_OK);
        for (const JobChange& c : changes) {
            bool mine = !ownLaptop_.empty() && c.laptop == ownLaptop_;
            if (mine) {
                held.Reset();
                held.Bind(1, c.originId);
                const int rc = held.Step();
                if (rc != SQLITE_ROW) Check(db, rc);
                mine = rc == SQLITE_ROW;
            }
            Statement& write = mine ? own : other;
            write.Reset();
            if (mine) {
                own.Bind(1, c.effective.value_or(c.changedAt));
                own.Bind(2, c.originId);
            } else {
                other.Bind(1, std::string_view(c.kind));
                other.Bind(2, std::string_view(c.entity));
                other.Bind(3, std::string_view(c.field));
                if (c.value) {
                    other.Bind(4, std::string_view(*c.value));
                } else {
                    other.BindNull(4);
                }
                other.Bind(5, c.changedAt);
                other.Bind(6, std::string_view(c.author));
                other.Bind(7, std::string_view(c.laptop));
                other.Bind(8, c.originId);
                if (c.effective) {
                    other.Bind(9, *c.effective);
                } else {
                    other.BindNull(9);
                }
            }
            Check(db, write.Step());
            if (sqlite3_changes(db) == 0) continue;
            note.Reset();
            note.Bind(1, std::string_view(c.kind));
            note.Bind(2, std::string_view(c.entity));
            Check(db, note.Step());
        }
        Check(db, tx.Commit(), SQLITE_OK);
        return true;
    } catch (const Failure& f) {
        archive_.lastError_ = {CodeFor(f.code),
                               "keeping job changes from the team archive: " + f.message};
    } catch (const std::exception& e) {
        archive_.lastError_ = {ErrorCode::Failed, e.what()};
    }
    return false;
}

bool JobLog::MoveOwnAbove(std::int64_t sentUpTo, std::int64_t takenUpTo, std::string_view team) {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    try {
        Transaction tx(db);
        Check(db, tx.BeginCode(), SQLITE_OK);
        auto run = [&](const char* sql, std::initializer_list<std::int64_t> values) {
            Statement s(db, sql);
            Check(db, s.PrepareCode(), SQLITE_OK);
            int index = 0;
            for (const std::int64_t value : values) s.Bind(++index, value);
            Check(db, s.Step());
        };
        // Through negative ids: no row meets another on the way.
        run("UPDATE job_changes SET id = -(id + ?2 - ?1) WHERE id > ?1", {sentUpTo, takenUpTo});
        run("UPDATE job_changes SET id = -id WHERE id < 0", {});
        // A new row takes the highest id plus one: when none moved, one held at the
        // team archive's mark keeps later ids above it (never sent, of no entity).
        run("INSERT INTO job_changes(id, kind, entity, field, value, changed_at, author) "
            "SELECT ?1, 'job', '', 'restored', NULL, 0, '' "
            "WHERE NOT EXISTS (SELECT 1 FROM job_changes WHERE id >= ?1)",
            {takenUpTo});
        if (!archive_.MarkSent(team, OutboxKind::JobChanges, takenUpTo))
            throw Failure{SQLITE_ERROR, archive_.lastError_.message};
        Check(db, tx.Commit(), SQLITE_OK);
        return true;
    } catch (const Failure& f) {
        archive_.lastError_ = {CodeFor(f.code),
                               "numbering job changes after a restored backup: " + f.message};
    } catch (const std::exception& e) {
        archive_.lastError_ = {ErrorCode::Failed, e.what()};
    }
    return false;
}

std::optional<Applied> JobLog::Apply() {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    // Values written here are the log's own: the triggers do not log them again.
    struct Applying {
        ChangeContext& c;
        explicit Applying(ChangeContext& context) : c(context) { c.applying = true; }
        ~Applying() { c.applying = false; }
    } applying(*archive_.changes_);
    Applied applied;
    try {
        for (std::string_view kind : kChangeKinds) {
            while (true) {
                Transaction tx(db);
                Check(db, tx.BeginCode(), SQLITE_OK);
                std::vector<std::string> entities;
                {
                    Statement s(db, "SELECT entity FROM job_pending WHERE kind = ?1 LIMIT 500");
                    Check(db, s.PrepareCode(), SQLITE_OK);
                    s.Bind(1, kind);
                    int rc;
                    while ((rc = s.Step()) == SQLITE_ROW) entities.push_back(s.Text(0));
                    Check(db, rc);
                }
                if (entities.empty()) break;
                Statement done(db, "DELETE FROM job_pending WHERE kind = ?1 AND entity = ?2");
                Check(db, done.PrepareCode(), SQLITE_OK);
                const std::size_t before = applied.changed;
                for (const std::string& entity : entities) {
                    // Each entity on its own: one the file's constraints refuse is undone alone.
                    Exec(db, "SAVEPOINT entity");
                    try {
                        applied.changed += Applier(db, kind, entity, ownLaptop_).Apply(kind);
                        Exec(db, "RELEASE entity");
                    } catch (const Failure& f) {
                        if ((f.code & 0xFF) != SQLITE_CONSTRAINT) throw;
                        Exec(db, "ROLLBACK TO entity; RELEASE entity");
                        applied.unapplied.push_back({std::string(kind), entity, f.message});
                    }
                    done.Reset();
                    done.Bind(1, kind);
                    done.Bind(2, std::string_view(entity));
                    Check(db, done.Step());
                }
                // The last naming or placing cannot be undone over what others changed.
                if (applied.changed > before)
                    Exec(db, "DELETE FROM placing_undo; DELETE FROM naming_undo");
                Check(db, tx.Commit(), SQLITE_OK);
            }
        }
        return applied;
    } catch (const Failure& f) {
        archive_.lastError_ = {CodeFor(f.code),
                               "applying job changes from the team archive: " + f.message};
    } catch (const std::exception& e) {
        archive_.lastError_ = {ErrorCode::Failed, e.what()};
    }
    return std::nullopt;
}

std::optional<std::vector<LostChange>> JobLog::History(std::string_view name) {
    sqlite3* db = archive_.db_;
    archive_.lastError_ = {};
    // The entities ever logged under the job, by the ids of their parents.
    Statement s(db,
                "WITH j(e) AS (SELECT uuid FROM jobs WHERE name = ?1), "
                "cl(e) AS (SELECT DISTINCT entity FROM job_changes WHERE kind = 'closure' AND "
                "field = 'job' AND value IN (SELECT e FROM j)), "
                "ct(k, e) AS (SELECT DISTINCT kind, entity FROM job_changes WHERE kind IN "
                "('cable', 'tray') AND field = 'closure' AND value IN (SELECT e FROM cl)), "
                "po(e) AS (SELECT DISTINCT entity FROM job_changes WHERE kind = 'position' AND "
                "field = 'tray' AND value IN (SELECT e FROM ct WHERE k = 'tray')), "
                "re(e) AS (SELECT DISTINCT entity FROM job_changes WHERE kind = 'record' AND "
                "field = 'job' AND value IN (SELECT e FROM j)), "
                "ents(k, e) AS (SELECT 'job', e FROM j UNION SELECT 'closure', e FROM cl UNION "
                "SELECT k, e FROM ct UNION SELECT 'position', e FROM po UNION SELECT 'record', e "
                "FROM re) "
                "SELECT id, kind, entity, field, value, changed_at, author, "
                "CASE laptop WHEN '' THEN ?9 ELSE laptop END, coalesce(origin_id, id), effective "
                "FROM job_changes JOIN ents ON kind = ents.k AND entity = ents.e "
                "ORDER BY kind, entity, field, " +
                    LatestFirstSqlite());
    int rc = s.PrepareCode();
    std::vector<LostChange> lost;
    if (s.ok()) {
        s.Bind(1, name);
        s.Bind(9, std::string_view(ownLaptop_));
        JobChange winner;
        while ((rc = s.Step()) == SQLITE_ROW) {
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
            lost.push_back({std::move(c),
                            winner.value,
                            winner.author,
                            winner.effective.value_or(winner.changedAt),
                            {}});
        }
    }
    if (rc != SQLITE_DONE) {
        archive_.lastError_ = SqliteError(db, "reading the job's history", rc);
        return std::nullopt;
    }
    // Names for people, from the rows as they are now; a record's job by its name.
    Statement jobName(db, "SELECT name FROM jobs WHERE uuid = ?1");
    auto nameOfJob = [&](std::optional<std::string>& value) {
        if (!value || !jobName.ok()) return;
        jobName.Reset();
        jobName.Bind(1, std::string_view(*value));
        if (jobName.Step() == SQLITE_ROW) value = jobName.Text(0);
    };
    for (LostChange& l : lost) {
        const std::string& k = l.change.kind;
        std::optional<std::int64_t> record;
        if (k == "record") {
            try {
                record = Applier::RecordOf(db, l.change.entity);
            } catch (const Failure&) {
            }
            if (!record) continue;
            if (l.change.field == "job") {
                nameOfJob(l.change.value);
                nameOfJob(l.winningValue);
            }
        }
        const std::string sql =
            k == "record"     ? "SELECT coalesce(nullif(s.serial, ''), s.folder) || ' #' || "
                                "r.ordinal FROM records r JOIN splicers s ON s.id = r.splicer_id "
                                "WHERE r.id = ?2"
            : k == "tray"     ? "SELECT number FROM trays WHERE uuid = ?1"
            : k == "position" ? "SELECT number FROM positions WHERE uuid = ?1"
                              : "SELECT name FROM " + k + "s WHERE uuid = ?1";
        Statement n(db, sql);
        if (!n.ok()) continue;
        n.Bind(1, std::string_view(l.change.entity));
        n.Bind(2, record.value_or(0));
        if (n.Step() == SQLITE_ROW) l.entityName = n.Text(0);
    }
    std::stable_sort(lost.begin(), lost.end(), [&](const LostChange& x, const LostChange& y) {
        return IsLater(x.change, y.change, ownLaptop_);
    });
    return lost;
}

std::optional<std::vector<std::pair<std::string, std::string>>> JobLog::Jobs() {
    archive_.lastError_ = {};
    Statement s(archive_.db_, "SELECT uuid, name FROM jobs WHERE uuid IS NOT NULL ORDER BY name");
    int rc = s.PrepareCode();
    std::vector<std::pair<std::string, std::string>> jobs;
    if (s.ok())
        while ((rc = s.Step()) == SQLITE_ROW) jobs.emplace_back(s.Text(0), s.Text(1));
    if (rc == SQLITE_DONE) return jobs;
    archive_.lastError_ = SqliteError(archive_.db_, "reading the jobs", rc);
    return std::nullopt;
}

}  // namespace velmora::archive
