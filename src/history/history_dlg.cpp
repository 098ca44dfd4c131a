#include "history/history_dlg.h"

namespace velmora::ui {

CHistoryDlg::CHistoryDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : CPageDlg(parent, link, mainDlg) {}

void CHistoryDlg::EnsureCsvFolder() {}

}  // namespace velmora::ui
