#pragma once
// The as-built documentation of jobs, kept in the archive file beside the records:
// a job's details and acceptance limits, its closures, the cables and trays of each
// closure, the positions of each tray (fibre i of cable A joined to fibre j of cable
// B), and which splice records were placed on which position.
//
// Every change is checked here, once, for the window and the command-line tool
// alike: a refused change says why (Refusal and the name or number concerned) and
// changes nothing; an accepted one is one transaction. Identity: a job by its name,
// a closure by its name within its job, a cable by its name within its closure, a
// tray by its number within its closure, a position by its number within its tray.
// Names are told apart without regard to case (SameName): "route 7" is refused
// where "Route 7" is.
//
// Placing: a record sits on at most one position, and only on a position of its own
// job (a record of no job is named to the job it is placed in). A position may hold several
// records: the one of the latest splice time is the one that counts, the earlier ones are the
// attempts it replaced. A record older than a failed splice on the position is refused there: a
// re-splice comes after the splice it replaces. A record marked as a test splice is neither placed
// nor counted.
//
// Planning: a position may be planned (which fibres it joins) before anything is
// placed on it, one at a time or a whole plan at once.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "history/splice_acceptance.h"

namespace velmora::jobs {

// A job's own acceptance limits; nothing where the job sets none (the limits in
// use for reports then apply). Same units as Limits.
struct JobLimits {
    std::optional<int> maxLoss{};   // hundredths of a dB
    std::optional<int> maxAngle{};  // tenths of a degree
    bool operator==(const JobLimits&) const = default;
};

struct JobDetails {
    std::string name;
    std::string customer{};
    std::string contractor{};
    std::string technicians{};
    std::string notes{};
    JobLimits limits{};
    bool operator==(const JobDetails&) const = default;
};

struct JobInfo {
    std::int64_t id = 0;
    JobDetails details;
    std::size_t records = 0;      // records given the job
    std::size_t placed = 0;       // of them, placed on a position
    std::size_t testSplices = 0;  // of them, marked as test splices
    std::size_t Unplaced() const { return records - placed - testSplices; }
};

// Latitude and longitude in decimal degrees (WGS84), both or neither.
struct GeoPoint {
    double latitude = 0;   // -90 .. 90
    double longitude = 0;  // -180 .. 180
    bool operator==(const GeoPoint&) const = default;
};

struct ClosureDetails {
    std::string name;
    std::string location{};
    std::optional<GeoPoint> point{};
    std::string notes{};
    bool operator==(const ClosureDetails&) const = default;
};
struct ClosureInfo {
    std::int64_t id = 0;
    std::int64_t jobId = 0;
    ClosureDetails details;
};

struct CableDetails {
    std::string name;
    int fibres = 12;   // kMinFibres .. kMaxFibres
    int perTube = 12;  // 1 .. fibres
    bool operator==(const CableDetails&) const = default;
};
struct CableInfo {
    std::int64_t id = 0;
    std::int64_t closureId = 0;
    CableDetails details;
};

struct TrayDetails {
    int number = 1;     // 1 ..
    int capacity = 12;  // positions 1 .. capacity; 1 .. 1000
    bool operator==(const TrayDetails&) const = default;
};
struct TrayInfo {
    std::int64_t id = 0;
    std::int64_t closureId = 0;
    TrayDetails details;
};

// One end of a position: fibre `fibre` (1-based) of the cable `cable` (CableInfo::id).
struct FibreEnd {
    std::int64_t cable = 0;
    int fibre = 0;
    bool operator==(const FibreEnd&) const = default;
};

struct PositionInfo {
    std::int64_t id = 0;
    std::int64_t trayId = 0;
    int number = 0;
    FibreEnd a;
    FibreEnd b;
    // The records placed on it (archive record ids), oldest splice first: the last
    // one counts, the others are its re-splices.
    std::vector<std::int64_t> records{};
};

// Why a change was refused. Each front end words it (jobs_texts.h).
enum class Refusal {
    None,
    EmptyName,               // detail: which kind of name
    DuplicateName,           // detail: the name taken
    NoSuchJob,               // detail: the name
    NoSuchClosure,           // detail: the name
    NoSuchCable,             // detail: the name
    NoSuchTray,              // detail: the number
    NoSuchPosition,          // detail: the number
    NoSuchRecord,            // detail: the id
    BadLimit,                // a limit below 0 or above kLimitCap
    BadPoint,                // latitude or longitude out of range, or only one of them
    BadFibreCount,           // detail: the count given
    BadPerTube,              // detail: the count given
    BadCapacity,             // detail: the capacity given
    PositionOverCapacity,    // detail: the position number; the tray's capacity is smaller
    FibreOverCount,          // detail: "CABLE:FIBRE"; the cable has fewer fibres
    FibreInUse,              // detail: "CABLE:FIBRE"; on another position of the closure
    FibreToItself,           // detail: "CABLE:FIBRE"; both ends of a position
    PositionJoinsOther,      // detail: the position; it joins other fibres and holds records
    RecordOfOtherJob,        // detail: the record id
    RecordPlaced,            // detail: the record id; it sits on a position already
    RecordIsTestSplice,      // detail: the record id
    NotEnoughUnplaced,       // detail: how many unplaced records the job has
    ClosureNotEmpty,         // detail: the closure; records are placed in it
    CableInUse,              // detail: the cable; positions join its fibres
    TrayNotEmpty,            // detail: the tray; records are placed on it
    CapacityBelowPositions,  // detail: the highest position in use
    NothingToUndo,
    BadNumber,             // detail: a tray, position or "CABLE:FIBRE" below 1
    OlderThanFailure,      // detail: the record id; a newer splice failed on the position
    PositionPlannedTwice,  // detail: "TRAY/POSITION"; a plan names it twice
};

struct JobResult {
    Refusal refusal = Refusal::None;
    std::string detail{};           // the name or number the refusal is about
    archive::ArchiveError error{};  // the archive failed (refusal then None)
    std::size_t count = 0;          // records placed, unplaced, moved, marked
    std::int64_t id = 0;            // the job, closure, cable, tray or position made
    bool ok() const { return refusal == Refusal::None && error.ok(); }
};

// Records placed in one step: records[k] goes to position firstPosition + k of the
// tray, joining fibre a.fibre + k of cable a.cable to fibre b.fibre + k of cable
// b.cable. A position that holds records keeps them (the new one is a re-splice) and
// must join the same fibres; an empty or new position takes the fibres given.
struct PlacingRequest {
    std::int64_t trayId = 0;
    int firstPosition = 1;
    FibreEnd a;
    FibreEnd b;
    std::vector<std::int64_t> records;
    // The limits where the job sets none: whether a splice already on a position
    // failed (and may be re-spliced only by a newer record) is judged against them.
    Limits limits{};
};

// One record onto one position of a tray, joining fibre a to fibre b: placings need
// not be side by side (a plan's positions join the fibres it names).
struct PlacingStep {
    std::int64_t record = 0;
    int position = 0;
    FibreEnd a;
    FibreEnd b;
    bool operator==(const PlacingStep&) const = default;
};

// One position of a plan, named as a plan file names it: the closure by its name,
// the tray and position by their numbers, each end by its cable's name and fibre.
struct PlannedPosition {
    std::string closure;
    int tray = 0;
    int position = 0;
    std::string cableA;
    int fibreA = 0;
    std::string cableB;
    int fibreB = 0;
};

struct PlanResult {
    JobResult result;     // its count: the positions of the plan
    std::size_t row = 0;  // when refused: which of the plan's positions (0 the first)
};

// Whether two names of one kind within one parent name the same thing: equal when
// case is folded over all of Unicode ("Route 7", "ROUTE 7"; "Узел", "узел").
bool SameName(std::string_view a, std::string_view b);

// Why the job store refuses these details in any change that sets them (the checks
// that need no other row); nothing when it takes them. Values read from a team
// archive go through the same checks.
std::optional<JobResult> DetailsProblem(const JobDetails& details);
std::optional<JobResult> DetailsProblem(const ClosureDetails& details);
std::optional<JobResult> DetailsProblem(const CableDetails& details);
std::optional<JobResult> DetailsProblem(const TrayDetails& details);

// Works on the archive's connection, on the archive's thread.
class JobStore {
  public:
    explicit JobStore(archive::Archive& archive);

    // Jobs, by name: every job the archive knows, those without records too.
    std::optional<std::vector<JobInfo>> Jobs();
    // Nothing, with LastError NotFound, when there is no such job.
    std::optional<JobInfo> Job(std::string_view name);
    JobResult CreateJob(const JobDetails& details);
    // Changes the job `name` to `details`; a new name is given to its records too.
    JobResult EditJob(std::string_view name, const JobDetails& details);

    std::optional<std::vector<ClosureInfo>> Closures(std::int64_t jobId);  // by name
    JobResult AddClosure(std::int64_t jobId, const ClosureDetails& details);
    JobResult EditClosure(std::int64_t closureId, const ClosureDetails& details);
    // Refused while records are placed in it; takes its cables, trays and positions.
    JobResult DeleteClosure(std::int64_t closureId);

    std::optional<std::vector<CableInfo>> Cables(std::int64_t closureId);  // by name
    JobResult AddCable(std::int64_t closureId, const CableDetails& details);
    // Refused when positions use fibres beyond a smaller count.
    JobResult EditCable(std::int64_t cableId, const CableDetails& details);
    JobResult DeleteCable(std::int64_t cableId);  // refused while positions use it

    std::optional<std::vector<TrayInfo>> Trays(std::int64_t closureId);  // by number
    JobResult AddTray(std::int64_t closureId, const TrayDetails& details);
    JobResult EditTray(std::int64_t trayId, const TrayDetails& details);
    JobResult DeleteTray(std::int64_t trayId);  // refused while records are placed on it

    std::optional<std::vector<PositionInfo>> Positions(std::int64_t trayId);  // by number
    // Plans (or re-plans) a position without placing anything.
    JobResult PlanPosition(std::int64_t trayId, int number, FibreEnd a, FibreEnd b);
    // Plans every position of `plan` in the job's closures, trays and cables (which
    // must exist), each checked as PlanPosition checks it; all or nothing. A position
    // named twice is refused.
    PlanResult PlanPositions(std::int64_t jobId, std::span<const PlannedPosition> plan);

    // The job's `count` latest records that are neither placed nor test splices,
    // oldest first; fewer when it has fewer.
    std::optional<std::vector<std::int64_t>> LatestUnplaced(std::int64_t jobId, std::size_t count);
    // All or nothing, in one transaction; kept so that UndoLastPlacing can take it back.
    // A record of no job is given the tray's job.
    JobResult Place(const PlacingRequest& request);
    // Place, one step at a time; `limits` as PlacingRequest::limits.
    JobResult Place(std::int64_t trayId, std::span<const PlacingStep> steps, const Limits& limits);
    // Place with the job's `count` latest unplaced records (as LatestUnplaced gives
    // them, read in the same transaction) instead of request.records; refused
    // (NotEnoughUnplaced) when the job has fewer.
    JobResult PlaceLatest(const PlacingRequest& request, std::size_t count);
    // Takes the records of the last Place back off their positions (and the positions
    // it made, when empty again), once.
    JobResult UndoLastPlacing();
    // Moves a placed or unplaced record of the job onto an existing position;
    // `limits` as PlacingRequest::limits.
    JobResult Move(std::int64_t recordId, std::int64_t positionId, const Limits& limits = {});
    // Takes every record off the position; the position stays planned.
    JobResult Unplace(std::int64_t positionId);
    JobResult UnplaceRecord(std::int64_t recordId);
    // A test splice is taken off its position, if any, and no longer counted.
    JobResult MarkTestSplice(std::int64_t recordId, bool test);

    const archive::ArchiveError& LastError() const;

  private:
    // Runs `work` with the archive's LastError cleared; a failure of SQLite inside it
    // (thrown as an internal exception) becomes the archive's error, naming `what`.
    template <class Work>
    auto Guard(const char* what, bool writes, Work work) -> decltype(work());
    JobResult PlaceRecords(std::int64_t trayId, std::span<const PlacingStep> steps,
                           const Limits& limits);

    archive::Archive& archive_;
};

}  // namespace velmora::jobs
