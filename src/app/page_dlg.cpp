#include "app/page_dlg.h"

#include <QPainter>

#include "app/message_box.h"
#include "app/qt_text.h"
#include "app/velmora_dlg.h"

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

void CPageDlg::ShowCommState(bool success) {
    if (mainDlg_) mainDlg_->ShowCommState(success);
}

void CPageDlg::ShowBox(const std::string& text, const Message& caption) {
    ShowMessage(this, Q(text), Q(caption), MsgButtons::Ok, MsgIcon::None);
}

bool CPageDlg::RefuseClosedPort() {
    if (link_.Port().IsOpen()) return false;
    link_.SetStatus(msg::CommDisconnected);
    ShowCommState(false);
    ShowBox(Say(msg::CommDisconnected));
    return true;
}

}  // namespace velmora::ui
