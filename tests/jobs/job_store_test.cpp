// Jobs, closures, trays and placing splices on them, read back as the splice matrix.
#include "jobs/job_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

#include "jobs/fibre_colours.h"
#include "jobs/job_verdict.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "jobs/plan_import.h"
#include "jobs/splice_matrix.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

using C = FibreColour;

TEST(FibreColours, TubesAndFibresTakeTheTwelveColoursInTurn) {
    const struct {
        int fibre, perTube;
        FibrePlace place;
    } cases[] = {
        {1, 12, {1, C::Blue, C::Blue}},    {12, 12, {1, C::Blue, C::Aqua}},
        {13, 12, {2, C::Orange, C::Blue}}, {144, 12, {12, C::Aqua, C::Aqua}},
        {864, 12, {72, C::Aqua, C::Aqua}}, {7, 6, {2, C::Orange, C::Blue}},
        {24, 24, {1, C::Blue, C::Aqua}},   {38, 24, {2, C::Orange, C::Orange}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaceOfFibre(c.fibre, c.perTube), c.place) << c.fibre << "/" << c.perTube;
    EXPECT_EQ(ColourName(C::Slate), "slate");
}

// A job of 30 records (one failed at minute 4, one over the job's loss limit at
// minute 8) with a closure of two 48-fibre cables and two trays of 12.
class JobStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<SpliceRecord> records;
        for (int minute = 0; minute < 30; ++minute)
            records.push_back(test::RecordAt(minute, minute == 4, minute == 8 ? 30 : 3));
        ASSERT_TRUE(archive->StoreDownload({"A100", "SA100"}, records, kJob).ok());
        ASSERT_TRUE(
            archive->StoreDownload({"B200", "SB200"}, std::vector{test::RecordAt(0)}, "other")
                .ok());
        ids = IdsOf(kJob);
        ASSERT_EQ(ids.size(), 30u);
        ASSERT_TRUE(store.EditJob(kJob, {.name = kJob, .limits = {.maxLoss = 20}}).ok());
        closure = store.AddClosure(store.Job(kJob)->id, {.name = "C-17 东"}).id;
        cableA = store.AddCable(closure, {.name = "F-112", .fibres = 48}).id;
        cableB = store.AddCable(closure, {.name = "F-113", .fibres = 48}).id;
        tray1 = store.AddTray(closure, {.number = 1, .capacity = 12}).id;
        tray2 = store.AddTray(closure, {.number = 2, .capacity = 12}).id;
        ASSERT_TRUE(tray2 > 0 && store.LastError().ok()) << store.LastError().message;
    }

    std::vector<std::int64_t> IdsOf(const std::string& job) {
        std::vector<std::int64_t> out;
        const auto records = archive->Records({.job = job});
        for (const auto& r : records.value()) out.push_back(r.id);
        return out;
    }
    PlacingRequest Request(std::int64_t tray, int position, int fibre,
                           std::vector<std::int64_t> records) {
        return {tray, position, {cableA, fibre}, {cableB, fibre}, std::move(records)};
    }
    std::vector<std::int64_t> Ids(std::size_t from, std::size_t to) {
        return {ids.begin() + static_cast<std::ptrdiff_t>(from),
                ids.begin() + static_cast<std::ptrdiff_t>(to)};
    }
    SpliceMatrix Matrix() {
        auto matrix = ReadMatrix(*archive, kJob, {});
        EXPECT_TRUE(matrix) << archive->LastError().message;
        return matrix.value_or(SpliceMatrix{});
    }
    // Everything a change could touch, as text.
    std::string State() {
        sqlite3* db = nullptr;
        sqlite3_open((dir.path() / "archive.db").string().c_str(), &db);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(
            db,
            "SELECT (SELECT group_concat(record_id || '>' || position_id) FROM placings) || '|' || "
            "(SELECT group_concat(id || ',' || number || ',' || fibre_a || ',' || fibre_b) FROM "
            "positions) || '|' || (SELECT group_concat(name || max_loss) FROM jobs) || '|' || "
            "(SELECT count(*) FROM closures) || (SELECT count(*) FROM cables) || "
            "(SELECT count(*) FROM trays) || (SELECT count(*) FROM test_splices) || "
            "(SELECT group_concat(record_id) FROM placing_undo)",
            -1, &stmt, nullptr);
        sqlite3_step(stmt);
        const auto* text = sqlite3_column_text(stmt, 0);
        std::string state = text ? reinterpret_cast<const char*>(text) : "";
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return state;
    }

    const std::string kJob = "北环 7 号线";
    test::TempDir dir;
    std::unique_ptr<archive::Archive> archive =
        archive::Archive::Open(dir.path() / "archive.db").archive;
    JobStore store{*archive};
    std::vector<std::int64_t> ids;
    std::int64_t closure = 0, cableA = 0, cableB = 0, tray1 = 0, tray2 = 0;
};

TEST_F(JobStoreTest, PlacedSplicesFillTraysAndARespliceReplacesAFailure) {
    // The first twelve on tray 1, fibres 1..12; the twelve latest unplaced on tray 2
    // from fibre 13: the placing then taken back once and done again.
    ASSERT_EQ(store.Place(Request(tray1, 1, 1, Ids(0, 12))).count, 12u);
    ASSERT_EQ(store.PlaceLatest(Request(tray2, 1, 13, {}), 12).count, 12u);
    EXPECT_EQ(store.UndoLastPlacing().count, 12u);
    EXPECT_TRUE(store.Positions(tray2)->empty());
    EXPECT_EQ(store.UndoLastPlacing().refusal, Refusal::NothingToUndo);
    ASSERT_EQ(store.Place(Request(tray2, 1, 13, Ids(12, 24))).count, 12u);

    SpliceMatrix m = Matrix();
    ASSERT_EQ(m.closures.size(), 1u);
    const MatrixClosure& c = m.closures[0];
    EXPECT_EQ(c.closure.details.name, "C-17 东");
    ASSERT_EQ(c.rows.size(), 24u);
    const MatrixRow& row = c.rows[12];  // tray 2, position 1
    EXPECT_EQ(std::tie(row.tray, row.position, row.a.fibre, row.b.fibre), std::tuple(2, 1, 13, 13));
    EXPECT_EQ(row.a.cable + " " + row.b.cable, "F-112 F-113");
    EXPECT_EQ(row.a.place, (FibrePlace{2, C::Orange, C::Blue}));
    EXPECT_EQ(row.splice->recordId, ids[12]);
    EXPECT_EQ(row.splice->splicer, "SA100");
    EXPECT_EQ(row.splice->number, 13);
    EXPECT_EQ(c.rows[4].splice->mark, Mark::Failed);
    EXPECT_EQ(c.rows[8].splice->mark, Mark::OverLoss) << "the job's limit, not 0.10 dB";
    EXPECT_EQ(m.totals, (MatrixCounts{24, 24, 22, 1, 1, 0, 0}));
    EXPECT_EQ(m.unplaced.size(), 6u);
    EXPECT_EQ(JudgeJob(m).state, JobState::Failed);

    // Both redone later (a re-splice is a placing on a position holding one); a test
    // splice is taken off its position and no longer counted.
    ASSERT_EQ(store.Place(Request(tray1, 5, 5, {ids[24]})).count, 1u);
    ASSERT_EQ(store.Place(Request(tray1, 9, 9, {ids[25]})).count, 1u);
    ASSERT_EQ(store.MarkTestSplice(ids[26], true).count, 1u);
    m = Matrix();
    EXPECT_EQ(m.closures[0].rows[4].splice->recordId, ids[24]);
    ASSERT_EQ(m.closures[0].rows[4].resplices.size(), 1u);
    EXPECT_EQ(m.closures[0].rows[4].resplices[0].mark, Mark::Failed);
    EXPECT_EQ(m.totals, (MatrixCounts{24, 24, 24, 0, 0, 2, 2}));
    EXPECT_EQ(JudgeJob(m).state, JobState::Passed);
    EXPECT_EQ(m.testSplices.size(), 1u);
    EXPECT_EQ(m.unplaced.size(), 3u);
    EXPECT_EQ(store.Job(kJob)->Unplaced(), 3u);

    // Renamed while placed, in the job's details or by naming all its records: the
    // records follow, the matrix stays whole; undone, the job has its name back. A
    // naming that would take a placed record out of its job is refused.
    ASSERT_TRUE(store.EditJob(kJob, {.name = "Route 7", .limits = {.maxLoss = 20}}).ok());
    ASSERT_EQ(archive->TagJob("Route 8", archive::RecordFilter{.job = "Route 7"}).count, 30u);
    EXPECT_EQ(IdsOf("Route 8").size(), 30u);
    EXPECT_EQ(ReadMatrix(*archive, "Route 8", {})->totals, m.totals);
    EXPECT_EQ(archive->UndoLastNaming().count, 30u);
    EXPECT_EQ(ReadMatrix(*archive, "Route 7", {})->totals, m.totals);
    EXPECT_EQ(archive->TagJob("other", std::vector{ids[0], ids[29]}).error.code,
              archive::ErrorCode::InvalidArgument);
    EXPECT_EQ(IdsOf("Route 7").size(), 30u);
}

// Every refusal says why and leaves the archive exactly as it was.
TEST_F(JobStoreTest, RefusalsSayWhyAndChangeNothing) {
    ASSERT_TRUE(store.Place(Request(tray1, 1, 1, Ids(0, 3))).ok());
    ASSERT_TRUE(store.Place(Request(tray1, 5, 5, {ids[4]})).ok());  // failed on the splicer
    ASSERT_TRUE(store.Place(Request(tray1, 9, 9, {ids[8]})).ok());  // over the job's loss limit
    ASSERT_TRUE(store.MarkTestSplice(ids[29], true).ok());
    const std::int64_t job = store.Job(kJob)->id;
    const std::vector<PositionInfo> positions = *store.Positions(tray1);
    const std::int64_t position1 = positions.front().id, position9 = positions.back().id;
    auto plan = [&](std::vector<PlannedPosition> positions) {
        return store.PlanPositions(job, positions).result;
    };
    const std::int64_t ofOther = IdsOf("other")[0];
    const struct {
        const char* name;
        std::function<JobResult()> change;
        Refusal refusal;
        std::string detail;
    } cases[] = {
        {"job without name", [&] { return store.CreateJob({.name = ""}); }, Refusal::EmptyName,
         "job"},
        {"job twice", [&] { return store.CreateJob({.name = kJob}); }, Refusal::DuplicateName,
         kJob},
        {"limit too high",
         [&] { return store.CreateJob({.name = "x", .limits = {.maxAngle = 70000}}); },
         Refusal::BadLimit, ""},
        {"rename onto another job", [&] { return store.EditJob(kJob, {.name = "other"}); },
         Refusal::DuplicateName, "other"},
        {"closure twice", [&] { return store.AddClosure(job, {.name = "C-17 东"}); },
         Refusal::DuplicateName, "C-17 东"},
        {"latitude 91",
         [&] {
             return store.AddClosure(job, {.name = "C-18", .point = GeoPoint{91, 0}});
         },
         Refusal::BadPoint, ""},
        {"cable of 870 fibres",
         [&] { return store.AddCable(closure, {.name = "F", .fibres = 870}); },
         Refusal::BadFibreCount, "870"},
        {"no fibre a tube", [&] { return store.AddCable(closure, {.name = "F", .perTube = 0}); },
         Refusal::BadPerTube, "0"},
        {"tray of no place", [&] { return store.AddTray(closure, {.number = 3, .capacity = 0}); },
         Refusal::BadCapacity, "0"},
        {"past the tray's capacity", [&] { return store.Place(Request(tray1, 12, 20, Ids(5, 7))); },
         Refusal::PositionOverCapacity, "13"},
        {"past the cable's fibres", [&] { return store.Place(Request(tray2, 1, 48, Ids(5, 7))); },
         Refusal::FibreOverCount, "F-112:49"},
        {"fibre on another position", [&] { return store.Place(Request(tray2, 1, 3, Ids(3, 4))); },
         Refusal::FibreInUse, "F-112:3"},
        {"position joined otherwise", [&] { return store.Place(Request(tray1, 1, 7, Ids(3, 4))); },
         Refusal::PositionJoinsOther, "1"},
        {"record of another job", [&] { return store.Place(Request(tray2, 1, 9, {ofOther})); },
         Refusal::RecordOfOtherJob, std::to_string(ofOther)},
        {"record placed already", [&] { return store.Place(Request(tray2, 1, 9, Ids(2, 3))); },
         Refusal::RecordPlaced, std::to_string(ids[2])},
        {"a test splice", [&] { return store.Place(Request(tray2, 1, 9, {ids[29]})); },
         Refusal::RecordIsTestSplice, std::to_string(ids[29])},
        {"more than the unplaced", [&] { return store.PlaceLatest(Request(tray2, 1, 9, {}), 27); },
         Refusal::NotEnoughUnplaced, "24"},
        {"closure with splices", [&] { return store.DeleteClosure(closure); },
         Refusal::ClosureNotEmpty, "C-17 东"},
        {"tray with splices", [&] { return store.DeleteTray(tray1); }, Refusal::TrayNotEmpty, "1"},
        {"cable in use", [&] { return store.DeleteCable(cableA); }, Refusal::CableInUse, "F-112"},
        {"tray smaller than its positions",
         [&] { return store.EditTray(tray1, {.number = 1, .capacity = 2}); },
         Refusal::CapacityBelowPositions, "9"},
        {"move to another job's position", [&] { return store.Move(ofOther, position1); },
         Refusal::RecordOfOtherJob, std::to_string(ofOther)},
        {"one record twice in a placing",
         [&] {
             return store.Place(Request(tray2, 1, 9, {ids[5], ids[5]}));
         },
         Refusal::RecordPlaced, std::to_string(ids[5])},
        {"an older record as the re-splice of a newer failure",
         [&] { return store.Place(Request(tray1, 5, 5, {ids[3]})); }, Refusal::OlderThanFailure,
         std::to_string(ids[3])},
        {"an older record moved under a newer one over a limit",
         [&] { return store.Move(ids[7], position9); }, Refusal::OlderThanFailure,
         std::to_string(ids[7])},
        {"a plan naming a position twice",
         [&] {
             return plan({{"C-17 东", 2, 1, "F-112", 30, "F-113", 30},
                          {"C-17 东", 2, 1, "F-112", 31, "F-113", 31}});
         },
         Refusal::PositionPlannedTwice, "2/1"},
        {"a plan with a cable the closure lacks",
         [&] {
             return plan({{"C-17 东", 2, 1, "F-112", 30, "F-113", 30},
                          {"C-17 东", 2, 2, "F-9", 1, "F-113", 31}});
         },
         Refusal::NoSuchCable, "F-9"},
        {"a plan joining a fibre placed elsewhere",
         [&] {
             return plan({{"C-17 东", 2, 1, "F-112", 2, "F-113", 30}});
         },
         Refusal::FibreInUse, "F-112:2"},
    };
    const std::string before = State();
    for (const auto& c : cases) {
        const JobResult result = c.change();
        EXPECT_EQ(result.refusal, c.refusal) << c.name;
        EXPECT_EQ(result.detail, c.detail) << c.name;
        EXPECT_TRUE(result.error.ok()) << c.name << ": " << result.error.message;
        EXPECT_NE(RefusalText(result).find(c.detail), std::string::npos) << RefusalText(result);
        EXPECT_EQ(State(), before) << c.name;
    }
}

// The splice that counts on a position is the latest spliced, whatever order the
// records were stored and placed in: here the earlier splice has the higher id.
TEST_F(JobStoreTest, TheLatestSpliceCountsNotTheLatestStored) {
    // Downloaded later, from another splicer whose clock ran behind.
    for (const int minute : {50, 45})
        ASSERT_TRUE(
            archive->StoreDownload({"C300", "SC300"}, std::vector{test::RecordAt(minute)}, kJob)
                .ok());
    const std::vector<std::int64_t> all = IdsOf(kJob);  // by splice time
    const std::int64_t earlier = all[30], latest = all[31];
    ASSERT_GT(earlier, latest);
    ASSERT_TRUE(store.Place(Request(tray1, 1, 1, {latest})).ok());
    ASSERT_TRUE(store.Place(Request(tray1, 1, 1, {earlier})).ok());
    const SpliceMatrix m = Matrix();
    const MatrixRow& row = m.closures[0].rows[0];
    EXPECT_EQ(row.splice->recordId, latest);
    ASSERT_EQ(row.resplices.size(), 1u);
    EXPECT_EQ(row.resplices[0].recordId, earlier);
    EXPECT_EQ(store.Positions(tray1)->front().records, (std::vector{earlier, latest}));
}

// The matrix exported, as XLSX and as a Chinese run's CSV (GBK), is the plan of a
// new job with the same closure, cables and trays: the same positions, none spliced.
TEST_F(JobStoreTest, AnExportedMatrixIsThePlanOfANewJob) {
    ASSERT_TRUE(store.Place(Request(tray1, 1, 1, Ids(0, 12))).ok());
    ASSERT_TRUE(store.PlanPosition(tray2, 3, {cableA, 40}, {cableB, 41}).ok());
    const MatrixCaptions words = LoadMatrixCaptions();
    ASSERT_TRUE(WriteMatrixXlsx(dir.path() / "m.xlsx", Matrix(), words).ok);
    ASSERT_TRUE(WriteMatrixCsv(dir.path() / "m.csv", Matrix(), words, TableLanguage::Chinese).ok);
    using Joint = std::tuple<int, int, std::string, int, std::string, int>;
    auto joints = [&](const std::string& job) {
        std::vector<Joint> out;
        const std::optional<SpliceMatrix> m = ReadMatrix(*archive, job, {});
        for (const MatrixRow& r : m->closures.at(0).rows)
            out.emplace_back(r.tray, r.position, r.a.cable, r.a.fibre, r.b.cable, r.b.fibre);
        return out;
    };
    auto newJob = [&](const std::string& name) {
        const std::int64_t c =
            store.AddClosure(store.CreateJob({.name = name}).id, {.name = "C-17 东"}).id;
        store.AddCable(c, {.name = "F-112", .fibres = 48});
        store.AddCable(c, {.name = "F-113", .fibres = 48});
        for (int tray : {1, 2}) store.AddTray(c, {.number = tray});
    };
    for (const char* file : {"m.xlsx", "m.csv"}) {
        newJob(file);
        const PlanImport imported = ImportPlanFile(*archive, file, dir.path() / file);
        ASSERT_TRUE(imported.ok) << imported.message;
        EXPECT_EQ(imported.planned, 13u);
        EXPECT_EQ(joints(file), joints(kJob)) << file;
        EXPECT_EQ(JudgeJob(*ReadMatrix(*archive, file, {})),
                  (JobVerdict{JobState::NotStarted, 0, 13}));
    }
    // A plan refused names its row, and plans nothing of it.
    newJob("Route 9");
    dir.Write("bad.csv",
              "Closure,Tray,Position,Cable A,Fibre A,Cable B,Fibre B\r\n"
              "C-17 东,2,1,F-112,30,F-113,30\r\nC-17 东,2,2,F-112,49,F-113,31\r\n");
    const PlanImport refused = ImportPlanFile(*archive, "Route 9", dir.path() / "bad.csv");
    EXPECT_EQ(refused.message, "Row 3: Fibre F-112:49 is beyond the cable's fibre count");
    EXPECT_TRUE(ReadMatrix(*archive, "Route 9", {})->closures.at(0).rows.empty());
}

}  // namespace
}  // namespace velmora::jobs
