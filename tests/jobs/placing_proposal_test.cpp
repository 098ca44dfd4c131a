// What placing proposes: where a tray's work goes on, the plan's fibres, what a
// re-splice replaces; and the records it takes, read from a real archive file in
// splice order, those of no job named to the job when placed.
#include "jobs/placing_proposal.h"

#include <gtest/gtest.h>

#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

// Tray 1 of capacity 6 between cables 1 ("F-112") and 2 ("F-7"); a position spliced
// (passed or failed) or planned joining fibre `fibre` of both.
enum class P { Passed, Failed, Planned };
struct Pos {
    int position;
    P kind;
    int fibre;
};

MatrixClosure ClosureOf(const std::vector<Pos>& positions) {
    MatrixClosure closure;
    closure.cables = {{1, 0, {"F-112", 24, 12}}, {2, 0, {"F-7", 24, 12}}};
    closure.trays = {{10, 0, {1, 6}}};
    for (const Pos& p : positions) {
        MatrixRow row = test::MatrixRowOf(1, p.position, p.fibre);
        if (p.kind != P::Planned)
            row.splice = test::MatrixSpliceOf(100 + p.position, 3, p.kind == P::Failed, 1);
        closure.rows.push_back(row);
    }
    return closure;
}

TEST(PlacingProposal, GoesOnWhereTheTrayLeftOffWithThePlansFibres) {
    // Each placing as "position:fibreA-fibreB", "p" when planned, "r<No.>" when it
    // replaces the splice that counts there.
    const struct {
        const char* name;
        std::vector<Pos> tray;
        std::optional<int> startAt;  // the position typed instead of the proposed one
        std::size_t records;
        PlacingStart resume;
        std::vector<std::string> proposal;
    } cases[] = {
        {"an empty tray", {}, {}, 3, {1, {1, 1}, {2, 1}}, {"1:1-1", "2:2-2", "3:3-3"}},
        {"after the last splice, to the tray's end",
         {{1, P::Passed, 1}, {2, P::Passed, 2}, {3, P::Failed, 3}},
         {},
         5,
         {4, {1, 4}, {2, 4}},
         {"4:4-4", "5:5-5", "6:6-6"}},
        {"a gap left before the last splice is passed over",
         {{1, P::Passed, 1}, {3, P::Passed, 3}},
         {},
         1,
         {4, {1, 4}, {2, 4}},
         {"4:4-4"}},
        {"planned positions join the plan's fibres",
         {{1, P::Passed, 1}, {2, P::Planned, 9}, {4, P::Planned, 7}},
         {},
         4,
         {2, {1, 10}, {2, 10}},
         {"2:9-9p", "3:10-10", "4:7-7p", "5:11-11"}},
        {"a re-splice, then the next positions without a splice",
         {{1, P::Passed, 1}, {2, P::Failed, 2}, {3, P::Passed, 3}},
         2,
         2,
         {4, {1, 4}, {2, 4}},
         {"2:2-2r102", "4:4-4"}},
    };
    for (const auto& c : cases) {
        const MatrixClosure closure = ClosureOf(c.tray);
        EXPECT_EQ(ResumeAt(closure, 1), c.resume) << c.name;
        PlacingStart start = c.resume;
        if (c.startAt) start.position = *c.startAt;
        std::vector<std::int64_t> records;
        for (std::size_t i = 0; i < c.records; ++i) records.push_back(static_cast<int>(i) + 1);
        std::vector<std::string> proposal;
        for (const ProposedPlacing& p : ProposePlacing(closure, closure.trays[0], start, records))
            proposal.push_back(std::to_string(p.position) + ":" + std::to_string(p.a.fibre) + "-" +
                               std::to_string(p.b.fibre) + (p.planned ? "p" : "") +
                               (p.replaces ? "r" + std::to_string(p.replaces->number) : ""));
        EXPECT_EQ(proposal, c.proposal) << c.name;
    }
}

// A full tray sends placing on to the next tray with room: in its closure, then in the
// job's next closures, then from the job's first; none when the job is full.
TEST(PlacingProposal, MovesOnFromAFullTrayToTheNextWithRoom) {
    // Each closure's trays as their fills: 'f' full (6 of 6 spliced), 'p' full but for
    // a planned position, 'e' empty. The tray with room as "closure.tray" (1-based).
    const struct {
        std::vector<std::string> closures;
        int asked;  // the tray asked, counting over the job
        std::string found;
    } cases[] = {
        {{"e"}, 1, "1.1"},        {{"fe"}, 1, "1.2"},      {{"fp"}, 1, "1.2"},
        {{"ff", "fe"}, 1, "2.2"}, {{"ef", "f"}, 2, "1.1"}, {{"ef", "e"}, 2, "2.1"},
        {{"ff", "f"}, 3, "none"},
    };
    for (const auto& c : cases) {
        SpliceMatrix matrix;
        std::int64_t id = 0;
        for (const std::string& fills : c.closures) {
            MatrixClosure& closure = matrix.closures.emplace_back(ClosureOf({}));
            closure.trays.clear();
            for (std::size_t t = 0; t < fills.size(); ++t) {
                const int number = static_cast<int>(t) + 1;
                closure.trays.push_back({++id, 0, {number, 6}});
                for (int p = 1; p <= 6 && fills[t] != 'e'; ++p) {
                    MatrixRow row = test::MatrixRowOf(number, p, p);
                    if (fills[t] == 'f' || p < 6) row.splice = test::MatrixSpliceOf(p, 3, 0, 1);
                    closure.rows.push_back(row);
                }
            }
        }
        const auto at = TrayWithRoom(matrix, c.asked);
        std::string found = "none";
        for (std::size_t i = 0; at && i < matrix.closures.size(); ++i)
            if (&matrix.closures[i] == at->closure)
                found = std::to_string(i + 1) + "." + std::to_string(at->tray->details.number);
        EXPECT_EQ(found, c.found) << c.closures.front() << " asked " << c.asked;
    }
}

// Records of the job, of no job and of another job, stored out of splice order.
TEST(PlacingProposal, TakesTheRecordsAfterTheLastPlacedInSpliceOrderAndNamesThem) {
    test::TempDir dir;
    auto archive = archive::Archive::Open(dir.path() / "archive.db").archive;
    ASSERT_TRUE(archive);
    const auto store = [&](std::vector<int> minutes, std::string_view job) {
        std::vector<SpliceRecord> records;
        for (const int m : minutes) records.push_back(test::RecordAt(m));
        ASSERT_TRUE(archive->StoreDownload({"A100", "SA100"}, records, job).ok());
    };
    constexpr int kNextDay = 24 * 60;
    store({3, 1, 2}, "Ring");
    store({kNextDay + 6, 5, kNextDay + 4, kNextDay + 7}, "");
    store({0}, "Other");
    JobStore jobs(*archive);
    ASSERT_TRUE(jobs.CreateJob({.name = "Empty"}).ok());
    const std::int64_t job = jobs.Job("Ring")->id;
    const std::int64_t closure = jobs.AddClosure(job, {.name = "C-1"}).id;
    const std::int64_t a = jobs.AddCable(closure, {.name = "A"}).id;
    const std::int64_t b = jobs.AddCable(closure, {.name = "B"}).id;
    const std::int64_t tray = jobs.AddTray(closure, {}).id;
    // Each record as its minute, "n" when it has no job.
    const auto minutes = [&](std::int64_t of, auto read) {
        std::string text;
        const auto candidates = read(*archive, of, Limits{}, std::size_t{9});
        for (const PlacingCandidate& c : candidates.value())
            text += std::to_string(c.splice.record.bytes[4]) + (c.noJob ? "n " : " ");
        return text;
    };
    // A job without records: the latest day's records of no job, not the day before's.
    EXPECT_EQ(minutes(jobs.Job("Empty")->id, ReadPlacingCandidates), "4n 6n 7n ");
    // Nothing placed: from the job's first record; the test splice is left out.
    const auto first = ReadPlacingCandidates(*archive, job, {}, 2).value();
    ASSERT_TRUE(jobs.MarkTestSplice(first[1].splice.recordId, true).ok());
    EXPECT_EQ(minutes(job, ReadPlacingCandidates), "1 3 5n 4n 6n 7n ");
    // The Jobs tab's list of records of no job: the same, less the job's own.
    EXPECT_EQ(minutes(job, ReadRecordsOfNoJob), "5n 4n 6n 7n ");
    // After the last placed, those of no job named to the job once placed.
    const auto next = ReadPlacingCandidates(*archive, job, {}, 3).value();
    const std::vector<PlacingStep> steps{{next[0].splice.recordId, 1, {a, 1}, {b, 1}},
                                         {next[2].splice.recordId, 2, {a, 2}, {b, 2}}};
    ASSERT_EQ(jobs.Place(tray, steps, {}).count, 2u);
    EXPECT_EQ(minutes(job, ReadPlacingCandidates), "4n 6n 7n ");
    EXPECT_EQ(archive->Records({.job = "Ring"})->size(), 4u);
    // The Archive tab's choice, listed in any order, in splice order.
    const std::vector ids{next[2].splice.recordId, next[0].splice.recordId};
    const auto chosen = ReadRecordsToPlace(*archive, ids, {});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->size(), 2u);
    EXPECT_EQ(chosen->front().splice.recordId, next[0].splice.recordId);
}

}  // namespace
}  // namespace velmora::jobs
