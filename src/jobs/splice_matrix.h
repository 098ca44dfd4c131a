#pragma once
// A job's splice matrix: every position of every tray of every closure with the
// splice that counts on it, its re-splices, and its judgement against the job's
// limits; the job's records left unplaced and its test splices. Read once from the
// archive and shared by every deliverable (spreadsheet, CSV, GeoJSON, report), the
// command-line tool and the Job tab. No wording in the run's language here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "history/splice_acceptance.h"
#include "history/splice_record.h"
#include "jobs/fibre_colours.h"
#include "jobs/job_store.h"

namespace velmora::jobs {

struct MatrixSplice {
    std::int64_t recordId = 0;
    std::string splicer;      // its serial number, or its folder's name when that is unknown
    std::int64_t number = 0;  // its place among its splicer's records in the archive (1 the oldest)
    SpliceRecord record;
    Mark mark = Mark::Pass;  // against the job's limits
};

struct MatrixEnd {
    std::string cable;  // its name
    int fibre = 0;
    FibrePlace place;  // tube and colours
};

struct MatrixRow {
    int tray = 0;  // TrayDetails::number
    int position = 0;
    MatrixEnd a;
    MatrixEnd b;
    std::optional<MatrixSplice> splice{};   // the one that counts; none: planned, not yet spliced
    std::vector<MatrixSplice> resplices{};  // the attempts it replaced, oldest first
};

// Positions of a closure (or of a whole job) by what their counting splice is.
struct MatrixCounts {
    std::size_t positions = 0;  // planned, spliced or not
    std::size_t spliced = 0;    // with a splice that counts
    std::size_t passed = 0;
    std::size_t failed = 0;     // failed on the splicer
    std::size_t overLimit = 0;  // accepted by the splicer, beyond a limit of the job
    std::size_t respliced = 0;  // positions with re-splices
    std::size_t replaced = 0;   // re-spliced attempts, replaced by a later splice
    bool operator==(const MatrixCounts&) const = default;
};

// The counts of `rows`; of tray `tray` only when given.
MatrixCounts CountRows(std::span<const MatrixRow> rows, std::optional<int> tray = std::nullopt);

struct MatrixClosure {
    ClosureInfo closure;
    std::vector<CableInfo> cables;  // by name
    std::vector<TrayInfo> trays;    // by number
    std::vector<MatrixRow> rows;    // by tray, then position
    MatrixCounts counts;
};

struct SpliceMatrix {
    JobInfo job;
    Limits limits;                        // the job's, or the defaults where it sets none
    std::vector<MatrixClosure> closures;  // by name
    std::vector<MatrixSplice>
        unplaced;  // of the job, neither placed nor test splices; oldest first
    std::vector<MatrixSplice> testSplices;
    MatrixCounts totals;
};

// What a reading of the matrix gives: all of it, or all but the splices' numbers and
// splicers (MatrixSplice::number 0, ::splicer empty), which cost a walk over each
// splicer's records and are not needed to count and judge.
enum class MatrixDetail { Full, Counts };

// The matrix of the job `name`; `defaults` are the limits where the job sets none.
// Nothing on failure (the archive's LastError says why; NotFound: no such job).
std::optional<SpliceMatrix> ReadMatrix(archive::Archive& archive, std::string_view name,
                                       const Limits& defaults,
                                       MatrixDetail detail = MatrixDetail::Full);

}  // namespace velmora::jobs
