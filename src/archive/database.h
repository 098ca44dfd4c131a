#pragma once
// The archive's way to SQLite, shared by the archive and the stores kept in its file
// (the record cursor, the job store, the splice matrix): a statement prepared, bound
// from any number of values, stepped and read; a transaction; and one failure, which
// each of them throws when SQLite does not succeed. The failure carries SQLite's
// result code and says what went wrong in one wording; Archive::Run (or Attempt
// below) turns it into the ArchiveError the caller reports.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/archive.h"

namespace velmora::archive::db {

// The archive's code for an SQLite result code (by its primary part).
ErrorCode KindOf(int sqliteCode);

// SQLite did not succeed.
class Failure : public std::exception {
  public:
    // As the connection `db` last said it (by the code alone without a connection).
    Failure(sqlite3* db, int code);
    // From SQLite's own text and the system's error number behind it (0 for none):
    // a full disk met outside a write (a sync, a truncation) comes as an I/O error
    // whose system error is ENOSPC, and is said as a full disk too.
    Failure(int code, int systemErrno, std::string sqliteText);

    int Code() const { return code_; }  // SQLite's result code, extended where it gives one
    ErrorCode Kind() const { return kind_; }
    const std::string& Text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }
    // The error of a call that was doing `what`: "what: text".
    ArchiveError During(std::string_view what) const;

  private:
    int code_;
    ErrorCode kind_;
    std::string text_;
};

// Runs `work` and tells how it ended: code None when it ran through; a Failure as
// the error of a call doing `what`; an ArchiveError it throws as it is; anything
// else as Failed.
ArchiveError Attempt(std::string_view what, const std::function<void()>& work);

// NULL for "": a job named "" is no job.
inline std::optional<std::string_view> NullIfEmpty(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return text;
}

// A prepared statement, finalized with the object. Values are bound in order from
// ?1: integers, reals, text, blobs (a span of bytes), nullptr or an empty optional
// for NULL. Text and blobs are copied as they are bound.
class Statement {
  public:
    template <class... Values>
    Statement(sqlite3* db, std::string_view sql, const Values&... values) : db_(db) {
        Prepare(sql);
        BindFrom(1, values...);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Reset and bound again from ?1, to run again.
    template <class... Values>
    Statement& Again(const Values&... values) {
        Reset();
        BindFrom(1, values...);
        return *this;
    }
    // Reset and ?at bound, the other values kept.
    template <class Value>
    Statement& Set(int at, const Value& value) {
        Reset();
        BindOne(at, value);
        return *this;
    }

    // The next row: false once there is none.
    bool Next();
    // Runs to the end: the rows an INSERT, UPDATE or DELETE changed.
    std::size_t Run();
    // The first column of the first row, if there is a row.
    std::optional<std::int64_t> Single();
    // The rowid the last INSERT on this connection made.
    std::int64_t InsertedId() const { return sqlite3_last_insert_rowid(db_); }

    bool IsNull(int col) const { return sqlite3_column_type(stmt_.get(), col) == SQLITE_NULL; }
    std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_.get(), col); }
    int Number(int col) const { return sqlite3_column_int(stmt_.get(), col); }
    double Real(int col) const { return sqlite3_column_double(stmt_.get(), col); }
    std::string Text(int col) const;
    std::span<const std::uint8_t> Blob(int col) const;
    std::optional<int> OptionalNumber(int col) const {
        if (IsNull(col)) return std::nullopt;
        return Number(col);
    }

  private:
    void Prepare(std::string_view sql);
    void Reset() { sqlite3_reset(stmt_.get()); }
    void Check(int rc) const;

    void BindOne(int at, std::int64_t value) { Check(sqlite3_bind_int64(stmt_.get(), at, value)); }
    void BindOne(int at, int value) { Check(sqlite3_bind_int(stmt_.get(), at, value)); }
    void BindOne(int at, double value) { Check(sqlite3_bind_double(stmt_.get(), at, value)); }
    void BindOne(int at, std::nullptr_t) { Check(sqlite3_bind_null(stmt_.get(), at)); }
    void BindOne(int at, std::string_view text);
    void BindOne(int at, const std::string& text) { BindOne(at, std::string_view(text)); }
    void BindOne(int at, const char* text) { BindOne(at, std::string_view(text)); }
    void BindOne(int at, std::span<const std::uint8_t> blob);
    template <class T>
    void BindOne(int at, const std::optional<T>& value) {
        if (value) {
            BindOne(at, *value);
        } else {
            BindOne(at, nullptr);
        }
    }

    void BindFrom(int) {}
    template <class First, class... Rest>
    void BindFrom(int at, const First& first, const Rest&... rest) {
        BindOne(at, first);
        BindFrom(at + 1, rest...);
    }

    struct Finalize {
        void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
    };
    sqlite3* db_;
    // Finalized even when binding fails inside the constructor.
    std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

// Runs `sql` (one or more statements without values) to its end.
void Execute(sqlite3* db, const std::string& sql);

// What a transaction is for. Writing: BEGIN IMMEDIATE, so that the write lock is
// taken (waiting up to the busy timeout) before anything is read, and two writers
// never deadlock upgrading a read to a write. Reading: BEGIN, so that what is read
// in it is of one moment.
enum class For { Writing, Reading };

// Rolled back with the object unless committed. Begun within a transaction already
// open (a read of a team archive is kept whole), a savepoint: kept or undone inside
// it, committed or rolled back with it.
class Transaction {
  public:
    explicit Transaction(sqlite3* db, For purpose = For::Writing);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit();

  private:
    sqlite3* db_;
    bool nested_;
    bool open_ = false;
};

}  // namespace velmora::archive::db
