#include "ui/team/team_dlg.h"

#include <QFileDialog>
#include <QPointer>
#include <QSignalBlocker>

#include "base/language.h"
#include "base/path_text.h"
#include "team/team_join.h"
#include "team/team_password_file.h"
#include "team/team_sync.h"
#include "team/team_texts.h"
#include "ui/app/qt_text.h"
#include "ui/app/team_link.h"

namespace velmora::ui {
namespace {

namespace tw = keys::team_window;

std::string S(const QString& text) {
    return text.trimmed().toStdString();
}

QString ChooseCaWithFileDialog(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, Q(tw::ChooseCaFile), QString(),
                                        QStringLiteral("(*.crt *.pem *.cer);;(*)"));
}

}  // namespace

CTeamDlg::CTeamDlg(CTeamLink& team, QWidget* parent)
    : QDialog(parent),
      team_(team),
      chooser_(ChooseCaWithFileDialog),
      browse_(Q(tw::Browse)),
      test_(Q(tw::Test)),
      join_(Q(tw::Join)),
      leave_(Q(tw::Leave)),
      close_(Q(tw::Close)) {
    setWindowTitle(Q(tw::Title));
    address_.setPlaceholderText(QStringLiteral("postgresql://user@server/database"));
    resize(640, 0);
    port_.setPlaceholderText(QStringLiteral("5432"));
    port_.setInputMask(QString());
    verify_.setText(Q(tw::VerifyFull));
    password_.setEchoMode(QLineEdit::Password);
    remember_.setText(Q(tw::RememberPassword));
    note_.setText(Q(tw::PasswordNote).arg(Q(PathText(team::PasswordFilePath()))));
    note_.setWordWrap(true);
    result_.setWordWrap(true);
    result_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    joined_.setWordWrap(true);

    caRow_.addWidget(&caFile_, 1);
    caRow_.addWidget(&browse_);
    form_.addRow(Q(tw::Address), &address_);
    form_.addRow(Q(tw::Host), &host_);
    form_.addRow(Q(tw::Port), &port_);
    form_.addRow(Q(tw::Database), &database_);
    form_.addRow(Q(tw::User), &user_);
    form_.addRow(QString(), &verify_);
    form_.addRow(Q(tw::CaFile), &caRow_);
    form_.addRow(Q(tw::Password), &password_);
    form_.addRow(QString(), &remember_);

    testRow_.addWidget(&test_);
    testRow_.addWidget(&result_, 1);
    buttons_.addWidget(&join_);
    buttons_.addWidget(&leave_);
    buttons_.addStretch(1);
    buttons_.addWidget(&close_);
    layout_.addLayout(&form_);
    layout_.addWidget(&note_);
    layout_.addLayout(&testRow_);
    layout_.addWidget(&joined_);
    layout_.addLayout(&buttons_);
    setLayout(&layout_);

    if (const auto joined = team::ReadJoinedTeam(team_.DataFolder())) {
        address_.setText(Q(joined->uri));
        AddressEdited();
    }
    ShowJoined();

    connect(&address_, &QLineEdit::textEdited, this, [this] { AddressEdited(); });
    for (QLineEdit* edit : {&host_, &port_, &database_, &user_, &caFile_})
        connect(edit, &QLineEdit::textEdited, this, [this] { FieldsEdited(); });
    connect(&verify_, &QCheckBox::toggled, this, [this] { FieldsEdited(); });
    connect(&browse_, &QPushButton::clicked, this, [this] { OnBnClickedBrowse(); });
    connect(&test_, &QPushButton::clicked, this, [this] { OnBnClickedTest(); });
    connect(&join_, &QPushButton::clicked, this, [this] { OnBnClickedJoin(); });
    connect(&leave_, &QPushButton::clicked, this, [this] { OnBnClickedLeave(); });
    connect(&close_, &QPushButton::clicked, this, &QDialog::accept);
}

void CTeamDlg::FieldsEdited() {
    team::AddressFields fields{S(user_.text()),     S(host_.text()),     S(port_.text()),
                               S(database_.text()), verify_.isChecked(), S(caFile_.text()),
                               otherParameters_};
    const QSignalBlocker blocker(address_);
    address_.setText(Q(team::ComposeAddress(fields)));
}

void CTeamDlg::AddressEdited() {
    const team::ParsedAddress parsed = team::ParseAddress(S(address_.text()));
    if (!parsed.ok) return;
    const team::AddressFields& f = parsed.fields;
    otherParameters_ = f.otherParameters;
    const std::pair<QLineEdit*, const std::string*> edits[] = {{&host_, &f.host},
                                                               {&port_, &f.port},
                                                               {&database_, &f.database},
                                                               {&user_, &f.user},
                                                               {&caFile_, &f.caFile}};
    for (const auto& [edit, value] : edits) edit->setText(Q(*value));
    const QSignalBlocker blocker(verify_);
    verify_.setChecked(f.verifyFull);
}

void CTeamDlg::OnBnClickedBrowse() {
    const QString file = chooser_(this);
    if (file.isEmpty()) return;
    caFile_.setText(file);
    if (!verify_.isChecked()) verify_.setChecked(true);  // edits the address too
    FieldsEdited();
}

bool CTeamDlg::KeepPassword() {
    const std::string password = password_.text().toStdString();
    if (!remember_.isChecked()) {
        team_.SetPassword(password);
        return true;
    }
    team_.SetPassword({});
    if (password.empty()) return true;
    const team::ParsedAddress parsed = team::ParseAddress(S(address_.text()));
    const std::string why =
        parsed.ok ? team::RememberPassword(team::PasswordFilePath(),
                                           team::PasswordKeyOf(parsed.fields), password)
                  : team::TeamErrorText(team::Connection::CheckAddress(S(address_.text())));
    if (why.empty()) return true;
    result_.setText(Q(tw::PasswordNotSaved).arg(Q(why)));
    return false;
}

void CTeamDlg::Hold(bool held) {
    testing_ = held;
    for (QWidget* field : std::initializer_list<QWidget*>{&address_, &host_, &port_, &database_,
                                                          &user_, &verify_, &caFile_, &browse_,
                                                          &password_, &remember_, &test_, &join_})
        field->setEnabled(!held);
    leave_.setEnabled(!held && team::ReadJoinedTeam(team_.DataFolder()).has_value());
}

void CTeamDlg::OnBnClickedTest() {
    if (testing_ || !KeepPassword()) return;
    Hold(true);
    const int serial = ++testSerial_;
    result_.setText(Q(tw::Testing));
    team_.Test(S(address_.text()), [page = QPointer(this), serial](const team::TeamError& error) {
        if (!page || serial != page->testSerial_) return;
        page->Hold(false);
        page->result_.setText(error.ok() ? Q(tw::Reached)
                                         : Q(team::TeamErrorText(error)).simplified());
    });
}

void CTeamDlg::OnBnClickedJoin() {
    if (testing_ || !KeepPassword()) return;
    Hold(true);
    const int serial = ++testSerial_;
    result_.setText(Q(tw::Testing));
    team_.Join(S(address_.text()), [page = QPointer(this), serial](const team::TeamError& error) {
        if (!page || serial != page->testSerial_) return;
        page->Hold(false);
        page->result_.setText(Q(team::TeamErrorText(error)).simplified());
        page->ShowJoined();
        if (error.ok()) emit page->Joined();
    });
}

void CTeamDlg::OnBnClickedLeave() {
    const team::TeamError error = team::LeaveTeam(team_.DataFolder());
    result_.setText(Q(team::TeamErrorText(error)));
    ShowJoined();
    if (error.ok()) emit Left();
}

void CTeamDlg::ShowJoined() {
    const auto joined = team::ReadJoinedTeam(team_.DataFolder());
    joined_.setText(joined ? Q(tw::JoinedTo).arg(Q(joined->uri)) : Q(tw::NotJoinedYet));
    leave_.setEnabled(joined.has_value());
}

}  // namespace velmora::ui
