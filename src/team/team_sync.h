#pragma once
// Sending the laptop's own archive to its team archive, and reading the team
// archive's records. The laptop keeps which team archive it has joined (its
// address, never a password) and an id of its own, made once, in its data folder.
#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "archive/archive.h"
#include "team/team_client.h"

namespace velmora::team {

// The joined team archive: its address and, once it has been reached, its id.
struct JoinedTeam {
    std::string uri;
    std::string archiveId;  // "" until the first send reached it
};
std::filesystem::path JoinFile(const std::filesystem::path& dataFolder);
std::optional<JoinedTeam> ReadJoinedTeam(const std::filesystem::path& dataFolder);
// Writes the join file (replacing it whole); the error text, or "" when written.
std::string WriteJoinedTeam(const std::filesystem::path& dataFolder, const JoinedTeam& team);

// This laptop's id (a UUID), made the first time it is asked for and kept in the
// data folder; "" with `error` set when it can neither be read nor made.
std::string LaptopId(const std::filesystem::path& dataFolder, std::string& error);

struct SendOptions {
    std::filesystem::path dataFolder;  // where the image files are (FS/<folder>/JPG)
    std::string laptopId;
    std::string archiveId;                // the team archive's id: its marks in the local archive
    std::size_t recordsPerBatch = 10000;  // rows per server transaction
    std::size_t imageBytesPerBatch = 16u << 20;  // JPEG bytes held at once, at most
    archive::Clock clock{};  // the laptop's clock, told with its job changes; empty: the system's
    std::stop_token stop{};  // asked to stop (the window closing): no further batch begins
};

// What waits to be sent above the marks `upTo`, by kind, as a user counts it: the
// records, images and settings snapshots, and the job items (jobs, closures,
// cables, trays, positions, records' jobs and placings) with changes; nothing when
// the archive failed (local.LastError()).
std::optional<archive::OutboxCounts> WaitingToSend(archive::Archive& local,
                                                   const archive::OutboxCounts& upTo);

struct SendOutcome {
    TeamError error;
    archive::OutboxCounts sent{};       // committed by the team archive in this send, as counted
                                        // by WaitingToSend
    archive::OutboxCounts waiting{};    // what is left to send (all of it when it failed early)
    std::size_t imagesWithoutFile = 0;  // images sent without their bytes: the file was gone
};

// Sends, kind by kind and oldest first, every row of `local` above its marks for
// this team archive, in batches: each batch is one transaction of the server, and
// its mark moves only once that committed. A send cut off at any point loses
// nothing, and the next one sends again at most the batch that was under way,
// which the team archive takes once. Memory is bounded by a batch.
SendOutcome SendToTeam(Connection& connection, archive::Archive& local, const SendOptions& options);

// The team archive's records the filter takes (a job's found on its index), in the
// local archive's order (by splice time, the undated ones last), each
// handed to `take` as it arrives. False on failure (connection.LastError()).
struct TeamRecord {
    std::string serialNumber;
    std::string device;
    SpliceRecord record;
    std::string job;  // "" for none
};
bool ForEachTeamRecord(Connection& connection, const archive::RecordFilter& filter,
                       const std::function<bool(const TeamRecord&)>& take);
// The statement ForEachTeamRecord runs for every record (no filter): what another
// client runs to be compared with it.
std::string AllTeamRecordsSql();

}  // namespace velmora::team
