#pragma once
// The local archive: one SQLite file (FS/archive.db under the program's data folder)
// that keeps every splice record ever downloaded, the images saved beside them and
// snapshots of the parameter records, across splicers and across runs.
//
// Several program instances may write to the same file at once: it is kept in WAL
// mode, every write is one IMMEDIATE transaction, and a writer that finds the file
// busy waits (the busy timeout) instead of failing at once. No call throws; a call
// that fails says why in its result or in LastError(), and the program can go on
// without the archive. A file that is not a usable archive (damaged, written by a
// newer program) is refused and left exactly as it is; one that cannot be written
// is opened for reading only.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "history/splice_acceptance.h"
#include "history/splice_record.h"
#include "settings/parameter_records.h"

struct sqlite3;

namespace velmora {
class LockFile;
}

namespace velmora::archive {

class JobLog;
struct ChangeContext;

enum class ErrorCode {
    None,
    NoArchive,        // opened for reading, and there is no archive file yet
    CannotOpen,       // the folder or the file cannot be created or opened
    ReadOnly,         // the file (or its folder) cannot be written
    Locked,           // another writer held the file longer than the busy timeout
    Damaged,          // not a database, or a malformed one
    TooNew,           // written by a newer program: its schema version is above ours
    DiskFull,         // the disk (or the file system) holding the file is full
    InvalidArgument,  // refused before touching the file (sizes, names, dates)
    NotFound,         // no such snapshot
    Failed,           // anything else (I/O, out of memory); see the message
};

// "locked", "damaged", ...: for logs and messages.
const char* ErrorCodeName(ErrorCode code);

struct ArchiveError {
    ErrorCode code = ErrorCode::None;
    std::string message;  // what was being done, then SQLite's own text
    std::string file{};   // the archive file, as text; "" when the failure is not the file's
    bool ok() const { return code == ErrorCode::None; }
};

// Wall-clock time in whole seconds; injectable so that tests are deterministic.
using Clock = std::function<std::chrono::sys_seconds()>;

// Writing creates the folders and the file when missing; Reading never creates
// anything and answers NoArchive when there is no file yet.
enum class OpenFor { Writing, Reading };

struct OpenOptions {
    std::chrono::milliseconds busyTimeout{5000};
    Clock clock{};  // empty: the system clock
    OpenFor purpose = OpenFor::Writing;
};

// A splicer as the program knows it at connection. It is known by its whole serial
// number; only while that is unknown ("") by its folder name. Two splicers whose
// serial numbers differ in the first character share a folder but not an identity.
struct SplicerIdentity {
    std::string folderName{};    // the device folder's name, as SafeFolderName gives it
    std::string serialNumber{};  // "" when unknown
};

// A splicer as lists, reports and messages name it: its serial number, or its
// folder's name while that is unknown.
inline std::string SplicerDisplayName(std::string_view serialNumber, std::string_view folderName) {
    return std::string(serialNumber.empty() ? folderName : serialNumber);
}

// A splicer of the archive. serialNumber is "" for one known by its folder alone:
// stored without a serial number, or kept from an archive of before splicers were
// known by serial number, whose rows may each hold the records of every splicer
// of that folder. Such a row's records move to a splicer of that folder that is
// downloaded with them again (its serial number is then known).
struct SplicerInfo {
    std::int64_t id = 0;
    std::string folderName{};
    std::string serialNumber{};
    std::chrono::sys_seconds firstSeen{};
    std::chrono::sys_seconds lastSeen{};
};

// A splice as the pass rule judges it: the splicer itself failed it, the splicer
// accepted it but its loss or a cleave angle is beyond a limit, or neither.
enum class Verdict { Passed = 0, Failed = 1, OverLimit = 2 };
inline Verdict VerdictOf(Mark mark) {
    if (mark == Mark::Failed) return Verdict::Failed;
    return OverLimit(mark) ? Verdict::OverLimit : Verdict::Passed;
}

// Which records a query or a job tagging takes; every field left empty takes all.
struct RecordFilter {
    // The splicers whose serial number or folder name is this: a folder name shared
    // by two splicers takes both.
    std::optional<std::string> device{};
    std::optional<std::int64_t> splicer{};  // one splicer, by SplicerInfo::id
    // Whole days, both inclusive, on the record's own time fields. A record whose
    // time fields do not form a real date is never inside a date range.
    std::optional<std::chrono::year_month_day> from{};
    std::optional<std::chrono::year_month_day> to{};
    std::optional<std::string> job{};  // "" takes the records without a job
    // The records of one verdict of the pass rule (Judge) against `limits`.
    std::optional<Verdict> result{};
    Limits limits{};
    // The records whose job, splicer (as SplicerDisplayName names it) or closure (of
    // their placing) holds this text, matched without regard to case (FoldCase) and
    // literally (no wildcards); "" takes all.
    std::string search{};
};

struct ArchivedRecord {
    std::int64_t id = 0;
    std::int64_t splicerId = 0;  // SplicerInfo::id
    std::string device;          // the splicer's folder name
    std::string serialNumber;    // the splicer's whole serial number; "" when never reported
    SpliceRecord record;
    std::string job;  // "" when none
    std::chrono::sys_seconds firstDownloaded{};
    std::vector<std::string> images;  // file names of the images of its time, by name
    // Its key in the archive's order (archive_order.h): a larger one comes later. By
    // splice time, then the undated records in the order they came. Records of one
    // time by when they came. Not a count: keys of neighbours are not consecutive.
    std::int64_t ordinal = 0;
    // The SHA-256 the archive kept of each of `images`, in the same order; filled by
    // RecordCursor only (Records leaves it empty).
    std::vector<std::string> imageDigests{};
    // Where the splice was placed in its job: the closure's name ("" when not placed),
    // the tray's and the position's numbers; or that it is a test splice, not counted.
    // Filled by RecordCursor::Rows only.
    std::string closure{};
    int tray = 0;
    int position = 0;
    bool testSplice = false;
};

// The orders the record list offers: by one of its columns. Index and Time are the
// archive's own order; the others keep it among records that are alike.
enum class RecordSort { Index, Time, Result, Loss, Splicer, Job };
struct RecordOrder {
    RecordSort by = RecordSort::Index;
    bool descending = false;
    bool operator==(const RecordOrder&) const = default;
};

// An image is tied to the records of the same splicer with the same time, to the second.
struct ImageFile {
    std::string stamp;     // "YYYYMMDDhhmmss", as ImageStampText gives it
    std::string fileName;  // a name, not a path
    std::span<const std::uint8_t> bytes;
};

struct ArchivedImage {
    std::int64_t id = 0;
    std::string device;
    std::string stamp;
    std::string fileName;
    std::uint64_t size = 0;
    std::string sha256;                    // 64 lowercase hex digits
    std::optional<std::int64_t> recordId;  // the first record of its time, if any
};

// The four parameter records, stored by their numbers.
using RecordKind = ParamRecord;
// 84, 28, 24 or 52 bytes; 0 for a number outside the enum.
std::size_t RecordKindSize(RecordKind kind);

struct GroupBytes {
    RecordKind kind = RecordKind::Splice;
    std::vector<std::uint8_t> bytes;
    bool operator==(const GroupBytes&) const = default;
};

// Usual reasons; any other non-empty text is kept too.
namespace reason {
inline constexpr std::string_view Read = "read";
inline constexpr std::string_view Write = "write";
inline constexpr std::string_view Backup = "backup";
inline constexpr std::string_view BeforeFirmware = "before firmware";
}  // namespace reason

struct ParameterSnapshot {
    std::int64_t id = 0;
    std::string device;        // the splicer's folder name
    std::string serialNumber;  // the splicer's whole serial number; "" when never reported
    std::chrono::sys_seconds taken{};
    std::string reason;
    std::vector<GroupBytes> groups;  // by kind
};

struct SnapshotFilter {
    std::optional<std::string> device{};    // as RecordFilter::device
    std::optional<std::int64_t> splicer{};  // as RecordFilter::splicer
    std::optional<std::string> reason{};
};

struct JobSummary {
    std::string name;
    std::size_t records = 0;
    bool operator==(const JobSummary&) const = default;
};

// What giving a job to some records would do, before it is done.
struct NamingPreview {
    std::size_t records = 0;   // records taken
    std::size_t otherJob = 0;  // of them, with a job other than the one to give
    std::size_t noJob = 0;     // of them, without a job
    bool operator==(const NamingPreview&) const = default;
};

// The first and the last splice time of some records (the splicer's own clock, as
// their time fields say); both empty when none of them has a real time.
struct SpliceSpan {
    std::optional<std::chrono::local_seconds> first{};
    std::optional<std::chrono::local_seconds> last{};
    bool operator==(const SpliceSpan&) const = default;
};

struct StoreResult {
    std::size_t count = 0;  // records new to the archive, images new, records whose job changed
    std::int64_t id = 0;    // the stored image or snapshot; 0 otherwise
    ArchiveError error;
    bool ok() const { return error.ok(); }
};

// ---- Sending to a team archive ----
// The rows a team archive has not yet acknowledged are those of each kind above its
// mark, in id order: ids only grow, so a send goes through them in batches and moves
// the mark after each batch the team archive committed.
enum class OutboxKind { Records = 0, Images = 1, Snapshots = 2, JobChanges = 3 };
inline constexpr std::size_t kOutboxKinds = 4;
using OutboxCounts = std::array<std::int64_t, kOutboxKinds>;  // by OutboxKind

struct OutboxMarks {
    OutboxCounts upTo{};  // the highest id sent, per kind; 0 when none
    std::optional<std::chrono::sys_seconds> lastSuccess{};  // the last send that left nothing
};

// How far a team archive has been read into this one: the team archive's own mark
// ("" for nothing yet), and when that read ended.
struct PullMark {
    std::string mark;
    std::optional<std::chrono::sys_seconds> pulled{};
};

// A row to send, with its splicer's identity (serial number, and its folder name).
struct OutboxRow {
    std::int64_t id = 0;
    std::string serialNumber;
    std::string device;
    std::chrono::sys_seconds stored{};  // downloaded, stored or taken (the laptop's clock)
};
struct OutboxRecord : OutboxRow {
    SpliceRecord record;
};
struct OutboxImage : OutboxRow {
    std::string stamp;
    std::string fileName;
    std::uint64_t size = 0;
    std::string sha256;
};
struct OutboxSnapshot : OutboxRow {
    std::string reason;
    std::vector<GroupBytes> groups;  // by kind
};

// Where the program keeps its archive: <data folder>/FS/archive.db, beside the device folders.
inline std::filesystem::path ArchiveFile(const std::filesystem::path& dataFolder) {
    return dataFolder / "FS" / "archive.db";
}

// Beside the archive: which programs have it open (each holds a lock on it), and
// whether the last of them closed it (then the file's size and time as it left it).
// An archive that was not closed so, or was changed since by other means, is checked
// whole at its next opening; one closed cleanly and unchanged is trusted.
inline std::filesystem::path OpenMarkerFile(const std::filesystem::path& archiveFile) {
    std::filesystem::path marker = archiveFile;
    marker += "-open";
    return marker;
}

class Archive;
struct OpenResult {
    std::unique_ptr<Archive> archive;  // null on failure
    ArchiveError error;
};

// One connection to the archive file. Use one object per thread; several objects
// (in this or other processes) may share the file.
class Archive {
  public:
    // Creates the folders and the file when missing (for Writing) and brings the
    // schema up to date. Refuses a damaged, locked or newer file without changing
    // it; opens a file that cannot be written for reading only (refused when it is
    // older than this program, as it cannot be brought up to date). The whole file
    // is checked only when it was not closed cleanly or was changed by other means
    // since (see OpenMarkerFile); Check() does it on demand.
    static OpenResult Open(const std::filesystem::path& file, OpenOptions options = {});
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // The error of the last call; code None after a call that succeeded.
    const ArchiveError& LastError() const { return lastError_; }
    // True when the file cannot be written: it is read, every store fails with ReadOnly.
    bool ReadOnly() const { return readOnly_; }

    // Stores the records not yet in the archive for this splicer, all or none,
    // giving the new ones `job` (when not empty); count = how many were new.
    // Records the splicer as seen now, even when nothing is new.
    // A record the splicer's folder-row of unknown serial number holds moves to a
    // splicer of known serial number; not so for records read from a team archive
    // (adoptUnknownSerial false), which keeps them apart as its senders stored them.
    StoreResult StoreDownload(const SplicerIdentity& splicer, std::span<const SpliceRecord> records,
                              std::string_view job = {}, bool adoptUnknownSerial = true);

    // Keeps an image's name, size and SHA-256 (not its bytes). The same image (stamp
    // and content) stored again adds nothing and keeps the newer file name.
    StoreResult StoreImage(const SplicerIdentity& splicer, const ImageFile& image);

    // One snapshot of one or more parameter records, taken now. Refuses bytes whose
    // size is not the kind's, a kind given twice, no groups, or an empty reason.
    StoreResult StoreSnapshot(const SplicerIdentity& splicer, std::string_view reason,
                              std::span<const GroupBytes> groups);

    // Oldest first: dated records by time, then undated ones in the order they came.
    std::optional<std::vector<ArchivedRecord>> Records(const RecordFilter& filter);
    // The same records in the same order, handed to `take` one at a time as they are
    // read (their images are not read); `take` returns false to stop. False on failure.
    bool ForEachRecord(const RecordFilter& filter,
                       const std::function<bool(const ArchivedRecord&)>& take);
    // The first and last splice time of the records `filter` takes, found on the time
    // index without reading the records.
    std::optional<SpliceSpan> SpliceTimes(const RecordFilter& filter);
    // The images of the splicers `device` takes (as RecordFilter::device), by stamp then file name.
    std::optional<std::vector<ArchivedImage>> Images(std::string_view device);
    // Oldest first.
    std::optional<std::vector<ParameterSnapshot>> Snapshots(const SnapshotFilter& filter);
    // NotFound when there is no snapshot `id`.
    std::optional<ParameterSnapshot> Snapshot(std::int64_t id);

    // Gives `job` to the records the filter (or the id list) takes, replacing any job
    // they had; "" takes their job away. count = records whose job changed. A job
    // named for the first time is created (jobs::JobStore keeps its details). Renaming
    // a job is TagJob(newName, {.job = oldName}): to a new name, the job itself is
    // renamed, its details, closures and placed splices with it. Otherwise a naming
    // that would change the job of a record placed on a position is refused
    // (InvalidArgument). Unknown ids are ignored. A naming that changes records is
    // kept in the file, replacing the one before, so that it can be undone (after a
    // restart too).
    StoreResult TagJob(std::string_view job, const RecordFilter& filter);
    StoreResult TagJob(std::string_view job, std::span<const std::int64_t> recordIds);
    // What the same TagJob would take, without changing anything.
    std::optional<NamingPreview> PreviewJob(std::string_view job, const RecordFilter& filter);
    std::optional<NamingPreview> PreviewJob(std::string_view job,
                                            std::span<const std::int64_t> recordIds);
    // Gives the records of the last naming their job of before it back, once;
    // count = records given back (0 when there is nothing to undo). A renaming is
    // undone by renaming the job back; placed records are refused as in TagJob.
    StoreResult UndoLastNaming();

    // By serial number; those known by folder alone after them, by folder name.
    std::optional<std::vector<SplicerInfo>> Splicers();
    // Reads the whole file and checks its structure (SQLite's integrity check): what is
    // wrong, at most `limit` findings; empty when the file is sound.
    std::optional<std::vector<std::string>> Check(int limit = 20);
    // By name; only jobs with records (jobs::JobStore::Jobs lists every job).
    std::optional<std::vector<JobSummary>> Jobs();

    // Leaves the write-ahead log for a later connection to fold into the file rather
    // than folding it in (and waiting for the disk) when this connection closes: for a
    // short-lived program that must not wait at its end. Every committed store stays
    // kept; a later commit of any connection checkpoints as usual.
    void LeaveLogOnClose();

    // Sending to a team archive, known by `team` (its id): the marks, how many rows
    // of each kind lie above them, the next rows above `after` (at most `limit`, by
    // id), and a mark moved up (never down) once the team archive has committed.
    std::optional<OutboxMarks> SentMarks(std::string_view team);
    std::optional<OutboxCounts> Waiting(const OutboxCounts& upTo);
    std::optional<std::vector<OutboxRecord>> RecordsToSend(std::int64_t after, std::size_t limit);
    std::optional<std::vector<OutboxImage>> ImagesToSend(std::int64_t after, std::size_t limit);
    std::optional<std::vector<OutboxSnapshot>> SnapshotsToSend(std::int64_t after,
                                                               std::size_t limit);
    bool MarkSent(std::string_view team, OutboxKind kind, std::int64_t upTo);
    // A send that left nothing waiting, now.
    bool MarkSendComplete(std::string_view team);

    // Reading from a team archive (its id `team`), everything (`scope` "") or one job
    // (its id): the team archive's mark up to which everything was read, and when.
    std::optional<PullMark> PulledMark(std::string_view team, std::string_view scope);
    bool KeepPulledMark(std::string_view team, std::string_view scope, std::string_view mark);

    // ---- For the stores kept in the same file (the record cursor, the job store, the
    // splice matrix, the job log), on this archive's thread ----
    sqlite3* Connection() const { return db_; }
    // The archive file, as its errors name it.
    const std::string& File() const { return file_; }
    // Now, by the archive's clock.
    std::chrono::sys_seconds Now() const;
    // Runs `work` as one call of the archive: LastError is cleared, and what fails in
    // it (a failure of SQLite, an ArchiveError it throws) becomes LastError, naming the
    // file, with an empty result (the result's own error, for a result that has one).
    // Write refuses at once, as ReadOnly, when the file cannot be written.
    template <class Work>
    auto Run(std::string_view what, Work work) -> decltype(work()) {
        return Call(what, false, work);
    }
    template <class Work>
    auto Write(std::string_view what, Work work) -> decltype(work()) {
        return Call(what, true, work);
    }
    // While on, what is written are changes read from a team archive being applied:
    // the job log's triggers do not log them again.
    void SetApplyingChanges(bool on);

  private:
    Archive(sqlite3* db, std::unique_ptr<LockFile> marker, Clock clock, std::string file,
            bool readOnly, std::unique_ptr<ChangeContext> changes);
    // Runs `work` with LastError cleared and sets it from what failed; false then.
    bool Attempt(std::string_view what, bool writes, const std::function<void()>& work);
    template <class Work>
    auto Call(std::string_view what, bool writes, Work& work) -> decltype(work()) {
        using Result = decltype(work());
        Result result{};
        const bool ran = Attempt(what, writes, [&] { result = work(); });
        if constexpr (requires { result.error; }) {
            if (!ran) {
                result.error = lastError_;
            } else if (!result.error.ok()) {
                result.error.file = file_;
                lastError_ = result.error;
            }
        }
        return result;
    }

    sqlite3* db_;
    std::unique_ptr<LockFile> marker_;  // null where it cannot be kept (read-only)
    Clock clock_;
    std::string file_;
    bool readOnly_;
    ArchiveError lastError_;
    // What the connection's functions for the job log read (velmora_now() ...).
    std::unique_ptr<ChangeContext> changes_;
};

}  // namespace velmora::archive
