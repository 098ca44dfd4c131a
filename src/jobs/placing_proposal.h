#pragma once
// What placing splices on a tray proposes, decided once for the window, the
// command-line tool and the tests: where the work goes on, which fibres each position
// joins, which records go there and what each replaces.
//
// The records: the job's unplaced ones and those of no job (placing names them to
// the job), in splice order after the last record placed in the job. Someone who
// downloads once a day and places tray by tray then fills the trays in the order
// they were spliced.
//
// The positions: the first goes where it is asked (a re-splice when it holds a
// splice already); each next one is the tray's next position without a splice that
// counts. A planned position joins the fibres of the plan and one that holds a splice
// keeps its fibres; each new position joins the next of the start's fibres.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "archive/archive.h"
#include "jobs/job_store.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// A record that placing may take.
struct PlacingCandidate {
    MatrixSplice splice;  // its number and splicer unset
    bool noJob = false;   // placing names it to the job
};

// Up to `limit` records for placing in the job `jobId`, in splice order: its unplaced
// ones and those of no job (neither placed nor test splices), after the last record
// placed in the job; from the job's first record when none is placed yet; from the
// first of the day of the latest record of no job when the job has none (the day's
// download); the latest `limit` when no record has a time. `limits` judge them. Nothing on failure
// (the archive's LastError says why).
std::optional<std::vector<PlacingCandidate>> ReadPlacingCandidates(archive::Archive& archive,
                                                                   std::int64_t jobId,
                                                                   const Limits& limits,
                                                                   std::size_t limit);

// Up to `limit` records of no job (neither placed nor test splices) that placing in
// the job `jobId` would take, in splice order: those after where the job's work
// stands, as ReadPlacingCandidates. Cost follows `limit`, not the archive's size: the
// records of no job are read by the index of job and splice order.
std::optional<std::vector<PlacingCandidate>> ReadRecordsOfNoJob(archive::Archive& archive,
                                                                std::int64_t jobId,
                                                                const Limits& limits,
                                                                std::size_t limit);

// The records `ids` that the archive has, in splice order (as the Archive tab's
// choice, listed in any order, is placed).
std::optional<std::vector<PlacingCandidate>> ReadRecordsToPlace(archive::Archive& archive,
                                                                std::span<const std::int64_t> ids,
                                                                const Limits& limits);

// Where the first record goes, and the fibres a position not planned starts from.
struct PlacingStart {
    int position = 1;
    FibreEnd a;
    FibreEnd b;
    bool operator==(const PlacingStart&) const = default;
};

// Where the work on tray `tray` (its number) of `closure` goes on: its first planned
// position not spliced yet, else the position after its last splice; each cable's
// fibre after the last one the closure's positions (planned ones too) join. The cables: those of
// the tray's last position, else the closure's first two (the first twice when it has one).
PlacingStart ResumeAt(const MatrixClosure& closure, int tray);

// Whether placing on tray `tray` of `closure` has somewhere to go: a planned position
// not spliced yet, or a position after its last splice.
bool HasRoom(const MatrixClosure& closure, const TrayInfo& tray);

struct TrayAt {
    const MatrixClosure* closure = nullptr;
    const TrayInfo* tray = nullptr;
};
// Where placing asked on the tray `trayId` goes: that tray while it has room, else the
// next that has in its closure, then in the closures after it, then from the job's
// first; none when every tray of the job is full (or it has none).
std::optional<TrayAt> TrayWithRoom(const SpliceMatrix& matrix, std::int64_t trayId);

struct ProposedPlacing {
    std::int64_t record = 0;
    int position = 0;
    FibreEnd a;
    FibreEnd b;
    bool planned = false;                    // its fibres come from the plan
    std::optional<MatrixSplice> replaces{};  // the splice that counts there now
};

// The records `records` (in the order given) on tray `tray` of `closure` from `start`;
// fewer when the tray's capacity ends first.
std::vector<ProposedPlacing> ProposePlacing(const MatrixClosure& closure, const TrayInfo& tray,
                                            const PlacingStart& start,
                                            std::span<const std::int64_t> records);

// The proposal as the job store places it.
std::vector<PlacingStep> StepsOf(std::span<const ProposedPlacing> proposal);

}  // namespace velmora::jobs
