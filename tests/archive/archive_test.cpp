#include "archive/archive.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <latch>
#include <numeric>
#include <thread>

#include "archive/archive_order.h"
#include "archive/archive_schema.h"
#include "archive/archive_sql.h"
#include "archive/archive_texts.h"
#include "archive/record_cursor.h"
#include "archive/splice_time.h"
#include "base/sha256.h"
#include "jobs/job_store.h"
#include "support/test_support.h"

namespace velmora::archive {

void PrintTo(const JobSummary& job, std::ostream* out) {
    *out << job.name << " x" << job.records;
}

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

// A record with the given time fields, told apart by `tag` (its last two bytes).
SpliceRecord Rec(int tag, int year, int month, int day, int hour = 12, int minute = 0,
                 int second = 0) {
    SpliceRecord r;
    const int fields[] = {year - 2000, month, day, hour, minute, second};
    for (int i = 0; i < 6; ++i) r.bytes[i] = static_cast<std::uint8_t>(fields[i]);
    r.bytes[32] = static_cast<std::uint8_t>(tag & 0xFF);
    r.bytes[33] = static_cast<std::uint8_t>(tag >> 8);
    return r;
}

int TagOf(const SpliceRecord& r) {
    return r.bytes[32] | (r.bytes[33] << 8);
}

// Records tagged first..last, a minute apart from 08:00, six hundred a day from 2026-03-01.
std::vector<SpliceRecord> Series(int first, int last) {
    std::vector<SpliceRecord> out;
    for (int tag = first; tag <= last; ++tag)
        out.push_back(Rec(tag, 2026, 3, 1 + tag / 600, 8 + tag / 60 % 10, tag % 60));
    return out;
}

// A second, plain connection to the file, to see and meddle as another program would.
class RawDb {
  public:
    explicit RawDb(const std::filesystem::path& file) {
        sqlite3_open(file.string().c_str(), &db);
        sqlite3_busy_timeout(db, 5000);
    }
    ~RawDb() { sqlite3_close(db); }
    void Exec(const std::string& sql) {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << sql << ": " << (error ? error : "");
        sqlite3_free(error);
    }
    std::int64_t Number(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
        const std::int64_t value =
            sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return value;
    }
    sqlite3* db = nullptr;
};

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override { archive = OpenArchive(); }

    std::unique_ptr<Archive> OpenArchive(OpenOptions options = {}) {
        options.clock = [this] { return now; };
        OpenResult opened = Archive::Open(file, options);
        EXPECT_TRUE(opened.archive) << opened.error.message;
        return std::move(opened.archive);
    }

    std::size_t Store(const SplicerIdentity& who, const std::vector<SpliceRecord>& records,
                      std::string_view job = {}) {
        const StoreResult stored = archive->StoreDownload(who, records, job);
        EXPECT_TRUE(stored.ok()) << stored.error.message;
        return stored.count;
    }

    // The tags of the records the filter takes, in the order they come.
    std::vector<int> Tags(const RecordFilter& filter) {
        const auto records = archive->Records(filter);
        EXPECT_TRUE(records) << archive->LastError().message;
        std::vector<int> tags;
        for (const ArchivedRecord& r : records.value_or(std::vector<ArchivedRecord>{}))
            tags.push_back(TagOf(r.record));
        return tags;
    }

    // The ids the list shows, read as it reads them: a few rows at a time.
    std::vector<std::int64_t> Listed(const RecordFilter& filter, RecordOrder order) {
        RecordCursor cursor(filter, order);
        std::vector<std::int64_t> ids;
        for (std::size_t first = 0;; first += 3) {
            const auto rows = cursor.Rows(*archive, first, 3);
            EXPECT_TRUE(rows) << cursor.Error().message;
            if (!rows || rows->empty()) break;
            for (const ArchivedRecord& r : *rows) ids.push_back(r.id);
        }
        return ids;
    }
    std::vector<int> TagsOfIds(const std::vector<std::int64_t>& ids) {
        std::vector<int> tags;
        const auto records = archive->Records({});
        for (const std::int64_t id : ids)
            for (const ArchivedRecord& r : *records)
                if (r.id == id) tags.push_back(TagOf(r.record));
        return tags;
    }

    std::vector<std::int64_t> IdsOf(std::initializer_list<int> tags) {
        std::vector<std::int64_t> ids;
        const auto records = archive->Records({});
        for (const ArchivedRecord& r : records.value_or(std::vector<ArchivedRecord>{}))
            if (std::find(tags.begin(), tags.end(), TagOf(r.record)) != tags.end())
                ids.push_back(r.id);
        return ids;
    }

    test::TempDir dir;
    std::filesystem::path file = dir.path() / "FS" / "archive.db";
    sys_seconds now = sys_days{2026y / March / 7} + 9h;
    const SplicerIdentity a{"A100", "SA100"};
    const SplicerIdentity b{"B200", "SB200"};
    // Serial numbers one letter apart: one folder, two splicers.
    const SplicerIdentity c{"B123456", "AB123456"};
    const SplicerIdentity d{"B123456", "XB123456"};
    std::unique_ptr<Archive> archive;
};

TEST_F(ArchiveTest, ARecordIsKnownByItsSplicerAndItsBytes) {
    const std::vector<SpliceRecord> first = Series(1, 20);
    EXPECT_EQ(Store(a, first), 20u);
    now += 1h;
    EXPECT_EQ(Store(a, first), 0u);
    // Downloaded again with ten new ones, in another order, by another program instance.
    std::vector<SpliceRecord> again = Series(1, 30);
    std::reverse(again.begin(), again.end());
    archive = OpenArchive();
    now += 1h;
    EXPECT_EQ(Store(a, again), 10u);
    // The same bytes from another splicer are its own records, one sharing its folder too.
    EXPECT_EQ(Store(b, Series(1, 5)), 5u);
    EXPECT_EQ(Store(c, Series(1, 5)), 5u);
    EXPECT_EQ(Store(d, Series(1, 5)), 5u);

    const auto records = archive->Records({.device = "SA100"});
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 30u);
    std::vector<int> tagsOfA;
    for (const ArchivedRecord& r : *records) tagsOfA.push_back(TagOf(r.record));
    std::vector<int> expected(30);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(tagsOfA, expected);
    EXPECT_EQ(records->front().firstDownloaded, sys_days{2026y / March / 7} + 9h);
    EXPECT_EQ(records->back().firstDownloaded, sys_days{2026y / March / 7} + 11h);

    const auto splicers = archive->Splicers();
    ASSERT_TRUE(splicers);
    ASSERT_EQ(splicers->size(), 4u);
    EXPECT_EQ(splicers->front().serialNumber, "AB123456");
    EXPECT_EQ(splicers->back().folderName, "B123456");
    EXPECT_EQ((*splicers)[1].serialNumber, "SA100");
    EXPECT_EQ((*splicers)[1].firstSeen, sys_days{2026y / March / 7} + 9h);
    EXPECT_EQ((*splicers)[1].lastSeen, sys_days{2026y / March / 7} + 11h);
}

// A record refused in the middle of a download takes the whole download with it.
TEST_F(ArchiveTest, DownloadIsStoredWhollyOrNotAtAll) {
    RawDb other(file);
    other.Exec(
        "CREATE TRIGGER refuse_sixth BEFORE INSERT ON records "
        "WHEN (SELECT count(*) FROM records) >= 5 "
        "BEGIN SELECT RAISE(ABORT, 'disk gave up'); END");
    const StoreResult failed = archive->StoreDownload(a, Series(1, 10));
    EXPECT_EQ(failed.error.code, ErrorCode::Failed);
    EXPECT_NE(failed.error.message.find("disk gave up"), std::string::npos) << failed.error.message;
    EXPECT_EQ(failed.count, 0u);
    EXPECT_EQ(archive->LastError().code, ErrorCode::Failed);
    EXPECT_TRUE(Tags({}).empty());
    EXPECT_TRUE(archive->Splicers()->empty());

    other.Exec("DROP TRIGGER refuse_sixth");
    EXPECT_EQ(Store(a, Series(1, 10)), 10u);
    EXPECT_EQ(archive->LastError().code, ErrorCode::None);
}

TEST_F(ArchiveTest, FiltersTakeDeviceDaysJobResultAndSearch) {
    // The splicer's result, loss (hundredths of a dB) and cleave angles (tenths).
    const auto judged = [](SpliceRecord r, int result, int loss, int lf = 0, int rf = 0) {
        r.bytes[6] = static_cast<std::uint8_t>(result);
        r.bytes[8] = static_cast<std::uint8_t>(loss);
        r.bytes[10] = static_cast<std::uint8_t>(lf);
        r.bytes[12] = static_cast<std::uint8_t>(rf);
        return r;
    };
    // Stored out of time order; 4 (month 13) and 5 (30 February) have no real date.
    // Against limits of 0.10 dB and 1.0°: 1 and 8 failed on the splicer (8 over the
    // loss limit too), 3 (loss), 6 (left angle) just over a limit, 2 and 7 at them.
    Store(a, {judged(Rec(3, 2026, 3, 2), 0, 11), Rec(4, 2026, 13, 1),
              judged(Rec(1, 2026, 3, 1, 0, 0, 0), 1, 3), Rec(5, 2026, 2, 30),
              judged(Rec(2, 2026, 3, 1, 23, 59, 59), 0, 10, 10, 10)});
    Store(b, {judged(Rec(7, 2026, 3, 3, 0, 0, 0), 0, 0, 0, 10),
              judged(Rec(6, 2026, 2, 28, 23, 59, 59), 0, 0, 11)});
    Store(c, {judged(Rec(8, 2026, 3, 4), 2, 50)});
    Store(d, {Rec(9, 2026, 3, 5)});
    const std::int64_t splicerOfD = archive->Splicers()->back().id;  // by serial number
    ASSERT_EQ(archive->TagJob("north", IdsOf({1, 3})).count, 2u);
    ASSERT_EQ(archive->TagJob("Süd 南站", IdsOf({7})).count, 1u);
    // Record 3 placed in a closure whose name holds LIKE's wildcards.
    jobs::JobStore store(*archive);
    const std::int64_t closure = store.AddClosure(store.Job("north")->id, {.name = "C_17%"}).id;
    const std::int64_t cable = store.AddCable(closure, {.name = "F1"}).id;
    const std::int64_t tray = store.AddTray(closure, {}).id;
    ASSERT_TRUE(store.Place({tray, 1, {cable, 1}, {cable, 2}, IdsOf({3})}).ok());
    const auto verdict = [](Verdict v) { return RecordFilter{.result = v}; };

    const auto day = [](unsigned d, unsigned m = 3) {
        return 2026y / month{m} / std::chrono::day{d};
    };
    const struct {
        const char* name;
        RecordFilter filter;
        std::vector<int> tags;
    } cases[] = {
        {"everything: dated by time, then undated as stored", {}, {6, 1, 2, 3, 7, 8, 9, 4, 5}},
        {"one splicer by folder", {.device = "A100"}, {1, 2, 3, 4, 5}},
        {"one splicer by serial number", {.device = "SB200"}, {6, 7}},
        {"one letter apart", {.device = "XB123456"}, {9}},
        {"a folder takes its splicers", {.device = "B123456"}, {8, 9}},
        {"one splicer of the list", {.splicer = splicerOfD}, {9}},
        {"one day, both ends", {.from = day(1), .to = day(1)}, {1, 2}},
        {"from a day", {.from = day(2)}, {3, 7, 8, 9}},
        {"up to a day", {.to = day(28, 2)}, {6}},
        {"splicer and days", {.device = "B200", .from = day(1)}, {7}},
        {"a job", {.job = "north"}, {1, 3}},
        {"without a job", {.job = ""}, {6, 2, 8, 9, 4, 5}},
        {"unknown splicer", {.device = "C300"}, {}},
        {"from after to", {.from = day(3), .to = day(1)}, {}},
        {"failed on the splicer, over a limit or not", verdict(Verdict::Failed), {1, 8}},
        {"over a limit, the splicer's failures not", verdict(Verdict::OverLimit), {6, 3}},
        {"passed: at the limits", verdict(Verdict::Passed), {2, 7, 9, 4, 5}},
        {"over higher limits: none, the failures not",
         {.result = Verdict::OverLimit, .limits = {.maxLoss = 11, .maxAngle = 11}},
         {}},
        {"over the angle limit alone: the left angle",
         {.result = Verdict::OverLimit, .limits = {.maxLoss = 11, .maxAngle = 10}},
         {6}},
        {"over a lower angle limit: either angle",
         {.result = Verdict::OverLimit, .limits = {.maxLoss = 11, .maxAngle = 9}},
         {6, 2, 7}},
        {"a job's name in another case", {.search = "NORTH"}, {1, 3}},
        {"a splicer's name", {.search = "sb2"}, {6, 7}},
        {"two splicers' names", {.search = "b123456"}, {8, 9}},
        {"a Chinese and an accented name", {.search = "sÜd 南"}, {7}},
        {"a closure's name, wildcards as typed", {.search = "c_17%"}, {3}},
        {"an underscore is no wildcard", {.search = "_"}, {3}},
        {"a percent sign is no wildcard", {.search = "c%"}, {}},
        {"splicers and a closure", {.search = "1"}, {1, 2, 3, 8, 9, 4, 5}},
        {"found nowhere", {.search = "route 9"}, {}},
        {"a splicer found, another chosen", {.splicer = splicerOfD, .search = "SB200"}, {}},
        {"a job found, another chosen", {.job = "north", .search = "süd"}, {}},
        {"a search, a result and a splicer",
         {.device = "A100", .result = Verdict::Failed, .search = "north"},
         {1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tags(c.filter), c.tags) << c.name;
        // A screenful at a time in the list's order, or streamed, the same records.
        EXPECT_EQ(TagsOfIds(Listed(c.filter, {})), c.tags) << c.name;
        std::vector<int> streamed;
        EXPECT_TRUE(archive->ForEachRecord(c.filter, [&](const ArchivedRecord& r) {
            streamed.push_back(TagOf(r.record));
            return true;
        }));
        EXPECT_EQ(streamed, c.tags) << c.name;
    }

    EXPECT_FALSE(archive->Records({.from = day(30, 2)}));
    EXPECT_EQ(archive->LastError().code, ErrorCode::InvalidArgument);
}

TEST_F(ArchiveTest, JobsAreGivenByIdsOrFilterAndRenamed) {
    Store(a, Series(1, 4), "day one");
    // The job of a download goes to its new records only.
    Store(a, Series(1, 6), "day two");
    Store(b, Series(1, 2));
    EXPECT_EQ(Tags({.job = "day one"}), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Tags({.job = "day two"}), (std::vector<int>{5, 6}));

    const std::vector<std::int64_t> someIds = {IdsOf({1})[0], IdsOf({2})[0], 999999};
    EXPECT_EQ(archive->TagJob("splice team", someIds).count, 2u);
    EXPECT_EQ(archive->TagJob("splice team", someIds).count, 0u);  // nothing changes
    EXPECT_EQ(archive->TagJob("splice team", RecordFilter{.device = "B200"}).count, 2u);
    // Renaming: the old name's records move to the new name, whatever their splicer.
    EXPECT_EQ(archive->TagJob("route 7", RecordFilter{.job = "splice team"}).count, 4u);
    EXPECT_EQ(archive->TagJob("", RecordFilter{.job = "day two"}).count, 2u);
    EXPECT_EQ(*archive->Jobs(), (std::vector<JobSummary>{{"day one", 2}, {"route 7", 4}}));
    const auto records = archive->Records({.job = "route 7"});
    ASSERT_TRUE(records);
    for (const ArchivedRecord& r : *records) EXPECT_EQ(r.job, "route 7");

    // What a naming would take is known first: records, of another job, of none.
    EXPECT_EQ(archive->PreviewJob("route 7", RecordFilter{}), (NamingPreview{8, 2, 2}));
    const std::vector<std::int64_t> oneTwice = {IdsOf({3})[0], IdsOf({3})[0], 999999};
    EXPECT_EQ(archive->PreviewJob("x", oneTwice), (NamingPreview{1, 1, 0}));
    // The last naming that changed records is undone, once, after a restart too.
    EXPECT_EQ(archive->TagJob("route 7", RecordFilter{.job = "route 7"}).count, 0u);
    archive = OpenArchive();
    EXPECT_EQ(archive->UndoLastNaming().count, 2u);
    EXPECT_EQ(Tags({.job = "day two"}), (std::vector<int>{5, 6}));
    EXPECT_EQ(archive->UndoLastNaming().count, 0u);
}

TEST_F(ArchiveTest, ImagesAreTiedToTheRecordOfTheirTime) {
    Store(a, {Rec(1, 2026, 3, 1, 9, 7, 3), Rec(2, 2026, 3, 1, 10, 0, 0)});
    Store(b, {Rec(3, 2026, 3, 1, 9, 7, 3)});
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 'a', 'b', 'c', 0xFF, 0xD9};
    const std::vector<std::uint8_t> other = {0xFF, 0xD8, 0xFF, 0xD9};
    auto store = [&](const std::string& stamp, const std::string& name,
                     const std::vector<std::uint8_t>& bytes) {
        return archive->StoreImage(a, {stamp, name, bytes});
    };
    EXPECT_EQ(store("20260301090703", "202603010907030.jpg", jpeg).count, 1u);
    // The same picture again under the name of another list position: nothing new.
    EXPECT_EQ(store("20260301090703", "202603010907031.jpg", jpeg).count, 0u);
    EXPECT_EQ(store("20260301090703", "202603010907032.jpg", other).count, 1u);
    EXPECT_EQ(store("20261399090703", "202613990907030.jpg", other).count, 1u);  // no real date
    EXPECT_EQ(store("20260301090703", "../x.jpg", jpeg).error.code, ErrorCode::InvalidArgument);

    const auto records = archive->Records({});
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 3u);
    EXPECT_EQ((*records)[0].images,
              (std::vector<std::string>{"202603010907031.jpg", "202603010907032.jpg"}));
    EXPECT_TRUE((*records)[1].images.empty());  // splicer B's record of the same second
    EXPECT_TRUE((*records)[2].images.empty());

    const auto images = archive->Images("A100");
    ASSERT_TRUE(images);
    ASSERT_EQ(images->size(), 3u);
    EXPECT_EQ((*images)[0].size, jpeg.size());
    EXPECT_EQ((*images)[0].sha256, HexText(Sha256Of(jpeg)));
    EXPECT_EQ((*images)[0].recordId, (*records)[0].id);
    EXPECT_FALSE((*images)[2].recordId);
}

TEST_F(ArchiveTest, SnapshotsKeepWholeRecordsOfTheRightSize) {
    const std::vector<std::uint8_t> splice(84, 0x11), heater(28, 0x22), config(52, 0x33);
    const std::vector<std::uint8_t> oneShort(83);
    const struct {
        const char* name;
        SplicerIdentity who;
        std::string reason;
        std::vector<GroupBytes> groups;
    } refused[] = {
        {"splice record one byte short", a, "read", {{RecordKind::Splice, oneShort}}},
        {"heater bytes as environment", a, "read", {{RecordKind::Environment, heater}}},
        {"a kind twice", a, "read", {{RecordKind::Heater, heater}, {RecordKind::Heater, heater}}},
        {"an unknown kind", a, "read", {{static_cast<RecordKind>(4), heater}}},
        {"no record", a, "read", {}},
        {"no reason", a, "", {{RecordKind::Heater, heater}}},
        {"a folder name with a slash", {"A/100", ""}, "read", {{RecordKind::Heater, heater}}},
    };
    for (const auto& c : refused)
        EXPECT_EQ(archive->StoreSnapshot(c.who, c.reason, c.groups).error.code,
                  ErrorCode::InvalidArgument)
            << c.name;
    EXPECT_TRUE(archive->Snapshots({})->empty());
    EXPECT_TRUE(archive->Splicers()->empty());

    const std::vector<GroupBytes> before = {{RecordKind::DeviceConfig, config},
                                            {RecordKind::Splice, splice}};
    const StoreResult first = archive->StoreSnapshot(a, reason::BeforeFirmware, before);
    ASSERT_TRUE(first.ok()) << first.error.message;
    now += 1min;
    ASSERT_TRUE(
        archive
            ->StoreSnapshot(a, reason::Read, std::vector<GroupBytes>{{RecordKind::Heater, heater}})
            .ok());
    ASSERT_TRUE(
        archive
            ->StoreSnapshot(b, reason::Read, std::vector<GroupBytes>{{RecordKind::Heater, heater}})
            .ok());

    const auto kept = archive->Snapshot(first.id);
    ASSERT_TRUE(kept) << archive->LastError().message;
    EXPECT_EQ(kept->device, "A100");
    EXPECT_EQ(kept->reason, "before firmware");
    EXPECT_EQ(kept->taken, sys_days{2026y / March / 7} + 9h);
    EXPECT_EQ(kept->groups, (std::vector<GroupBytes>{{RecordKind::Splice, splice},
                                                     {RecordKind::DeviceConfig, config}}));
    EXPECT_EQ(archive->Snapshots({.device = "A100"})->size(), 2u);
    EXPECT_EQ(archive->Snapshots({.reason = "read"})->size(), 2u);
    EXPECT_EQ(archive->Snapshots({.device = "B200", .reason = "read"})->size(), 1u);
    EXPECT_FALSE(archive->Snapshot(first.id + 100));
    EXPECT_EQ(archive->LastError().code, ErrorCode::NotFound);
}

// Files that are not a usable archive are refused with their reason and left byte for byte.
TEST_F(ArchiveTest, DamagedNewerOrLockedFilesAreRefusedAndLeftAlone) {
    Store(a, Series(1, 1500));
    archive.reset();
    const std::string good = test::ReadFileBytes(file);
    ASSERT_GT(good.size(), 16384u);
    std::string garbage(8192, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
    std::string scribbled = good;
    std::fill(scribbled.begin() + 8192, scribbled.begin() + 12288, '\x5A');

    const struct {
        const char* name;
        std::string bytes;
        std::string sql;  // run on the file through another connection first
        ErrorCode code;
        const char* advice;  // what the user is told to do
    } cases[] = {
        {"garbage bytes", garbage, "", ErrorCode::Damaged, "move it away"},
        {"truncated", good.substr(0, good.size() / 2), "", ErrorCode::Damaged, "move it away"},
        {"pages overwritten", scribbled, "", ErrorCode::Damaged, "move it away"},
        {"from a newer program", good, "PRAGMA user_version = 99", ErrorCode::TooNew,
         "Use a newer Velmora"},
    };
    // The file alone, without the side files a refused open may leave.
    auto replaceFile = [&](const std::string& bytes) {
        for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + side);
        dir.Write("FS/archive.db", bytes);
    };
    for (const auto& c : cases) {
        replaceFile(c.bytes);
        if (!c.sql.empty()) RawDb(file).Exec(c.sql);
        const std::string before = test::ReadFileBytes(file);
        const OpenResult opened = Archive::Open(file);
        EXPECT_FALSE(opened.archive) << c.name;
        EXPECT_EQ(opened.error.code, c.code) << c.name << ": " << opened.error.message;
        const std::string said = ArchiveErrorText(opened.error);
        EXPECT_NE(said.find(file.string()), std::string::npos) << said;
        EXPECT_NE(said.find(c.advice), std::string::npos) << said;
        EXPECT_EQ(test::ReadFileBytes(file), before) << c.name;
    }

    // Another program holding the write lock: opening and reading still work, a store
    // waits out the busy timeout and stores nothing.
    replaceFile(good);
    RawDb other(file);
    other.Exec("BEGIN IMMEDIATE");
    archive = OpenArchive({.busyTimeout = 100ms});
    ASSERT_TRUE(archive);
    EXPECT_EQ(Tags({}).size(), 1500u);
    const StoreResult waited = archive->StoreDownload(a, Series(2000, 2001));
    EXPECT_EQ(waited.error.code, ErrorCode::Locked) << waited.error.message;
    other.Exec("COMMIT");
    EXPECT_EQ(Store(a, Series(2000, 2001)), 2u);
}

// A file that cannot be written, in a folder that cannot be written either, is
// still read; every write says it is read-only. The superuser writes to any file,
// so this is tried as nobody when run as root.
TEST_F(ArchiveTest, ReadOnlyFileIsReadButNeverWritten) {
    Store(a, Series(1, 10));
    archive.reset();
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    for (const auto& folder : {dir.path(), file.parent_path()})
        ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    const std::string before = test::ReadFileBytes(file);
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(3);
            const OpenResult opened = Archive::Open(file);
            if (!opened.archive) std::_Exit(4);
            const auto records = opened.archive->Records({});
            const StoreResult stored = opened.archive->StoreDownload(a, Series(20, 21));
            std::fprintf(stderr, "%s\n", ArchiveErrorText(stored.error).c_str());
            std::_Exit(records && records->size() == 10 && opened.archive->ReadOnly() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cannot be written");
    EXPECT_EQ(test::ReadFileBytes(file), before);
}

// A file system of `size` on `folder` that this process alone sees (a mount namespace
// of its own); false where the system allows none. For a child process only.
bool MountSmallDisk(const std::filesystem::path& folder, const char* size) {
    if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
}

// A full disk is said as such, naming the file, and a download is kept whole or not at all.
TEST_F(ArchiveTest, AFullDiskIsSaidAsSuch) {
    archive.reset();
    const std::filesystem::path folder = file.parent_path();
    if (const pid_t probe = fork(); probe == 0) std::_Exit(MountSmallDisk(folder, "16k") ? 0 : 1);
    int probed = 0;
    wait(&probed);
    if (!WIFEXITED(probed) || WEXITSTATUS(probed) != 0) GTEST_SKIP() << "no mount namespace here";
    EXPECT_EXIT(
        {
            if (!MountSmallDisk(folder, "1m")) std::_Exit(3);
            auto opened = Archive::Open(file);
            if (!opened.archive || !opened.archive->StoreDownload(a, Series(0, 999)).ok())
                std::_Exit(4);
            const StoreResult stored = opened.archive->StoreDownload(a, Series(1000, 20999));
            std::fprintf(stderr, "%s\n", ArchiveErrorText(stored.error).c_str());
            const auto kept = opened.archive->Records({});
            std::_Exit(
                stored.error.code == ErrorCode::DiskFull && kept && kept->size() == 1000 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "The disk of the archive .*archive\\.db is full");
}

// Two programs (here two threads, each with its own Archive) open a new file at the
// same moment and store overlapping downloads: every record is stored exactly once.
TEST_F(ArchiveTest, TwoWritersAtOnceLoseNothing) {
    archive.reset();
    std::filesystem::remove_all(file.parent_path());
    std::latch start(2);
    std::size_t added[2] = {0, 0};
    std::string errors[2];
    auto writer = [&](int w) {
        start.arrive_and_wait();
        OpenResult opened = Archive::Open(file);
        if (!opened.archive) {
            errors[w] = opened.error.message;
            return;
        }
        // Writer 0 takes records 0-599, writer 1 takes 400-999, in downloads of 50.
        for (int first = 400 * w; first < 400 * w + 600; first += 50) {
            const StoreResult stored = opened.archive->StoreDownload(a, Series(first, first + 49));
            if (!stored.ok()) errors[w] += stored.error.message + "\n";
            added[w] += stored.count;
        }
    };
    std::thread one(writer, 0), two(writer, 1);
    one.join();
    two.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");
    EXPECT_EQ(added[0] + added[1], 1000u);
    archive = OpenArchive();
    EXPECT_EQ(Tags({}).size(), 1000u);
}

// The list reads every order of every filter it offers a few rows at a time, on an
// index (SQLite neither scans the table nor sorts what it found), and finds any
// row's position again.
TEST_F(ArchiveTest, EveryOrderOfEveryFilterIsReadOnAnIndex) {
    std::vector<SpliceRecord> ofA, ofB;
    for (int tag = 0; tag < 40; ++tag) {
        SpliceRecord r = Rec(tag, 2026, 3, 1 + tag * 7 % 5, 8 + tag % 7);
        r.bytes[6] = tag % 3 == 0 ? 1 : 0;                     // result
        r.bytes[8] = static_cast<std::uint8_t>(tag * 7 % 11);  // loss
        (tag % 2 ? ofA : ofB).push_back(r);
    }
    Store(a, ofA);
    Store(b, ofB);
    // Later downloads anywhere in time: older than everything, in the second of a
    // record archived or the second before one, and undated ones (2026-02-30) in two.
    Store(b, {Rec(40, 2026, 2, 27), Rec(41, 2026, 3, 1, 8), Rec(42, 2026, 2, 30),
              Rec(46, 2026, 3, 1, 8, 0, 1)});
    Store(a, {Rec(43, 2026, 2, 30), Rec(44, 2026, 3, 2, 9), Rec(45, 2026, 3, 9),
              Rec(47, 2026, 3, 1, 8)});
    ASSERT_TRUE(archive->TagJob("north", IdsOf({1, 2, 3, 5, 8, 13, 21, 34})).ok());
    ASSERT_TRUE(archive->TagJob("站点", IdsOf({4, 9, 16, 25, 36})).ok());
    const std::int64_t splicerA = archive->Splicers()->front().id;
    const RecordFilter filters[] = {
        {},
        {.splicer = splicerA},
        {.from = 2026y / March / 2, .to = 2026y / March / 4},
        {.job = "north"},
        {.job = ""},
        {.splicer = splicerA, .job = "站点"},
        {.splicer = splicerA, .from = 2026y / March / 3},
        {.from = 2026y / March / 10},  // after every record
        {.result = Verdict::OverLimit, .limits = {.maxLoss = 5}},
        {.splicer = splicerA, .result = Verdict::Failed, .search = "NOR"},
        {.search = "00"},  // both splicers: neither's index alone
    };
    using Key = std::pair<int, std::string>;
    const std::pair<RecordSort, std::function<Key(const ArchivedRecord&)>> sorts[] = {
        {RecordSort::Index, [](const ArchivedRecord&) { return Key{}; }},
        {RecordSort::Time, [](const ArchivedRecord&) { return Key{}; }},
        {RecordSort::Result,
         [](const ArchivedRecord& r) {
             return Key{r.record.result(), ""};
         }},
        {RecordSort::Loss,
         [](const ArchivedRecord& r) {
             return Key{r.record.loss(), ""};
         }},
        {RecordSort::Splicer,
         [](const ArchivedRecord& r) {
             return Key{0, r.serialNumber};
         }},
        {RecordSort::Job,
         [](const ArchivedRecord& r) {
             return Key{0, r.job};
         }},
    };
    for (std::size_t f = 0; f < std::size(filters); ++f) {
        for (const auto& [by, key] : sorts) {
            for (const bool descending : {false, true}) {
                const std::string name = "filter " + std::to_string(f) + " order " +
                                         std::to_string(static_cast<int>(by)) +
                                         (descending ? " descending" : "");
                // Expected: the archive's order (by time, then as they came: by id; the
                // undated last), stably by the column, turned round.
                auto records = *archive->Records(filters[f]);
                std::sort(records.begin(), records.end(), [](const auto& x, const auto& y) {
                    const auto at = [](const ArchivedRecord& r) {
                        return std::pair(SpliceTime(r.record).value_or(INT64_MAX), r.id);
                    };
                    return at(x) < at(y);
                });
                std::stable_sort(records.begin(), records.end(),
                                 [&](const auto& x, const auto& y) { return key(x) < key(y); });
                if (descending) std::reverse(records.begin(), records.end());
                std::vector<std::int64_t> expected;
                for (const ArchivedRecord& r : records) expected.push_back(r.id);
                EXPECT_EQ(Listed(filters[f], {by, descending}), expected) << name;

                RecordCursor cursor(filters[f], {by, descending});
                const auto positions = cursor.Positions(*archive, expected);
                ASSERT_TRUE(positions) << name;
                std::vector<std::size_t> all(expected.size());
                std::iota(all.begin(), all.end(), std::size_t{0});
                EXPECT_EQ(*positions, all) << name;
                EXPECT_EQ(cursor.Total(), expected.size()) << name;
                const auto plans = cursor.Plans(*archive);
                ASSERT_TRUE(plans) << name;
                for (const std::string& plan : *plans) {
                    EXPECT_EQ(plan.find("SCAN records; "), std::string::npos) << plan;
                    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
                }
            }
        }
    }
}

// The records of one second keep the order they came, whichever splicer made them and
// however many there are: those an archive numbered within their second first, then
// those stored since. Undated ones likewise, after every dated one.
TEST_F(ArchiveTest, TheRecordsOfOneSecondKeepTheOrderTheyCame) {
    Store(a, {Rec(1, 2026, 3, 1), Rec(2, 2026, 2, 30)});
    // As an older archive numbered them: 7th of its second, 3rd of the undated.
    RawDb(file).Exec("UPDATE records SET ordinal = CASE WHEN splice_time IS NULL THEN " +
                     std::to_string(order::kUndated + 2) + " ELSE " +
                     std::to_string(order::SlotOf(20260301120000).first + 6) + " END");
    Store(b, {Rec(3, 2026, 3, 1), Rec(4, 2026, 2, 30), Rec(5, 2026, 3, 1)});
    Store(a, {Rec(6, 2026, 3, 1), Rec(7, 2026, 3, 1, 11, 59, 59), Rec(8, 2026, 2, 30)});
    const std::vector<int> order{7, 1, 3, 5, 6, 2, 4, 8};
    EXPECT_EQ(Tags({}), order);
    RecordCursor backwards({}, {RecordSort::Index, true});
    std::vector<int> tags;
    const auto rows = backwards.Rows(*archive, 0, 100);
    ASSERT_TRUE(rows);
    for (const ArchivedRecord& r : *rows) tags.push_back(TagOf(r.record));
    EXPECT_EQ(tags, std::vector<int>(order.rbegin(), order.rend()));
    const auto span = archive->SpliceTimes({});
    ASSERT_TRUE(span);
    EXPECT_EQ(span->first, LocalTimeOf(20260301115959));
    EXPECT_EQ(span->last, LocalTimeOf(20260301120000));
}

// More splicers than SQLite merges in one listing: the archive is then read by one
// query that SQLite sorts, in the same order, either way round.
TEST_F(ArchiveTest, MoreSplicersThanOneListingMergesListInTheSameOrder) {
    const int splicers = static_cast<int>(sql::kMostArms) + 1;
    std::vector<std::pair<std::int64_t, int>> expected;  // (splice time, tag), as stored
    for (int n = 0; n < splicers; ++n) {
        const std::string name = "M" + std::to_string(n);
        Store({name, "S" + name}, {Rec(n, 2026, 3, 1 + n % 3, 12, n % 60)});
        expected.emplace_back(SpliceTime(Rec(n, 2026, 3, 1 + n % 3, 12, n % 60)).value(), n);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<int> tags;
    for (const auto& [time, tag] : expected) tags.push_back(tag);
    EXPECT_EQ(Tags({}), tags);
    RecordCursor backwards({}, {RecordSort::Index, true});
    std::vector<int> last;
    const auto lastRows = backwards.Rows(*archive, 1, 3);
    ASSERT_TRUE(lastRows);
    for (const ArchivedRecord& r : *lastRows) last.push_back(TagOf(r.record));
    EXPECT_EQ(last, (std::vector<int>{tags.end()[-2], tags.end()[-3], tags.end()[-4]}));
    // Every row found at its place again, past the first kept key of a second too.
    RecordCursor forwards({}, {});
    const auto rows = forwards.Rows(*archive, 0, tags.size()).value();
    std::vector<std::int64_t> ids;
    for (const ArchivedRecord& r : rows) ids.push_back(r.id);
    std::vector<std::size_t> all(ids.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    EXPECT_EQ(forwards.Positions(*archive, ids), all);
}

// Opening trusts a file its last program closed cleanly and that is unchanged since;
// one a program died with open, or that was changed by other means, is checked whole
// first. The check is there on demand too.
TEST_F(ArchiveTest, TheWholeFileIsCheckedOnlyAfterAnUncleanClose) {
    Store(a, Series(1, 1500));
    archive.reset();
    const auto scribble = [&] {
        const auto time = std::filesystem::last_write_time(file);
        std::string bytes = test::ReadFileBytes(file);
        std::fill(bytes.begin() + 8192, bytes.begin() + 12288, '\x5A');
        dir.Write("FS/archive.db", bytes);
        std::filesystem::last_write_time(file, time);  // as if nothing had touched it
    };
    const std::string good = test::ReadFileBytes(file);
    scribble();
    // Closed cleanly, unchanged to the eye: opened without reading every page...
    archive = OpenArchive();
    ASSERT_TRUE(archive);
    // ...and found damaged on demand.
    const auto problems = archive->Check();
    ASSERT_TRUE(problems);
    EXPECT_FALSE(problems->empty());
    archive.reset();

    // A program killed while writing: its marker still says open.
    dir.Write("FS/archive.db", good);
    archive = OpenArchive();
    EXPECT_TRUE(archive->Check()->empty());
    archive.reset();
    const pid_t child = fork();
    if (child == 0) {
        auto opened = Archive::Open(file);
        opened.archive->StoreDownload(b, Series(2000, 2010));
        std::_Exit(0);  // no close, as after kill -9
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    for (const char* side : {"-wal", "-shm"}) std::filesystem::remove(file.string() + side);
    scribble();
    const OpenResult opened = Archive::Open(file);
    EXPECT_FALSE(opened.archive);
    EXPECT_EQ(opened.error.code, ErrorCode::Damaged) << opened.error.message;
}

// A file of before splicers were known by serial number knew them by folder: its row of
// folder B123456 holds the records of AB123456 and XB123456, under the serial number
// reported last. Everything is kept, with its id; the row claims no serial number,
// and each record or image moves to its splicer once downloaded from it again.
TEST_F(ArchiveTest, OlderFileKeepsEverythingAndClaimsNoSerialItCannotKnow) {
    archive.reset();
    std::filesystem::remove(file);
    SpliceRecord ofC = Rec(1, 2025, 12, 24);
    ofC.bytes[10] = 0x05;  // cleave angles of 0x0105 and 0x0203 tenths of a degree
    ofC.bytes[11] = 0x01;
    ofC.bytes[12] = 0x03;
    ofC.bytes[13] = 0x02;
    SpliceRecord ofD = Rec(2, 2025, 12, 25);
    ofD.bytes[6] = 1;  // failed, with a loss of 0x1234 hundredths of a dB
    ofD.bytes[8] = 0x34;
    ofD.bytes[9] = 0x12;
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    auto hex = [](std::span<const std::uint8_t> bytes) {
        std::string text;
        for (std::uint8_t byte : bytes)
            text += "0123456789ABCDEF"[byte >> 4], text += "0123456789ABCDEF"[byte & 15];
        return "x'" + text + "'";
    };
    {
        RawDb old(file);
        ASSERT_EQ(Migrate(old.db, 2).sqliteCode, SQLITE_OK);
        old.Exec(
            "INSERT INTO splicers VALUES (1, 'B123456', 'XB123456', 0, 0);"
            "INSERT INTO records VALUES (1, 1, " +
            hex(ofC.bytes) +
            ", 20251224120000, 0, 'north');"
            "INSERT INTO records VALUES (2, 1, " +
            hex(ofD.bytes) +
            ", 20251225120000, 0, NULL);"
            "INSERT INTO images VALUES (1, 1, '20251224120000', 20251224120000, 'c.jpg', 4, '" +
            HexText(Sha256Of(jpeg)) +
            "', 0);"
            "INSERT INTO snapshots VALUES (1, 1, 0, 'read');"
            "INSERT INTO snapshot_groups VALUES (1, 1, zeroblob(28))");
    }
    archive = OpenArchive();
    ASSERT_TRUE(archive);
    EXPECT_EQ(RawDb(file).Number("PRAGMA user_version"), SchemaVersion());
    // Each record has its result, its loss and its larger cleave angle.
    EXPECT_EQ(RawDb(file).Number("SELECT result * 100000 + loss FROM records WHERE id = 2"),
              100'000 + 0x1234);
    EXPECT_EQ(RawDb(file).Number("SELECT angle FROM records WHERE id = 1"), 0x0203);
    const auto splicers = archive->Splicers();
    ASSERT_EQ(splicers->size(), 1u);
    EXPECT_EQ(splicers->front().id, 1);
    EXPECT_EQ(splicers->front().folderName, "B123456");
    EXPECT_EQ(splicers->front().serialNumber, "");
    EXPECT_EQ(archive->Snapshots({})->front().serialNumber, "");
    EXPECT_EQ(archive->Records({.device = "XB123456"})->size(), 0u);

    // AB123456 downloads its record again, and a new one; then its image again.
    EXPECT_EQ(Store(c, {ofC, Rec(3, 2026, 1, 5)}), 1u);
    EXPECT_EQ(archive->StoreImage(c, {"20251224120000", "c.jpg", jpeg}).count, 0u);
    const auto records = archive->Records({.device = "B123456"});
    ASSERT_EQ(records->size(), 3u);
    EXPECT_EQ((*records)[0].id, 1);
    EXPECT_EQ((*records)[0].serialNumber, "AB123456");
    EXPECT_EQ((*records)[0].job, "north");
    EXPECT_EQ((*records)[0].images, std::vector<std::string>{"c.jpg"});
    EXPECT_EQ((*records)[1].id, 2);
    EXPECT_EQ((*records)[1].serialNumber, "") << "XB123456's until it says so";
    EXPECT_EQ(Tags({.device = "AB123456"}), (std::vector<int>{1, 3}));

    // A file of before jobs were rows of their own: each job name its records carry
    // becomes a job, every record kept with its name.
    const std::filesystem::path four = dir.path() / "four.db";
    {
        RawDb old(four);
        ASSERT_EQ(Migrate(old.db, 4).sqliteCode, SQLITE_OK);
        old.Exec(
            "INSERT INTO splicers(id, folder, serial, first_seen, last_seen) "
            "VALUES (1, 'A100', 'SA100', 0, 0);"
            "INSERT INTO records VALUES (1, 1, " +
            hex(ofC.bytes) + ", 20251224120000, 0, 'north', 1, 0, 3), (2, 1, " + hex(ofD.bytes) +
            ", 20251225120000, 0, '北区', 2, 1, 4660), (3, 1, " + hex(Rec(3, 2026, 1, 5).bytes) +
            ", 20260105120000, 0, 'north', 3, 0, 3), (4, 1, " + hex(Rec(4, 2025, 12, 24).bytes) +
            ", 20251224120000, 0, NULL, 0, 0, NULL), (5, 1, " + hex(Rec(5, 2026, 2, 30).bytes) +
            ", NULL, 0, NULL, 0, 0, NULL), (6, 1, " + hex(Rec(6, 2025, 1, 1).bytes) +
            ", 20250101120000, 0, NULL, 0, 0, NULL);"
            // Numbered 1, 2, 3 by time as the program did until now.
            "UPDATE records SET ordinal = ranked.n FROM (SELECT id, row_number() OVER "
            "(ORDER BY splice_time IS NULL, splice_time, id) AS n FROM records) AS ranked "
            "WHERE records.id = ranked.id");
    }
    const OpenResult opened = Archive::Open(four);
    ASSERT_TRUE(opened.archive) << opened.error.message;
    // Every record kept in its order, and a record stored after goes in its place.
    ASSERT_TRUE(
        opened.archive->StoreDownload({"A100", "SA100"}, std::vector{Rec(7, 2025, 6, 1)}).ok());
    RecordCursor cursor({}, {});
    const auto rows = cursor.Rows(*opened.archive, 0, 10);
    ASSERT_TRUE(rows) << cursor.Error().message;
    std::vector<std::int64_t> order;
    for (const ArchivedRecord& r : *rows) order.push_back(r.id);
    EXPECT_EQ(order, (std::vector<std::int64_t>{6, 7, 1, 4, 2, 3, 5}));
    const auto jobs = jobs::JobStore(*opened.archive).Jobs();
    ASSERT_EQ(jobs->size(), 2u);
    EXPECT_EQ(jobs->front().details.name + " " + std::to_string(jobs->front().records), "north 2");
    EXPECT_EQ(jobs->back().details.name + " " + std::to_string(jobs->back().records), "北区 1");
    EXPECT_EQ(opened.archive->Records({.job = "北区"})->front().id, 2);
    // Days and the first and last splice time are read from those ordinals; the
    // undated record is in no range and has no time.
    using namespace std::chrono;
    const struct {
        RecordFilter filter;
        std::vector<std::int64_t> ids;
    } days[] = {
        {{.from = 2025y / December / 24, .to = 2025y / December / 24}, {1, 4}},
        {{.from = 2025y / December / 25}, {2, 3}},
        {{.to = 2025y / June / 1}, {6, 7}},
    };
    for (const auto& d : days) {
        const auto taken = opened.archive->Records(d.filter);
        ASSERT_TRUE(taken);
        std::vector<std::int64_t> ids;
        for (const ArchivedRecord& r : *taken) ids.push_back(r.id);
        EXPECT_EQ(ids, d.ids);
    }
    EXPECT_EQ(opened.archive->SpliceTimes({}), (SpliceSpan{local_days{2025y / January / 1} + 12h,
                                                           local_days{2026y / January / 5} + 12h}));
}

}  // namespace
}  // namespace velmora::archive
