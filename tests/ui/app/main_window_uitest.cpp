// The main window: captions from the language files (Qt's own texts too), an
// exchange shown and cancelled, and what closing the window says to the splicer.
#include <QMessageBox>

#include "base/text_codec.h"
#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"
#include "ui/app/ui_pump.h"
#include "ui/app/velmora_app.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using test::Hex;

class MainWindow : public test::PageTest {
  protected:
    std::vector<QString> TabTexts() {
        std::vector<QString> texts;
        for (int i = 0; i < dlg->TabCtrl().GetItemCount(); ++i)
            texts.push_back(dlg->TabCtrl().GetItemText(i));
        return texts;
    }
};

// Without language files everything is in English; an empty caption in the Chinese
// file falls back to its English default. A Chinese run shows Qt's own texts
// (standard buttons, the file dialog) in Chinese too.
TEST_F(MainWindow, CaptionsFromTheLanguageFilesOrTheirEnglishDefaults) {
    EXPECT_EQ(TabTexts(),
              (std::vector<QString>{"Setting", "Result", "Image", "FirmWare", "Archive", "Jobs"}));
    EXPECT_EQ(dlg->windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
    EXPECT_TRUE(dlg->CommText().isEmpty());
    EXPECT_EQ(dlg->VisiblePage(), kSettingTab);
    EXPECT_FALSE(dlg->MonitorPage().isHidden());
    EXPECT_TRUE(dlg->HistoryPage().isHidden());
    EXPECT_TRUE(dlg->ImagePage().isHidden());
    EXPECT_TRUE(dlg->FirmWarePage().isHidden());
    EXPECT_TRUE(dlg->ArchivePage().isHidden());
    EXPECT_EQ(InstallQtTranslations(), nullptr);

    workDir.Write("par/Lan.ini",
                  Utf8ToGbk("[DlgPara]\r\nDlgName=\r\nDlgStat_Close=未连接\r\n"
                            "[TAB0]\r\nTable_Name=参数设置\r\n[TAB1]\r\nTable_Name=\r\n"
                            "[TAB2]\r\nTable_Name=  \r\n[TAB3]\r\nTable_Name=固件升级\r\n"
                            "[Archive]\r\nTable_Name=档案\r\n[Job]\r\nTable_Name=工程\r\n"));
    test::ScopedConfig chinese(0, workDir.path());
    NewWindow();
    EXPECT_EQ(dlg->windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(TabTexts(),
              (std::vector<QString>{QString::fromUtf8("参数设置"), "Result", "Image",
                                    QString::fromUtf8("固件升级"), QString::fromUtf8("档案"),
                                    QString::fromUtf8("工程")}));
    EXPECT_EQ(dlg->ConnectionText(), QString::fromUtf8("未连接"));
    const std::unique_ptr<QTranslator> translator = InstallQtTranslations();
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QString::fromUtf8("是")));
    dlg.reset();
}

// An exchange on the window's thread shows that it runs and can be cancelled
// with the Cancel button or Escape; the page is usable afterwards.
TEST_F(MainWindow, AnExchangeShowsItselfAndCanBeCancelled) {
    const auto escape = [](CVelmoraDlg& window) { QTest::keyClick(&window, Qt::Key_Escape); };
    const auto button = [](CVelmoraDlg& window) { window.CancelButton().click(); };
    const auto connect = [](CVelmoraDlg& window) { window.MonitorPage().OnBnClickedConnect(); };
    const auto read = [](CVelmoraDlg& window) { window.MonitorPage().OnBnClickedRead(); };
    const struct {
        const char* name;
        std::uint8_t silentCommand;
        bool connectFirst;
        std::function<void(CVelmoraDlg&)> step;
        std::function<void(CVelmoraDlg&)> cancel;
    } cases[] = {
        {"Connect, Escape", cmd::Handshake, false, connect, escape},
        {"Read, Cancel button", cmd::ReadEnvironment, true, read, button},
    };
    CMonitorDlg& setting = dlg->MonitorPage();
    // The page and the tabs enabled, Cancel shown, the busy cursor, the pane's busy text.
    const auto look = [&] {
        return std::tuple(setting.isEnabled(), dlg->TabCtrl().TabBar().isEnabled(),
                          dlg->CancelButton().isVisible(),
                          QApplication::overrideCursor() != nullptr,
                          dlg->CommText() == "Communicating... press Esc or Cancel to stop");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        splicer->ClearFaults();
        if (c.connectFirst) {
            setting.OnBnClickedConnect();
            ASSERT_EQ(dlg->ConnectionText(), "Connected");
        }
        splicer->SetFault(c.silentCommand, {sim::FaultKind::Silent});
        decltype(look()) running;
        QTimer::singleShot(150, dlg.get(), [&] {
            running = look();
            c.cancel(*dlg);
        });
        const auto started = std::chrono::steady_clock::now();
        c.step(*dlg);
        // Cancelled well before the 1.5 s the splicer would be waited for.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
        EXPECT_EQ(running, std::tuple(false, false, true, true, true));
        EXPECT_EQ(look(), std::tuple(true, true, false, false, false));
        // Usable again: the same step now goes through.
        splicer->ClearFaults();
        c.step(*dlg);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        setting.OnBnClickedDisconnect();
    }
}

TEST_F(MainWindow, ClosingWithThePortClosedSendsNothing) {
    EXPECT_TRUE(dlg->close());
    // The port was never open, so nothing can still be on its way.
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

// The window opens at the size it had when it last closed (within the screen).
TEST_F(MainWindow, OpensAtTheSizeItClosedAt) {
    const QSize last = dlg->minimumSizeHint() + QSize(30, 20);
    ASSERT_NE(dlg->size(), last);
    dlg->resize(last);
    ASSERT_TRUE(dlg->close());
    NewWindow();
    EXPECT_EQ(dlg->size(), last);
}

TEST_F(MainWindow, CloseDuringAnExchangeCancelsItAndClosesAfterwards) {
    ASSERT_TRUE(OpenLink());
    splicer->SetFault(cmd::Handshake, {sim::FaultKind::Silent});

    bool closeAsked = false;
    bool closedAtOnce = true;
    const Pump uiPump = UiPump();
    // The close arrives through the pump of the waiting exchange, as a click would.
    Pump pump = [&] {
        if (!closeAsked) {
            closeAsked = true;
            closedAtOnce = dlg->close();
        }
        uiPump();
    };
    // Without the cancel this would wait a minute for the silent splicer.
    const Outcome outcome = link.Exchange(FixedRequest(cmd::Handshake), {pump, 60000ms}).outcome;
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_FALSE(closedAtOnce);

    EXPECT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    EXPECT_FALSE(link.Port().IsOpen());
    ASSERT_TRUE(splicer->WaitForFrames(2, test::kPageMargin));
    const auto frames = splicer->ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex(frames[0]), "87 60 01 00 E8");
    EXPECT_EQ(Hex(frames[1]), "87 68 01 00 F0");
}

}  // namespace
}  // namespace velmora::ui
