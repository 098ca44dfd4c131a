#include "ui/jobs/job_dlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QMetaObject>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/language.h"
#include "history/splice_record.h"
#include "jobs/job_numbers.h"
#include "jobs/job_verdict.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_texts.h"
#include "jobs/placing_proposal.h"
#include "jobs/plan_import.h"
#include "report/report_data.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_colours.h"
#include "ui/report/report_dlg.h"

namespace velmora::ui {

namespace jt = keys::job_tab;
namespace jp = keys::job_planning;

namespace {

constexpr int kPageMargin = 8;
constexpr int kSpacing = 6;
constexpr int kKindRole = Qt::UserRole;
constexpr int kIdRole = Qt::UserRole + 1;
// Up to this many closures are shown open with their trays and cables.
constexpr int kOpenClosures = 12;
// Up to this many records of no job are listed among the unplaced ones: those placing
// would take next. Read by the index of job and splice order, they cost what they
// are, however large the archive.
constexpr std::size_t kNoJobListed = 1000;

enum Column : int {
    kPositionColumn,
    kCableAColumn,
    kFibreAColumn,
    kCableBColumn,
    kFibreBColumn,
    kLossColumn,
    kResultColumn,
    kSplicerColumn,
    kTimeColumn,
    kResplicesColumn,
    kColumns
};

enum TreeColumn : int { kNameColumn, kCountsColumn };

QStringList Captions() {
    return {Q(jt::ColPosition), Q(jt::ColCableA),   Q(jt::ColFibreA), Q(jt::ColCableB),
            Q(jt::ColFibreB),   Q(jt::ColLoss),     Q(jt::ColResult), Q(jt::ColSplicer),
            Q(jt::ColTime),     Q(jt::ColResplices)};
}

// ColourRgb is 0xRRGGBB, as QRgb is (not a Windows COLORREF).
std::vector<QColor> Swatches(const jobs::MatrixEnd& end) {
    return {QColor::fromRgb(static_cast<QRgb>(jobs::ColourRgb(end.place.tubeColour))),
            QColor::fromRgb(static_cast<QRgb>(jobs::ColourRgb(end.place.colour)))};
}

// What the store said, in the run's language: "" when it did what was asked.
QString OutcomeText(const jobs::JobResult& result) {
    if (!result.error.ok())
        return Q(keys::archive_tab::Failed).arg(Q(archive::ArchiveErrorText(result.error)));
    if (result.refusal != jobs::Refusal::None) return Q(jobs::RefusalText(result));
    return {};
}

// "18/24, 2 failed, 1 over limit": the positions spliced of those planned, then the
// failures and those beyond the job's limits when there are any.
QString CountsText(const jobs::MatrixCounts& c) {
    QString text = QStringLiteral("%1/%2").arg(c.spliced).arg(c.positions);
    if (c.failed) text += QStringLiteral(", ") + Q(jt::CountFailed).arg(c.failed);
    if (c.overLimit) text += QStringLiteral(", ") + Q(jt::CountOver).arg(c.overLimit);
    return text;
}

}  // namespace

// One reading of the archive, made on its thread.
struct CJobDlg::TreeResult {
    QString error;
    std::vector<jobs::JobInfo> jobs;
    std::vector<jobs::JobStanding> standings;          // of `jobs`, in their order
    std::shared_ptr<const jobs::SpliceMatrix> matrix;  // of the job shown; null: none
    std::vector<jobs::PlacingCandidate> noJob;         // the records of no job it lists
};

// The tree's items as they are made, before the tree gets them.
struct CJobDlg::TreeBuild {
    std::optional<Chosen> keep;  // the item chosen before
    QList<QTreeWidgetItem*> top{};
    QString longestName{}, longestCounts{};  // the widest texts of each column
    QTreeWidgetItem* select = nullptr;
    QTreeWidgetItem* shownJob = nullptr;

    QTreeWidgetItem* Add(QTreeWidgetItem* parent, Node node, std::int64_t id, const QString& name) {
        auto* item = parent ? new QTreeWidgetItem(parent, {name})      // owned by its parent item
                            : new QTreeWidgetItem(QStringList{name});  // the tree takes it
        item->setData(kNameColumn, kKindRole, static_cast<int>(node));
        item->setData(kNameColumn, kIdRole, QVariant::fromValue<qlonglong>(id));
        item->setToolTip(kNameColumn, name);  // a name too long for the column is cut short
        if (name.size() > longestName.size()) longestName = name;
        if (keep && keep->node == node && keep->id == id) select = item;
        return item;
    }
    void Counts(QTreeWidgetItem* item, const QString& text) {
        item->setText(kCountsColumn, text);
        if (text.size() > longestCounts.size()) longestCounts = text;
    }
};

CJobDlg::CJobDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      words_(jobs::LoadMatrixCaptions()),
      texts_(jobs::LoadDiagramTexts(words_)),
      positionModel_(Captions(), CListCtrlEx::kFontHeight + 8),
      newJob_(Q(jt::BtnNewJob)),
      edit_(Q(jt::BtnEdit)),
      addClosure_(Q(jt::BtnAddClosure)),
      addCable_(Q(jt::BtnAddCable)),
      addTray_(Q(jt::BtnAddTray)),
      delete_(Q(jt::BtnDelete)),
      planPosition_(Q(jp::BtnPlanPosition)),
      importPlan_(Q(jp::BtnImportPlan)),
      place_(Q(jt::BtnPlace)),
      undoPlacing_(Q(jt::BtnUndoPlacing)),
      move_(Q(jt::BtnMove)),
      testSplice_(Q(jt::BtnTestSplice)),
      report_(ReportButtonText()) {
    LayOutPage();
    positionModel_.SetFetcher(
        [this](int generation, int first, int count) { FetchRows(generation, first, count); });
    connect(&tree_, &QTreeWidget::itemSelectionChanged, this, [this] { OnTreeChosen(); });
    // Stores come in bursts (a download): the tab reads again once they pause.
    followWrites_.setSingleShot(true);
    followWrites_.setInterval(200);
    connect(&followWrites_, &QTimer::timeout, this, [this] { Refresh(); });
    connect(&positionList_, &CListCtrlEx::ItemChanged, this, [this] { UpdateButtons(); });
    connect(&positionList_, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeColumns(width); });
    connect(&newJob_, &QPushButton::clicked, this, [this] { OnBnClickedNewJob(); });
    connect(&edit_, &QPushButton::clicked, this, [this] { OnBnClickedEdit(); });
    connect(&addClosure_, &QPushButton::clicked, this, [this] { OnBnClickedAddClosure(); });
    connect(&addCable_, &QPushButton::clicked, this, [this] { OnBnClickedAddCable(); });
    connect(&addTray_, &QPushButton::clicked, this, [this] { OnBnClickedAddTray(); });
    connect(&delete_, &QPushButton::clicked, this, [this] { OnBnClickedDelete(); });
    connect(&planPosition_, &QPushButton::clicked, this, [this] { OnBnClickedPlanPosition(); });
    connect(&importPlan_, &QPushButton::clicked, this, [this] { OnBnClickedImportPlan(); });
    connect(&place_, &QPushButton::clicked, this, [this] { OnBnClickedPlace(); });
    connect(&undoPlacing_, &QPushButton::clicked, this, [this] { OnBnClickedUndoPlacing(); });
    connect(&move_, &QPushButton::clicked, this, [this] { OnBnClickedMove(); });
    connect(&testSplice_, &QPushButton::clicked, this, [this] { OnBnClickedTestSplice(); });
    connect(&report_, &QPushButton::clicked, this, [this] { OnBnClickedReport(); });
    // The hand-over beside the report; its arrow offers the package's files one by one.
    handOver_.setText(Q(keys::handover::BtnHandOver));
    handOver_.setPopupMode(QToolButton::MenuButtonPopup);
    handOver_.setSizePolicy(report_.sizePolicy());
    for (const auto& [caption, file] : {std::pair{&keys::handover::MenuXlsx, JobFile::Xlsx},
                                        std::pair{&keys::handover::MenuCsv, JobFile::Csv},
                                        std::pair{&keys::handover::MenuGeoJson, JobFile::GeoJson},
                                        std::pair{&keys::handover::MenuDiagram, JobFile::Diagram}})
        filesMenu_.addAction(Q(*caption), this, [this, file] { OnFileChosen(file); });
    handOver_.setMenu(&filesMenu_);
    tableButtons_.addWidget(&handOver_, 2, 1);
    connect(&handOver_, &QToolButton::clicked, this, [this] { OnBnClickedHandOver(); });
    UpdateButtons();
}

CJobDlg::~CJobDlg() {
    // A form still open goes before the page's members it reports to.
    form_.reset();
}

void CJobDlg::LayOutPage() {
    tree_.setColumnCount(2);
    tree_.setHeaderLabels({Q(jt::ColName), Q(jt::ColSpliced)});
    // The counts keep the width they need; a name too long for the rest is cut short
    // with "..." (its tool tip holds it whole).
    tree_.header()->setStretchLastSection(false);
    tree_.header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    tree_.header()->setSectionResizeMode(kCountsColumn, QHeaderView::Fixed);
    tree_.setTextElideMode(Qt::ElideRight);
    tree_.setSelectionMode(QAbstractItemView::SingleSelection);
    tree_.setUniformRowHeights(true);
    positionList_.UseModel(&positionModel_);
    positionList_.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    summary_.setWordWrap(true);

    treeButtons_.setContentsMargins(0, 0, 0, 0);
    treeButtons_.setSpacing(kSpacing);
    // Two a row, so that they keep their captions in the narrowest tree.
    treeButtons_.addWidget(&newJob_, 0, 0);
    treeButtons_.addWidget(&addClosure_, 0, 1);
    treeButtons_.addWidget(&addCable_, 1, 0);
    treeButtons_.addWidget(&addTray_, 1, 1);
    treeButtons_.addWidget(&edit_, 2, 0);
    treeButtons_.addWidget(&delete_, 2, 1);
    treeButtons_.addWidget(&planPosition_, 3, 0);
    treeButtons_.addWidget(&importPlan_, 3, 1);
    // Wider than their captions need only in the narrowest tree: on a wide screen they
    // keep their own width rather than stretch across the tree.
    treeButtons_.setColumnStretch(2, 1);
    leftLayout_.setContentsMargins(0, 0, 0, 0);
    leftLayout_.setSpacing(kSpacing);
    leftLayout_.addWidget(&tree_, 1);
    leftLayout_.addLayout(&treeButtons_);
    left_.setLayout(&leftLayout_);

    tableButtons_.setContentsMargins(0, 0, 0, 0);
    tableButtons_.setSpacing(kSpacing);
    // Two a row as well: four in one row would make the window wider than its first
    // width where captions are set in a wider font.
    tableButtons_.addWidget(&place_, 0, 0);
    tableButtons_.addWidget(&undoPlacing_, 0, 1);
    tableButtons_.addWidget(&move_, 1, 0);
    tableButtons_.addWidget(&testSplice_, 1, 1);
    tableButtons_.addWidget(&report_, 2, 0);
    tableButtons_.setColumnStretch(2, 1);
    rightLayout_.setContentsMargins(0, 0, 0, 0);
    rightLayout_.setSpacing(kSpacing);
    // The chosen tray's diagram below its table, either side dragged taller.
    diagramArea_.setWidget(&diagramView_);
    diagramArea_.setWidgetResizable(true);
    diagramArea_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    diagramArea_.hide();
    rightSplit_.setOrientation(Qt::Vertical);
    rightSplit_.addWidget(&positionList_);
    rightSplit_.addWidget(&diagramArea_);
    rightSplit_.setChildrenCollapsible(false);
    rightSplit_.setStretchFactor(0, 1);
    rightSplit_.setStretchFactor(1, 1);
    rightLayout_.addWidget(&summary_);
    rightLayout_.addWidget(&rightSplit_, 1);
    rightLayout_.addLayout(&tableButtons_);
    right_.setLayout(&rightLayout_);

    // The tree as wide as its names need, up to a third of the width (SplitWidths);
    // either side may be dragged wider, and then keeps its width.
    splitter_.addWidget(&left_);
    splitter_.addWidget(&right_);
    splitter_.setChildrenCollapsible(false);
    splitter_.setStretchFactor(0, 0);
    splitter_.setStretchFactor(1, 1);
    // Room for the tree and for its buttons' captions, whatever the language.
    left_.setMinimumWidth(std::max(200, leftLayout_.minimumSize().width()));
    connect(&splitter_, &QSplitter::splitterMoved, this, [this] { splitDragged_ = true; });
    connect(&rightSplit_, &QSplitter::splitterMoved, this, [this] { heightDragged_ = true; });
    pageLayout_.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    pageLayout_.setSpacing(kSpacing);
    pageLayout_.addWidget(&teamBar_);
    pageLayout_.addWidget(&splitter_, 1);
    setLayout(&pageLayout_);
}

void CJobDlg::resizeEvent(QResizeEvent* event) {
    CPageDlg::resizeEvent(event);
    SplitWidths();
    SplitHeights();
}

void CJobDlg::SplitWidths() {
    const int total = splitter_.width() - splitter_.handleWidth();
    if (splitDragged_ || total <= 0) return;
    // The table's columns come first: the tree takes what they leave, as much as its
    // own columns need up to a third of the width, and never less than its minimum.
    int table = 2 * positionList_.frameWidth() +
                positionList_.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const int width : widths_) table += width;
    const int left = std::max({left_.minimumWidth(), std::min(treeMinimum_, total / 2),
                               std::min({treeWidth_, total / 3, total - table})});
    splitter_.setSizes({left, total - left});
}

void CJobDlg::SplitHeights() {
    const int total = rightSplit_.height() - rightSplit_.handleWidth();
    if (heightDragged_ || diagramArea_.isHidden() || total <= 0) return;
    // The tray's rows, up to half the height; the diagram the rest.
    const int rows = std::max(static_cast<int>(items_.size()), 1);
    const int list =
        std::min(positionList_.header()->sizeHint().height() + rows * positionList_.RowHeight() +
                     2 * positionList_.frameWidth() +
                     positionList_.style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                 total / 2);
    rightSplit_.setSizes({list, total - list});
}

void CJobDlg::ShowTeam(bool team) {
    SetTeamShown(team);
    // The job shown by name stays, when the other archive has it too.
    chosen_.reset();
    matrix_.reset();
    UpdateButtons();
    Refresh();
}

template <class Done>
void CJobDlg::OnWindow(const QPointer<CJobDlg>& page, Done done) {
    // Posted to the application, which outlives every page, and run only while the
    // page is there.
    QMetaObject::invokeMethod(
        qApp,
        [page, done = std::move(done)]() mutable {
            if (page) done();
        },
        Qt::QueuedConnection);
}

void CJobDlg::Refresh() {
    if (!Archiver()) return;
    ++pending_;
    const std::string wanted = job_;
    const std::filesystem::path folder = Config().AppDirectory;
    const bool team = TeamShown();
    Archiver()->PostQuery([page = QPointer(this), wanted, folder, team](
                              archive::Archive* archive, const archive::ArchiveError& error) {
        auto result = std::make_shared<TreeResult>();
        if (!archive) {
            // No archive yet is no failure: there are no jobs.
            if (error.code != archive::ErrorCode::NoArchive)
                result->error = Q(archive::ArchiveErrorText(error));
        } else if (auto standings = jobs::ReadJobStandings(*archive, report::LoadLimits(folder))) {
            result->standings = std::move(*standings);
            for (const jobs::JobStanding& s : result->standings) result->jobs.push_back(s.job);
            const auto shown =
                std::find_if(result->jobs.begin(), result->jobs.end(),
                             [&](const auto& j) { return j.details.name == wanted; });
            const std::string name = shown != result->jobs.end() ? wanted
                                     : result->jobs.empty()      ? std::string()
                                                            : result->jobs.front().details.name;
            if (!name.empty()) {
                auto matrix = jobs::ReadMatrix(*archive, name, report::LoadLimits(folder));
                auto noJob = matrix ? jobs::ReadRecordsOfNoJob(*archive, matrix->job.id,
                                                               matrix->limits, kNoJobListed)
                                    : std::nullopt;
                if (matrix && noJob) {
                    result->matrix = std::make_shared<const jobs::SpliceMatrix>(std::move(*matrix));
                    result->noJob = std::move(*noJob);
                } else {
                    result->error = Q(archive::ArchiveErrorText(archive->LastError()));
                }
            }
        } else {
            result->error = Q(archive::ArchiveErrorText(archive->LastError()));
        }
        OnWindow(page, [page, result, team] {
            --page->pending_;
            // An answer of the archive shown before the view changed is of no use.
            if (team == page->TeamShown()) page->ShowTree(*result);
        });
    });
}

void CJobDlg::ShowTree(TreeResult& result) {
    jobs_ = std::move(result.jobs);
    matrix_ = std::move(result.matrix);
    job_ = matrix_ ? matrix_->job.details.name : std::string();
    noJobCut_ = result.noJob.size() >= kNoJobListed;
    noJob_.clear();
    for (jobs::PlacingCandidate& c : result.noJob) noJob_.push_back(std::move(c.splice));
    const QSignalBlocker blocker(tree_);
    tree_.clear();
    // The items are made apart from the tree and handed to it at once: one layout of
    // the tree, not one for each of a large job's thousand items.
    TreeBuild build{.keep = chosen_};
    for (std::size_t at = 0; at < jobs_.size(); ++at) {
        const jobs::JobInfo& info = jobs_[at];
        QTreeWidgetItem* job = build.Add(nullptr, Node::Job, info.id, Q(info.details.name));
        build.top.push_back(job);
        // The job's verdict in a word before its counts; the core's counts everywhere.
        const auto counts = [&](const jobs::MatrixCounts& c, jobs::JobState state) {
            build.Counts(job, Q(words_.State(state)) + QStringLiteral(": ") + CountsText(c));
        };
        if (matrix_ && matrix_->job.id == info.id) {
            counts(matrix_->totals, jobs::JudgeJob(*matrix_).state);
            AddJobContents(build, job);
            build.shownJob = job;
        } else if (at < result.standings.size()) {
            counts(result.standings[at].counts, result.standings[at].verdict.state);
        }
    }
    tree_.addTopLevelItems(build.top);
    // A chosen item that is gone (deleted) leaves the job shown chosen.
    if (!build.select) build.select = build.shownJob;
    OpenShownItems(build);
    SizeTreeColumns(build);
    ShowSummary(result.error);
    if (build.select) {
        tree_.setCurrentItem(build.select);
        tree_.scrollToItem(build.select);
    }
    // The table follows the tree with the matrix just read.
    OnTreeChosen();
}

void CJobDlg::AddJobContents(TreeBuild& build, QTreeWidgetItem* job) {
    for (const jobs::MatrixClosure& closure : matrix_->closures) {
        QTreeWidgetItem* c =
            build.Add(job, Node::Closure, closure.closure.id, Q(closure.closure.details.name));
        build.Counts(c, CountsText(closure.counts));
        for (const jobs::TrayInfo& tray : closure.trays) {
            QTreeWidgetItem* t =
                build.Add(c, Node::Tray, tray.id, Q(jt::TrayItem).arg(tray.details.number));
            build.Counts(t, CountsText(jobs::CountRows(closure.rows, tray.details.number)));
        }
        for (const jobs::CableInfo& cable : closure.cables)
            build.Add(
                c, Node::Cable, cable.id,
                QStringLiteral("%1 (%2)").arg(Q(cable.details.name)).arg(cable.details.fibres));
    }
    const std::int64_t id = matrix_->job.id;
    // The job's own unplaced records, then those of no job that placing would take.
    QString unplaced = QString::number(matrix_->unplaced.size() + noJob_.size());
    if (noJobCut_) unplaced += QLatin1Char('+');
    build.Counts(build.Add(job, Node::Unplaced, id, Q(jt::UnplacedItem)), unplaced);
    build.Counts(build.Add(job, Node::TestSplices, id, Q(jt::TestItem)),
                 QString::number(matrix_->testSplices.size()));
}

void CJobDlg::OpenShownItems(const TreeBuild& build) {
    // The job shown is open; so are its closures while they are few, else the one chosen.
    if (QTreeWidgetItem* job = build.shownJob) {
        job->setExpanded(true);
        if (job->childCount() <= kOpenClosures)
            for (int i = 0; i < job->childCount(); ++i) job->child(i)->setExpanded(true);
    }
    for (QTreeWidgetItem* open = build.select ? build.select->parent() : nullptr; open;
         open = open->parent())
        open->setExpanded(true);
}

void CJobDlg::SizeTreeColumns(const TreeBuild& build) {
    // Each column as wide as its longest text, measured once (ResizeToContents would
    // measure every item, many milliseconds in a large job's tree). The counts as
    // wide as the longest verdict word with them needs, so that no job's is cut.
    const QFontMetrics metrics(tree_.font());
    const int indent = 3 * tree_.indentation() + 8;
    int counts = metrics.horizontalAdvance(build.longestCounts);
    for (const std::string& state : words_.states)
        counts =
            std::max(counts, metrics.horizontalAdvance(Q(state) + QStringLiteral(": 000/000")));
    const int name = std::max(metrics.horizontalAdvance(build.longestName) + indent,
                              metrics.horizontalAdvance(tree_.headerItem()->text(0)) + 16);
    tree_.header()->resizeSection(
        kCountsColumn,
        std::max(counts + 12, metrics.horizontalAdvance(tree_.headerItem()->text(1)) + 16));
    const int frame = tree_.header()->sectionSize(kCountsColumn) + 2 * tree_.frameWidth() +
                      tree_.style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    treeWidth_ = name + frame;
    // However narrow, the tree keeps a tray's name readable beside the counts.
    treeMinimum_ = metrics.horizontalAdvance(Q(jt::TrayItem).arg(99)) + indent + frame;
    SplitWidths();
}

void CJobDlg::ShowSummary(const QString& error) {
    // The team view is read-only: its empty list offers no New job.
    summary_.setText(!error.isEmpty() ? Q(keys::archive_tab::Failed).arg(error)
                     : !jobs_.empty() ? QString()
                     : TeamShown()    ? Q(keys::team_window::NoTeamJobs)
                                      : Q(jt::NoJobs));
    summary_.setVisible(!summary_.text().isEmpty());
}

std::optional<CJobDlg::Chosen> CJobDlg::ChosenNode() const {
    const QTreeWidgetItem* item = tree_.currentItem();
    if (!item || !item->isSelected()) return std::nullopt;
    return Chosen{static_cast<Node>(item->data(kNameColumn, kKindRole).toInt()),
                  item->data(kNameColumn, kIdRole).toLongLong()};
}

const jobs::MatrixClosure* CJobDlg::ChosenClosure() const {
    const QTreeWidgetItem* item = tree_.currentItem();
    if (!matrix_ || !item) return nullptr;
    // A tray's or a cable's closure is its parent item.
    auto node = static_cast<Node>(item->data(kNameColumn, kKindRole).toInt());
    if ((node == Node::Tray || node == Node::Cable) && item->parent()) item = item->parent();
    node = static_cast<Node>(item->data(kNameColumn, kKindRole).toInt());
    if (node != Node::Closure) return nullptr;
    const std::int64_t id = item->data(kNameColumn, kIdRole).toLongLong();
    for (const jobs::MatrixClosure& closure : matrix_->closures)
        if (closure.closure.id == id) return &closure;
    return nullptr;
}

void CJobDlg::OnTreeChosen() {
    const std::optional<Chosen> chosen = ChosenNode();
    std::vector<Item> items;
    std::optional<jobs::TrayDiagram> diagram;
    testList_ = false;
    if (chosen && matrix_) {
        chosen_ = chosen;
        // Another job chosen: its matrix is read, and the table follows then.
        if (chosen->node == Node::Job && chosen->id != matrix_->job.id) {
            const auto other = std::find_if(jobs_.begin(), jobs_.end(),
                                            [&](const auto& j) { return j.id == chosen->id; });
            if (other != jobs_.end()) {
                job_ = other->details.name;
                Refresh();
            }
        }
        const jobs::MatrixClosure* closure = ChosenClosure();
        if (chosen->node == Node::Tray && closure) {
            const auto tray = std::find_if(closure->trays.begin(), closure->trays.end(),
                                           [&](const auto& t) { return t.id == chosen->id; });
            if (tray != closure->trays.end()) {
                for (const jobs::MatrixRow& row : closure->rows)
                    if (row.tray == tray->details.number)
                        items.push_back({&row, row.splice ? &*row.splice : nullptr, false});
                diagram = jobs::MakeTrayDiagram(*closure, tray->details.number, texts_);
            }
        } else if (chosen->node == Node::Unplaced) {
            for (const jobs::MatrixSplice& splice : matrix_->unplaced)
                items.push_back({nullptr, &splice, false});
            for (const jobs::MatrixSplice& splice : noJob_)
                items.push_back({nullptr, &splice, false, true});
        } else if (chosen->node == Node::TestSplices) {
            testList_ = true;
            for (const jobs::MatrixSplice& splice : matrix_->testSplices)
                items.push_back({nullptr, &splice, true});
        }
    }
    ShowItems(std::move(items));
    diagramArea_.setVisible(diagram.has_value());
    diagramView_.SetDiagram(std::move(diagram));
    SplitWidths();
    SplitHeights();
    UpdateButtons();
}

void CJobDlg::ShowItems(std::vector<Item> items) {
    items_ = std::move(items);
    const int generation = positionModel_.Restart();
    positionModel_.SetTotal(generation, static_cast<int>(items_.size()));
    // The first screenful at once: the rows come from the matrix in memory.
    std::vector<CPagedTableModel::Row> rows;
    const std::size_t first = std::min(items_.size(), std::size_t{CPagedTableModel::kPageRows});
    for (std::size_t i = 0; i < first; ++i) rows.push_back(RowOf(items_[i]));
    // Each column as wide as its caption and the texts of the first screenful need.
    widths_.clear();
    for (int column = 0; column < kColumns; ++column) {
        QStringList texts;
        for (const CPagedTableModel::Row& row : rows) texts << row.texts[column];
        int width = positionList_.ColumnWidthFor(column, texts);
        // Swatches come before the fibre's text.
        if (column == kFibreAColumn || column == kFibreBColumn)
            width += 2 * positionList_.RowHeight();
        widths_.push_back(width);
    }
    positionModel_.Deliver(generation, 0, std::move(rows));
    SizeColumns(positionList_.viewport()->width());
}

void CJobDlg::FetchRows(int generation, int first, int count) {
    // Later pages of a long list (the unplaced records), from the matrix in memory, once
    // the model's asking is over.
    QTimer::singleShot(0, this, [this, generation, first, count] {
        if (generation != positionModel_.Generation()) return;
        std::vector<CPagedTableModel::Row> rows;
        for (int i = first; i < first + count && i < static_cast<int>(items_.size()); ++i)
            rows.push_back(RowOf(items_[static_cast<std::size_t>(i)]));
        positionModel_.Deliver(generation, first, std::move(rows));
    });
}

CPagedTableModel::Row CJobDlg::RowOf(const Item& item) const {
    CPagedTableModel::Row row;
    row.texts.reserve(kColumns);
    row.swatches.resize(kColumns);
    if (item.row) {
        row.texts << QString::number(item.row->position) << Q(item.row->a.cable)
                  << Q(jobs::FibreText(item.row->a, texts_)) << Q(item.row->b.cable)
                  << Q(jobs::FibreText(item.row->b, texts_));
        row.swatches[kFibreAColumn] = Swatches(item.row->a);
        row.swatches[kFibreBColumn] = Swatches(item.row->b);
    } else {
        // An unplaced record: of no job, it says so where a position would be.
        row.texts << (item.noJob ? Q(jp::OfNoJob) : QString()) << QString() << QString()
                  << QString() << QString();
    }
    if (const jobs::MatrixSplice* s = item.splice) {
        row.texts << Q(LossText(s->record))
                  << (item.test ? Q(jt::MarkTest) : Q(words_.Mark(s->mark))) << Q(s->splicer)
                  << Q(TimeText(s->record))
                  << Q(item.row ? jobs::ReplacedText(*item.row) : std::string());
        row.id = s->recordId;
        if (!item.test && s->mark == Mark::Failed) row.tint = kFailedRowColour;
        if (!item.test && OverLimit(s->mark)) row.tint = kOverLimitRowColour;
    } else {
        row.texts << QString() << Q(words_.planned) << QString() << QString()
                  << Q(item.row ? jobs::ReplacedText(*item.row) : std::string());
    }
    return row;
}

void CJobDlg::SizeColumns(int clientWidth) {
    if (widths_.empty())
        for (int column = 0; column < kColumns; ++column)
            widths_.push_back(positionList_.ColumnWidthFor(column, {}));
    // Too narrow for every text: the fibres' texts (their colours are in the swatches
    // too) and the replaced attempts give up what is missing, in proportion to what
    // they have beyond their captions, and are cut short (the whole text is the cell's
    // tool tip).
    std::vector<int> widths = widths_;
    int excess = std::accumulate(widths.begin(), widths.end(), 0) - clientWidth;
    std::vector<std::pair<int, int>> spare;  // column, what it can give
    int room = 0;
    for (const int column : {kFibreAColumn, kFibreBColumn, kResplicesColumn}) {
        int floor = positionList_.ColumnWidthFor(column, {});
        if (column != kResplicesColumn) floor += 2 * positionList_.RowHeight();
        const int give = std::max(0, widths[static_cast<std::size_t>(column)] - floor);
        spare.push_back({column, give});
        room += give;
    }
    if (excess > 0 && room > 0) {
        excess = std::min(excess, room);
        for (const auto& [column, give] : spare)
            widths[static_cast<std::size_t>(column)] -= (excess * give + room - 1) / room;
    }
    positionList_.SpreadColumns(widths, clientWidth);
}

const CJobDlg::Item* CJobDlg::ItemAt(int row) const {
    if (row < 0 || row >= static_cast<int>(items_.size())) return nullptr;
    return &items_[static_cast<std::size_t>(row)];
}

std::int64_t CJobDlg::RecordAt(int row) const {
    const CPagedTableModel::Row* listed = positionModel_.RowAt(row);
    return listed ? listed->id : 0;
}

void CJobDlg::UpdateButtons() {
    const std::optional<Chosen> chosen = ChosenNode();
    const bool job = matrix_ && chosen;
    const bool inClosure = ChosenClosure() != nullptr;
    const Item* item = ItemAt(positionList_.GetSelectedRow());
    const bool splice = item && item->splice;
    newJob_.setEnabled(true);
    edit_.setEnabled(chosen && chosen->node != Node::Unplaced && chosen->node != Node::TestSplices);
    delete_.setEnabled(chosen && (chosen->node == Node::Closure || chosen->node == Node::Cable ||
                                  chosen->node == Node::Tray));
    addClosure_.setEnabled(job);
    addCable_.setEnabled(inClosure);
    addTray_.setEnabled(inClosure);
    planPosition_.setEnabled(matrix_ && !matrix_->closures.empty());
    importPlan_.setEnabled(matrix_ != nullptr);
    place_.setEnabled(inClosure);
    undoPlacing_.setEnabled(job);
    move_.setEnabled(splice && !testList_);
    testSplice_.setEnabled(splice);
    testSplice_.setText(testList_ ? Q(jt::BtnCountSplice) : Q(jt::BtnTestSplice));
    report_.setEnabled(matrix_ != nullptr);
    handOver_.setEnabled(matrix_ != nullptr);
    // The team view is the team archive as last read: nothing in it is edited here.
    if (TeamShown())
        for (CWBButton* button :
             {&newJob_, &edit_, &addClosure_, &addCable_, &addTray_, &delete_, &planPosition_,
              &importPlan_, &place_, &undoPlacing_, &move_, &testSplice_})
            button->setEnabled(false);
}

bool CJobDlg::Choose(Node node, const QString& closure, int tray) {
    for (QTreeWidgetItemIterator it(&tree_); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (static_cast<Node>(item->data(kNameColumn, kKindRole).toInt()) != node) continue;
        const QTreeWidgetItem* parent = item->parent();
        const bool match =
            node == Node::Tray ? parent && parent->text(kNameColumn) == closure &&
                                     item->text(kNameColumn) == Q(jt::TrayItem).arg(tray)
            : node == Node::Closure ? item->text(kNameColumn) == closure
            : node == Node::Job     ? closure.isEmpty() || item->text(kNameColumn) == closure
                                    : true;
        if (!match) continue;
        tree_.setCurrentItem(item);
        return true;
    }
    return false;
}

void CJobDlg::OnArchiveWritten() {
    if (isVisible()) followWrites_.start();
}

void CJobDlg::SetArchiveChoice(ChosenIds ids, int count) {
    archiveChoice_ = std::move(ids);
    archiveChoiceCount_ = count;
}

void CJobDlg::RunStore(std::function<jobs::JobResult(jobs::JobStore&)> work,
                       std::function<void(const jobs::JobResult&)> done) {
    RunOnArchive(
        [work = std::move(work)](archive::Archive& archive) {
            jobs::JobStore store(archive);
            return work(store);
        },
        std::move(done));
}

void CJobDlg::RunOnArchive(std::function<jobs::JobResult(archive::Archive&)> work,
                           std::function<void(const jobs::JobResult&)> done) {
    if (!Archiver()) return;
    ++pending_;
    Archiver()->Post([page = QPointer(this), work = std::move(work), done = std::move(done)](
                         archive::Archive* archive, const archive::ArchiveError& error) {
        jobs::JobResult result;
        if (archive) {
            result = work(*archive);
        } else {
            result.error = error;
        }
        OnWindow(page, [page, done, result] {
            --page->pending_;
            done(result);
            page->Refresh();
        });
    });
}

void CJobDlg::OpenForm(std::unique_ptr<CJobForm> form,
                       std::function<std::function<jobs::JobResult(jobs::JobStore&)>()> work,
                       std::function<QString(const jobs::JobResult&)> said,
                       std::optional<Node> made) {
    form_ = std::move(form);
    QPointer<CJobForm> shown = form_.get();
    form_->SetSubmit([this, shown, work, said, made] {
        RunStore(work(), [this, shown, said, made](const jobs::JobResult& result) {
            const QString refusal = OutcomeText(result);
            if (shown) shown->Answer(refusal);
            if (!refusal.isEmpty()) return;
            // What was made is chosen in the tree once it is read again.
            if (made && result.id != 0) chosen_ = Chosen{*made, result.id};
            if (said) emit StatusNotice(said(result));
        });
    });
    form_->open();
}

void CJobDlg::OnBnClickedNewJob() {
    EditJob(true);
}

void CJobDlg::EditJob(bool create) {
    const jobs::JobDetails old = create || !matrix_ ? jobs::JobDetails{} : matrix_->job.details;
    auto form = std::make_unique<CJobForm>(this, Q(jt::JobCaption));
    form->AddText("name", Q(jt::FieldName), Q(old.name));
    form->AddText("customer", Q(jt::FieldCustomer), Q(old.customer));
    form->AddText("contractor", Q(jt::FieldContractor), Q(old.contractor));
    form->AddText("technicians", Q(jt::FieldTechnicians), Q(old.technicians));
    form->AddText("notes", Q(jt::FieldNotes), Q(old.notes));
    const auto hundredths = [](std::optional<int> v, double scale) {
        return v ? std::optional<double>(*v / scale) : std::nullopt;
    };
    form->AddOptional("maxLoss", Q(jt::FieldMaxLoss), hundredths(old.limits.maxLoss, 100.0), 0,
                      kLimitCap / 100.0, 2);
    form->AddOptional("maxAngle", Q(jt::FieldMaxAngle), hundredths(old.limits.maxAngle, 10.0), 0,
                      kLimitCap / 10.0, 1);
    CJobForm* f = form.get();
    const std::string oldName = old.name;
    OpenForm(
        std::move(form),
        [this, f, create, oldName] {
            jobs::JobDetails d;
            d.name = f->Text("name")->text().trimmed().toStdString();
            d.customer = f->Text("customer")->text().trimmed().toStdString();
            d.contractor = f->Text("contractor")->text().trimmed().toStdString();
            d.technicians = f->Text("technicians")->text().trimmed().toStdString();
            d.notes = f->Text("notes")->text().trimmed().toStdString();
            if (auto loss = f->Optional("maxLoss")) d.limits.maxLoss = std::lround(*loss * 100);
            if (auto angle = f->Optional("maxAngle")) d.limits.maxAngle = std::lround(*angle * 10);
            // The job made or renamed is the one shown next.
            job_ = d.name;
            return [d, create, oldName](jobs::JobStore& store) {
                return create ? store.CreateJob(d) : store.EditJob(oldName, d);
            };
        },
        [f](const jobs::JobResult&) { return Q(jt::Saved).arg(f->Text("name")->text()); },
        create ? std::optional(Node::Job) : std::nullopt);
}

void CJobDlg::EditClosure(const jobs::ClosureInfo* closure) {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    const jobs::ClosureDetails old = closure ? closure->details : jobs::ClosureDetails{};
    auto form = std::make_unique<CJobForm>(this, Q(jt::ClosureCaption));
    form->AddText("name", Q(jt::FieldName), Q(old.name));
    form->AddText("location", Q(jt::FieldLocation), Q(old.location));
    form->AddPoint("point", Q(jt::FieldPoint),
                   old.point ? std::optional(std::pair(old.point->latitude, old.point->longitude))
                             : std::nullopt);
    form->AddText("notes", Q(jt::FieldNotes), Q(old.notes));
    // A new closure's cables named with it, rather than one form each.
    if (!closure) {
        form->AddText("cables", Q(jp::FieldCables), {});
        form->AddNumber("cableFibres", Q(jp::FieldCableFibres), jobs::CableDetails{}.fibres,
                        jobs::kFibreCounts.min, jobs::kFibreCounts.max);
    }
    CJobForm* f = form.get();
    const std::int64_t jobId = matrix_->job.id;
    const std::int64_t id = closure ? closure->id : 0;
    OpenForm(
        std::move(form),
        [f, jobId, id] {
            jobs::ClosureDetails d;
            d.name = f->Text("name")->text().trimmed().toStdString();
            d.location = f->Text("location")->text().trimmed().toStdString();
            d.notes = f->Text("notes")->text().trimmed().toStdString();
            if (f->Check("point")->isChecked())
                d.point = jobs::GeoPoint{f->Decimal("point.lat")->value(),
                                         f->Decimal("point.lon")->value()};
            std::vector<jobs::CableDetails> cables;
            if (f->Text("cables"))
                for (const QString& name : f->Text("cables")->text().split(QLatin1Char(',')))
                    if (!name.trimmed().isEmpty()) {
                        jobs::CableDetails cable{.name = name.trimmed().toStdString(),
                                                 .fibres = f->Number("cableFibres")->value()};
                        cable.perTube = std::min(cable.perTube, cable.fibres);
                        cables.push_back(cable);
                    }
            return [d, jobId, id, cables](jobs::JobStore& store) {
                if (id) return store.EditClosure(id, d);
                // The closure and its cables, or nothing: a cable refused takes the
                // closure back with it.
                const jobs::JobResult made = store.AddClosure(jobId, d);
                for (const jobs::CableDetails& cable : cables) {
                    if (!made.ok()) break;
                    if (const jobs::JobResult added = store.AddCable(made.id, cable); !added.ok()) {
                        store.DeleteClosure(made.id);
                        return added;
                    }
                }
                return made;
            };
        },
        [f](const jobs::JobResult&) { return Q(jt::Saved).arg(f->Text("name")->text()); },
        id ? std::nullopt : std::optional(Node::Closure));
}

void CJobDlg::EditCable(std::int64_t closureId, const jobs::CableInfo* cable) {
    const jobs::CableDetails old = cable ? cable->details : jobs::CableDetails{};
    auto form = std::make_unique<CJobForm>(this, Q(jt::CableCaption));
    form->AddText("name", Q(jt::FieldName), Q(old.name));
    form->AddNumber("fibres", Q(jt::FieldFibres), old.fibres, jobs::kFibreCounts.min,
                    jobs::kFibreCounts.max);
    form->AddNumber("perTube", Q(jt::FieldPerTube), old.perTube, jobs::kFibreNumbers.min,
                    jobs::kFibreNumbers.max);
    CJobForm* f = form.get();
    const std::int64_t id = cable ? cable->id : 0;
    OpenForm(
        std::move(form),
        [f, closureId, id] {
            const jobs::CableDetails d{f->Text("name")->text().trimmed().toStdString(),
                                       f->Number("fibres")->value(), f->Number("perTube")->value()};
            return [d, closureId, id](jobs::JobStore& store) {
                return id ? store.EditCable(id, d) : store.AddCable(closureId, d);
            };
        },
        [f](const jobs::JobResult&) { return Q(jt::Saved).arg(f->Text("name")->text()); });
}

void CJobDlg::EditTray(const jobs::TrayInfo& tray) {
    auto form = std::make_unique<CJobForm>(this, Q(jt::TrayCaption));
    form->AddNumber("number", Q(jt::FieldTray), tray.details.number, jobs::kTrayNumbers.min,
                    jobs::kTrayNumbers.max);
    form->AddNumber("capacity", Q(jt::FieldCapacity), tray.details.capacity,
                    jobs::kTrayCapacities.min, jobs::kTrayCapacities.max);
    CJobForm* f = form.get();
    const std::int64_t id = tray.id;
    OpenForm(
        std::move(form),
        [f, id] {
            const jobs::TrayDetails d{f->Number("number")->value(), f->Number("capacity")->value()};
            return [d, id](jobs::JobStore& store) { return store.EditTray(id, d); };
        },
        [f](const jobs::JobResult&) {
            return Q(jt::Saved).arg(Q(jt::TrayItem).arg(f->Number("number")->value()));
        });
}

void CJobDlg::OnBnClickedEdit() {
    const std::optional<Chosen> chosen = ChosenNode();
    if (!chosen || !matrix_) return ShowBox(Text(jt::ChooseJob));
    const jobs::MatrixClosure* closure = ChosenClosure();
    switch (chosen->node) {
        case Node::Job:
            return EditJob(false);
        case Node::Closure:
            if (closure) EditClosure(&closure->closure);
            return;
        case Node::Cable:
            if (closure)
                for (const jobs::CableInfo& cable : closure->cables)
                    if (cable.id == chosen->id) EditCable(closure->closure.id, &cable);
            return;
        case Node::Tray:
            if (closure)
                for (const jobs::TrayInfo& tray : closure->trays)
                    if (tray.id == chosen->id) EditTray(tray);
            return;
        default:
            return;
    }
}

void CJobDlg::OnBnClickedAddClosure() {
    EditClosure(nullptr);
}

void CJobDlg::OnBnClickedAddCable() {
    const jobs::MatrixClosure* closure = ChosenClosure();
    if (!closure) return ShowBox(Text(jt::ChooseClosure));
    EditCable(closure->closure.id, nullptr);
}

void CJobDlg::OnBnClickedAddTray() {
    const jobs::MatrixClosure* closure = ChosenClosure();
    if (!closure) return ShowBox(Text(jt::ChooseClosure));
    // A new tray is mostly the next number with as many positions as the closure's
    // last: it is added at once, and Edit changes it.
    jobs::TrayDetails d;
    for (const jobs::TrayInfo& t : closure->trays) {
        d.number = std::max(d.number, t.details.number + 1);
        d.capacity = t.details.capacity;
    }
    const std::int64_t closureId = closure->closure.id;
    RunStore([d, closureId](jobs::JobStore& store) { return store.AddTray(closureId, d); },
             [this, d](const jobs::JobResult& result) {
                 const QString refusal = OutcomeText(result);
                 if (!refusal.isEmpty()) return ShowBox(refusal.toStdString());
                 chosen_ = Chosen{Node::Tray, result.id};
                 emit StatusNotice(Q(jt::Saved).arg(Q(jt::TrayItem).arg(d.number)));
             });
}

void CJobDlg::OnBnClickedDelete() {
    const std::optional<Chosen> chosen = ChosenNode();
    const QTreeWidgetItem* item = tree_.currentItem();
    if (!chosen || !item ||
        (chosen->node != Node::Closure && chosen->node != Node::Cable &&
         chosen->node != Node::Tray))
        return ShowBox(Text(jt::ChooseClosure));
    const QString name = item->text(kNameColumn);
    if (ShowMessage(this, Q(jt::DeleteQuestion).arg(name), Q(msg::CaptionQuestion),
                    MsgButtons::YesNo, MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;
    const Node node = chosen->node;
    const std::int64_t id = chosen->id;
    RunStore(
        [node, id](jobs::JobStore& store) {
            return node == Node::Closure ? store.DeleteClosure(id)
                   : node == Node::Cable ? store.DeleteCable(id)
                                         : store.DeleteTray(id);
        },
        [this, name](const jobs::JobResult& result) {
            const QString refusal = OutcomeText(result);
            if (!refusal.isEmpty()) return ShowBox(refusal.toStdString());
            emit StatusNotice(Q(jt::Deleted).arg(name));
        });
}

namespace {

// The tray `id` of the job and its closure; none when the job has no such tray.
std::optional<jobs::TrayAt> TrayOf(const jobs::SpliceMatrix& matrix, std::int64_t id) {
    for (const jobs::MatrixClosure& closure : matrix.closures)
        for (const jobs::TrayInfo& tray : closure.trays)
            if (tray.id == id) return jobs::TrayAt{&closure, &tray};
    return std::nullopt;
}

// Every tray of the job as a choice, "C-17, tray 2", its id the data.
void FillTrays(QComboBox& choice, const jobs::SpliceMatrix& matrix) {
    for (const jobs::MatrixClosure& closure : matrix.closures)
        for (const jobs::TrayInfo& tray : closure.trays)
            choice.addItem(
                Q(jp::ClosureTray).arg(Q(closure.closure.details.name)).arg(tray.details.number),
                QVariant::fromValue<qlonglong>(tray.id));
}

// The closure's cables as the choices of the fibre rows `ends`, each kept when it is
// still there.
void FillCables(CJobForm& form, const jobs::MatrixClosure& closure,
                std::initializer_list<const char*> ends) {
    for (const char* end : ends) {
        QComboBox* choice = form.Choice(end);
        const QSignalBlocker quiet(choice);
        const QVariant kept = choice->currentData();
        choice->clear();
        for (const jobs::CableInfo& cable : closure.cables)
            choice->addItem(Q(cable.details.name), QVariant::fromValue<qlonglong>(cable.id));
        choice->setCurrentIndex(std::max(0, choice->findData(kept)));
    }
}

}  // namespace

void CJobDlg::OnBnClickedPlace() {
    const jobs::MatrixClosure* closure = ChosenClosure();
    if (!closure || closure->trays.empty()) return ShowBox(Text(jt::ChooseTray));
    if (closure->cables.empty()) return ShowBox(Text(jt::ChooseCable));
    // The tray chosen, or the closure's first; when it is full, the next with room.
    const std::optional<Chosen> chosen = ChosenNode();
    std::int64_t trayId = chosen && chosen->node == Node::Tray ? chosen->id : closure->trays[0].id;
    if (const auto room = jobs::TrayWithRoom(*matrix_, trayId)) trayId = room->tray->id;
    auto form = std::make_unique<CJobForm>(this, Q(jt::BtnPlace));
    QComboBox& tray = form->AddChoice("tray", Q(jt::FieldTray));
    FillTrays(tray, *matrix_);
    tray.setCurrentIndex(std::max(0, tray.findData(QVariant::fromValue<qlonglong>(trayId))));
    form->AddNumber("position", Q(jt::FieldFirstPosition), 1, jobs::kPositionNumbers.min,
                    jobs::kPositionNumbers.max);
    form->AddFibre("a", Q(jt::FieldCableA));
    form->AddFibre("b", Q(jt::FieldCableB));
    QRadioButton& next = form->AddRadio("latest", Q(jt::FieldLatest), "count", 12,
                                        jobs::kPlacingCounts.min, jobs::kPlacingCounts.max);
    QRadioButton& archived =
        form->AddRadio("archived", Q(jt::FieldChosen).arg(archiveChoiceCount_));
    next.setChecked(true);
    archived.setEnabled(archiveChoiceCount_ > 0);
    CListCtrlEx& preview = form->AddList("preview");
    preview.InsertColumn(0, Q(jt::ColPosition), Qt::AlignHCenter);
    preview.InsertColumn(1, Q(jt::ColFibreA), Qt::AlignHCenter);
    preview.InsertColumn(2, Q(jt::ColFibreB), Qt::AlignHCenter);
    preview.InsertColumn(3, Q(jt::PreviewRecord), Qt::AlignHCenter);
    preview.setMinimumSize(420, 160);
    form->resize(560, 420);
    CJobForm* f = form.get();
    for (const char* field : {"position", "a.fibre", "b.fibre", "count"})
        connect(f->Number(field), &QSpinBox::valueChanged, this, [this] { PreviewPlacing(); });
    for (const char* field : {"a", "b"})
        connect(f->Choice(field), &QComboBox::currentIndexChanged, this,
                [this] { PreviewPlacing(); });
    connect(&tray, &QComboBox::currentIndexChanged, this, [this] { ResumePlacing(); });
    connect(&next, &QRadioButton::toggled, this, [this] { PreviewPlacing(); });
    OpenForm(
        std::move(form),
        [this, f] {
            const std::int64_t trayId = f->Choice("tray")->currentData().toLongLong();
            const std::vector<jobs::PlacingStep> steps = jobs::StepsOf(proposal_);
            const Limits limits = report::LoadLimits(Config().AppDirectory);
            return [trayId, steps, limits](jobs::JobStore& store) {
                return store.Place(trayId, steps, limits);
            };
        },
        [](const jobs::JobResult& result) {
            return Q(CountText(result.count, jt::PlacedOne, jt::Placed));
        });
    ResumePlacing();
}

void CJobDlg::ResumePlacing() {
    CJobForm* f = form_.get();
    if (!f || !f->Choice("tray") || !matrix_) return;
    const auto at = TrayOf(*matrix_, f->Choice("tray")->currentData().toLongLong());
    if (!at) return;
    // Where the tray's work goes on, as the core proposes it; the count fills the tray.
    const jobs::PlacingStart start = jobs::ResumeAt(*at->closure, at->tray->details.number);
    FillCables(*f, *at->closure, {"a", "b"});
    for (QSpinBox* number :
         {f->Number("position"), f->Number("a.fibre"), f->Number("b.fibre"), f->Number("count")})
        number->blockSignals(true);
    f->Number("position")->setValue(start.position);
    for (const auto& [end, fibre] : {std::pair{"a", start.a}, std::pair{"b", start.b}}) {
        QComboBox* cable = f->Choice(end);
        const QSignalBlocker quietCable(cable);
        cable->setCurrentIndex(
            std::max(0, cable->findData(QVariant::fromValue<qlonglong>(fibre.cable))));
        f->Number(std::string(end) + ".fibre")->setValue(fibre.fibre);
    }
    f->Number("count")->setValue(std::max(1, at->tray->details.capacity - start.position + 1));
    for (QSpinBox* number :
         {f->Number("position"), f->Number("a.fibre"), f->Number("b.fibre"), f->Number("count")})
        number->blockSignals(false);
    PreviewPlacing();
}

void CJobDlg::OnBnClickedPlanPosition() {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    const std::optional<Chosen> chosen = ChosenNode();
    const jobs::MatrixClosure* closure = ChosenClosure();
    std::int64_t trayId = chosen && chosen->node == Node::Tray ? chosen->id
                          : closure && !closure->trays.empty() ? closure->trays[0].id
                                                               : 0;
    auto form = std::make_unique<CJobForm>(this, Q(jp::PlanCaption));
    QComboBox& tray = form->AddChoice("tray", Q(jt::FieldTray));
    FillTrays(tray, *matrix_);
    if (tray.count() == 0) return ShowBox(Text(jt::ChooseTray));
    tray.setCurrentIndex(std::max(0, tray.findData(QVariant::fromValue<qlonglong>(trayId))));
    form->AddNumber("position", Q(jt::FieldPosition), 1, jobs::kPositionNumbers.min,
                    jobs::kPositionNumbers.max);
    form->AddFibre("a", Q(jp::FieldFibreA));
    form->AddFibre("b", Q(jp::FieldFibreB));
    CJobForm* f = form.get();
    // The tray's next position and the next fibres, as placing would take them.
    const auto propose = [this, f] {
        const auto at = matrix_ ? TrayOf(*matrix_, f->Choice("tray")->currentData().toLongLong())
                                : std::nullopt;
        if (!at) return;
        FillCables(*f, *at->closure, {"a", "b"});
        const jobs::PlacingStart start = jobs::ResumeAt(*at->closure, at->tray->details.number);
        f->Number("position")->setValue(start.position);
        for (const auto& [end, fibre] : {std::pair{"a", start.a}, std::pair{"b", start.b}}) {
            QComboBox* cable = f->Choice(end);
            cable->setCurrentIndex(
                std::max(0, cable->findData(QVariant::fromValue<qlonglong>(fibre.cable))));
            f->Number(std::string(end) + ".fibre")->setValue(fibre.fibre);
        }
    };
    connect(&tray, &QComboBox::currentIndexChanged, this, propose);
    OpenForm(
        std::move(form),
        [f] {
            const std::int64_t trayId = f->Choice("tray")->currentData().toLongLong();
            const int position = f->Number("position")->value();
            const jobs::FibreEnd a{f->Choice("a")->currentData().toLongLong(),
                                   f->Number("a.fibre")->value()};
            const jobs::FibreEnd b{f->Choice("b")->currentData().toLongLong(),
                                   f->Number("b.fibre")->value()};
            return [trayId, position, a, b](jobs::JobStore& store) {
                return store.PlanPosition(trayId, position, a, b);
            };
        },
        [this, f](const jobs::JobResult&) {
            const auto at = matrix_
                                ? TrayOf(*matrix_, f->Choice("tray")->currentData().toLongLong())
                                : std::nullopt;
            return Q(jp::PlannedOne)
                .arg(f->Number("position")->value())
                .arg(at ? at->tray->details.number : 0);
        });
    propose();
}

void CJobDlg::OnBnClickedImportPlan() {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    const QString chosen =
        QFileDialog::getOpenFileName(this, Q(jp::ImportCaption), TextOf(HandoverFolder()),
                                     Q(jp::PlanFiles) + QStringLiteral(" (*.csv *.xlsx)"));
    if (!chosen.isEmpty()) ImportPlan(PathOf(chosen));
}

void CJobDlg::ImportPlan(const std::filesystem::path& file) {
    if (!matrix_ || !Archiver()) return;
    ++pending_;
    Archiver()->Post([page = QPointer(this), job = matrix_->job.details.name, file](
                         archive::Archive* archive, const archive::ArchiveError& error) {
        const jobs::PlanImport imported =
            archive ? jobs::ImportPlanFile(*archive, job, file)
                    : jobs::PlanImport{.message = archive::ArchiveErrorText(error),
                                       .archiveFailed = true};
        OnWindow(page, [page, imported] {
            --page->pending_;
            // All or nothing: a refusal names the file's row and plans nothing.
            if (imported.ok)
                emit page->StatusNotice(Q(jp::PlannedMany).arg(imported.planned));
            else
                page->ShowBox(imported.message);
            page->Refresh();
        });
    });
}

void CJobDlg::PreviewPlacing() {
    CJobForm* f = form_.get();
    if (!f || !f->List("preview") || !matrix_ || !Archiver()) return;
    const bool next = f->Radio("latest")->isChecked();
    f->Number("count")->setEnabled(next);
    f->AllowOk(false);
    const int serial = ++previewSerial_;
    const std::int64_t jobId = matrix_->job.id;
    const std::size_t count = static_cast<std::size_t>(f->Number("count")->value());
    const ChosenIds chosen = next ? nullptr : archiveChoice_;
    const Limits limits = matrix_->limits;
    ++pending_;
    Archiver()->PostQuery([page = QPointer(this), serial, jobId, count, chosen, limits](
                              archive::Archive* archive, const archive::ArchiveError&) {
        std::optional<std::vector<jobs::PlacingCandidate>> records;
        if (archive && chosen)
            records = jobs::ReadRecordsToPlace(*archive, *chosen, limits);
        else if (archive)
            records = jobs::ReadPlacingCandidates(*archive, jobId, limits, count);
        OnWindow(page,
                 [page, serial, records = records.value_or(std::vector<jobs::PlacingCandidate>{})] {
                     --page->pending_;
                     if (serial == page->previewSerial_) page->ShowPreview(records);
                 });
    });
}

void CJobDlg::ShowPreview(const std::vector<jobs::PlacingCandidate>& records) {
    CJobForm* f = form_.get();
    CListCtrlEx* preview = f ? f->List("preview") : nullptr;
    const auto at = preview && matrix_
                        ? TrayOf(*matrix_, f->Choice("tray")->currentData().toLongLong())
                        : std::nullopt;
    if (!at) return;
    const jobs::MatrixClosure* closure = at->closure;
    std::vector<std::int64_t> ids;
    for (const jobs::PlacingCandidate& c : records) ids.push_back(c.splice.recordId);
    const jobs::PlacingStart start{
        f->Number("position")->value(),
        {f->Choice("a")->currentData().toLongLong(), f->Number("a.fibre")->value()},
        {f->Choice("b")->currentData().toLongLong(), f->Number("b.fibre")->value()}};
    proposal_ = jobs::ProposePlacing(*closure, *at->tray, start, ids);
    const auto cableName = [closure](const jobs::FibreEnd& end) {
        for (const jobs::CableInfo& cable : closure->cables)
            if (cable.id == end.cable)
                return QStringLiteral("%1:%2").arg(Q(cable.details.name)).arg(end.fibre);
        return QString::number(end.fibre);
    };
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    std::vector<CListCtrlEx::Row> rows;
    for (std::size_t k = 0; k < proposal_.size(); ++k) {
        const jobs::ProposedPlacing& p = proposal_[k];
        const SpliceRecord& record = records[k].splice.record;
        QString position = QString::number(p.position);
        if (const auto& old = p.replaces)
            position = Q(jt::ResplicePreview)
                           .arg(p.position)
                           .arg(old->number)
                           .arg(Q(LossText(old->record)))
                           .arg(Q(words_.State(old->mark == Mark::Pass ? jobs::JobState::Passed
                                                                       : jobs::JobState::Failed)));
        rows.push_back({{position, cableName(p.a), cableName(p.b),
                         QStringLiteral("%1  %2  %3 dB")
                             .arg(Q(TimeText(record)), Q(ResultListText(record, language)),
                                  Q(LossText(record)))},
                        0});
    }
    preview->DeleteAllItems();
    preview->AppendRows(rows);
    std::vector<int> widths;
    for (int column = 0; column < 4; ++column) {
        QStringList texts;
        for (const CListCtrlEx::Row& row : rows) texts << row.texts[column];
        widths.push_back(preview->ColumnWidthFor(column, texts));
    }
    preview->SpreadColumns(widths, preview->viewport()->width());
    // Nothing proposed: no records, or no room where the first position is asked.
    if (rows.empty())
        f->Refusal().setText(records.empty()                              ? Q(jt::NothingToPlace)
                             : jobs::TrayWithRoom(*matrix_, at->tray->id) ? Q(jp::TrayFull)
                                                                          : Q(jp::JobFull));
    f->Refusal().setVisible(rows.empty());
    f->AllowOk(!rows.empty());
}

void CJobDlg::OnBnClickedUndoPlacing() {
    RunStore([](jobs::JobStore& store) { return store.UndoLastPlacing(); },
             [this](const jobs::JobResult& result) {
                 const QString refusal = OutcomeText(result);
                 emit StatusNotice(refusal.isEmpty()
                                       ? Q(CountText(result.count, jt::UnplacedOne, jt::Unplaced))
                                       : refusal);
             });
}

void CJobDlg::OnBnClickedMove() {
    const Item* item = ItemAt(positionList_.GetSelectedRow());
    const jobs::MatrixClosure* closure = ChosenClosure();
    if (!item || !item->splice || testList_) return ShowBox(Text(jt::ChooseSplice));
    if (!closure) {
        // An unplaced record goes to a tray of the first closure chosen.
        if (!matrix_ || matrix_->closures.empty()) return ShowBox(Text(jt::ChooseTray));
        closure = &matrix_->closures.front();
    }
    auto form = std::make_unique<CJobForm>(this, Q(jt::MoveCaption));
    QComboBox& tray = form->AddChoice("tray", Q(jt::FieldTray));
    for (const jobs::TrayInfo& t : closure->trays)
        tray.addItem(Q(jt::TrayItem).arg(t.details.number), QVariant::fromValue<qlonglong>(t.id));
    if (item->row)
        tray.setCurrentIndex(std::max(0, tray.findText(Q(jt::TrayItem).arg(item->row->tray))));
    form->AddNumber("position", Q(jt::FieldPosition), item->row ? item->row->position : 1,
                    jobs::kPositionNumbers.min, jobs::kPositionNumbers.max);
    CJobForm* f = form.get();
    const std::int64_t record = item->splice->recordId;
    OpenForm(
        std::move(form),
        [f, record] {
            const std::int64_t trayId = f->Choice("tray")->currentData().toLongLong();
            const int number = f->Number("position")->value();
            return [trayId, number, record](jobs::JobStore& store) {
                const auto positions = store.Positions(trayId);
                if (!positions) return jobs::JobResult{.error = store.LastError()};
                for (const jobs::PositionInfo& p : *positions)
                    if (p.number == number) return store.Move(record, p.id);
                return jobs::JobResult{jobs::Refusal::NoSuchPosition, std::to_string(number)};
            };
        },
        [](const jobs::JobResult&) { return Q(jt::Moved); });
}

void CJobDlg::OnBnClickedTestSplice() {
    const Item* item = ItemAt(positionList_.GetSelectedRow());
    if (!item || !item->splice) return ShowBox(Text(jt::ChooseSplice));
    const std::int64_t record = item->splice->recordId;
    const bool test = !item->test;
    // A record of no job becomes the job's test splice: named to the job first, so
    // that its lists and report show it.
    const std::string job = item->noJob && matrix_ ? matrix_->job.details.name : std::string();
    RunOnArchive(
        [record, test, job](archive::Archive& archive) {
            if (!job.empty())
                if (const archive::StoreResult named = archive.TagJob(job, {&record, 1});
                    !named.ok())
                    return jobs::JobResult{.error = named.error};
            return jobs::JobStore(archive).MarkTestSplice(record, test);
        },
        [this, test](const jobs::JobResult& result) {
            const QString refusal = OutcomeText(result);
            emit StatusNotice(!refusal.isEmpty() ? refusal : test ? Q(jt::Marked) : Q(jt::Counted));
        });
}

void CJobDlg::OnBnClickedReport() {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    // The team view is read: its job's limits are shown, never written.
    ReportOnJob(this, TeamShown() ? nullptr : Archiver(), matrix_->job.details, DataFolder());
}

void CJobDlg::OnBnClickedHandOver() {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    auto* dialog = new CHandoverDlg(this, *matrix_, DataFolder(), report::LoadLimits(DataFolder()),
                                    HandoverFolder());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void CJobDlg::OnFileChosen(JobFile file) {
    if (!matrix_) return ShowBox(Text(jt::ChooseJob));
    if (file == JobFile::Diagram && !ChosenClosure()) return ShowBox(Text(jt::ChooseClosure));
    const std::filesystem::path path = AskJobFilePath(this, *matrix_, file, ChosenClosure());
    if (!path.empty()) WriteFileTo(file, path);
}

void CJobDlg::WriteFileTo(JobFile file, const std::filesystem::path& path) {
    if (!matrix_ || fileWriter_.joinable()) return;
    // The matrix and the closure chosen go with the writer: a reading meanwhile
    // replaces the page's, not the writer's.
    const std::shared_ptr<const jobs::SpliceMatrix> matrix = matrix_;
    const jobs::MatrixClosure* closure = ChosenClosure();
    ++pending_;
    filesMenu_.setEnabled(false);
    fileWriter_ = std::jthread([page = QPointer(this), matrix, closure, file, path] {
        const QString said = WriteJobFile(*matrix, file, closure, path);
        OnWindow(page, [page, said] {
            --page->pending_;
            page->fileWriter_.join();
            page->filesMenu_.setEnabled(true);
            emit page->StatusNotice(said);
        });
    });
}

}  // namespace velmora::ui
