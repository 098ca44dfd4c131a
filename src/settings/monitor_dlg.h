#pragma once
// The "Setting" page: ports, connection and the parameter groups.
#include "app/page_dlg.h"

namespace velmora::ui {

class CMonitorDlg : public CPageDlg {
    Q_OBJECT
public:
    CMonitorDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);

    // Called when the page is selected: Connect enabled only while the port
    // is closed, Disconnect only while it is open.
    void SetConnectButtons(bool portOpen);
};

}  // namespace velmora::ui
