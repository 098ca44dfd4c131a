#include "images/image_dlg.h"

namespace velmora::ui {

CImageDlg::CImageDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : CPageDlg(parent, link, mainDlg) {}

void CImageDlg::EnsureJpgFolder() {}

void CImageDlg::RefreshImageList() {}

}  // namespace velmora::ui
