#include "ui/app/page_dlg.h"

#include <QMetaObject>
#include <QPainter>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/language.h"
#include "base/path_text.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_colours.h"

namespace velmora::ui {

CPageDlg::CPageDlg(QWidget* parent, PageContext& context)
    : QWidget(parent), context_(context), worker_(this, context.link) {
    setStyleSheet(ControlColourSheet());
}

CPageDlg::~CPageDlg() {
    worker_.StopAndJoin();
}

QString CPageDlg::ControlColourSheet() {
    return QStringLiteral(
        "QLabel { color: #0000ff; background: transparent; }\n"
        "QLineEdit { color: #0000ff; }\n");
}

void CPageDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), PageQColour());
}

void CPageDlg::ShowCommState(bool success, const std::string& failureText) {
    emit CommStateReported(success, Q(failureText));
}

void CPageDlg::ShowBox(const std::string& text, const Message& caption) {
    ShowMessage(this, Q(text), Q(caption), MsgButtons::Ok, MsgIcon::None);
}

CPageDlg::ExchangeScope::ExchangeScope(CPageDlg& page) : page_(page) {
    if (page_.exchangeDepth_++ > 0) return;
    // Disabling the page leaves each control's own enabled state as it was.
    page_.setEnabled(false);
    emit page_.ExchangeBusy(true);
}

CPageDlg::ExchangeScope::~ExchangeScope() {
    if (--page_.exchangeDepth_ > 0) return;
    page_.setEnabled(true);
    emit page_.ExchangeBusy(false);
}

archive::SplicerIdentity CPageDlg::ArchiveIdentity() {
    return {PathText(Session().DeviceFolder.filename()), Session().SerialNumber};
}

std::filesystem::path CPageDlg::DataFolder() const {
    return teamShown_ ? context_.teamFolder : Config().AppDirectory;
}

void CPageDlg::StoreInArchive(std::function<archive::ArchiveError(archive::Archive&)> store) {
    if (!context_.archive) return;
    context_.archive->Post(
        [this, store = std::move(store)](archive::Archive* archive, const archive::ArchiveError&) {
            if (!archive) return;
            const archive::ArchiveError error = store(*archive);
            if (error.ok()) return;
            // The writer ends before the pages go, so the page is still there.
            const QString text = Q(archive::ArchiveErrorText(error));
            QMetaObject::invokeMethod(
                this, [this, text] { emit StatusNotice(text); }, Qt::QueuedConnection);
        });
}

void CPageDlg::CancelExchange() {
    if (ExchangeRunning()) GetLink().Cancel();
}

bool CPageDlg::RefuseClosedPort() {
    if (GetLink().Port().IsOpen()) return false;
    ShowCommState(false, Say(msg::CommDisconnected));
    ShowBox(Say(msg::CommDisconnected));
    return true;
}

}  // namespace velmora::ui
