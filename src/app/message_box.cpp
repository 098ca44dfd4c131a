#include "app/message_box.h"

#include <QMessageBox>

namespace velmora::ui {
namespace {
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}
MessageBoxHook& FallbackHook() {
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}
void SetFallbackMessageBoxHook(MessageBoxHook hook) {
    FallbackHook() = std::move(hook);
}

MsgAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                      MsgButtons buttons, MsgIcon icon) {
    if (Hook()) return Hook()(text, caption, buttons, icon);
    if (FallbackHook()) return FallbackHook()(text, caption, buttons, icon);
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
        case MsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

}  // namespace velmora::ui
