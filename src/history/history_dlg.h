#pragma once
// The history page ("Result"): downloads the splice records from the splicer on
// a worker thread, lists them as they arrive, shows the chosen one field by
// field, and exports them all to a CSV file for a spreadsheet.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QTimer>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "app/page_dlg.h"
#include "history/history_download.h"
#include "history/splice_record.h"
#include "widgets/list_ctrl_ex.h"
#include "widgets/wb_button.h"

namespace velmora::ui {

class CHistoryDlg : public CPageDlg {
    Q_OBJECT
public:
    CHistoryDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);
    // Stops and joins the download: it lists into this page's members.
    ~CHistoryDlg() override;

    // Called when the page is selected: makes sure of the export folder.
    void EnsureCsvFolder();

    // The Receive button: counts the splicer's records, asks for all of them
    // and starts the download worker.
    void OnBnClickedReceive();
    // The EXCEL button: writes every downloaded record to the day's CSV file.
    void OnBnClickedExcel();
    // Shows record `position` of the store in the parameter list.
    void ShowRecordDetails(std::size_t position);
    // Rebuilds the index list from the store.
    void FillIndexList();

    // The download's limits (tests shorten the deadline).
    void SetDownloadOptions(DownloadOptions options) { m_downloadOptions = options; }

    const RecordStore& Records() const { return m_records; }
    bool Downloading() const { return m_downloading; }
    CListCtrlEx& IndexList() { return m_listIndex; }
    CListCtrlEx& ParamList() { return m_listParam; }
    CWBButton& ReceiveButton() { return m_btnReceive; }
    CWBButton& ExcelButton() { return m_btnExcel; }
    QProgressBar& Progress() { return m_progress; }

private:
    void SetUpIndexList();
    void SetUpParamList();
    void SizeIndexColumns(int clientWidth);
    void SizeParamColumns(int clientWidth);
    void OnLvnItemchangedIndexList();

    void StartDownload(LineClaim claim, int count);
    void RunDownload(LineClaim claim, int count, std::stop_token stop);
    // On the page's thread: the records that just became complete.
    void AddRecordsToList(std::size_t first, const std::vector<SpliceRecord>& records);
    // Puts the records taken in since the last time into the index list.
    void FlushPendingRows();
    void OnDownloadFinished(const DownloadResult& result);

    void SetButtonsEnabled(bool enabled);

    // The records of the last download; row data in the index list is a position here.
    RecordStore m_records;
    // The parameter list's captions in row order; the CSV header reads them too.
    std::array<std::string, kDetailRowCount> m_rows;
    int m_nRecordCount = 0;
    bool m_downloading = false;
    DownloadOptions m_downloadOptions;
    // Rows of records already in the store, waiting for the next listing turn.
    std::vector<CListCtrlEx::Row> m_pendingRows;
    std::size_t m_lastPending = 0;  // position in the download of the newest pending record
    QTimer m_listTimer;

    // Before the buttons it holds, so that they go first.
    QWidget m_buttonBar;
    CListCtrlEx m_listIndex;
    CListCtrlEx m_listParam;
    QProgressBar m_progress;
    CWBButton m_btnReceive;
    CWBButton m_btnExcel;
    QHBoxLayout buttonLayout_;  // layouts hold widgets only, never owning them
    QGridLayout layout_;
};

}  // namespace velmora::ui
