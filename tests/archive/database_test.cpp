#include "archive/database.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "archive/archive_sql.h"
#include "support/test_support.h"

namespace velmora::archive {
namespace {

// A connection to a file of the test's folder, closed with the object.
struct Connection {
    explicit Connection(const std::filesystem::path& file, int flags) {
        sqlite3_open_v2(file.string().c_str(), &db, flags, nullptr);
        sqlite3_busy_timeout(db, 0);
    }
    ~Connection() { sqlite3_close(db); }
    sqlite3* db = nullptr;
};

constexpr int kReadWrite = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

// Every failure of SQLite the archive meets is said with its code and one wording,
// and names what the call was doing; a full disk is said as such however SQLite
// came upon it.
TEST(Database, FailuresAreSaidWithTheirCodeAndOneWording) {
    test::TempDir dir;
    const auto file = dir.path() / "a.db";
    Connection holder(file, kReadWrite);
    db::Execute(holder.db, "CREATE TABLE t(x UNIQUE); INSERT INTO t VALUES (1)");
    const auto garbage = dir.Write("garbage.db", std::string(4096, 'x'));

    const struct {
        const char* name;
        std::function<void()> provoke;  // throws the failure
        ErrorCode code;
        const char* text;
    } cases[] = {
        {"another writer holds the file",
         [&] {
             db::Execute(holder.db, "BEGIN IMMEDIATE");
             Connection other(file, kReadWrite);
             const db::Transaction tx(other.db);
         },
         ErrorCode::Locked, "database is locked"},
        {"opened for reading only",
         [&] {
             Connection reader(file, SQLITE_OPEN_READONLY);
             db::Statement(reader.db, "INSERT INTO t VALUES (?1)", 2).Run();
         },
         ErrorCode::ReadOnly, "attempt to write a readonly database"},
        {"not a database",
         [&] {
             Connection damaged(garbage, SQLITE_OPEN_READWRITE);
             db::Statement(damaged.db, "SELECT count(*) FROM sqlite_master").Run();
         },
         ErrorCode::Damaged, "file is not a database"},
        {"a value taken twice",
         [&] {
             Connection writer(file, kReadWrite);
             db::Statement(writer.db, "INSERT INTO t VALUES (?1)", 1).Run();
         },
         ErrorCode::Failed, "UNIQUE constraint failed: t.x"},
        {"the disk full on a write",
         [] { throw db::Failure(SQLITE_FULL, 0, "database or disk is full"); }, ErrorCode::DiskFull,
         "the disk is full"},
        {"the disk full on a sync",
         [] { throw db::Failure(SQLITE_IOERR_FSYNC, ENOSPC, "disk I/O error"); },
         ErrorCode::DiskFull, "the disk is full"},
        {"another I/O error", [] { throw db::Failure(SQLITE_IOERR_WRITE, EIO, "disk I/O error"); },
         ErrorCode::Failed, "disk I/O error"},
    };
    for (const auto& c : cases) {
        const ArchiveError error = db::Attempt("storing the download", c.provoke);
        EXPECT_EQ(error.code, c.code) << c.name << ": " << error.message;
        EXPECT_EQ(error.message, std::string("storing the download: ") + c.text) << c.name;
        if (!sqlite3_get_autocommit(holder.db)) db::Execute(holder.db, "ROLLBACK");
    }
}

// A transaction begun inside another is kept or undone inside it, and goes with the
// outer one when that is rolled back.
TEST(Database, ATransactionInsideAnotherGoesWithIt) {
    const struct {
        bool innerCommits, outerCommits;
        std::int64_t kept;  // of the outer row 1 and the inner row 2, their sum
    } cases[] = {{true, true, 3}, {false, true, 1}, {true, false, 0}, {false, false, 0}};
    test::TempDir dir;
    Connection connection(dir.path() / "a.db", kReadWrite);
    db::Execute(connection.db, "CREATE TABLE t(x)");
    for (const auto& c : cases) {
        {
            db::Transaction outer(connection.db);
            db::Execute(connection.db, "INSERT INTO t VALUES (1)");
            {
                db::Transaction inner(connection.db);
                db::Execute(connection.db, "INSERT INTO t VALUES (2)");
                if (c.innerCommits) inner.Commit();
            }
            if (c.outerCommits) outer.Commit();
        }
        EXPECT_TRUE(sqlite3_get_autocommit(connection.db));
        EXPECT_EQ(db::Statement(connection.db, "SELECT coalesce(sum(x), 0) FROM t").Single(),
                  c.kept)
            << c.innerCommits << c.outerCommits;
        db::Execute(connection.db, "DELETE FROM t");
    }
}

// A splicer is named by its serial number, by its folder only while that is unknown,
// alike in C++ and in the SQL that orders and names splicers.
TEST(Database, ASplicerIsNamedBySerialElseFolder) {
    const struct {
        const char* serial;
        const char* folder;
        const char* name;
    } cases[] = {
        {"AB123456", "B123456", "AB123456"},
        {"", "B123456", "B123456"},
        {"XB123456", "", "XB123456"},
    };
    test::TempDir dir;
    Connection connection(dir.path() / "a.db", kReadWrite);
    for (const auto& c : cases) {
        EXPECT_EQ(SplicerDisplayName(c.serial, c.folder), c.name) << c.serial << c.folder;
        db::Statement named(
            connection.db,
            "SELECT " + sql::SplicerNameSql("s") + " FROM (SELECT ?1 AS serial, ?2 AS folder) AS s",
            c.serial, c.folder);
        ASSERT_TRUE(named.Next());
        EXPECT_EQ(named.Text(0), c.name) << c.serial << c.folder;
    }
}

}  // namespace
}  // namespace velmora::archive
