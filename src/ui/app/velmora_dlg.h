#pragma once
// The program's only top-level window: six tab pages, the status bar with the
// connection and communication panes, the about box, and the close handling
// that stops the page workers and says goodbye to the splicer.
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "archive/archive_writer.h"
#include "protocol/link.h"
#include "ui/app/my_tab_ctrl.h"
#include "ui/app/team_link.h"
#include "ui/archive/archive_dlg.h"
#include "ui/firmware/firmware_dlg.h"
#include "ui/history/history_dlg.h"
#include "ui/images/image_dlg.h"
#include "ui/jobs/job_dlg.h"
#include "ui/settings/monitor_dlg.h"
#include "ui/widgets/elided_label.h"

namespace velmora::ui {

class CTeamDlg;

// Tab positions of the pages.
enum PageTab {
    kSettingTab = 0,
    kHistoryTab = 1,
    kImageTab = 2,
    kFirmWareTab = 3,
    kArchiveTab = 4,
    kJobTab = 5
};
inline constexpr int kPageCount = 6;

class CVelmoraDlg : public QWidget {
    Q_OBJECT
  public:
    // `demoPort` is the device of the built-in virtual splicer (empty when none
    // runs); the Setting page lists it first.
    explicit CVelmoraDlg(Link& link, std::string demoPort = {}, QWidget* parent = nullptr);
    ~CVelmoraDlg() override;

    // The status operations, on the UI thread; the pages reach them through their signals.
    // Pane 0: the connection text and icon.
    void ShowConnectionState(bool open);
    // Pane 1: "Comm Sucess", or the failure label, a colon and the failure's text.
    void ShowCommState(bool success, const QString& failureText);
    // Pane 1 showing `text` as it is (a page's own notice, not an exchange's outcome).
    void ShowStatusText(const QString& text);

    // 1 while a firmware transfer runs; tab changes are ignored meanwhile.
    std::uint8_t FirmwareBusy = 0;

    Link& GetLink() { return link_; }
    ParameterSession& Session() { return session_; }
    // The text of the last failure shown in pane 1.
    const QString& CommStatusText() const { return commStatusText_; }

    CMyTabCtrl& TabCtrl() { return tabCtrl_; }
    CMonitorDlg& MonitorPage() { return monitorPage_; }
    CHistoryDlg& HistoryPage() { return historyPage_; }
    CImageDlg& ImagePage() { return imagePage_; }
    CFirmWareDlg& FirmWarePage() { return firmWarePage_; }
    CArchiveDlg& ArchivePage() { return archivePage_; }
    CJobDlg& JobPage() { return jobPage_; }
    // The thread that keeps the archive (FS/archive.db under the program's folder).
    archive::ArchiveWriter& Archiver() { return archiver_; }
    // Sending to the team archive and reading it into the team view.
    CTeamLink& Team() { return team_; }
    archive::ArchiveWriter& TeamViewArchiver() { return teamView_; }
    // The team archive's settings, as a modal dialog.
    void OpenTeamSettings();
    // The window follows what `dialog` does: a join sends, a leave ends the team view.
    void FollowTeamSettings(CTeamDlg& dialog);
    void SendNow();
    // Both the Archive and the Job tab show the team view (`team`) or this PC's archive.
    void ShowTeamView(bool team);
    // The tab whose page is shown.
    int VisiblePage() const { return visiblePage_; }

    QString ConnectionText() const { return connectionText_.text(); }
    QString CommText() const { return commText_.FullText(); }
    // The label of pane 1: a long text ends in an ellipsis rather than widen the window.
    const CElidedLabel& CommLabel() const { return commText_; }

    // Offered while an exchange on this thread or a page's download runs.
    QPushButton& CancelButton() { return cancelButton_; }
    bool CancelOffered() const { return cancelPage_ != nullptr; }
    // What Cancel and Escape do: the page that offered it ends its exchange.
    void CancelExchange();
    // Pane 0 and the Setting page's buttons follow a port that has gone away.
    void FollowPort();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // While Cancel is offered: Escape on any widget of this window cancels.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The platform has no system menu of ours: the about box is on the context menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnSelChangeTab(int index);
    void ShowPage(int index);
    void DrawHiddenPageOnce(std::size_t index);
    void ApplyTabLock();
    void ListenTo(CPageDlg& page);
    void OnExchangeBusy(CPageDlg& page, bool running, bool onThisThread);
    bool CloseMustWait();
    void RetryCloseSoon();
    void StopPageWorkers();
    void SendDisconnectAndClosePort();
    std::array<CPageDlg*, kPageCount> Pages();
    // Once per run: the archive cannot be used; the program goes on without it.
    void ShowArchiveUnavailable(const QString& text);
    void ListenToTeam();
    // The team bars of the Archive and Job tabs follow the sending and the team view.
    void ShowTeamTexts();
    // The size the window opens at: the last run's, or one that shows every column
    // of the widest tab; within the screen either way.
    QSize StartSize() const;
    // Kept in the data folder when the window closes.
    void RememberSize() const;

    Link& link_;
    ParameterSession session_;
    PageContext context_;
    QString commStatusText_;

    // The five texts of section "DlgPara".
    QString titleText_;
    QString openText_;
    QString closedText_;
    QString failureLabel_;
    QString successText_;

    CMyTabCtrl tabCtrl_;
    CMonitorDlg monitorPage_;
    CHistoryDlg historyPage_;
    CFirmWareDlg firmWarePage_;
    CImageDlg imagePage_;
    CArchiveDlg archivePage_;
    CJobDlg jobPage_;
    int visiblePage_ = kSettingTab;

    QFrame separator_;
    QStatusBar statusBar_;
    QWidget connectionPane_;
    QLabel connectionIcon_;
    QLabel connectionText_;
    CElidedLabel commText_;
    QPushButton cancelButton_;
    QHBoxLayout connectionLayout_;  // layouts hold widgets only, never owning them
    QVBoxLayout layout_;

    bool closeRetryPending_ = false;
    bool connectedShown_ = false;
    // The page whose exchange or download Cancel ends, or null.
    CPageDlg* cancelPage_ = nullptr;
    // An exchange is running on this thread (the busy cursor is set).
    bool exchangeOnThread_ = false;
    // Pane 1 before the exchange text replaced it.
    QString commTextBefore_;
    QTimer portWatch_;
    // Stores come in bursts (a download, a placing): a send follows once they pause.
    QTimer sendSoon_;
    CTeamLink team_;
    archive::ArchiveWriter teamView_;
    // Last: it is joined first when the window goes, while the pages it reports
    // to are still there (their workers are stopped before, in the destructor).
    archive::ArchiveWriter archiver_;
};

}  // namespace velmora::ui
