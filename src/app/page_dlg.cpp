#include "app/page_dlg.h"

#include <QPainter>

#include "app/ui_colours.h"

namespace velmora::ui {

CPageDlg::CPageDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg)
    : QWidget(parent), link_(link), mainDlg_(mainDlg), worker_(this, link) {
    setStyleSheet(ControlColourSheet());
}

CPageDlg::~CPageDlg() { worker_.StopAndJoin(); }

QString CPageDlg::ControlColourSheet() {
    return QStringLiteral(
        "QLabel { color: #0000ff; background: transparent; }\n"
        "QLineEdit { color: #0000ff; }\n");
}

void CPageDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), PageQColour());
}

}  // namespace velmora::ui
