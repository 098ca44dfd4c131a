// Jobs through a real team archive (tests/support/postgres_server): which change
// wins, a job followed by its id wherever it is renamed or its splices re-tagged, and
// rows no laptop could have sent, which no laptop takes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <tuple>

#include "archive/archive.h"
#include "archive/change_order.h"
#include "archive/job_log.h"
#include "base/sha256.h"
#include "jobs/job_store.h"
#include "support/cli_runner.h"
#include "support/postgres_server.h"
#include "support/team_fixture.h"

namespace velmora::test {
namespace {

class TeamJobsTest : public TeamArchiveTest {
  protected:
    void SetUp() override {
        MakeTeamArchive("jobs_");
        if (IsSkipped() || HasFatalFailure()) return;
        for (const TempDir* laptop : {&laptopA, &laptopB})
            ASSERT_EQ(Cli(*laptop, {"team", "join", server->TlsUri(kTechnician, db)}).status, 0);
    }
    // Runs the command, expecting `status`; its output.
    std::string Expect(int status, const TempDir& laptop, const std::vector<std::string>& args) {
        const CliRun run = Cli(laptop, args);
        EXPECT_EQ(run.status, status) << args.at(0) << " " << args.at(1) << ": " << run.err;
        return run.out;
    }
    // Works on the laptop's own archive as the window does.
    // `clock` empty: the system's.
    static void Edit(const TempDir& laptop,
                     const std::function<void(jobs::JobStore&, archive::Archive&)>& edit,
                     archive::Clock clock = {}) {
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptop.path()), {.clock = clock});
        ASSERT_TRUE(opened.archive);
        jobs::JobStore store(*opened.archive);
        edit(store, *opened.archive);
    }
    std::string Query(const std::string& sql) {
        std::string out;
        EXPECT_TRUE(server->Psql(db, "COPY (" + sql + ") TO STDOUT", &out)) << sql << out;
        return out;
    }
};

constexpr const char* kL1 = "11111111-1111-4111-8111-111111111111";
constexpr const char* kL2 = "22222222-2222-4222-8222-222222222222";

// Two changes to one field: the latest wins, by time, then laptop id, then the
// laptop's change id, alike in C++, in an archive and in the team archive.
TEST_F(TeamJobsTest, TheLatestChangeWinsAlikeEverywhere) {
    struct Change {
        std::int64_t time;
        const char* laptop;
        std::int64_t id;
    };
    const struct {
        Change a, b;
        bool aWins;
    } cases[] = {
        {{101, kL1, 1}, {100, kL2, 9}, true},   // the later time, whatever the laptop
        {{100, kL1, 9}, {101, kL2, 1}, false},  //
        {{100, kL2, 1}, {100, kL1, 9}, true},   // one second: the greater laptop id
        {{100, kL1, 9}, {100, kL2, 1}, false},  //
        {{100, kL1, 3}, {100, kL1, 2}, true},   // one laptop: its later change
        {{100, kL1, 2}, {100, kL1, 3}, false},  //
    };
    int row = 0;
    for (const auto& c : cases) {
        const std::string job = "00000000-0000-4000-8000-00000000000" + std::to_string(++row);
        auto change = [&](const Change& x, const char* value) {
            return archive::JobChange{.kind = "job",
                                      .entity = job,
                                      .field = "customer",
                                      .value = value,
                                      .changedAt = x.time,
                                      .author = "t",
                                      .laptop = x.laptop,
                                      .originId = x.id + 100 * row,
                                      .effective = x.time};
        };
        const std::vector<archive::JobChange> changes = {
            {.kind = "job",
             .entity = job,
             .field = "name",
             .value = "J",
             .changedAt = 1,
             .author = "t",
             .laptop = "33333333-3333-4333-8333-333333333333",
             .originId = row,
             .effective = 1},
            change(c.a, "a"),
            change(c.b, "b")};
        const std::string winner = c.aWins ? "a" : "b";
        EXPECT_EQ(archive::IsLater(changes[1], changes[2], ""), c.aWins) << row;

        TempDir folder;
        auto opened = archive::Archive::Open(folder.path() / "archive.db");
        archive::JobLog log(*opened.archive, "ffffffff-ffff-4fff-8fff-ffffffffffff");
        ASSERT_TRUE(log.Keep(changes) && log.Apply()) << log.LastError().message;
        EXPECT_EQ(jobs::JobStore(*opened.archive).Job("J")->details.customer, winner) << row;

        std::string sql =
            "INSERT INTO velmora.changes(laptop, change_id, kind, entity, field, value, "
            "changed_at, author, laptop_clock) VALUES ";
        for (std::size_t i = 1; i < changes.size(); ++i)
            sql += std::string(i > 1 ? ", " : "") + "('" + changes[i].laptop + "', " +
                   std::to_string(changes[i].originId) + ", 'job', '" + job + "', 'customer', '" +
                   *changes[i].value + "', to_timestamp(" + std::to_string(changes[i].changedAt) +
                   "), 't', now())";
        ASSERT_TRUE(server->Psql(db, sql));
        EXPECT_EQ(Query("SELECT value FROM velmora.fields WHERE entity = '" + job +
                        "' AND field = 'customer'"),
                  winner + "\n")
            << row;
    }
}

// Laptop B takes A's job Route 7, then moves its second day's splices to Route 8 and
// renames Route 7 and gives it a customer; A, offline, moves a placed splice. After
// both synced twice they show the same jobs, splices and placings, as the team
// archive does, and the take sent nothing back (B's own splice only).
TEST_F(TeamJobsTest, RenamesAndMovesAreFollowedByEveryLaptop) {
    // A's first work an hour ago: the later changes are told apart by their time.
    const archive::Clock hourAgo = [] {
        return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) -
               std::chrono::hours(1);
    };
    Edit(
        laptopA,
        [](jobs::JobStore& store, archive::Archive& a) {
            std::vector<SpliceRecord> records;
            for (int i = 0; i < 60; ++i) records.push_back(RecordAt(i));
            for (int i = 0; i < 60; ++i) records.push_back(RecordAt(24 * 60 + i));  // the next day
            ASSERT_TRUE(a.StoreDownload({"2406A0153", kSimDeviceName}, records, "Route 7").ok());
            const std::int64_t closure = store.AddClosure(store.Job("Route 7")->id, {"C1"}).id;
            const std::int64_t k1 = store.AddCable(closure, {"K1", 24}).id;
            const std::int64_t k2 = store.AddCable(closure, {"K2", 24}).id;
            const std::int64_t tray = store.AddTray(closure, {1, 12}).id;
            const auto ids = a.Records({.job = "Route 7"});
            ASSERT_TRUE(
                store.Place({tray, 1, {k1, 1}, {k2, 1}, {ids->at(0).id, ids->at(1).id}}).ok());
            ASSERT_TRUE(store.PlanPosition(tray, 2, {k1, 2}, {k2, 2}).ok());
        },
        hourAgo);
    Expect(0, laptopA, {"team", "sync"});
    // B's own splice, not sent yet, is sent; the job's it took are not sent back.
    Edit(laptopB, [](jobs::JobStore&, archive::Archive& b) {
        ASSERT_TRUE(
            b.StoreDownload({"2406A0153", kSimDeviceName}, std::vector{RecordAt(5000)}).ok());
    });
    Expect(0, laptopB, {"team", "take", "Route 7"});
    const std::string firstSync = Expect(0, laptopB, {"team", "sync"});
    EXPECT_EQ(firstSync.rfind("Sent: 1 records, 0 images", 0), 0u) << firstSync;

    Expect(
        0, laptopB,
        {"archive", "tag", "Route 8", "--replace", "--from", "2026-03-02", "--to", "2026-03-02"});
    Expect(0, laptopB, {"job", "edit", "Route 7", "--rename", "Route 7 North"});
    Expect(0, laptopB, {"job", "edit", "Route 7 North", "--customer", "After-rename"});
    Edit(laptopA, [](jobs::JobStore& store, archive::Archive& a) {
        const auto ids = a.Records({.job = "Route 7"});
        const auto closure = store.Closures(store.Job("Route 7")->id)->front();
        const auto position = store.Positions(store.Trays(closure.id)->front().id)->at(1);
        ASSERT_TRUE(store.Move(ids->at(1).id, position.id).ok());
    });
    for (const TempDir* laptop : {&laptopA, &laptopB, &laptopA, &laptopB})
        Expect(0, *laptop, {"team", "sync"});

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"job", "list"},
                                               {"archive", "list", "--job", "Route 7 North"},
                                               {"archive", "list", "--job", "Route 8"},
                                               {"closure", "show", "Route 7 North", "C1"}}) {
        const std::string onA = Expect(0, laptopA, args);
        EXPECT_EQ(Expect(0, laptopB, args), onA) << args[0] << " " << args[1];
        if (args[0] == "archive") {
            EXPECT_EQ(Lines(onA).size(), 60u) << args[3];
            std::vector<std::string> team = args;
            team.push_back("--team");
            EXPECT_EQ(Expect(0, laptopA, team), onA) << args[3];
        }
    }
    const std::string listed = Expect(0, laptopA, {"job", "list"});
    EXPECT_EQ(listed.find("Route 7\t"), std::string::npos) << listed;
    EXPECT_NE(listed.find("After-rename"), std::string::npos) << listed;
    const std::string shown = Expect(0, laptopA, {"closure", "show", "Route 7 North", "C1"});
    EXPECT_EQ(Lines(shown).size(), 2u) << shown;
}

// Rows the owner put in the team archive that no laptop could have sent: a limit
// below 0, a latitude of 999, a count that is no number, a field no laptop logs, a
// splicer whose folder climbs out of the data folder, an image named so, and texts the
// job store takes or refuses as it would when typed. Taking the job leaves out each
// bad row, naming it, its laptop and its sender, and takes the rest; a healthy job is
// taken after it; the reports of the team view are written and tell the same; sync
// sends back nothing that was read.
TEST_F(TeamJobsTest, RowsNoLaptopCouldSendAreLeftOutAndTold) {
    Edit(laptopA, [](jobs::JobStore& store, archive::Archive&) {
        ASSERT_TRUE(store.CreateJob({.name = "Healthy", .customer = "City Net"}).ok());
    });
    Expect(0, laptopA, {"team", "sync"});

    const std::string job = "00000000-0000-4000-8000-0000000000a1";
    const std::string closure = "00000000-0000-4000-8000-0000000000a2";
    const std::string cable = "00000000-0000-4000-8000-0000000000a3";
    std::string ff, fe;  // the bytes of the two records, in hex
    for (int i = 0; i < 34; ++i) ff += "ff", fe += "fe";
    const std::string longText(10 * 1024, 'x');
    const struct {
        const char* kind;
        std::string entity;
        const char* field;
        std::string value;
        bool kept;
    } rows[] = {
        {"job", job, "name", "Hostile", true},
        {"job", job, "customer", "Ann", true},
        {"job", job, "max_loss", "-5", false},
        {"job", job, "max_angle", "abc", false},
        {"job", job, "colour", "red", false},
        {"job", job, "notes", "\x1b[31mred",
         !jobs::DetailsProblem(jobs::JobDetails{.name = "-", .notes = "\x1b[31mred"})},
        {"job", job, "technicians", longText,
         !jobs::DetailsProblem(jobs::JobDetails{.name = "-", .technicians = longText})},
        {"closure", closure, "job", job, true},
        {"closure", closure, "name", "C1", true},
        {"closure", closure, "latitude", "999", false},
        {"closure", closure, "longitude", "5", true},
        {"cable", cable, "closure", closure, true},
        {"cable", cable, "name", "K1", true},
        {"cable", cable, "fibres", "5000", false},
        {"record", ff + ":sX9", "job", job, true},
        {"record", fe + ":sZ/evil", "job", job, true},
    };
    std::string sql =
        "INSERT INTO velmora.splicers(serial, folder, laptop) VALUES ('X9', '9', '" +
        std::string(kL1) + "'), ('Z/evil', '../evil', '" + kL1 +
        "');"
        "INSERT INTO velmora.records(splicer_id, bytes, downloaded, laptop) SELECT id, "
        "decode(repeat(CASE serial WHEN 'X9' THEN 'ff' ELSE 'fe' END, 34), 'hex'), now(), "
        "laptop FROM velmora.splicers WHERE serial IN ('X9', 'Z/evil');"
        "INSERT INTO velmora.changes(laptop, change_id, kind, entity, field, value, changed_at, "
        "author, laptop_clock) VALUES ";
    int id = 0, leftOut = 1;  // the record of the splicer ../evil
    for (const auto& r : rows) {
        sql += std::string(id > 0 ? ", " : "");
        sql += "('" + std::string(kL1) + "', " + std::to_string(++id) + ", '" + r.kind + "', '" +
               r.entity + "', '" + r.field + "', '" + r.value + "', now(), 'x', now())";
        leftOut += !r.kept;
    }
    ASSERT_TRUE(server->Psql(db, sql));

    const CliRun take = Cli(laptopB, {"team", "take", "Hostile"});
    EXPECT_EQ(take.status, 1) << take.err;
    const std::vector<std::string> told = Lines(take.err);
    EXPECT_EQ(told.size(), static_cast<std::size_t>(leftOut)) << take.err;
    for (const std::string& line : told)
        EXPECT_NE(line.find(std::string("from laptop ") + kL1 + ", sent by velmora_admin: "),
                  std::string::npos)
            << line;
    EXPECT_EQ(take.err.find('\x1b'), std::string::npos) << "told safely on a terminal";
    Edit(laptopB, [&](jobs::JobStore& store, archive::Archive& a) {
        const auto hostile = store.Job("Hostile");
        ASSERT_TRUE(hostile);
        EXPECT_EQ(hostile->details.customer, "Ann");
        EXPECT_EQ(hostile->details.limits, jobs::JobLimits{});
        EXPECT_EQ(hostile->records, 1u) << "the 0xFF record is a record like any other";
        const auto closures = store.Closures(hostile->id);
        ASSERT_EQ(closures->size(), 1u);
        EXPECT_FALSE(closures->front().details.point) << "a longitude alone is no point";
        EXPECT_TRUE(store.Cables(closures->front().id)->empty());
        EXPECT_EQ(a.Splicers()->size(), 1u);
    });
    Expect(0, laptopB, {"team", "take", "Healthy"});
    // The team view reads the job: its bad rows told once, each report written.
    const std::string scratch = laptopB.path().string();
    for (const auto& [args, status, lines] :
         {std::tuple(std::vector<std::string>{"report", "--team", "--job", "Hostile", "-o",
                                              scratch + "/h.html"},
                     1, leftOut),
          std::tuple(
              std::vector<std::string>{"matrix", "Hostile", "--team", "-o", scratch + "/h.csv"}, 0,
              0)}) {
        const CliRun run = Cli(laptopB, args);
        EXPECT_EQ(run.status, status) << args[0] << run.err;
        EXPECT_EQ(Lines(run.err).size(), static_cast<std::size_t>(lines)) << run.err;
        EXPECT_TRUE(std::filesystem::exists(args.back())) << args[0];
    }
    const CliRun sync = Cli(laptopB, {"team", "sync"});
    EXPECT_EQ(sync.status, 0) << sync.err;
    EXPECT_EQ(
        sync.out.rfind("Sent: 0 records, 0 images, 0 settings snapshots, 0 job items changed", 0),
        0u)
        << sync.out;
}

}  // namespace
}  // namespace velmora::test
