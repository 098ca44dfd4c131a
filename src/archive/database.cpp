#include "archive/database.h"

#include <cerrno>

namespace velmora::archive::db {

ErrorCode KindOf(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ErrorCode::None;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ErrorCode::Locked;
        case SQLITE_READONLY:
            return ErrorCode::ReadOnly;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return ErrorCode::Damaged;
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
            return ErrorCode::CannotOpen;
        case SQLITE_FULL:
            return ErrorCode::DiskFull;
        default:
            return ErrorCode::Failed;
    }
}

Failure::Failure(sqlite3* db, int code)
    : Failure(code, db ? sqlite3_system_errno(db) : 0,
              db ? sqlite3_errmsg(db) : sqlite3_errstr(code)) {}

Failure::Failure(int code, int systemErrno, std::string sqliteText)
    : code_(code), kind_(KindOf(code)), text_(std::move(sqliteText)) {
    if ((code & 0xFF) == SQLITE_IOERR && systemErrno == ENOSPC) kind_ = ErrorCode::DiskFull;
    if (kind_ == ErrorCode::DiskFull) text_ = "the disk is full";
}

ArchiveError Failure::During(std::string_view what) const {
    return {kind_, std::string(what) + ": " + text_};
}

ArchiveError Attempt(std::string_view what, const std::function<void()>& work) {
    try {
        work();
        return {};
    } catch (const Failure& failure) {
        return failure.During(what);
    } catch (const ArchiveError& error) {
        return error;
    } catch (const std::exception& e) {
        return {ErrorCode::Failed, std::string(what) + ": " + e.what()};
    } catch (...) {
        return {ErrorCode::Failed, std::string(what) + ": unexpected failure"};
    }
}

// ---- statements ----

void Statement::Prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    const int rc =
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    stmt_.reset(stmt);
    Check(rc);
}

void Statement::Check(int rc) const {
    if (rc != SQLITE_OK) throw Failure(db_, rc);
}

void Statement::BindOne(int at, std::string_view text) {
    Check(sqlite3_bind_text(stmt_.get(), at, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
}

void Statement::BindOne(int at, std::span<const std::uint8_t> blob) {
    Check(sqlite3_bind_blob(stmt_.get(), at, blob.data(), static_cast<int>(blob.size()),
                            SQLITE_TRANSIENT));
}

bool Statement::Next() {
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw Failure(db_, rc);
}

std::size_t Statement::Run() {
    while (Next()) {
    }
    return static_cast<std::size_t>(sqlite3_changes(db_));
}

std::optional<std::int64_t> Statement::Single() {
    if (!Next()) return std::nullopt;
    return Int(0);
}

std::string Statement::Text(int col) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), col));
    return text
               ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), col)))
               : std::string();
}

std::span<const std::uint8_t> Statement::Blob(int col) const {
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_.get(), col));
    return {data, data ? static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), col)) : 0};
}

void Execute(sqlite3* db, const std::string& sql) {
    if (const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK)
        throw Failure(db, rc);
}

// ---- transactions ----

Transaction::Transaction(sqlite3* db, For purpose) : db_(db), nested_(!sqlite3_get_autocommit(db)) {
    Execute(db_, nested_                   ? "SAVEPOINT nested"
                 : purpose == For::Writing ? "BEGIN IMMEDIATE"
                                           : "BEGIN");
    open_ = true;
}

Transaction::~Transaction() {
    if (nested_) {
        if (open_)
            sqlite3_exec(db_, "ROLLBACK TO nested; RELEASE nested", nullptr, nullptr, nullptr);
    } else if (!sqlite3_get_autocommit(db_)) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::Commit() {
    Execute(db_, nested_ ? "RELEASE nested" : "COMMIT");
    open_ = false;
}

}  // namespace velmora::archive::db
