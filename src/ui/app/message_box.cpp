#include "ui/app/message_box.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <map>
#include <tuple>
#include <utility>

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

QMessageBox::Icon BoxIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::None:
            return QMessageBox::NoIcon;
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// On a real window system a box's icon and its buttons' icons are looked up in
// the icon theme as they are made: tens of milliseconds of the window's thread
// for every box. So a box is made once for each parent and kind, kept hidden
// (its parent owns it), and given only its texts each time it is shown.
using BoxKey = std::tuple<const QWidget*, MsgButtons, MsgIcon>;
std::map<BoxKey, QPointer<QMessageBox>>& KeptBoxes() {
    static std::map<BoxKey, QPointer<QMessageBox>> boxes;
    return boxes;
}

// Between the costly steps of making a box the window's timers and repaints run,
// so that no single step stalls it for long. Not the user's input: the box is
// about to be modal, as it is while it runs.
void LetWindowRun() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// A new box of this kind, owned by `parent` (by nobody without one); null when
// the parent went away while it was made.
QPointer<QMessageBox> MakeBox(QWidget* parent, MsgButtons buttons, MsgIcon icon) {
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setIcon(BoxIcon(icon));
    LetWindowRun();
    if (!box) return box;
    if (buttons == MsgButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    LetWindowRun();
    return box;
}

// A box shown once: a box from within a box of the same kind, or one without a
// parent. Deleted after use unless its parent took it along.
struct OnceBox {
    QPointer<QMessageBox> box;
    ~OnceBox() { delete box.data(); }
};

// The kept box of this kind for `parent`, made now if need be, or else `once`'s.
QMessageBox* BoxFor(QWidget* parent, MsgButtons buttons, MsgIcon icon, OnceBox& once) {
    if (!parent) return once.box = MakeBox(parent, buttons, icon);
    QPointer<QMessageBox>& kept = KeptBoxes()[{parent, buttons, icon}];
    if (kept && kept->isVisible()) return once.box = MakeBox(parent, buttons, icon);
    // A box kept for a widget gone since, whose address a new one took, went with it.
    if (!kept) kept = MakeBox(parent, buttons, icon);
    return kept;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}
MessageBoxHook SetFallbackMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(FallbackHook(), std::move(hook));
}

void PrepareMessageBox(QWidget* parent, MsgButtons buttons, MsgIcon icon) {
    if (Hook() || FallbackHook() || !parent) return;
    OnceBox once;
    BoxFor(parent, buttons, icon, once);
}

MsgAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                      MsgButtons buttons, MsgIcon icon) {
    if (Hook()) return Hook()(text, caption, buttons, icon);
    if (FallbackHook()) return FallbackHook()(text, caption, buttons, icon);
    OnceBox once;
    QPointer<QMessageBox> box = BoxFor(parent, buttons, icon, once);
    // The parent went away while the box was made: nobody is left to ask.
    if (!box) return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    box->setWindowTitle(caption);
    box->setText(text);
    if (buttons == MsgButtons::YesNo) box->setDefaultButton(QMessageBox::Yes);
    const int answer = box->exec();
    if (buttons == MsgButtons::YesNo)
        return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    return MsgAnswer::Ok;
}

}  // namespace velmora::ui
