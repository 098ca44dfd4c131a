// team init|join|leave|sync|status: sending this PC's archive to the team archive.
#include "cli/team_commands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "history/history_texts.h"
#include "team/team_join.h"
#include "team/team_schema.h"
#include "team/team_sync.h"
#include "team/team_texts.h"

namespace velmora::cli {
namespace {

// Exit status when the team archive could not be reached or refused.
constexpr int kExitTeamFailed = 1;

void Tell(const std::string& text) {
    std::fprintf(stderr, "velmora-cli: %s\n", text.c_str());
}

// Tells the failure once and returns its exit status: a failure of this PC (not
// joined, a bad address, its own archive) is a usage or file error.
int Failed(const team::TeamError& error) {
    Tell(team::TeamErrorText(error));
    switch (error.code) {
        case team::TeamErrorCode::NotJoined:
        case team::TeamErrorCode::BadAddress:
        case team::TeamErrorCode::LocalArchive:
            return kExitUsage;
        default:
            return kExitTeamFailed;
    }
}

std::optional<team::JoinedTeam> Joined() {
    return team::ReadJoinedTeam(Config().AppDirectory);
}

// The joined team archive, connected and checked; null once the reason is told.
std::unique_ptr<team::Connection> ConnectJoined(team::JoinedTeam& joined, int& status) {
    team::TeamError error;
    std::unique_ptr<team::Connection> connection =
        team::ConnectTeam(joined.uri, {}, joined.archiveId, error);
    if (!connection) status = Failed(error);
    return connection;
}

std::unique_ptr<archive::Archive> OpenLocal(archive::OpenFor purpose,
                                            archive::ArchiveError& error) {
    archive::OpenResult opened =
        archive::Archive::Open(archive::ArchiveFile(Config().AppDirectory), {.purpose = purpose});
    error = opened.error;
    return std::move(opened.archive);
}

int Init(const std::string& uri) {
    team::TeamError error;
    const std::unique_ptr<team::Connection> connection = team::Connection::Open(uri, error);
    if (connection) error = team::InitialiseTeamArchive(*connection);
    if (!error.ok()) return Failed(error);
    std::printf("the team archive is ready (schema version %d)\n", team::TeamSchemaVersion());
    return kExitOk;
}

int Join(const std::string& uri) {
    if (const team::TeamError error = team::JoinTeam(Config().AppDirectory, uri); !error.ok())
        return Failed(error);
    std::printf("joined %s\n", uri.c_str());
    return kExitOk;
}

int Leave() {
    if (const team::TeamError error = team::LeaveTeam(Config().AppDirectory); !error.ok())
        return Failed(error);
    std::printf("this PC sends to no team archive now\n");
    return kExitOk;
}

int Sync() {
    const team::JoinedSend send = team::SendJoinedTeam(Config().AppDirectory);
    const team::SendOutcome& outcome = send.outcome;
    if (!send.localError.ok()) {
        Tell(archive::ArchiveErrorText(send.localError));
        return kExitUsage;
    }
    if (send.reached) {
        std::printf("%s\n", team::SentText(outcome.sent).c_str());
        if (outcome.imagesWithoutFile > 0)
            std::printf("%s\n", team::ImagesWithoutFileText(outcome.imagesWithoutFile).c_str());
    }
    if (outcome.error.ok()) return kExitOk;
    const int status = Failed(outcome.error);
    if (send.waitingKnown) Tell(team::WaitingText(outcome.waiting));
    return status;
}

int Status() {
    const std::optional<team::JoinedTeam> joined = Joined();
    if (!joined) return Failed({team::TeamErrorCode::NotJoined, ""});
    std::printf("team archive: %s\n", joined->uri.c_str());
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> local = OpenLocal(archive::OpenFor::Reading, error);
    team::OutboxState state;
    if (local) {
        const auto read = team::ReadOutbox(*local, joined->archiveId);
        if (!read) return Failed({team::TeamErrorCode::LocalArchive, local->LastError().message});
        state = *read;
    } else if (error.code != archive::ErrorCode::NoArchive) {
        Tell(archive::ArchiveErrorText(error));
        return kExitUsage;
    }
    std::printf("%s\n", team::WaitingText(state.waiting).c_str());
    std::printf("%s\n", team::LastSendText(state.lastSend).c_str());
    return kExitOk;
}

}  // namespace

int ListTeamRecords(const archive::RecordFilter& filter) {
    if (team::TeamError missing = team::Connection::Availability(); !missing.ok())
        return Failed(missing);
    std::optional<team::JoinedTeam> joined = Joined();
    if (!joined) return Failed({team::TeamErrorCode::NotJoined, ""});
    int status = kExitOk;
    const std::unique_ptr<team::Connection> connection = ConnectJoined(*joined, status);
    if (!connection) return status;
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    const bool read = team::ForEachTeamRecord(*connection, filter, [&](const team::TeamRecord& r) {
        const std::string& splicer = r.serialNumber.empty() ? r.device : r.serialNumber;
        std::printf("%s\t%s\t%s\t%s\t\n", TerminalSafe(splicer).c_str(), TimeText(r.record).c_str(),
                    ResultListText(r.record, language).c_str(), LossText(r.record).c_str());
        return true;
    });
    return read ? kExitOk : Failed(connection->LastError());
}

int RunTeam(CliContext& context, CommandArgs args) {
    const std::string usage = "team needs init URL, join URL, leave, sync or status";
    if (args.empty()) return context.UsageError(usage);
    if (team::TeamError missing = team::Connection::Availability(); !missing.ok())
        return Failed(missing);
    const std::string& verb = args[0];
    if (args.size() == 2 && verb == "init") return Init(args[1]);
    if (args.size() == 2 && verb == "join") return Join(args[1]);
    if (args.size() == 1 && verb == "leave") return Leave();
    if (args.size() == 1 && verb == "sync") return Sync();
    if (args.size() == 1 && verb == "status") return Status();
    return context.UsageError(usage);
}

}  // namespace velmora::cli
