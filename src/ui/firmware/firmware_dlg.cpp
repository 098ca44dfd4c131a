#include "ui/firmware/firmware_dlg.h"

#include <QFileDialog>
#include <QMetaObject>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "archive/archive_texts.h"
#include "archive/snapshot_backup.h"
#include "base/language.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "firmware/firmware_texts.h"
#include "protocol/outcome_texts.h"
#include "settings/settings_backup.h"
#include "settings/settings_texts.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_pump.h"

namespace velmora::ui {
namespace {

constexpr Message kSelectFile{"请正确选择文件", "Please Select File"};
constexpr Message kCaptionWarning{"警告", "warning"};
constexpr Message kStartQuestion{
    "是否开始更新程序？注意：在更新过程中，不能断开连接",
    "Whether to start to update the program? Note:In the process of updating, and cannot be "
    "disconnected"};

constexpr int kPageMargin = 24;
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 30;
constexpr int kInfoPointSize = 12;

QString Caption(const TextKey& key) {
    return Q(key);
}

QString ChooseWithFileDialog(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), QStringLiteral("(*.bin)"));
}

}  // namespace

CFirmWareDlg::CFirmWareDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      m_btnBrowse(Caption(keys::BtnBrowse)),
      m_btnSend(Caption(keys::BtnSend)) {
    m_editPath.setReadOnly(true);
    // Not a Tab stop: when Send is disabled under the focus, the focus would move
    // here and select the whole path for the length of the transfer.
    m_editPath.setFocusPolicy(Qt::ClickFocus);
    m_staticInfo.setText(Caption(keys::TxtInfo1));
    m_staticInfo.setWordWrap(true);
    m_staticInfo.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont infoFont = m_staticInfo.font();
    infoFont.setPointSize(kInfoPointSize);
    m_staticInfo.setFont(infoFont);
    m_btnSend.setDefault(true);
    m_progress.setRange(0, 100);
    m_progress.setValue(0);
    LayOutControls();

    connect(&m_btnBrowse, &QPushButton::clicked, this, &CFirmWareDlg::OnBnClickedBrowse);
    connect(&m_btnSend, &QPushButton::clicked, this, &CFirmWareDlg::OnBnClickedSend);
}

CFirmWareDlg::~CFirmWareDlg() {
    Worker().StopAndJoin();
}

void CFirmWareDlg::LayOutControls() {
    for (CWBButton* button : {&m_btnBrowse, &m_btnSend})
        button->setMinimumSize(kButtonWidth, kButtonHeight);
    m_staticInfo.setMinimumHeight(3 * m_staticInfo.fontMetrics().lineSpacing());

    setLayout(&layout_);
    layout_.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    layout_.setHorizontalSpacing(16);
    layout_.setVerticalSpacing(18);
    layout_.addWidget(&m_editPath, 0, 0);
    layout_.addWidget(&m_btnBrowse, 0, 1);
    layout_.addWidget(&m_staticInfo, 1, 0);
    layout_.addWidget(&m_btnSend, 1, 1, Qt::AlignTop);
    layout_.addWidget(&m_progress, 2, 0, 1, 2);
    layout_.setColumnStretch(0, 1);
    layout_.setRowStretch(3, 1);
}

void CFirmWareDlg::SetFileChooser(FileChooser chooser) {
    chooser_ = std::move(chooser);
}

void CFirmWareDlg::SetInfo(const QString& text) {
    m_staticInfo.setText(text);
    emit InfoChanged(text);
}

void CFirmWareDlg::OnBnClickedBrowse() {
    // The file of a running update stays as it is.
    if (updateRunning_) return;
    m_editPath.clear();
    m_bFileChosen = 0;
    const QString chosen = chooser_ ? chooser_(this) : ChooseWithFileDialog(this);
    if (chosen.isEmpty()) {
        // The path is gone, so "File already selected" would no longer be true.
        SetInfo(Caption(keys::TxtInfo1));
        return;
    }
    m_editPath.setText(chosen);
    SetInfo(Caption(keys::TxtInfo3));
    std::error_code ec;
    if (std::filesystem::exists(PathFromText(chosen.toStdString()), ec)) m_bFileChosen = 1;
}

void CFirmWareDlg::OnBnClickedSend() {
    // A handshake now would land in the middle of the firmware bytes.
    if (updateRunning_) return;
    if (!m_bFileChosen) {
        ShowBox(Say(kSelectFile), kCaptionWarning);
        return;
    }
    const MsgAnswer answer = ShowMessage(this, Q(kStartQuestion), Q(msg::CaptionQuestion),
                                         MsgButtons::YesNo, MsgIcon::Exclamation);
    if (answer != MsgAnswer::Yes) return;
    if (RefuseClosedPort()) return;
    const std::filesystem::path path = PathFromText(m_editPath.text().toStdString());
    if (RefuseUnsendableFile(path)) return;
    m_strFilePath = path;
    if (!backupBeforeUpdate_) {
        BeginHandshakes();
        return;
    }
    // An update may reset the settings: they are kept first, or the user says to go on without.
    LockForUpdate(true);
    BackUpSettings();
}

void CFirmWareDlg::BackUpSettings() {
    BackupTaken taken;
    {
        const ExchangeScope busy(*this);
        taken = TakeBackup(GetLink(), Session(), UiPump());
    }
    const StepResult& read = taken.step;
    if (!read.ok && read.outcome == Outcome::Cancelled) {
        LockForUpdate(false);
        return;
    }
    if (!read.ok) return ContinueAfterBackup(StepStatusText(read));
    if (!Archiver()) return ContinueAfterBackup(Text(keys::archive_tab::NoArchive));
    const archive::SplicerIdentity splicer = ArchiveIdentity();
    const std::vector<archive::GroupBytes> groups = archive::SnapshotGroups(taken.backup);
    Archiver()->Post(
        [this, splicer, groups](archive::Archive* archive, const archive::ArchiveError& error) {
            // Worded as every archive failure: the file, what went wrong, what to do.
            std::string why = archive ? std::string() : archive::ArchiveErrorText(error);
            if (archive) {
                const archive::StoreResult stored =
                    archive->StoreSnapshot(splicer, archive::reason::BeforeFirmware, groups);
                if (!stored.ok()) why = archive::ArchiveErrorText(stored.error);
            }
            if (why.empty() && !archive) why = Text(keys::archive_tab::NoArchive);
            // The writer ends before the pages go, so the page is still there.
            QMetaObject::invokeMethod(
                this, [this, why] { ContinueAfterBackup(why); }, Qt::QueuedConnection);
        });
}

void CFirmWareDlg::ContinueAfterBackup(const std::string& why) {
    LockForUpdate(false);
    if (!why.empty()) {
        const MsgAnswer answer =
            ShowMessage(this, Q(keys::archive_tab::NoBackup).arg(Q(why)), Q(msg::CaptionQuestion),
                        MsgButtons::YesNo, MsgIcon::Exclamation);
        if (answer != MsgAnswer::Yes) return;
    } else {
        SetInfo(Q(keys::archive_tab::BackedUp));
        emit StatusNotice(Q(keys::archive_tab::BackedUp));
    }
    BeginHandshakes();
}

void CFirmWareDlg::BeginHandshakes() {
    std::optional<LineClaim> claim = GetLink().ClaimLine();
    if (!claim) {
        ShowBox(Say(msg::LineBusy), msg::CaptionInfo);
        return;
    }

    m_progress.setValue(0);
    m_nUpdateState = UpdateState::FirstRefused;
    LockForUpdate(true);
    HandshakeCallbacks callbacks;
    callbacks.firstAnswered = [this] { SetInfo(Caption(keys::TxtInfo2)); };
    callbacks.splicerText = [this](const std::string& text) { SetInfo(text); };
    HandshakeResult result;
    {
        const ExchangeScope busy(*this);
        result = RunFirmwareHandshakes(GetLink(), *claim, callbacks, UiPump());
    }
    m_nUpdateState = result.state;
    if (!result.textArrived) ShowCommState(false, HandshakeStatusText(result));
    if (!result.Accepted()) {
        claim.reset();
        EndWithoutTransfer(result);
        return;
    }
    if (!StartTransfer(std::move(*claim))) {
        LockForUpdate(false);
        ShowBox(Say(msg::LineBusy), msg::CaptionInfo);
    }
}

// Checked before the handshakes: once they are accepted the splicer waits for a
// file, and a file that cannot be sent would leave it waiting for nothing.
bool CFirmWareDlg::RefuseUnsendableFile(const std::filesystem::path& path) {
    const FirmwareFileProblem problem = CheckFirmwareFile(path);
    if (problem == FirmwareFileProblem::None) return false;
    m_bFileChosen = 0;
    ShowBox(FirmwareFileProblemText(problem, path), msg::CaptionInfo);
    return true;
}

void CFirmWareDlg::LockForUpdate(bool locked) {
    updateRunning_ = locked;
    m_btnSend.setEnabled(!locked);
    m_btnBrowse.setEnabled(!locked);
    emit TabsLocked(locked);
}

void CFirmWareDlg::EndWithoutTransfer(const HandshakeResult& result) {
    LockForUpdate(false);
    if (!GetLink().Port().IsOpen()) emit ConnectionChanged(false);
    // The window is closing: nobody is left to read a box.
    if (result.outcome == Outcome::Cancelled) return;
    ShowBox(NotStartedText(result), msg::CaptionInfo);
}

bool CFirmWareDlg::StartTransfer(LineClaim claim) {
    // The task must be copyable, the claim is not: the task shares it and moves it out once.
    auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
    const std::filesystem::path file = m_strFilePath;
    return Worker().Start([this, held, file](std::stop_token stop) {
        // Handed over without waiting: the line keeps its pace whatever the window does.
        // Calls still queued when the page goes are dropped with it.
        FirmwareCallbacks callbacks;
        callbacks.progress = [this](const FirmwareProgress& progress) {
            QMetaObject::invokeMethod(
                this, [this, progress] { ShowProgress(progress); }, Qt::QueuedConnection);
        };
        callbacks.finished = [this](const FirmwareResult& result) {
            QMetaObject::invokeMethod(
                this, [this, result] { FinishFirmwareUpdate(result); }, Qt::QueuedConnection);
        };
        try {
            FirmwareSendThread(GetLink(), std::move(**held), file, std::move(stop), callbacks);
        } catch (const std::exception&) {
            // The page must unlock whatever happened below; the port is left closed.
            GetLink().Port().ClosePort();
            FirmwareResult failed;
            failed.line = Outcome::WriteFailed;
            callbacks.finished(failed);
        }
    });
}

void CFirmWareDlg::ShowProgress(const FirmwareProgress& progress) {
    SetInfo(progress.text);
    m_progress.setValue(progress.percent);
}

void CFirmWareDlg::FinishFirmwareUpdate(const FirmwareResult& result) {
    // The worker told its end as its last act; joining it now lets the next update start.
    Worker().StopAndJoin();
    LockForUpdate(false);
    const std::string text = FirmwareEndText(result, m_strFilePath);
    SetInfo(text);
    // The worker closed the port at every end: the splicer must be connected again.
    Session().state = ConnectionState::Disconnected;
    Session().readSinceConnect = {};
    emit ConnectionChanged(false);
    switch (result.end) {
        case FirmwareEnd::Finished:
            m_progress.setValue(100);
            m_bFileChosen = 0;
            break;
        case FirmwareEnd::FileUnreadable:
            m_bFileChosen = 0;
            ShowBox(text, msg::CaptionInfo);
            break;
        case FirmwareEnd::LineFailed: {
            // The file stays chosen: connect again and send it again.
            const Message* reason = StandardFailureText(result.line);
            ShowCommState(false, reason ? Say(*reason) : std::string());
            ShowBox(text, msg::CaptionInfo);
            break;
        }
        case FirmwareEnd::Cancelled:
            break;
    }
}

}  // namespace velmora::ui
