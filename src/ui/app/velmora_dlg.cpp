#include "ui/app/velmora_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include "archive/archive_texts.h"
#include "base/atomic_file.h"
#include "base/ini_file.h"
#include "base/language.h"
#include "team/team_pull.h"
#include "ui/app/about_dlg.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_resources.h"
#include "ui/report/report_dlg.h"
#include "ui/team/team_dlg.h"

namespace velmora::ui {
namespace {

// How often a close that has to wait (an exchange or a handed-over call is
// still running on the UI thread) is tried again.
constexpr int kCloseRetryMs = 10;

// Wide enough for every column of every tab (the Archive and Job tabs' lists are the
// widest), unless the screen is smaller.
constexpr QSize kDefaultSize{1280, 800};
// The window's size of the last run, in the data folder: section "Window".
constexpr const char* kWindowFile = "window.ini";
constexpr int kStatusPane0Width = 150;
constexpr int kStatusMinHeight = 20;
// How often the window looks whether the port has gone away.
constexpr int kPortWatchMs = 500;

constexpr int kWarmUpDelayMs = 300;  // after the window's events start to run
// How long stores must pause before a send to the team archive follows them.
constexpr int kSendPauseMs = 1000;

}  // namespace

CVelmoraDlg::CVelmoraDlg(Link& link, std::string demoPort, QWidget* parent)
    : QWidget(parent),
      link_(link),
      context_{link,       session_,   std::move(demoPort),
               &archiver_, &teamView_, team::TeamViewFolder(Config().AppDirectory)},
      titleText_(Q(keys::DlgName)),
      openText_(Q(keys::DlgStatOpen)),
      closedText_(Q(keys::DlgStatClose)),
      failureLabel_(Q(keys::CommStatFail)),
      successText_(Q(keys::CommStatSucess)),
      monitorPage_(&tabCtrl_, context_),
      historyPage_(&tabCtrl_, context_),
      firmWarePage_(&tabCtrl_, context_),
      imagePage_(&tabCtrl_, context_),
      archivePage_(&tabCtrl_, context_),
      jobPage_(&tabCtrl_, context_),
      team_(Config().AppDirectory),
      teamView_(archive::ArchiveFile(team::TeamViewFolder(Config().AppDirectory)),
                {.purpose = archive::OpenFor::Reading}),
      archiver_(archive::ArchiveFile(Config().AppDirectory)) {
    InitResources();
    setWindowIcon(ProgramIcon());

    for (int i = 0; i < static_cast<int>(keys::TabNames.size()); ++i)
        tabCtrl_.InsertItem(i, Q(keys::TabNames[i]));
    tabCtrl_.InsertItem(kArchiveTab, Q(keys::archive_tab::TabName));
    tabCtrl_.InsertItem(kJobTab, Q(keys::job_tab::TabName));
    // Created in the original order; only the Setting page starts visible.
    for (CPageDlg* page : std::array<CPageDlg*, kPageCount>{
             &monitorPage_, &historyPage_, &firmWarePage_, &imagePage_, &archivePage_, &jobPage_}) {
        tabCtrl_.AddPage(page);
        page->setVisible(page == &monitorPage_);
        ListenTo(*page);
    }
    tabCtrl_.SetCurSel(kSettingTab);
    // The records chosen in the Archive tab are offered to the Job tab's placing.
    connect(&archivePage_, &CArchiveDlg::RecordsChosen, &jobPage_, &CJobDlg::SetArchiveChoice);
    connect(&tabCtrl_, &CMyTabCtrl::SelChange, this, &CVelmoraDlg::OnSelChangeTab);

    separator_.setFrameShape(QFrame::HLine);
    separator_.setFrameShadow(QFrame::Sunken);

    connectionIcon_.setFixedSize(16, 16);
    connectionPane_.setLayout(&connectionLayout_);
    connectionLayout_.setContentsMargins(2, 0, 2, 0);
    connectionLayout_.setSpacing(4);
    connectionLayout_.addWidget(&connectionIcon_);
    connectionLayout_.addWidget(&connectionText_, 1);
    connectionPane_.setFixedWidth(kStatusPane0Width);
    statusBar_.addWidget(&connectionPane_);
    statusBar_.addWidget(&commText_, 1);
    cancelButton_.setText(Q(kCancelButtonText));
    cancelButton_.setFocusPolicy(Qt::NoFocus);
    cancelButton_.hide();
    statusBar_.addPermanentWidget(&cancelButton_);
    connect(&cancelButton_, &QPushButton::clicked, this, &CVelmoraDlg::CancelExchange);
    statusBar_.setMinimumHeight(kStatusMinHeight);

    setLayout(&layout_);
    layout_.setContentsMargins(6, 8, 6, 0);
    layout_.setSpacing(2);
    layout_.addWidget(&tabCtrl_, 1);
    layout_.addWidget(&separator_);
    layout_.addWidget(&statusBar_);

    ShowConnectionState(false);
    setWindowTitle(titleText_);
    resize(StartSize());
    if (ReadProfileString(Config().AppDirectory / kWindowFile, "Window", "Maximized") == "1")
        setWindowState(windowState() | Qt::WindowMaximized);

    archiver_.SetUnavailableHandler([this](const archive::ArchiveError& error) {
        // A file that can only be read is still used: what it says is enough.
        const QString why = Q(archive::ArchiveErrorText(error));
        const QString text = error.code == archive::ErrorCode::ReadOnly
                                 ? why
                                 : Q(keys::archive_tab::Unavailable).arg(why);
        // The writer ends before the window's members go: this window is still there.
        QMetaObject::invokeMethod(
            this, [this, text] { ShowArchiveUnavailable(text); }, Qt::QueuedConnection);
    });

    // A download stored while the Archive or the Job tab is shown appears there.
    archiver_.SetWrittenHandler([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                archivePage_.OnArchiveWritten();
                jobPage_.OnArchiveWritten();
                sendSoon_.start();
            },
            Qt::QueuedConnection);
    });

    ListenToTeam();

    portWatch_.setInterval(kPortWatchMs);
    connect(&portWatch_, &QTimer::timeout, this, &CVelmoraDlg::FollowPort);
    portWatch_.start();

    QTimer::singleShot(kWarmUpDelayMs, this, [this] { DrawHiddenPageOnce(0); });
}

void CVelmoraDlg::ListenToTeam() {
    sendSoon_.setSingleShot(true);
    sendSoon_.setInterval(kSendPauseMs);
    // Stores end with a send when this PC has joined a team archive: a download or a
    // placing reaches the team as soon as it can.
    connect(&sendSoon_, &QTimer::timeout, this, [this] {
        if (team_.Joined()) team_.RequestSend();
    });
    for (CTeamBar* bar : {&archivePage_.TeamBar(), &jobPage_.TeamBar()}) {
        connect(bar, &CTeamBar::SendClicked, this, &CVelmoraDlg::SendNow);
        connect(bar, &CTeamBar::SettingsClicked, this, &CVelmoraDlg::OpenTeamSettings);
        connect(bar, &CTeamBar::ViewChosen, this, &CVelmoraDlg::ShowTeamView);
    }
    connect(&team_, &CTeamLink::OutboxChanged, this, &CVelmoraDlg::ShowTeamTexts);
    connect(&team_, &CTeamLink::TeamViewChanged, this, [this](bool read) {
        ShowTeamTexts();
        if (!read) return;
        if (archivePage_.TeamShown()) archivePage_.Refresh(true);
        if (jobPage_.TeamShown()) jobPage_.Refresh();
    });
    // What this PC sent is in the team view once it is read again.
    connect(&team_, &CTeamLink::SendEnded, this, [this](bool sent) {
        if (sent && (archivePage_.TeamShown() || jobPage_.TeamShown())) team_.RequestPull();
    });
    connect(&team_, &CTeamLink::Notice, this, &CVelmoraDlg::ShowStatusText);
    ShowTeamTexts();
    team_.RequestCount();
}

void CVelmoraDlg::ShowTeamTexts() {
    const bool joined = team_.Joined();
    const QString outbox =
        team_.Busy() ? Q(keys::team_window::Sending) + QLatin1Char('\n') + team_.OutboxText()
                     : team_.OutboxText();
    for (CTeamBar* bar : {&archivePage_.TeamBar(), &jobPage_.TeamBar()}) {
        bar->SetTexts(outbox, team_.TeamViewText(), joined && !team_.Busy());
        bar->SetTeamOffered(joined);
    }
    // Left: there is no team to show.
    if (!joined) ShowTeamView(false);
}

void CVelmoraDlg::ShowTeamView(bool team) {
    for (CTeamBar* bar : {&archivePage_.TeamBar(), &jobPage_.TeamBar()}) bar->SetTeamChosen(team);
    const bool changed = archivePage_.TeamShown() != team || jobPage_.TeamShown() != team;
    if (archivePage_.TeamShown() != team) archivePage_.ShowTeam(team);
    if (jobPage_.TeamShown() != team) jobPage_.ShowTeam(team);
    if (team && changed) team_.RequestPull();
}

void CVelmoraDlg::SendNow() {
    // After the server refused the password, Send now asks for one for this run
    // (kept in memory only); the sends after a download never interrupt the user.
    if (team_.PasswordRefused()) {
        bool ok = false;
        const QString password = QInputDialog::getText(
            this, Q(keys::team_window::PasswordPromptTitle), Q(keys::team_window::PasswordPrompt),
            QLineEdit::Password, {}, &ok);
        if (ok && !password.isEmpty()) team_.SetPassword(password.toStdString());
    }
    team_.RequestSend();
}

void CVelmoraDlg::OpenTeamSettings() {
    CTeamDlg dialog(team_, this);
    FollowTeamSettings(dialog);
    dialog.exec();
}

void CVelmoraDlg::FollowTeamSettings(CTeamDlg& dialog) {
    connect(&dialog, &CTeamDlg::Joined, this, [this] {
        ShowTeamTexts();
        team_.RequestSend();
    });
    connect(&dialog, &CTeamDlg::Left, this, [this] {
        team_.Forget();
        ShowTeamTexts();
        team_.RequestCount();
    });
}

void CVelmoraDlg::DrawHiddenPageOnce(std::size_t index) {
    // The first showing of a page lays out and draws its widgets for the first time
    // (style, fonts, layouts): some 20 ms for the Archive tab, which would stall the
    // click on its tab. Each page not yet shown is drawn once off screen instead,
    // while the window is idle, one page an event-loop turn.
    const std::array<CPageDlg*, kPageCount> pages = Pages();
    if (index >= pages.size()) return;
    if (pages[index]->isHidden()) (void)pages[index]->grab();
    QTimer::singleShot(0, this, [this, index] { DrawHiddenPageOnce(index + 1); });
}

CVelmoraDlg::~CVelmoraDlg() {
    qApp->removeEventFilter(this);
    if (exchangeOnThread_) QApplication::restoreOverrideCursor();
    // The pages go with this window; none of their workers may outlive them.
    StopPageWorkers();
}

void CVelmoraDlg::ShowConnectionState(bool open) {
    connectedShown_ = open;
    connectionText_.setText(open ? openText_ : closedText_);
    connectionIcon_.setPixmap(QIcon(open ? kConnectedIconPath : kDisconnectedIconPath).pixmap(16));
}

void CVelmoraDlg::ShowCommState(bool success, const QString& failureText) {
    if (!success) commStatusText_ = failureText;
    commText_.SetFullText(success ? successText_ : failureLabel_ + QLatin1Char(':') + failureText);
}

void CVelmoraDlg::ShowStatusText(const QString& text) {
    commText_.SetFullText(text);
}

void CVelmoraDlg::ShowArchiveUnavailable(const QString& text) {
    ShowStatusText(text);
    ShowMessage(this, text, Q(msg::CaptionInfo), MsgButtons::Ok, MsgIcon::Exclamation);
}

void CVelmoraDlg::ListenTo(CPageDlg& page) {
    connect(&page, &CPageDlg::CommStateReported, this, &CVelmoraDlg::ShowCommState);
    connect(&page, &CPageDlg::ConnectionChanged, this, &CVelmoraDlg::ShowConnectionState);
    connect(&page, &CPageDlg::StatusNotice, this, &CVelmoraDlg::ShowStatusText);
    connect(&page, &CPageDlg::TabsLocked, this, [this](bool locked) {
        FirmwareBusy = locked ? 1 : 0;
        ApplyTabLock();
    });
    connect(&page, &CPageDlg::ExchangeBusy, this,
            [this, &page](bool running) { OnExchangeBusy(page, running, true); });
    connect(&page, &CPageDlg::DownloadBusy, this,
            [this, &page](bool running) { OnExchangeBusy(page, running, false); });
    // After whatever a page reports, the connection pane is checked against the port.
    connect(&page, &CPageDlg::CommStateReported, this, &CVelmoraDlg::FollowPort);
    connect(&page, &CPageDlg::ConnectionChanged, this, &CVelmoraDlg::FollowPort);
    connect(&page, &CPageDlg::StatusNotice, this, &CVelmoraDlg::FollowPort);
    connect(&page, &CPageDlg::TabsLocked, this, &CVelmoraDlg::FollowPort);
    connect(&page, &CPageDlg::ExchangeBusy, this, &CVelmoraDlg::FollowPort);
    connect(&page, &CPageDlg::DownloadBusy, this, &CVelmoraDlg::FollowPort);
}

void CVelmoraDlg::FollowPort() {
    if (!connectedShown_ || link_.Port().IsOpen()) return;
    ShowConnectionState(false);
    monitorPage_.SetConnectButtons(false);
}

void CVelmoraDlg::OnExchangeBusy(CPageDlg& page, bool running, bool onThisThread) {
    if (running) {
        cancelPage_ = &page;
        if (onThisThread && !exchangeOnThread_) {
            exchangeOnThread_ = true;
            QApplication::setOverrideCursor(Qt::BusyCursor);
            commTextBefore_ = commText_.FullText();
            commText_.SetFullText(Q(kExchangeRunningText));
        }
        cancelButton_.show();
        qApp->installEventFilter(this);
    } else {
        if (onThisThread && exchangeOnThread_) {
            exchangeOnThread_ = false;
            QApplication::restoreOverrideCursor();
            // The page's own report, if it made one, stays.
            if (commText_.FullText() == Q(kExchangeRunningText))
                commText_.SetFullText(commTextBefore_);
        }
        if (cancelPage_ == &page) cancelPage_ = nullptr;
        if (!cancelPage_) {
            cancelButton_.hide();
            qApp->removeEventFilter(this);
        }
    }
    ApplyTabLock();
}

void CVelmoraDlg::CancelExchange() {
    if (cancelPage_) cancelPage_->CancelExchange();
}

bool CVelmoraDlg::eventFilter(QObject* watched, QEvent* event) {
    if (cancelPage_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            CancelExchange();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CVelmoraDlg::ApplyTabLock() {
    tabCtrl_.TabBar().setEnabled(FirmwareBusy == 0 && !exchangeOnThread_);
}

void CVelmoraDlg::OnSelChangeTab(int index) {
    if (FirmwareBusy != 0) {
        // The visible page stays; so does the tab that shows it as selected.
        tabCtrl_.SetCurSel(visiblePage_);
        return;
    }
    tabCtrl_.TabBar().setFocus();
    ShowPage(index);
}

void CVelmoraDlg::ShowPage(int index) {
    if (index < kSettingTab || index > kJobTab) return;
    visiblePage_ = index;
    const std::array<CPageDlg*, kPageCount> pages = Pages();
    for (int i = 0; i < static_cast<int>(pages.size()); ++i)
        if (i != index) pages[i]->hide();
    pages[index]->show();
    switch (index) {
        case kSettingTab:
            monitorPage_.SetConnectButtons(link_.Port().IsOpen());
            monitorPage_.ShowSessionValues();
            break;
        case kHistoryTab:
            historyPage_.EnsureCsvFolder();
            break;
        case kImageTab:
            imagePage_.EnsureJpgFolder();
            imagePage_.RefreshImageList();
            break;
        case kArchiveTab:
            archivePage_.Refresh();
            break;
        case kJobTab:
            jobPage_.Refresh();
            break;
        default:
            break;
    }
}

std::array<CPageDlg*, kPageCount> CVelmoraDlg::Pages() {
    return {&monitorPage_, &historyPage_, &imagePage_, &firmWarePage_, &archivePage_, &jobPage_};
}

void CVelmoraDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutMenuText));
    if (menu.exec(event->globalPos()) == about) {
        CAboutDlg box(this);
        box.exec();
    }
}

void CVelmoraDlg::closeEvent(QCloseEvent* event) {
    // A call handed over by a worker is running on this thread (it may show a
    // message box): the worker waits for it, so it cannot be joined yet.
    if (CloseMustWait()) {
        event->ignore();
        RetryCloseSoon();
        return;
    }
    StopPageWorkers();
    // A report still being written is abandoned rather than waited for; nothing of
    // it is written.
    for (CReportDlg* report : findChildren<CReportDlg*>()) report->Stop();
    // An exchange of a page is in flight and this close arrived through its
    // pump: end it early and close once it has returned.
    if (link_.LineBusy()) {
        link_.Cancel();
        event->ignore();
        RetryCloseSoon();
        return;
    }
    SendDisconnectAndClosePort();
    RememberSize();
    event->accept();
}

QSize CVelmoraDlg::StartSize() const {
    const std::filesystem::path file = Config().AppDirectory / kWindowFile;
    bool wide = false, high = false;
    const QSize remembered(
        QString::fromStdString(ReadProfileString(file, "Window", "Width")).toInt(&wide),
        QString::fromStdString(ReadProfileString(file, "Window", "Height")).toInt(&high));
    QSize size = wide && high && !remembered.isEmpty() ? remembered : kDefaultSize;
    // Within the screen, leaving room for the frame and the desktop's panels.
    if (const QScreen* shown = screen()) {
        const QSize room = shown->availableGeometry().size() - QSize(16, 48);
        size = size.boundedTo(room);
    }
    return size.expandedTo(minimumSizeHint());
}

void CVelmoraDlg::RememberSize() const {
    const bool maximized = isMaximized();
    const QSize size = maximized ? normalGeometry().size() : this->size();
    if (size.isEmpty()) return;
    const std::string text = "[Window]\r\nWidth=" + std::to_string(size.width()) +
                             "\r\nHeight=" + std::to_string(size.height()) +
                             "\r\nMaximized=" + (maximized ? "1" : "0") + "\r\n";
    // A size that cannot be kept costs the next start its size only: nothing to say.
    std::error_code ec;
    std::filesystem::create_directories(Config().AppDirectory, ec);
    (void)ReplaceFile(Config().AppDirectory / kWindowFile, text);
}

bool CVelmoraDlg::CloseMustWait() {
    for (CPageDlg* page : Pages())
        if (page->Worker().InCall()) return true;
    return false;
}

void CVelmoraDlg::RetryCloseSoon() {
    if (closeRetryPending_) return;
    closeRetryPending_ = true;
    QTimer::singleShot(kCloseRetryMs, this, [this] {
        closeRetryPending_ = false;
        close();
    });
}

void CVelmoraDlg::StopPageWorkers() {
    for (CPageDlg* page : Pages()) page->Worker().StopAndJoin();
}

void CVelmoraDlg::SendDisconnectAndClosePort() {
    SendDisconnectOnExit(link_, session_);
}

}  // namespace velmora::ui
