#pragma once
// The "FirmWare" page: sends a firmware file to the splicer.
#include "app/page_dlg.h"

namespace velmora::ui {

class CFirmWareDlg : public CPageDlg {
    Q_OBJECT
public:
    CFirmWareDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);
};

}  // namespace velmora::ui
