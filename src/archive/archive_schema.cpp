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
};

int UserVersion(sqlite3* db, int* version) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            *version = sqlite3_column_int(stmt, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(stmt);
    return rc;
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
    for (const MigrationStep& step : kSteps) {
        if (step.version > target) break;
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        int version = 0;
        if (rc == SQLITE_OK) rc = UserVersion(db, &version);
        if (rc == SQLITE_OK && version < step.version) {
            rc = sqlite3_exec(db, step.sql, nullptr, nullptr, nullptr);
            const std::string setVersion = "PRAGMA user_version = " + std::to_string(step.version);
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(db, setVersion.c_str(), nullptr, nullptr, nullptr);
        }
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            MigrationOutcome failed{rc, "bringing the archive to version " +
                                            std::to_string(step.version) + ": " +
                                            sqlite3_errmsg(db)};
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return failed;
        }
    }
    return {};
}

}  // namespace velmora::archive
