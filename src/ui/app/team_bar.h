#pragma once
// The row at the top of the Archive and Job tabs: "This PC" or "Team" (the team
// archive's copy on this PC, read-only), a line on the sending or on the team view,
// "Send now" and the team archive's settings. It presents and asks; the window
// does the rest.
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QWidget>

#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CTeamBar : public QWidget {
    Q_OBJECT
  public:
    explicit CTeamBar(QWidget* parent = nullptr);

    bool TeamChosen() const { return team_.isChecked(); }
    // Shows `team` chosen without telling ViewChosen (the window switches both tabs).
    void SetTeamChosen(bool team);
    // Team is offered only while this PC has joined a team archive.
    void SetTeamOffered(bool offered);
    // The line: `outbox` while This PC is shown, `teamView` while Team is. Send now
    // is offered when `canSend`.
    void SetTexts(const QString& outbox, const QString& teamView, bool canSend);

    QToolButton& ThisPcButton() { return thisPc_; }
    QToolButton& TeamButton() { return team_; }
    CWBButton& SendButton() { return send_; }
    CWBButton& SettingsButton() { return settings_; }
    QLabel& Line() { return line_; }

  signals:
    void ViewChosen(bool team);
    void SendClicked();
    void SettingsClicked();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The line's text, each of its lines cut to the width with an ellipsis (the
    // whole text is the tool tip): the bar stays two lines high whatever the
    // server said.
    void ShowLine();

    bool quiet_ = false;  // SetTeamChosen at work
    QString outbox_;
    QString teamView_;
    QToolButton thisPc_;
    QToolButton team_;
    QButtonGroup views_;
    QLabel line_;
    CWBButton send_;
    CWBButton settings_;
    QHBoxLayout layout_;
};

}  // namespace velmora::ui
