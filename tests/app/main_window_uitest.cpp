// The main window: captions from the language files, the status panes, the
// firmware lock on the tabs, and what closing the window says to the splicer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/ui_pump.h"
#include "app/velmora_dlg.h"
#include "base/language.h"
#include "base/text_codec.h"
#include "protocol/command_catalogue.h"
#include "protocol/outcome_texts.h"
#include "support/test_support.h"
#include "ui_wait.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ScopedConfig;
using test::TempDir;

constexpr auto kMargin = 5s;

std::vector<QString> TabTexts(CVelmoraDlg& dlg) {
    std::vector<QString> texts;
    for (int i = 0; i < dlg.TabCtrl().GetItemCount(); ++i)
        texts.push_back(dlg.TabCtrl().GetItemText(i));
    return texts;
}

std::vector<QString> Q(std::initializer_list<const char*> texts) {
    std::vector<QString> out;
    for (const char* t : texts) out.push_back(QString::fromUtf8(t));
    return out;
}

TEST(MainWindow, EnglishDefaultsWithoutLanguageFiles) {
    TempDir empty;
    ScopedConfig english(1, empty.path());
    Link link;
    CVelmoraDlg dlg(link);
    EXPECT_EQ(TabTexts(dlg), Q({"Setting", "Result", "Image", "FirmWare"}));
    EXPECT_EQ(dlg.windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(dlg.ConnectionText(), "Disonnected");
    EXPECT_TRUE(dlg.CommText().isEmpty());
    EXPECT_EQ(dlg.VisiblePage(), kSettingTab);
    EXPECT_FALSE(dlg.MonitorPage().isHidden());
    EXPECT_TRUE(dlg.HistoryPage().isHidden());
    EXPECT_TRUE(dlg.ImagePage().isHidden());
    EXPECT_TRUE(dlg.FirmWarePage().isHidden());
}

TEST(MainWindow, ChineseCaptionsWithEmptyValuesFallingBackToEnglish) {
    TempDir dir;
    dir.Write("par/Lan.ini",
              Utf8ToGbk("[DlgPara]\r\nDlgName=\r\nDlgStat_Close=未连接\r\n"
                        "[TAB0]\r\nTable_Name=参数设置\r\n[TAB1]\r\nTable_Name=\r\n"
                        "[TAB2]\r\nTable_Name=  \r\n[TAB3]\r\nTable_Name=固件升级\r\n"));
    ScopedConfig chinese(0, dir.path());
    Link link;
    CVelmoraDlg dlg(link);
    EXPECT_EQ(dlg.windowTitle(), "fiber fusion splicer");
    EXPECT_EQ(TabTexts(dlg), Q({"参数设置", "Result", "Image", "固件升级"}));
    EXPECT_EQ(dlg.ConnectionText(), QString::fromUtf8("未连接"));
}

class MainWindowLine : public test::SplicerTest {};

TEST_F(MainWindowLine, CommPaneShowsTheLastOutcome) {
    ASSERT_TRUE(OpenLink());
    CVelmoraDlg dlg(link);
    splicer->SetFault(cmd::Handshake, {sim::FaultKind::Silent, 0, 1});
    const Outcome silent = link.Exchange(FixedRequest(cmd::Handshake), {{}, 200ms}).outcome;
    ASSERT_EQ(silent, Outcome::NoAnswer);
    // A page reports the outcome through its signal; the window shows it.
    emit dlg.MonitorPage().CommStateReported(
        false, QString::fromStdString(Say(*StandardFailureText(silent))));
    EXPECT_EQ(dlg.CommText(), "Comm Fail:No answer,please Exit Program");
    EXPECT_EQ(dlg.CommStatusText(), "No answer,please Exit Program");

    ASSERT_EQ(link.Exchange(FixedRequest(cmd::Handshake), {{}, 2000ms}).outcome, Outcome::Accepted);
    emit dlg.MonitorPage().CommStateReported(true, {});
    EXPECT_EQ(dlg.CommText(), "Comm Sucess");

    dlg.ShowConnectionState(true);
    EXPECT_EQ(dlg.ConnectionText(), "Connected");
    dlg.ShowConnectionState(false);
    EXPECT_EQ(dlg.ConnectionText(), "Disonnected");
}

TEST_F(MainWindowLine, FirmwareBusyIgnoresTabChanges) {
    CVelmoraDlg dlg(link);
    dlg.show();
    CMyTabBar& bar = dlg.TabCtrl().TabBar();

    emit dlg.FirmWarePage().TabsLocked(true);
    EXPECT_EQ(dlg.FirmwareBusy, 1);
    EXPECT_FALSE(bar.isEnabled());
    // Even a change that reaches the handler leaves the visible page where it is.
    bar.setCurrentIndex(kImageTab);
    EXPECT_EQ(dlg.VisiblePage(), kSettingTab);
    EXPECT_FALSE(dlg.MonitorPage().isHidden());
    EXPECT_TRUE(dlg.ImagePage().isHidden());
    EXPECT_EQ(dlg.TabCtrl().GetCurSel(), kSettingTab);

    // The firmware worker ends the lock from its own thread.
    std::thread([&dlg] { emit dlg.FirmWarePage().TabsLocked(false); }).join();
    EXPECT_TRUE(test::WaitUntil([&] { return bar.isEnabled(); }));

    test::LeftClick(bar, bar.tabRect(kImageTab).center());
    EXPECT_EQ(dlg.VisiblePage(), kImageTab);
    EXPECT_FALSE(dlg.ImagePage().isHidden());
    EXPECT_TRUE(dlg.MonitorPage().isHidden());
}

TEST_F(MainWindowLine, ClosingWithThePortClosedSendsNothing) {
    CVelmoraDlg dlg(link);
    dlg.show();
    EXPECT_TRUE(dlg.close());
    // The port was never open, so nothing can still be on its way.
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(MainWindowLine, CloseDuringAnExchangeCancelsItAndClosesAfterwards) {
    ASSERT_TRUE(OpenLink());
    CVelmoraDlg dlg(link);
    dlg.show();
    splicer->SetFault(cmd::Handshake, {sim::FaultKind::Silent});

    bool closeAsked = false;
    bool closedAtOnce = true;
    const Pump uiPump = UiPump();
    // The close arrives through the pump of the waiting exchange, as a click would.
    Pump pump = [&] {
        if (!closeAsked) {
            closeAsked = true;
            closedAtOnce = dlg.close();
        }
        uiPump();
    };
    // Without the cancel this would wait a minute for the silent splicer.
    const Outcome outcome = link.Exchange(FixedRequest(cmd::Handshake), {pump, 60000ms}).outcome;
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_FALSE(closedAtOnce);

    EXPECT_TRUE(test::WaitUntil([&] { return !dlg.isVisible(); }));
    EXPECT_FALSE(link.Port().IsOpen());
    ASSERT_TRUE(splicer->WaitForFrames(2, kMargin));
    const auto frames = splicer->ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex(frames[0]), "87 60 01 00 E8");
    EXPECT_EQ(Hex(frames[1]), "87 68 01 00 F0");
}

}  // namespace
}  // namespace velmora::ui
