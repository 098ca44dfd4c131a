#include "team/team_pull.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <map>
#include <utility>
#include <vector>

#include "archive/job_log.h"
#include "archive/record_identity.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/sha256.h"
#include "jobs/fibre_colours.h"
#include "settings/device_folder.h"
#include "team/team_values.h"

namespace velmora::team {
namespace {

using Kind = LeftOutRow::Kind;

bool SafeFolder(const std::string& folder) {
    return !folder.empty() && SafeFolderName(folder) == folder;
}

bool PlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0:", 4)) == std::string::npos;
}

std::string Sha256Text(std::string_view bytes) {
    return HexText(Sha256Of({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

// ---- what a logged change may set ----

// The values the archive's triggers log for each field.
enum class ValueType { Text, Integer, Real, Id, Flag };
struct LoggedField {
    std::string_view kind;
    std::string_view field;
    ValueType type;
};
constexpr LoggedField kLoggedFields[] = {
    {"job", "name", ValueType::Text},          {"job", "customer", ValueType::Text},
    {"job", "contractor", ValueType::Text},    {"job", "technicians", ValueType::Text},
    {"job", "notes", ValueType::Text},         {"job", "max_loss", ValueType::Integer},
    {"job", "max_angle", ValueType::Integer},  {"closure", "job", ValueType::Id},
    {"closure", "name", ValueType::Text},      {"closure", "location", ValueType::Text},
    {"closure", "latitude", ValueType::Real},  {"closure", "longitude", ValueType::Real},
    {"closure", "notes", ValueType::Text},     {"cable", "closure", ValueType::Id},
    {"cable", "name", ValueType::Text},        {"cable", "fibres", ValueType::Integer},
    {"cable", "per_tube", ValueType::Integer}, {"tray", "closure", ValueType::Id},
    {"tray", "number", ValueType::Integer},    {"tray", "capacity", ValueType::Integer},
    {"position", "tray", ValueType::Id},       {"position", "number", ValueType::Integer},
    {"position", "cable_a", ValueType::Id},    {"position", "fibre_a", ValueType::Integer},
    {"position", "cable_b", ValueType::Id},    {"position", "fibre_b", ValueType::Integer},
    {"record", "job", ValueType::Id},          {"record", "position", ValueType::Id},
    {"record", "test", ValueType::Flag},
};

std::optional<ValueType> TypeOf(std::string_view kind, std::string_view field) {
    for (const LoggedField& f : kLoggedFields)
        if (f.kind == kind && f.field == field) return f.type;
    // Every kind but a record is deleted as a whole.
    const bool known = std::find(std::begin(archive::kChangeKinds), std::end(archive::kChangeKinds),
                                 kind) != std::end(archive::kChangeKinds);
    if (known && kind != "record" && field == "deleted") return ValueType::Flag;
    return std::nullopt;
}

// An id as the archives make them for jobs, closures, cables, trays and positions
// (and the team archive for laptops): 8-4-4-4-12 lowercase hex digits.
bool IsEntityId(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// The whole text as a decimal number, or nothing.
template <class Number>
std::optional<Number> Parsed(std::string_view text) {
    Number n{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return n;
}

int Narrowed(std::int64_t n) {
    return static_cast<int>(std::clamp<std::int64_t>(n, INT_MIN, INT_MAX));
}

// The job store's check of the details the field is part of, the other details set
// to what it takes. `text` is the value; `n` and `x` it as a number, where it is one.
std::optional<jobs::JobResult> StoreProblem(std::string_view kind, std::string_view field,
                                            const std::string& text, std::int64_t n, double x) {
    if (kind == "job") {
        jobs::JobDetails d{.name = "-"};
        if (field == "name") d.name = text;
        if (field == "customer") d.customer = text;
        if (field == "contractor") d.contractor = text;
        if (field == "technicians") d.technicians = text;
        if (field == "notes") d.notes = text;
        if (field == "max_loss") d.limits.maxLoss = Narrowed(n);
        if (field == "max_angle") d.limits.maxAngle = Narrowed(n);
        return jobs::DetailsProblem(d);
    }
    if (kind == "closure") {
        jobs::ClosureDetails d{.name = "-"};
        if (field == "name") d.name = text;
        if (field == "location") d.location = text;
        if (field == "notes") d.notes = text;
        if (field == "latitude") d.point = jobs::GeoPoint{x, 0};
        if (field == "longitude") d.point = jobs::GeoPoint{0, x};
        return jobs::DetailsProblem(d);
    }
    if (kind == "cable") {
        jobs::CableDetails d{.name = "-", .fibres = jobs::kMaxFibres, .perTube = 1};
        if (field == "name") d.name = text;
        if (field == "fibres") d.fibres = Narrowed(n);
        if (field == "per_tube") d.perTube = Narrowed(n);
        return jobs::DetailsProblem(d);
    }
    // A tray's and a position's numbers and a position's fibres count from 1, as a tray's do.
    if (kind == "tray" && field == "capacity")
        return jobs::DetailsProblem(jobs::TrayDetails{1, Narrowed(n)});
    if (kind == "tray" || kind == "position")
        return jobs::DetailsProblem(jobs::TrayDetails{Narrowed(n), 1});
    return std::nullopt;
}

// ---- the server's rows ----

// The records `r` of the job $n (the job's id, as the team archive's changes left
// it) with their splicers `s`, found on the job's index; or all records.
std::string RecordsOfJob(const std::string& job) {
    if (job.empty())
        return "velmora.records r JOIN velmora.splicers s ON s.id = r.splicer_id WHERE true";
    return "velmora.fields f JOIN velmora.records r ON r.id = f.record_id "
           "JOIN velmora.splicers s ON s.id = r.splicer_id WHERE f.kind = 'record' AND "
           "f.field = 'job' AND f.value = " +
           job;
}

// The entities whose changes a read of the job $job takes, with whether all of their
// changes are taken (`whole`) or those from the mark $from on: the job; the closures
// ever given to it, their cables and trays, the trays' positions; the records it ever
// had (all the changes of one that came to it since the mark, as it came with its
// past); and the jobs its records went to since the mark (so that they go there here
// too). Parents are followed by the ids the changes name, so a renaming moves nothing.
std::string EntitiesOfJob(const std::string& job, const std::string& from) {
    return "WITH cl AS (SELECT DISTINCT entity FROM velmora.changes WHERE field = 'job' AND "
           "kind = 'closure' AND value = " +
           job +
           "), ct AS (SELECT DISTINCT kind, entity FROM velmora.changes WHERE field = 'closure' "
           "AND kind IN ('cable', 'tray') AND value IN (SELECT entity FROM cl)), "
           "po AS (SELECT DISTINCT entity FROM velmora.changes WHERE field = 'tray' AND "
           "kind = 'position' AND value IN (SELECT entity FROM ct WHERE kind = 'tray')), "
           "re AS (SELECT entity, bool_or(tx >= " +
           from +
           "::xid8) AS came FROM velmora.changes WHERE field = 'job' AND kind = 'record' "
           "AND value = " +
           job +
           " GROUP BY entity), "
           "went AS (SELECT DISTINCT c.value AS entity FROM velmora.changes c JOIN re ON "
           "re.entity = c.entity WHERE c.field = 'job' AND c.kind = 'record' AND c.tx >= " +
           from + "::xid8 AND c.value IS NOT NULL AND c.value <> " + job +
           "), ents AS (SELECT 'job'::text AS kind, " + job +
           "::text AS entity, false AS whole UNION ALL SELECT 'closure', entity, false FROM cl "
           "UNION ALL SELECT kind, entity, false FROM ct UNION ALL SELECT 'position', entity, "
           "false FROM po UNION ALL SELECT 'record', entity, came FROM re UNION ALL SELECT "
           "'job', entity, true FROM went) ";
}

// The text of an integer column, as a number; 0 when it is not one (never met: the
// columns are bigint).
std::int64_t Number(const std::optional<std::string>& text) {
    return text ? Parsed<std::int64_t>(*text).value_or(0) : 0;
}

class Puller {
  public:
    Puller(Connection& connection, archive::Archive& into, const PullOptions& options,
           std::string from)
        : connection_(connection),
          into_(into),
          options_(options),
          from_(std::move(from)),
          log_(into, options.laptopId) {}

    bool Begin() { return log_.BeginRead() || LocalFailed(); }
    bool Commit() { return log_.CommitRead() || LocalFailed(); }

    // The records above the mark (of the job, when one is asked for), stored a batch
    // at a time, each splicer as the team archive knows it.
    bool Records() {
        Values values;
        const std::string from = values.Text(from_);
        const std::string job = options_.job.empty() ? "" : values.Text(options_.job);
        // A record of the job is new to this archive when it, or its job, is.
        const std::string sql =
            "SELECT r.id, s.serial, s.folder, r.bytes, r.laptop::text, r.sent_by FROM " +
            RecordsOfJob(job) + " AND (r.tx >= " + from + "::xid8" +
            (job.empty() ? "" : " OR f.tx >= " + from + "::xid8") + ") ORDER BY r.id";
        bool stored = true;
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 6) return true;
            const std::string bytes = row[3] ? HexDecoded(*row[3]) : std::string();
            if (!row[1] || !row[2] || bytes.size() != kRecordSize) {
                LeaveOut(Kind::Record, row[0], row[4], row[5], RowProblem::BadRecord);
                return true;
            }
            Batched& b = batch_[{*row[1], *row[2]}];
            std::copy(bytes.begin(), bytes.end(), b.records.emplace_back().bytes.begin());
            b.rows.push_back({row[0].value_or(""), row[4].value_or(""), row[5].value_or("")});
            if (++batched_ >= kBatch) stored = Flush();
            return stored;
        });
        if (!read) return Fail(connection_.LastError());
        return stored && Flush();
    }

    // The images above the mark that came with their bytes, each kept in the archive
    // and written under the data folder as a downloaded one is (FS/<folder>/JPG).
    // An image of the job is one of the time of a record of the job.
    bool Images() {
        Values values;
        const std::string from = values.Text(from_);
        std::string sql =
            "SELECT i.id, s.serial, s.folder, i.stamp, i.file_name, i.sha256, i.jpeg, "
            "i.laptop::text, i.sent_by FROM velmora.images i JOIN velmora.splicers s ON "
            "s.id = i.splicer_id WHERE i.jpeg IS NOT NULL AND i.tx >= " +
            from + "::xid8";
        if (!options_.job.empty())
            sql += " AND EXISTS (SELECT 1 FROM " + RecordsOfJob(values.Text(options_.job)) +
                   " AND r.splicer_id = i.splicer_id AND r.splice_time = i.splice_time)";
        bool stored = true;
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 9) return true;
            for (int i = 1; i <= 6; ++i) {
                if (row[i]) continue;
                LeaveOut(Kind::Image, row[0], row[7], row[8], RowProblem::NotStored,
                         "a column is empty");
                return true;
            }
            stored = StoreImage(row, HexDecoded(*row[6]));
            return stored;
        });
        if (!read) return Fail(connection_.LastError());
        return stored;
    }

    // The changes above the mark (to the job's entities, when one is asked for), each
    // checked as if made here, kept a batch at a time, then applied: the winners
    // written into the job tables.
    bool Changes() {
        Values values;
        const std::string from = values.Text(from_);
        std::string sql;
        if (!options_.job.empty()) sql = EntitiesOfJob(values.Text(options_.job), from);
        sql +=
            "SELECT c.laptop::text, c.change_id, c.kind, c.entity, c.field, c.value, "
            "extract(epoch FROM c.changed_at)::bigint, c.author, "
            "extract(epoch FROM c.effective)::bigint, c.id, c.sent_by FROM velmora.changes c ";
        if (!options_.job.empty())
            sql += "JOIN ents e ON e.kind = c.kind AND e.entity = c.entity WHERE (e.whole OR ";
        else
            sql += "WHERE (";
        sql += "c.tx >= " + from + "::xid8) ORDER BY c.id";
        std::vector<archive::JobChange> batch;
        bool kept = true;
        auto keep = [&] {
            if (options_.stop.stop_requested()) return kept = Fail(StoppedError());
            kept = log_.Keep(batch) || LocalFailed();
            batch.clear();
            return kept;
        };
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 11) return true;
            for (const int i : {0, 1, 2, 3, 4, 6, 7, 8}) {
                if (row[i]) continue;
                LeaveOut(Kind::Change, row[9], row[0], row[10], RowProblem::UnknownField);
                return true;
            }
            archive::JobChange c;
            c.laptop = *row[0];
            c.originId = Number(row[1]);
            c.kind = *row[2];
            c.entity = *row[3];
            c.field = *row[4];
            c.value = row[5];
            c.changedAt = Number(row[6]);
            c.author = *row[7];
            c.effective = Number(row[8]);
            if (std::optional<LeftOutRow> problem = ChangeProblem(c)) {
                problem->row = row[9].value_or("");
                problem->laptop = c.laptop;
                problem->sender = row[10].value_or("");
                outcome.leftOut.push_back(std::move(*problem));
                return true;
            }
            batch.push_back(std::move(c));
            return batch.size() < kBatch || keep();
        });
        if (!read) return Fail(connection_.LastError());
        if (!kept || !keep()) return false;
        const std::optional<archive::Applied> applied = log_.Apply();
        if (!applied) return LocalFailed();
        outcome.changes = static_cast<std::int64_t>(applied->changed);
        for (const archive::UnappliedEntity& u : applied->unapplied)
            outcome.leftOut.push_back({.kind = Kind::Entity,
                                       .row = u.entity,
                                       .what = u.kind,
                                       .problem = RowProblem::NotApplied,
                                       .detail = u.reason});
        return true;
    }

    bool Fail(TeamError error) {
        outcome.error = std::move(error);
        return false;
    }
    bool LocalFailed() { return Fail({TeamErrorCode::LocalArchive, into_.LastError().message}); }

    PullOutcome outcome;

  private:
    static constexpr std::size_t kBatch = 2000;

    // Who sent a row: its id, laptop and sender.
    struct Sent {
        std::string row;
        std::string laptop;
        std::string sender;
    };
    struct Batched {
        std::vector<SpliceRecord> records;
        std::vector<Sent> rows;  // of each record, in step
    };

    void LeaveOut(Kind kind, const std::optional<std::string>& row,
                  const std::optional<std::string>& laptop,
                  const std::optional<std::string>& sender, RowProblem problem,
                  std::string detail = {}) {
        outcome.leftOut.push_back({.kind = kind,
                                   .row = row.value_or(""),
                                   .laptop = laptop.value_or(""),
                                   .sender = sender.value_or(""),
                                   .problem = problem,
                                   .detail = std::move(detail)});
    }

    bool Flush() {
        if (options_.stop.stop_requested()) return Fail(StoppedError());
        for (const auto& [splicer, batched] : batch_) {
            const archive::StoreResult stored =
                into_.StoreDownload({splicer.second, splicer.first}, batched.records, {}, false);
            // A splicer this archive refuses (its folder name, say): its records are left out.
            if (stored.error.code == archive::ErrorCode::InvalidArgument) {
                for (const Sent& s : batched.rows)
                    LeaveOut(Kind::Record, s.row, s.laptop, s.sender, RowProblem::NotStored,
                             stored.error.message);
                continue;
            }
            if (!stored.ok()) return LocalFailed();
            outcome.records += static_cast<std::int64_t>(stored.count);
        }
        batch_.clear();
        batched_ = 0;
        return true;
    }

    // `row`: id, serial, folder, stamp, file name, SHA-256, (bytes), laptop, sender.
    bool StoreImage(const Row& row, const std::string& jpeg) {
        const std::string &serial = *row[1], &folder = *row[2], &stamp = *row[3], &sha256 = *row[5];
        std::string name = *row[4];
        auto leaveOut = [&](RowProblem problem, std::string detail = {}) {
            LeaveOut(Kind::Image, row[0], row[7], row[8], problem, std::move(detail));
            return true;
        };
        // Nothing from the team archive names a path unchecked, nor is taken unverified.
        if (!SafeFolder(folder)) return leaveOut(RowProblem::UnsafeName, folder);
        if (!PlainFileName(name)) return leaveOut(RowProblem::UnsafeName, name);
        if (Sha256Text(jpeg) != sha256) return leaveOut(RowProblem::BadChecksum);
        const std::filesystem::path folderPath = options_.dataFolder / "FS" / folder / "JPG";
        // A file of that name holding another picture (another laptop's list) stays.
        const FileReadResult existing = ReadWholeFile(folderPath / name, jpeg.size() + 1);
        if (existing.ok() && existing.bytes != jpeg)
            name = stamp + "_" + sha256.substr(0, 8) + ".jpg";
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.data());
        const archive::StoreResult stored =
            into_.StoreImage({folder, serial}, {stamp, name, {bytes, jpeg.size()}});
        if (stored.error.code == archive::ErrorCode::InvalidArgument)
            return leaveOut(RowProblem::NotStored, stored.error.message);
        if (!stored.ok()) return LocalFailed();
        if (!existing.ok() || existing.bytes != jpeg) {
            std::error_code ec;
            std::filesystem::create_directories(folderPath, ec);
            const FileWriteResult written = ReplaceFile(folderPath / name, jpeg);
            if (!written.ok) return Fail({TeamErrorCode::LocalArchive, written.reason});
        }
        outcome.images += static_cast<std::int64_t>(stored.count);
        return true;
    }

    Connection& connection_;
    archive::Archive& into_;
    const PullOptions& options_;
    std::string from_;
    archive::JobLog log_;
    std::map<std::pair<std::string, std::string>, Batched> batch_;
    std::size_t batched_ = 0;
};

}  // namespace

std::optional<LeftOutRow> ChangeProblem(const archive::JobChange& c) {
    auto problem = [&](RowProblem p, std::string detail = {}) {
        return LeftOutRow{.kind = Kind::Change,
                          .row = {},
                          .what = c.kind + " " + c.field,
                          .problem = p,
                          .detail = std::move(detail)};
    };
    const std::optional<ValueType> type = TypeOf(c.kind, c.field);
    if (!type) return problem(RowProblem::UnknownField);
    if (!IsEntityId(c.laptop)) return problem(RowProblem::BadIdentity, c.laptop);
    const bool entity = c.kind == "record" ? archive::ParseRecordIdentity(c.entity).has_value()
                                           : IsEntityId(c.entity);
    if (!entity) return problem(RowProblem::BadIdentity, c.entity);
    // No value: no limit, no point, no parent, unmarked; a text's is empty.
    if (!c.value && *type != ValueType::Text) return std::nullopt;
    const std::string text = c.value.value_or("");
    std::int64_t n = 0;
    double x = 0;
    switch (*type) {
        case ValueType::Id:
            if (!IsEntityId(text)) return problem(RowProblem::BadIdentity, text);
            return std::nullopt;
        case ValueType::Flag:
            if (text != "1") return problem(RowProblem::NotANumber, text);
            return std::nullopt;
        case ValueType::Integer:
            if (const auto parsed = Parsed<std::int64_t>(text)) {
                n = *parsed;
                break;
            }
            return problem(RowProblem::NotANumber, text);
        case ValueType::Real:
            if (const auto parsed = Parsed<double>(text)) {
                x = *parsed;
                break;
            }
            return problem(RowProblem::NotANumber, text);
        case ValueType::Text:
            break;
    }
    if (std::optional<jobs::JobResult> refused = StoreProblem(c.kind, c.field, text, n, x)) {
        LeftOutRow row = problem(RowProblem::Refused);
        row.refusal = std::move(*refused);
        return row;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> TeamJobIds(Connection& connection,
                                                   const std::string& name) {
    const std::array values{Value::Text(name)};
    const auto rows = connection.Run(
        "SELECT entity FROM velmora.fields WHERE kind = 'job' AND field = 'name' AND value = $1 "
        "ORDER BY entity",
        values);
    if (!rows) return std::nullopt;
    std::vector<std::string> ids;
    for (const Row& row : *rows)
        if (row.size() == 1 && row[0]) ids.push_back(*row[0]);
    return ids;
}

PullOutcome PullFromTeam(Connection& connection, archive::Archive& into,
                         const PullOptions& options) {
    const std::optional<archive::PullMark> mark = into.PulledMark(options.archiveId, options.job);
    if (!mark) return {{TeamErrorCode::LocalArchive, into.LastError().message}};
    // One snapshot of the team archive for the whole read, so that its mark is exact.
    if (!connection.RunScript("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"))
        return {connection.LastError()};
    const auto horizon = connection.Run("SELECT pg_snapshot_xmin(pg_current_snapshot())::text");
    if (!horizon || horizon->size() != 1 || horizon->front().size() != 1 || !horizon->front()[0]) {
        PullOutcome failed{horizon ? TeamError{TeamErrorCode::ProtocolError, "no snapshot"}
                                   : connection.LastError()};
        connection.Rollback();
        return failed;
    }
    Puller puller(connection, into, options, mark->mark.empty() ? "0" : mark->mark);
    const bool read = puller.Begin() && puller.Records() && puller.Images() && puller.Changes();
    connection.Rollback();  // the read changed nothing there
    if (!read) return puller.outcome;
    if (!into.KeepPulledMark(options.archiveId, options.job, *horizon->front()[0])) {
        puller.LocalFailed();
        return puller.outcome;
    }
    puller.Commit();
    return puller.outcome;
}

}  // namespace velmora::team
