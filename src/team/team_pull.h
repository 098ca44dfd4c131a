#pragma once
// Reading the team archive into a local archive: the whole of it into this PC's
// team view (a read-only copy the window's "Team" view and `--team` read, so the
// same filters, details, images, matrix and report work on it, offline too), or one
// job into this PC's own archive (`team take JOB`) to work on it offline.
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>

#include "archive/archive.h"
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
    std::string job;                   // "" for everything; else only this job
    // The laptop `into` belongs to (LaptopId), whose own changes come back with the
    // team archive's time for them; "" for a team view.
    std::string laptopId{};
    std::stop_token stop{};  // asked to stop: no further batch is kept
};

struct PullOutcome {
    TeamError error;
    std::int64_t records = 0;  // new to `into`
    std::int64_t images = 0;
    std::int64_t changes = 0;  // jobs, closures, ..., records whose state changed
};

// Brings `into` up to date with the team archive, above the marks kept in `into`
// for this team archive: records, images (with their bytes), settings snapshots
// and the changes to jobs, closures, cables, trays, positions and placings. Rows it
// already has are not stored twice; a pull cut off at any point is finished by the
// next one. Memory is bounded by a batch.
PullOutcome PullFromTeam(Connection& connection, archive::Archive& into,
                         const PullOptions& options);

}  // namespace velmora::team
