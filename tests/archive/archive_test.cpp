#include "archive/archive.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <latch>
#include <numeric>
#include <thread>

#include "archive/archive_schema.h"
#include "archive/sha256.h"
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

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
    // The same bytes from another splicer are its own records.
    EXPECT_EQ(Store(b, Series(1, 5)), 5u);

    const auto records = archive->Records({});
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 35u);
    std::vector<int> tagsOfA;
    for (const ArchivedRecord& r : *records)
        if (r.device == "A100") tagsOfA.push_back(TagOf(r.record));
    std::vector<int> expected(30);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(tagsOfA, expected);
    EXPECT_EQ(records->front().firstDownloaded, sys_days{2026y / March / 7} + 9h);
    EXPECT_EQ(records->back().firstDownloaded, sys_days{2026y / March / 7} + 11h);

    const auto splicers = archive->Splicers();
    ASSERT_TRUE(splicers);
    ASSERT_EQ(splicers->size(), 2u);
    EXPECT_EQ(splicers->front().serialNumber, "SA100");
    EXPECT_EQ(splicers->front().firstSeen, sys_days{2026y / March / 7} + 9h);
    EXPECT_EQ(splicers->front().lastSeen, sys_days{2026y / March / 7} + 11h);
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

TEST_F(ArchiveTest, FiltersTakeDeviceDaysAndJob) {
    // Stored out of time order; 4 (month 13) and 5 (30 February) have no real date.
    Store(a, {Rec(3, 2026, 3, 2), Rec(4, 2026, 13, 1), Rec(1, 2026, 3, 1, 0, 0, 0),
              Rec(5, 2026, 2, 30), Rec(2, 2026, 3, 1, 23, 59, 59)});
    Store(b, {Rec(7, 2026, 3, 3, 0, 0, 0), Rec(6, 2026, 2, 28, 23, 59, 59)});
    ASSERT_EQ(archive->TagJob("north", IdsOf({1, 3})).count, 2u);
    ASSERT_EQ(archive->TagJob("south", IdsOf({7})).count, 1u);

    const auto day = [](unsigned d, unsigned m = 3) {
        return 2026y / month{m} / std::chrono::day{d};
    };
    const struct {
        const char* name;
        RecordFilter filter;
        std::vector<int> tags;
    } cases[] = {
        {"everything: dated by time, then undated as stored", {}, {6, 1, 2, 3, 7, 4, 5}},
        {"one splicer", {.device = "A100"}, {1, 2, 3, 4, 5}},
        {"one day, both ends", {.from = day(1), .to = day(1)}, {1, 2}},
        {"from a day", {.from = day(2)}, {3, 7}},
        {"up to a day", {.to = day(28, 2)}, {6}},
        {"splicer and days", {.device = "B200", .from = day(1)}, {7}},
        {"a job", {.job = "north"}, {1, 3}},
        {"without a job", {.job = ""}, {6, 2, 4, 5}},
        {"unknown splicer", {.device = "C300"}, {}},
        {"from after to", {.from = day(3), .to = day(1)}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Tags(c.filter), c.tags) << c.name;

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
    const struct {
        const char* name;
        SplicerIdentity who;
        std::string reason;
        std::vector<GroupBytes> groups;
    } refused[] = {
        {"splice record one byte short",
         a,
         "read",
         {{RecordKind::Splice, std::vector<std::uint8_t>(83)}}},
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
    const std::string good = ReadAll(file);
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
    } cases[] = {
        {"garbage bytes", garbage, "", ErrorCode::Damaged},
        {"truncated", good.substr(0, good.size() / 2), "", ErrorCode::Damaged},
        {"pages overwritten", scribbled, "", ErrorCode::Damaged},
        {"from a newer program", good, "PRAGMA user_version = 99", ErrorCode::TooNew},
    };
    // The file alone, without the side files a refused open may leave.
    auto replaceFile = [&](const std::string& bytes) {
        for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + side);
        dir.Write("FS/archive.db", bytes);
    };
    for (const auto& c : cases) {
        replaceFile(c.bytes);
        if (!c.sql.empty()) RawDb(file).Exec(c.sql);
        const std::string before = ReadAll(file);
        const OpenResult opened = Archive::Open(file);
        EXPECT_FALSE(opened.archive) << c.name;
        EXPECT_EQ(opened.error.code, c.code) << c.name << ": " << opened.error.message;
        EXPECT_NE(opened.error.message.find(file.string()), std::string::npos) << c.name;
        EXPECT_EQ(ReadAll(file), before) << c.name;
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

// The superuser writes to any file, so a read-only file is tried as nobody when run as root.
TEST_F(ArchiveTest, ReadOnlyFileIsRefusedAndLeftAlone) {
    Store(a, Series(1, 10));
    archive.reset();
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    for (const auto& folder : {dir.path(), file.parent_path()})
        ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    const std::string before = ReadAll(file);
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(3);
            const OpenResult opened = Archive::Open(file);
            std::fprintf(stderr, "%s: %s\n", ErrorCodeName(opened.error.code),
                         opened.error.message.c_str());
            std::_Exit(!opened.archive && opened.error.code == ErrorCode::ReadOnly ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "read-only");
    EXPECT_EQ(ReadAll(file), before);
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

// A file of the first version keeps its records and gains jobs.
TEST_F(ArchiveTest, OlderFileIsBroughtUpToTheCurrentVersion) {
    archive.reset();
    std::filesystem::remove(file);
    const SpliceRecord old = Rec(1, 2025, 12, 24);
    {
        RawDb v1(file);
        ASSERT_EQ(Migrate(v1.db, 1).sqliteCode, SQLITE_OK);
        std::string hex;
        for (std::uint8_t byte : old.bytes) {
            char two[3];
            std::snprintf(two, sizeof two, "%02X", byte);
            hex += two;
        }
        v1.Exec(
            "INSERT INTO splicers VALUES (1, 'A100', 'SA100', 0, 0);"
            "INSERT INTO records VALUES (1, 1, x'" +
            hex + "', 20251224120000, 0)");
    }
    archive = OpenArchive();
    ASSERT_TRUE(archive);
    EXPECT_EQ(RawDb(file).Number("PRAGMA user_version"), SchemaVersion());
    EXPECT_EQ(Store(a, {old, Rec(2, 2026, 1, 5)}), 1u);
    EXPECT_EQ(archive->TagJob("kept", RecordFilter{.to = 2025y / December / 31}).count, 1u);
    EXPECT_EQ(Tags({.job = "kept"}), std::vector<int>{1});
}

}  // namespace
}  // namespace velmora::archive
