// The main window: captions from the language files, the firmware lock on the
// tabs, and what closing the window says to the splicer.
#include <thread>

#include "app/ui_pump.h"
#include "base/text_codec.h"
#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"

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
// file falls back to its English default.
TEST_F(MainWindow, CaptionsFromTheLanguageFilesOrTheirEnglishDefaults) {
    EXPECT_EQ(TabTexts(),
              (std::vector<QString>{"Setting", "Result", "Image", "FirmWare", "Archive"}));
    EXPECT_EQ(dlg->windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
    EXPECT_TRUE(dlg->CommText().isEmpty());
    EXPECT_EQ(dlg->VisiblePage(), kSettingTab);
    EXPECT_FALSE(dlg->MonitorPage().isHidden());
    EXPECT_TRUE(dlg->HistoryPage().isHidden());
    EXPECT_TRUE(dlg->ImagePage().isHidden());
    EXPECT_TRUE(dlg->FirmWarePage().isHidden());
    EXPECT_TRUE(dlg->ArchivePage().isHidden());

    workDir.Write("par/Lan.ini",
                  Utf8ToGbk("[DlgPara]\r\nDlgName=\r\nDlgStat_Close=未连接\r\n"
                            "[TAB0]\r\nTable_Name=参数设置\r\n[TAB1]\r\nTable_Name=\r\n"
                            "[TAB2]\r\nTable_Name=  \r\n[TAB3]\r\nTable_Name=固件升级\r\n"
                            "[Archive]\r\nTable_Name=档案\r\n"));
    test::ScopedConfig chinese(0, workDir.path());
    NewWindow();
    EXPECT_EQ(dlg->windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(TabTexts(),
              (std::vector<QString>{QString::fromUtf8("参数设置"), "Result", "Image",
                                    QString::fromUtf8("固件升级"), QString::fromUtf8("档案")}));
    EXPECT_EQ(dlg->ConnectionText(), QString::fromUtf8("未连接"));
    dlg.reset();
}

TEST_F(MainWindow, FirmwareBusyIgnoresTabChanges) {
    CMyTabBar& bar = dlg->TabCtrl().TabBar();

    emit dlg->FirmWarePage().TabsLocked(true);
    EXPECT_EQ(dlg->FirmwareBusy, 1);
    EXPECT_FALSE(bar.isEnabled());
    // Even a change that reaches the handler leaves the visible page where it is.
    bar.setCurrentIndex(kImageTab);
    EXPECT_EQ(dlg->VisiblePage(), kSettingTab);
    EXPECT_FALSE(dlg->MonitorPage().isHidden());
    EXPECT_TRUE(dlg->ImagePage().isHidden());
    EXPECT_EQ(dlg->TabCtrl().GetCurSel(), kSettingTab);

    // The firmware worker ends the lock from its own thread.
    std::thread([this] { emit dlg->FirmWarePage().TabsLocked(false); }).join();
    EXPECT_TRUE(WaitFor([&] { return bar.isEnabled(); }));

    test::LeftClick(bar, bar.tabRect(kImageTab).center());
    EXPECT_EQ(dlg->VisiblePage(), kImageTab);
    EXPECT_FALSE(dlg->ImagePage().isHidden());
    EXPECT_TRUE(dlg->MonitorPage().isHidden());
}

TEST_F(MainWindow, ClosingWithThePortClosedSendsNothing) {
    EXPECT_TRUE(dlg->close());
    // The port was never open, so nothing can still be on its way.
    EXPECT_EQ(splicer->BytesReceived(), 0u);
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
