#include "settings/monitor_dlg.h"

namespace velmora::ui {

CMonitorDlg::CMonitorDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : CPageDlg(parent, link, mainDlg) {}

void CMonitorDlg::SetConnectButtons(bool) {}

}  // namespace velmora::ui
