#pragma once
// The "Image" page: the splicer's image list, downloads and the image shown.
#include "app/page_dlg.h"

namespace velmora::ui {

class CImageDlg : public CPageDlg {
    Q_OBJECT
public:
    CImageDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);

    // Called when the page is selected, in this order.
    void EnsureJpgFolder();
    void RefreshImageList();
};

}  // namespace velmora::ui
