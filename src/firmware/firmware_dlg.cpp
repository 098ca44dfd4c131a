#include "firmware/firmware_dlg.h"

namespace velmora::ui {

CFirmWareDlg::CFirmWareDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : CPageDlg(parent, link, mainDlg) {}

}  // namespace velmora::ui
