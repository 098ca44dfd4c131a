#pragma once
// The team archive's settings: its address as a connection URI, or the fields it
// is made of (server, port, database, user, verify-full with a CA file); the
// password, remembered in libpq's password file when the user asks, otherwise
// kept for this run only; a test of the address (off the window's thread) said in
// plain words; joining and leaving, by the same rules as velmora-cli.
#include <QCheckBox>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <functional>
#include <utility>
#include <vector>

#include "team/team_address.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

class CTeamLink;

class CTeamDlg : public QDialog {
    Q_OBJECT
  public:
    // Asks for the CA file: its path, or empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;

    CTeamDlg(CTeamLink& team, QWidget* parent = nullptr);

    // Tries the address with the password given; the outcome appears in ResultText.
    void OnBnClickedTest();
    // Remembers the address (and the password as asked); Joined() once done.
    void OnBnClickedJoin();
    void OnBnClickedLeave();
    void OnBnClickedBrowse();
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    QLineEdit& AddressEdit() { return address_; }
    QLineEdit& HostEdit() { return host_; }
    QLineEdit& PortEdit() { return port_; }
    QLineEdit& DatabaseEdit() { return database_; }
    QLineEdit& UserEdit() { return user_; }
    QCheckBox& VerifyCheck() { return verify_; }
    QLineEdit& CaFileEdit() { return caFile_; }
    QLineEdit& PasswordEdit() { return password_; }
    QCheckBox& RememberCheck() { return remember_; }
    QLabel& ResultText() { return result_; }
    QLabel& JoinedText() { return joined_; }
    // True from a test or a join until its outcome is shown; meanwhile the address,
    // the password and the buttons that use them wait.
    bool Testing() const { return testing_; }

  signals:
    void Joined();
    void Left();

  private:
    void FieldsEdited();
    // While a test or a join runs, the fields and buttons that would change it wait.
    void Hold(bool held);
    void AddressEdited();
    void ShowJoined();
    // The password as the user asked it kept; false after saying why it could not be.
    bool KeepPassword();

    CTeamLink& team_;
    FileChooser chooser_;
    // Parameters of the address the fields do not show, kept as they came.
    std::vector<std::pair<std::string, std::string>> otherParameters_;
    bool testing_ = false;
    int testSerial_ = 0;

    QLabel addressLabel_;
    QLineEdit address_;
    QLineEdit host_;
    QLineEdit port_;
    QLineEdit database_;
    QLineEdit user_;
    QCheckBox verify_;
    QLineEdit caFile_;
    CWBButton browse_;
    QLineEdit password_;
    QCheckBox remember_;
    QLabel note_;
    CWBButton test_;
    QLabel result_;
    QLabel joined_;
    CWBButton join_;
    CWBButton leave_;
    CWBButton close_;
    // Layouts hold widgets only; a nested layout comes after the one holding it.
    QVBoxLayout layout_;
    QFormLayout form_;
    QHBoxLayout caRow_;
    QHBoxLayout testRow_;
    QHBoxLayout buttons_;
};

}  // namespace velmora::ui
