#include "ui/app/team_link.h"

#include <QMetaObject>
#include <chrono>

#include "archive/archive_texts.h"
#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/language.h"
#include "base/local_time.h"
#include "base/time_text.h"
#include "team/team_join.h"
#include "team/team_pull.h"
#include "team/team_texts.h"
#include "ui/app/qt_text.h"

namespace velmora::ui {
namespace {

namespace tw = keys::team_window;

std::string NowText() {
    const std::tm t = LocalTime(std::time(nullptr));
    return TimeStampText(t.tm_year - 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// When the team view was last brought up to date, kept beside its archive.
std::filesystem::path LastReadFile(const std::filesystem::path& dataFolder) {
    return team::TeamViewFolder(dataFolder) / "last-read.txt";
}

std::string LastReadText(const std::filesystem::path& dataFolder) {
    const FileReadResult read = ReadWholeFile(LastReadFile(dataFolder), 256);
    return read.ok() ? read.bytes.substr(0, read.bytes.find('\n')) : std::string();
}

// The one place the team view is filled from the team archive.
team::TeamError PullTeamView(team::Connection& connection, const std::filesystem::path& dataFolder,
                             const std::string& archiveId, std::stop_token stop) {
    const std::filesystem::path folder = team::TeamViewFolder(dataFolder);
    archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(folder));
    if (!opened.archive)
        return {team::TeamErrorCode::LocalArchive, archive::ArchiveErrorText(opened.error)};
    return team::PullFromTeam(
               connection, *opened.archive,
               {.dataFolder = folder, .archiveId = archiveId, .job = {}, .stop = stop})
        .error;
}

}  // namespace

CTeamLink::CTeamLink(std::filesystem::path dataFolder, QObject* parent)
    : QObject(parent), dataFolder_(std::move(dataFolder)) {
    const std::string lastRead = LastReadText(dataFolder_);
    teamViewText_ = lastRead.empty() ? Q(tw::NeverRead) : Q(tw::AsOf).arg(Q(lastRead));
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

CTeamLink::~CTeamLink() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

bool CTeamLink::Joined() const {
    return team::ReadJoinedTeam(dataFolder_).has_value();
}

void CTeamLink::Wake(Background errand) {
    {
        std::lock_guard lock(mutex_);
        (errand == Background::Send   ? sendWanted_
         : errand == Background::Pull ? pullWanted_
                                      : countWanted_) = true;
    }
    wake_.notify_one();
}

void CTeamLink::RequestSend() {
    Wake(Background::Send);
}

void CTeamLink::RequestCount() {
    Wake(Background::Count);
}

void CTeamLink::RequestPull() {
    Wake(Background::Pull);
}

void CTeamLink::Ask(std::function<team::TeamError()> work,
                    std::function<void(const team::TeamError&)> done) {
    {
        std::lock_guard lock(mutex_);
        asked_.emplace_back(std::move(work), std::move(done));
    }
    wake_.notify_one();
}

void CTeamLink::Test(std::string uri, std::function<void(const team::TeamError&)> done) {
    Ask(
        [this, uri = std::move(uri)] {
            std::string archiveId;
            team::TeamError error;
            team::ConnectTeam(uri, Password(), archiveId, error);
            return error;
        },
        std::move(done));
}

void CTeamLink::Join(std::string uri, std::function<void(const team::TeamError&)> done) {
    Ask([this, uri = std::move(uri)] { return team::JoinTeam(dataFolder_, uri); }, std::move(done));
}

void CTeamLink::Forget() {
    toldFailure_.reset();
    toldText_.clear();
    const std::string lastRead = LastReadText(dataFolder_);
    teamViewText_ = lastRead.empty() ? Q(tw::NeverRead) : Q(tw::AsOf).arg(Q(lastRead));
    emit TeamViewChanged(false);
}

void CTeamLink::SetPassword(std::string password) {
    std::lock_guard lock(mutex_);
    password_ = std::move(password);
}

std::string CTeamLink::Password() const {
    std::lock_guard lock(mutex_);
    return password_;
}

void CTeamLink::OnWindow(std::function<void()> call) {
    // Queued to this object: a call still queued when it goes is dropped with it.
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CTeamLink::Run(std::stop_token stop) {
    while (true) {
        std::optional<Background> errand;
        std::optional<Errand> asked;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] {
                return !asked_.empty() || sendWanted_ || pullWanted_ || countWanted_;
            });
            if (stop.stop_requested()) return;
            // The user waits for a test or a join; a send counts what is left too.
            if (!asked_.empty()) {
                asked = std::move(asked_.front());
                asked_.pop_front();
            } else if (sendWanted_) {
                errand = Background::Send;
                sendWanted_ = countWanted_ = false;
            } else if (pullWanted_) {
                errand = Background::Pull;
                pullWanted_ = false;
            } else {
                errand = Background::Count;
                countWanted_ = false;
            }
        }
        if (asked) {
            const team::TeamError error = asked->first();
            OnWindow([this, done = std::move(asked->second), error] {
                // The server let the user in: a refusal told before is past.
                if (error.ok()) {
                    toldFailure_.reset();
                    toldText_.clear();
                }
                done(error);
            });
        } else {
            Do(*errand);
        }
    }
}

void CTeamLink::Do(Background errand) {
    switch (errand) {
        case Background::Count:
            Count();
            break;
        case Background::Send:
            Send();
            break;
        case Background::Pull:
            Pull();
            break;
    }
}

void CTeamLink::Count() {
    const std::optional<team::JoinedTeam> joined = team::ReadJoinedTeam(dataFolder_);
    QString text;
    if (!joined) {
        text = Q(tw::NotJoinedYet);
    } else {
        archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(dataFolder_),
                                                            {.purpose = archive::OpenFor::Reading});
        team::OutboxState state;
        if (opened.archive) {
            if (const auto read = team::ReadOutbox(*opened.archive, joined->archiveId))
                state = *read;
        }
        text = Q(team::WaitingText(state.waiting)) + QStringLiteral("\n") +
               Q(team::LastSendText(state.lastSend));
    }
    OnWindow([this, text] {
        outboxText_ = text;
        emit OutboxChanged();
    });
}

void CTeamLink::Send() {
    OnWindow([this] {
        busy_ = true;
        emit OutboxChanged();
    });
    const team::JoinedSend send =
        team::SendJoinedTeam(dataFolder_, Password(), thread_.get_stop_token());
    Count();
    const team::TeamError error = send.outcome.error.code == team::TeamErrorCode::NotJoined
                                      ? team::TeamError{}
                                      : send.outcome.error;
    const bool sent = send.reached && error.ok();
    OnWindow([this, error, sent] {
        busy_ = false;
        const QString text = Q(team::TeamErrorText(error)).simplified();
        if (error.ok()) {
            toldFailure_.reset();
            toldText_.clear();
        } else if (toldFailure_ != error.code || toldText_ != text) {
            // Told once: the next sends fail the same way until the server is back. A
            // failure that says something else (another server) replaces it.
            toldFailure_ = error.code;
            toldText_ = text;
            emit Notice(text);
        }
        emit OutboxChanged();
        emit SendEnded(sent);
    });
}

void CTeamLink::Pull() {
    OnWindow([this] {
        teamViewText_ = Q(tw::Reading);
        emit TeamViewChanged(false);
    });
    std::optional<team::JoinedTeam> joined = team::ReadJoinedTeam(dataFolder_);
    team::TeamError error{team::TeamErrorCode::NotJoined, ""};
    if (joined) {
        const std::unique_ptr<team::Connection> connection =
            team::ConnectTeam(joined->uri, Password(), joined->archiveId, error);
        if (connection)
            error =
                PullTeamView(*connection, dataFolder_, joined->archiveId, thread_.get_stop_token());
    }
    // The failure, if any, on a line of its own above when the view was last read.
    std::string lastRead = LastReadText(dataFolder_);
    if (error.ok()) {
        lastRead = NowText();
        ReplaceFile(LastReadFile(dataFolder_), lastRead + "\n");
    }
    QString text = lastRead.empty() ? Q(tw::NeverRead) : Q(tw::AsOf).arg(Q(lastRead));
    if (!error.ok()) text = Q(team::TeamErrorText(error)).simplified() + QLatin1Char('\n') + text;
    OnWindow([this, text, read = error.ok()] {
        teamViewText_ = text;
        emit TeamViewChanged(read);
    });
}

}  // namespace velmora::ui
