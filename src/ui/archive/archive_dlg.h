#pragma once
// The "Archive" page: every splice ever downloaded, filtered by splicer, dates, job,
// result and a text search, in the order of any column but its place in a job, shown
// as on the Result page with its image; job naming; the CSV export of what is shown;
// and the settings snapshots, compared and restored. The archive is read, and its
// records ordered and filtered by its indexes, on the archive's thread, a screenful at
// a time as the list scrolls: the page keeps the rows in view, never the archive, and
// only presents and asks.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/record_cursor.h"
#include "settings/backup_texts.h"
#include "settings/option_tables.h"
#include "ui/app/page_dlg.h"
#include "ui/app/team_bar.h"
#include "ui/history/csv_export_dlg.h"
#include "ui/images/image_dlg.h"
#include "ui/widgets/list_ctrl_ex.h"
#include "ui/widgets/paged_table_model.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CArchiveDlg : public CPageDlg {
    Q_OBJECT
  public:
    // The ids of the records chosen, read on the archive's thread only (they may be
    // still being found there); null names the filter instead.
    using ChosenIds = std::shared_ptr<const std::vector<std::int64_t>>;
    // Asks for the file to export to: its full path, or empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent, const QString& proposed)>;

    CArchiveDlg(QWidget* parent, PageContext& context);
    // Stops and joins the export: it reports to this page's members.
    ~CArchiveDlg() override;

    // Reads the splicers, jobs and snapshots and the first records the filters take,
    // on the archive's thread; the lists follow when they arrive. `keepView` (the
    // archive changed, the filters did not): the list stays where it was scrolled.
    void Refresh(bool keepView = false);
    // Something was stored in the archive: a list shown follows it.
    void OnArchiveWritten();
    // Shows the team view (read-only: no job naming) or this PC's archive, and reads it.
    void ShowTeam(bool team);
    CTeamBar& TeamBar() { return teamBar_; }

    // Job naming: the chosen records, every record shown, or every record of the
    // job chosen in the filter, get the name typed. Naming the chosen or shown
    // records asks first when some of them have another job.
    void OnBnClickedNameSelected();
    void OnBnClickedNameAll();
    void OnBnClickedRename();
    // The chosen records lose their job.
    void OnBnClickedClearJob();
    // The records of the last naming get their job of before back.
    void OnBnClickedUndoNaming();
    // Writes the records shown to a CSV file chosen by the user, off the window's thread.
    void OnBnClickedExport();
    // The chosen snapshot against the splicer or against another snapshot.
    void OnBnClickedCompare();
    // Writes the ticked groups of the chosen snapshot back to the splicer, then
    // compares the snapshot with what the splicer holds now.
    void OnBnClickedRestore();
    // The chosen record's image at full size, in a window of its own.
    void OnPictureClicked();

    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    // True from a Refresh (or a job naming) until its answer has been shown.
    bool Busy() const { return pending_ > 0 || recordModel_.Growing(); }
    bool Exporting() const { return exporter_.Running(); }
    // The record at `row` of the list, once its page has arrived; null otherwise.
    const archive::ArchivedRecord* RecordAt(int row) const;
    CPagedTableModel& RecordModel() { return recordModel_; }
    const std::vector<archive::ParameterSnapshot>& Snapshots() const { return snapshots_; }

    QComboBox& SplicerCombo() { return splicerCombo_; }
    QCheckBox& FromCheck() { return fromCheck_; }
    QCheckBox& ToCheck() { return toCheck_; }
    QDateEdit& FromDate() { return fromDate_; }
    QDateEdit& ToDate() { return toDate_; }
    QComboBox& JobCombo() { return jobCombo_; }
    // All results, failed on the splicer, over a limit (the report's), passed.
    QComboBox& ResultCombo() { return resultCombo_; }
    // Lists again a moment after the typing stops, or at once on Enter.
    QLineEdit& SearchEdit() { return searchEdit_; }
    QTabWidget& Views() { return views_; }
    CListCtrlEx& RecordList() { return recordList_; }
    CListCtrlEx& DetailList() { return detailList_; }
    CPictureFrame& Picture() { return picture_; }
    QLabel& PictureText() { return pictureText_; }
    // Null until an image has been opened at full size.
    CImageWindow* ImageWindow() { return imageWindow_.get(); }
    QLineEdit& JobEdit() { return jobEdit_; }
    QLabel& CountText() { return countText_; }
    CListCtrlEx& SnapshotList() { return snapshotList_; }
    QComboBox& CompareWith() { return compareWith_; }
    CListCtrlEx& DifferenceList() { return differenceList_; }
    // Splice, Heating, Configuration (FsConfig and System, one record).
    QCheckBox& RestoreCheck(int record) {
        return *restoreChecks_[static_cast<std::size_t>(record)];
    }
    // Room for a button beside Export (the row's layout, empty until one is added).
    CWBButton& ReportButton() { return report_; }

  signals:
    // The user chose `count` records in the list (the Job tab places them).
    void RecordsChosen(ChosenIds ids, int count);

  private:
    struct QueryResult;

    void LayOutSplices();
    void LayOutSnapshots();
    void LayOutPage();
    archive::RecordFilter Filter() const;
    // On the archive's thread: the splicers, jobs, snapshots, the cursor over what
    // the filter takes in the list's order and its first rows. A date that follows
    // the archive (not set by the user) is the day of the first or last splice of the
    // splicer chosen.
    static void ReadArchive(archive::Archive* archive, const archive::ArchiveError& error,
                            archive::RecordFilter filter, bool fromFollows, bool toFollows,
                            const archive::RecordOrder& order, TableLanguage language,
                            QueryResult& result);
    void ShowQueryResult(QueryResult& result);
    // Asked by the list's model for rows it scrolled to.
    void FetchRows(int generation, int first, int count);
    // After a listing: counts its rows on the archive's thread (a step at a time, so
    // that scrolling is served in between), then finds the records chosen before.
    void CountAndChoose(int serial, bool keepView);
    // Chooses `rows` (ascending) of the listing `serial`, once the list holds them.
    void ChooseRows(int serial, std::vector<int> rows, bool keepView);
    void OnSelectionChanged();
    void FillFilterCombos(const QueryResult& result);
    // The From and To dates that follow the archive, to the first and last splice.
    void FollowSpliceDates(const archive::SpliceSpan& span);
    void OnRecordHeaderClicked(int column);
    void SizeRecordColumns(int clientWidth);
    void SizeSnapshotColumns(int clientWidth);
    void SizeDifferenceColumns(int clientWidth);
    void FillSnapshots();
    void OnRecordChosen();
    void ShowImageOf(const archive::ArchivedRecord& record);
    // Runs `done` on the window's thread while this page is there.
    template <class Done>
    static void OnWindow(const QPointer<CArchiveDlg>& page, Done done);
    // The differences of the chosen snapshot (`chosen`) from the splicer or from
    // the snapshot chosen to compare with.
    void CompareSnapshot(const SettingsBackup& chosen);
    void OnSnapshotChosen();
    // Names the records `filter` or `ids` take, after a question when `ask` and
    // some of them have another job; then lists again.
    void NameJob(const std::string& job, const archive::RecordFilter& filter, ChosenIds ids,
                 bool ask);
    // Runs `work` on the archive's thread (when there is an archive), shows the
    // text it gives in the status bar and lists again.
    void RunOnArchive(std::function<QString(archive::Archive&)> work);
    // The chosen snapshot as a backup, or nothing after saying why.
    std::optional<SettingsBackup> ChosenBackup();
    // Reads the records from the splicer; false after the failure was shown.
    bool ReadFromSplicer(std::span<const ParamRecord> records);
    void ShowDifferences(const std::vector<RowDifference>& differences,
                         const QString& otherCaption);
    void Present(const StepResult& result);
    QString ReasonText(const std::string& reason) const;
    QString SnapshotText(const archive::ParameterSnapshot& snapshot) const;

    OptionTables tables_;
    FileChooser chooser_;
    int pending_ = 0;
    int querySerial_ = 0;
    // The newest query asked for, read on the archive's thread.
    std::shared_ptr<std::atomic<int>> latestQuery_ = std::make_shared<std::atomic<int>>(0);
    archive::RecordFilter shownFilter_;
    archive::RecordOrder order_;
    // The dates the user set stay; the others follow the first and last splice.
    bool fromSetByUser_ = false;
    bool toSetByUser_ = false;
    // The list's rows, a page at a time; the cursor they are read with (used on the
    // archive's thread only) and the newest generation asked for (read there).
    CPagedTableModel recordModel_;
    std::shared_ptr<archive::RecordCursor> cursor_;
    std::shared_ptr<std::atomic<int>> latestGeneration_ = std::make_shared<std::atomic<int>>(0);
    // The records chosen, as ids; filled on the archive's thread when the choice
    // holds rows not yet fetched.
    std::shared_ptr<std::vector<std::int64_t>> chosen_ =
        std::make_shared<std::vector<std::int64_t>>();
    bool choosing_ = false;  // the page itself chooses rows: not the user's choice
    QTimer followWrites_;
    std::vector<archive::ParameterSnapshot> snapshots_;
    // What the columns need to show their captions and texts whole.
    std::vector<int> recordWidths_;
    std::vector<int> snapshotWidths_;

    // Parents before children, layouts last: members are destroyed in reverse.
    CTeamBar teamBar_;
    QTabWidget views_;
    QWidget splicesPage_;
    QWidget snapshotsPage_;
    QLabel splicerLabel_;
    QComboBox splicerCombo_;
    QCheckBox fromCheck_;
    QDateEdit fromDate_;
    QCheckBox toCheck_;
    QDateEdit toDate_;
    QLabel jobLabel_;
    QComboBox jobCombo_;
    QLabel resultLabel_;
    QComboBox resultCombo_;
    QLineEdit searchEdit_;
    QTimer searchPause_;
    QLabel countText_;
    CListCtrlEx recordList_;
    CListCtrlEx detailList_;
    CPictureFrame picture_;
    QLabel pictureText_;
    QLineEdit jobEdit_;
    CWBButton nameSelected_;
    CWBButton nameAll_;
    CWBButton rename_;
    CWBButton clearJob_;
    CWBButton undoNaming_;
    CWBButton export_;
    CWBButton report_;
    QProgressBar progress_;
    CCsvExporter exporter_{*this, progress_};
    CListCtrlEx snapshotList_;
    QLabel compareLabel_;
    QComboBox compareWith_;
    CWBButton compare_;
    std::array<std::unique_ptr<QCheckBox>, 3> restoreChecks_;
    CWBButton restore_;
    CListCtrlEx differenceList_;
    std::unique_ptr<CImageWindow> imageWindow_;
    // Layouts hold widgets only, never owning them. A layout nested in another
    // comes after it, so that it leaves its parent before the parent goes.
    QGridLayout pageLayout_;
    QGridLayout splicesLayout_;
    QGridLayout snapshotsLayout_;
    QHBoxLayout filterLayout_;
    QHBoxLayout searchLayout_;
    QHBoxLayout jobLayout_;
    QHBoxLayout exportLayout_;
    QHBoxLayout compareRow_;
    QHBoxLayout restoreRow_;
};

}  // namespace velmora::ui
