#include "archive/archive_schema.h"

#include <sqlite3.h>

namespace velmora::archive {
namespace {

// Times the program takes (first_seen, last_seen, downloaded, stored, taken) are Unix
// seconds. A splice time (splice_time) is the record's or image's own time as the
// number YYYYMMDDhhmmss, so it sorts and compares as a time; it is NULL when the
// fields do not form a real date, so such a record falls in no date range.
constexpr MigrationStep kSteps[] = {
    {1, R"sql(
CREATE TABLE splicers (
    id         INTEGER PRIMARY KEY,
    folder     TEXT NOT NULL UNIQUE,
    serial     TEXT NOT NULL DEFAULT '',
    first_seen INTEGER NOT NULL,
    last_seen  INTEGER NOT NULL
);
-- A record is known by its splicer and its 34 bytes: downloading it again adds nothing.
CREATE TABLE records (
    id          INTEGER PRIMARY KEY,
    splicer_id  INTEGER NOT NULL REFERENCES splicers(id),
    bytes       BLOB NOT NULL CHECK (length(bytes) = 34),
    splice_time INTEGER,
    downloaded  INTEGER NOT NULL,
    UNIQUE (splicer_id, bytes)
);
CREATE INDEX records_by_time ON records(splice_time);
CREATE INDEX records_by_splicer_time ON records(splicer_id, splice_time);
-- The image files saved under FS/<folder>/JPG: their names and fingerprints, not their bytes.
CREATE TABLE images (
    id          INTEGER PRIMARY KEY,
    splicer_id  INTEGER NOT NULL REFERENCES splicers(id),
    stamp       TEXT NOT NULL,
    splice_time INTEGER,
    file_name   TEXT NOT NULL,
    size        INTEGER NOT NULL,
    sha256      TEXT NOT NULL,
    stored      INTEGER NOT NULL,
    UNIQUE (splicer_id, stamp, sha256)
);
CREATE INDEX images_by_time ON images(splicer_id, splice_time);
CREATE TABLE snapshots (
    id         INTEGER PRIMARY KEY,
    splicer_id INTEGER NOT NULL REFERENCES splicers(id),
    taken      INTEGER NOT NULL,
    reason     TEXT NOT NULL
);
CREATE INDEX snapshots_by_splicer ON snapshots(splicer_id, taken);
-- kind: 0 splice (84 bytes), 1 heater (28), 2 environment (24), 3 device configuration (52).
CREATE TABLE snapshot_groups (
    snapshot_id INTEGER NOT NULL REFERENCES snapshots(id) ON DELETE CASCADE,
    kind        INTEGER NOT NULL,
    bytes       BLOB NOT NULL,
    PRIMARY KEY (snapshot_id, kind),
    CHECK ((kind = 0 AND length(bytes) = 84) OR (kind = 1 AND length(bytes) = 28) OR
           (kind = 2 AND length(bytes) = 24) OR (kind = 3 AND length(bytes) = 52))
) WITHOUT ROWID;
)sql"},
    // Records can be gathered under a job name; NULL is no job.
    {2, R"sql(
ALTER TABLE records ADD COLUMN job TEXT;
CREATE INDEX records_by_job ON records(job) WHERE job IS NOT NULL;
)sql"},
    // A splicer is known by its whole serial number, and by its folder name only while
    // that is unknown (''): the folder is the serial number without its first
    // character, so two splicers one letter apart share one. A row of before was known
    // by its folder alone and may hold the records of every splicer of that folder,
    // its serial being the last one reported: it becomes a row of unknown serial
    // number (the last one kept in former_serial), with its id and everything tied
    // to it. The last naming of records is kept so that it can be undone: each record
    // it changed, with the job the record had before (NULL: none).
    {3, R"sql(
CREATE TABLE splicers_by_serial (
    id            INTEGER PRIMARY KEY,
    folder        TEXT NOT NULL,
    serial        TEXT NOT NULL DEFAULT '',
    first_seen    INTEGER NOT NULL,
    last_seen     INTEGER NOT NULL,
    former_serial TEXT NOT NULL DEFAULT ''
);
INSERT INTO splicers_by_serial(id, folder, serial, first_seen, last_seen, former_serial)
    SELECT id, folder, '', first_seen, last_seen, serial FROM splicers;
DROP TABLE splicers;
ALTER TABLE splicers_by_serial RENAME TO splicers;
CREATE UNIQUE INDEX splicers_serial ON splicers(serial) WHERE serial <> '';
CREATE UNIQUE INDEX splicers_unknown_serial_folder ON splicers(folder) WHERE serial = '';
CREATE TABLE naming_undo (
    record_id INTEGER PRIMARY KEY REFERENCES records(id),
    job       TEXT
);
)sql"},
    // The list of records is read a screenful at a time in any order, so every order
    // and filter runs on an index: the record's place in the archive's order (by splice
    // time, the undated ones last in the order they came) is kept as its ordinal, and
    // its result and loss (bytes 6 and 8-9 of the record) as columns of their own.
    // An index per order, and per order within one splicer.
    {4, R"sql(
ALTER TABLE records ADD COLUMN ordinal INTEGER;
ALTER TABLE records ADD COLUMN result INTEGER;
ALTER TABLE records ADD COLUMN loss INTEGER;
UPDATE records SET result = ((instr('0123456789ABCDEF', substr(hex(substr(bytes, 7, 1)), 1, 1)) - 1) * 16 + instr('0123456789ABCDEF', substr(hex(substr(bytes, 7, 1)), 2, 1)) - 1), loss = ((instr('0123456789ABCDEF', substr(hex(substr(bytes, 9, 1)), 1, 1)) - 1) * 16 + instr('0123456789ABCDEF', substr(hex(substr(bytes, 9, 1)), 2, 1)) - 1) + 256 * ((instr('0123456789ABCDEF', substr(hex(substr(bytes, 10, 1)), 1, 1)) - 1) * 16 + instr('0123456789ABCDEF', substr(hex(substr(bytes, 10, 1)), 2, 1)) - 1);
UPDATE records SET ordinal = ranked.n FROM (
    SELECT id, row_number() OVER (ORDER BY splice_time IS NULL, splice_time, id) AS n
    FROM records) AS ranked
WHERE records.id = ranked.id;
DROP INDEX records_by_job;
CREATE INDEX records_by_ordinal ON records(ordinal);
CREATE INDEX records_by_splicer_ordinal ON records(splicer_id, ordinal);
CREATE INDEX records_by_job_ordinal ON records(job, ordinal);
CREATE INDEX records_by_splicer_job ON records(splicer_id, job, ordinal);
CREATE INDEX records_by_result ON records(result, ordinal);
CREATE INDEX records_by_splicer_result ON records(splicer_id, result, ordinal);
CREATE INDEX records_by_loss ON records(loss, ordinal);
CREATE INDEX records_by_splicer_loss ON records(splicer_id, loss, ordinal);
)sql"},
    // As-built documentation. A job is a row of its own, with its details and its
    // acceptance limits (NULL: the ones of the reports); the records keep their job
    // by name, so every filter and index on records.job stays as it is, and every
    // store that gives records a job name makes its row (a trigger would do it too,
    // but makes storing a download seven times slower). In a job: closures (an optional
    // location in WGS84 degrees), their cables and trays, and the positions of a tray,
    // each joining a fibre of cable A to a fibre of cable B. A record is placed on at
    // most one position (its id is the key of placings); a position with records
    // placed cannot go, so neither can its tray or closure. A test splice is not
    // counted. The last placing is kept so that it can be undone: each record it
    // placed, its position, and whether the placing made that position.
    {5, R"sql(
CREATE TABLE jobs (
    id          INTEGER PRIMARY KEY,
    name        TEXT NOT NULL UNIQUE,
    customer    TEXT NOT NULL DEFAULT '',
    contractor  TEXT NOT NULL DEFAULT '',
    technicians TEXT NOT NULL DEFAULT '',
    notes       TEXT NOT NULL DEFAULT '',
    max_loss    INTEGER CHECK (max_loss BETWEEN 0 AND 65535),
    max_angle   INTEGER CHECK (max_angle BETWEEN 0 AND 65535)
);
INSERT INTO jobs(name) SELECT DISTINCT job FROM records WHERE job IS NOT NULL ORDER BY job;
CREATE TABLE closures (
    id        INTEGER PRIMARY KEY,
    job_id    INTEGER NOT NULL REFERENCES jobs(id),
    name      TEXT NOT NULL CHECK (name <> ''),
    location  TEXT NOT NULL DEFAULT '',
    latitude  REAL CHECK (latitude BETWEEN -90 AND 90),
    longitude REAL CHECK (longitude BETWEEN -180 AND 180),
    notes     TEXT NOT NULL DEFAULT '',
    UNIQUE (job_id, name),
    CHECK ((latitude IS NULL) = (longitude IS NULL))
);
CREATE TABLE cables (
    id         INTEGER PRIMARY KEY,
    closure_id INTEGER NOT NULL REFERENCES closures(id) ON DELETE CASCADE,
    name       TEXT NOT NULL CHECK (name <> ''),
    fibres     INTEGER NOT NULL CHECK (fibres BETWEEN 12 AND 864),
    per_tube   INTEGER NOT NULL DEFAULT 12 CHECK (per_tube BETWEEN 1 AND fibres),
    UNIQUE (closure_id, name)
);
CREATE TABLE trays (
    id         INTEGER PRIMARY KEY,
    closure_id INTEGER NOT NULL REFERENCES closures(id) ON DELETE CASCADE,
    number     INTEGER NOT NULL CHECK (number >= 1),
    capacity   INTEGER NOT NULL CHECK (capacity BETWEEN 1 AND 1000),
    UNIQUE (closure_id, number)
);
CREATE TABLE positions (
    id      INTEGER PRIMARY KEY,
    tray_id INTEGER NOT NULL REFERENCES trays(id) ON DELETE CASCADE,
    number  INTEGER NOT NULL CHECK (number >= 1),
    cable_a INTEGER NOT NULL REFERENCES cables(id),
    fibre_a INTEGER NOT NULL CHECK (fibre_a >= 1),
    cable_b INTEGER NOT NULL REFERENCES cables(id),
    fibre_b INTEGER NOT NULL CHECK (fibre_b >= 1),
    UNIQUE (tray_id, number)
);
CREATE INDEX positions_by_fibre_a ON positions(cable_a, fibre_a);
CREATE INDEX positions_by_fibre_b ON positions(cable_b, fibre_b);
CREATE TABLE placings (
    record_id   INTEGER PRIMARY KEY REFERENCES records(id),
    position_id INTEGER NOT NULL REFERENCES positions(id)
);
CREATE INDEX placings_by_position ON placings(position_id);
CREATE TABLE test_splices (
    record_id INTEGER PRIMARY KEY REFERENCES records(id)
);
CREATE TABLE placing_undo (
    record_id   INTEGER PRIMARY KEY REFERENCES records(id),
    position_id INTEGER NOT NULL,
    made        INTEGER NOT NULL
);
)sql"},
    // Sending to a team archive. Per team archive (its id) and kind of row (0 records,
    // 1 images, 2 parameter snapshots): every row of that kind whose id is at most
    // up_to has been committed there. The marks live in this file, so a file restored
    // from an old backup sends again what it holds beyond its old marks (the team
    // archive takes each row once). The last send that left nothing waiting.
    {6, R"sql(
CREATE TABLE team_marks (
    team  TEXT NOT NULL,
    kind  INTEGER NOT NULL,
    up_to INTEGER NOT NULL,
    PRIMARY KEY (team, kind)
) WITHOUT ROWID;
CREATE TABLE team_sends (
    team         TEXT PRIMARY KEY,
    last_success INTEGER NOT NULL
);
)sql"},
    // Reading from a team archive, per team archive and scope ('' everything, else one
    // job's name): the team archive's mark (a transaction id) below which every row it
    // held has been read into this file, and when that read ended.
    {7, R"sql(
CREATE TABLE team_pulls (
    team   TEXT NOT NULL,
    scope  TEXT NOT NULL,
    mark   TEXT NOT NULL,
    pulled INTEGER NOT NULL,
    PRIMARY KEY (team, scope)
) WITHOUT ROWID;
)sql"},
};

// The first column of the first row of `sql` (0 when it gives no row).
int IntegerOf(sqlite3* db, const char* sql, int* value) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    *value = 0;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) *value = sqlite3_column_int(stmt, 0);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
}

int UserVersion(sqlite3* db, int* version) {
    return IntegerOf(db, "PRAGMA user_version", version);
}

// A step that rebuilds a table others refer to must leave no reference dangling.
int CheckReferences(sqlite3* db) {
    int dangling = 0;
    const int rc = IntegerOf(db, "SELECT count(*) FROM pragma_foreign_key_check", &dangling);
    return rc != SQLITE_OK ? rc : dangling > 0 ? SQLITE_CONSTRAINT_FOREIGNKEY : SQLITE_OK;
}

MigrationOutcome ApplySteps(sqlite3* db, int target) {
    for (const MigrationStep& step : kSteps) {
        if (step.version > target) break;
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        int version = 0;
        if (rc == SQLITE_OK) rc = UserVersion(db, &version);
        if (rc == SQLITE_OK && version < step.version) {
            rc = sqlite3_exec(db, step.sql, nullptr, nullptr, nullptr);
            const std::string setVersion = "PRAGMA user_version = " + std::to_string(step.version);
            if (rc == SQLITE_OK) rc = CheckReferences(db);
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(db, setVersion.c_str(), nullptr, nullptr, nullptr);
        }
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = rc == SQLITE_CONSTRAINT_FOREIGNKEY
                                        ? "a reference would be left dangling"
                                        : sqlite3_errmsg(db);
            MigrationOutcome failed{
                rc, "bringing the archive to version " + std::to_string(step.version) + ": " + why};
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return failed;
        }
    }
    return {};
}

}  // namespace

std::span<const MigrationStep> MigrationSteps() {
    return kSteps;
}

int SchemaVersion() {
    return std::span(kSteps).back().version;
}

MigrationOutcome Migrate(sqlite3* db, int target) {
    // A file already up to date is only read: opening it never waits for the write
    // lock another program may be holding.
    int current = 0;
    if (int rc = UserVersion(db, &current); rc != SQLITE_OK)
        return {rc, std::string("reading the archive's version: ") + sqlite3_errmsg(db)};
    if (current >= target) return {};
    // A step may rebuild a table others refer to, which the enforcement of foreign
    // keys forbids (it can only be switched outside a transaction): each step checks
    // the references itself instead, and the setting is put back after.
    int enforced = 0;
    if (int rc = IntegerOf(db, "PRAGMA foreign_keys", &enforced); rc != SQLITE_OK)
        return {rc, std::string("reading the archive's settings: ") + sqlite3_errmsg(db)};
    sqlite3_exec(db, "PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr);
    const MigrationOutcome outcome = ApplySteps(db, target);
    if (enforced) sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    return outcome;
}

}  // namespace velmora::archive
