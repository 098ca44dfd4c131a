#include "archive/archive.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>

#include "archive/archive_schema.h"
#include "archive/archive_sql.h"
#include "archive/record_identity.h"
#include "base/lock_file.h"
#include "base/path_text.h"
#include "base/sha256.h"
#include "settings/device_folder.h"
#include "settings/parameter_records.h"

namespace velmora::archive {
using namespace sql;
namespace {

using std::chrono::sys_seconds;

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

// A file refused at opening is closed without a checkpoint, so that nothing of
// ours (or left in a stray WAL) is written into it.
void CloseUntouched(DbHandle& db) {
    if (db) sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    db.reset();
}

// YYYYMMDDhhmmss as a number, or nothing when the parts do not form a real time.
std::optional<std::int64_t> SpliceTime(int year, int month, int day, int hour, int minute,
                                       int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year},
                              std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (month < 1 || month > 12 || day < 1 || !date.ok()) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return ((((std::int64_t{year} * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 +
           second;
}

std::optional<std::int64_t> SpliceTime(const SpliceRecord& r) {
    return SpliceTime(2000 + r.yearOffset(), r.month(), r.day(), r.hour(), r.minute(), r.second());
}

// "20261231235909": exactly fourteen digits forming a real time.
std::optional<std::int64_t> SpliceTime(std::string_view stamp) {
    if (stamp.size() != 14 ||
        !std::all_of(stamp.begin(), stamp.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    auto part = [&](std::size_t at, std::size_t n) {
        int value = 0;
        for (std::size_t i = at; i < at + n; ++i) value = value * 10 + (stamp[i] - '0');
        return value;
    };
    return SpliceTime(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), part(12, 2));
}

bool IsSafeFolderName(std::string_view name) {
    return !name.empty() && SafeFolderName(name) == name;
}

// A file name only: nothing that would make it a path, and no NUL.
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::string> SplicerProblem(const SplicerIdentity& splicer) {
    if (!IsSafeFolderName(splicer.folderName))
        return "the splicer's folder name \"" + splicer.folderName + "\" is not a safe folder name";
    return std::nullopt;
}

}  // namespace

const char* ErrorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::None:
            return "none";
        case ErrorCode::NoArchive:
            return "no archive";
        case ErrorCode::CannotOpen:
            return "cannot open";
        case ErrorCode::ReadOnly:
            return "read-only";
        case ErrorCode::Locked:
            return "locked";
        case ErrorCode::Damaged:
            return "damaged";
        case ErrorCode::TooNew:
            return "too new";
        case ErrorCode::DiskFull:
            return "disk full";
        case ErrorCode::InvalidArgument:
            return "invalid argument";
        case ErrorCode::NotFound:
            return "not found";
        case ErrorCode::Failed:
            return "failed";
    }
    return "unknown";
}

std::size_t RecordKindSize(RecordKind kind) {
    const std::optional<ParamRecord> record = RecordNumbered(static_cast<int>(kind));
    return record ? InfoOf(*record).size : 0;
}

// ---- opening ----

namespace {

// PRAGMA journal_mode=WAL may answer SQLITE_BUSY at once, without the busy handler,
// while another connection is switching the same new file: try again until the
// busy timeout has passed.
int SwitchToWal(sqlite3* db, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Statement wal(db, "PRAGMA journal_mode=WAL");
        int rc = wal.PrepareCode();
        if (rc == SQLITE_OK) rc = wal.Step();
        // A file system without shared memory keeps its rollback journal; the
        // busy timeout still keeps two writers from losing anything.
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) return SQLITE_OK;
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= giveUp) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ReadVersion(sqlite3* db, int* version) {
    Statement read(db, "PRAGMA user_version");
    int rc = read.PrepareCode();
    if (rc == SQLITE_OK) rc = read.Step();
    if (rc != SQLITE_ROW) return rc;
    *version = static_cast<int>(read.Int(0));
    return SQLITE_OK;
}

// `file` as an SQLite URI that reads it as a file nobody changes.
std::string ImmutableUri(const std::filesystem::path& file) {
    std::string uri = "file:";
    for (const char c : PathText(file)) {
        if (c == '%' || c == '?' || c == '#') {
            const char* hex = "0123456789ABCDEF";
            uri += '%';
            uri += hex[static_cast<unsigned char>(c) >> 4];
            uri += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            uri += c == '\\' ? '/' : c;
        }
    }
    return uri + "?immutable=1";
}

constexpr std::string_view kOpenState = "open";

// What the last program to close `file` leaves in its marker: the file's size and
// time then. Anything else there (a program that died with it open, a file copied
// over it or changed by other means since) asks for a check at the next opening.
std::string ClosedState(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return {};
    const auto time = std::filesystem::last_write_time(file, ec);
    if (ec) return {};
    return "closed " + std::to_string(size) + " " + std::to_string(time.time_since_epoch().count());
}

// SQLite's quick check over every page; SQLITE_OK, or the code of a failure to read,
// with `verdict` the first problem found ("" when sound).
int QuickCheck(sqlite3* db, std::string& verdict) {
    Statement check(db, "PRAGMA quick_check(1)");
    int rc = check.PrepareCode();
    if (rc == SQLITE_OK) rc = check.Step();
    if (rc != SQLITE_ROW) return rc;
    verdict = check.Text(0);
    if (verdict == "ok") verdict.clear();
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    return SQLITE_OK;
}

}  // namespace

namespace {

// The user logged in to this computer, for the job log; "" when unknown.
std::string UserName() {
    for (const char* name : {"USER", "USERNAME", "LOGNAME"})
        if (const char* value = std::getenv(name); value && *value) return value;
    return "?";
}

std::string UuidText(std::span<const std::uint8_t, 16> bytes) {
    std::string text;
    const char* hex = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0xF];
        if (i == 3 || i == 5 || i == 7 || i == 9) text += '-';
    }
    return text;
}

void ResultText(sqlite3_context* context, const std::string& text) {
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

int RegisterChangeFunctions(sqlite3* db, ChangeContext* changes) {
    auto now = [](sqlite3_context* context, int, sqlite3_value**) {
        const auto* c = static_cast<ChangeContext*>(sqlite3_user_data(context));
        const auto t =
            c->clock ? c->clock()
                     : std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        sqlite3_result_int64(context, t.time_since_epoch().count());
    };
    auto author = [](sqlite3_context* context, int, sqlite3_value**) {
        ResultText(context, static_cast<ChangeContext*>(sqlite3_user_data(context))->author);
    };
    auto applying = [](sqlite3_context* context, int, sqlite3_value**) {
        sqlite3_result_int(context,
                           static_cast<ChangeContext*>(sqlite3_user_data(context))->applying);
    };
    // A random (version 4) UUID.
    auto random = [](sqlite3_context* context, int, sqlite3_value**) {
        std::array<std::uint8_t, 16> bytes{};
        sqlite3_randomness(static_cast<int>(bytes.size()), bytes.data());
        bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
        bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
        ResultText(context, UuidText(bytes));
    };
    // A UUID made from a parent's id and a name within it (the SHA-256 of both, as
    // a version 8 UUID): the same in every archive.
    auto named = [](sqlite3_context* context, int, sqlite3_value** args) {
        std::string text;
        for (int i = 0; i < 2; ++i) {
            const auto* part = reinterpret_cast<const char*>(sqlite3_value_text(args[i]));
            text += part ? part : "";
            text += '\x1F';
        }
        const auto digest =
            Sha256Of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        std::array<std::uint8_t, 16> bytes{};
        std::copy_n(digest.begin(), bytes.size(), bytes.begin());
        bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x80);
        bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
        ResultText(context, UuidText(bytes));
    };
    // A record's identity (record_identity.h) from its bytes, serial number and folder.
    auto identity = [](sqlite3_context* context, int, sqlite3_value** args) {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(args[0]));
        const auto text = [&](int i) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(args[i]));
            return std::string_view(t ? t : "");
        };
        ResultText(context, RecordIdentityText(
                                {bytes, static_cast<std::size_t>(sqlite3_value_bytes(args[0]))},
                                text(1), text(2)));
    };
    const struct {
        const char* name;
        int args;
        void (*call)(sqlite3_context*, int, sqlite3_value**);
    } functions[] = {{"velmora_now", 0, now},           {"velmora_author", 0, author},
                     {"velmora_applying", 0, applying}, {"velmora_uuid", 0, random},
                     {"velmora_name_uuid", 2, named},   {"velmora_record_identity", 3, identity}};
    for (const auto& f : functions) {
        const int flags = SQLITE_UTF8 | (f.args > 0 ? SQLITE_DETERMINISTIC : 0);
        if (int rc = sqlite3_create_function(db, f.name, f.args, flags, changes, f.call, nullptr,
                                             nullptr);
            rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

}  // namespace

OpenResult Archive::Open(const std::filesystem::path& file, OpenOptions options) {
    DbHandle db;
    const std::string fileText = PathText(file);
    auto refuse = [&](ErrorCode code, std::string message) {
        CloseUntouched(db);
        return OpenResult{nullptr, {code, std::move(message), fileText}};
    };
    try {
        // SQLite would open a private temporary database for an empty name.
        if (file.empty()) return refuse(ErrorCode::CannotOpen, "no archive file was given");
        std::error_code ec;
        const bool writing = options.purpose == OpenFor::Writing;
        const bool existed = std::filesystem::exists(file, ec);
        if (!writing && !std::filesystem::exists(file, ec))
            return refuse(ErrorCode::NoArchive, "nothing has been archived yet");
        if (writing && file.has_parent_path()) {
            std::filesystem::create_directories(file.parent_path(), ec);
            if (ec)
                return refuse(
                    ErrorCode::CannotOpen,
                    "creating the folder " + PathText(file.parent_path()) + ": " + ec.message());
        }
        // One Archive serves one thread, so the connection needs no mutex of its own.
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(
            fileText.c_str(), &raw,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (writing ? SQLITE_OPEN_CREATE : 0),
            nullptr);
        db.reset(raw);
        constexpr const char* kOpening = "opening the archive";
        if (rc != SQLITE_OK) {
            ArchiveError error = SqliteError(db.get(), kOpening, rc);
            return refuse(error.code == ErrorCode::Locked ? error.code : ErrorCode::CannotOpen,
                          error.message);
        }
        // SQLite falls back to reading only when the file cannot be written.
        bool readOnly = sqlite3_db_readonly(db.get(), "main") == 1;
        sqlite3_busy_timeout(db.get(), static_cast<int>(options.busyTimeout.count()));
        auto changes = std::make_unique<ChangeContext>(ChangeContext{options.clock, UserName()});

        // Read before anything is written: a file that is not an archive of ours,
        // or one from a newer program, is left as it is.
        int version = 0;
        rc = ReadVersion(db.get(), &version);
        if (readOnly && (rc & 0xFF) == SQLITE_READONLY) {
            // Nor can its folder be written: there is no room for the index SQLite
            // reads a WAL file through. Read it as a file nobody changes.
            CloseUntouched(db);
            rc = sqlite3_open_v2(ImmutableUri(file).c_str(), &raw,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
            db.reset(raw);
            if (rc == SQLITE_OK) rc = ReadVersion(db.get(), &version);
        }
        if (rc == SQLITE_OK) rc = RegisterChangeFunctions(db.get(), changes.get());
        // The first program to open the file reads its marker; while others have it
        // open, the one that opened it first has checked it.
        std::unique_ptr<LockFile> marker =
            readOnly ? nullptr : LockFile::Open(OpenMarkerFile(file));
        bool check = true;
        if (marker && marker->TryExclusive()) {
            check = existed && marker->Read() != ClosedState(file);
        } else if (marker) {
            check = false;
            if (!marker->Shared()) marker.reset();
        }
        if (rc == SQLITE_OK && check) {
            // Every page once: a truncated or scribbled file shows here rather than
            // in the middle of some later query.
            std::string verdict;
            rc = QuickCheck(db.get(), verdict);
            if (rc == SQLITE_OK && !verdict.empty())
                return refuse(ErrorCode::Damaged, "the file is damaged: " + verdict);
        }
        if (rc != SQLITE_OK) {
            const ArchiveError error = SqliteError(db.get(), kOpening, rc);
            return refuse(error.code, error.message);
        }
        if (version > SchemaVersion())
            return refuse(ErrorCode::TooNew, "its version " + std::to_string(version) +
                                                 " is newer than this program's " +
                                                 std::to_string(SchemaVersion()));
        Clock clock = options.clock;
        if (readOnly) {
            if (version < SchemaVersion())
                return refuse(ErrorCode::CannotOpen,
                              "it cannot be written, and it is of an older version (" +
                                  std::to_string(version) +
                                  ") that must first be brought up to date where it can be");
            return {std::unique_ptr<Archive>(new Archive(db.release(), nullptr, std::move(clock),
                                                         fileText, true, std::move(changes))),
                    {}};
        }

        rc = SwitchToWal(db.get(), options.busyTimeout);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db.get(), "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const ArchiveError error = SqliteError(db.get(), kOpening, rc);
            return refuse(error.code, error.message);
        }
        const MigrationOutcome migrated = Migrate(db.get(), SchemaVersion());
        if (migrated.sqliteCode != SQLITE_OK)
            return refuse(CodeFor(migrated.sqliteCode), migrated.message);
        // After the migration, which may rebuild a table others refer to.
        rc = sqlite3_exec(db.get(), "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const ArchiveError error = SqliteError(db.get(), kOpening, rc);
            return refuse(error.code, error.message);
        }
        // Said open until the last program to use it closes it.
        if (marker && !marker->Write(kOpenState)) marker.reset();
        if (marker && !marker->Shared()) marker.reset();
        return {
            std::unique_ptr<Archive>(new Archive(db.release(), std::move(marker), std::move(clock),
                                                 fileText, false, std::move(changes))),
            {}};
    } catch (const std::exception& e) {
        return refuse(ErrorCode::Failed, std::string("opening the archive: ") + e.what());
    } catch (...) {
        return refuse(ErrorCode::Failed, "opening the archive: unexpected failure");
    }
}

Archive::Archive(sqlite3* db, std::unique_ptr<LockFile> marker, Clock clock, std::string file,
                 bool readOnly, std::unique_ptr<ChangeContext> changes)
    : db_(db),
      marker_(std::move(marker)),
      clock_(std::move(clock)),
      file_(std::move(file)),
      readOnly_(readOnly),
      changes_(std::move(changes)) {}

Archive::~Archive() {
    // The last connection to close folds the WAL into the file: the state the marker
    // keeps is the file's after that.
    sqlite3_close_v2(db_);
    if (marker_ && marker_->TryExclusive()) marker_->Write(ClosedState(PathFromText(file_)));
}

std::optional<std::vector<std::string>> Archive::Check(int limit) {
    using Result = std::optional<std::vector<std::string>>;
    return Guard("checking the archive", [&]() -> Result {
        Statement check(db_, "PRAGMA integrity_check(" + std::to_string(std::max(limit, 1)) + ")");
        if (!check.ok()) {
            lastError_ = SqliteError(db_, "checking the archive", check.PrepareCode());
            return std::nullopt;
        }
        std::vector<std::string> problems;
        int rc;
        while ((rc = check.Step()) == SQLITE_ROW)
            if (check.Text(0) != "ok") problems.push_back(check.Text(0));
        if (rc != SQLITE_DONE) {
            // A file too damaged to be read through is its own finding.
            if (CodeFor(rc) != ErrorCode::Damaged) {
                lastError_ = SqliteError(db_, "checking the archive", rc);
                return std::nullopt;
            }
            problems.push_back(sqlite3_errmsg(db_));
        }
        return problems;
    });
}

sys_seconds Archive::Now() const {
    if (clock_) return clock_();
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

template <class Work>
auto Archive::Guard(const char* what, Work work) -> decltype(work()) {
    using Result = decltype(work());
    lastError_ = {};
    try {
        Result result = work();
        if constexpr (std::is_same_v<Result, StoreResult>) {
            if (!result.error.ok()) result.error.file = file_;
            lastError_ = result.error;
        } else if (!lastError_.ok()) {
            lastError_.file = file_;
        }
        return result;
    } catch (const std::exception& e) {
        lastError_ = {ErrorCode::Failed, std::string(what) + ": " + e.what(), file_};
    } catch (...) {
        lastError_ = {ErrorCode::Failed, std::string(what) + ": unexpected failure", file_};
    }
    if constexpr (std::is_same_v<Result, StoreResult>) {
        return StoreResult{0, 0, lastError_};
    } else {
        return Result{};
    }
}

// ---- writing ----

namespace {

// The id `sql` selects with `text` bound to ?1, if any; SQLITE_OK or the failure's code.
int SelectId(sqlite3* db, const char* sql, std::string_view text, std::optional<std::int64_t>& id) {
    Statement select(db, sql);
    if (!select.ok()) return select.PrepareCode();
    select.Bind(1, text);
    const int rc = select.Step();
    id.reset();
    if (rc == SQLITE_ROW) id = select.Int(0);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

struct SplicerRow {
    std::int64_t id = 0;
    // For a splicer of known serial number: the row of its folder's splicers of
    // unknown serial number, whose records and images may be its own.
    std::optional<std::int64_t> unknownSerial;
};

// Adds the splicer or marks it seen at `now`: its row, or the SQLite code of the failure.
// A splicer is found by its serial number, by its folder only while that is unknown.
std::variant<SplicerRow, int> TouchSplicer(sqlite3* db, const SplicerIdentity& splicer,
                                           sys_seconds now) {
    const bool known = !splicer.serialNumber.empty();
    std::optional<std::int64_t> folderRow;
    std::optional<std::int64_t> id;
    int rc = SelectId(db, "SELECT id FROM splicers WHERE serial = '' AND folder = ?1",
                      splicer.folderName, folderRow);
    if (rc == SQLITE_OK && known)
        rc = SelectId(db, "SELECT id FROM splicers WHERE serial = ?1", splicer.serialNumber, id);
    if (rc != SQLITE_OK) return rc;
    if (!known) id = folderRow;
    const std::int64_t seen = now.time_since_epoch().count();
    if (id) {
        // The folder a splicer's files go to now, should its naming ever change.
        Statement update(db,
                         "UPDATE splicers SET last_seen = max(last_seen, ?1), folder = ?2 "
                         "WHERE id = ?3");
        if (!update.ok()) return update.PrepareCode();
        update.Bind(1, seen);
        update.Bind(2, splicer.folderName);
        update.Bind(3, *id);
        if (rc = update.Step(); rc != SQLITE_DONE) return rc;
    } else {
        Statement insert(db,
                         "INSERT INTO splicers(folder, serial, first_seen, last_seen) "
                         "VALUES(?1, ?2, ?3, ?3)");
        if (!insert.ok()) return insert.PrepareCode();
        insert.Bind(1, splicer.folderName);
        insert.Bind(2, splicer.serialNumber);
        insert.Bind(3, seen);
        if (rc = insert.Step(); rc != SQLITE_DONE) return rc;
        id = sqlite3_last_insert_rowid(db);
    }
    return SplicerRow{*id, known ? folderRow : std::nullopt};
}

// Logs the job the records from `firstNew` on (just stored) were given.
int LogNewRecordsJob(sqlite3* db, std::int64_t firstNew) {
    Statement log(db, RecordJobLogSql("r.id >= ?1 AND r.job IS NOT NULL"));
    if (!log.ok()) return log.PrepareCode();
    log.Bind(1, firstNew);
    const int rc = log.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Gives the records from `firstNew` on (just stored, without an ordinal) their place in
// the archive's order, and moves the records after the earliest of them on. A download
// newer than everything archived (the usual case) numbers only its own records.
int NumberNewRecords(sqlite3* db, std::int64_t firstNew) {
    // The earliest new record: dated ones come before the undated.
    Statement earliest(db,
                       "SELECT splice_time, id FROM records WHERE id >= ?1 "
                       "ORDER BY splice_time IS NULL, splice_time, id LIMIT 1");
    if (!earliest.ok()) return earliest.PrepareCode();
    earliest.Bind(1, firstNew);
    int rc = earliest.Step();
    if (rc == SQLITE_DONE) return SQLITE_OK;
    if (rc != SQLITE_ROW) return rc;
    const bool dated = !earliest.IsNull(0);
    const std::int64_t time = earliest.Int(0);
    const std::int64_t id = earliest.Int(1);
    // The ordinal of the last record before it: the records before it keep theirs.
    Statement before(db, dated ? "SELECT ordinal FROM records WHERE splice_time IS NOT NULL AND "
                                 "(splice_time, id) < (?1, ?2) "
                                 "ORDER BY splice_time DESC, id DESC LIMIT 1"
                               : "SELECT max(ordinal) FROM records");
    if (!before.ok()) return before.PrepareCode();
    if (dated) {
        before.Bind(1, time);
        before.Bind(2, id);
    }
    rc = before.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
    const std::int64_t base = rc == SQLITE_ROW ? before.Int(0) : 0;
    Statement number(
        db,
        "UPDATE records SET ordinal = ranked.n FROM ("
        "SELECT id, ?1 + row_number() OVER (ORDER BY splice_time IS NULL, splice_time, id) AS n "
        "FROM (SELECT id, splice_time FROM records "
        "WHERE ?2 AND splice_time IS NOT NULL AND (splice_time, id) >= (?3, ?4) "
        "UNION ALL SELECT id, splice_time FROM records WHERE splice_time IS NULL AND id >= ?5)"
        ") AS ranked "
        "WHERE records.id = ranked.id AND records.ordinal IS NOT ranked.n");
    if (!number.ok()) return number.PrepareCode();
    number.Bind(1, base);
    number.Bind(2, std::int64_t{dated});
    number.Bind(3, time);
    number.Bind(4, id);
    number.Bind(5, dated ? 0 : id);
    rc = number.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The ordinal the first record of a download whose earliest splice time is `earliest`
// gets when the download goes after everything archived (no undated record archived,
// and nothing archived later than it); nothing when records must be moved on after it.
std::variant<std::optional<std::int64_t>, int> NextOrdinal(sqlite3* db,
                                                           std::optional<std::int64_t> earliest) {
    Statement ends(db,
                   "SELECT (SELECT max(splice_time) FROM records), "
                   "EXISTS (SELECT 1 FROM records WHERE splice_time IS NULL), "
                   "(SELECT max(ordinal) FROM records)");
    if (!ends.ok()) return ends.PrepareCode();
    if (const int rc = ends.Step(); rc != SQLITE_ROW) return rc;
    if (ends.Int(1) != 0) return std::optional<std::int64_t>();
    if (!ends.IsNull(0) && earliest && *earliest < ends.Int(0))
        return std::optional<std::int64_t>();
    return std::optional<std::int64_t>(ends.Int(2) + 1);
}

// Makes the job's row when there is none: every job name a record carries has one.
int EnsureJob(sqlite3* db, std::string_view job) {
    if (job.empty()) return SQLITE_OK;
    Statement insert(db, "INSERT OR IGNORE INTO jobs(name) VALUES (?1)");
    if (!insert.ok()) return insert.PrepareCode();
    insert.Bind(1, job);
    const int rc = insert.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::optional<StoreResult> RefuseWhenReadOnly(bool readOnly, std::string_view what) {
    if (!readOnly) return std::nullopt;
    return StoreResult{
        0, 0, {ErrorCode::ReadOnly, std::string(what) + ": the file cannot be written"}};
}

}  // namespace

StoreResult Archive::StoreDownload(const SplicerIdentity& splicer,
                                   std::span<const SpliceRecord> records, std::string_view job,
                                   bool adoptUnknownSerial) {
    return Guard("storing the download", [&]() -> StoreResult {
        constexpr const char* kWhat = "storing the download";
        if (auto refused = RefuseWhenReadOnly(readOnly_, kWhat)) return *refused;
        if (auto problem = SplicerProblem(splicer))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        const sys_seconds now = Now();
        Transaction tx(db_);
        if (tx.BeginCode() != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, tx.BeginCode())};
        const auto touched = TouchSplicer(db_, splicer, now);
        if (const int* rc = std::get_if<int>(&touched)) return {0, 0, SqliteError(db_, kWhat, *rc)};
        const SplicerRow& row = std::get<SplicerRow>(touched);
        const bool adopting = adoptUnknownSerial && row.unknownSerial.has_value();

        // A record its folder's splicers of unknown serial number hold is this one's:
        // it moves here, keeping its id and job, and is not new.
        Statement adopt(db_,
                        "UPDATE OR IGNORE records SET splicer_id = ?1 "
                        "WHERE splicer_id = ?2 AND bytes = ?3");
        if (adopting) {
            if (!adopt.ok()) return {0, 0, SqliteError(db_, kWhat, adopt.PrepareCode())};
            adopt.Bind(1, row.id);
            adopt.Bind(2, *row.unknownSerial);
        }
        // Stored by splice time (the undated after, each kept in the order it came),
        // so that a download newer than everything archived is numbered as it goes.
        std::vector<std::pair<std::optional<std::int64_t>, const SpliceRecord*>> timed;
        timed.reserve(records.size());
        for (const SpliceRecord& record : records) timed.emplace_back(SpliceTime(record), &record);
        std::stable_sort(timed.begin(), timed.end(), [](const auto& x, const auto& y) {
            if (x.first.has_value() != y.first.has_value()) return x.first.has_value();
            return x.first && *x.first < *y.first;
        });
        const auto next = NextOrdinal(db_, timed.empty() ? std::nullopt : timed.front().first);
        if (const int* rc = std::get_if<int>(&next)) return {0, 0, SqliteError(db_, kWhat, *rc)};
        std::optional<std::int64_t> ordinal = std::get<std::optional<std::int64_t>>(next);
        Statement insert(db_,
                         "INSERT INTO records(splicer_id, bytes, splice_time, downloaded, job, "
                         "result, loss, ordinal) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) "
                         "ON CONFLICT(splicer_id, bytes) DO NOTHING");
        if (!insert.ok()) return {0, 0, SqliteError(db_, kWhat, insert.PrepareCode())};
        insert.Bind(1, row.id);
        insert.Bind(4, now.time_since_epoch().count());
        insert.BindOrNull(5, job);
        std::size_t added = 0;
        std::optional<std::int64_t> firstNew;
        for (const auto& [time, each] : timed) {
            const SpliceRecord& record = *each;
            if (adopting) {
                adopt.Bind(3, record.bytes);
                if (int rc = adopt.Step(); rc != SQLITE_DONE)
                    return {0, 0, SqliteError(db_, kWhat, rc)};
                adopt.Reset();
            }
            insert.Bind(2, record.bytes);
            insert.Bind(6, std::int64_t{record.result()});
            insert.Bind(7, std::int64_t{record.loss()});
            if (time) {
                insert.Bind(3, *time);
            } else {
                insert.BindNull(3);
            }
            if (ordinal) {
                insert.Bind(8, *ordinal);
            } else {
                insert.BindNull(8);
            }
            if (int rc = insert.Step(); rc != SQLITE_DONE)
                return {0, 0, SqliteError(db_, kWhat, rc)};
            if (sqlite3_changes(db_) > 0) {
                ++added;
                if (ordinal) ++*ordinal;
                if (!firstNew) firstNew = sqlite3_last_insert_rowid(db_);
            }
            insert.Reset();
        }
        if (firstNew && !ordinal) {
            if (int rc = NumberNewRecords(db_, *firstNew); rc != SQLITE_OK)
                return {0, 0, SqliteError(db_, kWhat, rc)};
        }
        if (added > 0) {
            if (int rc = EnsureJob(db_, job); rc != SQLITE_OK)
                return {0, 0, SqliteError(db_, kWhat, rc)};
            if (int rc = LogNewRecordsJob(db_, *firstNew); rc != SQLITE_OK)
                return {0, 0, SqliteError(db_, kWhat, rc)};
        }
        if (int rc = tx.Commit(); rc != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, rc)};
        return {added, 0, {}};
    });
}

StoreResult Archive::StoreImage(const SplicerIdentity& splicer, const ImageFile& image) {
    return Guard("storing an image", [&]() -> StoreResult {
        constexpr const char* kWhat = "storing an image";
        if (auto refused = RefuseWhenReadOnly(readOnly_, kWhat)) return *refused;
        if (auto problem = SplicerProblem(splicer))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        if (!IsPlainFileName(image.fileName))
            return {0,
                    0,
                    {ErrorCode::InvalidArgument,
                     "the image's file name \"" + image.fileName + "\" is not a plain name"}};
        if (image.stamp.empty())
            return {0, 0, {ErrorCode::InvalidArgument, "the image has no time stamp"}};
        const std::string sha = HexText(Sha256Of(image.bytes));
        const sys_seconds now = Now();
        Transaction tx(db_);
        if (tx.BeginCode() != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, tx.BeginCode())};
        const auto touched = TouchSplicer(db_, splicer, now);
        if (const int* rc = std::get_if<int>(&touched)) return {0, 0, SqliteError(db_, kWhat, *rc)};
        const SplicerRow& row = std::get<SplicerRow>(touched);

        // As a record: the image its folder's splicers of unknown serial number hold is this one's.
        if (row.unknownSerial) {
            Statement adopt(db_,
                            "UPDATE OR IGNORE images SET splicer_id = ?1 "
                            "WHERE splicer_id = ?2 AND stamp = ?3 AND sha256 = ?4");
            if (!adopt.ok()) return {0, 0, SqliteError(db_, kWhat, adopt.PrepareCode())};
            adopt.Bind(1, row.id);
            adopt.Bind(2, *row.unknownSerial);
            adopt.Bind(3, image.stamp);
            adopt.Bind(4, sha);
            if (int rc = adopt.Step(); rc != SQLITE_DONE)
                return {0, 0, SqliteError(db_, kWhat, rc)};
        }
        Statement known(
            db_, "SELECT id FROM images WHERE splicer_id = ?1 AND stamp = ?2 AND sha256 = ?3");
        if (!known.ok()) return {0, 0, SqliteError(db_, kWhat, known.PrepareCode())};
        known.Bind(1, row.id);
        known.Bind(2, image.stamp);
        known.Bind(3, sha);
        int rc = known.Step();
        std::size_t added = 0;
        std::int64_t id = 0;
        if (rc == SQLITE_ROW) {
            // The same picture saved again, perhaps under another list position's name.
            id = known.Int(0);
            Statement rename(db_, "UPDATE images SET file_name = ?1 WHERE id = ?2");
            if (!rename.ok()) return {0, 0, SqliteError(db_, kWhat, rename.PrepareCode())};
            rename.Bind(1, image.fileName);
            rename.Bind(2, id);
            rc = rename.Step();
        } else if (rc == SQLITE_DONE) {
            Statement insert(db_,
                             "INSERT INTO images(splicer_id, stamp, splice_time, file_name, size, "
                             "sha256, stored) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            if (!insert.ok()) return {0, 0, SqliteError(db_, kWhat, insert.PrepareCode())};
            insert.Bind(1, row.id);
            insert.Bind(2, image.stamp);
            if (auto time = SpliceTime(image.stamp)) {
                insert.Bind(3, *time);
            } else {
                insert.BindNull(3);
            }
            insert.Bind(4, image.fileName);
            insert.Bind(5, static_cast<std::int64_t>(image.bytes.size()));
            insert.Bind(6, sha);
            insert.Bind(7, now.time_since_epoch().count());
            rc = insert.Step();
            id = sqlite3_last_insert_rowid(db_);
            added = 1;
        }
        if (rc != SQLITE_DONE) return {0, 0, SqliteError(db_, kWhat, rc)};
        if (rc = tx.Commit(); rc != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, rc)};
        return {added, id, {}};
    });
}

StoreResult Archive::StoreSnapshot(const SplicerIdentity& splicer, std::string_view why,
                                   std::span<const GroupBytes> groups) {
    return Guard("storing a parameter snapshot", [&]() -> StoreResult {
        constexpr const char* kWhat = "storing a parameter snapshot";
        auto refuse = [](std::string text) {
            return StoreResult{0, 0, {ErrorCode::InvalidArgument, std::move(text)}};
        };
        if (auto refused = RefuseWhenReadOnly(readOnly_, kWhat)) return *refused;
        if (auto problem = SplicerProblem(splicer)) return refuse(*problem);
        if (why.empty()) return refuse("a snapshot needs a reason");
        if (groups.empty()) return refuse("a snapshot needs at least one parameter record");
        std::set<RecordKind> kinds;
        for (const GroupBytes& group : groups) {
            const std::size_t size = RecordKindSize(group.kind);
            if (size == 0)
                return refuse("unknown parameter record kind " +
                              std::to_string(static_cast<int>(group.kind)));
            if (group.bytes.size() != size)
                return refuse("parameter record kind " +
                              std::to_string(static_cast<int>(group.kind)) + " has " +
                              std::to_string(group.bytes.size()) + " bytes instead of " +
                              std::to_string(size));
            if (!kinds.insert(group.kind).second)
                return refuse("parameter record kind " +
                              std::to_string(static_cast<int>(group.kind)) + " is given twice");
        }
        const sys_seconds now = Now();
        Transaction tx(db_);
        if (tx.BeginCode() != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, tx.BeginCode())};
        const auto touched = TouchSplicer(db_, splicer, now);
        if (const int* rc = std::get_if<int>(&touched)) return {0, 0, SqliteError(db_, kWhat, *rc)};

        Statement snapshot(db_,
                           "INSERT INTO snapshots(splicer_id, taken, reason) VALUES(?1, ?2, ?3)");
        if (!snapshot.ok()) return {0, 0, SqliteError(db_, kWhat, snapshot.PrepareCode())};
        snapshot.Bind(1, std::get<SplicerRow>(touched).id);
        snapshot.Bind(2, now.time_since_epoch().count());
        snapshot.Bind(3, why);
        if (int rc = snapshot.Step(); rc != SQLITE_DONE) return {0, 0, SqliteError(db_, kWhat, rc)};
        const std::int64_t id = sqlite3_last_insert_rowid(db_);

        Statement insert(
            db_, "INSERT INTO snapshot_groups(snapshot_id, kind, bytes) VALUES(?1, ?2, ?3)");
        if (!insert.ok()) return {0, 0, SqliteError(db_, kWhat, insert.PrepareCode())};
        insert.Bind(1, id);
        for (const GroupBytes& group : groups) {
            insert.Bind(2, static_cast<std::int64_t>(group.kind));
            insert.Bind(3, group.bytes);
            if (int rc = insert.Step(); rc != SQLITE_DONE)
                return {0, 0, SqliteError(db_, kWhat, rc)};
            insert.Reset();
        }
        if (int rc = tx.Commit(); rc != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, rc)};
        return {1, id, {}};
    });
}

namespace {

// The records a naming takes: one condition for a filter, one an id for a list of
// ids. Each begins with "records.job IS NOT ?1" when `changing`: only the records
// the naming would change, ?1 being the job given. The filter's values follow ?1.
std::vector<Where> NamingConditions(
    const std::variant<RecordFilter, std::vector<std::int64_t>>& taken, bool changing) {
    std::vector<Where> conditions;
    auto start = [&]() -> Where& {
        Where& where = conditions.emplace_back();
        if (changing) where.Add("records.job IS NOT ?1");
        return where;
    };
    if (const auto* filter = std::get_if<RecordFilter>(&taken)) {
        AddFilter(start(), *filter);
    } else {
        for (const std::int64_t id :
             std::set<std::int64_t>(std::get<1>(taken).begin(), std::get<1>(taken).end())) {
            Where& where = start();
            where.Add("records.id = ?");
            where.values.emplace_back(id);
        }
    }
    return conditions;
}

std::variant<NamingPreview, int> Preview(sqlite3* db, std::string_view job,
                                         const std::vector<Where>& conditions) {
    NamingPreview preview;
    for (const Where& where : conditions) {
        Statement count(db,
                        "SELECT count(*), coalesce(sum(records.job IS NULL), 0), "
                        "coalesce(sum(records.job IS NOT NULL AND records.job IS NOT ?1), 0) "
                        "FROM records" +
                            where.sql);
        if (!count.ok()) return count.PrepareCode();
        count.BindOrNull(1, job);
        where.BindTo(count, 2);
        if (int rc = count.Step(); rc != SQLITE_ROW) return rc;
        preview.records += static_cast<std::size_t>(count.Int(0));
        preview.noJob += static_cast<std::size_t>(count.Int(1));
        preview.otherJob += static_cast<std::size_t>(count.Int(2));
    }
    return preview;
}

// A job's row follows its name: renaming every record of job `from` to a name no job
// has yet renames the job, its closures and placings with it. Otherwise a record
// placed on a position keeps its job (the position is in a closure of that job), and
// a naming that would change one is refused. SQLITE_OK, or the failure's code with
// `refusal` empty; a refusal's text otherwise. `renamed`: the job row was renamed.
int FollowJobRow(sqlite3* db, std::string_view job, const std::optional<std::string>& from,
                 const std::vector<Where>& changing, std::string& refusal, bool& renamed) {
    if (from && !job.empty()) {
        Statement rename(db,
                         "UPDATE jobs SET name = ?2 WHERE name = ?1 AND NOT EXISTS "
                         "(SELECT 1 FROM jobs WHERE name = ?2)");
        if (!rename.ok()) return rename.PrepareCode();
        rename.Bind(1, *from);
        rename.Bind(2, job);
        if (const int rc = rename.Step(); rc != SQLITE_DONE) return rc;
        renamed = sqlite3_changes(db) > 0;
        if (renamed) return SQLITE_OK;
    }
    std::int64_t placed = 0;
    for (const Where& where : changing) {
        Statement count(db,
                        "SELECT count(*) FROM records JOIN placings ON placings.record_id = "
                        "records.id" +
                            where.sql);
        if (!count.ok()) return count.PrepareCode();
        count.BindOrNull(1, job);
        where.BindTo(count, 2);
        if (const int rc = count.Step(); rc != SQLITE_ROW) return rc;
        placed += count.Int(0);
    }
    if (placed > 0)
        refusal = std::to_string(placed) +
                  " of the records are placed on positions of their job; take them off first";
    return SQLITE_OK;
}

// Undoing a naming that renamed a whole job to a new name renames the job back;
// otherwise, as for a naming, a placed record keeps its job (see FollowJobRow).
int FollowUndo(sqlite3* db, std::string& refusal, bool& renamed) {
    Statement whole(db,
                    "SELECT back.job, now.job FROM (SELECT min(naming_undo.job) AS job, "
                    "count(DISTINCT naming_undo.job) AS jobs, count(naming_undo.job) AS named, "
                    "count(*) AS records FROM naming_undo) AS back, (SELECT min(records.job) AS "
                    "job, count(DISTINCT records.job) AS jobs FROM naming_undo JOIN records ON "
                    "records.id = naming_undo.record_id) AS now "
                    "WHERE back.jobs = 1 AND now.jobs = 1 AND back.named = back.records AND "
                    "back.records = (SELECT count(*) FROM records WHERE job = now.job) AND "
                    "NOT EXISTS (SELECT 1 FROM jobs WHERE name = back.job)");
    if (!whole.ok()) return whole.PrepareCode();
    int rc = whole.Step();
    if (rc == SQLITE_ROW) {
        Statement rename(db, "UPDATE jobs SET name = ?1 WHERE name = ?2");
        if (!rename.ok()) return rename.PrepareCode();
        const std::string back = whole.Text(0), now = whole.Text(1);
        rename.Bind(1, back);
        rename.Bind(2, now);
        rc = rename.Step();
        renamed = rc == SQLITE_DONE;
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    if (rc != SQLITE_DONE) return rc;
    Statement placed(db,
                     "SELECT count(*) FROM naming_undo JOIN placings ON placings.record_id = "
                     "naming_undo.record_id JOIN records ON records.id = naming_undo.record_id "
                     "WHERE records.job IS NOT naming_undo.job");
    if (!placed.ok()) return placed.PrepareCode();
    if (rc = placed.Step(); rc != SQLITE_ROW) return rc;
    if (placed.Int(0) > 0)
        refusal = std::to_string(placed.Int(0)) +
                  " of the records are placed on positions of their job; take them off first";
    return SQLITE_OK;
}

// Gives `job` to the records `changing` takes, keeping what they had to undo it.
// `renaming`: the job all of them have, when the naming takes every record of it.
StoreResult NameRecords(sqlite3* db, bool readOnly, std::string_view job,
                        const std::vector<Where>& changing,
                        const std::optional<std::string>& renaming) {
    constexpr const char* kWhat = "giving records a job";
    if (auto refused = RefuseWhenReadOnly(readOnly, kWhat)) return *refused;
    Transaction tx(db);
    if (tx.BeginCode() != SQLITE_OK) return {0, 0, SqliteError(db, kWhat, tx.BeginCode())};
    // A naming that changes nothing leaves the one before it to be undone.
    const auto preview = Preview(db, job, changing);
    if (const int* rc = std::get_if<int>(&preview)) return {0, 0, SqliteError(db, kWhat, *rc)};
    if (std::get<NamingPreview>(preview).records == 0) return {0, 0, {}};
    std::string refusal;
    bool renamed = false;
    if (int rc = FollowJobRow(db, job, renaming, changing, refusal, renamed); rc != SQLITE_OK)
        return {0, 0, SqliteError(db, kWhat, rc)};
    if (!refusal.empty()) return {0, 0, {ErrorCode::InvalidArgument, refusal}};
    if (int rc = EnsureJob(db, job); rc != SQLITE_OK) return {0, 0, SqliteError(db, kWhat, rc)};
    if (int rc = sqlite3_exec(db, "DELETE FROM naming_undo", nullptr, nullptr, nullptr);
        rc != SQLITE_OK)
        return {0, 0, SqliteError(db, kWhat, rc)};
    for (const Where& where : changing) {
        Statement keep(db,
                       "INSERT OR IGNORE INTO naming_undo(record_id, job) "
                       "SELECT records.id, records.job FROM records" +
                           where.sql);
        if (!keep.ok()) return {0, 0, SqliteError(db, kWhat, keep.PrepareCode())};
        keep.BindOrNull(1, job);
        where.BindTo(keep, 2);
        if (int rc = keep.Step(); rc != SQLITE_DONE) return {0, 0, SqliteError(db, kWhat, rc)};
    }
    Statement update(db,
                     "UPDATE records SET job = ?1 WHERE id IN (SELECT record_id FROM naming_undo)");
    if (!update.ok()) return {0, 0, SqliteError(db, kWhat, update.PrepareCode())};
    update.BindOrNull(1, job);
    if (int rc = update.Step(); rc != SQLITE_DONE) return {0, 0, SqliteError(db, kWhat, rc)};
    const auto changed = static_cast<std::size_t>(sqlite3_changes(db));
    // A renamed job keeps its id: its records' job did not change.
    Statement log(
        db, RecordJobLogSql("r.id IN (SELECT record_id FROM naming_undo WHERE job IS NOT ?1)"));
    if (!log.ok()) return {0, 0, SqliteError(db, kWhat, log.PrepareCode())};
    log.BindOrNull(1, job);
    if (int rc = renamed ? SQLITE_DONE : log.Step(); rc != SQLITE_DONE)
        return {0, 0, SqliteError(db, kWhat, rc)};
    if (int rc = tx.Commit(); rc != SQLITE_OK) return {0, 0, SqliteError(db, kWhat, rc)};
    return {changed, 0, {}};
}

}  // namespace

StoreResult Archive::TagJob(std::string_view job, const RecordFilter& filter) {
    return Guard("giving records a job", [&]() -> StoreResult {
        if (auto problem = FilterProblem(filter))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        const bool wholeJob = filter.job && !filter.job->empty() && !filter.device &&
                              !filter.splicer && !filter.from && !filter.to;
        return NameRecords(db_, readOnly_, job, NamingConditions(filter, true),
                           wholeJob ? filter.job : std::nullopt);
    });
}

StoreResult Archive::TagJob(std::string_view job, std::span<const std::int64_t> recordIds) {
    return Guard("giving records a job", [&]() -> StoreResult {
        return NameRecords(db_, readOnly_, job,
                           NamingConditions(std::vector(recordIds.begin(), recordIds.end()), true),
                           std::nullopt);
    });
}

std::optional<NamingPreview> Archive::PreviewJob(std::string_view job, const RecordFilter& filter) {
    return Guard("looking at a naming", [&]() -> std::optional<NamingPreview> {
        if (auto problem = FilterProblem(filter)) {
            lastError_ = {ErrorCode::InvalidArgument, *problem};
            return std::nullopt;
        }
        const auto preview = Preview(db_, job, NamingConditions(filter, false));
        if (const int* rc = std::get_if<int>(&preview)) {
            lastError_ = SqliteError(db_, "looking at a naming", *rc);
            return std::nullopt;
        }
        return std::get<NamingPreview>(preview);
    });
}

std::optional<NamingPreview> Archive::PreviewJob(std::string_view job,
                                                 std::span<const std::int64_t> recordIds) {
    return Guard("looking at a naming", [&]() -> std::optional<NamingPreview> {
        const auto preview = Preview(
            db_, job, NamingConditions(std::vector(recordIds.begin(), recordIds.end()), false));
        if (const int* rc = std::get_if<int>(&preview)) {
            lastError_ = SqliteError(db_, "looking at a naming", *rc);
            return std::nullopt;
        }
        return std::get<NamingPreview>(preview);
    });
}

StoreResult Archive::UndoLastNaming() {
    return Guard("undoing the last naming", [&]() -> StoreResult {
        constexpr const char* kWhat = "undoing the last naming";
        if (auto refused = RefuseWhenReadOnly(readOnly_, kWhat)) return *refused;
        Transaction tx(db_);
        if (tx.BeginCode() != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, tx.BeginCode())};
        std::string refusal;
        bool renamed = false;
        if (int rc = FollowUndo(db_, refusal, renamed); rc != SQLITE_OK)
            return {0, 0, SqliteError(db_, kWhat, rc)};
        if (!refusal.empty()) return {0, 0, {ErrorCode::InvalidArgument, refusal}};
        int rc = sqlite3_exec(db_,
                              "INSERT OR IGNORE INTO jobs(name) SELECT DISTINCT job FROM "
                              "naming_undo WHERE job IS NOT NULL",
                              nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db_,
                              "UPDATE records SET job = (SELECT naming_undo.job FROM naming_undo "
                              "WHERE naming_undo.record_id = records.id) "
                              "WHERE id IN (SELECT record_id FROM naming_undo)",
                              nullptr, nullptr, nullptr);
        const auto restored = static_cast<std::size_t>(sqlite3_changes(db_));
        if (rc == SQLITE_OK && !renamed)
            rc = sqlite3_exec(
                db_, RecordJobLogSql("r.id IN (SELECT record_id FROM naming_undo)").c_str(),
                nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db_, "DELETE FROM naming_undo", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) rc = tx.Commit();
        if (rc != SQLITE_OK) return {0, 0, SqliteError(db_, kWhat, rc)};
        return {restored, 0, {}};
    });
}

// ---- reading ----

std::optional<std::vector<ArchivedRecord>> Archive::Records(const RecordFilter& filter) {
    using Result = std::optional<std::vector<ArchivedRecord>>;
    return Guard("reading records", [&]() -> Result {
        constexpr const char* kWhat = "reading records";
        if (auto problem = FilterProblem(filter)) {
            lastError_ = {ErrorCode::InvalidArgument, *problem};
            return std::nullopt;
        }
        auto fail = [&](int rc) -> Result {
            lastError_ = SqliteError(db_, kWhat, rc);
            return std::nullopt;
        };
        // The splicers by id: a handful, read once instead of joined to every row.
        struct Splicer {
            std::string folder;
            std::string serial;
        };
        std::unordered_map<std::int64_t, Splicer> splicers;
        {
            Statement query(db_, "SELECT id, folder, serial FROM splicers");
            if (!query.ok()) return fail(query.PrepareCode());
            int rc;
            while ((rc = query.Step()) == SQLITE_ROW)
                splicers[query.Int(0)] = {query.Text(1), query.Text(2)};
            if (rc != SQLITE_DONE) return fail(rc);
        }
        // The images the records taken can be tied to (same splicer, same second), in
        // time order, walked beside the records: far fewer than the records, and a
        // lookup for every record would cost more than the records themselves.
        struct TimedImage {
            std::int64_t splicer;
            std::int64_t time;
            std::string name;
        };
        std::vector<TimedImage> images;
        {
            Where where;
            AddSplicersAndDays(where, filter, "images");
            where.Add("images.splice_time IS NOT NULL");
            Statement query(db_, "SELECT splicer_id, splice_time, file_name FROM images" +
                                     where.sql + " ORDER BY splice_time, file_name");
            if (!query.ok()) return fail(query.PrepareCode());
            where.BindTo(query, 1);
            int rc;
            while ((rc = query.Step()) == SQLITE_ROW)
                images.push_back({query.Int(0), query.Int(1), query.Text(2)});
            if (rc != SQLITE_DONE) return fail(rc);
        }

        // A page cache of 16 MB instead of SQLite's 2 while the records are read in
        // time order through an index: each row's page is then found in memory instead
        // of read and decoded again (100,000 records four times faster). Given back
        // after, so that a long-running window does not keep it.
        sqlite3_exec(db_, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
        struct CacheBack {
            sqlite3* db;
            ~CacheBack() { sqlite3_exec(db, "PRAGMA cache_size=-2000", nullptr, nullptr, nullptr); }
        } cacheBack{db_};
        // Counted first (through the same index, a small part of the reading) so that
        // the list is made once: growing it copies every record taken so far.
        std::vector<ArchivedRecord> out;
        {
            const Where where = FilterWhere(filter);
            Statement count(db_, "SELECT count(*) FROM records" + where.sql);
            if (!count.ok()) return fail(count.PrepareCode());
            where.BindTo(count, 1);
            if (const int rc = count.Step(); rc != SQLITE_ROW) return fail(rc);
            out.reserve(static_cast<std::size_t>(count.Int(0)));
        }
        std::size_t nextImage = 0;
        // Dated records by time through the time index; then, without a date range,
        // the undated ones in the order they were stored.
        for (const bool dated : {true, false}) {
            if (!dated && (filter.from || filter.to)) break;
            Where where = FilterWhere(filter);
            where.Add(dated ? "records.splice_time IS NOT NULL" : "records.splice_time IS NULL");
            Statement query(
                db_, "SELECT id, splicer_id, splice_time, bytes, job, downloaded FROM records" +
                         where.sql + (dated ? " ORDER BY splice_time, id" : " ORDER BY id"));
            if (!query.ok()) return fail(query.PrepareCode());
            where.BindTo(query, 1);
            int rc;
            while ((rc = query.Step()) == SQLITE_ROW) {
                ArchivedRecord& r = out.emplace_back();
                r.id = query.Int(0);
                const std::int64_t splicer = query.Int(1);
                r.splicerId = splicer;
                r.device = splicers[splicer].folder;
                r.serialNumber = splicers[splicer].serial;
                const auto bytes = query.Blob(3);
                std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize),
                            r.record.bytes.begin());
                r.job = query.Text(4);
                r.firstDownloaded = sys_seconds{std::chrono::seconds{query.Int(5)}};
                if (!dated) continue;
                const std::int64_t time = query.Int(2);
                while (nextImage < images.size() && images[nextImage].time < time) ++nextImage;
                for (std::size_t i = nextImage; i < images.size() && images[i].time == time; ++i)
                    if (images[i].splicer == splicer) r.images.push_back(images[i].name);
            }
            if (rc != SQLITE_DONE) return fail(rc);
        }
        return out;
    });
}

std::optional<SpliceSpan> Archive::SpliceTimes(const RecordFilter& filter) {
    using Result = std::optional<SpliceSpan>;
    return Guard("reading the first and last splice time", [&]() -> Result {
        constexpr const char* kWhat = "reading the first and last splice time";
        if (auto problem = FilterProblem(filter)) {
            lastError_ = {ErrorCode::InvalidArgument, *problem};
            return std::nullopt;
        }
        // Each a query of its own: SQLite seeks one end of the time index for a lone
        // min() or max(), but scans for the two together.
        const Where where = FilterWhere(filter);
        Statement query(db_, "SELECT (SELECT min(splice_time) FROM records" + where.sql +
                                 "), (SELECT max(splice_time) FROM records" + where.sql + ")");
        if (!query.ok()) {
            lastError_ = SqliteError(db_, kWhat, query.PrepareCode());
            return std::nullopt;
        }
        where.BindTo(query, 1);
        where.BindTo(query, 1 + static_cast<int>(where.values.size()));
        if (const int rc = query.Step(); rc != SQLITE_ROW) {
            lastError_ = SqliteError(db_, kWhat, rc);
            return std::nullopt;
        }
        // YYYYMMDDhhmmss back to a time.
        auto time = [&](int column) -> std::optional<std::chrono::local_seconds> {
            if (query.IsNull(column)) return std::nullopt;
            const std::int64_t t = query.Int(column);
            auto part = [t](std::int64_t unit) { return static_cast<unsigned>(t / unit % 100); };
            const std::chrono::year_month_day date{
                std::chrono::year{static_cast<int>(t / 10'000'000'000)},
                std::chrono::month{part(100'000'000)}, std::chrono::day{part(1'000'000)}};
            return std::chrono::local_days{date} + std::chrono::hours{part(10'000)} +
                   std::chrono::minutes{part(100)} + std::chrono::seconds{part(1)};
        };
        return SpliceSpan{time(0), time(1)};
    });
}

std::optional<std::vector<ArchivedImage>> Archive::Images(std::string_view device) {
    using Result = std::optional<std::vector<ArchivedImage>>;
    return Guard("reading images", [&]() -> Result {
        Statement query(db_,
                        "SELECT images.id, splicers.folder, images.stamp, images.file_name, "
                        "images.size, images.sha256, (SELECT min(records.id) FROM records WHERE "
                        "records.splicer_id = images.splicer_id AND "
                        "records.splice_time = images.splice_time) "
                        "FROM images JOIN splicers ON splicers.id = images.splicer_id "
                        "WHERE splicers.serial = ?1 OR splicers.folder = ?1 "
                        "ORDER BY images.stamp, images.file_name");
        if (!query.ok()) {
            lastError_ = SqliteError(db_, "reading images", query.PrepareCode());
            return std::nullopt;
        }
        query.Bind(1, device);
        std::vector<ArchivedImage> out;
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW) {
            ArchivedImage& image = out.emplace_back();
            image.id = query.Int(0);
            image.device = query.Text(1);
            image.stamp = query.Text(2);
            image.fileName = query.Text(3);
            image.size = static_cast<std::uint64_t>(query.Int(4));
            image.sha256 = query.Text(5);
            if (!query.IsNull(6)) image.recordId = query.Int(6);
        }
        if (rc != SQLITE_DONE) {
            lastError_ = SqliteError(db_, "reading images", rc);
            return std::nullopt;
        }
        return out;
    });
}

namespace {

// Snapshots and their groups, one row a group, in snapshot order then kind.
std::optional<std::vector<ParameterSnapshot>> ReadSnapshots(sqlite3* db, const std::string& where,
                                                            const Where& values, int* rcOut) {
    Statement query(db,
                    "SELECT snapshots.id, splicers.folder, snapshots.taken, snapshots.reason, "
                    "snapshot_groups.kind, snapshot_groups.bytes, splicers.serial FROM snapshots "
                    "JOIN splicers ON splicers.id = snapshots.splicer_id "
                    "JOIN snapshot_groups ON snapshot_groups.snapshot_id = snapshots.id" +
                        where + " ORDER BY snapshots.taken, snapshots.id, snapshot_groups.kind");
    if (!query.ok()) {
        *rcOut = query.PrepareCode();
        return std::nullopt;
    }
    values.BindTo(query, 1);
    std::vector<ParameterSnapshot> out;
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        if (out.empty() || out.back().id != query.Int(0)) {
            ParameterSnapshot& s = out.emplace_back();
            s.id = query.Int(0);
            s.device = query.Text(1);
            s.taken = sys_seconds{std::chrono::seconds{query.Int(2)}};
            s.reason = query.Text(3);
            s.serialNumber = query.Text(6);
        }
        // A kind no record has (a file changed by other means) is left out.
        const std::optional<ParamRecord> kind = RecordNumbered(static_cast<int>(query.Int(4)));
        const auto bytes = query.Blob(5);
        if (kind)
            out.back().groups.push_back(
                {*kind, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    }
    *rcOut = rc;
    if (rc != SQLITE_DONE) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::vector<ParameterSnapshot>> Archive::Snapshots(const SnapshotFilter& filter) {
    using Result = std::optional<std::vector<ParameterSnapshot>>;
    return Guard("reading parameter snapshots", [&]() -> Result {
        Where where;
        AddSplicers(where, filter.device, filter.splicer, "snapshots");
        if (filter.reason) {
            where.Add("snapshots.reason = ?");
            where.values.emplace_back(*filter.reason);
        }
        int rc = SQLITE_OK;
        auto out = ReadSnapshots(db_, where.sql, where, &rc);
        if (!out) lastError_ = SqliteError(db_, "reading parameter snapshots", rc);
        return out;
    });
}

std::optional<ParameterSnapshot> Archive::Snapshot(std::int64_t id) {
    using Result = std::optional<ParameterSnapshot>;
    return Guard("reading a parameter snapshot", [&]() -> Result {
        Where where;
        where.Add("snapshots.id = ?");
        where.values.emplace_back(id);
        int rc = SQLITE_OK;
        auto out = ReadSnapshots(db_, where.sql, where, &rc);
        if (!out) {
            lastError_ = SqliteError(db_, "reading a parameter snapshot", rc);
            return std::nullopt;
        }
        if (out->empty()) {
            lastError_ = {ErrorCode::NotFound,
                          "there is no parameter snapshot " + std::to_string(id)};
            return std::nullopt;
        }
        return std::move(out->front());
    });
}

std::optional<std::vector<SplicerInfo>> Archive::Splicers() {
    using Result = std::optional<std::vector<SplicerInfo>>;
    return Guard("reading splicers", [&]() -> Result {
        Statement query(
            db_,
            "SELECT id, folder, serial, first_seen, last_seen FROM splicers "
            "ORDER BY serial = '', CASE serial WHEN '' THEN folder ELSE serial END, id");
        if (!query.ok()) {
            lastError_ = SqliteError(db_, "reading splicers", query.PrepareCode());
            return std::nullopt;
        }
        std::vector<SplicerInfo> out;
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            out.push_back({query.Int(0), query.Text(1), query.Text(2),
                           sys_seconds{std::chrono::seconds{query.Int(3)}},
                           sys_seconds{std::chrono::seconds{query.Int(4)}}});
        if (rc != SQLITE_DONE) {
            lastError_ = SqliteError(db_, "reading splicers", rc);
            return std::nullopt;
        }
        return out;
    });
}

std::optional<std::vector<JobSummary>> Archive::Jobs() {
    using Result = std::optional<std::vector<JobSummary>>;
    return Guard("reading jobs", [&]() -> Result {
        Statement query(db_,
                        "SELECT job, count(*) FROM records WHERE job IS NOT NULL "
                        "GROUP BY job ORDER BY job");
        if (!query.ok()) {
            lastError_ = SqliteError(db_, "reading jobs", query.PrepareCode());
            return std::nullopt;
        }
        std::vector<JobSummary> out;
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            out.push_back({query.Text(0), static_cast<std::size_t>(query.Int(1))});
        if (rc != SQLITE_DONE) {
            lastError_ = SqliteError(db_, "reading jobs", rc);
            return std::nullopt;
        }
        return out;
    });
}

// ---- sending to a team archive ----

std::optional<OutboxMarks> Archive::SentMarks(std::string_view team) {
    using Result = std::optional<OutboxMarks>;
    return Guard("reading what was sent", [&]() -> Result {
        OutboxMarks marks;
        Statement query(db_, "SELECT kind, up_to FROM team_marks WHERE team = ?1");
        Statement last(db_, "SELECT last_success FROM team_sends WHERE team = ?1");
        if (!query.ok() || !last.ok()) {
            lastError_ = SqliteError(db_, "reading what was sent",
                                     query.ok() ? last.PrepareCode() : query.PrepareCode());
            return std::nullopt;
        }
        query.Bind(1, team);
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            if (query.Int(0) >= 0 && query.Int(0) < static_cast<std::int64_t>(kOutboxKinds))
                marks.upTo[static_cast<std::size_t>(query.Int(0))] = query.Int(1);
        last.Bind(1, team);
        if (rc == SQLITE_DONE && (rc = last.Step()) == SQLITE_ROW) {
            marks.lastSuccess = sys_seconds{std::chrono::seconds{last.Int(0)}};
            rc = SQLITE_DONE;
        }
        if (rc != SQLITE_DONE) {
            lastError_ = SqliteError(db_, "reading what was sent", rc);
            return std::nullopt;
        }
        return marks;
    });
}

std::optional<OutboxCounts> Archive::Waiting(const OutboxCounts& upTo) {
    using Result = std::optional<OutboxCounts>;
    return Guard("counting what waits to be sent", [&]() -> Result {
        const std::string kCount[kOutboxKinds] = {
            "SELECT count(*) FROM records WHERE id > ?1 AND " + NotReceivedSql(0, "id"),
            "SELECT count(*) FROM images WHERE id > ?1 AND " + NotReceivedSql(1, "id"),
            "SELECT count(*) FROM snapshots WHERE id > ?1",
            "SELECT count(*) FROM job_changes WHERE id > ?1 AND laptop = ''"};
        OutboxCounts counts{};
        for (std::size_t kind = 0; kind < kOutboxKinds; ++kind) {
            Statement query(db_, kCount[kind]);
            int rc = query.PrepareCode();
            if (query.ok()) {
                query.Bind(1, upTo[kind]);
                rc = query.Step();
            }
            if (rc != SQLITE_ROW) {
                lastError_ = SqliteError(db_, "counting what waits to be sent", rc);
                return std::nullopt;
            }
            counts[kind] = query.Int(0);
        }
        return counts;
    });
}

namespace {

// The rows `sql` selects above `after` (?1), at most `limit` (?2), each made by `read`.
template <class Row, class Read>
std::optional<std::vector<Row>> RowsToSend(sqlite3* db, const std::string& sql, std::int64_t after,
                                           std::size_t limit, ArchiveError& error, Read read) {
    Statement query(db, sql);
    if (!query.ok()) {
        error = SqliteError(db, "reading what waits to be sent", query.PrepareCode());
        return std::nullopt;
    }
    query.Bind(1, after);
    query.Bind(2, static_cast<std::int64_t>(limit));
    std::vector<Row> rows;
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        Row& row = rows.emplace_back();
        row.id = query.Int(0);
        row.serialNumber = query.Text(1);
        row.device = query.Text(2);
        row.stored = sys_seconds{std::chrono::seconds{query.Int(3)}};
        read(query, row);
    }
    if (rc != SQLITE_DONE) {
        error = SqliteError(db, "reading what waits to be sent", rc);
        return std::nullopt;
    }
    return rows;
}

}  // namespace

std::optional<std::vector<OutboxRecord>> Archive::RecordsToSend(std::int64_t after,
                                                                std::size_t limit) {
    using Result = std::optional<std::vector<OutboxRecord>>;
    return Guard("reading records to send", [&]() -> Result {
        return RowsToSend<OutboxRecord>(
            db_,
            "SELECT records.id, splicers.serial, splicers.folder, records.downloaded, "
            "records.bytes FROM records JOIN splicers ON splicers.id = records.splicer_id "
            "WHERE records.id > ?1 AND " +
                NotReceivedSql(0, "records.id") + " ORDER BY records.id LIMIT ?2",
            after, limit, lastError_, [](Statement& query, OutboxRecord& row) {
                const auto bytes = query.Blob(4);
                std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize),
                            row.record.bytes.begin());
            });
    });
}

std::optional<std::vector<OutboxImage>> Archive::ImagesToSend(std::int64_t after,
                                                              std::size_t limit) {
    using Result = std::optional<std::vector<OutboxImage>>;
    return Guard("reading images to send", [&]() -> Result {
        return RowsToSend<OutboxImage>(
            db_,
            "SELECT images.id, splicers.serial, splicers.folder, images.stored, images.stamp, "
            "images.file_name, images.size, images.sha256 FROM images "
            "JOIN splicers ON splicers.id = images.splicer_id "
            "WHERE images.id > ?1 AND " +
                NotReceivedSql(1, "images.id") + " ORDER BY images.id LIMIT ?2",
            after, limit, lastError_, [](Statement& query, OutboxImage& row) {
                row.stamp = query.Text(4);
                row.fileName = query.Text(5);
                row.size = static_cast<std::uint64_t>(query.Int(6));
                row.sha256 = query.Text(7);
            });
    });
}

std::optional<std::vector<OutboxSnapshot>> Archive::SnapshotsToSend(std::int64_t after,
                                                                    std::size_t limit) {
    using Result = std::optional<std::vector<OutboxSnapshot>>;
    return Guard("reading parameter snapshots to send", [&]() -> Result {
        auto rows = RowsToSend<OutboxSnapshot>(
            db_,
            "SELECT snapshots.id, splicers.serial, splicers.folder, snapshots.taken, "
            "snapshots.reason FROM snapshots JOIN splicers ON splicers.id = snapshots.splicer_id "
            "WHERE snapshots.id > ?1 ORDER BY snapshots.id LIMIT ?2",
            after, limit, lastError_,
            [](Statement& query, OutboxSnapshot& row) { row.reason = query.Text(4); });
        if (!rows) return rows;
        Statement groups(db_,
                         "SELECT kind, bytes FROM snapshot_groups WHERE snapshot_id = ?1 "
                         "ORDER BY kind");
        for (OutboxSnapshot& row : *rows) {
            groups.Reset();
            groups.Bind(1, row.id);
            int rc;
            while ((rc = groups.Step()) == SQLITE_ROW) {
                const auto bytes = groups.Blob(1);
                if (const auto kind = RecordNumbered(static_cast<int>(groups.Int(0))))
                    row.groups.push_back({*kind, {bytes.begin(), bytes.end()}});
            }
            if (rc != SQLITE_DONE) {
                lastError_ = SqliteError(db_, "reading parameter snapshots to send", rc);
                return std::nullopt;
            }
        }
        return rows;
    });
}

bool Archive::MarkSent(std::string_view team, OutboxKind kind, std::int64_t upTo) {
    return Guard("keeping what was sent", [&]() -> bool {
        Statement mark(db_,
                       "INSERT INTO team_marks(team, kind, up_to) VALUES(?1, ?2, ?3) "
                       "ON CONFLICT(team, kind) DO UPDATE SET up_to = max(up_to, excluded.up_to)");
        int rc = mark.PrepareCode();
        if (mark.ok()) {
            mark.Bind(1, team);
            mark.Bind(2, static_cast<std::int64_t>(kind));
            mark.Bind(3, upTo);
            rc = mark.Step();
        }
        if (rc == SQLITE_DONE) return true;
        lastError_ = SqliteError(db_, "keeping what was sent", rc);
        return false;
    });
}

bool Archive::MarkSendComplete(std::string_view team) {
    return Guard("keeping the time of the send", [&]() -> bool {
        Statement mark(db_, "INSERT OR REPLACE INTO team_sends(team, last_success) VALUES(?1, ?2)");
        int rc = mark.PrepareCode();
        if (mark.ok()) {
            mark.Bind(1, team);
            mark.Bind(2, static_cast<std::int64_t>(Now().time_since_epoch().count()));
            rc = mark.Step();
        }
        if (rc == SQLITE_DONE) return true;
        lastError_ = SqliteError(db_, "keeping the time of the send", rc);
        return false;
    });
}

std::optional<PullMark> Archive::PulledMark(std::string_view team, std::string_view scope) {
    using Result = std::optional<PullMark>;
    return Guard("reading what was read from the team archive", [&]() -> Result {
        Statement query(db_, "SELECT mark, pulled FROM team_pulls WHERE team = ?1 AND scope = ?2");
        int rc = query.PrepareCode();
        PullMark mark;
        if (query.ok()) {
            query.Bind(1, team);
            query.Bind(2, scope);
            rc = query.Step();
            if (rc == SQLITE_ROW) {
                mark = {query.Text(0), sys_seconds{std::chrono::seconds{query.Int(1)}}};
                rc = SQLITE_DONE;
            }
        }
        if (rc == SQLITE_DONE) return mark;
        lastError_ = SqliteError(db_, "reading what was read from the team archive", rc);
        return std::nullopt;
    });
}

bool Archive::KeepPulledMark(std::string_view team, std::string_view scope, std::string_view mark) {
    return Guard("keeping what was read from the team archive", [&]() -> bool {
        Statement keep(db_,
                       "INSERT OR REPLACE INTO team_pulls(team, scope, mark, pulled) "
                       "VALUES(?1, ?2, ?3, ?4)");
        int rc = keep.PrepareCode();
        if (keep.ok()) {
            keep.Bind(1, team);
            keep.Bind(2, scope);
            keep.Bind(3, mark);
            keep.Bind(4, static_cast<std::int64_t>(Now().time_since_epoch().count()));
            rc = keep.Step();
        }
        if (rc == SQLITE_DONE) return true;
        lastError_ = SqliteError(db_, "keeping what was read from the team archive", rc);
        return false;
    });
}

void Archive::LeaveLogOnClose() {
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

}  // namespace velmora::archive
