// Opening the archive (and refusing a file that is not a usable one), checking it,
// and closing it.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "archive/archive.h"
#include "archive/archive_schema.h"
#include "archive/archive_sql.h"
#include "archive/database.h"
#include "archive/record_identity.h"
#include "base/lock_file.h"
#include "base/path_text.h"
#include "base/sha256.h"
#include "base/text_codec.h"

namespace velmora::archive {
namespace {

constexpr const char* kOpening = "opening the archive";

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

// Whether the file is there; for writing, its folder is made when missing.
bool PrepareFolder(const std::filesystem::path& file, bool writing) {
    // SQLite would open a private temporary database for an empty name.
    if (file.empty()) throw ArchiveError{ErrorCode::CannotOpen, "no archive file was given"};
    std::error_code ec;
    const bool existed = std::filesystem::exists(file, ec);
    if (!writing && !existed)
        throw ArchiveError{ErrorCode::NoArchive, "nothing has been archived yet"};
    if (writing && file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec)
            throw ArchiveError{
                ErrorCode::CannotOpen,
                "creating the folder " + PathText(file.parent_path()) + ": " + ec.message()};
    }
    return existed;
}

// One Archive serves one thread, so the connection needs no mutex of its own.
void Connect(DbHandle& db, const std::string& file, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) throw db::Failure(db.get(), rc);
}

int VersionOf(sqlite3* db) {
    return static_cast<int>(db::Statement(db, "PRAGMA user_version").Single().value_or(0));
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

// The file's version, read before anything is written: a file that is not an
// archive of ours, or one from a newer program, is left as it is.
int ReadVersion(DbHandle& db, const std::filesystem::path& file, bool readOnly) {
    try {
        return VersionOf(db.get());
    } catch (const db::Failure& failure) {
        if (!readOnly || (failure.Code() & 0xFF) != SQLITE_READONLY) throw;
    }
    // Nor can its folder be written: there is no room for the index SQLite reads a
    // WAL file through. Read it as a file nobody changes.
    CloseUntouched(db);
    Connect(db, ImmutableUri(file), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    return VersionOf(db.get());
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

// The marker held while the file is open (none where it cannot be kept), and whether
// the whole file is to be checked: the first program to open the file reads its
// marker; while others have it open, the one that opened it first has checked it.
std::pair<std::unique_ptr<LockFile>, bool> TakeMarker(const std::filesystem::path& file,
                                                      bool readOnly, bool existed) {
    std::unique_ptr<LockFile> marker = readOnly ? nullptr : LockFile::Open(OpenMarkerFile(file));
    bool check = true;
    if (marker && marker->TryExclusive()) {
        check = existed && marker->Read() != ClosedState(file);
    } else if (marker) {
        check = false;
        if (!marker->Shared()) marker.reset();
    }
    return {std::move(marker), check};
}

// SQLite's quick check over every page: the first problem found ("" when sound). A
// truncated or scribbled file shows here rather than in the middle of a later query.
std::string QuickCheck(sqlite3* db) {
    db::Statement check(db, "PRAGMA quick_check(1)");
    if (!check.Next()) return {};
    std::string verdict = check.Text(0);
    if (verdict == "ok") verdict.clear();
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    return verdict;
}

// A file of a version this program cannot work on is refused.
void CheckVersion(int version, bool readOnly) {
    if (version > SchemaVersion())
        throw ArchiveError{ErrorCode::TooNew, "its version " + std::to_string(version) +
                                                  " is newer than this program's " +
                                                  std::to_string(SchemaVersion())};
    if (readOnly && version < SchemaVersion())
        throw ArchiveError{ErrorCode::CannotOpen,
                           "it cannot be written, and it is of an older version (" +
                               std::to_string(version) +
                               ") that must first be brought up to date where it can be"};
}

// PRAGMA journal_mode=WAL may answer SQLITE_BUSY at once, without the busy handler,
// while another connection is switching the same new file: try again until the
// busy timeout has passed. A file system without shared memory keeps its rollback
// journal; the busy timeout still keeps two writers from losing anything.
void SwitchToWal(sqlite3* db, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        try {
            db::Statement(db, "PRAGMA journal_mode=WAL").Run();
            return;
        } catch (const db::Failure& failure) {
            if ((failure.Code() & 0xFF) != SQLITE_BUSY ||
                std::chrono::steady_clock::now() >= giveUp)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A file to be written: kept in WAL mode and brought up to date.
void PrepareForWriting(sqlite3* db, std::chrono::milliseconds busyTimeout) {
    SwitchToWal(db, busyTimeout);
    db::Execute(db, "PRAGMA synchronous=NORMAL");
    const MigrationOutcome migrated = Migrate(db, SchemaVersion());
    if (migrated.sqliteCode != SQLITE_OK)
        throw ArchiveError{db::KindOf(migrated.sqliteCode), migrated.message};
    // After the migration, which may rebuild a table others refer to.
    db::Execute(db, "PRAGMA foreign_keys=ON");
}

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

// The connection's functions for the job log's triggers: velmora_now() ...
void RegisterChangeFunctions(sqlite3* db, ChangeContext* changes) {
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
    // The pass rule's verdict (Verdict) on a record's bytes against a loss and an
    // angle limit: the result filter judges with the rule itself.
    auto verdict = [](sqlite3_context* context, int, sqlite3_value** args) {
        SpliceRecord record;
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(args[0]));
        const auto size = static_cast<std::size_t>(sqlite3_value_bytes(args[0]));
        if (bytes) std::copy_n(bytes, std::min(size, record.bytes.size()), record.bytes.begin());
        const Limits limits{sqlite3_value_int(args[1]), sqlite3_value_int(args[2])};
        sqlite3_result_int(context, static_cast<int>(VerdictOf(Judge(record, limits))));
    };
    // Whether a name holds a text, without regard to case in any script (SQLite's LIKE
    // folds ASCII alone and reads % and _ as wildcards).
    auto holds = [](sqlite3_context* context, int, sqlite3_value** args) {
        const auto text = [&](int i) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(args[i]));
            return FoldCase(t ? t : "");
        };
        sqlite3_result_int(context, text(0).find(text(1)) != std::string::npos);
    };
    const struct {
        const char* name;
        int args;
        void (*call)(sqlite3_context*, int, sqlite3_value**);
    } functions[] = {{"velmora_now", 0, now},           {"velmora_author", 0, author},
                     {"velmora_applying", 0, applying}, {"velmora_uuid", 0, random},
                     {"velmora_name_uuid", 2, named},   {"velmora_record_identity", 3, identity},
                     {"velmora_verdict", 3, verdict},   {"velmora_holds", 2, holds}};
    for (const auto& f : functions) {
        const int flags = SQLITE_UTF8 | (f.args > 0 ? SQLITE_DETERMINISTIC : 0);
        if (int rc = sqlite3_create_function(db, f.name, f.args, flags, changes, f.call, nullptr,
                                             nullptr);
            rc != SQLITE_OK)
            throw db::Failure(db, rc);
    }
}

}  // namespace

OpenResult Archive::Open(const std::filesystem::path& file, OpenOptions options) {
    const std::string fileText = PathText(file);
    DbHandle db;
    ArchiveError refusal;
    try {
        const bool writing = options.purpose == OpenFor::Writing;
        const bool existed = PrepareFolder(file, writing);
        try {
            Connect(db, fileText, SQLITE_OPEN_READWRITE | (writing ? SQLITE_OPEN_CREATE : 0));
        } catch (const db::Failure& failure) {
            if (failure.Kind() == ErrorCode::Locked) throw;
            throw ArchiveError{ErrorCode::CannotOpen, failure.During(kOpening).message};
        }
        // SQLite falls back to reading only when the file cannot be written.
        const bool readOnly = sqlite3_db_readonly(db.get(), "main") == 1;
        sqlite3_busy_timeout(db.get(), static_cast<int>(options.busyTimeout.count()));
        auto changes = std::make_unique<ChangeContext>(ChangeContext{options.clock, UserName()});
        const int version = ReadVersion(db, file, readOnly);
        RegisterChangeFunctions(db.get(), changes.get());
        auto [marker, check] = TakeMarker(file, readOnly, existed);
        if (check) {
            if (const std::string verdict = QuickCheck(db.get()); !verdict.empty())
                throw ArchiveError{ErrorCode::Damaged, "the file is damaged: " + verdict};
        }
        CheckVersion(version, readOnly);
        if (!readOnly) {
            PrepareForWriting(db.get(), options.busyTimeout);
            // Said open until the last program to use it closes it.
            if (marker && !marker->Write(kOpenState)) marker.reset();
            if (marker && !marker->Shared()) marker.reset();
        }
        return {std::unique_ptr<Archive>(new Archive(db.release(), std::move(marker), options.clock,
                                                     fileText, readOnly, std::move(changes))),
                {}};
    } catch (const db::Failure& failure) {
        refusal = failure.During(kOpening);
    } catch (const ArchiveError& error) {
        refusal = error;
    } catch (const std::exception& e) {
        refusal = {ErrorCode::Failed, std::string(kOpening) + ": " + e.what()};
    } catch (...) {
        refusal = {ErrorCode::Failed, std::string(kOpening) + ": unexpected failure"};
    }
    CloseUntouched(db);
    refusal.file = fileText;
    return {nullptr, refusal};
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
    return Run("checking the archive", [&]() -> std::optional<std::vector<std::string>> {
        db::Statement check(db_,
                            "PRAGMA integrity_check(" + std::to_string(std::max(limit, 1)) + ")");
        std::vector<std::string> problems;
        try {
            while (check.Next())
                if (check.Text(0) != "ok") problems.push_back(check.Text(0));
        } catch (const db::Failure& failure) {
            // A file too damaged to be read through is its own finding.
            if (failure.Kind() != ErrorCode::Damaged) throw;
            problems.push_back(failure.Text());
        }
        return problems;
    });
}

}  // namespace velmora::archive
