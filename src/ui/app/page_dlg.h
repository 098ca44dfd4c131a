#pragma once
// What every tab page shares: the line and the session of the connected
// splicer, its worker thread, the page colour as background and the control
// colours. A page reports upward through its signals; it never knows the window.
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "archive/archive_writer.h"
#include "base/messages.h"
#include "protocol/link.h"
#include "settings/parameter_exchange.h"
#include "ui/app/page_worker.h"

namespace velmora::ui {

// What the pages of one window share.
struct PageContext {
    Link& link;
    ParameterSession& session;
    // The device of the built-in virtual splicer ("" when none runs).
    std::string demoPort;
    // The thread that keeps the archive; null where there is none.
    archive::ArchiveWriter* archive = nullptr;
    // The thread that reads the team view (this PC's copy of the team archive) and
    // the data folder of that copy; null and empty where there is none.
    archive::ArchiveWriter* teamView = nullptr;
    std::filesystem::path teamFolder{};
};

// Our own texts while an exchange runs.
inline constexpr Message kExchangeRunningText{"正在通讯……按 Esc 或“取消”停止",
                                              "Communicating... press Esc or Cancel to stop"};
inline constexpr Message kCancelButtonText{"取消", "Cancel"};

class CPageDlg : public QWidget {
    Q_OBJECT
  public:
    // For its lifetime, shows that an exchange runs on the window's thread: the
    // page's controls are disabled and the window offers Cancel (and Escape).
    class ExchangeScope {
      public:
        explicit ExchangeScope(CPageDlg& page);
        ~ExchangeScope();
        ExchangeScope(const ExchangeScope&) = delete;
        ExchangeScope& operator=(const ExchangeScope&) = delete;

      private:
        CPageDlg& page_;
    };

    CPageDlg(QWidget* parent, PageContext& context);
    ~CPageDlg() override;

    Link& GetLink() { return context_.link; }
    ParameterSession& Session() { return context_.session; }
    const std::string& DemoPort() const { return context_.demoPort; }
    // The thread of the archive the page reads: this PC's, or the team view's while
    // the page shows it; null where the window keeps none. Stores of what comes from
    // the splicer (StoreInArchive) always go to this PC's.
    archive::ArchiveWriter* Archiver() { return teamShown_ ? context_.teamView : context_.archive; }
    // The data folder of that archive (its images are under it).
    std::filesystem::path DataFolder() const;
    // True while the page shows the team view: read-only.
    bool TeamShown() const { return teamShown_; }
    // The connected splicer as the archive names it (its folder and serial number).
    archive::SplicerIdentity ArchiveIdentity();

    // Hands `store` to the archive's thread (callable from any thread). A failure it
    // returns is shown in pane 1; an archive that cannot be opened is reported once
    // by the window, and nothing is stored.
    void StoreInArchive(std::function<archive::ArchiveError(archive::Archive&)> store);

    // The page's one worker thread. A page whose worker uses the page's own
    // members stops it in its destructor (this base is destroyed after them).
    PageWorker& Worker() { return worker_; }

    // The shared control-colour rule as a style sheet: blue text on edits and
    // static texts (which keep a transparent background), black elsewhere.
    // A page that needs a style sheet of its own appends to this one.
    static QString ControlColourSheet();

    // Pane 1: "Comm Sucess", or the failure label with `failureText`.
    void ShowCommState(bool success, const std::string& failureText = {});
    // An OK box, captioned "提示" / "Info" unless told otherwise.
    void ShowBox(const std::string& text, const Message& caption = msg::CaptionInfo);
    // With the port closed: says so in the failure pane and a box, and returns
    // true; the caller then does nothing else.
    bool RefuseClosedPort();

    // True while an exchange of this page runs on the window's thread.
    bool ExchangeRunning() const { return exchangeDepth_ > 0; }
    // The user cancelled: ends the running wait on the line. A page whose worker
    // downloads stops that worker instead.
    virtual void CancelExchange();

  signals:
    // An exchange on the window's thread began (true) or ended (false).
    void ExchangeBusy(bool running);
    // A download on the page's worker that Cancel may stop began (true) or ended (false).
    void DownloadBusy(bool running);
    // The outcome of an exchange, for pane 1.
    void CommStateReported(bool success, const QString& failureText);
    // The port was opened or closed (or went away), for pane 0.
    void ConnectionChanged(bool open);
    // A notice of the page's own for pane 1, shown as it is.
    void StatusNotice(const QString& text);
    // While true, the tabs must stay where they are (a firmware transfer runs).
    void TabsLocked(bool locked);

  protected:
    void SetTeamShown(bool shown) { teamShown_ = shown && context_.teamView; }
    // Fills the page with PageColour; a page that paints more calls this first.
    void paintEvent(QPaintEvent* event) override;

  private:
    PageContext& context_;
    int exchangeDepth_ = 0;
    bool teamShown_ = false;
    PageWorker worker_;
};

}  // namespace velmora::ui
