// A job's verdict, the one every output gives: judged against its planned positions,
// or by its splices when it has no closure.
#include "jobs/job_verdict.h"

#include <gtest/gtest.h>

#include "jobs/matrix_texts.h"
#include "support/matrix_fixture.h"

namespace velmora::jobs {
namespace {

using S = JobState;

// A position: planned only, or with a splice that passed, failed on the splicer or
// is over the loss limit (0.25 dB against 0.10).
enum class P { Planned, Pass, Failed, Over, Redone };

MatrixRow Position(P kind, int n) {
    MatrixRow row = test::MatrixRowOf(1, n, n);
    if (kind == P::Planned) return row;
    const bool failed = kind == P::Failed;
    row.splice = test::MatrixSpliceOf(n, kind == P::Over ? 25 : 3, failed ? 1 : 0, n);
    if (kind == P::Redone) row.resplices = {test::MatrixSpliceOf(100 + n, 30, 1, 0)};
    return row;
}

TEST(JobVerdict, JudgedByThePlanEverywhere) {
    const MatrixSplice pass = test::MatrixSpliceOf(1, 3, 0, 1);
    const MatrixSplice failed = test::MatrixSpliceOf(2, 3, 1, 2);
    const struct {
        const char* name;
        std::optional<std::vector<P>> closure;  // none: the job has no closure
        std::vector<MatrixSplice> unplaced;
        std::vector<MatrixSplice> tests;
        JobVerdict verdict;
        std::string text;
    } cases[] = {
        {"nothing at all",
         {},
         {},
         {},
         {S::NotStarted, 0, 0},
         "The job has not started: no position is spliced"},
        {"no plan, only test splices",
         {},
         {},
         {pass},
         {S::NotStarted, 0, 0},
         "The job has not started: no position is spliced"},
        {"no plan, every splice passes", {}, {pass, pass}, {}, {S::Passed, 0, 0}, "The job passed"},
        {"no plan, a splice failed",
         {},
         {pass, failed},
         {},
         {S::Failed, 0, 0},
         "The job did not pass"},
        {"a closure, nothing planned",
         std::vector<P>{},
         {pass},
         {},
         {S::NotStarted, 0, 0},
         "The job has not started: no position is spliced"},
        {"planned, nothing spliced",
         std::vector{P::Planned, P::Planned},
         {pass},
         {},
         {S::NotStarted, 0, 2},
         "The job has not started: no position is spliced"},
        {"in progress",
         std::vector{P::Pass, P::Planned, P::Redone},
         {failed},
         {},
         {S::InProgress, 2, 3},
         "The job is in progress: 2 of 3 positions spliced"},
        {"failed before it is done",
         std::vector{P::Failed, P::Planned},
         {},
         {},
         {S::Failed, 1, 2},
         "The job did not pass"},
        {"over a limit",
         std::vector{P::Pass, P::Over},
         {},
         {},
         {S::Failed, 2, 2},
         "The job did not pass"},
        {"every planned position spliced, a failure redone",
         std::vector{P::Pass, P::Redone},
         {failed},
         {failed},
         {S::Passed, 2, 2},
         "The job passed"},
    };
    const MatrixCaptions words = LoadMatrixCaptions();
    for (const auto& c : cases) {
        SpliceMatrix m;
        if (c.closure) {
            std::vector<MatrixRow> rows;
            for (std::size_t i = 0; i < c.closure->size(); ++i)
                rows.push_back(Position((*c.closure)[i], static_cast<int>(i + 1)));
            m.closures.push_back(test::MatrixClosureOf("C-1", std::nullopt, std::move(rows)));
        }
        m.unplaced = c.unplaced;
        m.testSplices = c.tests;
        test::AddTotals(m);
        const JobVerdict verdict = JudgeJob(m);
        EXPECT_EQ(verdict, c.verdict) << c.name;
        EXPECT_EQ(words.Verdict(verdict), c.text) << c.name;
    }
}

}  // namespace
}  // namespace velmora::jobs
