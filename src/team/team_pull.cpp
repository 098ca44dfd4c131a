#include "team/team_pull.h"

#include <map>
#include <utility>
#include <vector>

#include "archive/sha256.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
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
    return archive::HexText(archive::Sha256Of(
        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

// The condition on a record `r` of splicer `s` that it is of the job $n (its job as
// the team archive's job changes left it), or true for every record.
std::string RecordOfJob(Values& values, const std::string& job) {
    if (job.empty()) return "true";
    return "EXISTS (SELECT 1 FROM velmora.fields f WHERE f.kind = 'record' AND f.field = 'job' "
           "AND f.record_id = r.id AND f.value = " +
           values.Text(job) + ")";
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
        const std::string sql =
            "SELECT s.serial, s.folder, r.bytes FROM velmora.records r "
            "JOIN velmora.splicers s ON s.id = r.splicer_id WHERE r.tx >= " +
            from + "::xid8 AND " + RecordOfJob(values, options_.job) + " ORDER BY r.id";
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
            sql += " AND EXISTS (SELECT 1 FROM velmora.records r WHERE r.splicer_id = i.splicer_id "
                   "AND r.splice_time = i.splice_time AND " +
                   RecordOfJob(values, options_.job) + ")";
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

    bool Fail(TeamError error) {
        outcome.error = std::move(error);
        return false;
    }
    bool LocalFailed() {
        return Fail({TeamErrorCode::LocalArchive, into_.LastError().message});
    }

    PullOutcome outcome;

  private:
    static constexpr std::size_t kBatch = 2000;

    bool Flush() {
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
    const auto horizon =
        connection.Run("SELECT pg_snapshot_xmin(pg_current_snapshot())::text");
    if (!horizon || horizon->size() != 1 || horizon->front().size() != 1 ||
        !horizon->front()[0]) {
        PullOutcome failed{horizon ? TeamError{TeamErrorCode::ProtocolError, "no snapshot"}
                                   : connection.LastError()};
        connection.Rollback();
        return failed;
    }
    Puller puller(connection, into, options, mark->mark.empty() ? "0" : mark->mark);
    if (!puller.Records() || !puller.Images()) {
        connection.Rollback();
        return puller.outcome;
    }
    if (!connection.Commit()) return puller.Fail(connection.LastError()), puller.outcome;
    if (!into.KeepPulledMark(options.archiveId, options.job, *horizon->front()[0]))
        puller.LocalFailed();
    return puller.outcome;
}

}  // namespace velmora::team
