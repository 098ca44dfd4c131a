#pragma once
// The CSV export as a page runs it (the Result page's download, the Archive tab's
// list): the questions first, then the file written on the page's worker with the
// progress bar following it, then the box that tells how it ended.
#include <QObject>
#include <QProgressBar>
#include <filesystem>
#include <functional>
#include <optional>

#include "history/csv_export.h"
#include "ui/app/page_dlg.h"

namespace velmora::ui {

class CCsvExporter : public QObject {
    Q_OBJECT
  public:
    // Where the export goes: the file, or an empty path when the user chose none.
    using FileChoice = std::function<std::filesystem::path()>;

    // `page` asks and owns the worker; `progress` follows the writing. Both outlive this.
    CCsvExporter(CPageDlg& page, QProgressBar& progress);

    // Says so when there are no records; asks before a partial list is exported
    // (`partialOf`: what the splicer announced), then takes the file from `choose`
    // and, when `askBeforeReplacing`, asks before an existing one is replaced. True
    // when the writing started; Finished follows once its outcome has been shown.
    bool Start(RecordStore records, std::optional<std::size_t> partialOf, const FileChoice& choose,
               bool askBeforeReplacing);
    // True from a Start that began writing until its outcome has been shown.
    bool Running() const { return running_; }
    // Makes the boxes an export shows (its question and its outcome) in the
    // window's next turns, so that the export itself only shows them: for a page
    // being shown, when the window repaints anyway.
    void PrepareBoxes();

  signals:
    void Finished();

  private:
    bool Confirm(const std::string& question);
    void Present(const CsvExport& job, const FileWriteResult& written);

    CPageDlg& page_;
    QProgressBar& progress_;
    bool running_ = false;
};

}  // namespace velmora::ui
