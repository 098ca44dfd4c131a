#include "ui/jobs/job_dlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QMetaObject>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/language.h"
#include "history/splice_record.h"
#include "jobs/job_verdict.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_texts.h"
#include "report/report_data.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_colours.h"
#include "ui/report/report_dlg.h"

namespace velmora::ui {

namespace jt = keys::job_tab;

namespace {

constexpr int kPageMargin = 8;
constexpr int kSpacing = 6;
constexpr int kKindRole = Qt::UserRole;
constexpr int kIdRole = Qt::UserRole + 1;
// Up to this many closures are shown open with their trays and cables.
constexpr int kOpenClosures = 12;

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

QString MarkText(Mark mark) {
    switch (mark) {
        case Mark::Pass:
            return Q(jt::MarkPass);
        case Mark::Failed:
            return Q(jt::MarkFailed);
        case Mark::OverLoss:
            return Q(jt::MarkOverLoss);
        case Mark::OverAngle:
            return Q(jt::MarkOverAngle);
        case Mark::OverBoth:
            return Q(jt::MarkOverBoth);
    }
    return {};
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
};

CJobDlg::CJobDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      texts_(jobs::LoadDiagramTexts()),
      positionModel_(Captions(), CListCtrlEx::kFontHeight + 8),
      newJob_(Q(jt::BtnNewJob)),
      edit_(Q(jt::BtnEdit)),
      addClosure_(Q(jt::BtnAddClosure)),
      addCable_(Q(jt::BtnAddCable)),
      addTray_(Q(jt::BtnAddTray)),
      delete_(Q(jt::BtnDelete)),
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
    connect(&place_, &QPushButton::clicked, this, [this] { OnBnClickedPlace(); });
    connect(&undoPlacing_, &QPushButton::clicked, this, [this] { OnBnClickedUndoPlacing(); });
    connect(&move_, &QPushButton::clicked, this, [this] { OnBnClickedMove(); });
    connect(&testSplice_, &QPushButton::clicked, this, [this] { OnBnClickedTestSplice(); });
    connect(&report_, &QPushButton::clicked, this, [this] { OnBnClickedReport(); });
    UpdateButtons();
}

CJobDlg::~CJobDlg() {
    // A form still open goes before the page's members it reports to.
    form_.reset();
}

void CJobDlg::LayOutPage() {
    tree_.setColumnCount(2);
    tree_.setHeaderLabels({Q(jt::ColName), Q(jt::ColSpliced)});
    tree_.header()->setStretchLastSection(true);
    tree_.header()->setSectionResizeMode(QHeaderView::Interactive);
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
    const int left =
        std::max(left_.minimumWidth(), std::min({treeWidth_, total / 3, total - table}));
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
                if (auto matrix = jobs::ReadMatrix(*archive, name, report::LoadLimits(folder)))
                    result->matrix = std::make_shared<const jobs::SpliceMatrix>(std::move(*matrix));
                else
                    result->error = Q(archive::ArchiveErrorText(archive->LastError()));
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
    const std::optional<Chosen> keep = chosen_;
    const QSignalBlocker blocker(tree_);
    tree_.clear();
    // The items are made apart from the tree and handed to it at once: one layout of
    // the tree, not one for each of a large job's thousand items.
    QList<QTreeWidgetItem*> top;
    // The widest texts of each column, for their widths.
    QString longestName, longestCounts;
    auto add = [&](QTreeWidgetItem* parent, Node node, std::int64_t id, const QString& name) {
        auto* item = new QTreeWidgetItem(parent, {name});  // owned by its parent item
        item->setData(kNameColumn, kKindRole, static_cast<int>(node));
        item->setData(kNameColumn, kIdRole, QVariant::fromValue<qlonglong>(id));
        if (name.size() > longestName.size()) longestName = name;
        return item;
    };
    // The job's verdict in a word before its counts; the core's counts everywhere.
    const jobs::MatrixCaptions words = jobs::LoadMatrixCaptions();
    auto counts = [&](QTreeWidgetItem* item, const jobs::MatrixCounts& c,
                      std::optional<jobs::JobState> state = std::nullopt) {
        item->setText(
            kCountsColumn,
            (state ? Q(words.State(*state)) + QStringLiteral(": ") : QString()) + CountsText(c));
        if (item->text(kCountsColumn).size() > longestCounts.size())
            longestCounts = item->text(kCountsColumn);
    };
    QTreeWidgetItem* select = nullptr;
    QTreeWidgetItem* shownJob = nullptr;
    auto wanted = [&](QTreeWidgetItem* item, Node node, std::int64_t id) {
        if (keep && keep->node == node && keep->id == id) select = item;
    };
    for (std::size_t at = 0; at < jobs_.size(); ++at) {
        const jobs::JobInfo& info = jobs_[at];
        auto* job = new QTreeWidgetItem(QStringList{Q(info.details.name)});  // the tree takes it
        top.push_back(job);
        if (job->text(kNameColumn).size() > longestName.size())
            longestName = job->text(kNameColumn);
        job->setData(kNameColumn, kKindRole, static_cast<int>(Node::Job));
        job->setData(kNameColumn, kIdRole, QVariant::fromValue<qlonglong>(info.id));
        wanted(job, Node::Job, info.id);
        if (!matrix_ || matrix_->job.id != info.id) {
            if (at < result.standings.size())
                counts(job, result.standings[at].counts, result.standings[at].verdict.state);
            continue;
        }
        counts(job, matrix_->totals, jobs::JudgeJob(*matrix_).state);
        for (const jobs::MatrixClosure& closure : matrix_->closures) {
            QTreeWidgetItem* c =
                add(job, Node::Closure, closure.closure.id, Q(closure.closure.details.name));
            counts(c, closure.counts);
            wanted(c, Node::Closure, closure.closure.id);
            for (const jobs::TrayInfo& tray : closure.trays) {
                QTreeWidgetItem* t =
                    add(c, Node::Tray, tray.id, Q(jt::TrayItem).arg(tray.details.number));
                counts(t, jobs::CountRows(closure.rows, tray.details.number));
                wanted(t, Node::Tray, tray.id);
            }
            for (const jobs::CableInfo& cable : closure.cables) {
                QTreeWidgetItem* k = add(
                    c, Node::Cable, cable.id,
                    QStringLiteral("%1 (%2)").arg(Q(cable.details.name)).arg(cable.details.fibres));
                wanted(k, Node::Cable, cable.id);
            }
        }
        QTreeWidgetItem* unplaced = add(job, Node::Unplaced, info.id, Q(jt::UnplacedItem));
        unplaced->setText(kCountsColumn, QString::number(matrix_->unplaced.size()));
        wanted(unplaced, Node::Unplaced, info.id);
        QTreeWidgetItem* tests = add(job, Node::TestSplices, info.id, Q(jt::TestItem));
        tests->setText(kCountsColumn, QString::number(matrix_->testSplices.size()));
        wanted(tests, Node::TestSplices, info.id);
        shownJob = job;
    }
    tree_.addTopLevelItems(top);
    // A chosen item that is gone (deleted) leaves the job shown chosen.
    if (!select) select = shownJob;
    // The job shown is open; so are its closures while they are few, else the one chosen.
    if (shownJob) {
        shownJob->setExpanded(true);
        if (shownJob->childCount() <= kOpenClosures)
            for (int i = 0; i < shownJob->childCount(); ++i) shownJob->child(i)->setExpanded(true);
    }
    for (QTreeWidgetItem* open = select ? select->parent() : nullptr; open; open = open->parent())
        open->setExpanded(true);
    // Each column as wide as its longest text, measured once (ResizeToContents would
    // measure every item, many milliseconds in a large job's tree); the tree scrolls
    // sideways when it is narrower.
    const QFontMetrics metrics(tree_.font());
    const int indent = 3 * tree_.indentation() + 8;
    tree_.header()->resizeSection(
        kNameColumn, std::max(metrics.horizontalAdvance(longestName) + indent,
                              metrics.horizontalAdvance(tree_.headerItem()->text(0)) + 16));
    tree_.header()->resizeSection(
        kCountsColumn, std::max(metrics.horizontalAdvance(longestCounts) + 12,
                                metrics.horizontalAdvance(tree_.headerItem()->text(1)) + 16));
    treeWidth_ = tree_.header()->sectionSize(kNameColumn) +
                 tree_.header()->sectionSize(kCountsColumn) + 2 * tree_.frameWidth() +
                 tree_.style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    SplitWidths();
    // The team view is read-only: its empty list offers no New job.
    summary_.setText(!result.error.isEmpty() ? Q(keys::archive_tab::Failed).arg(result.error)
                     : !jobs_.empty()        ? QString()
                     : TeamShown()           ? Q(keys::team_window::NoTeamJobs)
                                             : Q(jt::NoJobs));
    summary_.setVisible(!summary_.text().isEmpty());
    if (select) {
        tree_.setCurrentItem(select);
        tree_.scrollToItem(select);
    }
    // The table follows the tree with the matrix just read.
    OnTreeChosen();
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
        row.texts << QString() << QString() << QString() << QString() << QString();
    }
    if (const jobs::MatrixSplice* s = item.splice) {
        row.texts << Q(LossText(s->record)) << (item.test ? Q(jt::MarkTest) : MarkText(s->mark))
                  << Q(s->splicer) << Q(TimeText(s->record))
                  << Q(item.row ? jobs::ReplacedText(*item.row) : std::string());
        row.id = s->recordId;
        if (!item.test && s->mark == Mark::Failed) row.tint = kFailedRowColour;
        if (!item.test && OverLimit(s->mark)) row.tint = kOverLimitRowColour;
    } else {
        row.texts << QString() << Q(jt::Planned) << QString() << QString()
                  << Q(item.row ? jobs::ReplacedText(*item.row) : std::string());
    }
    return row;
}

void CJobDlg::SizeColumns(int clientWidth) {
    if (widths_.empty())
        for (int column = 0; column < kColumns; ++column)
            widths_.push_back(positionList_.ColumnWidthFor(column, {}));
    positionList_.SpreadColumns(widths_, clientWidth);
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
    place_.setEnabled(inClosure);
    undoPlacing_.setEnabled(job);
    move_.setEnabled(splice && !testList_);
    testSplice_.setEnabled(splice);
    testSplice_.setText(testList_ ? Q(jt::BtnCountSplice) : Q(jt::BtnTestSplice));
    report_.setEnabled(matrix_ != nullptr);
    // The team view is the team archive as last read: nothing in it is edited here.
    if (TeamShown())
        for (CWBButton* button : {&newJob_, &edit_, &addClosure_, &addCable_, &addTray_, &delete_,
                                  &place_, &undoPlacing_, &move_, &testSplice_})
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
    if (!Archiver()) return;
    ++pending_;
    Archiver()->Post([page = QPointer(this), work = std::move(work), done = std::move(done)](
                         archive::Archive* archive, const archive::ArchiveError& error) {
        jobs::JobResult result;
        if (archive) {
            jobs::JobStore store(*archive);
            result = work(store);
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
            return [d, jobId, id](jobs::JobStore& store) {
                return id ? store.EditClosure(id, d) : store.AddClosure(jobId, d);
            };
        },
        [f](const jobs::JobResult&) { return Q(jt::Saved).arg(f->Text("name")->text()); },
        id ? std::nullopt : std::optional(Node::Closure));
}

void CJobDlg::EditCable(std::int64_t closureId, const jobs::CableInfo* cable) {
    const jobs::CableDetails old = cable ? cable->details : jobs::CableDetails{};
    auto form = std::make_unique<CJobForm>(this, Q(jt::CableCaption));
    form->AddText("name", Q(jt::FieldName), Q(old.name));
    form->AddNumber("fibres", Q(jt::FieldFibres), old.fibres, jobs::kMinFibres, jobs::kMaxFibres);
    form->AddNumber("perTube", Q(jt::FieldPerTube), old.perTube, 1, jobs::kMaxFibres);
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

void CJobDlg::EditTray(std::int64_t closureId, const jobs::TrayInfo* tray) {
    jobs::TrayDetails old = tray ? tray->details : jobs::TrayDetails{};
    // A new tray takes the number after the closure's last.
    if (const jobs::MatrixClosure* closure = ChosenClosure(); !tray && closure)
        for (const jobs::TrayInfo& t : closure->trays)
            old.number = std::max(old.number, t.details.number + 1);
    auto form = std::make_unique<CJobForm>(this, Q(jt::TrayCaption));
    form->AddNumber("number", Q(jt::FieldTray), old.number, 1, 9999);
    form->AddNumber("capacity", Q(jt::FieldCapacity), old.capacity, 1, 1000);
    CJobForm* f = form.get();
    const std::int64_t id = tray ? tray->id : 0;
    OpenForm(
        std::move(form),
        [f, closureId, id] {
            const jobs::TrayDetails d{f->Number("number")->value(), f->Number("capacity")->value()};
            return [d, closureId, id](jobs::JobStore& store) {
                return id ? store.EditTray(id, d) : store.AddTray(closureId, d);
            };
        },
        [f](const jobs::JobResult&) {
            return Q(jt::Saved).arg(Q(jt::TrayItem).arg(f->Number("number")->value()));
        },
        id ? std::nullopt : std::optional(Node::Tray));
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
                    if (tray.id == chosen->id) EditTray(closure->closure.id, &tray);
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
    EditTray(closure->closure.id, nullptr);
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

const jobs::MatrixSplice* CJobDlg::SpliceOf(std::int64_t recordId) const {
    if (!matrix_) return nullptr;
    for (const auto* list : {&matrix_->unplaced, &matrix_->testSplices})
        for (const jobs::MatrixSplice& s : *list)
            if (s.recordId == recordId) return &s;
    for (const jobs::MatrixClosure& closure : matrix_->closures)
        for (const jobs::MatrixRow& row : closure.rows) {
            if (row.splice && row.splice->recordId == recordId) return &*row.splice;
            for (const jobs::MatrixSplice& s : row.resplices)
                if (s.recordId == recordId) return &s;
        }
    return nullptr;
}

void CJobDlg::OnBnClickedPlace() {
    const jobs::MatrixClosure* closure = ChosenClosure();
    if (!closure || closure->trays.empty()) return ShowBox(Text(jt::ChooseTray));
    if (closure->cables.empty()) return ShowBox(Text(jt::ChooseCable));
    const std::optional<Chosen> chosen = ChosenNode();
    auto form = std::make_unique<CJobForm>(this, Q(jt::BtnPlace));
    QComboBox& tray = form->AddChoice("tray", Q(jt::FieldTray));
    for (const jobs::TrayInfo& t : closure->trays) {
        tray.addItem(Q(jt::TrayItem).arg(t.details.number), QVariant::fromValue<qlonglong>(t.id));
        if (chosen && chosen->node == Node::Tray && chosen->id == t.id)
            tray.setCurrentIndex(tray.count() - 1);
    }
    form->AddNumber("position", Q(jt::FieldFirstPosition), 1, 1, 1000);
    form->AddFibre("a", Q(jt::FieldCableA));
    form->AddFibre("b", Q(jt::FieldCableB));
    for (const char* end : {"a", "b"})
        for (const jobs::CableInfo& cable : closure->cables)
            form->Choice(end)->addItem(Q(cable.details.name),
                                       QVariant::fromValue<qlonglong>(cable.id));
    if (closure->cables.size() > 1) form->Choice("b")->setCurrentIndex(1);
    CJobForm* f = form.get();
    // Where the work goes on: the tray's first position not yet spliced, and each
    // cable's fibre after the last one the closure's positions join.
    const auto proposeStart = [f, closure] {
        const int tray = f->Choice("tray")->currentIndex();
        const int number =
            closure->trays[static_cast<std::size_t>(std::max(tray, 0))].details.number;
        int first = 1;
        for (const jobs::MatrixRow& row : closure->rows)
            if (row.tray == number && row.splice) first = std::max(first, row.position + 1);
        f->Number("position")->setValue(first);
        for (const char* end : {"a", "b"}) {
            const std::string cable = f->Choice(end)->currentText().toStdString();
            int fibre = 1;
            for (const jobs::MatrixRow& row : closure->rows)
                for (const jobs::MatrixEnd* e : {&row.a, &row.b})
                    if (e->cable == cable && row.splice) fibre = std::max(fibre, e->fibre + 1);
            f->Number(std::string(end) + ".fibre")->setValue(fibre);
        }
    };
    proposeStart();
    connect(&tray, &QComboBox::activated, this, proposeStart);
    const int unplaced = static_cast<int>(std::min<std::size_t>(matrix_->unplaced.size(), 1000));
    QRadioButton& latest =
        form->AddRadio("latest", Q(jt::FieldLatest), "count", std::clamp(unplaced, 1, 12), 1, 1000);
    QRadioButton& archived =
        form->AddRadio("archived", Q(jt::FieldChosen).arg(archiveChoiceCount_));
    latest.setChecked(true);
    archived.setEnabled(archiveChoiceCount_ > 0);
    CListCtrlEx& preview = form->AddList("preview");
    preview.InsertColumn(0, Q(jt::ColPosition), Qt::AlignHCenter);
    preview.InsertColumn(1, Q(jt::ColFibreA), Qt::AlignHCenter);
    preview.InsertColumn(2, Q(jt::ColFibreB), Qt::AlignHCenter);
    preview.InsertColumn(3, Q(jt::PreviewRecord), Qt::AlignHCenter);
    preview.setMinimumSize(420, 160);
    form->resize(560, 420);
    for (const char* field : {"position", "a.fibre", "b.fibre", "count"})
        connect(f->Number(field), &QSpinBox::valueChanged, this, [this] { PreviewPlacing(); });
    for (const char* field : {"tray", "a", "b"})
        connect(f->Choice(field), &QComboBox::currentIndexChanged, this,
                [this] { PreviewPlacing(); });
    connect(&latest, &QRadioButton::toggled, this, [this] { PreviewPlacing(); });
    OpenForm(
        std::move(form),
        [this, f] {
            jobs::PlacingRequest request;
            request.trayId = f->Choice("tray")->currentData().toLongLong();
            request.firstPosition = f->Number("position")->value();
            request.a = {f->Choice("a")->currentData().toLongLong(), f->Number("a.fibre")->value()};
            request.b = {f->Choice("b")->currentData().toLongLong(), f->Number("b.fibre")->value()};
            request.records = previewIds_;
            request.limits = report::LoadLimits(Config().AppDirectory);
            return [request](jobs::JobStore& store) { return store.Place(request); };
        },
        [](const jobs::JobResult& result) { return Q(jt::Placed).arg(result.count); });
    PreviewPlacing();
}

void CJobDlg::PreviewPlacing() {
    CJobForm* f = form_.get();
    if (!f || !f->List("preview") || !matrix_ || !Archiver()) return;
    const bool useLatest = f->Radio("latest")->isChecked();
    f->Number("count")->setEnabled(useLatest);
    f->AllowOk(false);
    const int serial = ++previewSerial_;
    const std::int64_t jobId = matrix_->job.id;
    const std::size_t count = static_cast<std::size_t>(f->Number("count")->value());
    const ChosenIds chosen = archiveChoice_;
    ++pending_;
    Archiver()->PostQuery([page = QPointer(this), serial, jobId, count, useLatest, chosen](
                              archive::Archive* archive, const archive::ArchiveError&) {
        std::vector<std::int64_t> ids;
        if (archive && useLatest) {
            if (auto latest = jobs::JobStore(*archive).LatestUnplaced(jobId, count))
                ids = std::move(*latest);
        } else if (archive && chosen) {
            ids = *chosen;
        }
        OnWindow(page, [page, serial, ids] {
            --page->pending_;
            if (serial == page->previewSerial_) page->ShowPreview(ids);
        });
    });
}

void CJobDlg::ShowPreview(const std::vector<std::int64_t>& ids) {
    CJobForm* f = form_.get();
    CListCtrlEx* preview = f ? f->List("preview") : nullptr;
    if (!preview || !matrix_) return;
    // In time order, as they were spliced, beside the positions they will fill.
    std::vector<std::pair<const jobs::MatrixSplice*, std::int64_t>> records;
    for (const std::int64_t id : ids) records.push_back({SpliceOf(id), id});
    std::stable_sort(records.begin(), records.end(), [](const auto& x, const auto& y) {
        if (!x.first || !y.first) return x.first != nullptr && y.first == nullptr;
        return TimeText(x.first->record) < TimeText(y.first->record);
    });
    previewIds_.clear();
    const int position = f->Number("position")->value();
    const int fibreA = f->Number("a.fibre")->value();
    const int fibreB = f->Number("b.fibre")->value();
    const QString cableA = f->Choice("a")->currentText();
    const QString cableB = f->Choice("b")->currentText();
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    std::vector<CListCtrlEx::Row> rows;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const auto [splice, id] = records[k];
        previewIds_.push_back(id);
        const int step = static_cast<int>(k);
        const QString record = splice ? QStringLiteral("%1  %2  %3 dB")
                                            .arg(Q(TimeText(splice->record)),
                                                 Q(ResultListText(splice->record, language)),
                                                 Q(LossText(splice->record)))
                                      : QStringLiteral("#%1").arg(id);
        rows.push_back({{QString::number(position + step),
                         QStringLiteral("%1:%2").arg(cableA).arg(fibreA + step),
                         QStringLiteral("%1:%2").arg(cableB).arg(fibreB + step), record},
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
    if (rows.empty()) f->Refusal().setText(Q(jt::NothingToPlace));
    f->Refusal().setVisible(rows.empty());
    f->AllowOk(!rows.empty());
}

void CJobDlg::OnBnClickedUndoPlacing() {
    RunStore([](jobs::JobStore& store) { return store.UndoLastPlacing(); },
             [this](const jobs::JobResult& result) {
                 const QString refusal = OutcomeText(result);
                 emit StatusNotice(refusal.isEmpty() ? Q(jt::Unplaced).arg(result.count) : refusal);
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
    form->AddNumber("position", Q(jt::FieldPosition), item->row ? item->row->position : 1, 1, 1000);
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
    RunStore(
        [record, test](jobs::JobStore& store) { return store.MarkTestSplice(record, test); },
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

}  // namespace velmora::ui
