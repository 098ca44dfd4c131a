#include "ui/archive/archive_dlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QMetaObject>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <ctime>
#include <numeric>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "archive/archive_texts.h"
#include "archive/snapshot_backup.h"
#include "base/app_config.h"
#include "base/language.h"
#include "base/local_time.h"
#include "base/path_text.h"
#include "base/sha256.h"
#include "base/time_text.h"
#include "history/csv_export.h"
#include "history/history_texts.h"
#include "images/image_files.h"
#include "report/report_data.h"
#include "settings/parameter_rows.h"
#include "settings/settings_backup.h"
#include "settings/settings_texts.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_pump.h"
#include "ui/report/report_dlg.h"
#include "ui/widgets/record_lists.h"

namespace velmora::ui {

namespace tk = keys::archive_tab;

namespace {

constexpr int kPageMargin = 8;
constexpr int kSpacing = 6;
// The smallest the image is drawn (4:3, as the splicer takes them); it grows with the window.
constexpr QSize kSmallestPicture{100, 75};

// The record list's columns.
enum RecordColumn : int {
    // The row's place in the list: in the archive's order, over every splicer its place
    // in the archive, over one splicer the splicer's own splice number.
    kIndexColumn,
    kTimeColumn,
    kResultColumn,
    kLossColumn,
    kSplicerColumn,
    kJobColumn,
    // Where the splice sits in its job. Not sortable: no index of the records orders
    // them by their closure, tray and position, and a sort without one would read them all.
    kPlaceColumn,
    kRecordColumns
};
// Combo entries that are not a name: every splicer or job, and the records without a job.
const QString kAll = QStringLiteral("\x01all");
const QString kNone = QStringLiteral("\x01none");

// A splicer by its serial number; by its folder when that is not known.
QString SplicerText(const std::string& serialNumber, const std::string& folder) {
    return serialNumber.empty() ? Q(tk::UnknownSerial).arg(Q(folder)) : Q(serialNumber);
}

// The Restore boxes stand for the records a backup keeps, in kBackupRecords order.
QString RecordName(ParamRecord record) {
    return record == ParamRecord::DeviceConfig ? Q(tk::ConfigGroups)
                                               : Q(GroupCaption(GroupsOf(record).front()));
}

QString LocalTimeText(std::chrono::sys_seconds when) {
    const std::tm t = LocalTime(static_cast<std::time_t>(when.time_since_epoch().count()));
    return Q(TimeStampText(t.tm_year + 1900 - 2000, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                           t.tm_sec));
}

std::chrono::year_month_day Day(const QDate& date) {
    return std::chrono::year_month_day{std::chrono::year(date.year()),
                                       std::chrono::month(static_cast<unsigned>(date.month())),
                                       std::chrono::day(static_cast<unsigned>(date.day()))};
}

QDate DateOf(std::chrono::local_seconds time) {
    const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(time)};
    return QDate(static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
                 static_cast<int>(static_cast<unsigned>(day.day())));
}

// The image in `file` while it is still one the archive kept (one of `digests`);
// otherwise a null image and `why` says what became of it.
QImage ArchivedImageFile(const std::filesystem::path& file, const std::vector<std::string>& digests,
                         QString& why) {
    const FileReadResult read = ReadImageFile(file);
    if (read.problem == FileReadProblem::Missing) {
        why = Q(tk::ImageGone).arg(Q(PathText(file)));
        return {};
    }
    // Another picture saved under its name would show a splice it does not belong to.
    if (read.ok() &&
        std::ranges::find(
            digests, HexText(Sha256Of({reinterpret_cast<const std::uint8_t*>(read.bytes.data()),
                                       read.bytes.size()}))) == digests.end()) {
        why = Q(tk::ImageChanged).arg(Q(PathText(file)));
        return {};
    }
    std::string problem;
    QImage image = DecodeImageFile(file, read, &problem);
    why = Q(problem);
    return image;
}

QString ChooseWithFileDialog(QWidget* parent, const QString& proposed) {
    return QFileDialog::getSaveFileName(parent, QString(), proposed, QStringLiteral("(*.csv)"));
}

}  // namespace

// What one reading of the archive brings back, built on the archive's thread.
struct CArchiveDlg::QueryResult {
    int serial = 0;
    std::string error;  // "" when the archive answered
    std::vector<archive::SplicerInfo> splicers;
    std::vector<archive::JobSummary> jobs;
    archive::RecordFilter filter;  // as read: with the dates that follow the archive
    archive::SpliceSpan span;      // of the splicer chosen
    std::shared_ptr<archive::RecordCursor> cursor;
    std::vector<CPagedTableModel::Row> rows;  // the first page
    std::optional<std::size_t> total;
    bool keepView = false;
    // Per column of the record list, the texts that decide its width.
    std::array<QStringList, kRecordColumns> widest;
    std::vector<archive::ParameterSnapshot> snapshots;
};

namespace {

// "C-17 / 2 / 5", or that the splice is a test splice; "" for one not placed.
QString PlaceText(const archive::ArchivedRecord& r) {
    if (r.testSplice) return Q(keys::job_tab::MarkTest);
    if (r.closure.empty()) return {};
    return Q(keys::job_tab::PlaceText).arg(Q(r.closure)).arg(r.tray).arg(r.position);
}

// The list's rows of `records`, the first at row `first` of the list, worded on the
// archive's thread.
std::vector<CPagedTableModel::Row> ListRows(std::vector<archive::ArchivedRecord>& records,
                                            std::size_t first, TableLanguage language) {
    std::vector<CPagedTableModel::Row> rows;
    rows.reserve(records.size());
    for (archive::ArchivedRecord& r : records) {
        QStringList texts{QString::number(first + rows.size() + 1),
                          Q(TimeText(r.record)),
                          Q(ResultListText(r.record, language)),
                          Q(LossText(r.record)),
                          SplicerText(r.serialNumber, r.device),
                          Q(r.job),
                          PlaceText(r)};
        const std::int64_t id = r.id;
        rows.push_back({std::move(texts), id, std::move(r)});
    }
    return rows;
}

QStringList RecordCaptions() {
    return {Q(keys::HistoryCountCol0),
            Q(keys::HistoryCountCol1),
            Q(tk::ResultColumn),
            Q(tk::LossColumn),
            Q(tk::Splicer),
            Q(tk::Job),
            Q(keys::job_tab::ColPlace)};
}

// The orders of the sortable columns, those before kPlaceColumn.
constexpr archive::RecordSort kSortOf[kPlaceColumn] = {
    archive::RecordSort::Index, archive::RecordSort::Time,    archive::RecordSort::Result,
    archive::RecordSort::Loss,  archive::RecordSort::Splicer, archive::RecordSort::Job};

// How many records chosen are found again in a new listing, at most.
constexpr std::size_t kKeptChoice = 2000;

}  // namespace

CArchiveDlg::CArchiveDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      tables_(OptionTablesFor(Config())),
      recordModel_(RecordCaptions(), CListCtrlEx::kFontHeight + 8),
      nameSelected_(Q(tk::BtnNameSelected)),
      nameAll_(Q(tk::BtnNameAll)),
      rename_(Q(tk::BtnRename)),
      clearJob_(Q(tk::BtnClearJob)),
      undoNaming_(Q(tk::BtnUndoNaming)),
      export_(Q(tk::BtnExport)),
      report_(ReportButtonText()),
      compare_(Q(tk::BtnCompare)),
      restore_(Q(tk::BtnRestore)) {
    splicerLabel_.setText(Q(tk::Splicer));
    fromCheck_.setText(Q(tk::From));
    toCheck_.setText(Q(tk::To));
    jobLabel_.setText(Q(tk::Job));
    resultLabel_.setText(Q(tk::ResultColumn));
    resultCombo_.addItem(Q(tk::AllResults));
    resultCombo_.addItem(Q(tk::FailedResults), static_cast<int>(archive::Verdict::Failed));
    resultCombo_.addItem(Q(keys::job_files::OverLimit),
                         static_cast<int>(archive::Verdict::OverLimit));
    resultCombo_.addItem(Q(tk::PassedResults), static_cast<int>(archive::Verdict::Passed));
    searchEdit_.setPlaceholderText(Q(tk::Search));
    searchEdit_.setClearButtonEnabled(true);
    searchPause_.setSingleShot(true);
    searchPause_.setInterval(300);
    const QDate today = QDate::currentDate();
    for (QDateEdit* edit : {&fromDate_, &toDate_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setDate(today);
        edit->setEnabled(false);
    }
    splicerCombo_.addItem(Q(tk::AllSplicers), kAll);
    jobCombo_.addItem(Q(tk::AllJobs), kAll);
    jobCombo_.addItem(Q(tk::NoJob), kNone);
    // Long splicer or job names are cut rather than widening the window.
    for (QComboBox* combo : {&splicerCombo_, &jobCombo_}) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(10);
    }

    LayOutSplices();
    LayOutSnapshots();
    LayOutPage();

    connect(&splicerCombo_, &QComboBox::activated, this, [this] { Refresh(); });
    connect(&jobCombo_, &QComboBox::activated, this, [this] { Refresh(); });
    connect(&resultCombo_, &QComboBox::activated, this, [this] { Refresh(); });
    // Typing lists once it pauses, on the archive's thread as every filter.
    connect(&searchEdit_, &QLineEdit::textChanged, this, [this] { searchPause_.start(); });
    connect(&searchPause_, &QTimer::timeout, this, [this] { Refresh(); });
    connect(&searchEdit_, &QLineEdit::returnPressed, this, [this] {
        searchPause_.stop();
        Refresh();
    });
    connect(&fromCheck_, &QCheckBox::toggled, this, [this](bool on) {
        fromDate_.setEnabled(on);
        Refresh();
    });
    connect(&toCheck_, &QCheckBox::toggled, this, [this](bool on) {
        toDate_.setEnabled(on);
        Refresh();
    });
    // The page's own changes of the dates are made with the signals blocked.
    connect(&fromDate_, &QDateEdit::dateChanged, this, [this] {
        fromSetByUser_ = true;
        Refresh();
    });
    connect(&toDate_, &QDateEdit::dateChanged, this, [this] {
        toSetByUser_ = true;
        Refresh();
    });
    connect(&recordList_, &CListCtrlEx::ItemChanged, this, [this] {
        OnSelectionChanged();
        OnRecordChosen();
    });
    recordModel_.SetFetcher(
        [this](int generation, int first, int count) { FetchRows(generation, first, count); });
    // Rows that arrive show a record chosen as soon as it is in view.
    connect(&recordModel_, &CPagedTableModel::RowsArrived, this, [this](int first, int) {
        if (first == 0) OnRecordChosen();
    });
    // Stores come in bursts (a download, its images): the list follows once they pause.
    followWrites_.setSingleShot(true);
    followWrites_.setInterval(200);
    connect(&followWrites_, &QTimer::timeout, this, [this] { Refresh(true); });
    connect(recordList_.header(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnRecordHeaderClicked(column); });
    connect(&picture_, &CPictureFrame::Clicked, this, [this] { OnPictureClicked(); });
    connect(&snapshotList_, &CListCtrlEx::ItemChanged, this, [this] { OnSnapshotChosen(); });
    connect(&nameSelected_, &QPushButton::clicked, this, [this] { OnBnClickedNameSelected(); });
    connect(&nameAll_, &QPushButton::clicked, this, [this] { OnBnClickedNameAll(); });
    connect(&rename_, &QPushButton::clicked, this, [this] { OnBnClickedRename(); });
    connect(&clearJob_, &QPushButton::clicked, this, [this] { OnBnClickedClearJob(); });
    connect(&undoNaming_, &QPushButton::clicked, this, [this] { OnBnClickedUndoNaming(); });
    connect(&export_, &QPushButton::clicked, this, [this] { OnBnClickedExport(); });
    connect(&exporter_, &CCsvExporter::Finished, this, [this] { export_.setEnabled(true); });
    // The report takes the records the list shows, as the export does.
    connect(&report_, &QPushButton::clicked, this, [this] {
        ReportOnArchive(
            this, shownFilter_,
            static_cast<std::size_t>(recordModel_.Total().value_or(recordModel_.Rows())),
            DataFolder());
    });
    connect(&compare_, &QPushButton::clicked, this, [this] { OnBnClickedCompare(); });
    connect(&restore_, &QPushButton::clicked, this, [this] { OnBnClickedRestore(); });
}

CArchiveDlg::~CArchiveDlg() {
    Worker().StopAndJoin();
}

void CArchiveDlg::LayOutSplices() {
    // A header click orders the records on the archive's thread, not the rows here.
    recordList_.UseWindowedModel(&recordModel_);
    recordList_.EnableMultipleSelection(true);
    recordList_.header()->setSortIndicatorShown(true);
    recordList_.header()->setSortIndicator(kIndexColumn, Qt::AscendingOrder);
    recordList_.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(&recordList_, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeRecordColumns(width); });
    SizeRecordColumns(recordList_.viewport()->width());
    SetUpDetailList(detailList_, DetailCaptions());
    picture_.SetKeepAspect(true);
    picture_.setMinimumSize(kSmallestPicture);
    picture_.setToolTip(Q(tk::ImageFullSize));
    pictureText_.setWordWrap(true);
    pictureText_.setText(Q(tk::NoImage));
    jobEdit_.setPlaceholderText(Q(tk::JobName));
    progress_.setRange(0, 100);
    progress_.setValue(0);
    progress_.setTextVisible(false);
    progress_.setFixedHeight(18);
    // In the smallest window the bar gives way to the count and the buttons beside it.
    progress_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    jobLayout_.setContentsMargins(0, 0, 0, 0);
    jobLayout_.setSpacing(kSpacing);
    jobLayout_.addWidget(&jobEdit_, 1);
    jobLayout_.addWidget(&nameSelected_);
    jobLayout_.addWidget(&nameAll_);
    jobLayout_.addWidget(&rename_);
    // The count, the export's progress, the rest of the naming (room for the job
    // name above), Report and Export.
    exportLayout_.setContentsMargins(0, 0, 0, 0);
    exportLayout_.setSpacing(kSpacing);
    exportLayout_.addWidget(&countText_);
    exportLayout_.addWidget(&progress_, 1);
    exportLayout_.addWidget(&clearJob_);
    exportLayout_.addWidget(&undoNaming_);
    exportLayout_.addWidget(&report_);
    exportLayout_.addWidget(&export_);

    splicesLayout_.setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
    splicesLayout_.setSpacing(kSpacing);
    splicesLayout_.addWidget(&recordList_, 0, 0, 3, 1);
    splicesLayout_.addWidget(&detailList_, 0, 1);
    splicesLayout_.addWidget(&picture_, 1, 1);
    splicesLayout_.addWidget(&pictureText_, 2, 1);
    splicesLayout_.addLayout(&exportLayout_, 3, 0, 1, 2);
    splicesLayout_.addLayout(&jobLayout_, 4, 0, 1, 2);
    splicesLayout_.setColumnStretch(0, 1);
    splicesLayout_.setColumnStretch(1, 1);
    // The image gets the larger share of the height; the details scroll.
    splicesLayout_.setRowStretch(0, 2);
    splicesLayout_.setRowStretch(1, 3);
    splicesPage_.setLayout(&splicesLayout_);
}

void CArchiveDlg::LayOutSnapshots() {
    snapshotList_.InsertColumn(0, Q(tk::Splicer), Qt::AlignHCenter);
    snapshotList_.InsertColumn(1, Q(tk::SnapTime), Qt::AlignHCenter);
    snapshotList_.InsertColumn(2, Q(tk::SnapReason), Qt::AlignHCenter);
    snapshotList_.InsertColumn(3, Q(tk::SnapGroups), Qt::AlignHCenter);
    connect(&snapshotList_, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeSnapshotColumns(width); });
    differenceList_.InsertColumn(0, Q(tk::DiffGroup), Qt::AlignHCenter);
    differenceList_.InsertColumn(1, Q(tk::DiffRow), Qt::AlignHCenter);
    differenceList_.InsertColumn(2, Q(tk::DiffSnapshot), Qt::AlignHCenter);
    differenceList_.InsertColumn(3, Q(tk::DiffOther), Qt::AlignHCenter);
    connect(&differenceList_, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeDifferenceColumns(width); });
    SizeSnapshotColumns(snapshotList_.viewport()->width());
    SizeDifferenceColumns(differenceList_.viewport()->width());
    compareLabel_.setText(Q(tk::CompareWith));
    compareWith_.addItem(Q(tk::ConnectedSplicer), QVariant::fromValue<qlonglong>(0));
    compareWith_.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    compareWith_.setMinimumContentsLength(16);
    for (std::size_t record = 0; record < restoreChecks_.size(); ++record) {
        restoreChecks_[record] = std::make_unique<QCheckBox>(RecordName(kBackupRecords[record]));
        restoreChecks_[record]->setEnabled(false);
    }

    for (QHBoxLayout* row : {&compareRow_, &restoreRow_}) {
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(kSpacing);
    }
    compareRow_.addWidget(&compareLabel_);
    compareRow_.addWidget(&compareWith_, 1);
    compareRow_.addWidget(&compare_);
    for (const auto& check : restoreChecks_) restoreRow_.addWidget(check.get());
    restoreRow_.addStretch(1);
    restoreRow_.addWidget(&restore_);

    snapshotsLayout_.setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
    snapshotsLayout_.setSpacing(kSpacing);
    snapshotsLayout_.addWidget(&snapshotList_, 0, 0);
    snapshotsLayout_.addLayout(&restoreRow_, 1, 0);
    snapshotsLayout_.addLayout(&compareRow_, 2, 0);
    snapshotsLayout_.addWidget(&differenceList_, 3, 0);
    snapshotsLayout_.setRowStretch(0, 1);
    snapshotsLayout_.setRowStretch(3, 1);
    snapshotsPage_.setLayout(&snapshotsLayout_);
}

void CArchiveDlg::LayOutPage() {
    filterLayout_.setSpacing(kSpacing);
    filterLayout_.addWidget(&splicerLabel_);
    filterLayout_.addWidget(&splicerCombo_);
    filterLayout_.addSpacing(kSpacing);
    filterLayout_.addWidget(&fromCheck_);
    filterLayout_.addWidget(&fromDate_);
    filterLayout_.addWidget(&toCheck_);
    filterLayout_.addWidget(&toDate_);
    filterLayout_.addSpacing(kSpacing);
    filterLayout_.addWidget(&jobLabel_);
    filterLayout_.addWidget(&jobCombo_);
    filterLayout_.addStretch(1);
    // A row of their own: beside the others they would widen the smallest window.
    searchLayout_.setSpacing(kSpacing);
    searchLayout_.addWidget(&resultLabel_);
    searchLayout_.addWidget(&resultCombo_);
    searchLayout_.addSpacing(kSpacing);
    searchLayout_.addWidget(&searchEdit_, 1);

    views_.addTab(&splicesPage_, Q(tk::SplicesPage));
    views_.addTab(&snapshotsPage_, Q(tk::SnapshotsPage));
    pageLayout_.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    pageLayout_.setVerticalSpacing(kSpacing);
    pageLayout_.addWidget(&teamBar_, 0, 0);
    pageLayout_.addLayout(&filterLayout_, 1, 0);
    pageLayout_.addLayout(&searchLayout_, 2, 0);
    pageLayout_.addWidget(&views_, 3, 0);
    pageLayout_.setRowStretch(3, 1);
    setLayout(&pageLayout_);
}

void CArchiveDlg::ShowTeam(bool team) {
    SetTeamShown(team);
    // The team view is the team archive as last read: nothing in it is edited here.
    for (QWidget* editing : std::initializer_list<QWidget*>{&jobEdit_, &nameSelected_, &nameAll_,
                                                            &rename_, &clearJob_, &undoNaming_})
        editing->setEnabled(!TeamShown());
    jobEdit_.setPlaceholderText(TeamShown() ? Q(keys::team_window::ReadOnlyView) : Q(tk::JobName));
    // Its records are not this PC's: the Job tab cannot place them.
    chosen_ = std::make_shared<std::vector<std::int64_t>>();
    emit RecordsChosen(chosen_, 0);
    // The other archive's cursor and rows mean nothing in this one.
    cursor_.reset();
    // A splicer is a row of its archive: the other archive numbers them otherwise.
    splicerCombo_.setCurrentIndex(0);
    Refresh();
}

archive::RecordFilter CArchiveDlg::Filter() const {
    archive::RecordFilter filter;
    // A splicer of the list is one row of the archive, whatever its folder shares.
    const QVariant splicer = splicerCombo_.currentData();
    if (splicer.typeId() == QMetaType::LongLong) filter.splicer = splicer.toLongLong();
    const QString job = jobCombo_.currentData().toString();
    if (job == kNone)
        filter.job = std::string();
    else if (job != kAll && !job.isEmpty())
        filter.job = job.toStdString();
    if (fromCheck_.isChecked()) filter.from = Day(fromDate_.date());
    if (toCheck_.isChecked()) filter.to = Day(toDate_.date());
    // Over a limit: beyond the limits the archive's report judges with.
    if (const QVariant verdict = resultCombo_.currentData(); verdict.isValid()) {
        filter.result = static_cast<archive::Verdict>(verdict.toInt());
        filter.limits = report::LoadLimits(Config().AppDirectory);
    }
    filter.search = searchEdit_.text().toStdString();
    return filter;
}

template <class Done>
void CArchiveDlg::OnWindow(const QPointer<CArchiveDlg>& page, Done done) {
    // Posted to the application, which outlives every page, and run only while the
    // page is there: a page may go while its job is on the archive's thread.
    QMetaObject::invokeMethod(
        qApp,
        [page, done = std::move(done)]() mutable {
            if (page) done();
        },
        Qt::QueuedConnection);
}

void CArchiveDlg::Refresh(bool keepView) {
    if (!Archiver()) return;
    archive::RecordFilter filter = Filter();
    // Dates left as the page set them follow the archive: the reading puts them in.
    const bool fromFollows = filter.from && !fromSetByUser_;
    const bool toFollows = filter.to && !toSetByUser_;
    const archive::RecordOrder order = order_;
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    const int serial = ++querySerial_;
    *latestQuery_ = serial;
    ++pending_;
    if (!keepView) countText_.setText(Q(tk::Loading));
    Archiver()->PostQuery([this, page = QPointer(this), filter, fromFollows, toFollows, order,
                           language, serial, keepView,
                           latest = latestQuery_](archive::Archive* archive,
                                                  const archive::ArchiveError& error) mutable {
        auto result = std::make_shared<QueryResult>();
        result->serial = serial;
        result->keepView = keepView;
        // Filters changed again meanwhile (a date typed digit by digit): only the last is read.
        if (serial == latest->load())
            ReadArchive(archive, error, filter, fromFollows, toFollows, order, language, *result);
        OnWindow(page, [this, result, keepView] {
            ShowQueryResult(*result);
            if (result->serial == querySerial_ && result->cursor)
                CountAndChoose(result->serial, keepView);
        });
    });
}

void CArchiveDlg::OnArchiveWritten() {
    if (isVisible()) followWrites_.start();
}

void CArchiveDlg::ReadArchive(archive::Archive* archive, const archive::ArchiveError& error,
                              archive::RecordFilter filter, bool fromFollows, bool toFollows,
                              const archive::RecordOrder& order, TableLanguage language,
                              QueryResult& result) {
    result.filter = filter;
    if (!archive) {
        // Nothing archived yet is no failure: the lists are empty.
        if (error.code != archive::ErrorCode::NoArchive)
            result.error = archive::ArchiveErrorText(error);
        return;
    }
    const auto span = archive->SpliceTimes({.splicer = filter.splicer});
    if (span) {
        result.span = *span;
        auto day = [](std::chrono::local_seconds time) {
            return std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(time)};
        };
        if (fromFollows && span->first) filter.from = day(*span->first);
        if (toFollows && span->last) filter.to = day(*span->last);
        result.filter = filter;
    }
    auto splicers = archive->Splicers();
    auto jobs = archive->Jobs();
    auto snapshots = archive->Snapshots({.splicer = filter.splicer});
    auto cursor = std::make_shared<archive::RecordCursor>(filter, order);
    auto records = span ? cursor->Rows(*archive, 0, CPagedTableModel::kPageRows) : std::nullopt;
    if (!splicers || !jobs || !snapshots || !span) {
        result.error = archive::ArchiveErrorText(archive->LastError());
        return;
    }
    if (!records) {
        result.error = archive::ArchiveErrorText(cursor->Error());
        return;
    }
    result.total = cursor->Total();
    result.cursor = std::move(cursor);
    result.rows = ListRows(*records, 0, language);
    result.splicers = std::move(*splicers);
    result.jobs = std::move(*jobs);
    result.snapshots = std::move(*snapshots);
    // The widths: the largest Index, a time and loss, every result, splicer and job.
    QString longestTime, longestLoss, longestPlace;
    std::set<QString> results;
    for (const CPagedTableModel::Row& row : result.rows) {
        if (row.texts[kTimeColumn].size() > longestTime.size())
            longestTime = row.texts[kTimeColumn];
        if (row.texts[kLossColumn].size() > longestLoss.size())
            longestLoss = row.texts[kLossColumn];
        results.insert(row.texts[kResultColumn]);
        if (row.texts[kPlaceColumn].size() > longestPlace.size())
            longestPlace = row.texts[kPlaceColumn];
    }
    result.widest[kPlaceColumn] = {longestPlace};
    result.widest[kIndexColumn] = {QString(QString::number(span->first ? 9999999 : 0).size(), '9')};
    result.widest[kTimeColumn] = {longestTime};
    result.widest[kLossColumn] = {longestLoss};
    for (const QString& text : results) result.widest[kResultColumn] << text;
    for (const archive::SplicerInfo& s : result.splicers)
        result.widest[kSplicerColumn] << SplicerText(s.serialNumber, s.folderName);
    for (const archive::JobSummary& j : result.jobs) result.widest[kJobColumn] << Q(j.name);
}

void CArchiveDlg::ShowQueryResult(QueryResult& result) {
    --pending_;
    // An older answer than the filters now shown asks for is of no use.
    if (result.serial != querySerial_) return;
    const bool keepView = result.keepView && recordModel_.Rows() > 0;
    FillFilterCombos(result);
    FollowSpliceDates(result.span);
    shownFilter_ = result.filter;
    cursor_ = result.cursor;
    {
        // The records chosen are chosen again once they are found in the new listing.
        const QSignalBlocker blocker(recordList_.selectionModel());
        choosing_ = true;
        const int generation =
            keepView ? recordModel_.Reload(std::nullopt) : recordModel_.Restart();
        *latestGeneration_ = generation;
        // The rows the count makes room for are made at once, then the first page fills them.
        if (result.total) recordModel_.SetTotal(generation, static_cast<int>(*result.total));
        recordModel_.Deliver(generation, 0, std::move(result.rows));
        choosing_ = false;
    }
    recordList_.viewport()->update();
    recordList_.header()->setSortIndicator(
        static_cast<int>(std::find(std::begin(kSortOf), std::end(kSortOf), order_.by) -
                         std::begin(kSortOf)),
        order_.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    recordWidths_.clear();
    for (int column = 0; column < kRecordColumns; ++column)
        recordWidths_.push_back(
            recordList_.ColumnWidthFor(column, result.widest[static_cast<std::size_t>(column)]));
    SizeRecordColumns(recordList_.viewport()->width());
    if (!keepView) {
        ShowRecordDetails(detailList_, nullptr);
        picture_.Clear();
        picture_.unsetCursor();
        pictureText_.setText(Q(tk::NoImage));
    }
    countText_.setText(!result.error.empty() ? Q(tk::Failed).arg(Q(result.error))
                       : result.total        ? Q(tk::RecordCount).arg(*result.total)
                                             : Q(tk::Loading));
    snapshots_ = std::move(result.snapshots);
    FillSnapshots();
}

void CArchiveDlg::CountAndChoose(int serial, bool keepView) {
    ++pending_;
    // Only the ids chosen before the listing are looked for; they are read on the
    // archive's thread, where a choice of rows not yet fetched is still being found.
    ChosenIds chosen = chosen_;
    Archiver()->PostQuery([this, page = QPointer(this), serial, keepView, chosen,
                           latest = latestQuery_, cursor = cursor_](archive::Archive* archive,
                                                                    const archive::ArchiveError&) {
        if (!archive || serial != latest->load()) return OnWindow(page, [this] { --pending_; });
        const std::optional<bool> counted = cursor->Count(*archive, 65536);
        if (counted && !*counted) {
            // Another step after what is queued meanwhile (the rows scrolled to).
            OnWindow(page, [this, serial, keepView] {
                --pending_;
                if (serial == querySerial_) CountAndChoose(serial, keepView);
            });
            return;
        }
        std::vector<std::int64_t> ids(chosen->begin(),
                                      chosen->begin() + std::min(chosen->size(), kKeptChoice));
        std::optional<std::vector<std::size_t>> positions;
        auto kept = std::make_shared<std::vector<std::int64_t>>();
        if (counted && !ids.empty()) {
            positions = cursor->Positions(*archive, ids);
            std::vector<archive::RecordCursor::Range> ranges;
            if (positions)
                for (const std::size_t at : *positions) ranges.push_back({at, at});
            if (auto found = cursor->Ids(*archive, ranges)) *kept = std::move(*found);
        }
        const std::optional<std::size_t> total = cursor->Total();
        OnWindow(page, [this, serial, keepView, total, positions, kept] {
            --pending_;
            if (serial != querySerial_) return;
            const int generation = recordModel_.Generation();
            if (total) {
                recordModel_.SetTotal(generation, static_cast<int>(*total));
                countText_.setText(Q(tk::RecordCount).arg(*total));
                recordWidths_[kIndexColumn] =
                    std::max(recordWidths_[kIndexColumn],
                             recordList_.ColumnWidthFor(kIndexColumn, {QString::number(*total)}));
            }
            if (!positions) return;
            chosen_ = kept;
            ChooseRows(serial, std::vector<int>(positions->begin(), positions->end()), keepView);
        });
    });
}

void CArchiveDlg::ChooseRows(int serial, std::vector<int> rows, bool keepView) {
    if (serial != querySerial_) return;
    // Rows far down are chosen once the list has made room for them.
    if (recordModel_.Growing()) {
        ++pending_;
        QTimer::singleShot(0, this, [this, serial, rows = std::move(rows), keepView]() mutable {
            --pending_;
            ChooseRows(serial, std::move(rows), keepView);
        });
        return;
    }
    choosing_ = true;
    if (keepView) {
        const int scrolled = recordList_.verticalScrollBar()->value();
        recordList_.SelectRows(rows);
        recordList_.verticalScrollBar()->setValue(scrolled);
    } else {
        recordList_.SelectRows(rows);
    }
    choosing_ = false;
}

void CArchiveDlg::FetchRows(int generation, int first, int count) {
    if (!Archiver() || !cursor_) return;
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    Archiver()->PostQuery(
        [this, page = QPointer(this), generation, first, count, language, cursor = cursor_,
         latest = latestGeneration_](archive::Archive* archive, const archive::ArchiveError&) {
            // The list moved on (another filter or order) before this was read.
            if (!archive || generation != latest->load()) return;
            if (cursor->Changed(*archive)) {
                // Another program wrote meanwhile: the positions are read anew, and the
                // list follows the archive as it is now.
                cursor->Restart();
                OnWindow(page, [this] { OnArchiveWritten(); });
            }
            auto records = cursor->Rows(*archive, static_cast<std::size_t>(first),
                                        static_cast<std::size_t>(count));
            if (!records) return;
            auto rows = std::make_shared<std::vector<CPagedTableModel::Row>>(
                ListRows(*records, static_cast<std::size_t>(first), language));
            OnWindow(page, [this, generation, first, rows] {
                recordModel_.Deliver(generation, first, std::move(*rows));
            });
        });
}

const archive::ArchivedRecord* CArchiveDlg::RecordAt(int row) const {
    const CPagedTableModel::Row* listed = recordModel_.RowAt(row);
    return listed ? std::any_cast<archive::ArchivedRecord>(&listed->item) : nullptr;
}

void CArchiveDlg::OnSelectionChanged() {
    if (choosing_) return;
    auto chosen = std::make_shared<std::vector<std::int64_t>>();
    chosen_ = chosen;
    std::vector<archive::RecordCursor::Range> ranges;
    bool fetched = true;
    for (const auto& [first, last] : recordList_.ChosenRanges())
        ranges.push_back({static_cast<std::size_t>(first), static_cast<std::size_t>(last)});
    std::sort(ranges.begin(), ranges.end());
    int count = 0;
    for (const auto& [from, to] : ranges) count += static_cast<int>(to - from + 1);
    emit RecordsChosen(chosen, TeamShown() ? 0 : count);
    for (const auto& [from, to] : ranges)
        for (std::size_t row = from; row <= to && fetched; ++row)
            if (const auto* record = RecordAt(static_cast<int>(row)))
                chosen->push_back(record->id);
            else
                fetched = false;
    if (fetched || !Archiver() || !cursor_) return;
    // Rows chosen with Shift beyond those fetched: found on the archive's thread,
    // before any naming handed over after this.
    chosen->clear();
    ++pending_;
    Archiver()->PostQuery([this, page = QPointer(this), chosen, ranges, cursor = cursor_](
                              archive::Archive* archive, const archive::ArchiveError&) {
        if (archive)
            if (auto ids = cursor->Ids(*archive, ranges)) *chosen = std::move(*ids);
        OnWindow(page, [this] { --pending_; });
    });
}

void CArchiveDlg::FollowSpliceDates(const archive::SpliceSpan& span) {
    if (!fromSetByUser_ && span.first) {
        const QSignalBlocker blocker(fromDate_);
        fromDate_.setDate(DateOf(*span.first));
    }
    if (!toSetByUser_ && span.last) {
        const QSignalBlocker blocker(toDate_);
        toDate_.setDate(DateOf(*span.last));
    }
}

void CArchiveDlg::OnRecordHeaderClicked(int column) {
    if (column < 0 || column >= kPlaceColumn) return;
    // The column clicked again turns the order round; another column starts ascending.
    const archive::RecordSort by = kSortOf[column];
    order_ = {by, by == order_.by && !order_.descending};
    recordList_.header()->setSortIndicator(
        column, order_.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    Refresh();
}

void CArchiveDlg::SizeRecordColumns(int clientWidth) {
    if (recordWidths_.empty())
        for (int column = 0; column < kRecordColumns; ++column)
            recordWidths_.push_back(recordList_.ColumnWidthFor(column, {}));
    recordList_.SpreadColumns(recordWidths_, clientWidth);
}

// The snapshots' texts are few (splicers, reasons, group lists) and the times all alike.
void CArchiveDlg::SizeSnapshotColumns(int clientWidth) {
    if (snapshotWidths_.empty()) {
        std::array<std::set<QString>, 4> texts;
        for (int row = 0; row < snapshotList_.GetItemCount(); ++row)
            for (int column = 0; column < 4; ++column)
                texts[static_cast<std::size_t>(column)].insert(
                    snapshotList_.GetItemText(row, column));
        for (int column = 0; column < 4; ++column) {
            const auto& distinct = texts[static_cast<std::size_t>(column)];
            snapshotWidths_.push_back(snapshotList_.ColumnWidthFor(
                column, QStringList(distinct.begin(), distinct.end())));
        }
    }
    snapshotList_.SpreadColumns(snapshotWidths_, clientWidth);
}

void CArchiveDlg::SizeDifferenceColumns(int clientWidth) {
    std::vector<int> widths;
    for (int column = 0; column < 4; ++column) {
        QStringList texts;
        for (int row = 0; row < differenceList_.GetItemCount(); ++row)
            texts << differenceList_.GetItemText(row, column);
        widths.push_back(differenceList_.ColumnWidthFor(column, texts));
    }
    differenceList_.SpreadColumns(widths, clientWidth);
}

void CArchiveDlg::FillFilterCombos(const QueryResult& result) {
    const QSignalBlocker splicers(splicerCombo_);
    const QSignalBlocker jobs(jobCombo_);
    const QVariant splicer = splicerCombo_.currentData();
    const QString job = jobCombo_.currentData().toString();
    while (splicerCombo_.count() > 1) splicerCombo_.removeItem(1);
    for (const archive::SplicerInfo& info : result.splicers)
        splicerCombo_.addItem(SplicerText(info.serialNumber, info.folderName),
                              QVariant::fromValue<qlonglong>(info.id));
    splicerCombo_.setCurrentIndex(std::max(splicerCombo_.findData(splicer), 0));
    while (jobCombo_.count() > 2) jobCombo_.removeItem(2);
    for (const archive::JobSummary& summary : result.jobs)
        jobCombo_.addItem(Q(summary.name), Q(summary.name));
    // A choice that is gone (a job renamed) keeps the filter as it was asked for.
    auto keep = [](QComboBox& combo, const QString& data) {
        int index = combo.findData(data);
        if (index < 0 && !data.isEmpty()) {
            combo.addItem(data, data);
            index = combo.count() - 1;
        }
        combo.setCurrentIndex(std::max(index, 0));
    };
    keep(jobCombo_, job);
}

QString CArchiveDlg::ReasonText(const std::string& reason) const {
    if (reason == archive::reason::Read) return Q(tk::ReasonRead);
    if (reason == archive::reason::Write) return Q(tk::ReasonWrite);
    if (reason == archive::reason::Backup) return Q(tk::ReasonBackup);
    if (reason == archive::reason::BeforeFirmware) return Q(tk::ReasonFirmware);
    return Q(reason);
}

QString CArchiveDlg::SnapshotText(const archive::ParameterSnapshot& snapshot) const {
    return QStringLiteral("%1  %2  %3")
        .arg(SplicerText(snapshot.serialNumber, snapshot.device), LocalTimeText(snapshot.taken),
             ReasonText(snapshot.reason));
}

void CArchiveDlg::FillSnapshots() {
    snapshotList_.DeleteAllItems();
    const qlonglong compared = compareWith_.currentData().toLongLong();
    while (compareWith_.count() > 1) compareWith_.removeItem(1);
    std::vector<CListCtrlEx::Row> rows;
    for (std::size_t i = 0; i < snapshots_.size(); ++i) {
        const archive::ParameterSnapshot& s = snapshots_[i];
        QStringList groups;
        for (const archive::GroupBytes& g : s.groups) groups << RecordName(g.kind);
        rows.push_back({{SplicerText(s.serialNumber, s.device), LocalTimeText(s.taken),
                         ReasonText(s.reason), groups.join(QStringLiteral(", "))},
                        i});
        compareWith_.addItem(SnapshotText(s), QVariant::fromValue<qlonglong>(s.id));
    }
    snapshotList_.AppendRows(rows);
    snapshotWidths_.clear();
    SizeSnapshotColumns(snapshotList_.viewport()->width());
    compareWith_.setCurrentIndex(std::max(compareWith_.findData(compared), 0));
    OnSnapshotChosen();
}

void CArchiveDlg::OnRecordChosen() {
    const archive::ArchivedRecord* record = RecordAt(recordList_.GetSelectedRow());
    if (!record) return;
    ShowRecordDetails(detailList_, &record->record);
    ShowImageOf(*record);
}

void CArchiveDlg::ShowImageOf(const archive::ArchivedRecord& record) {
    picture_.Clear();
    picture_.unsetCursor();
    if (record.images.empty()) {
        pictureText_.setText(Q(tk::NoImage));
        return;
    }
    const std::string& name = record.images.front();
    const std::filesystem::path file = JpgFolder(DataFolder() / "FS" / record.device) / name;
    // The fingerprints the archive kept of the images of that name and splice.
    std::vector<std::string> digests;
    for (std::size_t i = 0; i < record.images.size() && i < record.imageDigests.size(); ++i)
        if (record.images[i] == name) digests.push_back(record.imageDigests[i]);
    QString why;
    QImage image = ArchivedImageFile(file, digests, why);
    if (image.isNull()) {
        pictureText_.setText(why);
        return;
    }
    picture_.ShowImage(std::move(image));
    picture_.setCursor(Qt::PointingHandCursor);
    pictureText_.setText(Q(name));
}

void CArchiveDlg::OnPictureClicked() {
    if (!picture_.ImageShown()) return;
    if (!imageWindow_) imageWindow_ = std::make_unique<CImageWindow>(this, Q(tk::BtnClose));
    imageWindow_->ShowImage(picture_.Image(), pictureText_.text());
}

void CArchiveDlg::OnSnapshotChosen() {
    const int row = snapshotList_.GetSelectedRow();
    const std::size_t position =
        row < 0 ? snapshots_.size() : static_cast<std::size_t>(snapshotList_.GetItemData(row));
    for (std::size_t i = 0; i < kBackupRecords.size(); ++i) {
        const bool held = position < snapshots_.size() &&
                          std::ranges::any_of(snapshots_[position].groups, [&](const auto& g) {
                              return g.kind == kBackupRecords[i];
                          });
        restoreChecks_[i]->setEnabled(held);
        if (!held) restoreChecks_[i]->setChecked(false);
    }
}

void CArchiveDlg::OnBnClickedNameSelected() {
    const std::string job = jobEdit_.text().trimmed().toStdString();
    if (!recordList_.HasChoice()) return ShowBox(Text(tk::ChooseRecords));
    if (job.empty()) return ShowBox(Text(tk::EnterJob));
    NameJob(job, {}, chosen_, true);
}

void CArchiveDlg::OnBnClickedNameAll() {
    const std::string job = jobEdit_.text().trimmed().toStdString();
    if (recordModel_.Rows() == 0) return ShowBox(Text(tk::ChooseRecords));
    if (job.empty()) return ShowBox(Text(tk::EnterJob));
    // The filter the list shows, with the dates it was read with: exactly its records.
    NameJob(job, shownFilter_, nullptr, true);
}

void CArchiveDlg::OnBnClickedClearJob() {
    if (!recordList_.HasChoice()) return ShowBox(Text(tk::ChooseRecords));
    NameJob({}, {}, chosen_, false);
}

void CArchiveDlg::OnBnClickedRename() {
    const QString old = jobCombo_.currentData().toString();
    const std::string job = jobEdit_.text().trimmed().toStdString();
    if (old == kAll || old == kNone || old.isEmpty()) return ShowBox(Text(tk::ChooseJob));
    if (job.empty()) return ShowBox(Text(tk::EnterJob));
    // The renamed job is the one to show next.
    {
        const QSignalBlocker blocker(jobCombo_);
        if (jobCombo_.findData(Q(job)) < 0) jobCombo_.addItem(Q(job), Q(job));
        jobCombo_.setCurrentIndex(jobCombo_.findData(Q(job)));
    }
    // Only the records of the job chosen change, as asked: no question.
    NameJob(job, {.job = old.toStdString()}, nullptr, false);
}

void CArchiveDlg::OnBnClickedUndoNaming() {
    RunOnArchive([](archive::Archive& archive) {
        const archive::StoreResult undone = archive.UndoLastNaming();
        if (!undone.ok()) return Q(tk::Failed).arg(Q(archive::ArchiveErrorText(undone.error)));
        return undone.count == 0 ? Q(tk::NothingToUndo) : Q(tk::Undone).arg(undone.count);
    });
}

void CArchiveDlg::NameJob(const std::string& job, const archive::RecordFilter& filter,
                          ChosenIds ids, bool ask) {
    if (!Archiver()) return;
    auto name = [this, job, filter, ids] {
        RunOnArchive([job, filter, ids](archive::Archive& archive) {
            const archive::StoreResult tagged =
                !ids ? archive.TagJob(job, filter) : archive.TagJob(job, *ids);
            if (!tagged.ok()) return Q(tk::Failed).arg(Q(archive::ArchiveErrorText(tagged.error)));
            return job.empty() ? Q(tk::Cleared).arg(tagged.count)
                               : Q(tk::Named).arg(tagged.count).arg(Q(job));
        });
    };
    if (!ask) return name();
    // Records of another job change only once the user has said so.
    ++pending_;
    Archiver()->PostQuery([this, job, filter, ids, name](archive::Archive* archive,
                                                         const archive::ArchiveError& error) {
        std::optional<archive::NamingPreview> preview;
        if (archive)
            preview = !ids ? archive->PreviewJob(job, filter) : archive->PreviewJob(job, *ids);
        const QString failure =
            preview || error.code == archive::ErrorCode::NoArchive
                ? QString()
                : Q(tk::Failed)
                      .arg(Q(archive::ArchiveErrorText(archive ? archive->LastError() : error)));
        QMetaObject::invokeMethod(
            this,
            [this, preview, failure, job, name] {
                --pending_;
                if (!failure.isEmpty()) {
                    emit StatusNotice(failure);
                    return;
                }
                if (!preview || preview->records == 0) return;
                const QString question = Q(tk::ReplaceQuestion)
                                             .arg(preview->records)
                                             .arg(preview->otherJob)
                                             .arg(preview->noJob)
                                             .arg(Q(job));
                if (preview->otherJob > 0 &&
                    ShowMessage(this, question, Q(msg::CaptionQuestion), MsgButtons::YesNo,
                                MsgIcon::Exclamation) != MsgAnswer::Yes)
                    return;
                name();
            },
            Qt::QueuedConnection);
    });
}

void CArchiveDlg::RunOnArchive(std::function<QString(archive::Archive&)> work) {
    if (!Archiver()) return;
    ++pending_;
    // A naming needs records: without an archive there is nothing to do, and none is made.
    Archiver()->PostQuery([this, work = std::move(work)](archive::Archive* archive,
                                                         const archive::ArchiveError& error) {
        const QString text = archive ? work(*archive)
                             : error.code == archive::ErrorCode::NoArchive
                                 ? QString()
                                 : Q(tk::Failed).arg(Q(archive::ArchiveErrorText(error)));
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                --pending_;
                if (!text.isEmpty()) emit StatusNotice(text);
            },
            Qt::QueuedConnection);
    });
    // Queued behind the work, so the lists show what it did.
    Refresh();
}

void CArchiveDlg::OnBnClickedExport() {
    // The file dialog asks itself before replacing a file.
    const auto chosenFile = [this] {
        const QString proposed = Q(PathText(Config().AppDirectory / "FS" / "archive.csv"));
        const QString chosen =
            chooser_ ? chooser_(this, proposed) : ChooseWithFileDialog(this, proposed);
        return chosen.isEmpty() ? std::filesystem::path() : PathFromText(chosen.toStdString());
    };
    if (recordModel_.Rows() == 0 || !cursor_ || !Archiver()) {
        exporter_.Start({}, std::nullopt, chosenFile, false);  // says there is nothing
        return;
    }
    // The records shown, in the list's order, read on the archive's thread in chunks.
    ++pending_;
    export_.setEnabled(false);
    Archiver()->PostQuery([this, page = QPointer(this), cursor = cursor_, chosenFile](
                              archive::Archive* archive, const archive::ArchiveError&) {
        auto store = std::make_shared<RecordStore>();
        if (archive)
            cursor->Each(*archive, [&](const archive::ArchivedRecord& r) {
                store->push_back(r.record);
                return true;
            });
        OnWindow(page, [this, store, chosenFile] {
            --pending_;
            // The archive keeps whole downloads only: its records are never a partial list.
            if (!exporter_.Start(std::move(*store), std::nullopt, chosenFile, false))
                export_.setEnabled(true);
        });
    });
}

std::optional<SettingsBackup> CArchiveDlg::ChosenBackup() {
    const int row = snapshotList_.GetSelectedRow();
    const std::size_t position =
        row < 0 ? snapshots_.size() : static_cast<std::size_t>(snapshotList_.GetItemData(row));
    if (position >= snapshots_.size()) {
        ShowBox(Text(tk::ChooseSnapshot));
        return std::nullopt;
    }
    std::string error;
    std::optional<SettingsBackup> backup = archive::BackupFromSnapshot(snapshots_[position], error);
    if (!backup) ShowBox(Q(tk::BadSnapshot).arg(Q(error)).toStdString());
    return backup;
}

bool CArchiveDlg::ReadFromSplicer(std::span<const ParamRecord> records) {
    if (RefuseClosedPort()) return false;
    StepResult read;
    {
        const ExchangeScope busy(*this);
        read = ReadRecords(GetLink(), Session(), records, UiPump());
    }
    if (read.ok) return true;
    Present(read);
    return false;
}

void CArchiveDlg::OnBnClickedCompare() {
    if (const std::optional<SettingsBackup> chosen = ChosenBackup()) CompareSnapshot(*chosen);
}

void CArchiveDlg::CompareSnapshot(const SettingsBackup& chosen) {
    std::vector<ParamRecord> records;
    for (const auto& held : chosen.records) records.push_back(held.first);
    const qlonglong other = compareWith_.currentData().toLongLong();
    ParameterRecords against;
    QString againstCaption = Q(tk::ConnectedSplicer);
    if (other == 0) {
        if (!ReadFromSplicer(records)) return;
        against = Session().records;
    } else {
        const auto second = std::find_if(snapshots_.begin(), snapshots_.end(),
                                         [other](const auto& s) { return s.id == other; });
        if (second == snapshots_.end()) return;
        std::string error;
        const std::optional<SettingsBackup> then = archive::BackupFromSnapshot(*second, error);
        if (!then) return ShowBox(Q(tk::BadSnapshot).arg(Q(error)).toStdString());
        std::erase_if(records, [&](ParamRecord record) { return !then->Holds(record); });
        against = WithBackup(*then);
        againstCaption = SnapshotText(*second);
    }
    const ParameterRecords mine = WithBackup(chosen, against);
    std::vector<RowDifference> differences;
    for (const ParamRecord record : records) {
        const auto more = CompareRecord(record, mine, against, tables_);
        differences.insert(differences.end(), more.begin(), more.end());
    }
    ShowDifferences(differences, againstCaption);
}

void CArchiveDlg::ShowDifferences(const std::vector<RowDifference>& differences,
                                  const QString& otherCaption) {
    differenceList_.DeleteAllItems();
    // The header says what the last column was compared with.
    differenceList_.SetColumnCaption(3, otherCaption);
    std::vector<CListCtrlEx::Row> rows;
    for (const RowDifference& d : differences)
        rows.push_back({{Q(GroupCaption(d.group)), Q(d.caption), Q(d.from), Q(d.to)}, 0});
    if (rows.empty()) rows.push_back({{Q(tk::NoDifference)}, 0});
    differenceList_.AppendRows(rows);
    SizeDifferenceColumns(differenceList_.viewport()->width());
}

void CArchiveDlg::OnBnClickedRestore() {
    const std::optional<SettingsBackup> backup = ChosenBackup();
    if (!backup) return;
    std::vector<ParamRecord> chosen;
    for (std::size_t i = 0; i < kBackupRecords.size(); ++i)
        if (backup->Holds(kBackupRecords[i]) && restoreChecks_[i]->isChecked())
            chosen.push_back(kBackupRecords[i]);
    if (chosen.empty()) return ShowBox(Text(tk::ChooseGroups));
    if (RefuseClosedPort()) return;

    // Another splicer's settings are written only when the user says so (and even
    // then only the rows a user could edit).
    const archive::SplicerIdentity connected = ArchiveIdentity();
    if (!IsSameSplicer(*backup, Session()) &&
        ShowMessage(
            this,
            Q(tk::OtherSplicer)
                .arg(Q(archive::SplicerDisplayName(backup->serialNumber, backup->device)),
                     Q(archive::SplicerDisplayName(connected.serialNumber, connected.folderName))),
            Q(msg::CaptionQuestion), MsgButtons::YesNo, MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;
    if (!ReadFromSplicer(chosen)) return;

    const RestorePlan plan = PlanRestore(*backup, chosen, Session(), tables_);
    if (!plan.refusals.empty()) {
        QStringList why;
        for (const std::string& text : plan.refusals) why << Q(text);
        return ShowBox((Q(tk::RestoreRefused) + QLatin1Char('\n') + why.join('\n')).toStdString());
    }
    if (plan.changes.empty()) return ShowBox(Text(tk::NothingToRestore));
    QStringList lines;
    for (const RestorePlan::Change& change : plan.changes)
        for (const RowDifference& d : change.rows)
            lines << QStringLiteral("%1 · %2: %3 → %4")
                         .arg(Q(GroupCaption(d.group)), Q(d.caption), Q(d.from), Q(d.to));
    const QString question = Q(tk::RestoreQuestion) + QLatin1Char('\n') + lines.join('\n') +
                             QLatin1Char('\n') + Q(tk::RestoreConfirm);
    if (ShowMessage(this, question, Q(msg::CaptionQuestion), MsgButtons::YesNo,
                    MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;

    RestoreWritten written;
    {
        const ExchangeScope busy(*this);
        written = WriteRestore(GetLink(), Session(), plan, UiPump());
    }
    QStringList report;
    for (const RestorePlan::Change& change : plan.changes) {
        const bool done =
            std::ranges::find(written.written, change.record) != written.written.end();
        if (done) {
            report << Q(tk::Written).arg(RecordName(change.record));
            const std::vector<archive::GroupBytes> kept =
                archive::SnapshotGroups(BackupOf(Session().records, std::span(&change.record, 1)));
            StoreInArchive([connected, kept](archive::Archive& archive) {
                return archive.StoreSnapshot(connected, archive::reason::Write, kept).error;
            });
        } else if (change.record == written.last.record) {
            report << Q(tk::NotWritten)
                          .arg(RecordName(change.record), Q(StepStatusText(written.last)));
        }
    }
    if (written.last.pane != StatusPane::Unchanged)
        ShowCommState(written.last.pane == StatusPane::Success, StepStatusText(written.last));
    if (!GetLink().Port().IsOpen()) emit ConnectionChanged(false);
    ShowBox(report.join('\n').toStdString());
    // The differences of before the writing are no longer true: what still differs
    // is read from the splicer again, or nothing is shown when the line is gone.
    compareWith_.setCurrentIndex(0);
    if (GetLink().Port().IsOpen())
        CompareSnapshot(*backup);
    else
        differenceList_.DeleteAllItems();
    Refresh();
}

void CArchiveDlg::Present(const StepResult& result) {
    if (result.pane != StatusPane::Unchanged)
        ShowCommState(result.pane == StatusPane::Success, StepStatusText(result));
    for (const std::string& text : StepBoxTexts(result)) ShowBox(text);
    if (!GetLink().Port().IsOpen()) emit ConnectionChanged(false);
}

}  // namespace velmora::ui
