#pragma once
// The "FirmWare" page: choose a firmware file, then send it to the splicer
// after two handshakes, with the percentage and the end text on the page.
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "firmware/firmware_update.h"
#include "ui/app/page_dlg.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CFirmWareDlg : public CPageDlg {
    Q_OBJECT
  public:
    // Asks the user for a firmware file: its full path, or empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;

    CFirmWareDlg(QWidget* parent, PageContext& context);
    // Stops and joins the transfer worker before the controls it reports to go.
    ~CFirmWareDlg() override;

    // The handlers of the page's two buttons.
    void OnBnClickedBrowse();
    void OnBnClickedSend();

    // Replaces the file dialog (tests answer it); an empty chooser restores it.
    void SetFileChooser(FileChooser chooser);
    // Whether Send first keeps a backup of every group in the archive (it does unless told).
    void SetBackupBeforeUpdate(bool backup) { backupBeforeUpdate_ = backup; }

    // True from the start of the handshakes until the transfer has ended.
    bool UpdateRunning() const { return updateRunning_; }
    bool FileChosen() const { return m_bFileChosen != 0; }
    UpdateState HandshakeState() const { return m_nUpdateState; }
    QString InfoText() const { return m_staticInfo.text(); }
    QString PathText() const { return m_editPath.text(); }
    CWBButton& SendButton() { return m_btnSend; }
    CWBButton& BrowseButton() { return m_btnBrowse; }
    QProgressBar& Progress() { return m_progress; }

  signals:
    // Every change of the information text, in order (the percentages included).
    void InfoChanged(const QString& text);

  private:
    void LayOutControls();
    void SetInfo(const QString& text);
    void SetInfo(const std::string& text) { SetInfo(QString::fromStdString(text)); }
    // The reasons a confirmed Send goes no further, each already told to the user.
    bool RefuseUnsendableFile(const std::filesystem::path& path);
    // Locks the tabs and holds off Send and Browse (true), or undoes both.
    void LockForUpdate(bool locked);
    // Handshakes that did not lead to a transfer: unlock and say so.
    void EndWithoutTransfer(const HandshakeResult& result);
    // Reads every group and hands the backup to the archive; ends in ContinueAfterBackup.
    void BackUpSettings();
    // `why` is "" when the backup is kept; otherwise the user chooses whether to go on.
    void ContinueAfterBackup(const std::string& why);
    // The handshakes, then the transfer on the worker.
    void BeginHandshakes();
    bool StartTransfer(LineClaim claim);
    void ShowProgress(const FirmwareProgress& progress);
    // The worker's end, on the page's thread: unlock, show the end text or the failure.
    void FinishFirmwareUpdate(const FirmwareResult& result);

    FileChooser chooser_;
    std::filesystem::path m_strFilePath;
    std::uint8_t m_bFileChosen = 0;
    UpdateState m_nUpdateState = UpdateState::NotStarted;
    bool updateRunning_ = false;
    bool backupBeforeUpdate_ = true;

    // Children before the layout, which only arranges them.
    CWBButton m_btnBrowse;
    CWBButton m_btnSend;
    QLineEdit m_editPath;
    QLabel m_staticInfo;
    QProgressBar m_progress;
    QGridLayout layout_;
};

}  // namespace velmora::ui
