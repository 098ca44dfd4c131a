#include "team/team_join.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "archive/job_log.h"
#include "base/local_time.h"
#include "base/time_text.h"
#include "team/team_schema.h"

namespace velmora::team {

TeamError JoinTeam(const std::filesystem::path& dataFolder, const std::string& uri) {
    if (TeamError error = Connection::CheckAddress(uri); !error.ok()) return error;
    const std::string written = WriteJoinedTeam(dataFolder, {uri, ""});
    if (!written.empty()) return {TeamErrorCode::LocalArchive, written};
    return {};
}

TeamError LeaveTeam(const std::filesystem::path& dataFolder) {
    std::error_code ec;
    std::filesystem::remove(JoinFile(dataFolder), ec);
    if (ec) return {TeamErrorCode::LocalArchive, ec.message()};
    return {};
}

std::unique_ptr<Connection> ConnectTeam(const std::string& uri, const std::string& password,
                                        std::string& archiveId, TeamError& error,
                                        std::stop_token stop) {
    std::unique_ptr<Connection> connection = Connection::Open(uri, error, password, stop);
    if (connection) error = CheckTeamArchive(*connection, archiveId);
    if (!error.ok()) return nullptr;
    return connection;
}

TeamReply TryTeam(const std::string& uri, const std::string& password, std::stop_token stop) {
    TeamReply reply;
    const std::unique_ptr<Connection> connection =
        Connection::Open(uri, reply.error, password, stop);
    if (!connection) return reply;
    reply.answer = connection->Answered();
    std::string archiveId;
    reply.error = CheckTeamArchive(*connection, archiveId);
    return reply;
}

JoinReply JoinAndTryTeam(const std::filesystem::path& dataFolder, const std::string& uri,
                         const std::string& password, std::stop_token stop) {
    JoinReply reply;
    reply.error = JoinTeam(dataFolder, uri);
    if (!reply.error.ok()) return reply;
    reply.joined = true;
    static_cast<TeamReply&>(reply) = TryTeam(uri, password, stop);
    return reply;
}

std::optional<OutboxState> ReadOutbox(archive::Archive& local, const std::string& archiveId) {
    const auto marks = local.SentMarks(archiveId);
    const auto waiting = marks ? WaitingToSend(local, marks->upTo) : std::nullopt;
    if (!waiting) return std::nullopt;
    OutboxState state{*waiting, {}};
    if (marks->lastSuccess) {
        const std::tm t = LocalTime(std::chrono::system_clock::to_time_t(*marks->lastSuccess));
        state.lastSend =
            TimeStampText(t.tm_year - 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    }
    return state;
}

JoinedSend SendJoinedTeam(const std::filesystem::path& dataFolder, const std::string& password,
                          std::stop_token stop) {
    JoinedSend send;
    TeamError& error = send.outcome.error;
    std::optional<JoinedTeam> joined = ReadJoinedTeam(dataFolder);
    if (!joined) {
        error = {TeamErrorCode::NotJoined, ""};
        return send;
    }
    std::string laptopError;
    const std::string laptop = LaptopId(dataFolder, laptopError);
    if (laptop.empty()) {
        error = {TeamErrorCode::LocalArchive, laptopError};
        return send;
    }
    archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(dataFolder));
    if (!opened.archive) {
        send.localError = opened.error;
        error = {TeamErrorCode::LocalArchive, opened.error.message};
        return send;
    }
    archive::Archive& local = *opened.archive;
    const std::string knownId = joined->archiveId;
    const std::unique_ptr<Connection> connection =
        ConnectTeam(joined->uri, password, joined->archiveId, error, stop);
    if (!connection) {
        // What is waiting, as far as this PC knows (everything, before a first send).
        if (const auto state = ReadOutbox(local, knownId)) {
            send.outcome.waiting = state->waiting;
            send.waitingKnown = true;
        }
        return send;
    }
    send.reached = true;
    if (joined->archiveId != knownId) WriteJoinedTeam(dataFolder, *joined);
    send.outcome = SendToTeam(*connection, local,
                              {.dataFolder = dataFolder,
                               .laptopId = laptop,
                               .archiveId = joined->archiveId,
                               .stop = stop});
    send.waitingKnown = true;
    if (!send.outcome.error.ok()) return send;
    // Then the further changes of every job this PC holds, from this and other laptops.
    const auto jobs = archive::JobLog(local, laptop).Jobs();
    if (!jobs) {
        error = {TeamErrorCode::LocalArchive, local.LastError().message};
        return send;
    }
    for (const auto& job : *jobs) {
        PullOutcome pulled = PullFromTeam(*connection, local,
                                          {.dataFolder = dataFolder,
                                           .archiveId = joined->archiveId,
                                           .job = job.first,
                                           .laptopId = laptop,
                                           .stop = stop});
        if (!pulled.error.ok()) {
            error = pulled.error;
            return send;
        }
        send.read.records += pulled.records;
        send.read.images += pulled.images;
        send.read.changes += pulled.changes;
        std::move(pulled.leftOut.begin(), pulled.leftOut.end(),
                  std::back_inserter(send.read.leftOut));
    }
    return send;
}

}  // namespace velmora::team
