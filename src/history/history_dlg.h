#pragma once
// The history page ("Result"): splice records downloaded from the splicer.
#include "app/page_dlg.h"

namespace velmora::ui {

class CHistoryDlg : public CPageDlg {
    Q_OBJECT
public:
    CHistoryDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);

    // Called when the page is selected: makes sure of the export folder.
    void EnsureCsvFolder();
};

}  // namespace velmora::ui
