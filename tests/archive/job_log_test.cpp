// The job log of two laptops' archives, their changes handed from one to the other
// by the log's own functions as a team archive hands them out: applied, ordered and
// kept in the history.
#include "archive/job_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "jobs/job_store.h"
#include "support/test_support.h"

namespace velmora::archive {
namespace {

// A laptop: its archive (whose clock the test sets) and its id in the team archive.
struct Laptop {
    Laptop(std::filesystem::path archiveFile, std::string laptopId)
        : file(std::move(archiveFile)), id(std::move(laptopId)) {
        Reopen();
    }
    void Reopen() {
        store.reset();
        archive.reset();
        archive =
            Archive::Open(
                file,
                {.clock = [this] { return std::chrono::sys_seconds{std::chrono::seconds{now}}; }})
                .archive;
        store = std::make_unique<jobs::JobStore>(*archive);
    }
    std::vector<std::int64_t> Ids(const std::string& job) {
        std::vector<std::int64_t> ids;
        const auto records = archive->Records({.job = job});
        for (const ArchivedRecord& r : *records) ids.push_back(r.id);
        return ids;
    }
    // Its jobs, their details, records and closures, as text.
    std::string State() {
        std::string state;
        const auto jobs = store->Jobs();
        for (const jobs::JobInfo& job : *jobs) {
            state += job.details.name + "/" + job.details.customer + "/" +
                     std::to_string(job.records) + "/" + std::to_string(job.placed);
            const auto closures = store->Closures(job.id);
            for (const jobs::ClosureInfo& c : *closures)
                state += " " + c.details.name + "@" + c.details.location;
            state += "; ";
        }
        return state;
    }

    std::filesystem::path file;
    std::string id;
    std::int64_t now = 100;
    std::unique_ptr<Archive> archive;
    std::unique_ptr<jobs::JobStore> store;
};

class JobLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<SpliceRecord> records;
        for (int minute = 0; minute < 10; ++minute) records.push_back(test::RecordAt(minute));
        for (Laptop* laptop : {&a, &b})
            ASSERT_TRUE(laptop->archive->StoreDownload({"A100", "SA100"}, records).ok());
    }

    // Everything `from` made, as the team archive hands it out, kept and applied by `to`.
    static void Hand(Laptop& from, Laptop& to) {
        auto changes = JobLog(*from.archive, from.id).ToSend(0, 100000);
        ASSERT_TRUE(changes);
        for (JobChange& c : *changes) {
            c.laptop = from.id;
            c.effective = c.changedAt;
        }
        JobLog log(*to.archive, to.id);
        ASSERT_TRUE(log.Keep(*changes)) << log.LastError().message;
        const auto applied = log.Apply();
        ASSERT_TRUE(applied) << log.LastError().message;
        EXPECT_TRUE(applied->unapplied.empty());
    }

    test::TempDir dir;
    Laptop a{dir.path() / "a.db", "aaaaaaaa-0000-4000-8000-000000000000"};
    Laptop b{dir.path() / "b.db", "bbbbbbbb-0000-4000-8000-000000000000"};
};

// B reads A's job; then, offline, B moves half the job's splices to a new job, A
// renames the job and gives it a customer, and both name the closure's place in the
// same second. After each read the other's changes, both hold the same jobs: the
// renamed one with the splices B left it (a renaming moves no splice), the new one,
// and B's place (the greater laptop id wins a tie), A's in both histories.
TEST_F(JobLogTest, RenamesAndMovesOnTwoLaptopsConverge) {
    ASSERT_EQ(a.archive->TagJob("Route 7", RecordFilter{}).count, 10u);
    const std::int64_t closure = a.store->AddClosure(a.store->Job("Route 7")->id, {"C1"}).id;
    const std::int64_t cable = a.store->AddCable(closure, {"K", 12}).id;
    const std::int64_t tray = a.store->AddTray(closure, {1, 12}).id;
    ASSERT_TRUE(a.store->Place({tray, 1, {cable, 1}, {cable, 2}, {a.Ids("Route 7")[0]}}).ok());
    Hand(a, b);
    EXPECT_EQ(b.State(), a.State());

    b.now = 150;
    std::vector<std::int64_t> moved = b.Ids("Route 7");
    moved.erase(moved.begin(), moved.begin() + 5);
    ASSERT_EQ(b.archive->TagJob("Route 8", moved).count, 5u);
    a.now = 200;
    ASSERT_TRUE(a.store->EditJob("Route 7", {.name = "Route 7 North"}).ok());
    ASSERT_TRUE(
        a.store->EditJob("Route 7 North", {.name = "Route 7 North", .customer = "After-rename"})
            .ok());
    for (Laptop* laptop : {&a, &b}) {
        laptop->now = 300;
        const jobs::ClosureInfo c =
            laptop->store
                ->Closures(laptop->store->Job(laptop == &a ? "Route 7 North" : "Route 7")->id)
                ->front();
        ASSERT_TRUE(
            laptop->store->EditClosure(c.id, {"C1", laptop == &a ? "A-side" : "B-side"}).ok());
    }
    Hand(a, b);
    Hand(b, a);
    EXPECT_EQ(a.State(), "Route 7 North/After-rename/5/1 C1@B-side; Route 8//5/0; ");
    EXPECT_EQ(b.State(), a.State());
    // Newest first: A's place, then A's first changes, each lost to B's.
    for (Laptop* laptop : {&a, &b}) {
        const auto lost = JobLog(*laptop->archive, laptop->id).History("Route 7 North");
        ASSERT_TRUE(lost);
        std::string told;
        for (const LostChange& l : *lost)
            told += l.entityName + " " + l.change.field + " " + l.change.value.value_or("-") + ">" +
                    l.winningValue.value_or("-") + "; ";
        EXPECT_EQ(told,
                  "C1 location A-side>B-side; C1 location >B-side; SA100 #10 job Route 7 "
                  "North>Route 8; SA100 #9 job Route 7 North>Route 8; SA100 #8 job Route 7 "
                  "North>Route 8; SA100 #7 job Route 7 North>Route 8; SA100 #6 job Route 7 "
                  "North>Route 8; ")
            << laptop->id;
    }
}

// A record's job logged by its name, as an archive of the step before kept it, is
// its job's id once the archive is opened; the reads of a job kept by its name go;
// every record, job and placing stays.
TEST_F(JobLogTest, ArchiveOfTheStepBeforeOpensWithEverything) {
    ASSERT_EQ(a.archive->TagJob("Route 7", RecordFilter{}).count, 10u);
    const std::int64_t closure = a.store->AddClosure(a.store->Job("Route 7")->id, {"C1"}).id;
    const std::int64_t cable = a.store->AddCable(closure, {"K", 12}).id;
    const std::int64_t tray = a.store->AddTray(closure, {1, 12}).id;
    ASSERT_TRUE(a.store->Place({tray, 1, {cable, 1}, {cable, 2}, {a.Ids("Route 7")[0]}}).ok());
    const std::string before = a.State();
    a.archive.reset();
    a.store.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(a.file.string().c_str(), &db), SQLITE_OK);
    // Dropping a column reads every trigger again, which names the archive's functions.
    for (const char* name : {"velmora_applying", "velmora_author", "velmora_name_uuid",
                             "velmora_now", "velmora_record_identity", "velmora_uuid"})
        sqlite3_create_function(
            db, name, -1, SQLITE_UTF8, nullptr,
            [](sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_null(context); },
            nullptr, nullptr);
    auto number = [&](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        const std::int64_t n =
            sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return n;
    };
    ASSERT_EQ(
        sqlite3_exec(db,
                     "UPDATE job_changes SET value = (SELECT name FROM jobs WHERE uuid = "
                     "value) WHERE kind = 'record' AND field = 'job';"
                     "DROP TABLE team_received;"
                     "CREATE INDEX records_by_ordinal ON records(ordinal);"
                     "CREATE INDEX records_by_result ON records(result, ordinal);"
                     "CREATE INDEX records_by_loss ON records(loss, ordinal);"
                     "DROP INDEX records_passed_by_loss;"
                     "DROP INDEX records_passed_by_angle;"
                     "DROP INDEX records_failed_by_loss;"
                     "ALTER TABLE records DROP COLUMN angle;"
                     "INSERT INTO team_pulls VALUES ('t', 'Route 7', '9', 0), ('t', '', '9', 0);"
                     "PRAGMA user_version = 9",
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
    a.Reopen();
    ASSERT_TRUE(a.archive);
    EXPECT_EQ(a.State(), before);
    EXPECT_EQ(number("SELECT count(*) FROM job_changes c JOIN jobs j ON c.value = j.uuid "
                     "WHERE c.kind = 'record' AND c.field = 'job' AND j.name = 'Route 7'"),
              10);
    EXPECT_EQ(number("SELECT count(*) FROM team_pulls"), 1);
    sqlite3_close(db);
    // Read by another laptop, the splices come with their job.
    Hand(a, b);
    EXPECT_EQ(b.State(), before);
}

}  // namespace
}  // namespace velmora::archive
