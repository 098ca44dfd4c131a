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
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/history_download.h"
#include "history/splice_record.h"
#include "ui/app/page_dlg.h"
#include "ui/history/csv_export_dlg.h"
#include "ui/widgets/list_ctrl_ex.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CHistoryDlg : public CPageDlg {
    Q_OBJECT
  public:
    CHistoryDlg(QWidget* parent, PageContext& context);
    // Stops and joins the download: it lists into this page's members.
    ~CHistoryDlg() override;

    // Called when the page is selected: makes sure of the export folder, and has
    // the export's boxes made while the window repaints anyway.
    void EnsureCsvFolder();

    // The Receive button: counts the splicer's records, asks for all of them
    // and downloads them, on the page's worker.
    void OnBnClickedReceive();
    // The EXCEL button: writes every downloaded record to the day's CSV file, on the
    // worker; a download that did not end whole is exported only when the user says so.
    void OnBnClickedExcel();
    // Shows record `position` of the store in the parameter list.
    void ShowRecordDetails(std::size_t position);
    // Rebuilds the index list from the store.
    void FillIndexList();
    // Cancel: stops a running download.
    void CancelExchange() override;

    // The download's limits (tests shorten the deadline).
    void SetDownloadOptions(DownloadOptions options) { m_downloadOptions = options; }

    const RecordStore& Records() const { return m_records; }
    // True from Receive (or EXCEL) until the page has taken the worker's result.
    bool Downloading() const { return m_downloading; }
    bool Exporting() const { return m_export.Running(); }
    CListCtrlEx& IndexList() { return m_listIndex; }
    CListCtrlEx& ParamList() { return m_listParam; }
    CWBButton& ReceiveButton() { return m_btnReceive; }
    CWBButton& ExcelButton() { return m_btnExcel; }
    QProgressBar& Progress() { return m_progress; }

  private:
    void OnLvnItemchangedIndexList();

    // On the worker: the whole Receive; records are left in m_incoming. A download
    // that came whole goes into the archive as `splicer`'s.
    void RunReceive(LineClaim claim, std::stop_token stop, const archive::SplicerIdentity& splicer);
    // On the page's thread, each listing turn: lists the records taken in since the last turn.
    void FlushPendingRows();
    // The progress bar's value for a listing turn, repainted with the rest of the window.
    void SetTurnProgress(int percent);
    void OnDownloadStarted(int count);
    void OnReceiveFinished(const HistoryReceipt& receipt);

    void SetButtonsEnabled(bool enabled);

    // The records of the last download; row data in the index list is a position here.
    RecordStore m_records;
    // Set aside while the count is asked: a Receive that fetches nothing keeps it.
    RecordStore m_previousRecords;
    // When the store is what a download that did not end whole left: the count the
    // splicer announced for it (and the same for the store set aside).
    std::optional<std::size_t> m_partialOf;
    std::optional<std::size_t> m_previousPartialOf;
    // The parameter list's captions in row order.
    std::array<std::string, kDetailRowCount> m_rows;
    int m_nRecordCount = 0;
    bool m_downloading = false;
    DownloadOptions m_downloadOptions;
    // Records the worker has handed over, not yet listed, with their index rows
    // already worded by the worker. The worker never waits for the page: the page
    // takes them on its listing turns.
    std::mutex m_incomingMutex;
    RecordStore m_incoming;
    std::vector<CListCtrlEx::Row> m_incomingRows;
    QTimer m_listTimer;

    // Before the buttons it holds, so that they go first.
    QWidget m_buttonBar;
    CListCtrlEx m_listIndex;
    CListCtrlEx m_listParam;
    QProgressBar m_progress;
    CCsvExporter m_export{*this, m_progress};
    CWBButton m_btnReceive;
    CWBButton m_btnExcel;
    QHBoxLayout buttonLayout_;  // layouts hold widgets only, never owning them
    QGridLayout layout_;
};

}  // namespace velmora::ui
