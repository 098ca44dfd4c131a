// The window's side of the team archive against a real PostgreSQL server: joined
// through the settings dialog, a download refused by the server waits in the
// outbox (told once), the password remembered in libpq's file, then the send runs
// on the team link's own thread while the window and its archive go on, and the
// team view reads back what was sent, read-only.
#include <stdlib.h>

#include <QApplication>
#include <QInputDialog>
#include <QSignalSpy>
#include <QTimer>

#include "support/page_fixture.h"
#include "support/postgres_server.h"
#include "team/team_join.h"
#include "team/team_schema.h"
#include "team/team_texts.h"
#include "ui/app/qt_text.h"
#include "ui/team/team_dlg.h"

namespace velmora::ui {
namespace {

constexpr const char* kDb = "teamwindow";
constexpr const char* kTechnician = "tech1";
constexpr const char* kPassword = "s3cret-Pw";
namespace tw = keys::team_window;

class TeamWindowTest : public test::PageTest {
  protected:
    void SetUp() override {
        setenv("PGPASSFILE", (passDir.path() / "pgpass").c_str(), 1);
        PageTest::SetUp();
        std::string why;
        server = test::PostgresServer::Shared(why);
        if (!server) GTEST_SKIP() << "no PostgreSQL server for the team archive: " << why;
        ASSERT_TRUE(server->CreateDatabase(kDb));
        admin = team::Connection::Open(server->AdminUri(kDb), error);
        ASSERT_TRUE(admin && team::InitialiseTeamArchive(*admin).ok()) << error.message;
        server->CreateTechnician(kTechnician, kPassword);
    }
    // The settings dialog's test of the address, the password given as the user would.
    QString TestAddress(CTeamDlg& settings, const QString& password, bool remember) {
        settings.PasswordEdit().setText(password);
        settings.RememberCheck().setChecked(remember);
        settings.OnBnClickedTest();
        EXPECT_TRUE(WaitFor([&] { return !settings.Testing(); }));
        return settings.ResultText().text();
    }
    long long Sent() {
        const auto rows = admin->Run("SELECT count(*) FROM velmora.records");
        return rows ? std::stoll(*rows->at(0).at(0)) : -1;
    }

    test::TempDir passDir;
    test::PostgresServer* server = nullptr;
    team::TeamError error;
    std::unique_ptr<team::Connection> admin;
};

class TeamStatesTest : public test::PageTest {
  protected:
    void SetUp() override {
        setenv("PGPASSFILE", (passDir.path() / "pgpass").c_str(), 1);
        PageTest::SetUp();
        if (!team::Connection::Available()) GTEST_SKIP() << "libpq cannot be loaded";
    }
    test::TempDir passDir;
};

TEST_F(TeamWindowTest, DownloadWaitsUntilTheServerTakesItThenTheTeamViewShowsIt) {
    CTeamLink& team = dlg->Team();
    CTeamBar& bar = dlg->ArchivePage().TeamBar();
    QSignalSpy notices(&team, &CTeamLink::Notice);
    QSignalSpy sends(&team, &CTeamLink::SendEnded);
    CTeamDlg settings(team, dlg.get());
    settings.AddressEdit().setText(Q(server->TlsUri(kTechnician, kDb)));
    emit settings.AddressEdit().textEdited(settings.AddressEdit().text());
    EXPECT_EQ(settings.UserEdit().text(), kTechnician);
    EXPECT_TRUE(settings.VerifyCheck().isChecked());
    EXPECT_EQ(settings.CaFileEdit().text(), Q(server->CaFile().string()));
    EXPECT_TRUE(TestAddress(settings, {}, false)
                    .startsWith(Q(
                        team::TeamErrorText({team::TeamErrorCode::AuthFailed, ""}).substr(0, 30))));
    settings.OnBnClickedJoin();
    ASSERT_TRUE(WaitFor([&] { return !settings.Testing(); }));
    ASSERT_EQ(settings.JoinedText().text(),
              Q(tw::JoinedTo).arg(Q(server->TlsUri(kTechnician, kDb))));

    // Downloaded while the server refuses: the send after it fails, said once, and
    // the records wait; Send now asks for a password (here left unanswered), fails
    // the same way and says nothing new.
    ASSERT_TRUE(OpenLink());
    dlg->HistoryPage().OnBnClickedReceive();
    ASSERT_TRUE(WaitFor([&] { return !dlg->HistoryPage().Downloading(); }));
    ASSERT_TRUE(WaitFor([&] { return notices.size() == 1 && !team.Busy(); }));
    EXPECT_TRUE(dlg->CommText().startsWith(notices[0][0].toString()));
    EXPECT_TRUE(bar.Line().toolTip().startsWith(Q(team::WaitingText({test::kPageRecords, 0, 0}))))
        << bar.Line().toolTip().toStdString();
    const qsizetype refused = sends.size();
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* prompt = qobject_cast<QInputDialog*>(top); prompt && prompt->isVisible()) {
                asked = true;
                prompt->reject();
            }
    });
    answer.start(20);
    bar.SendButton().click();
    answer.stop();
    EXPECT_TRUE(asked);
    ASSERT_TRUE(WaitFor([&] { return sends.size() > refused; }));
    EXPECT_EQ(notices.size(), 1);
    EXPECT_EQ(Sent(), 0);

    // Typed for this run only, the password lets the test in and is written nowhere;
    // remembered, it lets the test and the next send in. The server holds the send
    // at its records meanwhile: the window and its archive answer.
    EXPECT_EQ(TestAddress(settings, kPassword, false), Q(tw::Reached));
    EXPECT_FALSE(std::filesystem::exists(passDir.path() / "pgpass"));
    EXPECT_EQ(TestAddress(settings, kPassword, true), Q(tw::Reached));
    ASSERT_TRUE(admin->Begin() &&
                admin->RunScript("LOCK TABLE velmora.records IN ACCESS EXCLUSIVE MODE"));
    bar.SendButton().click();
    ASSERT_TRUE(WaitFor([&] { return team.Busy(); }));
    EXPECT_TRUE(bar.Line().toolTip().startsWith(Q(tw::Sending)));
    EXPECT_FALSE(bar.SendButton().isEnabled());
    dlg->ArchivePage().Refresh();
    ASSERT_TRUE(WaitFor([&] { return !dlg->ArchivePage().Busy(); }));
    EXPECT_EQ(dlg->ArchivePage().RecordModel().Total(), test::kPageRecords);
    EXPECT_TRUE(team.Busy());
    admin->Rollback();
    ASSERT_TRUE(WaitFor([&] { return !team.Busy(); }));
    EXPECT_EQ(Sent(), test::kPageRecords);
    EXPECT_TRUE(bar.Line().toolTip().startsWith(Q(team::WaitingText({0, 0, 0}))));
    EXPECT_FALSE(bar.Line().toolTip().endsWith(Q(team::LastSendText(""))));

    // The team view: read from the server, listed by the same page, not to be edited.
    bar.TeamButton().click();
    ASSERT_TRUE(WaitFor([&] { return team.TeamViewText().startsWith(Q(tw::AsOf).arg("")); }))
        << team.TeamViewText().toStdString();
    ASSERT_TRUE(WaitFor([&] {
        return !dlg->ArchivePage().Busy() &&
               dlg->ArchivePage().RecordModel().Total() == test::kPageRecords;
    }));
    EXPECT_EQ(bar.Line().toolTip(), team.TeamViewText());
    EXPECT_FALSE(dlg->ArchivePage().JobEdit().isEnabled());
}

// Without a server: the view chosen on either tab is both tabs'; a look at the team
// view leaves New job usable in This PC; a test or a join holds the dialog's fields
// while it runs; each server that cannot be reached is told once, a second one's
// failure replacing the first's; leaving ends the team view on both tabs.
TEST_F(TeamStatesTest, BothTabsFollowTheViewAndLeavingEndsIt) {
    CTeamLink& team = dlg->Team();
    QSignalSpy notices(&team, &CTeamLink::Notice);
    QSignalSpy sends(&team, &CTeamLink::SendEnded);
    CTeamBar& archiveBar = dlg->ArchivePage().TeamBar();
    CTeamBar& jobBar = dlg->JobPage().TeamBar();
    EXPECT_FALSE(jobBar.TeamButton().isEnabled()) << "no team joined, none to show";
    const int narrowest = dlg->minimumSizeHint().width();
    CTeamDlg settings(team, dlg.get());
    dlg->FollowTeamSettings(settings);
    for (const char* port : {"1", "2", "3"}) {
        SCOPED_TRACE(port);
        const QString uri = QStringLiteral("postgresql://tech1@127.0.0.1:%1/crew").arg(port);
        const qsizetype sent = sends.size();  // a join ends with a send
        if (port[0] == '3') {
            // Joined by velmora-cli meanwhile: the same kind of failure, said otherwise.
            ASSERT_TRUE(team::JoinTeam(team.DataFolder(), uri.toStdString()).ok());
            dlg->SendNow();
        } else {
            settings.AddressEdit().setText(uri);
            emit settings.AddressEdit().textEdited(uri);
            for (const auto& errand : {&CTeamDlg::OnBnClickedTest, &CTeamDlg::OnBnClickedJoin}) {
                (settings.*errand)();
                EXPECT_FALSE(settings.HostEdit().isEnabled() ||
                             settings.PasswordEdit().isEnabled());
                ASSERT_TRUE(WaitFor([&] { return !settings.Testing(); }));
                EXPECT_TRUE(settings.HostEdit().isEnabled() && settings.PasswordEdit().isEnabled());
            }
        }
        ASSERT_TRUE(WaitFor([&] { return sends.size() > sent && !team.Busy(); }));
        ASSERT_EQ(notices.size(), port[0] - '0');
        EXPECT_EQ(dlg->CommText(), notices.back()[0].toString());
        EXPECT_TRUE(dlg->CommText().contains(QStringLiteral("port ") + port))
            << dlg->CommText().toStdString();
    }
    // The same failure again is not told again.
    dlg->SendNow();
    const qsizetype sent = sends.size();
    ASSERT_TRUE(WaitFor([&] { return sends.size() > sent && !team.Busy(); }));
    EXPECT_EQ(notices.size(), 3);
    // However long, the status bar's text never widens the window.
    EXPECT_EQ(dlg->minimumSizeHint().width(), narrowest);

    SelectTab(kJobTab);
    jobBar.TeamButton().click();
    EXPECT_TRUE(archiveBar.TeamButton().isChecked());
    EXPECT_TRUE(dlg->ArchivePage().TeamShown() && dlg->JobPage().TeamShown());
    ASSERT_TRUE(WaitFor([&] {
        return !dlg->JobPage().Busy() && !team.TeamViewText().isEmpty() &&
               team.TeamViewText() != Q(tw::Reading);
    }));
    EXPECT_FALSE(dlg->JobPage().NewJobButton().isEnabled());
    EXPECT_EQ(dlg->JobPage().Summary().text(), Q(tw::NoTeamJobs));
    archiveBar.ThisPcButton().click();
    EXPECT_FALSE(dlg->ArchivePage().TeamShown() || dlg->JobPage().TeamShown());
    EXPECT_TRUE(jobBar.ThisPcButton().isChecked());
    ASSERT_TRUE(WaitFor([&] { return !dlg->JobPage().Busy(); }));
    EXPECT_TRUE(dlg->JobPage().NewJobButton().isEnabled());

    jobBar.TeamButton().click();
    settings.OnBnClickedLeave();
    EXPECT_FALSE(dlg->ArchivePage().TeamShown() || dlg->JobPage().TeamShown());
    EXPECT_TRUE(jobBar.ThisPcButton().isChecked() && archiveBar.ThisPcButton().isChecked());
    EXPECT_FALSE(jobBar.TeamButton().isEnabled());
    EXPECT_EQ(team.TeamViewText(), Q(tw::NeverRead));
}

}  // namespace
}  // namespace velmora::ui
