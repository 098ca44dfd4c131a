// The team archive against a real PostgreSQL server (tests/support/postgres_server):
// laptops' local archives sent with velmora-cli team sync, the server's own rules,
// and the failures a user meets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <array>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "archive/archive.h"
#include "base/sha256.h"
#include "jobs/job_store.h"
#include "support/cli_runner.h"
#include "support/postgres_server.h"
#include "support/team_fixture.h"
#include "team/team_client.h"
#include "team/team_join.h"
#include "team/team_pull.h"
#include "team/team_schema.h"
#include "team/team_sync.h"

namespace velmora::test {
namespace {

using team::TeamErrorCode;

// An address of this machine that is not loopback (its network interface's), or a
// documentation address where it has none: either is another host to the rules.
std::string OwnAddress() {
    std::string own = "192.0.2.1";
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return own;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        char text[INET_ADDRSTRLEN];
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) &&
            !std::string_view(text).starts_with("127.")) {
            own = text;
            break;
        }
    }
    freeifaddrs(list);
    return own;
}

class TeamTest : public TeamArchiveTest {
  protected:
    void SetUp() override { MakeTeamArchive(); }
    // Joins the laptop to this test's team archive as the technician, over TLS; join
    // says who answered.
    void Join(const TempDir& laptop) {
        const CliRun join = Cli(laptop, {"team", "join", server->TlsUri(kTechnician, db)});
        ASSERT_EQ(join.status, 0) << join.err;
        EXPECT_NE(join.out.find(" as tech1, secure (TLSv1."), std::string::npos) << join.out;
    }
    // Stores records RecordAt(first..last) of one splicer in the laptop's own archive.
    static void Download(const TempDir& laptop, int first, int last, std::string_view job = {}) {
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptop.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> records;
        for (int m = first; m <= last; ++m) records.push_back(RecordAt(m));
        ASSERT_TRUE(
            opened.archive->StoreDownload({"2406A0153", kSimDeviceName}, records, job).ok());
    }
    // Edits the laptop's jobs, its archive's clock `clock` (empty: the system's).
    static void Edit(const TempDir& laptop, archive::Clock clock,
                     const std::function<void(jobs::JobStore&, archive::Archive&)>& edit) {
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptop.path()), {.clock = clock});
        ASSERT_TRUE(opened.archive);
        jobs::JobStore store(*opened.archive);
        edit(store, *opened.archive);
    }
    // Sends the laptop's archive as team sync does, telling the team archive `clock`.
    void SendFrom(const TempDir& laptop, archive::Clock clock) {
        team::TeamError error;
        std::string id, why;
        const auto connection = team::Connection::Open(server->TlsUri(kTechnician, db), error);
        ASSERT_TRUE(connection) << error.message;
        ASSERT_TRUE(team::CheckTeamArchive(*connection, id).ok());
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptop.path()));
        const team::SendOutcome sent = team::SendToTeam(
            *connection, *opened.archive,
            {laptop.path(), team::LaptopId(laptop.path(), why), id, 2000, 16u << 20, clock});
        ASSERT_TRUE(sent.error.ok()) << sent.error.message;
    }
    // The number the query answers; -1 when it fails.
    long long Number(const std::string& sql) {
        std::string out;
        if (!server->Psql(db, "COPY (" + sql + ") TO STDOUT", &out)) return -1;
        return std::atoll(out.c_str());
    }
    // Reads the whole team archive into the archive of `folder`, as the technician.
    team::PullOutcome Pull(const std::filesystem::path& folder, const std::string& job = "") {
        team::TeamError error;
        std::string id;
        const auto connection = team::Connection::Open(server->TlsUri(kTechnician, db), error);
        if (connection) error = team::CheckTeamArchive(*connection, id);
        if (!error.ok()) return {error};
        auto opened = archive::Archive::Open(archive::ArchiveFile(folder));
        if (!opened.archive) return {{TeamErrorCode::LocalArchive, opened.error.message}};
        return team::PullFromTeam(*connection, *opened.archive,
                                  {.dataFolder = folder, .archiveId = id, .job = job});
    }
    long long RowCount(const std::string& table) {
        return Number("SELECT count(*) FROM velmora." + table);
    }
};

// Two laptops with overlapping downloads of one splicer, an image and a snapshot:
// each splice is there once, sending again adds nothing, and the Team list shows it.
TEST_F(TeamTest, OverlappingLaptopsSendEachSpliceOnce) {
    Download(laptopA, 0, 299);
    Download(laptopB, 200, 499);
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptopA.path()));
        const std::vector<std::uint8_t> jpeg(5000, 0xD8);
        std::filesystem::create_directories(laptopA.path() / "FS" / "2406A0153" / "JPG");
        std::ofstream(laptopA.path() / "FS" / "2406A0153" / "JPG" / "a.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), 5000);
        ASSERT_TRUE(
            opened.archive
                ->StoreImage({"2406A0153", kSimDeviceName}, {"20260301080000", "a.jpg", jpeg})
                .ok());
        const archive::GroupBytes heater{ParamRecord::Heater, std::vector<std::uint8_t>(28, 1)};
        ASSERT_TRUE(
            opened.archive
                ->StoreSnapshot({"2406A0153", kSimDeviceName}, "backup", std::span(&heater, 1))
                .ok());
    }
    Join(laptopA);
    Join(laptopB);
    // A send asked to stop (the window closing) begins no batch.
    std::stop_source closing;
    closing.request_stop();
    const team::JoinedSend stopped = team::SendJoinedTeam(laptopA.path(), {}, closing.get_token());
    EXPECT_EQ(stopped.outcome.error.code, TeamErrorCode::Stopped);
    EXPECT_EQ(RowCount("records"), 0);
    for (const TempDir* laptop : {&laptopA, &laptopB, &laptopA}) {
        const CliRun sync = Cli(*laptop, {"team", "sync"});
        EXPECT_EQ(sync.status, 0) << sync.err;
    }
    EXPECT_EQ(RowCount("records"), 500);
    EXPECT_EQ(RowCount("splicers"), 1);
    EXPECT_EQ(RowCount("images"), 1);
    EXPECT_EQ(RowCount("snapshots"), 1);
    EXPECT_EQ(Number("SELECT count(*) FROM velmora.images WHERE length(jpeg) = 5000 AND "
                     "sent_by = 'tech1' AND received > now() - interval '1 hour'"),
              1);
    EXPECT_EQ(Lines(Cli(laptopB, {"archive", "list", "--team"}).out).size(), 500u);
    EXPECT_EQ(Lines(Cli(laptopB, {"archive", "list", "--team", "--device", kSimDeviceName, "--from",
                                  "2026-03-01", "--to", "2026-03-01"})
                        .out)
                  .size(),
              500u);
    const CliRun status = Cli(laptopA, {"team", "status"});
    EXPECT_NE(status.out.find("Waiting to be sent: 0 records, 0 images, 0 settings snapshots"),
              std::string::npos)
        << status.out;
    // Read into B's team view: each splice and the image (its bytes) once, twice over.
    const std::filesystem::path view = team::TeamViewFolder(laptopB.path());
    for (std::int64_t expected : {500, 0}) {
        const team::PullOutcome pulled = Pull(view);
        EXPECT_TRUE(pulled.error.ok()) << pulled.error.message;
        EXPECT_EQ(pulled.records, expected);
        EXPECT_EQ(pulled.images, expected ? 1 : 0);
    }
    auto opened = archive::Archive::Open(archive::ArchiveFile(view));
    EXPECT_EQ(opened.archive->Records({})->size(), 500u);
    EXPECT_EQ(std::filesystem::file_size(view / "FS" / "2406A0153" / "JPG" / "a.jpg"), 5000u);
}

// A send cut off (as by kill -9) after the team archive committed a batch of records
// but before this archive marked it, another inside a batch of the job's changes,
// then a clean one: every record and change there once. What waits is counted as a
// user counts it: the job's items, not their fields.
TEST_F(TeamTest, KilledSendIsFinishedByTheNextOne) {
    constexpr int kRecords = 12000;
    Download(laptopA, 1, kRecords, "Big");
    Join(laptopA);
    EXPECT_NE(Cli(laptopA, {"team", "status"})
                  .out.find("12000 records, 0 images, 0 settings snapshots, 12001 job items"),
              std::string::npos);
    for (const char* cut : {"0:2:mark", "3:2:commit"}) {
        setenv("VELMORA_SEND_CUT_FOR_TESTS", cut, 1);
        const CliRun killed = Cli(laptopA, {"team", "sync"});
        unsetenv("VELMORA_SEND_CUT_FOR_TESTS");
        EXPECT_EQ(killed.status, 137) << cut << killed.err;
    }
    EXPECT_LT(RowCount("changes"), kRecords);
    const CliRun clean = Cli(laptopA, {"team", "sync"});
    EXPECT_EQ(clean.status, 0) << clean.err << clean.out;
    EXPECT_EQ(RowCount("records"), kRecords);
    EXPECT_EQ(Number("SELECT count(DISTINCT bytes) FROM velmora.records"), kRecords);
    auto opened = archive::Archive::Open(archive::ArchiveFile(laptopA.path()));
    EXPECT_EQ(RowCount("changes"), opened.archive->Waiting({})->at(3));
}

// Each forgery of another technician (tech2) is refused by the server itself: rows
// that speak for tech1's laptop, or whose splice time or checksum their bytes deny.
// An author is the database user, whatever the row says. tech1's later sync and a
// pull then give the true data: its edit, and the image's bytes.
TEST_F(TeamTest, ForgeriesAreRefusedByTheServer) {
    server->CreateTechnician("tech2", kPassword);
    server->WritePassFile(passFile.path() / "pgpass", "*", kPassword);
    Download(laptopA, 0, 9, "North");
    Join(laptopA);
    ASSERT_EQ(Cli(laptopA, {"team", "sync"}).status, 0);
    // tech1's next edit and a new image, not sent yet.
    const std::filesystem::path jpg = laptopA.path() / "FS" / "2406A0153" / "JPG";
    Edit(laptopA, {}, [&](jobs::JobStore& store, archive::Archive& a) {
        ASSERT_TRUE(store.AddClosure(store.Job("North")->id, {"C1"}).ok());
        const std::vector<std::uint8_t> jpeg(3000, 0x5A);
        std::filesystem::create_directories(jpg);
        std::ofstream(jpg / "b.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), 3000);
        ASSERT_TRUE(
            a.StoreImage({"2406A0153", kSimDeviceName}, {"20260301120000", "b.jpg", jpeg}).ok());
    });
    std::string why;
    const std::string a = "'" + team::LaptopId(laptopA.path(), why) + "'::uuid";
    const std::string b = "'00000000-0000-4000-8000-00000000b002'::uuid";
    const std::string next =
        std::to_string(Number("SELECT max(change_id) + 1 FROM velmora.changes"));
    const std::string sha = HexText(Sha256Of(std::vector<std::uint8_t>(3000, 0x5A)));
    const std::string record = "SELECT id, '\\x" + std::string(68, '0') + "'::bytea, ";
    const std::string image =
        "INSERT INTO velmora.images(splicer_id, stamp, splice_time, file_name, size, sha256, jpeg, "
        "stored, laptop) SELECT id, '20260301120000', '2026-03-01 12:00', 'b.jpg', ";
    const std::string change =
        "INSERT INTO velmora.changes(laptop, change_id, kind, entity, field, value, changed_at, "
        "author, laptop_clock) VALUES (";
    const struct {
        std::string sql;
        TeamErrorCode refused;  // None: taken, as its sender may say it
    } forgeries[] = {
        {change + a + ", " + next + ", 'job', 'x', 'name', 'forged', now(), 'tech1', now())",
         TeamErrorCode::NoRights},
        {"UPDATE velmora.sent_marks SET up_to = 0 WHERE laptop = " + a, TeamErrorCode::NoRights},
        {"UPDATE velmora.sent_marks SET laptop = " + b + " WHERE laptop = " + a,
         TeamErrorCode::NoRights},
        {"INSERT INTO velmora.sent_marks(laptop, kind, up_to) VALUES (" + a +
             ", 3, 999) ON CONFLICT (laptop, kind) DO UPDATE SET up_to = excluded.up_to",
         TeamErrorCode::NoRights},
        {"INSERT INTO velmora.records(splicer_id, bytes, splice_time, downloaded, laptop) " +
             record + "NULL, now(), " + a + " FROM velmora.splicers",
         TeamErrorCode::NoRights},
        {"INSERT INTO velmora.records(splicer_id, bytes, splice_time, downloaded, laptop) " +
             record + "'2030-01-01', now(), " + b + " FROM velmora.splicers",
         TeamErrorCode::Failed},
        {image + "0, '" + sha + "', ''::bytea, now(), " + b + " FROM velmora.splicers",
         TeamErrorCode::Failed},
        {image + "3000, '" + sha + "', NULL, now(), " + b + " FROM velmora.splicers",
         TeamErrorCode::None},
        {change + b + ", 1, 'job', 'y', 'name', 'mine', now(), 'tech1', now())",
         TeamErrorCode::None},
    };
    team::TeamError error;
    const auto tech2 = team::Connection::Open(server->TlsUri("tech2", db), error);
    ASSERT_TRUE(tech2) << error.message;
    for (const auto& forgery : forgeries) {
        EXPECT_EQ(tech2->Run(forgery.sql).has_value(), forgery.refused == TeamErrorCode::None)
            << forgery.sql;
        EXPECT_EQ(tech2->LastError().code, forgery.refused)
            << forgery.sql << ": " << tech2->LastError().message;
    }
    const CliRun sync = Cli(laptopA, {"team", "sync"});
    EXPECT_EQ(sync.status, 0) << sync.err;
    EXPECT_EQ(Number("SELECT count(*) FROM velmora.changes WHERE change_id = " + next +
                     " AND laptop = " + a + " AND value IS DISTINCT FROM 'forged'"),
              1);
    EXPECT_EQ(Number("SELECT count(*) FROM velmora.changes WHERE author <> sent_by"), 0);
    EXPECT_EQ(Number("SELECT count(*) FROM velmora.images WHERE length(jpeg) = 3000 AND "
                     "sha256 = '" +
                     sha + "'"),
              1);
    const std::filesystem::path view = team::TeamViewFolder(laptopB.path());
    ASSERT_TRUE(Pull(view).error.ok());
    EXPECT_EQ(ReadFileBytes(view / "FS" / "2406A0153" / "JPG" / "b.jpg"), std::string(3000, 0x5A));
}

// Ctrl-C and a request to terminate stop a send and a read that wait on the server
// (here behind a lock the test holds), with the signal's exit status and what still
// waits, and nothing half sent. A server whose backend stops (SIGSTOP) is told as
// not answering, never waited on for ever.
TEST_F(TeamTest, InterruptsAndStallsAreTold) {
    Download(laptopA, 0, 99);
    Join(laptopA);
    team::TeamError error;
    const auto admin = team::Connection::Open(server->AdminUri(db), error);
    ASSERT_TRUE(admin) << error.message;
    // Until a statement of the program waits for the lock (a margin of 30 s).
    const std::string awaitWaiter = R"sql(DO $$ BEGIN
        FOR i IN 1..3000 LOOP
            PERFORM pg_stat_clear_snapshot();
            IF EXISTS (SELECT FROM pg_stat_activity WHERE datname = current_database()
                       AND wait_event_type = 'Lock') THEN RETURN; END IF;
            PERFORM pg_sleep(0.01);
        END LOOP;
        RAISE EXCEPTION 'no statement waits for the lock';
    END $$)sql";
    const struct {
        std::vector<std::string> args;
        const char* lock;
        int signal;
    } cases[] = {{{"team", "sync"}, "EXCLUSIVE", SIGINT},
                 {{"archive", "list", "--team"}, "ACCESS EXCLUSIVE", SIGTERM}};
    for (const auto& c : cases) {
        ASSERT_TRUE(admin->Begin());
        ASSERT_TRUE(admin->RunScript(std::string("LOCK velmora.records IN ") + c.lock + " MODE"));
        const CliRun run = RunProgram(kCliProgram, c.args, laptopA.path(), std::chrono::seconds(60),
                                      [&](pid_t pid) {
                                          EXPECT_TRUE(server->Psql(db, awaitWaiter));
                                          kill(pid, c.signal);
                                      });
        admin->Rollback();
        EXPECT_EQ(run.status, 128 + c.signal) << run.err;
        EXPECT_TRUE(run.err.starts_with("velmora-cli: interrupted\n")) << run.err;
    }
    EXPECT_EQ(RowCount("records"), 0);
    EXPECT_NE(Cli(laptopA, {"team", "status"}).out.find("Waiting to be sent: 100 records"),
              std::string::npos);

    const auto technician = team::Connection::Open(server->TlsUri(kTechnician, db), error);
    ASSERT_TRUE(technician) << error.message;
    const auto backend = technician->Run("SELECT pg_backend_pid()");
    ASSERT_TRUE(backend && backend->size() == 1);
    const pid_t pid = std::atoi(backend->front().at(0)->c_str());
    technician->SetSilenceLimit(std::chrono::seconds(2));
    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    EXPECT_FALSE(technician->Run("SELECT count(*) FROM velmora.records"));
    kill(pid, SIGCONT);
    EXPECT_EQ(technician->LastError().code, TeamErrorCode::NotAnswering)
        << technician->LastError().message;
}

// A job planned and placed on laptop A, taken by laptop B, then edited on both
// offline: the same closure field and the same record placed differently. After
// both synced twice they agree, the losing change is in the history, and a team
// view read from nothing shows the same closure. A laptop whose clock is a day
// ahead does not win over a later change of another.
TEST_F(TeamTest, JobsEditedOnTwoLaptopsConverge) {
    // The plan two minutes ago and the offline edits one minute ago by the laptops'
    // clocks: each later change wins by its time, never by a tie in the same second.
    const auto minutesAgo = [](int minutes) -> archive::Clock {
        return [minutes] {
            return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) -
                   std::chrono::minutes(minutes);
        };
    };
    Download(laptopA, 0, 9, "North");
    std::vector<std::int64_t> tray;
    Edit(laptopA, minutesAgo(2), [&](jobs::JobStore& store, archive::Archive& a) {
        const std::int64_t closure = store.AddClosure(store.Job("North")->id, {"C1"}).id;
        const std::int64_t k1 = store.AddCable(closure, {"K1", 24}).id;
        const std::int64_t k2 = store.AddCable(closure, {"K2", 24}).id;
        tray.push_back(store.AddTray(closure, {1, 12}).id);
        const auto ids = a.Records({.job = "North"});
        ASSERT_TRUE(store.Place({tray[0], 1, {k1, 1}, {k2, 1}, {ids->at(0).id}}).ok());
        ASSERT_TRUE(store.PlanPosition(tray[0], 2, {k1, 2}, {k2, 2}).ok());
        ASSERT_TRUE(store.PlanPosition(tray[0], 3, {k1, 3}, {k2, 3}).ok());
    });
    Join(laptopA);
    Join(laptopB);
    // The window's send and the command line's at once: each change reaches the team
    // archive once, and both say they succeeded.
    team::JoinedSend windowSend;
    std::thread window([&] { windowSend = team::SendJoinedTeam(laptopA.path()); });
    const CliRun first = Cli(laptopA, {"team", "sync"});
    window.join();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(windowSend.outcome.error.ok()) << windowSend.outcome.error.message;
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(laptopA.path()));
        EXPECT_EQ(RowCount("changes"), opened.archive->Waiting({})->at(3));
    }
    const CliRun take = Cli(laptopB, {"team", "take", "North"});
    ASSERT_EQ(take.status, 0) << take.err;
    EXPECT_EQ(Cli(laptopB, {"team", "take", "South"}).status, 1);
    // Offline edits: each laptop moves the first splice and names the closure's place;
    // A gives three later records the job.
    Download(laptopA, 10, 12);
    Edit(laptopA, {}, [&](jobs::JobStore&, archive::Archive& a) {
        const auto records = a.Records({});
        std::vector<std::int64_t> later;
        for (const auto& r : *records)
            if (r.job.empty()) later.push_back(r.id);
        ASSERT_EQ(a.TagJob("North", later).count, 3u);
    });
    for (auto [laptop, position, place] :
         {std::tuple{&laptopA, 2, "A-side"}, std::tuple{&laptopB, 3, "B-side"}}) {
        Edit(*laptop, minutesAgo(1), [&](jobs::JobStore& store, archive::Archive& a) {
            const jobs::ClosureInfo c = store.Closures(store.Job("North")->id)->at(0);
            ASSERT_TRUE(store.EditClosure(c.id, {.name = "C1", .location = place}).ok());
            const auto trays = store.Trays(c.id);
            const auto positions = store.Positions(trays->at(0).id);
            const auto first = a.Records({.job = "North"})->at(0).id;
            ASSERT_TRUE(store.Move(first, positions->at(position - 1).id).ok());
        });
    }
    for (const TempDir* laptop : {&laptopA, &laptopB, &laptopA, &laptopB}) {
        const CliRun sync = Cli(*laptop, {"team", "sync"});
        ASSERT_EQ(sync.status, 0) << sync.err;
    }
    const std::vector<std::string> args = {"closure", "show", "North", "C1"};
    const std::string shownA = Cli(laptopA, args).out;
    EXPECT_EQ(Cli(laptopB, args).out, shownA);
    EXPECT_EQ(Lines(shownA).size(), 3u) << shownA;
    const std::string listed = Cli(laptopA, {"closure", "list", "North"}).out;
    EXPECT_EQ(Cli(laptopB, {"closure", "list", "North"}).out, listed);
    const bool bWon = listed.find("B-side") != std::string::npos;
    const std::vector<std::string> listNorth = {"archive", "list", "--job", "North"};
    const std::string northA = Cli(laptopA, listNorth).out;
    EXPECT_EQ(Cli(laptopB, listNorth).out, northA);
    EXPECT_EQ(Lines(northA).size(), 13u) << northA;
    const CliRun history = Cli(laptopA, {"job", "history", "North"});
    EXPECT_NE(history.out.find(bWon ? "\tA-side\tB-side\t" : "\tB-side\tA-side\t"),
              std::string::npos)
        << history.out;
    // A team view read from nothing.
    TempDir office;
    ASSERT_EQ(Cli(office, {"team", "join", server->TlsUri(kTechnician, db)}).status, 0);
    EXPECT_EQ(Cli(office, {"closure", "show", "North", "C1", "--team"}).out, shownA);

    // A's clock a day ahead: its change an hour ago by that clock, B's now; B's wins.
    const archive::Clock dayAhead = [] {
        return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) +
               std::chrono::hours(24);
    };
    Edit(
        laptopA, [&] { return dayAhead() - std::chrono::hours(1); },
        [&](jobs::JobStore& store, archive::Archive&) {
            const jobs::ClosureInfo c = store.Closures(store.Job("North")->id)->at(0);
            ASSERT_TRUE(store.EditClosure(c.id, {.name = "C1", .location = "fast"}).ok());
        });
    SendFrom(laptopA, dayAhead);
    Edit(laptopB, {}, [&](jobs::JobStore& store, archive::Archive&) {
        const jobs::ClosureInfo c = store.Closures(store.Job("North")->id)->at(0);
        ASSERT_TRUE(store.EditClosure(c.id, {.name = "C1", .location = "later"}).ok());
    });
    for (const TempDir* laptop : {&laptopB, &laptopA})
        ASSERT_EQ(Cli(*laptop, {"team", "sync"}).status, 0);
    for (const TempDir* laptop : {&laptopA, &laptopB}) {
        const CliRun list = Cli(*laptop, {"closure", "list", "North"});
        EXPECT_NE(list.out.find("later"), std::string::npos) << list.out << list.err;
    }
}

// A team archive restored from a backup is sent again what it lost. A laptop whose
// own archive comes back from an older backup gives its new changes ids the team
// archive has not taken, and reads back the changes it lost.
TEST_F(TeamTest, ArchivesRestoredFromBackupsLoseNothing) {
    auto addClosure = [](const TempDir& laptop, const char* name) {
        Edit(laptop, {}, [&](jobs::JobStore& store, archive::Archive&) {
            ASSERT_TRUE(store.AddClosure(store.Job("North")->id, {name}).ok());
        });
    };
    const std::filesystem::path file = archive::ArchiveFile(laptopA.path());
    const std::filesystem::path backup = laptopA.path() / "archive-backup.db";
    Download(laptopA, 0, 9, "North");
    Join(laptopA);
    ASSERT_EQ(Cli(laptopA, {"team", "sync"}).status, 0);
    std::filesystem::copy_file(file, backup);
    ASSERT_TRUE(server->Psql("postgres", "CREATE DATABASE " + db + "_b TEMPLATE " + db));
    Download(laptopA, 10, 19, "North");
    addClosure(laptopA, "C1");
    ASSERT_EQ(Cli(laptopA, {"team", "sync"}).status, 0);

    ASSERT_TRUE(server->Psql("postgres", "DROP DATABASE " + db));
    ASSERT_TRUE(server->Psql("postgres", "ALTER DATABASE " + db + "_b RENAME TO " + db));
    ASSERT_EQ(RowCount("records"), 10);
    const CliRun again = Cli(laptopA, {"team", "sync"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(RowCount("records"), 20);
    {
        auto opened = archive::Archive::Open(file);
        EXPECT_EQ(RowCount("changes"), opened.archive->Waiting({})->at(3));
    }

    // A send cut off between the team archive's commit and this archive's mark: the
    // changes of that batch are not taken for new ones.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "UPDATE team_marks SET up_to = up_to - 3 WHERE kind = 3", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    const long long changes = RowCount("changes");
    ASSERT_EQ(Cli(laptopA, {"team", "sync"}).status, 0);
    EXPECT_EQ(RowCount("changes"), changes);

    std::filesystem::copy_file(backup, file, std::filesystem::copy_options::overwrite_existing);
    addClosure(laptopA, "C2");
    const CliRun restored = Cli(laptopA, {"team", "sync"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(Number("SELECT count(*) FROM velmora.fields WHERE kind = 'closure' AND "
                     "field = 'name'"),
              2);
    const std::string listed = Cli(laptopA, {"closure", "list", "North"}).out;
    EXPECT_NE(listed.find("C1"), std::string::npos) << listed;
    EXPECT_NE(listed.find("C2"), std::string::npos) << listed;
    EXPECT_EQ(Cli(laptopA, {"archive", "list", "--job", "North"}).out,
              Cli(laptopA, {"archive", "list", "--job", "North", "--team"}).out);
}

// The server keeps what was sent: a technician, and even the owner, cannot change it.
// The office makes a user a technician; a technician cannot.
TEST_F(TeamTest, SentRowsCannotBeChangedOrDeleted) {
    Download(laptopA, 0, 9);
    Join(laptopA);
    ASSERT_EQ(Cli(laptopA, {"team", "sync"}).status, 0);
    team::TeamError error;
    const auto technician = team::Connection::Open(server->TlsUri(kTechnician, db), error);
    ASSERT_TRUE(technician) << error.message;
    for (const char* sql :
         {"UPDATE velmora.records SET splice_time = NULL", "DELETE FROM velmora.records",
          "TRUNCATE velmora.records", "UPDATE velmora.splicers SET folder = 'x'",
          "DELETE FROM velmora.splicers", "UPDATE velmora.records SET sent_by = 'someone'"}) {
        EXPECT_FALSE(technician->Run(sql)) << sql;
        EXPECT_EQ(technician->LastError().code, TeamErrorCode::NoRights) << sql;
        EXPECT_FALSE(server->Psql(db, sql)) << "the owner: " << sql;
    }
    EXPECT_EQ(RowCount("records"), 10);

    ASSERT_TRUE(server->Psql("postgres",
                             "DROP ROLE IF EXISTS newcomer; DROP ROLE IF EXISTS office1; "
                             "CREATE ROLE office1 LOGIN PASSWORD 'pw'; GRANT velmora_office TO "
                             "office1; CREATE ROLE newcomer LOGIN"));
    EXPECT_FALSE(technician->Run("GRANT velmora_technician TO newcomer"));
    server->WritePassFile(passFile.path() / "pgpass", "office1", "pw");
    const auto office = team::Connection::Open(server->TlsUri("office1", db), error);
    ASSERT_TRUE(office) << error.message;
    EXPECT_TRUE(office->Run("GRANT velmora_technician TO newcomer")) << office->LastError().message;
}

// Connections that fail, each told as what it is.
TEST_F(TeamTest, FailuresAreToldAsWhatTheyAre) {
    ASSERT_TRUE(server->Psql(db, "CREATE DATABASE newer_" + db));
    ASSERT_EQ(Cli(laptopB, {"team", "init", server->AdminUri("newer_" + db)}).status, 0);
    ASSERT_TRUE(server->Psql("postgres",
                             "DROP ROLE IF EXISTS outsider; CREATE ROLE outsider "
                             "LOGIN PASSWORD 'pw'"));
    const std::string own = OwnAddress(), port = std::to_string(server->Port());
    const struct {
        std::string uri;
        std::string password;
        TeamErrorCode code;
    } cases[] = {
        {server->TlsUri(kTechnician, db), "wrong", TeamErrorCode::AuthFailed},
        {server->TlsUri("outsider", db), "pw", TeamErrorCode::NoRights},
        {server->TlsUri(kTechnician, db, "127.0.0.1"), kPassword, TeamErrorCode::TlsFailed},
        {"postgresql://tech1@localhost:" + std::to_string(server->Port()) + "/" + db +
             "?sslmode=verify-full&sslrootcert=/nonexistent/ca.crt",
         kPassword, TeamErrorCode::TlsFailed},
        {"postgresql://tech1@localhost:1/" + db, kPassword, TeamErrorCode::Unreachable},
        {"postgresql://tech1:pw@localhost/" + db, kPassword, TeamErrorCode::BadAddress},
        {server->AdminUri("newer_" + db), "", TeamErrorCode::TooNew},
        // Another host than this PC only over TLS with its certificate verified; this
        // PC itself without, as far as the server's own rules let it.
        {"postgresql://tech1@" + own + "/" + db, kPassword, TeamErrorCode::Insecure},
        {"postgresql://tech1@" + own + "/" + db + "?sslmode=require", kPassword,
         TeamErrorCode::Insecure},
        {"postgresql://tech1@" + own + "/" + db + "?sslmode=verify-full", kPassword,
         TeamErrorCode::Insecure},
        {"postgresql://tech1@localhost:" + port + "/" + db + "?hostaddr=" + own, kPassword,
         TeamErrorCode::Insecure},
        {"postgresql://tech1@localhost," + own + ":" + port + "," + port + "/" + db, kPassword,
         TeamErrorCode::Insecure},
        {server->TlsUri(kTechnician, db, own), kPassword, TeamErrorCode::Unreachable},
        {"postgresql://tech1@127.0.0.1:" + port + "/" + db + "?sslmode=disable", kPassword,
         TeamErrorCode::NeedsTls},
    };
    server->Psql("newer_" + db, "INSERT INTO velmora.schema_version(version) VALUES (99)");
    for (const auto& c : cases) {
        server->WritePassFile(passFile.path() / "pgpass", "*", c.password);
        team::TeamError error;
        std::string id;
        if (const auto connection = team::Connection::Open(c.uri, error))
            error = team::CheckTeamArchive(*connection, id);
        EXPECT_EQ(error.code, c.code) << c.uri << ": " << error.message;
    }
    // velmora-cli: an address that would leave this PC unprotected is not joined.
    const CliRun insecure = Cli(laptopA, {"team", "join", "postgresql://tech1@" + own + "/" + db});
    EXPECT_EQ(insecure.status, 2);
    EXPECT_NE(insecure.err.find("sslmode=verify-full&sslrootcert="), std::string::npos);
    EXPECT_EQ(Cli(laptopA, {"team", "status"}).status, 2);
    // Joined, the refusal said once, with what still waits, exit status 1.
    Download(laptopA, 0, 4);
    server->WritePassFile(passFile.path() / "pgpass", "*", "");
    EXPECT_EQ(Cli(laptopA, {"team", "join", server->TlsUri(kTechnician, db)}).status, 1);
    const CliRun refused = Cli(laptopA, {"team", "sync"});
    EXPECT_EQ(refused.status, 1);
    const std::vector<std::string> told = Lines(refused.err);
    ASSERT_EQ(told.size(), 2u) << refused.err;
    EXPECT_TRUE(
        told[0].starts_with("velmora-cli: The team archive refused the user name or password ("));
    EXPECT_EQ(told[1],
              "velmora-cli: Waiting to be sent: 5 records, 0 images, 0 settings snapshots, 0 job "
              "items changed");
}

}  // namespace
}  // namespace velmora::test
