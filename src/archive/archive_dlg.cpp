#include "archive/archive_dlg.h"

#include <QFileDialog>
#include <QMetaObject>
#include <QSignalBlocker>
#include <algorithm>
#include <ctime>

#include "app/message_box.h"
#include "app/qt_text.h"
#include "app/ui_pump.h"
#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/language.h"
#include "base/local_time.h"
#include "base/path_text.h"
#include "base/time_text.h"
#include "history/csv_export.h"
#include "history/history_texts.h"
#include "images/image_files.h"
#include "report/report_dlg.h"
#include "settings/parameter_rows.h"
#include "settings/settings_texts.h"
#include "widgets/record_lists.h"

namespace velmora::ui {

namespace tk = keys::archive_tab;

namespace {

constexpr int kPageMargin = 8;
constexpr int kSpacing = 6;
constexpr int kPictureHeight = 150;
// Combo entries that are not a name: every splicer or job, and the records without a job.
const QString kAll = QStringLiteral("\x01all");
const QString kNone = QStringLiteral("\x01none");

// The records behind the Restore boxes and the groups each stands for.
struct RestoreRecord {
    int group;  // read and written as this group
    std::vector<int> shown;
};
const std::array<RestoreRecord, 3> kRestoreRecords{{
    {group::Splice, {group::Splice}},
    {group::Heating, {group::Heating}},
    {group::FsConfig, {group::FsConfig, group::System}},
}};

// A splicer by its serial number; by its folder when that is not known.
QString SplicerText(const std::string& serialNumber, const std::string& folder) {
    return serialNumber.empty() ? Q(tk::UnknownSerial).arg(Q(folder)) : Q(serialNumber);
}

QString GroupName(int group) {
    return Q(keys::GroupNames[static_cast<std::size_t>(group)]);
}

QString RecordName(std::size_t record) {
    return record == 2 ? Q(tk::ConfigGroups) : GroupName(kRestoreRecords[record].group);
}

// Which of the three restorable records a backup holds.
std::array<bool, 3> HeldRecords(const SettingsBackup& backup) {
    return {backup.splice.has_value(), backup.heater.has_value(), backup.config.has_value()};
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
    std::vector<archive::ArchivedRecord> records;
    std::vector<CListCtrlEx::Row> rows;
    std::vector<archive::ParameterSnapshot> snapshots;
};

CArchiveDlg::CArchiveDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      tables_(OptionTablesFor(Config())),
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
    connect(&fromCheck_, &QCheckBox::toggled, this, [this](bool on) {
        fromDate_.setEnabled(on);
        Refresh();
    });
    connect(&toCheck_, &QCheckBox::toggled, this, [this](bool on) {
        toDate_.setEnabled(on);
        Refresh();
    });
    connect(&fromDate_, &QDateEdit::dateChanged, this, [this] { Refresh(); });
    connect(&toDate_, &QDateEdit::dateChanged, this, [this] { Refresh(); });
    connect(&recordList_, &CListCtrlEx::ItemChanged, this, [this] { OnRecordChosen(); });
    connect(&snapshotList_, &CListCtrlEx::ItemChanged, this, [this] { OnSnapshotChosen(); });
    connect(&nameSelected_, &QPushButton::clicked, this, [this] { OnBnClickedNameSelected(); });
    connect(&nameAll_, &QPushButton::clicked, this, [this] { OnBnClickedNameAll(); });
    connect(&rename_, &QPushButton::clicked, this, [this] { OnBnClickedRename(); });
    connect(&clearJob_, &QPushButton::clicked, this, [this] { OnBnClickedClearJob(); });
    connect(&undoNaming_, &QPushButton::clicked, this, [this] { OnBnClickedUndoNaming(); });
    connect(&export_, &QPushButton::clicked, this, [this] { OnBnClickedExport(); });
    // The report takes the records the list shows, as the export does.
    connect(&report_, &QPushButton::clicked, this, [this] { ReportOnArchive(this, shownFilter_); });
    connect(&compare_, &QPushButton::clicked, this, [this] { OnBnClickedCompare(); });
    connect(&restore_, &QPushButton::clicked, this, [this] { OnBnClickedRestore(); });
}

CArchiveDlg::~CArchiveDlg() {
    Worker().StopAndJoin();
}

void CArchiveDlg::LayOutSplices() {
    AddIndexColumns(recordList_);
    recordList_.EnableMultipleSelection(true);
    recordList_.InsertColumn(2, Q(tk::Splicer), Qt::AlignHCenter);
    recordList_.InsertColumn(3, Q(tk::Job), Qt::AlignHCenter);
    connect(&recordList_, &CListCtrlEx::ClientWidthChanged, this, [this](int width) {
        // The time whole; splicer and job share what is left.
        recordList_.SetColumnWidth(0, width / 9);
        recordList_.SetColumnWidth(1, width * 4 / 9 + 8);
        recordList_.SetColumnWidth(2, width * 2 / 9 - 4);
        recordList_.SetColumnWidth(3, width * 2 / 9 - 6);
    });
    SetUpDetailList(detailList_, DetailCaptions());
    picture_.setMinimumHeight(kPictureHeight / 2);
    picture_.setMaximumHeight(kPictureHeight);
    pictureText_.setWordWrap(true);
    pictureText_.setText(Q(tk::NoImage));
    jobEdit_.setPlaceholderText(Q(tk::JobName));
    progress_.setRange(0, 100);
    progress_.setValue(0);
    progress_.setTextVisible(false);
    progress_.setFixedHeight(18);

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
    splicesLayout_.setRowStretch(0, 1);
    splicesPage_.setLayout(&splicesLayout_);
}

void CArchiveDlg::LayOutSnapshots() {
    snapshotList_.InsertColumn(0, Q(tk::Splicer), Qt::AlignHCenter);
    snapshotList_.InsertColumn(1, Q(tk::SnapTime), Qt::AlignHCenter);
    snapshotList_.InsertColumn(2, Q(tk::SnapReason), Qt::AlignHCenter);
    snapshotList_.InsertColumn(3, Q(tk::SnapGroups), Qt::AlignHCenter);
    connect(&snapshotList_, &CListCtrlEx::ClientWidthChanged, this, [this](int width) {
        snapshotList_.SetColumnWidth(0, width / 5);
        snapshotList_.SetColumnWidth(1, width * 3 / 10);
        snapshotList_.SetColumnWidth(2, width / 5);
        snapshotList_.SetColumnWidth(3, width * 3 / 10);
    });
    differenceList_.InsertColumn(0, Q(tk::DiffGroup), Qt::AlignHCenter);
    differenceList_.InsertColumn(1, Q(tk::DiffRow), Qt::AlignHCenter);
    differenceList_.InsertColumn(2, Q(tk::DiffSnapshot), Qt::AlignHCenter);
    differenceList_.InsertColumn(3, Q(tk::DiffOther), Qt::AlignHCenter);
    connect(&differenceList_, &CListCtrlEx::ClientWidthChanged, this, [this](int width) {
        for (int column = 0; column < 4; ++column)
            differenceList_.SetColumnWidth(column, width / 4);
    });
    compareLabel_.setText(Q(tk::CompareWith));
    compareWith_.addItem(Q(tk::ConnectedSplicer), QVariant::fromValue<qlonglong>(0));
    compareWith_.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    compareWith_.setMinimumContentsLength(16);
    for (std::size_t record = 0; record < restoreChecks_.size(); ++record) {
        restoreChecks_[record] = std::make_unique<QCheckBox>(RecordName(record));
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

    views_.addTab(&splicesPage_, Q(tk::SplicesPage));
    views_.addTab(&snapshotsPage_, Q(tk::SnapshotsPage));
    pageLayout_.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    pageLayout_.setVerticalSpacing(kSpacing);
    pageLayout_.addLayout(&filterLayout_, 0, 0);
    pageLayout_.addWidget(&views_, 1, 0);
    pageLayout_.setRowStretch(1, 1);
    setLayout(&pageLayout_);
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
    return filter;
}

void CArchiveDlg::Refresh() {
    if (!Archiver()) return;
    const archive::RecordFilter filter = Filter();
    const int serial = ++querySerial_;
    latestQuery_ = serial;
    ++pending_;
    countText_.setText(Q(tk::Loading));
    Archiver()->PostQuery(
        [this, filter, serial](archive::Archive* archive, const archive::ArchiveError& error) {
            auto result = std::make_shared<QueryResult>();
            result->serial = serial;
            // Filters changed again meanwhile (a date typed digit by digit): only the last is read.
            if (serial == latestQuery_.load()) ReadArchive(archive, error, filter, *result);
            // The writer ends before the pages go, so the page is still there.
            QMetaObject::invokeMethod(
                this, [this, result] { ShowQueryResult(*result); }, Qt::QueuedConnection);
        });
}

void CArchiveDlg::ReadArchive(archive::Archive* archive, const archive::ArchiveError& error,
                              const archive::RecordFilter& filter, QueryResult& result) {
    if (!archive) {
        // Nothing archived yet is no failure: the lists are empty.
        if (error.code != archive::ErrorCode::NoArchive)
            result.error = archive::ArchiveErrorText(error);
        return;
    }
    auto records = archive->Records(filter);
    auto splicers = archive->Splicers();
    auto jobs = archive->Jobs();
    auto snapshots = archive->Snapshots({.splicer = filter.splicer});
    if (!splicers || !jobs || !records || !snapshots) {
        result.error = archive::ArchiveErrorText(archive->LastError());
        return;
    }
    result.splicers = std::move(*splicers);
    result.jobs = std::move(*jobs);
    result.snapshots = std::move(*snapshots);
    result.records = std::move(*records);
    // The rows are made here, so that the window only hands them to the list. Runs of
    // the same splicer or job share one text.
    result.rows.reserve(result.records.size());
    QString device, job;
    for (std::size_t i = 0; i < result.records.size(); ++i) {
        const archive::ArchivedRecord& r = result.records[i];
        if (i == 0 || r.splicerId != result.records[i - 1].splicerId)
            device = SplicerText(r.serialNumber, r.device);
        if (i == 0 || r.job != result.records[i - 1].job) job = Q(r.job);
        result.rows.push_back({{QString::number(i + 1), Q(TimeText(r.record)), device, job}, i});
    }
}

void CArchiveDlg::ShowQueryResult(QueryResult& result) {
    --pending_;
    // An older answer than the filters now shown asks for is of no use.
    if (result.serial != querySerial_) return;
    FillFilterCombos(result);
    shownFilter_ = Filter();
    records_ = std::move(result.records);
    recordList_.DeleteAllItems();
    recordList_.AppendRows(result.rows);
    ShowRecordDetails(detailList_, nullptr);
    picture_.Clear();
    pictureText_.setText(Q(tk::NoImage));
    countText_.setText(result.error.empty() ? Q(tk::RecordCount).arg(records_.size())
                                            : Q(tk::Failed).arg(Q(result.error)));
    snapshots_ = std::move(result.snapshots);
    FillSnapshots();
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
        for (const archive::GroupBytes& g : s.groups) {
            if (g.kind == archive::RecordKind::Splice) groups << GroupName(group::Splice);
            if (g.kind == archive::RecordKind::Heater) groups << GroupName(group::Heating);
            if (g.kind == archive::RecordKind::Environment) groups << GroupName(group::Environment);
            if (g.kind == archive::RecordKind::DeviceConfig) groups << Q(tk::ConfigGroups);
        }
        rows.push_back({{SplicerText(s.serialNumber, s.device), LocalTimeText(s.taken),
                         ReasonText(s.reason), groups.join(QStringLiteral(", "))},
                        i});
        compareWith_.addItem(SnapshotText(s), QVariant::fromValue<qlonglong>(s.id));
    }
    snapshotList_.AppendRows(rows);
    compareWith_.setCurrentIndex(std::max(compareWith_.findData(compared), 0));
    OnSnapshotChosen();
}

void CArchiveDlg::OnRecordChosen() {
    const int row = recordList_.GetSelectedRow();
    if (row < 0) return;
    const std::size_t position = static_cast<std::size_t>(recordList_.GetItemData(row));
    if (position >= records_.size()) return;
    ShowRecordDetails(detailList_, &records_[position].record);
    ShowImageOf(records_[position]);
}

void CArchiveDlg::ShowImageOf(const archive::ArchivedRecord& record) {
    picture_.Clear();
    if (record.images.empty()) {
        pictureText_.setText(Q(tk::NoImage));
        return;
    }
    const std::filesystem::path file =
        JpgFolder(Config().AppDirectory / "FS" / record.device) / record.images.front();
    const QImage image = ImageFileExists(file) ? DecodeImageFile(file) : QImage();
    if (image.isNull()) {
        pictureText_.setText(Q(tk::ImageGone).arg(Q(PathText(file))));
        return;
    }
    picture_.ShowImage(image);
    pictureText_.setText(Q(record.images.front()));
}

void CArchiveDlg::OnSnapshotChosen() {
    const int row = snapshotList_.GetSelectedRow();
    std::array<bool, 3> held{};
    if (row >= 0) {
        const std::size_t position = static_cast<std::size_t>(snapshotList_.GetItemData(row));
        if (position < snapshots_.size())
            for (const archive::GroupBytes& g : snapshots_[position].groups) {
                if (g.kind == archive::RecordKind::Splice) held[0] = true;
                if (g.kind == archive::RecordKind::Heater) held[1] = true;
                if (g.kind == archive::RecordKind::DeviceConfig) held[2] = true;
            }
    }
    for (std::size_t record = 0; record < held.size(); ++record) {
        restoreChecks_[record]->setEnabled(held[record]);
        if (!held[record]) restoreChecks_[record]->setChecked(false);
    }
}

std::vector<std::int64_t> CArchiveDlg::ChosenIds() {
    std::vector<std::int64_t> ids;
    for (int row : recordList_.GetSelectedRows()) {
        const std::size_t position = static_cast<std::size_t>(recordList_.GetItemData(row));
        if (position < records_.size()) ids.push_back(records_[position].id);
    }
    return ids;
}

void CArchiveDlg::OnBnClickedNameSelected() {
    std::vector<std::int64_t> ids = ChosenIds();
    const std::string job = jobEdit_.text().trimmed().toStdString();
    if (ids.empty()) return ShowBox(Text(tk::ChooseRecords));
    if (job.empty()) return ShowBox(Text(tk::EnterJob));
    NameJob(job, {}, std::move(ids), true);
}

void CArchiveDlg::OnBnClickedNameAll() {
    const std::string job = jobEdit_.text().trimmed().toStdString();
    if (records_.empty()) return ShowBox(Text(tk::ChooseRecords));
    if (job.empty()) return ShowBox(Text(tk::EnterJob));
    NameJob(job, shownFilter_, {}, true);
}

void CArchiveDlg::OnBnClickedClearJob() {
    std::vector<std::int64_t> ids = ChosenIds();
    if (ids.empty()) return ShowBox(Text(tk::ChooseRecords));
    NameJob({}, {}, std::move(ids), false);
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
    NameJob(job, {.job = old.toStdString()}, {}, false);
}

void CArchiveDlg::OnBnClickedUndoNaming() {
    RunOnArchive([](archive::Archive& archive) {
        const archive::StoreResult undone = archive.UndoLastNaming();
        if (!undone.ok()) return Q(tk::Failed).arg(Q(archive::ArchiveErrorText(undone.error)));
        return undone.count == 0 ? Q(tk::NothingToUndo) : Q(tk::Undone).arg(undone.count);
    });
}

void CArchiveDlg::NameJob(const std::string& job, const archive::RecordFilter& filter,
                          std::vector<std::int64_t> ids, bool ask) {
    if (!Archiver()) return;
    auto name = [this, job, filter, ids] {
        RunOnArchive([job, filter, ids](archive::Archive& archive) {
            const archive::StoreResult tagged =
                ids.empty() ? archive.TagJob(job, filter) : archive.TagJob(job, ids);
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
            preview =
                ids.empty() ? archive->PreviewJob(job, filter) : archive->PreviewJob(job, ids);
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
    if (exporting_) return;
    if (records_.empty()) {
        ShowBox(Say(history_msg::NoRecord), history_msg::NoRecordCaption);
        return;
    }
    const QString proposed = Q(PathText(Config().AppDirectory / "FS" / "archive.csv"));
    const QString chosen =
        chooser_ ? chooser_(this, proposed) : ChooseWithFileDialog(this, proposed);
    if (chosen.isEmpty()) return;
    const std::filesystem::path file = PathFromText(chosen.toStdString());
    if (Worker().Running()) Worker().StopAndJoin();
    RecordStore store;
    store.reserve(records_.size());
    for (const archive::ArchivedRecord& r : records_) store.push_back(r.record);
    exporting_ = true;
    export_.setEnabled(false);
    progress_.setValue(0);
    // The Result page's exporter: the same format, written whole or not at all.
    const bool started =
        Worker().Start([this, file, store = std::move(store), captions = DetailCaptions(),
                        language = TableLanguageFor(Config().EnglishFlag)](std::stop_token) {
            std::string error;
            const bool written =
                WriteCsvExport(file, store, captions, language, &error, [this](int percent) {
                    if (exportProgress_.exchange(percent) == percent) return;
                    QMetaObject::invokeMethod(
                        this, [this, percent] { progress_.setValue(percent); },
                        Qt::QueuedConnection);
                });
            QMetaObject::invokeMethod(
                this, [this, file, written, error] { OnExportFinished(file, written, error); },
                Qt::QueuedConnection);
        });
    if (!started) {
        exporting_ = false;
        export_.setEnabled(true);
    }
}

void CArchiveDlg::OnExportFinished(const std::filesystem::path& file, bool written,
                                   const std::string& error) {
    exporting_ = false;
    export_.setEnabled(true);
    if (!written) {
        ShowMessage(this, Q(FileNotSavedText(file, error)), Q(msg::CaptionInfo), MsgButtons::Ok,
                    MsgIcon::Error);
        return;
    }
    progress_.setValue(100);
    ShowBox(Say(history_msg::FileSaved) + "\n" + PathText(file), msg::CaptionInfo);
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
    std::optional<SettingsBackup> backup = BackupFromSnapshot(snapshots_[position], error);
    if (!backup) ShowBox(Q(tk::BadSnapshot).arg(Q(error)).toStdString());
    return backup;
}

bool CArchiveDlg::ReadFromSplicer(const std::vector<int>& groups) {
    if (RefuseClosedPort()) return false;
    StepResult read;
    {
        const ExchangeScope busy(*this);
        for (int group : groups) {
            if (group == group::System) continue;  // the configuration is read with FsConfig
            read = ReadGroup(GetLink(), Session(), group, UiPump());
            if (!read.ok) break;
        }
    }
    if (read.ok) return true;
    Present(read);
    return false;
}

void CArchiveDlg::OnBnClickedCompare() {
    const std::optional<SettingsBackup> chosen = ChosenBackup();
    if (!chosen) return;
    const qlonglong other = compareWith_.currentData().toLongLong();
    std::vector<RowDifference> differences;
    if (other == 0) {
        const std::vector<int> groups = BackupGroups(*chosen);
        if (!ReadFromSplicer(groups)) return;
        ParameterRecords kept = Session().records;
        ApplyBackup(*chosen, kept);
        for (int group : groups) {
            const auto more = CompareGroup(group, kept, Session().records, tables_);
            differences.insert(differences.end(), more.begin(), more.end());
        }
        ShowDifferences(differences, Q(tk::ConnectedSplicer));
        return;
    }
    const auto second = std::find_if(snapshots_.begin(), snapshots_.end(),
                                     [other](const auto& s) { return s.id == other; });
    if (second == snapshots_.end()) return;
    std::string error;
    const std::optional<SettingsBackup> against = BackupFromSnapshot(*second, error);
    if (!against) return ShowBox(Q(tk::BadSnapshot).arg(Q(error)).toStdString());
    ParameterRecords first;
    ParameterRecords then;
    ApplyBackup(*chosen, first);
    ApplyBackup(*against, then);
    const std::vector<int> held = BackupGroups(*against);
    for (int group : BackupGroups(*chosen)) {
        if (std::find(held.begin(), held.end(), group) == held.end()) continue;
        const auto more = CompareGroup(group, first, then, tables_);
        differences.insert(differences.end(), more.begin(), more.end());
    }
    ShowDifferences(differences, SnapshotText(*second));
}

void CArchiveDlg::ShowDifferences(const std::vector<RowDifference>& differences,
                                  const QString& otherCaption) {
    differenceList_.DeleteAllItems();
    // The header says what the last column was compared with.
    differenceList_.SetColumnCaption(3, otherCaption);
    std::vector<CListCtrlEx::Row> rows;
    for (const RowDifference& d : differences)
        rows.push_back({{GroupName(d.group), Q(d.caption), Q(d.from), Q(d.to)}, 0});
    if (rows.empty()) rows.push_back({{Q(tk::NoDifference)}, 0});
    differenceList_.AppendRows(rows);
}

void CArchiveDlg::OnBnClickedRestore() {
    const int row = snapshotList_.GetSelectedRow();
    const std::optional<SettingsBackup> backup = ChosenBackup();
    if (!backup) return;
    const archive::ParameterSnapshot& snapshot =
        snapshots_[static_cast<std::size_t>(snapshotList_.GetItemData(row))];
    const std::array<bool, 3> held = HeldRecords(*backup);
    std::vector<std::size_t> chosen;
    for (std::size_t record = 0; record < held.size(); ++record)
        if (held[record] && restoreChecks_[record]->isChecked()) chosen.push_back(record);
    if (chosen.empty()) return ShowBox(Text(tk::ChooseGroups));
    if (RefuseClosedPort()) return;

    // Another splicer's settings are written only when the user says so.
    const archive::SplicerIdentity connected = ArchiveIdentity();
    // A snapshot of unknown serial number is not known to be the connected splicer's.
    const bool otherSplicer = !connected.serialNumber.empty()
                                  ? snapshot.serialNumber != connected.serialNumber
                                  : snapshot.device != connected.folderName;
    if (otherSplicer &&
        ShowMessage(this,
                    Q(tk::OtherSplicer)
                        .arg(SplicerText(snapshot.serialNumber, snapshot.device),
                             Q(connected.serialNumber.empty() ? connected.folderName
                                                              : connected.serialNumber)),
                    Q(msg::CaptionQuestion), MsgButtons::YesNo,
                    MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;

    std::vector<int> groups;
    for (std::size_t record : chosen) groups.push_back(kRestoreRecords[record].group);
    if (!ReadFromSplicer(groups)) return;

    // What will change, record by record; a record already alike is left out.
    ParameterRecords restored = Session().records;
    ApplyBackup(*backup, restored);
    QStringList lines;
    std::vector<std::size_t> changing;
    for (std::size_t record : chosen) {
        bool changes = false;
        for (int group : kRestoreRecords[record].shown)
            for (const RowDifference& d :
                 CompareGroup(group, Session().records, restored, tables_)) {
                lines << QStringLiteral("%1 · %2: %3 → %4")
                             .arg(GroupName(group), Q(d.caption), Q(d.from), Q(d.to));
                changes = true;
            }
        if (changes) changing.push_back(record);
    }
    if (changing.empty()) return ShowBox(Text(tk::NothingToRestore));
    const QString question = Q(tk::RestoreQuestion) + QLatin1Char('\n') + lines.join('\n') +
                             QLatin1Char('\n') + Q(tk::RestoreConfirm);
    if (ShowMessage(this, question, Q(msg::CaptionQuestion), MsgButtons::YesNo,
                    MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;

    // Each record with the checks of Accept, written and reported on its own.
    QStringList report;
    StepResult last;
    last.ok = true;
    for (std::size_t record : changing) {
        const int group = kRestoreRecords[record].group;
        StepResult gate = CheckWritable(GetLink(), Session(), group);
        std::vector<std::string> failures;
        if (gate.ok) failures = StageRestore(*backup, group, Session().records, tables_);
        if (!gate.ok || !failures.empty()) {
            QStringList why;
            for (const std::string& text : gate.ok ? failures : StepBoxTexts(gate)) why << Q(text);
            if (!gate.ok && why.isEmpty()) why << Q(StepStatusText(gate));
            report << Q(tk::NotWritten).arg(RecordName(record), why.join(QStringLiteral("; ")));
            continue;
        }
        {
            const ExchangeScope busy(*this);
            last = WriteGroup(GetLink(), Session(), group, UiPump());
        }
        if (!last.ok) {
            report << Q(tk::NotWritten).arg(RecordName(record), Q(StepStatusText(last)));
            break;  // the line failed: the next records would fail alike
        }
        report << Q(tk::Written).arg(RecordName(record));
        const std::vector<archive::GroupBytes> kept =
            SnapshotGroups(BackupOfGroup(group, Session().records));
        StoreInArchive([connected, kept](archive::Archive& archive) {
            return archive.StoreSnapshot(connected, archive::reason::Write, kept).error;
        });
    }
    if (last.pane != StatusPane::Unchanged)
        ShowCommState(last.pane == StatusPane::Success, StepStatusText(last));
    if (!GetLink().Port().IsOpen()) emit ConnectionChanged(false);
    ShowBox(report.join('\n').toStdString());
    Refresh();
}

void CArchiveDlg::Present(const StepResult& result) {
    if (result.pane != StatusPane::Unchanged)
        ShowCommState(result.pane == StatusPane::Success, StepStatusText(result));
    for (const std::string& text : StepBoxTexts(result)) ShowBox(text);
    if (!GetLink().Port().IsOpen()) emit ConnectionChanged(false);
}

}  // namespace velmora::ui
