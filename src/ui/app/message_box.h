#pragma once
// Every message box of the program goes through here, so that tests can
// answer and record them instead of a person.
#include <QString>
#include <functional>

class QWidget;

namespace velmora::ui {

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Information, Exclamation, Error };
enum class MsgAnswer { Ok, Yes, No };

// Shows a modal message box and returns the answer.
MsgAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);

// Makes the box ShowMessage would show for `parent` with these buttons and icon
// now, so that showing it later costs the window little (see message_box.cpp);
// for a moment when the window has time, e.g. while a worker runs.
void PrepareMessageBox(QWidget* parent, MsgButtons buttons, MsgIcon icon);

// While set, ShowMessage calls this instead of showing anything.
using MessageBoxHook = std::function<MsgAnswer(const QString& text, const QString& caption,
                                               MsgButtons buttons, MsgIcon icon)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Called when no hook is set (a test program answers boxes nobody expected
// instead of hanging on them); unset, a real box is shown. Returns the one before.
MessageBoxHook SetFallbackMessageBoxHook(MessageBoxHook hook);

}  // namespace velmora::ui
