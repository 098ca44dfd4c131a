#pragma once
// A job's verdict, the one line its owner reads, decided here once for every output
// (the Job tab, job list, matrix, the spreadsheet's summary, the job's report, the
// team view): judged against its plan, the positions of its closures.
//
//   not started   no position is spliced
//   in progress   some planned positions are not spliced yet, none failed
//   failed        a splice that counts failed on the splicer or is beyond a limit,
//                 whatever else remains
//   passed        every planned position is spliced and within the limits
//
// A job without closures has no plan: it is judged by its splices (the test
// splices apart), and passes only with at least one, all of them passing.
#include <cstddef>
#include <optional>
#include <vector>

#include "archive/archive.h"
#include "history/splice_acceptance.h"
#include "jobs/job_store.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

enum class JobState { NotStarted, InProgress, Failed, Passed };

struct JobVerdict {
    JobState state = JobState::NotStarted;
    std::size_t spliced = 0;  // positions with a splice that counts
    std::size_t planned = 0;  // positions planned, spliced or not
    bool operator==(const JobVerdict&) const = default;
};

JobVerdict JudgeJob(const SpliceMatrix& matrix);

// A job with its counts and verdict, as a list of jobs shows it.
struct JobStanding {
    JobInfo job;
    MatrixCounts counts;  // of its positions
    JobVerdict verdict;
};

// Every job of the archive, by name, judged as its matrix judges it; `defaults` are
// the limits where a job sets none. Nothing on failure (the archive's LastError says
// why).
std::optional<std::vector<JobStanding>> ReadJobStandings(archive::Archive& archive,
                                                         const Limits& defaults);

}  // namespace velmora::jobs
