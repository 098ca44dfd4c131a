#pragma once
// Joining and leaving a team archive, reaching it, sending to it and telling what
// waits: the rules the window and velmora-cli share.
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "archive/archive.h"
#include "team/team_pull.h"
#include "team/team_sync.h"

namespace velmora::team {

// Remembers `uri` in the data folder, once it passes Connection::CheckAddress (no
// password, and no other host reached without a verified certificate); the team
// archive's id is learnt again at the first send. Nothing goes on the network.
TeamError JoinTeam(const std::filesystem::path& dataFolder, const std::string& uri);

// Tries `uri` as a send would: who answered, and whether it holds a team archive
// this program can use (the error when not; `answer` when the server answered).
struct TeamReply {
    TeamError error;
    std::optional<ServerAnswer> answer;
};
TeamReply TryTeam(const std::string& uri, const std::string& password = {},
                  std::stop_token stop = {});
// Joins `uri` (JoinTeam), then tries it (TryTeam). `joined` false: JoinTeam refused
// the address, its failure in `error`. A team archive that cannot be used just now
// stays joined: a send tries it again.
struct JoinReply : TeamReply {
    bool joined = false;
};
JoinReply JoinAndTryTeam(const std::filesystem::path& dataFolder, const std::string& uri,
                         const std::string& password = {}, std::stop_token stop = {});
// Forgets the team archive: nothing is sent any more.
TeamError LeaveTeam(const std::filesystem::path& dataFolder);

// Connects to `uri` and checks that it holds a team archive this program can use;
// its id in `archiveId`. `password` "" leaves the password to libpq's password file.
std::unique_ptr<Connection> ConnectTeam(const std::string& uri, const std::string& password,
                                        std::string& archiveId, TeamError& error,
                                        std::stop_token stop = {});

// What waits to be sent to the team archive `archiveId` and when the last send that
// left nothing waiting ended, as local time text ("" when never).
struct OutboxState {
    archive::OutboxCounts waiting{};
    std::string lastSend;
};
std::optional<OutboxState> ReadOutbox(archive::Archive& local, const std::string& archiveId);

// One send of the data folder's archive to its joined team archive.
struct JoinedSend {
    SendOutcome outcome;               // its error is also that of reading the jobs' changes back
    PullOutcome read;                  // the further changes of this PC's jobs, read after the send
    bool reached = false;              // the team archive answered: outcome.sent counts
    bool waitingKnown = false;         // outcome.waiting holds what this PC knows waits
    archive::ArchiveError localError;  // the local archive could not be opened
};
JoinedSend SendJoinedTeam(const std::filesystem::path& dataFolder, const std::string& password = {},
                          std::stop_token stop = {});

}  // namespace velmora::team
