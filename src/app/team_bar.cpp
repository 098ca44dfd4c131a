#include "app/team_bar.h"

#include "app/qt_text.h"
#include "base/language.h"

namespace velmora::ui {

namespace tw = keys::team_window;

CTeamBar::CTeamBar(QWidget* parent)
    : QWidget(parent), send_(Q(tw::SendNow)), settings_(Q(tw::Settings)) {
    thisPc_.setText(Q(tw::ThisPc));
    team_.setText(Q(tw::TeamView));
    for (QToolButton* button : {&thisPc_, &team_}) {
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        views_.addButton(button);
    }
    views_.setExclusive(true);
    thisPc_.setChecked(true);
    line_.setWordWrap(true);
    line_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout_.setContentsMargins(0, 0, 0, 0);
    layout_.setSpacing(6);
    layout_.addWidget(&thisPc_);
    layout_.addWidget(&team_);
    layout_.addSpacing(6);
    layout_.addWidget(&line_, 1);
    layout_.addWidget(&send_);
    layout_.addWidget(&settings_);
    setLayout(&layout_);
    connect(&team_, &QToolButton::toggled, this, [this](bool team) {
        ShowLine();
        emit ViewChosen(team);
    });
    connect(&send_, &QPushButton::clicked, this, &CTeamBar::SendClicked);
    connect(&settings_, &QPushButton::clicked, this, &CTeamBar::SettingsClicked);
}

void CTeamBar::SetTexts(const QString& outbox, const QString& teamView, bool canSend) {
    outbox_ = outbox;
    teamView_ = teamView;
    send_.setEnabled(canSend);
    ShowLine();
}

void CTeamBar::ShowLine() {
    const QString& text = team_.isChecked() ? teamView_ : outbox_;
    line_.setText(text);
    line_.setToolTip(text);
}

}  // namespace velmora::ui
