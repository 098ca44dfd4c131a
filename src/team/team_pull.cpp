#include "team/team_pull.h"

#include <map>
#include <utility>
#include <vector>

#include "archive/job_log.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/sha256.h"
#include "settings/device_folder.h"
#include "team/team_values.h"

namespace velmora::team {
namespace {

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

// The records `r` of the job $n (their job as the team archive's changes left it)
// with their splicers `s`, found on the job's index; or all records.
std::string RecordsOfJob(Values& values, const std::string& job) {
    if (job.empty())
        return "velmora.records r JOIN velmora.splicers s ON s.id = r.splicer_id WHERE true";
    return "velmora.fields f JOIN velmora.records r ON r.id = f.record_id "
           "JOIN velmora.splicers s ON s.id = r.splicer_id WHERE f.kind = 'record' AND "
           "f.field = 'job' AND f.value = " +
           values.Text(job);
}

// The entities of the job $n as the team archive's state has them: the job, its
// closures, their cables and trays, the trays' positions, and its records.
std::string EntitiesOfJob(Values& values, const std::string& job) {
    const std::string name = values.Text(job);
    return "WITH j AS (SELECT entity FROM velmora.fields WHERE kind = 'job' AND field = 'name' "
           "AND value = " +
           name +
           "), cl AS (SELECT entity FROM velmora.fields WHERE kind = 'closure' AND field = 'job' "
           "AND value IN (SELECT entity FROM j)), "
           "ct AS (SELECT kind, entity FROM velmora.fields WHERE kind IN ('cable', 'tray') AND "
           "field = 'closure' AND value IN (SELECT entity FROM cl)), "
           "po AS (SELECT entity FROM velmora.fields WHERE kind = 'position' AND field = 'tray' "
           "AND value IN (SELECT entity FROM ct WHERE kind = 'tray')), "
           "re AS (SELECT entity FROM velmora.fields WHERE kind = 'record' AND field = 'job' AND "
           "value = " +
           name +
           "), ents AS (SELECT 'job'::text AS kind, entity FROM j UNION ALL SELECT 'closure', "
           "entity FROM cl UNION ALL SELECT kind, entity FROM ct UNION ALL SELECT 'position', "
           "entity FROM po UNION ALL SELECT 'record', entity FROM re) ";
}

class Puller {
  public:
    Puller(Connection& connection, archive::Archive& into, const PullOptions& options,
           std::string from)
        : connection_(connection), into_(into), options_(options), from_(std::move(from)) {}

    // The records above the mark (of the job, when one is asked for), stored a batch
    // at a time, each splicer as the team archive knows it.
    bool Records() {
        Values values;
        const std::string from = values.Text(from_);
        // A record of the job is new to this archive when it, or its job, is.
        const std::string sql = "SELECT s.serial, s.folder, r.bytes FROM " +
                                RecordsOfJob(values, options_.job) + " AND (r.tx >= " + from +
                                "::xid8" + (options_.job.empty() ? "" : " OR f.tx >= " + from) +
                                ") ORDER BY r.id";
        bool stored = true;
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 3 || !row[0] || !row[1] || !row[2]) return true;
            const std::string bytes = HexDecoded(*row[2]);
            if (bytes.size() != kRecordSize || !SafeFolder(*row[1])) return true;
            SpliceRecord record;
            std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
            batch_[{*row[0], *row[1]}].push_back(record);
            if (++batched_ >= kBatch) stored = Flush();
            return stored;
        });
        if (!read) return Fail(connection_.LastError());
        return stored && Flush();
    }

    // The images above the mark that came with their bytes, each written under the
    // data folder as a downloaded one is (FS/<folder>/JPG) and kept in the archive.
    // An image of the job is one of the time of a record of the job.
    bool Images() {
        Values values;
        const std::string from = values.Text(from_);
        std::string sql =
            "SELECT s.serial, s.folder, i.stamp, i.file_name, i.sha256, i.jpeg "
            "FROM velmora.images i JOIN velmora.splicers s ON s.id = i.splicer_id "
            "WHERE i.jpeg IS NOT NULL AND i.tx >= " +
            from + "::xid8";
        if (!options_.job.empty())
            sql += " AND EXISTS (SELECT 1 FROM " + RecordsOfJob(values, options_.job) +
                   " AND r.splicer_id = i.splicer_id AND r.splice_time = i.splice_time)";
        bool stored = true;
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 6) return true;
            for (const auto& column : row)
                if (!column) return true;
            stored = StoreImage(*row[0], *row[1], *row[2], *row[3], *row[4], HexDecoded(*row[5]));
            return stored;
        });
        if (!read) return Fail(connection_.LastError());
        return stored;
    }

    // The changes above the mark (to the job's entities, when one is asked for),
    // kept a batch at a time, then applied: the winners written into the job tables.
    bool Changes() {
        Values values;
        const std::string from = values.Text(from_);
        std::string sql = options_.job.empty() ? "" : EntitiesOfJob(values, options_.job);
        sql +=
            "SELECT c.laptop::text, c.change_id, c.kind, c.entity, c.field, c.value, "
            "extract(epoch FROM c.changed_at)::bigint, c.author, "
            "extract(epoch FROM c.effective)::bigint FROM velmora.changes c ";
        if (!options_.job.empty()) sql += "JOIN ents e ON e.kind = c.kind AND e.entity = c.entity ";
        sql += "WHERE c.tx >= " + from + "::xid8 ORDER BY c.id";
        archive::JobLog log(into_, options_.laptopId);
        std::vector<archive::JobChange> batch;
        bool kept = true;
        auto keep = [&] {
            if (options_.stop.stop_requested()) return kept = Fail(StoppedError());
            kept = log.Keep(batch);
            batch.clear();
            return kept;
        };
        const bool read = connection_.ForEachRow(sql, values.All(), [&](const Row& row) {
            if (row.size() != 9 || !row[0] || !row[1] || !row[2] || !row[3] || !row[4] || !row[6] ||
                !row[7] || !row[8])
                return true;
            archive::JobChange& c = batch.emplace_back();
            c.laptop = *row[0];
            c.originId = std::stoll(*row[1]);
            c.kind = *row[2];
            c.entity = *row[3];
            c.field = *row[4];
            c.value = row[5];
            c.changedAt = std::stoll(*row[6]);
            c.author = *row[7];
            c.effective = std::stoll(*row[8]);
            return batch.size() < kBatch || keep();
        });
        if (!read) return Fail(connection_.LastError());
        if (!kept || !keep()) return outcome.error.ok() ? LocalFailed() : false;
        const std::optional<std::size_t> applied = log.Apply();
        if (!applied) return LocalFailed();
        outcome.changes = static_cast<std::int64_t>(*applied);
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

    bool Flush() {
        if (options_.stop.stop_requested()) return Fail(StoppedError());
        for (const auto& [splicer, records] : batch_) {
            const archive::StoreResult stored =
                into_.StoreDownload({splicer.second, splicer.first}, records, {}, false);
            if (!stored.ok()) return LocalFailed();
            outcome.records += static_cast<std::int64_t>(stored.count);
        }
        batch_.clear();
        batched_ = 0;
        return true;
    }

    bool StoreImage(const std::string& serial, const std::string& folder, const std::string& stamp,
                    std::string name, const std::string& sha256, const std::string& jpeg) {
        // Nothing from the team archive names a path unchecked, nor is taken unverified.
        if (!SafeFolder(folder) || !PlainFileName(name) || Sha256Text(jpeg) != sha256) return true;
        const std::filesystem::path folderPath = options_.dataFolder / "FS" / folder / "JPG";
        std::error_code ec;
        std::filesystem::create_directories(folderPath, ec);
        // A file of that name holding another picture (another laptop's list) stays.
        const FileReadResult existing = ReadWholeFile(folderPath / name, jpeg.size() + 1);
        if (existing.ok() && existing.bytes != jpeg) {
            name = stamp + "_" + sha256.substr(0, 8) + ".jpg";
        }
        if (!existing.ok() || existing.bytes != jpeg) {
            const FileWriteResult written = ReplaceFile(folderPath / name, jpeg);
            if (!written.ok) return Fail({TeamErrorCode::LocalArchive, written.reason});
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.data());
        const archive::StoreResult stored =
            into_.StoreImage({folder, serial}, {stamp, name, {bytes, jpeg.size()}});
        if (!stored.ok()) return LocalFailed();
        outcome.images += static_cast<std::int64_t>(stored.count);
        return true;
    }

    Connection& connection_;
    archive::Archive& into_;
    const PullOptions& options_;
    std::string from_;
    std::map<std::pair<std::string, std::string>, std::vector<SpliceRecord>> batch_;
    std::size_t batched_ = 0;
};

}  // namespace

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
    if (!puller.Records() || !puller.Images() || !puller.Changes()) {
        connection.Rollback();
        return puller.outcome;
    }
    if (!connection.Commit()) return puller.Fail(connection.LastError()), puller.outcome;
    if (!into.KeepPulledMark(options.archiveId, options.job, *horizon->front()[0]))
        puller.LocalFailed();
    return puller.outcome;
}

}  // namespace velmora::team
