#include "ui/history/history_dlg.h"

#include <QMetaObject>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "base/app_config.h"
#include "base/language.h"
#include "base/messages.h"
#include "history/csv_export.h"
#include "history/history_texts.h"
#include "ui/app/qt_text.h"
#include "ui/widgets/record_lists.h"

namespace velmora::ui {
namespace {

QString Caption(const TextKey& key) {
    return Q(key);
}

// Records arrive a few at a time; they are listed, and the bar moved, in turns
// this far apart. Each turn costs the window a relayout and a repaint of the whole
// list (its tree view does both for any insertion), so few turns keep the window's
// share of a download to a fraction of one percent of its line time, while the
// list still visibly grows and the bar moves (in tenths at 256000 bit/s, finer on
// slower lines); the worker never waits for the window.
constexpr int kListingTurnMs = 750;

constexpr int kPageMargin = 8;
constexpr int kSpacing = 8;

}  // namespace

CHistoryDlg::CHistoryDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      m_rows(DetailCaptions()),
      m_btnReceive(Caption(keys::BtnReceive)),
      m_btnExcel(Caption(keys::BtnExcel)) {
    AddIndexColumns(m_listIndex);
    connect(&m_listIndex, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeIndexColumns(m_listIndex, width); });
    SizeIndexColumns(m_listIndex, m_listIndex.viewport()->width());
    SetUpDetailList(m_listParam, m_rows);
    m_progress.setRange(0, 100);
    m_progress.setTextVisible(false);
    m_progress.setFixedHeight(18);

    buttonLayout_.setContentsMargins(0, 0, 0, 0);
    buttonLayout_.setSpacing(kSpacing);
    buttonLayout_.addStretch(1);
    buttonLayout_.addWidget(&m_btnReceive);
    buttonLayout_.addWidget(&m_btnExcel);
    m_buttonBar.setLayout(&buttonLayout_);
    layout_.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    layout_.setHorizontalSpacing(kSpacing * 2);
    layout_.setVerticalSpacing(kSpacing);
    layout_.addWidget(&m_listIndex, 0, 0);
    layout_.addWidget(&m_listParam, 0, 1);
    layout_.addWidget(&m_progress, 1, 0, Qt::AlignVCenter);
    layout_.addWidget(&m_buttonBar, 1, 1);
    layout_.setColumnStretch(0, 1);
    layout_.setColumnStretch(1, 1);
    layout_.setRowStretch(0, 1);
    setLayout(&layout_);

    connect(&m_btnReceive, &QPushButton::clicked, this, [this] { OnBnClickedReceive(); });
    connect(&m_btnExcel, &QPushButton::clicked, this, [this] { OnBnClickedExcel(); });
    connect(&m_export, &CCsvExporter::Finished, this, [this] { SetButtonsEnabled(true); });
    connect(&m_listIndex, &CListCtrlEx::ItemChanged, this, [this] { OnLvnItemchangedIndexList(); });
    m_listTimer.setInterval(kListingTurnMs);
    connect(&m_listTimer, &QTimer::timeout, this, [this] { FlushPendingRows(); });

    FillIndexList();
    ShowRecordDetails(0);
    EnsureCsvFolder();
    m_progress.setValue(0);
}

CHistoryDlg::~CHistoryDlg() {
    Worker().StopAndJoin();
}

void CHistoryDlg::EnsureCsvFolder() {
    velmora::EnsureCsvFolder(Session().DeviceFolder);
    m_export.PrepareBoxes();
}

void CHistoryDlg::OnBnClickedReceive() {
    Link& link = GetLink();
    if (m_downloading || m_export.Running()) return;
    // The last run has been reported; its thread may still be returning.
    if (Worker().Running()) Worker().StopAndJoin();
    if (RefuseClosedPort()) return;
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) {
        ShowBox(Say(msg::LineBusy));
        return;
    }
    m_listIndex.DeleteAllItems();
    {
        std::lock_guard lock(m_incomingMutex);
        m_incoming.clear();
        m_incomingRows.clear();
    }
    m_nRecordCount = 0;
    // The store of the last download stays until the splicer says a new one comes.
    m_previousRecords = std::move(m_records);
    m_records.clear();
    m_previousPartialOf = std::exchange(m_partialOf, std::nullopt);
    m_progress.setRange(0, 100);
    m_progress.setValue(0);
    // No second click, and no export, while the splicer is asked.
    SetButtonsEnabled(false);
    m_downloading = true;
    // The task must be copyable; the claim it owns travels in a shared holder.
    auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
    const bool started =
        Worker().Start([this, held, splicer = ArchiveIdentity()](std::stop_token stop) {
            RunReceive(std::move(**held), stop, splicer);
        });
    if (!started) {
        held->reset();
        m_downloading = false;
        SetButtonsEnabled(true);
        return;
    }
    m_listTimer.start();
    emit DownloadBusy(true);
}

void CHistoryDlg::CancelExchange() {
    // The worker ends with Cancelled and hands that over as usual.
    if (m_downloading)
        Worker().StopAndJoin();
    else
        CPageDlg::CancelExchange();
}

void CHistoryDlg::RunReceive(LineClaim claim, std::stop_token stop,
                             const archive::SplicerIdentity& splicer) {
    // The worker's own copy of everything that arrived, for the archive.
    auto received = std::make_shared<RecordStore>();
    DownloadCallbacks callbacks;
    callbacks.started = [this](int count) {
        QMetaObject::invokeMethod(
            this, [this, count] { OnDownloadStarted(count); }, Qt::QueuedConnection);
    };
    callbacks.records = [this, received](std::size_t first,
                                         const std::vector<SpliceRecord>& records) {
        received->insert(received->end(), records.begin(), records.end());
        // The rows are worded here, so that the window's turns only append them.
        std::vector<CListCtrlEx::Row> rows;
        rows.reserve(records.size());
        for (std::size_t i = 0; i < records.size(); ++i)
            rows.push_back({{QString::number(first + i + 1), Q(TimeText(records[i]))}, first + i});
        std::lock_guard lock(m_incomingMutex);
        m_incoming.insert(m_incoming.end(), records.begin(), records.end());
        m_incomingRows.insert(m_incomingRows.end(), std::make_move_iterator(rows.begin()),
                              std::make_move_iterator(rows.end()));
    };
    HistoryReceipt receipt;
    try {
        receipt = ReceiveHistory(GetLink(), std::move(claim), stop, callbacks, m_downloadOptions);
    } catch (const std::exception&) {
        // The page must unlock whatever happened below.
        receipt.start.step = ReceiveStep::Failed;
        receipt.start.outcome = Outcome::Unexpected;
    }
    // Every record that arrived whole is kept, also when the download ended early
    // (as velmora-cli keeps them): each is the splicer's own, and a later download
    // adds only the rest.
    if (!received->empty() && !splicer.folderName.empty())
        StoreInArchive([splicer, received](archive::Archive& archive) {
            return archive.StoreDownload(splicer, *received).error;
        });
    QMetaObject::invokeMethod(
        this, [this, receipt] { OnReceiveFinished(receipt); }, Qt::QueuedConnection);
}

void CHistoryDlg::OnDownloadStarted(int count) {
    m_nRecordCount = count;
    m_records.reserve(static_cast<std::size_t>(count));
    ShowCommState(true);
}

void CHistoryDlg::FlushPendingRows() {
    RecordStore arrived;
    std::vector<CListCtrlEx::Row> rows;
    {
        std::lock_guard lock(m_incomingMutex);
        arrived.swap(m_incoming);
        rows.swap(m_incomingRows);
    }
    if (arrived.empty()) return;
    m_records.insert(m_records.end(), arrived.begin(), arrived.end());
    const int firstRow = m_listIndex.AppendRows(rows);
    static const bool noScroll = qEnvironmentVariableIsSet("EXP_NOSCROLL");
    static const bool noProgress = qEnvironmentVariableIsSet("EXP_NOPROGRESS");
    if (!noScroll) m_listIndex.EnsureVisible(firstRow + static_cast<int>(rows.size()) - 1);
    if (m_nRecordCount > 0 && !noProgress)
        SetTurnProgress(static_cast<int>((m_records.size() - 1) * 100 /
                                         static_cast<std::size_t>(m_nRecordCount)));
}

void CHistoryDlg::SetTurnProgress(int percent) {
    if (m_progress.value() == percent) return;
    // QProgressBar repaints itself at once on every step; during a turn the bar
    // is instead painted with the list, in the window's one repaint after the turn.
    m_progress.setUpdatesEnabled(false);
    m_progress.setValue(percent);
    m_progress.setUpdatesEnabled(true);
    m_progress.update();
}

void CHistoryDlg::OnReceiveFinished(const HistoryReceipt& receipt) {
    m_listTimer.stop();
    FlushPendingRows();
    m_downloading = false;
    emit DownloadBusy(false);
    const ReceiveStart& start = receipt.start;
    const Outcome outcome =
        start.step == ReceiveStep::Download ? receipt.download.outcome : start.outcome;
    if (start.step != ReceiveStep::Download) {
        m_records = std::move(m_previousRecords);
        m_partialOf = m_previousPartialOf;
    } else if (outcome != Outcome::Accepted) {
        // The records listed so far stay, in the list and in the store, known as partial.
        m_partialOf = receipt.download.recordsAnnounced;
    }
    m_previousRecords.clear();
    const std::string failure = ReceiptFailureText(receipt);
    if (start.step == ReceiveStep::NoRecords ||
        (start.step == ReceiveStep::Download && outcome == Outcome::Accepted)) {
        if (start.step == ReceiveStep::Download) m_progress.setValue(100);
        ShowCommState(true);
    } else if (outcome == Outcome::Cancelled) {
        // The user stopped it: no failure of the line, but how far it got.
        emit StatusNotice(Q(failure));
    } else {
        if (start.step == ReceiveStep::Download) m_progress.setValue(0);
        ShowCommState(false, failure);
    }
    SetButtonsEnabled(true);
}

void CHistoryDlg::OnLvnItemchangedIndexList() {
    const int row = m_listIndex.GetSelectedRow();
    if (row >= 0) ShowRecordDetails(static_cast<std::size_t>(m_listIndex.GetItemData(row)));
}

void CHistoryDlg::ShowRecordDetails(std::size_t position) {
    if (position >= m_records.size()) return;
    ui::ShowRecordDetails(m_listParam, &m_records[position]);
}

void CHistoryDlg::FillIndexList() {
    m_listIndex.DeleteAllItems();
    std::vector<CListCtrlEx::Row> rows;
    rows.reserve(m_records.size());
    for (const IndexRow& row : IndexRows(m_records))
        rows.push_back({{Q(row.number), Q(row.time)}, row.position});
    if (const int first = m_listIndex.AppendRows(rows); first >= 0)
        m_listIndex.EnsureVisible(first + static_cast<int>(rows.size()) - 1);
    m_progress.setValue(100);
}

void CHistoryDlg::OnBnClickedExcel() {
    if (m_downloading || m_export.Running()) return;
    const auto daysFile = [this] {
        return CsvExportPath(Session().DeviceFolder, Config().AppDirectory, LocalToday());
    };
    if (m_export.Start(m_records, m_partialOf, daysFile, true)) SetButtonsEnabled(false);
}

void CHistoryDlg::SetButtonsEnabled(bool enabled) {
    m_btnReceive.setEnabled(enabled);
    m_btnExcel.setEnabled(enabled);
}

}  // namespace velmora::ui
