#include "jobs/job_verdict.h"

#include <algorithm>

namespace velmora::jobs {

JobVerdict JudgeJob(const SpliceMatrix& matrix) {
    const MatrixCounts& n = matrix.totals;
    JobVerdict verdict{JobState::NotStarted, n.spliced, n.positions};
    if (matrix.closures.empty()) {
        const bool anyFailed =
            std::any_of(matrix.unplaced.begin(), matrix.unplaced.end(),
                        [](const MatrixSplice& s) { return s.mark != Mark::Pass; });
        if (anyFailed) {
            verdict.state = JobState::Failed;
        } else if (!matrix.unplaced.empty()) {
            verdict.state = JobState::Passed;
        }
        return verdict;
    }
    if (n.failed + n.overLimit > 0) {
        verdict.state = JobState::Failed;
    } else if (n.spliced == 0) {
        verdict.state = JobState::NotStarted;
    } else if (n.spliced < n.positions) {
        verdict.state = JobState::InProgress;
    } else {
        verdict.state = JobState::Passed;
    }
    return verdict;
}

std::optional<std::vector<JobStanding>> ReadJobStandings(archive::Archive& archive,
                                                         const Limits& defaults) {
    std::optional<std::vector<JobInfo>> jobs = JobStore(archive).Jobs();
    if (!jobs) return std::nullopt;
    std::vector<JobStanding> standings;
    standings.reserve(jobs->size());
    for (JobInfo& job : *jobs) {
        const std::optional<SpliceMatrix> matrix =
            ReadMatrix(archive, job.details.name, defaults, MatrixDetail::Counts);
        if (!matrix) return std::nullopt;
        standings.push_back({std::move(job), matrix->totals, JudgeJob(*matrix)});
    }
    return standings;
}

}  // namespace velmora::jobs
