#pragma once
// The window's splice report: the acceptance limits asked (and remembered), a
// save dialog, then the report's own window: the report written off the window
// thread with its progress and Cancel, then where it went.
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QObject>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "archive/archive.h"
#include "archive/archive_writer.h"
#include "jobs/job_store.h"
#include "report/report_data.h"

class QWidget;

namespace velmora::ui {

// The whole errand for the records `filter` takes (the Archive tab's filters), of
// which the tab shows `shown`: a report of those records, headed as such, never a
// job's report. A report of none is refused before anything is asked. Returns once
// the writing has started; the report's window shows the rest. `archiveFolder` is
// the data folder of the archive read (this PC's, or the team view's); the limits
// are this PC's either way, remembered as the next report's.
void ReportOnArchive(QWidget* parent, const archive::RecordFilter& filter, std::size_t shown,
                     const std::filesystem::path& archiveFolder);

// The job's report, made from the job (its placings, its limits) whatever the
// Archive tab's filters are. The limits asked are the job's (this PC's remembered
// ones where it sets none) and are never remembered for other reports: a limit
// changed becomes the job's own, written to the job through `writer` before the
// report is made; without a writer (the team view) they cannot be changed.
void ReportOnJob(QWidget* parent, archive::ArchiveWriter* writer, const jobs::JobDetails& job,
                 const std::filesystem::path& archiveFolder);

// The caption of the button that starts it, in the run's language.
QString ReportButtonText();

// The limits dialog, `preset` filled in, `note` above the limits when given, the
// limits shown only unless `editable`; nothing when cancelled.
std::optional<Limits> AskReportLimits(QWidget* parent, const Limits& preset,
                                      const QString& note = {}, bool editable = true);

// Makes a report on the writing thread; nothing, with `error` saying why, when it cannot.
using ReportLoader = std::function<std::optional<report::Report>(std::string* error)>;

// One report written on a thread of its own; its progress and its end come on the
// window thread. Deleting the job stops the writing and waits for the thread,
// which ends within a row or an image.
class ReportJob : public QObject {
    Q_OBJECT
  public:
    ReportJob(QObject* parent, ReportLoader load, std::filesystem::path file);
    ~ReportJob() override;

    void Start();
    // Asks the writing to stop: no file is written then, and one already there stays.
    void Cancel();
    bool Running() const { return running_; }

  signals:
    void progressed(int percent);
    // `error` empty when written or cancelled; `missingImages` says each image left out.
    void finished(bool cancelled, const QString& error, const QStringList& missingImages);

  private:
    // Hands `call` to the window thread unless the job is being deleted.
    void Post(std::function<void()> call);

    ReportLoader load_;
    std::filesystem::path file_;
    bool running_ = false;
    std::stop_source cancel_;
    std::mutex postMutex_;
    bool deleting_ = false;  // under postMutex_
    std::jthread thread_;    // last, so that it is joined before the rest goes
};

// The report's window: progress and Cancel while it is written; then where the
// file is, with a button that opens its folder, whether or not a viewer could be
// started for it; or why nothing was written. Closing it stops the writing.
class CReportDlg : public QDialog {
    Q_OBJECT
  public:
    // Opens a file or folder in the desktop's program for it; false when none started.
    using Opener = std::function<bool(const QUrl& url)>;

    // The report of the records `filter` takes from the archive of `dataFolder`.
    CReportDlg(QWidget* parent, archive::RecordFilter filter, Limits limits,
               std::filesystem::path file, std::filesystem::path dataFolder);
    // The report `load` makes, the window titled `title`.
    CReportDlg(QWidget* parent, ReportLoader load, std::filesystem::path file,
               const QString& title);
    ~CReportDlg() override;

    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void Start();
    // Ends the writing now (nothing is written) and closes the window.
    void Stop();
    bool Running() const { return job_.Running(); }

    QLabel& StatusText() { return status_; }
    QLabel& NotesText() { return notes_; }
    QProgressBar& Progress() { return progress_; }
    QPushButton& CancelButton() { return cancel_; }
    QPushButton& OpenFolderButton() { return openFolder_; }
    QPushButton& CloseButton() { return close_; }

  protected:
    void reject() override;

  private:
    void OnFinished(bool cancelled, const QString& error, const QStringList& missingImages);
    void OpenFolder();
    void AddNote(const QString& note);
    void FitHeight();

    std::filesystem::path file_;
    Opener opener_;
    QLabel status_;
    QProgressBar progress_;
    QLabel notes_;
    QPushButton openFolder_;
    QPushButton cancel_;
    QPushButton close_;
    // Layouts hold widgets only; the nested one comes after its parent.
    QVBoxLayout layout_;
    QHBoxLayout buttons_;
    ReportJob job_;  // last: stopped and joined before the widgets it reports to go
};

}  // namespace velmora::ui
