#pragma once
// The window's link to its team archive: one thread of its own that sends this
// PC's archive, reads the team archive into the team view and tries addresses for
// the settings dialog, one errand at a time. Each opens its own connections (the
// local archive, the team view's copy, the server), so neither the window's thread
// nor the archive's thread ever waits for the network. Sends asked for while one
// runs are done once after it; a failure is told once until a send succeeds.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "team/team_client.h"

namespace velmora::ui {

class CTeamLink : public QObject {
    Q_OBJECT
  public:
    explicit CTeamLink(std::filesystem::path dataFolder, QObject* parent = nullptr);
    // Waits for the errand under way (a send ends within a batch).
    ~CTeamLink() override;

    const std::filesystem::path& DataFolder() const { return dataFolder_; }
    bool Joined() const;

    // Sends what waits, now or once the send under way has ended; then counts.
    void RequestSend();
    // Counts what waits (after a download while the team archive is down, say).
    void RequestCount();
    // Brings the team view up to date with the team archive.
    void RequestPull();
    // Tries `uri`: `done` gets the outcome on the window's thread.
    void Test(std::string uri, std::function<void(const team::TeamError&)> done);
    // Joins the team archive at `uri` as velmora-cli team join does (its checks of the
    // address may reach the server, so off the window's thread): `done` gets the outcome
    // on the window's thread.
    void Join(std::string uri, std::function<void(const team::TeamError&)> done);
    // This PC left its team archive: the team view's line forgets the last failure,
    // and a failure of a later team is told again.
    void Forget();
    // A password typed for this run only: handed to libpq in memory, never written.
    void SetPassword(std::string password);

    // What waits and the last send; in the run's language.
    const QString& OutboxText() const { return outboxText_; }
    // "Team archive as of ...", or why it could not be read and when it last was.
    const QString& TeamViewText() const { return teamViewText_; }
    bool Busy() const { return busy_; }
    // The last send failed on the user name or password (and was told).
    bool PasswordRefused() const { return toldFailure_ == team::TeamErrorCode::AuthFailed; }

  signals:
    // OutboxText or Busy changed.
    void OutboxChanged();
    // TeamViewText changed; `read` when a pull ended well (the team view may hold more).
    void TeamViewChanged(bool read);
    // A send ended; `ok` when nothing is left waiting.
    void SendEnded(bool ok);
    // A failure to tell the user, once per kind until a send succeeds.
    void Notice(const QString& text);

  private:
    enum class Background { Count, Send, Pull };
    void Run(std::stop_token stop);
    void Do(Background errand);
    void Count();
    void Send();
    void Pull();
    void Wake(Background errand);
    void Ask(std::function<team::TeamError()> work,
             std::function<void(const team::TeamError&)> done);
    // Runs `call` on the window's thread (queued; dropped once this object is gone).
    void OnWindow(std::function<void()> call);
    std::string Password() const;

    const std::filesystem::path dataFolder_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    bool countWanted_ = false;
    bool sendWanted_ = false;
    bool pullWanted_ = false;
    // The settings dialog's errands (tests, joins), in the order asked.
    using Errand =
        std::pair<std::function<team::TeamError()>, std::function<void(const team::TeamError&)>>;
    std::deque<Errand> asked_;
    std::string password_;
    // On the window's thread.
    QString outboxText_;
    QString teamViewText_;
    bool busy_ = false;
    // The last failure told: a failure is told once until a send succeeds, unless
    // it says something else (another server, another reason).
    std::optional<team::TeamErrorCode> toldFailure_;
    QString toldText_;
    std::jthread thread_;  // last: started once the rest exists, joined first
};

}  // namespace velmora::ui
