#pragma once
// The "Jobs" page: the as-built documentation of a job. Left, the jobs, the closures
// of the job chosen and their trays and cables, with the positions spliced of those
// planned, the failures and those over the job's limits; right, the positions of the
// tray chosen (or the job's unplaced records, or its test splices). Placing records on
// positions, undoing the last placing, moving a splice and marking test splices by
// hand; the details in small forms. Every reading and change runs on the archive's
// thread through the job store, which checks them; the page presents and asks.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_store.h"
#include "jobs/matrix_texts.h"
#include "jobs/placing_proposal.h"
#include "jobs/splice_diagram.h"
#include "jobs/splice_matrix.h"
#include "ui/app/page_dlg.h"
#include "ui/app/team_bar.h"
#include "ui/jobs/handover_dlg.h"
#include "ui/jobs/job_edit_dlg.h"
#include "ui/jobs/splice_diagram_view.h"
#include "ui/widgets/list_ctrl_ex.h"
#include "ui/widgets/paged_table_model.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CJobDlg : public CPageDlg {
    Q_OBJECT
  public:
    // What a tree item stands for.
    enum class Node { Job, Closure, Cable, Tray, Unplaced, TestSplices };
    // The records chosen in the Archive tab, read on the archive's thread only.
    using ChosenIds = std::shared_ptr<const std::vector<std::int64_t>>;

    CJobDlg(QWidget* parent, PageContext& context);
    ~CJobDlg() override;

    // Reads the jobs and the chosen job's matrix on the archive's thread; the tree and
    // the table follow when they arrive, with the same item chosen.
    void Refresh();
    // Something was stored in the archive (a download): a tab shown follows it.
    void OnArchiveWritten();
    // The Archive tab's choice of records (`count` of them), offered to Place.
    void SetArchiveChoice(ChosenIds ids, int count);
    // Shows the team view (read-only) or this PC's jobs, and reads them.
    void ShowTeam(bool team);
    CTeamBar& TeamBar() { return teamBar_; }

    void OnBnClickedNewJob();
    // The details of the job, closure, cable or tray chosen in the tree.
    void OnBnClickedEdit();
    void OnBnClickedAddClosure();
    void OnBnClickedAddCable();
    void OnBnClickedAddTray();
    // The closure, cable or tray chosen, after a question.
    void OnBnClickedDelete();
    void OnBnClickedPlace();
    // A position of a tray planned by hand: its closure, tray, number and fibres.
    void OnBnClickedPlanPosition();
    // A plan file (CSV, XLSX) chosen and imported into the job shown, all or nothing.
    void OnBnClickedImportPlan();
    void ImportPlan(const std::filesystem::path& file);
    void OnBnClickedUndoPlacing();
    // The splice of the row chosen to another position.
    void OnBnClickedMove();
    // The splice of the row chosen becomes a test splice, or counts again.
    void OnBnClickedTestSplice();
    // The report of the job shown, made from the job whatever the Archive tab shows.
    void OnBnClickedReport();
    // The job's hand-over package (its window), and each of its files on its own.
    void OnBnClickedHandOver();
    void OnFileChosen(JobFile file);
    // Writes the job's `file` to `path` off the window's thread; the status bar says
    // how it went. One at a time: the entries wait while one is written.
    void WriteFileTo(JobFile file, const std::filesystem::path& path);

    // True from a request until its answer has been shown.
    bool Busy() const { return pending_ > 0; }
    QTreeWidget& Tree() { return tree_; }
    CWBButton& NewJobButton() { return newJob_; }
    // Above the table: why there is nothing to show, when there is not.
    QLabel& Summary() { return summary_; }
    CListCtrlEx& PositionList() { return positionList_; }
    CPagedTableModel& PositionModel() { return positionModel_; }
    // The chosen tray's splice diagram (hidden unless a tray is chosen).
    CSpliceDiagramView& DiagramView() { return diagramView_; }
    QScrollArea& DiagramArea() { return diagramArea_; }
    // The form open now, or null.
    CJobForm* Form() { return form_.get(); }
    // The matrix of the job shown; null before the first reading.
    const jobs::SpliceMatrix* Matrix() const { return matrix_.get(); }
    // Chooses the tree item of the closure named `closure` (its tray `tray` when given,
    // or `node` below the job); false when there is none.
    bool Choose(Node node, const QString& closure = {}, int tray = 0);
    // The list's row `row` once its page has arrived: its splice's record, 0 when none.
    std::int64_t RecordAt(int row) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct TreeResult;
    // A row of the table: a position of a tray, or a record of the job's lists.
    struct Item {
        const jobs::MatrixRow* row = nullptr;
        const jobs::MatrixSplice* splice = nullptr;  // the one that counts, if any
        bool test = false;
        bool noJob = false;  // a record of no job, among the unplaced ones
    };
    struct Chosen {
        Node node = Node::Job;
        std::int64_t id = 0;
    };

    void LayOutPage();
    // The tree's share of the width and the table's of the height (above the tray's
    // diagram), until the user drags the divider.
    void SplitWidths();
    void SplitHeights();
    void ShowTree(TreeResult& result);
    struct TreeBuild;
    void AddJobContents(TreeBuild& build, QTreeWidgetItem* job);
    void OpenShownItems(const TreeBuild& build);
    void SizeTreeColumns(const TreeBuild& build);
    void ShowSummary(const QString& error);
    void OnTreeChosen();
    std::optional<Chosen> ChosenNode() const;
    const jobs::MatrixClosure* ChosenClosure() const;
    void ShowItems(std::vector<Item> items);
    void FetchRows(int generation, int first, int count);
    CPagedTableModel::Row RowOf(const Item& item) const;
    void SizeColumns(int clientWidth);
    void UpdateButtons();
    // Runs `work` with the job store on the archive's thread; `done` gets its result on
    // the window's thread (while the page is there), then the page reads again.
    void RunStore(std::function<jobs::JobResult(jobs::JobStore&)> work,
                  std::function<void(const jobs::JobResult&)> done);
    void RunOnArchive(std::function<jobs::JobResult(archive::Archive&)> work,
                      std::function<void(const jobs::JobResult&)> done);
    // Opens `form`; its OK runs the store's work `work` makes of the fields, and a
    // refusal keeps it open saying why. Done, `said` is the status text, and the item
    // `made` (of the result's id) is chosen in the tree.
    void OpenForm(std::unique_ptr<CJobForm> form,
                  std::function<std::function<jobs::JobResult(jobs::JobStore&)>()> work,
                  std::function<QString(const jobs::JobResult&)> said,
                  std::optional<Node> made = std::nullopt);
    void EditJob(bool create);
    void EditClosure(const jobs::ClosureInfo* closure);
    void EditCable(std::int64_t closureId, const jobs::CableInfo* cable);
    void EditTray(const jobs::TrayInfo& tray);
    // The place form's records: asked again whenever its source or count changes.
    void PreviewPlacing();
    // The place form's tray chosen: its cables and where its work goes on.
    void ResumePlacing();
    void ShowPreview(const std::vector<jobs::PlacingCandidate>& records);
    const Item* ItemAt(int row) const;
    template <class Done>
    static void OnWindow(const QPointer<CJobDlg>& page, Done done);

    int pending_ = 0;
    // The job shown (by name) and what was chosen in the tree, kept across readings.
    std::string job_;
    std::optional<Chosen> chosen_;
    std::shared_ptr<const jobs::SpliceMatrix> matrix_;
    std::vector<jobs::JobInfo> jobs_;
    // The rows of the table, built a page at a time from the matrix.
    std::vector<Item> items_;
    bool testList_ = false;
    std::vector<int> widths_;
    int treeWidth_ = 0;    // what the tree's columns need
    int treeMinimum_ = 0;  // the counts and a tray's name beside them
    bool splitDragged_ = false;
    bool heightDragged_ = false;
    // The words of the matrix the job's files and report use, and the captions of the
    // diagram and of the fibres in the table.
    const jobs::MatrixCaptions words_;
    const jobs::DiagramTexts texts_;
    // The records of no job that the unplaced list shows after the job's own.
    std::vector<jobs::MatrixSplice> noJob_;
    bool noJobCut_ = false;  // more of them than the list shows
    ChosenIds archiveChoice_;
    int archiveChoiceCount_ = 0;
    // What the place form shows: each record with its position and fibres.
    std::vector<jobs::ProposedPlacing> proposal_;
    int previewSerial_ = 0;

    CPagedTableModel positionModel_;
    QTimer followWrites_;
    std::unique_ptr<CJobForm> form_;
    // Parents before children, layouts last: members are destroyed in reverse.
    CTeamBar teamBar_;
    QSplitter splitter_;
    QWidget left_;
    QWidget right_;
    QSplitter rightSplit_;  // the table above the tray's diagram
    QTreeWidget tree_;
    QLabel summary_;
    CListCtrlEx positionList_;
    QScrollArea diagramArea_;
    CSpliceDiagramView diagramView_;
    CWBButton newJob_;
    CWBButton edit_;
    CWBButton addClosure_;
    CWBButton addCable_;
    CWBButton addTray_;
    CWBButton delete_;
    CWBButton planPosition_;
    CWBButton importPlan_;
    CWBButton place_;
    CWBButton undoPlacing_;
    CWBButton move_;
    CWBButton testSplice_;
    CWBButton report_;
    // "Hand over..." and, on its arrow, each file of the package on its own.
    QToolButton handOver_;
    QMenu filesMenu_;
    QVBoxLayout pageLayout_;
    QVBoxLayout leftLayout_;
    QVBoxLayout rightLayout_;
    QGridLayout treeButtons_;
    QGridLayout tableButtons_;
    // Writes a file of the job's package on its own; last, so joined before the rest goes.
    std::jthread fileWriter_;
};

}  // namespace velmora::ui
