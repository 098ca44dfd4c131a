#pragma once
// The window's splice report: the acceptance limits asked (and remembered), a
// save dialog, then the report written off the window thread with progress and
// opened in the desktop's viewer.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "archive/archive.h"
#include "report/report_data.h"

class QProgressDialog;
class QWidget;

namespace velmora::ui {

// The whole errand for the records `filter` takes (the Archive tab's filters).
// Returns once the writing has started; the rest happens as events arrive.
void ReportOnArchive(QWidget* parent, const archive::RecordFilter& filter);

// The caption of the button that starts it, in the run's language.
QString ReportButtonText();

// The limits dialog, `preset` filled in; nothing when cancelled.
std::optional<report::Limits> AskReportLimits(QWidget* parent, const report::Limits& preset);

// One report written on a thread of its own while a progress dialog shows how far
// it is; `finished` comes on the window thread. Deleting the job (or its parent)
// waits for the thread to end.
class ReportJob : public QObject {
    Q_OBJECT
  public:
    ReportJob(QWidget* parent, archive::RecordFilter filter, report::Limits limits,
              std::filesystem::path file, std::filesystem::path dataFolder);
    ~ReportJob() override;

    void Start();

  signals:
    // `error` empty when written; `missingImages` names the image files not found.
    void finished(const QString& file, const QString& error, const QStringList& missingImages);

  private:
    // Hands `call` to the window thread unless the job is being deleted.
    void Post(std::function<void()> call);

    QPointer<QWidget> parentWidget_;
    archive::RecordFilter filter_;
    report::Limits limits_;
    std::filesystem::path file_;
    std::filesystem::path dataFolder_;
    QPointer<QProgressDialog> progress_;
    std::mutex postMutex_;
    std::jthread thread_;  // last, so that it is joined before the rest goes
};

}  // namespace velmora::ui
