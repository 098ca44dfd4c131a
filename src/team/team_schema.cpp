#include "team/team_schema.h"

#include <array>
#include <charconv>

#include "archive/change_order.h"
#include "archive/record_identity.h"

namespace velmora::team {
namespace {

// Records, images and settings snapshots are never changed or deleted once sent:
// the group roles may only insert and read them, and a trigger refuses an update,
// a delete or a truncation from anyone, the owner included. Every row says which
// laptop sent it, and the server itself fills in which database user and when, so
// neither can be claimed by a client. Unique keys carry the identity rules (a
// splicer is its whole serial number, or its folder name while that is unknown; a
// record its splicer and its 34 bytes; an image its splicer, stamp and SHA-256; a
// snapshot its splicer, time, reason and bytes), so sending a row again adds nothing.
// A splice time is the splicer's own clock (no time zone): NULL when its fields do
// not form a real date.
std::string JobsByIdStep();
const TeamStep kSteps[] = {
    {1, R"sql(
CREATE TABLE velmora.archive (
    only_row   boolean PRIMARY KEY DEFAULT true CHECK (only_row),
    archive_id uuid NOT NULL DEFAULT gen_random_uuid(),
    created    timestamptz NOT NULL DEFAULT now()
);
INSERT INTO velmora.archive DEFAULT VALUES;

CREATE FUNCTION velmora.stamp_sender() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.sent_by := session_user;
    NEW.received := now();
    RETURN NEW;
END $$;
CREATE FUNCTION velmora.refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'the team archive never changes or deletes % once sent', TG_TABLE_NAME
        USING ERRCODE = 'insufficient_privilege';
END $$;

CREATE TABLE velmora.splicers (
    id         bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    serial     text NOT NULL,
    folder     text NOT NULL,
    folder_key text GENERATED ALWAYS AS (CASE WHEN serial = '' THEN folder ELSE '' END) STORED,
    laptop     uuid NOT NULL,
    sent_by    text NOT NULL DEFAULT session_user,
    received   timestamptz NOT NULL DEFAULT now(),
    UNIQUE (serial, folder_key)
);
CREATE TABLE velmora.records (
    id          bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    splicer_id  bigint NOT NULL REFERENCES velmora.splicers(id),
    bytes       bytea NOT NULL CHECK (length(bytes) = 34),
    splice_time timestamp,
    downloaded  timestamptz NOT NULL,
    laptop      uuid NOT NULL,
    sent_by     text NOT NULL DEFAULT session_user,
    received    timestamptz NOT NULL DEFAULT now(),
    UNIQUE (splicer_id, bytes)
);
CREATE INDEX records_by_time ON velmora.records(splice_time);
CREATE INDEX records_by_splicer_time ON velmora.records(splicer_id, splice_time);
CREATE TABLE velmora.images (
    id          bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    splicer_id  bigint NOT NULL REFERENCES velmora.splicers(id),
    stamp       text NOT NULL,
    splice_time timestamp,
    file_name   text NOT NULL,
    size        bigint NOT NULL,
    sha256      text NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
    jpeg        bytea CHECK (jpeg IS NULL OR length(jpeg) = size),
    stored      timestamptz NOT NULL,
    laptop      uuid NOT NULL,
    sent_by     text NOT NULL DEFAULT session_user,
    received    timestamptz NOT NULL DEFAULT now(),
    UNIQUE (splicer_id, stamp, sha256)
);
CREATE INDEX images_by_time ON velmora.images(splicer_id, splice_time);
-- groups: each parameter record given, by kind: its kind (one byte), then its bytes.
CREATE TABLE velmora.snapshots (
    id         bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    splicer_id bigint NOT NULL REFERENCES velmora.splicers(id),
    taken      timestamptz NOT NULL,
    reason     text NOT NULL,
    groups     bytea NOT NULL,
    laptop     uuid NOT NULL,
    sent_by    text NOT NULL DEFAULT session_user,
    received   timestamptz NOT NULL DEFAULT now(),
    UNIQUE (splicer_id, taken, reason, groups)
);

CREATE TRIGGER splicers_stamp BEFORE INSERT ON velmora.splicers
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_sender();
CREATE TRIGGER records_stamp BEFORE INSERT ON velmora.records
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_sender();
CREATE TRIGGER images_stamp BEFORE INSERT ON velmora.images
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_sender();
CREATE TRIGGER snapshots_stamp BEFORE INSERT ON velmora.snapshots
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_sender();
CREATE TRIGGER splicers_kept BEFORE UPDATE OR DELETE ON velmora.splicers
    FOR EACH ROW EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER records_kept BEFORE UPDATE OR DELETE ON velmora.records
    FOR EACH ROW EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER images_kept BEFORE UPDATE OR DELETE ON velmora.images
    FOR EACH ROW EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER snapshots_kept BEFORE UPDATE OR DELETE ON velmora.snapshots
    FOR EACH ROW EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER splicers_kept_whole BEFORE TRUNCATE ON velmora.splicers
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER records_kept_whole BEFORE TRUNCATE ON velmora.records
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER images_kept_whole BEFORE TRUNCATE ON velmora.images
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER snapshots_kept_whole BEFORE TRUNCATE ON velmora.snapshots
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.refuse_change();

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'velmora_technician') THEN
        CREATE ROLE velmora_technician NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'velmora_office') THEN
        CREATE ROLE velmora_office NOLOGIN;
    END IF;
END $$;
GRANT velmora_technician TO velmora_office;
GRANT USAGE ON SCHEMA velmora TO velmora_technician;
GRANT SELECT ON velmora.schema_version, velmora.archive TO velmora_technician;
GRANT SELECT, INSERT ON velmora.splicers, velmora.records, velmora.images, velmora.snapshots
    TO velmora_technician;
)sql"},
    // Reading the team archive in step with it: row ids are handed out before their
    // transactions commit, so a reader going by ids would miss a row committed after
    // a higher one. Each row keeps the transaction that sent it instead; a reader
    // takes every row of a transaction at or above the oldest one still running when
    // it last read (pg_snapshot_xmin), and a row read twice is taken once.
    {2, R"sql(
ALTER TABLE velmora.records ADD COLUMN tx xid8 NOT NULL DEFAULT pg_current_xact_id();
ALTER TABLE velmora.images ADD COLUMN tx xid8 NOT NULL DEFAULT pg_current_xact_id();
ALTER TABLE velmora.snapshots ADD COLUMN tx xid8 NOT NULL DEFAULT pg_current_xact_id();
CREATE INDEX records_by_tx ON velmora.records(tx);
CREATE INDEX images_by_tx ON velmora.images(tx);
CREATE INDEX snapshots_by_tx ON velmora.snapshots(tx);
)sql"},
    // Jobs edited on laptops and in the office. Every change a laptop made (to a
    // job, closure, cable, tray or position known by its id, or to a record's job,
    // position or test mark, the record known as "<its 34 bytes in hex>:s<serial>"
    // or ":f<folder>") is kept here once (by its laptop and that laptop's id for it)
    // and never changed. The server stamps who sent it and when, and its effective
    // time: the laptop's own time, or, when the laptop's clock was more than five
    // minutes off the server's when it sent (laptop_clock), that time moved by the
    // difference; never later than the server received it. The latest change to a
    // field wins, by (effective, laptop, change_id), the order every laptop uses too;
    // the winners are kept in velmora.fields, one row per entity and field, by a
    // trigger (it alone writes there), so a job's state and a job's splices are an
    // index lookup away. One table for every kind rather than one per kind: the
    // winner rule is one statement, and a field added later needs no new column.
    // The changes that lost stay in velmora.changes; velmora.lost_changes lists
    // those that lost to another laptop's. Members are given velmora_technician or
    // velmora_office with GRANT by the database's administrator.
    {3, R"sql(
CREATE TABLE velmora.changes (
    id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    laptop       uuid NOT NULL,
    change_id    bigint NOT NULL,
    kind         text NOT NULL
                 CHECK (kind IN ('job', 'closure', 'cable', 'tray', 'position', 'record')),
    entity       text NOT NULL CHECK (kind <> 'record' OR entity ~ '^[0-9a-f]{68}:[sf]'),
    field        text NOT NULL,
    value        text,
    changed_at   timestamptz NOT NULL,
    author       text NOT NULL,
    laptop_clock timestamptz NOT NULL,
    effective    timestamptz,
    sent_by      text NOT NULL DEFAULT session_user,
    received     timestamptz NOT NULL DEFAULT now(),
    tx           xid8 NOT NULL DEFAULT pg_current_xact_id(),
    UNIQUE (laptop, change_id)
);
CREATE INDEX changes_by_tx ON velmora.changes(tx);
CREATE INDEX changes_by_entity ON velmora.changes(kind, entity, field);
CREATE TABLE velmora.fields (
    kind      text NOT NULL,
    entity    text NOT NULL,
    field     text NOT NULL,
    value     text,
    effective timestamptz NOT NULL,
    laptop    uuid NOT NULL,
    change_id bigint NOT NULL,
    change    bigint NOT NULL REFERENCES velmora.changes(id),
    record_id bigint REFERENCES velmora.records(id),
    tx        xid8 NOT NULL,
    PRIMARY KEY (kind, entity, field)
);
CREATE INDEX fields_record_job ON velmora.fields(value, record_id)
    WHERE kind = 'record' AND field = 'job';
CREATE INDEX fields_by_parent ON velmora.fields(field, value)
    WHERE kind <> 'record' AND field IN ('job', 'closure', 'tray', 'name');

CREATE FUNCTION velmora.stamp_change() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    skew interval;
BEGIN
    NEW.sent_by := session_user;
    NEW.received := now();
    NEW.tx := pg_current_xact_id();
    skew := NEW.received - NEW.laptop_clock;
    NEW.effective := date_trunc('second', NEW.changed_at);
    IF abs(extract(epoch FROM skew)) > 300 THEN
        NEW.effective := date_trunc('second', NEW.changed_at + skew);
    END IF;
    NEW.effective := least(NEW.effective, date_trunc('second', NEW.received));
    RETURN NEW;
END $$;
CREATE FUNCTION velmora.keep_winner() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = velmora, pg_temp AS $$
DECLARE
    found bigint;
BEGIN
    IF NEW.kind = 'record' THEN
        SELECT r.id INTO found FROM velmora.records r
            JOIN velmora.splicers s ON s.id = r.splicer_id
            WHERE r.bytes = decode(left(NEW.entity, 68), 'hex')
              AND s.serial = CASE WHEN substr(NEW.entity, 70, 1) = 's'
                                  THEN substr(NEW.entity, 71) ELSE '' END
              AND s.folder_key = CASE WHEN substr(NEW.entity, 70, 1) = 'f'
                                      THEN substr(NEW.entity, 71) ELSE '' END;
    END IF;
    INSERT INTO velmora.fields AS f
        (kind, entity, field, value, effective, laptop, change_id, change, record_id, tx)
        VALUES (NEW.kind, NEW.entity, NEW.field, NEW.value, NEW.effective, NEW.laptop,
                NEW.change_id, NEW.id, found, NEW.tx)
    ON CONFLICT (kind, entity, field) DO UPDATE
        SET value = EXCLUDED.value, effective = EXCLUDED.effective, laptop = EXCLUDED.laptop,
            change_id = EXCLUDED.change_id, change = EXCLUDED.change,
            record_id = coalesce(EXCLUDED.record_id, f.record_id), tx = EXCLUDED.tx
        WHERE (EXCLUDED.effective, EXCLUDED.laptop, EXCLUDED.change_id)
              > (f.effective, f.laptop, f.change_id);
    RETURN NULL;
END $$;
CREATE TRIGGER changes_stamp BEFORE INSERT ON velmora.changes
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_change();
CREATE TRIGGER changes_win AFTER INSERT ON velmora.changes
    FOR EACH ROW EXECUTE FUNCTION velmora.keep_winner();
CREATE TRIGGER changes_kept BEFORE UPDATE OR DELETE ON velmora.changes
    FOR EACH ROW EXECUTE FUNCTION velmora.refuse_change();
CREATE TRIGGER changes_kept_whole BEFORE TRUNCATE ON velmora.changes
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.refuse_change();

CREATE VIEW velmora.lost_changes AS
    SELECT c.kind, c.entity, c.field, c.value, c.author, c.laptop, c.sent_by, c.effective,
           f.value AS winning_value, w.author AS winning_author, w.effective AS winning_effective
    FROM velmora.changes c
    JOIN velmora.fields f ON f.kind = c.kind AND f.entity = c.entity AND f.field = c.field
    JOIN velmora.changes w ON w.id = f.change
    WHERE c.id <> f.change AND c.laptop <> f.laptop;

GRANT SELECT, INSERT ON velmora.changes TO velmora_technician;
GRANT SELECT ON velmora.fields, velmora.lost_changes TO velmora_technician;
)sql"},
    // How far each laptop's outbox was taken, per kind (0 records, 1 images, 2
    // settings snapshots, 3 job changes): the laptop's own id of the last row of its
    // last batch, written in that batch's transaction. A team archive restored from
    // a backup has the marks of the backup, so a laptop sends again what it lost;
    // a laptop whose archive was restored learns which of its change ids are taken.
    // Laptops that sent before this step have no marks and send everything once more.
    // A record's job is listed with it. The office makes a user a technician
    // (GRANT velmora_technician TO user), without being the database's administrator.
    {4, R"sql(
CREATE TABLE velmora.sent_marks (
    laptop  uuid NOT NULL,
    kind    smallint NOT NULL CHECK (kind BETWEEN 0 AND 3),
    up_to   bigint NOT NULL,
    sent_by text NOT NULL DEFAULT session_user,
    updated timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (laptop, kind)
);
INSERT INTO velmora.sent_marks(laptop, kind, up_to)
    SELECT laptop, 3, max(change_id) FROM velmora.changes GROUP BY laptop;
GRANT SELECT, INSERT, UPDATE ON velmora.sent_marks TO velmora_technician;
CREATE INDEX fields_by_record ON velmora.fields(record_id)
    WHERE kind = 'record' AND field = 'job';
GRANT velmora_technician TO velmora_office WITH ADMIN OPTION;
)sql"},
    // The server holds its rules for every client, psql included, and believes of a
    // row only what its sender can vouch for. A laptop's id belongs to the database
    // user that first sent from it (velmora.laptops, filled from what was sent before
    // this step; the office may hand a laptop to another user): a row claiming
    // another user's laptop, or moving its sent marks, is refused. What the server
    // can work out itself it checks: a record's splice time is that of its bytes
    // (NULL when they form no date), an image's that of its stamp, an image's SHA-256
    // that of its JPEG bytes; a row that says otherwise is refused (rows sent before
    // this step are kept as they are). An image sent without its bytes (its file
    // was gone) takes them later, once, from any laptop that has them. The author of
    // a job change is the database user that sent it.
    {5, R"sql(
CREATE TABLE velmora.laptops (
    laptop     uuid PRIMARY KEY,
    owner      text NOT NULL,
    first_sent timestamptz NOT NULL DEFAULT now()
);
INSERT INTO velmora.laptops(laptop, owner, first_sent)
    SELECT DISTINCT ON (laptop) laptop, sent_by, received FROM (
        SELECT laptop, sent_by, received FROM velmora.splicers
        UNION ALL SELECT laptop, sent_by, received FROM velmora.records
        UNION ALL SELECT laptop, sent_by, received FROM velmora.images
        UNION ALL SELECT laptop, sent_by, received FROM velmora.snapshots
        UNION ALL SELECT laptop, sent_by, received FROM velmora.changes
        UNION ALL SELECT laptop, sent_by, updated FROM velmora.sent_marks) AS sent
    ORDER BY laptop, received;

CREATE FUNCTION velmora.claim_laptops(claimed uuid[]) RETURNS void LANGUAGE plpgsql
    SECURITY DEFINER SET search_path = velmora, pg_temp AS $$
DECLARE
    taken record;
BEGIN
    INSERT INTO velmora.laptops(laptop, owner)
        SELECT DISTINCT l, session_user FROM unnest(claimed) AS l ON CONFLICT DO NOTHING;
    SELECT l.laptop, l.owner INTO taken FROM velmora.laptops l
        WHERE l.laptop = ANY (claimed) AND l.owner <> session_user LIMIT 1;
    IF FOUND THEN
        RAISE EXCEPTION 'laptop % sends as the user %, not as %', taken.laptop, taken.owner,
            session_user USING ERRCODE = 'insufficient_privilege';
    END IF;
END $$;
CREATE FUNCTION velmora.check_sent_laptops() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    PERFORM velmora.claim_laptops(ARRAY(SELECT DISTINCT laptop FROM sent));
    RETURN NULL;
END $$;
CREATE TRIGGER splicers_laptops AFTER INSERT ON velmora.splicers REFERENCING NEW TABLE AS sent
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.check_sent_laptops();
CREATE TRIGGER records_laptops AFTER INSERT ON velmora.records REFERENCING NEW TABLE AS sent
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.check_sent_laptops();
CREATE TRIGGER images_laptops AFTER INSERT ON velmora.images REFERENCING NEW TABLE AS sent
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.check_sent_laptops();
CREATE TRIGGER snapshots_laptops AFTER INSERT ON velmora.snapshots REFERENCING NEW TABLE AS sent
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.check_sent_laptops();
CREATE TRIGGER changes_laptops AFTER INSERT ON velmora.changes REFERENCING NEW TABLE AS sent
    FOR EACH STATEMENT EXECUTE FUNCTION velmora.check_sent_laptops();
CREATE FUNCTION velmora.stamp_mark() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF TG_OP = 'UPDATE' THEN
        PERFORM velmora.claim_laptops(ARRAY[OLD.laptop, NEW.laptop]);
    ELSE
        PERFORM velmora.claim_laptops(ARRAY[NEW.laptop]);
    END IF;
    NEW.sent_by := session_user;
    NEW.updated := now();
    RETURN NEW;
END $$;
CREATE TRIGGER sent_marks_stamp BEFORE INSERT OR UPDATE ON velmora.sent_marks
    FOR EACH ROW EXECUTE FUNCTION velmora.stamp_mark();
GRANT SELECT ON velmora.laptops TO velmora_technician;
GRANT UPDATE (owner) ON velmora.laptops TO velmora_office;

-- The splicer's own clock as a time, NULL when its fields form no real date and time.
CREATE FUNCTION velmora.splice_time(y int, mo int, d int, h int, mi int, s int)
    RETURNS timestamp LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
    SELECT CASE WHEN y BETWEEN 1 AND 9999 AND mo BETWEEN 1 AND 12 AND d BETWEEN 1 AND 31
                     AND h BETWEEN 0 AND 23 AND mi BETWEEN 0 AND 59 AND s BETWEEN 0 AND 59
                     AND extract(month FROM timestamp '2000-01-01'
                                 + make_interval(years => y - 2000, months => mo - 1,
                                                 days => d - 1)) = mo
                THEN timestamp '2000-01-01' + make_interval(y - 2000, mo - 1, 0, d - 1, h, mi, s)
           END
$$;
-- A record's first six bytes: year - 2000, month, day, hour, minute, second.
CREATE FUNCTION velmora.record_time(bytes bytea) RETURNS timestamp LANGUAGE sql IMMUTABLE
    PARALLEL SAFE AS $$
    SELECT velmora.splice_time(2000 + get_byte(bytes, 0), get_byte(bytes, 1), get_byte(bytes, 2),
                               get_byte(bytes, 3), get_byte(bytes, 4), get_byte(bytes, 5))
$$;
-- An image's stamp: "YYYYMMDDhhmmss".
CREATE FUNCTION velmora.stamp_time(stamp text) RETURNS timestamp LANGUAGE sql IMMUTABLE
    PARALLEL SAFE AS $$
    SELECT CASE WHEN stamp ~ '^[0-9]{14}$'
                THEN velmora.splice_time(substr(stamp, 1, 4)::int, substr(stamp, 5, 2)::int,
                                         substr(stamp, 7, 2)::int, substr(stamp, 9, 2)::int,
                                         substr(stamp, 11, 2)::int, substr(stamp, 13, 2)::int)
           END
$$;
ALTER TABLE velmora.records ADD CONSTRAINT records_time_of_bytes
    CHECK (splice_time IS NOT DISTINCT FROM velmora.record_time(bytes)) NOT VALID;
ALTER TABLE velmora.images ADD CONSTRAINT images_time_of_stamp
    CHECK (splice_time IS NOT DISTINCT FROM velmora.stamp_time(stamp)) NOT VALID;
ALTER TABLE velmora.images ADD CONSTRAINT images_sha256_of_bytes
    CHECK (jpeg IS NULL OR sha256 = encode(sha256(jpeg), 'hex')) NOT VALID;

CREATE FUNCTION velmora.keep_image() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF TG_OP = 'UPDATE' AND OLD.jpeg IS NULL AND NEW.jpeg IS NOT NULL
       AND (NEW.id, NEW.splicer_id, NEW.stamp, NEW.splice_time, NEW.file_name, NEW.sha256,
            NEW.stored, NEW.laptop, NEW.sent_by, NEW.received)
           IS NOT DISTINCT FROM (OLD.id, OLD.splicer_id, OLD.stamp, OLD.splice_time,
                                 OLD.file_name, OLD.sha256, OLD.stored, OLD.laptop,
                                 OLD.sent_by, OLD.received) THEN
        NEW.tx := pg_current_xact_id();  -- readers take the bytes as they take new rows
        RETURN NEW;
    END IF;
    RAISE EXCEPTION 'the team archive never changes or deletes % once sent', TG_TABLE_NAME
        USING ERRCODE = 'insufficient_privilege';
END $$;
DROP TRIGGER images_kept ON velmora.images;
CREATE TRIGGER images_kept BEFORE UPDATE OR DELETE ON velmora.images
    FOR EACH ROW EXECUTE FUNCTION velmora.keep_image();
GRANT UPDATE (jpeg, size) ON velmora.images TO velmora_technician;

CREATE OR REPLACE FUNCTION velmora.stamp_change() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    skew interval;
BEGIN
    NEW.sent_by := session_user;
    NEW.author := session_user;
    NEW.received := now();
    NEW.tx := pg_current_xact_id();
    skew := NEW.received - NEW.laptop_clock;
    NEW.effective := date_trunc('second', NEW.changed_at);
    IF abs(extract(epoch FROM skew)) > 300 THEN
        NEW.effective := date_trunc('second', NEW.changed_at + skew);
    END IF;
    NEW.effective := least(NEW.effective, date_trunc('second', NEW.received));
    RETURN NEW;
END $$;
)sql"},
    {6, JobsByIdStep()},
};

// A record's job is a field like any other: its value is the job's id (it was the
// job's name), so that a job renamed anywhere keeps its records everywhere. The job
// names kept before become the ids of the jobs of those names (of two jobs of one
// name, the latest named), in the changes as in their winners: the one rewriting of
// velmora.changes, done by its owner here. A job is read by the ids of the parents
// its entities were ever given (changes_by_parent). The winner of a field is kept by
// the order every laptop uses (archive/change_order.h), a record found by its
// identity through velmora.record_of (archive/record_identity.h): both made from the
// definitions the laptops use.
std::string JobsByIdStep() {
    const std::string jobOfName =
        "(SELECT DISTINCT ON (value) value AS name, entity FROM velmora.fields "
        "WHERE kind = 'job' AND field = 'name' ORDER BY value, " +
        archive::LatestFirstPostgres() + ")";
    return R"sql(
CREATE INDEX changes_by_parent ON velmora.changes(field, value)
    WHERE field IN ('job', 'closure', 'tray');
)sql" + archive::RecordOfIdentitySql() +
           R"sql(
CREATE OR REPLACE FUNCTION velmora.keep_winner() RETURNS trigger LANGUAGE plpgsql
    SECURITY DEFINER SET search_path = velmora, pg_temp AS $$
BEGIN
    INSERT INTO velmora.fields AS f
        (kind, entity, field, value, effective, laptop, change_id, change, record_id, tx)
        VALUES (NEW.kind, NEW.entity, NEW.field, NEW.value, NEW.effective, NEW.laptop,
                NEW.change_id, NEW.id,
                CASE WHEN NEW.kind = 'record' THEN velmora.record_of(NEW.entity) END, NEW.tx)
    ON CONFLICT (kind, entity, field) DO UPDATE
        SET value = EXCLUDED.value, effective = EXCLUDED.effective, laptop = EXCLUDED.laptop,
            change_id = EXCLUDED.change_id, change = EXCLUDED.change,
            record_id = coalesce(EXCLUDED.record_id, f.record_id), tx = EXCLUDED.tx
        WHERE )sql" +
           archive::IsLaterPostgres("EXCLUDED", "f") + R"sql(;
    RETURN NULL;
END $$;
ALTER TABLE velmora.changes DISABLE TRIGGER changes_kept;
UPDATE velmora.changes c SET value = j.entity FROM )sql" +
           jobOfName + R"sql( j
    WHERE c.kind = 'record' AND c.field = 'job' AND c.value = j.name;
ALTER TABLE velmora.changes ENABLE TRIGGER changes_kept;
UPDATE velmora.fields f SET value = j.entity FROM )sql" +
           jobOfName + R"sql( j
    WHERE f.kind = 'record' AND f.field = 'job' AND f.value = j.name;
)sql";
}

// Serialises every program that brings this database's schema up to date.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7436501)";

// The highest step applied, in `version`; 0 for none.
TeamError AppliedVersion(Connection& connection, int& version) {
    const auto rows =
        connection.Run("SELECT coalesce(max(version), 0) FROM velmora.schema_version");
    if (!rows) return connection.LastError();
    const std::string* text = rows->size() == 1 && !rows->front().empty() && rows->front()[0]
                                  ? &*rows->front()[0]
                                  : nullptr;
    if (!text ||
        std::from_chars(text->data(), text->data() + text->size(), version).ec != std::errc{})
        return {TeamErrorCode::ProtocolError, "no schema version in the answer"};
    return {};
}

TeamError TooNewError(int version) {
    return {TeamErrorCode::TooNew, "schema version " + std::to_string(version) +
                                       ", this program knows up to " +
                                       std::to_string(TeamSchemaVersion())};
}

}  // namespace

std::span<const TeamStep> TeamSteps() {
    return kSteps;
}

int TeamSchemaVersion() {
    return std::span(kSteps).back().version;
}

TeamError InitialiseTeamArchive(Connection& connection) {
    if (!connection.Begin()) return connection.LastError();
    auto fail = [&]() {
        const TeamError error = connection.LastError();
        connection.Rollback();
        return error;
    };
    // A step may take long on a large team archive: no limit on it, on either side.
    connection.SetSilenceLimit({});
    if (!connection.RunScript("SET LOCAL statement_timeout = 0") ||
        !connection.RunScript(kMigrationLock) ||
        !connection.RunScript("CREATE SCHEMA IF NOT EXISTS velmora;"
                              "CREATE TABLE IF NOT EXISTS velmora.schema_version ("
                              "    version integer PRIMARY KEY,"
                              "    applied timestamptz NOT NULL DEFAULT now())"))
        return fail();
    int version = 0;
    if (TeamError error = AppliedVersion(connection, version); !error.ok()) {
        connection.Rollback();
        return error;
    }
    if (version > TeamSchemaVersion()) {
        connection.Rollback();
        return TooNewError(version);
    }
    for (const TeamStep& step : kSteps) {
        if (step.version <= version) continue;
        const std::string number = std::to_string(step.version);
        const std::array values{Value::Text(number)};
        if (!connection.RunScript(step.sql) ||
            !connection.Run("INSERT INTO velmora.schema_version(version) VALUES ($1::integer)",
                            values))
            return fail();
    }
    if (!connection.Commit()) return fail();
    return {};
}

TeamError CheckTeamArchive(Connection& connection, std::string& archiveId) {
    int version = 0;
    if (TeamError error = AppliedVersion(connection, version); !error.ok()) return error;
    if (version > TeamSchemaVersion()) return TooNewError(version);
    if (version < TeamSchemaVersion())
        return {TeamErrorCode::NotInitialised,
                "schema version " + std::to_string(version) + ", this program sends to " +
                    std::to_string(TeamSchemaVersion()) + ": run team init"};
    const auto rows = connection.Run("SELECT archive_id FROM velmora.archive");
    if (!rows) return connection.LastError();
    if (rows->size() != 1 || !rows->front().at(0))
        return {TeamErrorCode::ProtocolError, "the team archive has no id"};
    archiveId = *rows->front().at(0);
    return {};
}

}  // namespace velmora::team
