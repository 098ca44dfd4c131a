#pragma once
// The "Setting" page: the port and speed to connect with, the connection to
// the splicer, and its parameter groups read, edited and written in a grid.
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <string>
#include <string_view>
#include <vector>

#include "settings/option_tables.h"
#include "settings/parameter_exchange.h"
#include "settings/parameter_rows.h"
#include "ui/app/page_dlg.h"
#include "ui/widgets/edit_comb_grid_ctrl.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CMonitorDlg : public CPageDlg {
    Q_OBJECT
  public:
    CMonitorDlg(QWidget* parent, PageContext& context);

    // Called when the page is selected: Connect enabled only while the port
    // is closed, Disconnect only while it is open.
    void SetConnectButtons(bool portOpen);
    // Called when the page is selected: the shown group's values as the session now
    // holds them (another page may have read or written its record), unless the grid
    // holds edits not yet written.
    void ShowSessionValues();

    // The handlers of the page's buttons and of a choice in the group list.
    void OnBnClickedConnect();
    void OnBnClickedDisconnect();
    void OnBnClickedRead();
    void OnBnClickedAccept();
    void OnBnClickedRefresh();

    // The controls, for tests and screenshots.
    QComboBox& PortCombo() { return portCombo_; }
    QComboBox& SpeedCombo() { return speedCombo_; }
    QComboBox& GroupCombo() { return groupCombo_; }
    CWBButton& ConnectButton() { return connect_; }
    CWBButton& DisconnectButton() { return disconnect_; }
    CWBButton& RefreshButton() { return refresh_; }
    CWBButton& ReadButton() { return read_; }
    CWBButton& AcceptButton() { return accept_; }
    CEditCombGridCtrl& Grid() { return grid_; }

  private:
    void LayOutControls();
    void SetUpGrid();
    void EnumeratePorts();
    // Grid rows for the selected group, captions only.
    void BuildGroupRows();
    // The rows of the shown group with the values of its record.
    void ShowGroupValues();
    void ShowRow(int index, const GridRow& row);
    std::vector<std::string> ValueTexts() const;

    // The record as the splicer now holds it, kept in the archive.
    void KeepSnapshot(ParamRecord record, std::string_view reason);
    // The group the list has chosen.
    ParamGroup ChosenGroup() const;
    // Status panes and message boxes of a step, in that order.
    void Present(const StepResult& result);
    void ShowConnected(bool connected);
    // After an exchange: a port that went away leaves the page disconnected.
    void FollowPort();
    // A group change while an exchange is in flight puts the list back and says why.
    bool RefuseWhileLineBusy();
    // Unwritten edits of the shown group: asks whether to drop them; No puts the list back.
    bool ConfirmDiscardEdits();

    OptionTables tables_;
    std::vector<ParamRow> paramRows_;
    std::vector<GridRow> rows_;  // the rows the grid shows
    ParamGroup shownGroup_ = ParamGroup::Environment;
    // The port and speed of the last Connect.
    std::string m_device;
    int m_nBaud = 0;

    // Parents before children, layouts last: members are destroyed in reverse.
    QGroupBox connectionBox_;
    QGroupBox groupBox_;
    QComboBox portCombo_;
    QComboBox speedCombo_;
    CWBButton connect_;
    CWBButton disconnect_;
    CWBButton refresh_;
    QComboBox groupCombo_;
    CWBButton read_;
    CWBButton accept_;
    CEditCombGridCtrl grid_;
    QGridLayout connectionLayout_;  // layouts hold widgets only, never owning them
    QGridLayout groupLayout_;
    QGridLayout pageLayout_;
};

}  // namespace velmora::ui
