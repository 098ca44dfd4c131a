#include "ui/app/team_bar.h"

#include <QResizeEvent>

#include "base/language.h"
#include "ui/app/qt_text.h"

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
    line_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    line_.setMinimumHeight(2 * line_.fontMetrics().lineSpacing());
    // The view shown stands out, as a pressed key.
    setStyleSheet(QStringLiteral(
        "QToolButton { padding: 2px 8px; }\n"
        "QToolButton:checked { background: #2a62b8; color: white; border: 1px solid #1b3f78; }"));
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
        if (!quiet_) emit ViewChosen(team);
    });
    connect(&send_, &QPushButton::clicked, this, &CTeamBar::SendClicked);
    connect(&settings_, &QPushButton::clicked, this, &CTeamBar::SettingsClicked);
}

void CTeamBar::SetTeamChosen(bool team) {
    quiet_ = true;
    (team ? team_ : thisPc_).setChecked(true);
    quiet_ = false;
}

void CTeamBar::SetTeamOffered(bool offered) {
    team_.setEnabled(offered);
    team_.setToolTip(offered ? QString() : Q(tw::NotJoinedYet));
}

void CTeamBar::SetTexts(const QString& outbox, const QString& teamView, bool canSend) {
    outbox_ = outbox;
    teamView_ = teamView;
    send_.setEnabled(canSend);
    ShowLine();
}

void CTeamBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ShowLine();
}

void CTeamBar::ShowLine() {
    const QString& text = team_.isChecked() ? teamView_ : outbox_;
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = line_.fontMetrics().elidedText(line.simplified(), Qt::ElideRight, line_.width());
    line_.setText(lines.mid(0, 2).join(QLatin1Char('\n')));
    line_.setToolTip(text);
}

}  // namespace velmora::ui
