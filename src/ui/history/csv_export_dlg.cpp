#include "ui/history/csv_export_dlg.h"

#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <system_error>

#include "base/app_config.h"
#include "history/history_texts.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"

namespace velmora::ui {

CCsvExporter::CCsvExporter(CPageDlg& page, QProgressBar& progress)
    : page_(page), progress_(progress) {}

bool CCsvExporter::Confirm(const std::string& question) {
    return ShowMessage(&page_, Q(question), Q(msg::CaptionQuestion), MsgButtons::YesNo,
                       MsgIcon::Exclamation) == MsgAnswer::Yes;
}

bool CCsvExporter::Start(RecordStore records, std::optional<std::size_t> partialOf,
                         const FileChoice& choose, bool askBeforeReplacing) {
    if (running_) return false;
    if (records.empty()) {
        page_.ShowBox(Say(history_msg::NoRecord), history_msg::NoRecordCaption);
        return false;
    }
    CsvExport job{{},
                  std::move(records),
                  DetailCaptions(),
                  TableLanguageFor(Config().EnglishFlag),
                  partialOf};
    if (job.partialOf && !Confirm(PartialExportQuestion(job))) return false;
    job.file = choose();
    if (job.file.empty()) return false;
    std::error_code ec;
    if (askBeforeReplacing && std::filesystem::exists(job.file, ec) &&
        !Confirm(FileExistsText(job.file)))
        return false;

    // The page's last run has been reported; its thread may still be returning.
    if (page_.Worker().Running()) page_.Worker().StopAndJoin();
    progress_.setRange(0, 100);
    progress_.setValue(0);
    running_ = true;
    // The file is made off the window's thread, so the window never stalls on it;
    // the bar hears of each new percentage once.
    auto shown = std::make_shared<std::atomic<int>>(0);
    const bool started = page_.Worker().Start([this, job = std::move(job), shown](std::stop_token) {
        const FileWriteResult written = WriteCsvExport(job, [this, shown](int percent) {
            if (shown->exchange(percent) == percent) return;
            QMetaObject::invokeMethod(
                this, [this, percent] { progress_.setValue(percent); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this, [this, job, written] { Present(job, written); }, Qt::QueuedConnection);
    });
    if (!started) {
        running_ = false;
        return false;
    }
    // The box that tells the outcome is made while the file is written, so that
    // the end of the export only shows it.
    PrepareBoxes();
    return true;
}

void CCsvExporter::PrepareBoxes() {
    // Each in a turn of the window's own, once: a box takes a while to make the
    // first time, its icon and buttons looked up in the icon theme.
    QTimer::singleShot(
        0, this, [this] { PrepareMessageBox(&page_, MsgButtons::YesNo, MsgIcon::Exclamation); });
    QTimer::singleShot(0, this,
                       [this] { PrepareMessageBox(&page_, MsgButtons::Ok, MsgIcon::None); });
}

void CCsvExporter::Present(const CsvExport& job, const FileWriteResult& written) {
    running_ = false;
    emit Finished();
    if (!written.ok) {
        ShowMessage(&page_, Q(FileWriteProblemText(job.file, written)), Q(msg::CaptionInfo),
                    MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    progress_.setValue(100);
    page_.ShowBox(ExportSavedText(job), msg::CaptionQuestion);
}

}  // namespace velmora::ui
