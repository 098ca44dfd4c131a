#include "archive/archive_schema.h"

#include <sqlite3.h>

#include <vector>

#include "archive/archive_order.h"
#include "archive/archive_sql.h"

namespace velmora::archive {
namespace {

// The number of a record's byte `n` (1-based): SQLite has no function from a blob's
// byte to its number, so the byte is read back from its two hex digits.
std::string RecordByteSql(int n) {
    const std::string digit =
        "instr('0123456789ABCDEF', substr(hex(substr(bytes, " + std::to_string(n) + ", 1)), ";
    return "((" + digit + "1, 1)) - 1) * 16 + " + digit + "2, 1)) - 1)";
}

// Times the program takes (first_seen, last_seen, downloaded, stored, taken) are Unix
// seconds. A splice time (splice_time) is the record's or image's own time as the
// number YYYYMMDDhhmmss, so it sorts and compares as a time; it is NULL when the
// fields do not form a real date, so such a record falls in no date range.
const std::vector<MigrationStep>& Steps() {
    static const std::vector<MigrationStep> steps = {
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
)sql"
            "UPDATE records SET result = " +
                RecordByteSql(7) + ", loss = " + RecordByteSql(9) + " + 256 * " +
                RecordByteSql(10) + ";" + R"sql(
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
)sql" + sql::JobRowsSql("SELECT job FROM records") +
                ";" + R"sql(
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
        // Jobs edited on several laptops and in the office. Jobs, closures, cables, trays
        // and positions get an id that is the same in every archive: made from the name
        // or number that identifies them within their parent (so two laptops that make
        // job "North" offline make one job), or a random one where that is taken (a name
        // freed by a renaming). A record is known by its bytes and its splicer:
        // "<68 hex digits>:s<serial>", or ":f<folder>" while the serial is unknown.
        // Every change the program makes to them is kept, in the same transaction, by the
        // triggers below, one row per field changed: the log a team archive is sent and
        // from which a pulled state is worked out (job_changes; laptop '' for this
        // archive's own, else the laptop and its own id for the change; effective the
        // team archive's time for it once known). Creating writes every field, deleting
        // writes `deleted`. The functions velmora_*() are the archive connection's own
        // (the clock, the user, and whether pulled changes are being applied, which
        // are not logged again). job_pending: entities whose pulled changes are yet to
        // be applied. What was here before is logged as made now.
        {8, R"sql(
ALTER TABLE jobs ADD COLUMN uuid TEXT;
ALTER TABLE closures ADD COLUMN uuid TEXT;
ALTER TABLE cables ADD COLUMN uuid TEXT;
ALTER TABLE trays ADD COLUMN uuid TEXT;
ALTER TABLE positions ADD COLUMN uuid TEXT;
UPDATE jobs SET uuid = velmora_name_uuid('job', jobs.name);
CREATE UNIQUE INDEX jobs_by_uuid ON jobs(uuid);
UPDATE closures SET uuid =
    velmora_name_uuid((SELECT uuid FROM jobs WHERE id = closures.job_id), 'closure ' || closures.name);
CREATE UNIQUE INDEX closures_by_uuid ON closures(uuid);
UPDATE cables SET uuid =
    velmora_name_uuid((SELECT uuid FROM closures WHERE id = cables.closure_id), 'cable ' || cables.name);
CREATE UNIQUE INDEX cables_by_uuid ON cables(uuid);
UPDATE trays SET uuid =
    velmora_name_uuid((SELECT uuid FROM closures WHERE id = trays.closure_id), 'tray ' || trays.number);
CREATE UNIQUE INDEX trays_by_uuid ON trays(uuid);
UPDATE positions SET uuid =
    velmora_name_uuid((SELECT uuid FROM trays WHERE id = positions.tray_id), 'position ' || positions.number);
CREATE UNIQUE INDEX positions_by_uuid ON positions(uuid);
CREATE TABLE job_changes (
    id         INTEGER PRIMARY KEY,
    kind       TEXT NOT NULL,
    entity     TEXT NOT NULL,
    field      TEXT NOT NULL,
    value      TEXT,
    changed_at INTEGER NOT NULL,
    author     TEXT NOT NULL,
    laptop     TEXT NOT NULL DEFAULT '',
    origin_id  INTEGER,
    effective  INTEGER
);
CREATE INDEX job_changes_by_field ON job_changes(kind, entity, field);
CREATE INDEX job_changes_by_parent ON job_changes(field, value) WHERE field IN ('job', 'closure', 'tray');
CREATE UNIQUE INDEX job_changes_by_origin ON job_changes(laptop, origin_id) WHERE laptop <> '';
CREATE TABLE job_pending (
    kind   TEXT NOT NULL,
    entity TEXT NOT NULL,
    PRIMARY KEY (kind, entity)
) WITHOUT ROWID;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'job', uuid, 'name', jobs.name, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'customer', jobs.customer, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'contractor', jobs.contractor, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'technicians', jobs.technicians, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'notes', jobs.notes, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'max_loss', jobs.max_loss, velmora_now(), velmora_author() FROM jobs
    UNION ALL SELECT 'job', uuid, 'max_angle', jobs.max_angle, velmora_now(), velmora_author() FROM jobs;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'closure', uuid, 'job', (SELECT uuid FROM jobs WHERE id = closures.job_id),
                     velmora_now(), velmora_author() FROM closures
    UNION ALL SELECT 'closure', uuid, 'name', closures.name, velmora_now(), velmora_author() FROM closures
    UNION ALL SELECT 'closure', uuid, 'location', closures.location,
                     velmora_now(), velmora_author() FROM closures
    UNION ALL SELECT 'closure', uuid, 'latitude', closures.latitude,
                     velmora_now(), velmora_author() FROM closures
    UNION ALL SELECT 'closure', uuid, 'longitude', closures.longitude,
                     velmora_now(), velmora_author() FROM closures
    UNION ALL SELECT 'closure', uuid, 'notes', closures.notes, velmora_now(), velmora_author() FROM closures;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'cable', uuid, 'closure', (SELECT uuid FROM closures WHERE id = cables.closure_id),
                     velmora_now(), velmora_author() FROM cables
    UNION ALL SELECT 'cable', uuid, 'name', cables.name, velmora_now(), velmora_author() FROM cables
    UNION ALL SELECT 'cable', uuid, 'fibres', cables.fibres, velmora_now(), velmora_author() FROM cables
    UNION ALL SELECT 'cable', uuid, 'per_tube', cables.per_tube, velmora_now(), velmora_author() FROM cables;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'tray', uuid, 'closure', (SELECT uuid FROM closures WHERE id = trays.closure_id),
                     velmora_now(), velmora_author() FROM trays
    UNION ALL SELECT 'tray', uuid, 'number', trays.number, velmora_now(), velmora_author() FROM trays
    UNION ALL SELECT 'tray', uuid, 'capacity', trays.capacity, velmora_now(), velmora_author() FROM trays;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'position', uuid, 'tray', (SELECT uuid FROM trays WHERE id = positions.tray_id),
                     velmora_now(), velmora_author() FROM positions
    UNION ALL SELECT 'position', uuid, 'number', positions.number,
                     velmora_now(), velmora_author() FROM positions
    UNION ALL SELECT 'position', uuid, 'cable_a', (SELECT uuid FROM cables WHERE id = positions.cable_a),
                     velmora_now(), velmora_author() FROM positions
    UNION ALL SELECT 'position', uuid, 'fibre_a', positions.fibre_a,
                     velmora_now(), velmora_author() FROM positions
    UNION ALL SELECT 'position', uuid, 'cable_b', (SELECT uuid FROM cables WHERE id = positions.cable_b),
                     velmora_now(), velmora_author() FROM positions
    UNION ALL SELECT 'position', uuid, 'fibre_b', positions.fibre_b,
                     velmora_now(), velmora_author() FROM positions;
CREATE VIEW record_identities AS
    SELECT r.id, lower(hex(r.bytes)) || ':'
           || CASE WHEN s.serial = '' THEN 'f' || s.folder ELSE 's' || s.serial END AS identity
    FROM records r JOIN splicers s ON s.id = r.splicer_id;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'record', (SELECT identity FROM record_identities WHERE id = records.id),
           'job', job, velmora_now(), velmora_author()
    FROM records WHERE job IS NOT NULL;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'record', (SELECT identity FROM record_identities WHERE id = placings.record_id),
           'position', (SELECT uuid FROM positions WHERE id = placings.position_id), velmora_now(), velmora_author()
    FROM placings;
INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
    SELECT 'record', (SELECT identity FROM record_identities WHERE id = test_splices.record_id),
           'test', '1', velmora_now(), velmora_author()
    FROM test_splices;
CREATE TRIGGER jobs_made AFTER INSERT ON jobs BEGIN
    UPDATE jobs SET uuid = CASE
        WHEN EXISTS (SELECT 1 FROM jobs
                     WHERE uuid = velmora_name_uuid('job', NEW.name))
        THEN velmora_uuid()
        ELSE velmora_name_uuid('job', NEW.name) END
    WHERE id = NEW.id AND uuid IS NULL;
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'job', (SELECT uuid FROM jobs WHERE id = NEW.id), f, v, velmora_now(), velmora_author()
        FROM (SELECT 'deleted' AS f, NULL AS v
              UNION ALL SELECT 'name', NEW.name
              UNION ALL SELECT 'customer', NEW.customer
              UNION ALL SELECT 'contractor', NEW.contractor
              UNION ALL SELECT 'technicians', NEW.technicians
              UNION ALL SELECT 'notes', NEW.notes
              UNION ALL SELECT 'max_loss', NEW.max_loss
              UNION ALL SELECT 'max_angle', NEW.max_angle)
        WHERE velmora_applying() = 0;
END;
CREATE TRIGGER jobs_changed
    AFTER UPDATE OF contractor, customer, max_angle, max_loss, name, notes, technicians ON jobs
    WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'job', NEW.uuid, f, v, velmora_now(), velmora_author()
        FROM (SELECT 'name' AS f, NEW.name AS v, OLD.name IS NOT NEW.name AS c
              UNION ALL SELECT 'customer', NEW.customer, OLD.customer IS NOT NEW.customer
              UNION ALL SELECT 'contractor', NEW.contractor, OLD.contractor IS NOT NEW.contractor
              UNION ALL SELECT 'technicians', NEW.technicians, OLD.technicians IS NOT NEW.technicians
              UNION ALL SELECT 'notes', NEW.notes, OLD.notes IS NOT NEW.notes
              UNION ALL SELECT 'max_loss', NEW.max_loss, OLD.max_loss IS NOT NEW.max_loss
              UNION ALL SELECT 'max_angle', NEW.max_angle, OLD.max_angle IS NOT NEW.max_angle)
        WHERE c;
END;
CREATE TRIGGER jobs_gone AFTER DELETE ON jobs WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('job', OLD.uuid, 'deleted', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER closures_made AFTER INSERT ON closures BEGIN
    UPDATE closures SET uuid = CASE
        WHEN EXISTS (SELECT 1 FROM closures
                     WHERE uuid = velmora_name_uuid((SELECT uuid FROM jobs WHERE id = NEW.job_id), 'closure ' || NEW.name))
        THEN velmora_uuid()
        ELSE velmora_name_uuid((SELECT uuid FROM jobs WHERE id = NEW.job_id), 'closure ' || NEW.name) END
    WHERE id = NEW.id AND uuid IS NULL;
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'closure', (SELECT uuid FROM closures WHERE id = NEW.id), f, v, velmora_now(), velmora_author()
        FROM (SELECT 'deleted' AS f, NULL AS v
              UNION ALL SELECT 'job', (SELECT uuid FROM jobs WHERE id = NEW.job_id)
              UNION ALL SELECT 'name', NEW.name
              UNION ALL SELECT 'location', NEW.location
              UNION ALL SELECT 'latitude', NEW.latitude
              UNION ALL SELECT 'longitude', NEW.longitude
              UNION ALL SELECT 'notes', NEW.notes)
        WHERE velmora_applying() = 0;
END;
CREATE TRIGGER closures_changed
    AFTER UPDATE OF job_id, latitude, location, longitude, name, notes ON closures
    WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'closure', NEW.uuid, f, v, velmora_now(), velmora_author()
        FROM (SELECT 'job' AS f, (SELECT uuid FROM jobs WHERE id = NEW.job_id) AS v,
                     (SELECT uuid FROM jobs WHERE id = OLD.job_id)
                     IS NOT (SELECT uuid FROM jobs WHERE id = NEW.job_id) AS c
              UNION ALL SELECT 'name', NEW.name, OLD.name IS NOT NEW.name
              UNION ALL SELECT 'location', NEW.location, OLD.location IS NOT NEW.location
              UNION ALL SELECT 'latitude', NEW.latitude, OLD.latitude IS NOT NEW.latitude
              UNION ALL SELECT 'longitude', NEW.longitude, OLD.longitude IS NOT NEW.longitude
              UNION ALL SELECT 'notes', NEW.notes, OLD.notes IS NOT NEW.notes)
        WHERE c;
END;
CREATE TRIGGER closures_gone AFTER DELETE ON closures WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('closure', OLD.uuid, 'deleted', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER cables_made AFTER INSERT ON cables BEGIN
    UPDATE cables SET uuid = CASE
        WHEN EXISTS (SELECT 1 FROM cables
                     WHERE uuid = velmora_name_uuid((SELECT uuid FROM closures WHERE id = NEW.closure_id), 'cable ' || NEW.name))
        THEN velmora_uuid()
        ELSE velmora_name_uuid((SELECT uuid FROM closures WHERE id = NEW.closure_id), 'cable ' || NEW.name) END
    WHERE id = NEW.id AND uuid IS NULL;
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'cable', (SELECT uuid FROM cables WHERE id = NEW.id), f, v, velmora_now(), velmora_author()
        FROM (SELECT 'deleted' AS f, NULL AS v
              UNION ALL SELECT 'closure', (SELECT uuid FROM closures WHERE id = NEW.closure_id)
              UNION ALL SELECT 'name', NEW.name
              UNION ALL SELECT 'fibres', NEW.fibres
              UNION ALL SELECT 'per_tube', NEW.per_tube)
        WHERE velmora_applying() = 0;
END;
CREATE TRIGGER cables_changed
    AFTER UPDATE OF closure_id, fibres, name, per_tube ON cables
    WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'cable', NEW.uuid, f, v, velmora_now(), velmora_author()
        FROM (SELECT 'closure' AS f, (SELECT uuid FROM closures WHERE id = NEW.closure_id) AS v,
                     (SELECT uuid FROM closures WHERE id = OLD.closure_id)
                     IS NOT (SELECT uuid FROM closures WHERE id = NEW.closure_id) AS c
              UNION ALL SELECT 'name', NEW.name, OLD.name IS NOT NEW.name
              UNION ALL SELECT 'fibres', NEW.fibres, OLD.fibres IS NOT NEW.fibres
              UNION ALL SELECT 'per_tube', NEW.per_tube, OLD.per_tube IS NOT NEW.per_tube)
        WHERE c;
END;
CREATE TRIGGER cables_gone AFTER DELETE ON cables WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('cable', OLD.uuid, 'deleted', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER trays_made AFTER INSERT ON trays BEGIN
    UPDATE trays SET uuid = CASE
        WHEN EXISTS (SELECT 1 FROM trays
                     WHERE uuid = velmora_name_uuid((SELECT uuid FROM closures WHERE id = NEW.closure_id), 'tray ' || NEW.number))
        THEN velmora_uuid()
        ELSE velmora_name_uuid((SELECT uuid FROM closures WHERE id = NEW.closure_id), 'tray ' || NEW.number) END
    WHERE id = NEW.id AND uuid IS NULL;
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'tray', (SELECT uuid FROM trays WHERE id = NEW.id), f, v, velmora_now(), velmora_author()
        FROM (SELECT 'deleted' AS f, NULL AS v
              UNION ALL SELECT 'closure', (SELECT uuid FROM closures WHERE id = NEW.closure_id)
              UNION ALL SELECT 'number', NEW.number
              UNION ALL SELECT 'capacity', NEW.capacity)
        WHERE velmora_applying() = 0;
END;
CREATE TRIGGER trays_changed
    AFTER UPDATE OF capacity, closure_id, number ON trays
    WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'tray', NEW.uuid, f, v, velmora_now(), velmora_author()
        FROM (SELECT 'closure' AS f, (SELECT uuid FROM closures WHERE id = NEW.closure_id) AS v,
                     (SELECT uuid FROM closures WHERE id = OLD.closure_id)
                     IS NOT (SELECT uuid FROM closures WHERE id = NEW.closure_id) AS c
              UNION ALL SELECT 'number', NEW.number, OLD.number IS NOT NEW.number
              UNION ALL SELECT 'capacity', NEW.capacity, OLD.capacity IS NOT NEW.capacity)
        WHERE c;
END;
CREATE TRIGGER trays_gone AFTER DELETE ON trays WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('tray', OLD.uuid, 'deleted', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER positions_made AFTER INSERT ON positions BEGIN
    UPDATE positions SET uuid = CASE
        WHEN EXISTS (SELECT 1 FROM positions
                     WHERE uuid = velmora_name_uuid((SELECT uuid FROM trays WHERE id = NEW.tray_id), 'position ' || NEW.number))
        THEN velmora_uuid()
        ELSE velmora_name_uuid((SELECT uuid FROM trays WHERE id = NEW.tray_id), 'position ' || NEW.number) END
    WHERE id = NEW.id AND uuid IS NULL;
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'position', (SELECT uuid FROM positions WHERE id = NEW.id), f, v, velmora_now(), velmora_author()
        FROM (SELECT 'deleted' AS f, NULL AS v
              UNION ALL SELECT 'tray', (SELECT uuid FROM trays WHERE id = NEW.tray_id)
              UNION ALL SELECT 'number', NEW.number
              UNION ALL SELECT 'cable_a', (SELECT uuid FROM cables WHERE id = NEW.cable_a)
              UNION ALL SELECT 'fibre_a', NEW.fibre_a
              UNION ALL SELECT 'cable_b', (SELECT uuid FROM cables WHERE id = NEW.cable_b)
              UNION ALL SELECT 'fibre_b', NEW.fibre_b)
        WHERE velmora_applying() = 0;
END;
CREATE TRIGGER positions_changed
    AFTER UPDATE OF cable_a, cable_b, fibre_a, fibre_b, number, tray_id ON positions
    WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        SELECT 'position', NEW.uuid, f, v, velmora_now(), velmora_author()
        FROM (SELECT 'tray' AS f, (SELECT uuid FROM trays WHERE id = NEW.tray_id) AS v,
                     (SELECT uuid FROM trays WHERE id = OLD.tray_id)
                     IS NOT (SELECT uuid FROM trays WHERE id = NEW.tray_id) AS c
              UNION ALL SELECT 'number', NEW.number, OLD.number IS NOT NEW.number
              UNION ALL SELECT 'cable_a', (SELECT uuid FROM cables WHERE id = NEW.cable_a),
                               (SELECT uuid FROM cables WHERE id = OLD.cable_a)
                               IS NOT (SELECT uuid FROM cables WHERE id = NEW.cable_a)
              UNION ALL SELECT 'fibre_a', NEW.fibre_a, OLD.fibre_a IS NOT NEW.fibre_a
              UNION ALL SELECT 'cable_b', (SELECT uuid FROM cables WHERE id = NEW.cable_b),
                               (SELECT uuid FROM cables WHERE id = OLD.cable_b)
                               IS NOT (SELECT uuid FROM cables WHERE id = NEW.cable_b)
              UNION ALL SELECT 'fibre_b', NEW.fibre_b, OLD.fibre_b IS NOT NEW.fibre_b)
        WHERE c;
END;
CREATE TRIGGER positions_gone AFTER DELETE ON positions WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('position', OLD.uuid, 'deleted', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER records_job_given
    AFTER INSERT ON records
    WHEN NEW.job IS NOT NULL AND velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = NEW.id),
                'job', NEW.job, velmora_now(), velmora_author());
END;
CREATE TRIGGER records_job_changed
    AFTER UPDATE OF job ON records
    WHEN NEW.job IS NOT OLD.job AND velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = NEW.id),
                'job', NEW.job, velmora_now(), velmora_author());
END;
CREATE TRIGGER placings_made AFTER INSERT ON placings WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = NEW.record_id),
                'position', (SELECT uuid FROM positions WHERE id = NEW.position_id), velmora_now(), velmora_author());
END;
CREATE TRIGGER placings_moved
    AFTER UPDATE OF position_id ON placings
    WHEN NEW.position_id IS NOT OLD.position_id AND velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = NEW.record_id),
                'position', (SELECT uuid FROM positions WHERE id = NEW.position_id), velmora_now(), velmora_author());
END;
CREATE TRIGGER placings_gone AFTER DELETE ON placings WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = OLD.record_id),
                'position', NULL, velmora_now(), velmora_author());
END;
CREATE TRIGGER test_splices_made AFTER INSERT ON test_splices WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = NEW.record_id),
                'test', '1', velmora_now(), velmora_author());
END;
CREATE TRIGGER test_splices_gone AFTER DELETE ON test_splices WHEN velmora_applying() = 0 BEGIN
    INSERT INTO job_changes(kind, entity, field, value, changed_at, author)
        VALUES ('record', (SELECT identity FROM record_identities WHERE id = OLD.record_id),
                'test', NULL, velmora_now(), velmora_author());
END;
)sql"},
        // Triggers on records make a download's inserts into it far slower (a store into
        // 1,000,000 records 75 ms instead of 46): the writers of records.job log it.
        {9, R"sql(
DROP TRIGGER records_job_given;
DROP TRIGGER records_job_changed;
)sql"},
        // The archive's order kept by ordinals made from the splice time (archive_order.h)
        // instead of 1, 2, 3: every record gets its new ordinal, in the same order. The
        // indexes that hold the ordinal are made again after, once, instead of being
        // updated a record at a time.
        {10, R"sql(
DROP INDEX records_by_ordinal;
DROP INDEX records_by_splicer_ordinal;
DROP INDEX records_by_job_ordinal;
DROP INDEX records_by_splicer_job;
DROP INDEX records_by_result;
DROP INDEX records_by_splicer_result;
DROP INDEX records_by_loss;
DROP INDEX records_by_splicer_loss;
UPDATE records SET ordinal = ranked.n FROM (
    SELECT id, coalesce(splice_time * )sql" +
                 std::to_string(order::kPerSecond) + ", " + std::to_string(order::kUndated) +
                 R"sql() - 1 + row_number() OVER (PARTITION BY splice_time ORDER BY id) AS n
    FROM records) AS ranked
WHERE records.id = ranked.id;
CREATE INDEX records_by_ordinal ON records(ordinal);
CREATE INDEX records_by_splicer_ordinal ON records(splicer_id, ordinal);
CREATE INDEX records_by_job_ordinal ON records(job, ordinal);
CREATE INDEX records_by_splicer_job ON records(splicer_id, job, ordinal);
CREATE INDEX records_by_result ON records(result, ordinal);
CREATE INDEX records_by_splicer_result ON records(splicer_id, result, ordinal);
CREATE INDEX records_by_loss ON records(loss, ordinal);
CREATE INDEX records_by_splicer_loss ON records(splicer_id, loss, ordinal);
)sql"},
        // A record's job is logged as its job's id, as every other parent is, so that a
        // renamed job keeps its records on every laptop: a job name logged before becomes
        // the id of the job of that name. Jobs are read from a team archive by their id:
        // the marks kept by job name go (each job is read once more). A record's identity
        // is the connection's velmora_record_identity(). Records and images read from a
        // team archive, by kind (0 records, 1 images) and id range, are not this
        // archive's to send.
        {11, R"sql(
UPDATE job_changes SET value = (SELECT uuid FROM jobs WHERE jobs.name = job_changes.value)
    WHERE kind = 'record' AND field = 'job' AND value IN (SELECT name FROM jobs);
DELETE FROM team_pulls WHERE scope <> '';
DROP VIEW record_identities;
CREATE VIEW record_identities AS
    SELECT r.id, velmora_record_identity(r.bytes, s.serial, s.folder) AS identity
    FROM records r JOIN splicers s ON s.id = r.splicer_id;
CREATE TABLE team_received (
    kind  INTEGER NOT NULL,
    first INTEGER NOT NULL,
    last  INTEGER NOT NULL,
    PRIMARY KEY (kind, first)
) WITHOUT ROWID;
)sql"},
        // What a store or a naming costs follows the pages it writes: each index whose
        // order scatters a download's records (or a naming's) over the whole archive
        // takes a page of its own for nearly every record once the archive is large.
        // Records keep no index of their splice time: the ordinal holds it, so a range of
        // days is a range of ordinals read through the indexes every order has. The index
        // by job holds the records that have one: a download (of no job) writes nothing
        // to it, and naming records moves none out of the run of every record without a
        // job; those are read in the archive's order, taking the ones without a job.
        {12, R"sql(
DROP INDEX IF EXISTS records_by_time;
DROP INDEX IF EXISTS records_by_splicer_time;
DROP INDEX records_by_job_ordinal;
CREATE INDEX records_by_job_ordinal ON records(job, ordinal) WHERE job IS NOT NULL;
)sql"},
        // Nor an index in the order of the whole archive (by ordinal, result or loss):
        // a download interleaved with the archive took a page for nearly every record
        // in each. Those orders are read one splicer at a time, on the indexes led by
        // the splicer, and merged (sql::EachSplicerSql); the id orders the records of
        // one second (archive_order.h). The larger cleave angle (bytes 11-14) becomes a
        // column: the largest loss and angle of the splices a splicer passed, each one
        // seek, tell whether any record is over a limit. The splicer's failures, few,
        // are ordered by loss on an index of their own.
        {13, R"sql(
DROP INDEX records_by_ordinal;
DROP INDEX records_by_result;
DROP INDEX records_by_loss;
ALTER TABLE records ADD COLUMN angle INTEGER;
)sql"
             "UPDATE records SET angle = max(" +
                 RecordByteSql(11) + " + 256 * " + RecordByteSql(12) + ", " + RecordByteSql(13) +
                 " + 256 * " + RecordByteSql(14) + ");" + R"sql(
CREATE INDEX records_passed_by_loss ON records(splicer_id, loss) WHERE result = 0;
CREATE INDEX records_passed_by_angle ON records(splicer_id, angle) WHERE result = 0;
CREATE INDEX records_failed_by_loss ON records(splicer_id, loss, ordinal) WHERE result > 0;
)sql"},
    };
    return steps;
}

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
    for (const MigrationStep& step : Steps()) {
        if (step.version > target) break;
        int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        int version = 0;
        if (rc == SQLITE_OK) rc = UserVersion(db, &version);
        if (rc == SQLITE_OK && version < step.version) {
            rc = sqlite3_exec(db, step.sql.c_str(), nullptr, nullptr, nullptr);
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
    return Steps();
}

int SchemaVersion() {
    return Steps().back().version;
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
