#include "history/history_dlg.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "app/qt_text.h"
#include "app/app_config.h"
#include "app/language.h"
#include "app/message_box.h"
#include "app/messages.h"
#include "app/ui_pump.h"
#include "app/velmora_dlg.h"
#include "history/csv_export.h"

namespace velmora::ui {
namespace {

QString Caption(const TextKey& key) { return Q(key); }

TableLanguage RunLanguage() { return TableLanguageFor(Config().EnglishFlag); }

// Records arrive a few at a time; listing them in turns this far apart keeps the
// window from repainting the list for every one while still looking immediate.
constexpr int kListingTurnMs = 40;

constexpr int kPageMargin = 8;
constexpr int kSpacing = 8;

}  // namespace

CHistoryDlg::CHistoryDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : CPageDlg(parent, link, mainDlg),
      m_rows(DetailCaptions()),
      m_btnReceive(Caption(keys::BtnReceive)),
      m_btnExcel(Caption(keys::BtnExcel)) {
    SetUpIndexList();
    SetUpParamList();
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
    connect(&m_listIndex, &CListCtrlEx::ItemChanged, this,
            [this] { OnLvnItemchangedIndexList(); });
    m_listTimer.setSingleShot(true);
    m_listTimer.setInterval(kListingTurnMs);
    connect(&m_listTimer, &QTimer::timeout, this, [this] { FlushPendingRows(); });

    FillIndexList();
    ShowRecordDetails(0);
    EnsureCsvFolder();
    m_progress.setValue(0);
}

CHistoryDlg::~CHistoryDlg() { Worker().StopAndJoin(); }

void CHistoryDlg::SetUpIndexList() {
    m_listIndex.InsertColumn(0, Caption(keys::HistoryCountCol0), Qt::AlignHCenter);
    m_listIndex.InsertColumn(1, Caption(keys::HistoryCountCol1), Qt::AlignHCenter);
    connect(&m_listIndex, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeIndexColumns(width); });
    SizeIndexColumns(m_listIndex.viewport()->width());
}

void CHistoryDlg::SetUpParamList() {
    m_listParam.InsertColumn(0, Caption(keys::HistoryParaCol0), Qt::AlignHCenter);
    m_listParam.InsertColumn(1, Caption(keys::HistoryParaCol1), Qt::AlignHCenter);
    // Each row carries its field's number, so a sorted list still shows every
    // value beside its own caption.
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        m_listParam.InsertItem(static_cast<int>(row), Q(m_rows[row]), row);
    connect(&m_listParam, &CListCtrlEx::ClientWidthChanged, this,
            [this](int width) { SizeParamColumns(width); });
    SizeParamColumns(m_listParam.viewport()->width());
}

// The widths follow the list's visible width, as the page first set them.
void CHistoryDlg::SizeIndexColumns(int clientWidth) {
    m_listIndex.SetColumnWidth(0, clientWidth / 3 - 5);
    m_listIndex.SetColumnWidth(1, (2 * clientWidth) / 3);
}

void CHistoryDlg::SizeParamColumns(int clientWidth) {
    m_listParam.SetColumnWidth(0, clientWidth / 2 - 5);
    m_listParam.SetColumnWidth(1, clientWidth / 2 - 5);
}

void CHistoryDlg::EnsureCsvFolder() { velmora::EnsureCsvFolder(GetLink().DeviceFolder); }

void CHistoryDlg::OnBnClickedReceive() {
    Link& link = GetLink();
    if (m_downloading) return;
    // The last download has been reported; its thread may still be returning.
    if (Worker().Running()) Worker().StopAndJoin();
    if (RefuseClosedPort()) return;
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) {
        ShowBox(Say(msg::LineBusy));
        return;
    }
    m_listIndex.DeleteAllItems();
    m_pendingRows.clear();
    m_listTimer.stop();
    m_nRecordCount = 0;
    // No second click, and no export, while the count is awaited.
    SetButtonsEnabled(false);
    const ReceiveStart start = BeginHistoryReceive(link, *claim, UiPump());
    switch (start.step) {
        case ReceiveStep::Download: StartDownload(std::move(*claim), start.count); return;
        case ReceiveStep::NoRecords: ShowCommState(true); break;
        case ReceiveStep::TooMany: ShowCommState(false); break;
        case ReceiveStep::Failed:
            // A rejection or a foreign answer would otherwise show an older failure's text.
            if (start.outcome == Outcome::Rejected || start.outcome == Outcome::Unexpected)
                link.SetStatus(msg::DataError);
            if (start.outcome != Outcome::Cancelled) ShowCommState(false);
            break;
    }
    SetButtonsEnabled(true);
}

void CHistoryDlg::StartDownload(LineClaim claim, int count) {
    ShowCommState(true);
    m_nRecordCount = count;
    m_records.clear();
    m_records.reserve(static_cast<std::size_t>(count));
    m_progress.setRange(0, 100);
    m_progress.setValue(0);
    m_downloading = true;
    // The task must be copyable; the claim it owns travels in a shared holder.
    auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
    const bool started = Worker().Start([this, held, count](std::stop_token stop) {
        RunDownload(std::move(**held), count, stop);
    });
    if (!started) {
        held->reset();
        m_downloading = false;
        SetButtonsEnabled(true);
    }
}

void CHistoryDlg::RunDownload(LineClaim claim, int count, std::stop_token stop) {
    DownloadCallbacks callbacks;
    // Each batch is listed on the page's thread while the worker waits, so the
    // records are never used by both at once.
    callbacks.records = [this, &stop](std::size_t first, const std::vector<SpliceRecord>& r) {
        Worker().CallOnPage(stop, [&] { AddRecordsToList(first, r); });
    };
    callbacks.finished = [this, &stop](const DownloadResult& result) {
        Worker().CallOnPage(stop, [&] { OnDownloadFinished(result); });
    };
    DownloadHistory(GetLink(), std::move(claim), count, stop, callbacks, m_downloadOptions);
}

void CHistoryDlg::AddRecordsToList(std::size_t first, const std::vector<SpliceRecord>& records) {
    if (records.empty()) return;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::size_t position = m_records.size();
        m_records.push_back(records[i]);
        m_pendingRows.push_back(
            {{QString::number(first + i + 1), Q(TimeText(records[i]))}, position});
    }
    m_lastPending = first + records.size() - 1;
    if (!m_listTimer.isActive()) m_listTimer.start();
}

void CHistoryDlg::FlushPendingRows() {
    m_listTimer.stop();
    if (m_pendingRows.empty()) return;
    const int firstRow = m_listIndex.AppendRows(m_pendingRows);
    m_listIndex.EnsureVisible(firstRow + static_cast<int>(m_pendingRows.size()) - 1);
    m_pendingRows.clear();
    if (m_nRecordCount > 0)
        m_progress.setValue(
            static_cast<int>(m_lastPending * 100 / static_cast<std::size_t>(m_nRecordCount)));
}

void CHistoryDlg::OnDownloadFinished(const DownloadResult& result) {
    FlushPendingRows();
    m_downloading = false;
    switch (result.outcome) {
        case Outcome::Accepted:
            m_progress.setValue(100);
            ShowCommState(true);
            break;
        case Outcome::Cancelled: break;
        default:
            // The records listed so far stay, in the list and in the store.
            GetLink().CommStatusText = result.statusText;
            m_progress.setValue(0);
            ShowCommState(false);
            break;
    }
    SetButtonsEnabled(true);
}

void CHistoryDlg::OnLvnItemchangedIndexList() {
    const int row = m_listIndex.GetSelectedRow();
    if (row >= 0) ShowRecordDetails(static_cast<std::size_t>(m_listIndex.GetItemData(row)));
}

void CHistoryDlg::ShowRecordDetails(std::size_t position) {
    if (position >= m_records.size()) return;
    const auto texts = DetailTexts(m_records[position], RunLanguage());
    for (int row = 0; row < m_listParam.GetItemCount(); ++row) {
        const std::size_t field = static_cast<std::size_t>(m_listParam.GetItemData(row));
        if (field < texts.size()) m_listParam.SetItemText(row, 1, Q(texts[field]));
    }
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
    if (m_records.empty()) {
        ShowBox(Say(history_msg::NoRecord), history_msg::NoRecordCaption);
        return;
    }
    const std::filesystem::path file =
        CsvExportPath(GetLink().DeviceFolder, Config().AppDirectory, LocalToday());
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        const MsgAnswer answer =
            ShowMessage(this, Q(FileExistsText(file)), Q(msg::CaptionQuestion),
                        MsgButtons::YesNo, MsgIcon::Exclamation);
        if (answer != MsgAnswer::Yes) return;
    }
    m_progress.setRange(0, 100);
    std::string error;
    const bool written = WriteCsvExport(file, m_records, m_rows, RunLanguage(), &error,
                                        [this](int percent) { m_progress.setValue(percent); });
    if (!written) {
        ShowMessage(this, Q(FileNotSavedText(file, error)), Q(msg::CaptionInfo),
                    MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    m_progress.setValue(100);
    ShowBox(Say(history_msg::FileSaved), msg::CaptionQuestion);
}

void CHistoryDlg::SetButtonsEnabled(bool enabled) {
    m_btnReceive.setEnabled(enabled);
    m_btnExcel.setEnabled(enabled);
}

}  // namespace velmora::ui
