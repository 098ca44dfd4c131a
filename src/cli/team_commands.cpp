// team init|join|leave|sync|status: sending this PC's archive to the team archive.
#include "cli/team_commands.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include "archive/archive_texts.h"
#include "archive/job_log.h"
#include "base/app_config.h"
#include "base/interrupt.h"
#include "base/local_time.h"
#include "base/time_text.h"
#include "history/history_texts.h"
#include "report/report_data.h"
#include "team/team_join.h"
#include "team/team_pull.h"
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

// Ctrl-C or a request to terminate while a team command runs: the statement under
// way is cancelled on the server and the command ends within a second; what was
// sent is kept (a send cut off is finished by the next one).
class StopOnInterrupt {
  public:
    StopOnInterrupt() {
        SetInterruptCallback([this] { source_.request_stop(); });
    }
    ~StopOnInterrupt() { SetInterruptCallback(nullptr); }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;
    std::stop_token Token() const { return source_.get_token(); }

  private:
    std::stop_source source_;
};

// Tells the failure once and returns its exit status: a failure of this PC (not
// joined, a bad address, its own archive) is a usage or file error; an interrupt
// ends as the signal would (130, 143).
int Failed(const team::TeamError& error) {
    if (error.code == team::TeamErrorCode::Stopped) {
        std::fprintf(stderr, "%s\n", kInterruptedText);
        return InterruptExitStatus();
    }
    Tell(team::TeamErrorText(error));
    switch (error.code) {
        case team::TeamErrorCode::NotJoined:
        case team::TeamErrorCode::BadAddress:
        case team::TeamErrorCode::Insecure:
        case team::TeamErrorCode::LocalArchive:
            return kExitUsage;
        default:
            return kExitTeamFailed;
    }
}

// Tells each row of the team archive that was not taken; the exit status: a team
// archive that holds rows this PC refuses is told as a failure of it.
int TellLeftOut(const std::vector<team::LeftOutRow>& rows) {
    for (const team::LeftOutRow& row : rows) Tell(TerminalSafe(team::LeftOutText(row)));
    return rows.empty() ? kExitOk : kExitTeamFailed;
}

// Reads the team archive's jobs named `job` ("" everything) into `into`; the
// outcomes added up, the first failure ending it.
team::PullOutcome PullNamed(team::Connection& connection, archive::Archive& into,
                            const team::PullOptions& options, const std::string& job) {
    std::vector<std::string> ids{""};
    if (!job.empty()) {
        const auto named = team::TeamJobIds(connection, job);
        if (!named) return {connection.LastError()};
        ids = *named;
    }
    team::PullOutcome total;
    for (const std::string& id : ids) {
        team::PullOptions one = options;
        one.job = id;
        team::PullOutcome pulled = team::PullFromTeam(connection, into, one);
        total.error = pulled.error;
        total.records += pulled.records;
        total.images += pulled.images;
        total.changes += pulled.changes;
        std::move(pulled.leftOut.begin(), pulled.leftOut.end(), std::back_inserter(total.leftOut));
        if (!total.error.ok()) break;
    }
    return total;
}

std::optional<team::JoinedTeam> Joined() {
    return team::ReadJoinedTeam(Config().AppDirectory);
}

// The joined team archive, connected and checked; null once the reason is told.
std::unique_ptr<team::Connection> ConnectJoined(team::JoinedTeam& joined, int& status,
                                                std::stop_token stop) {
    team::TeamError error;
    std::unique_ptr<team::Connection> connection =
        team::ConnectTeam(joined.uri, {}, joined.archiveId, error, stop);
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

int Init(const std::string& uri, std::stop_token stop) {
    team::TeamError error;
    const std::unique_ptr<team::Connection> connection =
        team::Connection::Open(uri, error, {}, stop);
    if (connection) error = team::InitialiseTeamArchive(*connection);
    if (!error.ok()) return Failed(error);
    std::printf("the team archive is ready (schema version %d)\n", team::TeamSchemaVersion());
    return kExitOk;
}

// Joins, then tries the address and says who answered; a team archive that cannot
// be used just now stays joined (team sync tries it again), with exit status 1.
int Join(const std::string& uri, std::stop_token stop) {
    const team::JoinReply reply = team::JoinAndTryTeam(Config().AppDirectory, uri, {}, stop);
    if (!reply.joined) return Failed(reply.error);
    std::printf("joined %s\n", uri.c_str());
    if (reply.answer) std::printf("%s\n", team::AnsweredText(*reply.answer).c_str());
    return reply.error.ok() ? kExitOk : Failed(reply.error);
}

int Leave() {
    if (const team::TeamError error = team::LeaveTeam(Config().AppDirectory); !error.ok())
        return Failed(error);
    std::printf("this PC sends to no team archive now\n");
    return kExitOk;
}

int Sync(std::stop_token stop) {
    const team::JoinedSend send = team::SendJoinedTeam(Config().AppDirectory, {}, stop);
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
    if (outcome.error.ok()) {
        std::printf("%s\n", team::PulledText(send.read).c_str());
        return TellLeftOut(send.read.leftOut);
    }
    const int status = Failed(outcome.error);
    if (send.waitingKnown) Tell(team::WaitingText(outcome.waiting));
    return status;
}

// Reads the job from the team archive into this PC's own archive: its records, their
// images, its closures, cables, trays, positions and placings, and their changes.
int Take(const std::string& job, std::stop_token stop) {
    std::optional<team::JoinedTeam> joined = Joined();
    if (!joined) return Failed({team::TeamErrorCode::NotJoined, ""});
    std::string laptopError;
    const std::string laptop = team::LaptopId(Config().AppDirectory, laptopError);
    if (laptop.empty()) return Failed({team::TeamErrorCode::LocalArchive, laptopError});
    archive::ArchiveError localError;
    const std::unique_ptr<archive::Archive> local =
        OpenLocal(archive::OpenFor::Writing, localError);
    if (!local) {
        Tell(archive::ArchiveErrorText(localError));
        return kExitUsage;
    }
    int status = kExitOk;
    const std::unique_ptr<team::Connection> connection = ConnectJoined(*joined, status, stop);
    if (!connection) return status;
    team::WriteJoinedTeam(Config().AppDirectory, *joined);
    // The job as the team archive names it now; each of its rows checked as if made here.
    const auto ids = team::TeamJobIds(*connection, job);
    if (!ids) return Failed(connection->LastError());
    if (ids->empty()) {
        Tell(team::NoSuchTeamJobText(job));
        return kExitTeamFailed;
    }
    const team::PullOutcome pulled = PullNamed(*connection, *local,
                                               {.dataFolder = Config().AppDirectory,
                                                .archiveId = joined->archiveId,
                                                .job = {},
                                                .laptopId = laptop,
                                                .stop = stop},
                                               job);
    if (!pulled.error.ok()) {
        TellLeftOut(pulled.leftOut);
        return Failed(pulled.error);
    }
    std::printf("%s\n", team::PulledText(pulled).c_str());
    return TellLeftOut(pulled.leftOut);
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
    const StopOnInterrupt interrupt;
    int status = kExitOk;
    const std::unique_ptr<team::Connection> connection =
        ConnectJoined(*joined, status, interrupt.Token());
    if (!connection) return status;
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    // A splicer's and a job's name are made safe once for the rows that share them,
    // and each line is put together in one buffer: a listing of a million rows
    // costs what the rows do, not what their formatting does.
    std::string splicer, splicerShown, job, jobShown, line;
    auto shown = [](const std::string& name, std::string& last, std::string& safe) {
        if (name != last || safe.empty()) {
            last = name;
            safe = TerminalSafe(name);
        }
        return std::string_view(safe);
    };
    const bool read = team::ForEachTeamRecord(*connection, filter, [&](const team::TeamRecord& r) {
        line.assign(
            shown(archive::SplicerDisplayName(r.serialNumber, r.device), splicer, splicerShown));
        (line += '\t') += TimeText(r.record);
        (line += '\t') += ResultListText(r.record, language);
        (line += '\t') += LossText(r.record);
        (line += '\t') += shown(r.job, job, jobShown);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        return true;
    });
    return read ? kExitOk : Failed(connection->LastError());
}

int RunTeam(CliContext& context, CommandArgs args) {
    const std::string usage = "team needs init URL, join URL, leave, sync, status or take JOB";
    if (args.empty()) return context.UsageError(usage);
    if (team::TeamError missing = team::Connection::Availability(); !missing.ok())
        return Failed(missing);
    const std::string& verb = args[0];
    const StopOnInterrupt interrupt;
    if (args.size() == 2 && verb == "init") return Init(args[1], interrupt.Token());
    if (args.size() == 2 && verb == "join") return Join(args[1], interrupt.Token());
    if (args.size() == 1 && verb == "leave") return Leave();
    if (args.size() == 1 && verb == "sync") return Sync(interrupt.Token());
    if (args.size() == 1 && verb == "status") return Status();
    if (args.size() == 2 && verb == "take") return Take(args[1], interrupt.Token());
    return context.UsageError(usage);
}

int OnTeamView(CliContext& context, CommandArgs args, int (*run)(CliContext&, CommandArgs),
               std::string_view job) {
    std::vector<std::string> rest;
    for (const std::string& arg : args)
        if (arg != "--team") rest.push_back(arg);
    if (rest.size() == args.size()) return run(context, args);
    if (!team::Connection::Available()) return Failed({team::TeamErrorCode::NotAvailable, ""});
    std::optional<team::JoinedTeam> joined = Joined();
    if (!joined) return Failed({team::TeamErrorCode::NotJoined, ""});
    const std::filesystem::path view = team::TeamViewFolder(Config().AppDirectory);
    archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(view));
    if (!opened.archive) {
        Tell(archive::ArchiveErrorText(opened.error));
        return kExitUsage;
    }
    // The team view brought up to date; when the team archive cannot be reached, as
    // it was last read, said once. Interrupted, it ends there.
    team::TeamError error;
    std::vector<team::LeftOutRow> leftOut;
    {
        const StopOnInterrupt interrupt;
        const std::unique_ptr<team::Connection> connection =
            team::Connection::Open(joined->uri, error, {}, interrupt.Token());
        if (connection) error = team::CheckTeamArchive(*connection, joined->archiveId);
        if (error.ok()) {
            team::PullOutcome pulled = PullNamed(*connection, *opened.archive,
                                                 {.dataFolder = view,
                                                  .archiveId = joined->archiveId,
                                                  .job = {},
                                                  .stop = interrupt.Token()},
                                                 std::string(job));
            error = pulled.error;
            leftOut = std::move(pulled.leftOut);
        }
    }
    if (error.code == team::TeamErrorCode::Stopped) return Failed(error);
    if (!error.ok()) {
        Tell(team::TeamErrorText(error));
        // The job's read is kept by its id, as the view knows it.
        std::string scope;
        if (const auto jobs = archive::JobLog(*opened.archive, {}).Jobs(); jobs && !job.empty())
            for (const auto& [id, name] : *jobs)
                if (name == job) scope = id;
        const auto mark = opened.archive->PulledMark(joined->archiveId, scope);
        if (!mark || !mark->pulled) return kExitTeamFailed;
        const std::tm t = LocalTime(std::chrono::system_clock::to_time_t(*mark->pulled));
        Tell(team::TeamViewAsOfText(TimeStampText(t.tm_year - 100, t.tm_mon + 1, t.tm_mday,
                                                  t.tm_hour, t.tm_min, t.tm_sec)));
    }
    opened.archive.reset();
    // The same command on the team view's data folder, judged by this PC's limits.
    std::error_code ec;
    std::filesystem::copy_file(report::LimitsFile(Config().AppDirectory), report::LimitsFile(view),
                               std::filesystem::copy_options::overwrite_existing, ec);
    const AppConfig own = Config();
    AppConfig onView = own;
    onView.AppDirectory = view;
    onView.ParDirectory = own.ParFolder();
    InstallConfig(onView);
    const int status = run(context, rest);
    InstallConfig(own);
    // The work was done on what this PC could take; that it is not the whole of the
    // team archive, or not as it is now, is told in the status too.
    const int leftOutStatus = TellLeftOut(leftOut);
    if (status != kExitOk) return status;
    return error.ok() ? leftOutStatus : kExitTeamFailed;
}

}  // namespace velmora::cli
