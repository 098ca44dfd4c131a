#pragma once
// Reading the team archive into a local archive: the whole of it into this PC's
// team view (a read-only copy the window's "Team" view and `--team` read, so the
// same filters, details, images, matrix and report work on it, offline too), or one
// job into this PC's own archive (`team take JOB`) to work on it offline.
//
// Nothing is taken on trust: every value read goes through the rules the same value
// meets when typed or downloaded on this laptop (the job store's checks, the record
// and image identity rules, this archive's own stores). A row that breaks them is
// left out and told, naming the row, its laptop and its sender; the rest is taken.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/job_log.h"
#include "jobs/job_store.h"
#include "team/team_client.h"

namespace velmora::team {

// The team view's data folder: its archive is archive::ArchiveFile(TeamViewFolder(d))
// and its images are under it as under any data folder.
inline std::filesystem::path TeamViewFolder(const std::filesystem::path& dataFolder) {
    return dataFolder / "Team";
}

struct PullOptions {
    std::filesystem::path dataFolder;  // the data folder of `into` (its images go there)
    std::string archiveId;             // the team archive's id (its pull marks in `into`)
    // "" for everything; else only the job of this id (as JobLog::Jobs and TeamJobIds
    // give it): its details, closures, cables, trays, positions, the records it has or
    // had and the jobs they went to, whatever it was called where.
    std::string job;
    // The laptop `into` belongs to (LaptopId), whose own changes come back with the
    // team archive's time for them; "" for a team view.
    std::string laptopId{};
    std::stop_token stop{};  // asked to stop: nothing of the read is kept
};

// What a row of the team archive breaks.
enum class RowProblem {
    Refused,       // the job store refuses its value (LeftOutRow::refusal says why)
    NotANumber,    // detail: the value
    UnknownField,  // no such kind of entity or field
    BadIdentity,   // detail: the entity or parent id that is not one this program makes
    BadRecord,     // not a splice record of 34 bytes
    UnsafeName,    // detail: a folder or file name that is not a plain, safe name
    BadChecksum,   // an image whose bytes are not its SHA-256
    NotStored,     // this PC's archive refused it; detail: its reason
    NotApplied,    // the state of the entity breaks a rule of the archive file; detail: SQLite's
};

// A row this PC did not take.
struct LeftOutRow {
    enum class Kind { Change, Record, Image, Entity } kind = Kind::Change;
    std::string row;     // the team archive's id of the row (of an entity, its id)
    std::string what{};  // a change's kind and field
    std::string laptop{};
    std::string sender{};
    RowProblem problem = RowProblem::Refused;
    std::string detail{};
    jobs::JobResult refusal{};
};

struct PullOutcome {
    TeamError error;
    std::int64_t records = 0;  // new to `into`
    std::int64_t images = 0;
    std::int64_t changes = 0;  // jobs, closures, ..., records whose state changed
    std::vector<LeftOutRow> leftOut{};
};

// Brings `into` up to date with the team archive, above the marks kept in `into`
// for this team archive: records, images (with their bytes) and the changes to jobs, closures,
// cables, trays, positions and placings, as one transaction of `into` (nothing of a read that
// failed or was stopped is kept). Rows it already has are not stored twice, and what it reads is
// never sent back.
PullOutcome PullFromTeam(Connection& connection, archive::Archive& into,
                         const PullOptions& options);

// The ids of the team archive's jobs named `name` (one, unless two laptops gave two
// jobs one name); nothing on a failure (connection.LastError()).
std::optional<std::vector<std::string>> TeamJobIds(Connection& connection, const std::string& name);

// Why the job store would refuse what `change` sets, as if typed on this laptop, or
// the change names no entity or field this program logs; nothing when it is sound.
std::optional<LeftOutRow> ChangeProblem(const archive::JobChange& change);

}  // namespace velmora::team
