#pragma once
// Handing a job over: its verdict first (a job that has not passed says so before
// anything is written), where the package goes (one folder named after the job, or
// one ZIP file, never onto anything already there), whether the images of its
// splices go with it; then the package written off the window thread with progress
// and Cancel, and where it went with a button that opens its folder.
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "history/splice_acceptance.h"
#include "jobs/job_verdict.h"
#include "jobs/splice_matrix.h"

namespace velmora::ui {

// A file of a job's package, on its own.
enum class JobFile { Xlsx, Csv, GeoJson, Diagram };
// Asks where the job's `file` goes (a diagram: of `closure`); empty when the user
// cancelled.
std::filesystem::path AskJobFilePath(QWidget* parent, const jobs::SpliceMatrix& matrix,
                                     JobFile file, const jobs::MatrixClosure* closure);
// Writes the job's `file` from `matrix` to `path` (a diagram: every tray of `closure`,
// one below another), on any thread; what to tell: saved, or why not.
QString WriteJobFile(const jobs::SpliceMatrix& matrix, JobFile file,
                     const jobs::MatrixClosure* closure, const std::filesystem::path& path);

// The folder a job's package and files are proposed in: the user's documents.
std::filesystem::path HandoverFolder();

class CHandoverDlg : public QDialog {
    Q_OBJECT
  public:
    // Opens a folder in the desktop's file manager; false when none started.
    using Opener = std::function<bool(const QUrl& url)>;

    // The job of `matrix` (its name and verdict), read again from the archive of
    // `dataFolder` when written; `defaults` are the limits where the job sets none;
    // the package proposed in `folder`.
    CHandoverDlg(QWidget* parent, const jobs::SpliceMatrix& matrix,
                 std::filesystem::path dataFolder, Limits defaults, std::filesystem::path folder);
    ~CHandoverDlg() override;

    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void SetFolder(const std::filesystem::path& folder);
    // Writes the package: the button "Hand over".
    void Start();
    bool Running() const { return running_; }
    // Where the package goes (or went).
    const std::filesystem::path& Target() const { return target_; }

    QLabel& VerdictText() { return verdict_; }
    QLabel& NoteText() { return note_; }
    QLabel& StatusText() { return status_; }
    QRadioButton& ZipChoice() { return zip_; }
    QCheckBox& ImagesChoice() { return images_; }
    QPushButton& WriteButton() { return write_; }
    QPushButton& OpenFolderButton() { return openFolder_; }

  signals:
    void progressed(int percent);

  protected:
    void reject() override;

  private:
    void ShowTarget();
    void Browse();
    void OnFinished(bool ok, const QString& text, const QStringList& missingImages);
    // Hands `call` to the window thread unless the dialog is going.
    void Post(std::function<void()> call);

    std::string job_;
    std::filesystem::path dataFolder_;
    Limits defaults_;
    std::filesystem::path folder_;
    std::filesystem::path target_;
    Opener opener_;
    bool running_ = false;
    QLabel verdict_;
    QLabel note_;
    QLineEdit folderText_;
    QPushButton browse_;
    QRadioButton asFolder_;
    QRadioButton zip_;
    QCheckBox images_;
    QLabel where_;
    QProgressBar progress_;
    QLabel status_;
    QPushButton write_;
    QPushButton openFolder_;
    QPushButton cancel_;
    QPushButton close_;
    // Layouts hold widgets only; the nested ones come after their parent.
    QVBoxLayout layout_;
    QGridLayout form_;
    QHBoxLayout buttons_;
    std::stop_source stop_;
    std::mutex postMutex_;
    bool closing_ = false;  // under postMutex_
    std::jthread thread_;   // last, so that it is joined before the rest goes
};

}  // namespace velmora::ui
