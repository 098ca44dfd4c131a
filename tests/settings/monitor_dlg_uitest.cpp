// The Setting page against a virtual splicer: start-up, connection outcomes,
// reading and writing the groups, the checks that stop a write, and a second
// request while one is in flight.
#include <gtest/gtest.h>

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "protocol/command_catalogue.h"
#include "settings/monitor_dlg.h"
#include "settings/value_text.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Hex;

struct Box {
    QString text;
    QString caption;
    MsgButtons buttons;
    MsgIcon icon;
    int gridRows;  // what the grid held when the box came up
    QString firstValue;
};

class SettingPageTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        store = sim::InstallParameterCommands(*splicer);
        store->FreezeEnvironment(true);
        SetMessageBoxHook(
            [this](const QString& text, const QString& caption, MsgButtons buttons, MsgIcon icon) {
                CEditCombGridCtrl& grid = Page().Grid();
                boxes.push_back(
                    {text, caption, buttons, icon, grid.GetRowCount(), grid.GetItemText(1, 1)});
                return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
            });
        MakeWindow(1);
    }
    void TearDown() override {
        SetMessageBoxHook({});
        dlg.reset();
        language.reset();
        test::SplicerTest::TearDown();
    }

    // The main window (and its Setting page) in English (1) or Chinese (0).
    void MakeWindow(int englishFlag) {
        dlg.reset();
        language.reset();  // the earlier setting is restored before the new one goes in
        language = std::make_unique<test::ScopedConfig>(englishFlag, workDir.path());
        dlg = std::make_unique<CVelmoraDlg>(link, splicer->PortPath());
    }

public:
    CMonitorDlg& Page() { return dlg->MonitorPage(); }
    CEditCombGridCtrl& Grid() { return Page().Grid(); }

    void SelectGroup(int group) {
        Page().GroupCombo().setCurrentIndex(group);
        emit Page().GroupCombo().activated(group);
    }
    int RowCount() { return Grid().GetRowCount() - 1; }
    QString Caption(int index) { return Grid().GetItemText(index + 1, 0); }
    QString Value(int index) { return Grid().GetItemText(index + 1, 1); }
    void SetValue(int index, const QString& text) { Grid().SetItemText(index + 1, 1, text); }
    bool ReadOnly(int index) { return Grid().GetItemState(index + 1, 1) & gvis::ReadOnly; }

    void ConnectNow() {
        Page().ConnectButton().click();
        ASSERT_EQ(dlg->ConnectionText(), "Connected");
    }

    std::size_t FrameCount() { return splicer->ReceivedFrames().size(); }
    std::size_t FramesWith(std::uint8_t command) {
        std::size_t n = 0;
        for (const auto& f : splicer->ReceivedFrames()) n += f.size() > 1 && f[1] == command;
        return n;
    }
    std::vector<QString> BoxTexts() {
        std::vector<QString> texts;
        for (const Box& box : boxes) texts.push_back(box.text);
        return texts;
    }

    test::TempDir workDir;
    std::unique_ptr<test::ScopedConfig> language;
    std::shared_ptr<sim::ParameterStore> store;
    std::unique_ptr<CVelmoraDlg> dlg;
    std::vector<Box> boxes;
    MsgAnswer answer = MsgAnswer::Yes;
};

TEST_F(SettingPageTest, StartsWithTheEnvironmentCaptionsAndSendsNothing) {
    EXPECT_EQ(Page().SpeedCombo().count(), 2);
    EXPECT_EQ(Page().SpeedCombo().itemText(1), "256000");
    EXPECT_EQ(Page().SpeedCombo().currentText(), "115200");
    EXPECT_EQ(Page().GroupCombo().currentIndex(), 2);
    EXPECT_EQ(Page().GroupCombo().currentText(), "Enviornment");
    // The built-in splicer's port comes first and is chosen.
    ASSERT_GE(Page().PortCombo().count(), 1);
    EXPECT_EQ(Page().PortCombo().currentIndex(), 0);
    EXPECT_EQ(Page().PortCombo().currentData().toString().toStdString(), splicer->PortPath());
    EXPECT_TRUE(Page().PortCombo().currentText().contains("virtual splicer"));
    EXPECT_TRUE(Page().ConnectButton().isEnabled());
    EXPECT_FALSE(Page().DisconnectButton().isEnabled());

    EXPECT_EQ(Grid().GetItemText(0, 0), "Parameters");
    EXPECT_EQ(Grid().GetItemText(0, 1), "Content");
    ASSERT_EQ(RowCount(), 4);
    const char* captions[] = {"Time", "Inside Temperature", "Air Pressure", "Voltage"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Caption(i), captions[i]);
        EXPECT_TRUE(Value(i).isEmpty());
    }
    // Refresh lists the ports again, each once.
    const int ports = Page().PortCombo().count();
    Page().RefreshButton().click();
    Page().RefreshButton().click();
    EXPECT_EQ(Page().PortCombo().count(), ports);

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(SettingPageTest, ReadsEveryGroupAndWritesEditsThatReadBackChanged) {
    ConnectNow();
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_FALSE(Page().ConnectButton().isEnabled());
    EXPECT_TRUE(Page().DisconnectButton().isEnabled());

    struct Shown {
        int group;
        int rows;
        int index;
        const char* caption;
        const char* value;
        bool readOnly;
    } shown[] = {
        {0, 20, 0, "Fiber Type", "SM AUTO", false},
        {0, 20, 4, "Loss Limit", "0.10", false},
        {0, 20, 6, "ARC Time(ms)", "1500", false},
        {1, 6, 4, "Temperature(℃)", "170.0", false},
        {2, 4, 2, "Air Pressure(Pa)", "101325", true},
        {3, 12, 0, "FsMode", "AUTO", false},
        {4, 10, 0, "Serial Num", sim::kSimSerialNumber, true},
        {4, 10, 8, "SysTime", "6 min", false},
    };
    for (const Shown& s : shown) {
        SCOPED_TRACE(s.caption);
        SelectGroup(s.group);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        ASSERT_EQ(RowCount(), s.rows);
        EXPECT_EQ(Caption(s.index), QString::fromUtf8(s.caption));
        EXPECT_EQ(Value(s.index), QString::fromUtf8(s.value));
        EXPECT_EQ(ReadOnly(s.index), s.readOnly);
    }
    EXPECT_TRUE(boxes.empty());

    struct Edit {
        int group;
        int index;
        const char* text;
    } edits[] = {
        {0, 3, "2.3"}, {0, 6, "2000"}, {0, 9, "Cladding"},
        {1, 3, "45"},  {4, 4, "Off"},  {4, 8, "12 min"},
    };
    for (int group : {0, 1, 4}) {
        SCOPED_TRACE(group);
        SelectGroup(group);
        for (const Edit& e : edits)
            if (e.group == group) SetValue(e.index, QString::fromUtf8(e.text));
        boxes.clear();
        Page().AcceptButton().click();
        EXPECT_EQ(BoxTexts(),
                  (std::vector<QString>{"Whether in parameter", "Parameter in success"}));
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        // Read back from the splicer: the edited texts come back.
        SelectGroup(3);
        SelectGroup(group);
        for (const Edit& e : edits) {
            if (e.group == group) {
                EXPECT_EQ(Value(e.index), QString::fromUtf8(e.text));
            }
        }
    }
    const SpliceParams splice = DecodeSpliceParams(store->Splice());
    EXPECT_EQ(splice.cutAngle, 23);
    EXPECT_EQ(splice.arcTime, 2000);
    EXPECT_EQ(splice.alignType, 0);
    EXPECT_EQ(splice.lossLimit, 10);  // untouched: written back as it was read
    EXPECT_EQ(DecodeHeaterParams(store->Heater()).time, 45);
    const DeviceConfig config = DecodeDeviceConfig(store->Config());
    EXPECT_EQ(config.beep, 0);
    EXPECT_EQ(config.sysTime, 12);
}

TEST_F(SettingPageTest, HandshakeOutcomesSetTextsButtonsAndPort) {
    struct Case {
        const char* name;
        Fault fault;
        const char* pane;
        bool portOpen;
    } cases[] = {
        {"silent", {FaultKind::Silent}, "Comm Fail:No answer,please Exit Program", true},
        {"bad check", {FaultKind::BadCheck}, "Comm Fail:check code error", true},
        {"refused", {FaultKind::Reject}, "Comm Fail:data error", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        link.Port().ClosePort();
        const std::size_t before = FramesWith(cmd::Handshake);
        splicer->SetFault(cmd::Handshake, c.fault);
        Page().ConnectButton().click();
        EXPECT_EQ(dlg->CommText(), QString::fromUtf8(c.pane));
        EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
        EXPECT_EQ(link.Port().IsOpen(), c.portOpen);
        EXPECT_TRUE(Page().ConnectButton().isEnabled());
        EXPECT_FALSE(Page().DisconnectButton().isEnabled());
        // Connect again: the handshake goes out once more.
        Page().ConnectButton().click();
        EXPECT_EQ(FramesWith(cmd::Handshake), before + 2);
        EXPECT_EQ(FramesWith(cmd::ReadConfig), 0u);
    }
    splicer->ClearFaults();
    Page().ConnectButton().click();
    EXPECT_EQ(dlg->ConnectionText(), "Connected");
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingPageTest, DisconnectSaysGoodbyeAndClosesThePort) {
    ConnectNow();
    Page().DisconnectButton().click();
    EXPECT_EQ(Hex(splicer->ReceivedFrames().back()), "87 68 01 00 F0");
    EXPECT_FALSE(link.Port().IsOpen());
    EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_TRUE(Page().ConnectButton().isEnabled());
    EXPECT_FALSE(Page().DisconnectButton().isEnabled());
}

TEST_F(SettingPageTest, AGroupWhileDisconnectedShowsItsCaptionsThenSaysSo) {
    SelectGroup(4);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Communication Disconnect");
    EXPECT_EQ(boxes[0].caption, "Info");
    EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
    // The ten captions were up, with no values, when the box came.
    EXPECT_EQ(boxes[0].gridRows, 11);
    EXPECT_TRUE(boxes[0].firstValue.isEmpty());
    EXPECT_EQ(Caption(0), "Serial Num");
    EXPECT_EQ(Caption(9), "LcdTime");
    EXPECT_EQ(dlg->CommText(), "Comm Fail:Communication Disconnect");
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(SettingPageTest, AcceptOnTheEnvironmentAsksAndSendsNothing) {
    struct Case {
        int englishFlag;
        const char* question;
        const char* caption;
    } cases[] = {
        {1, "Whether in parameter", "Info"},
        {0, "是否写入参数？", "信息提示"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.englishFlag);
        link.Port().ClosePort();
        MakeWindow(c.englishFlag);
        Page().ConnectButton().click();
        Page().ReadButton().click();
        ASSERT_EQ(Value(2), "101325");
        for (MsgAnswer reply : {MsgAnswer::No, MsgAnswer::Yes}) {
            answer = reply;
            boxes.clear();
            const std::size_t frames = FrameCount();
            Page().AcceptButton().click();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, QString::fromUtf8(c.question));
            EXPECT_EQ(boxes[0].caption, QString::fromUtf8(c.caption));
            EXPECT_EQ(boxes[0].buttons, MsgButtons::YesNo);
            EXPECT_EQ(boxes[0].icon, MsgIcon::Exclamation);
            EXPECT_EQ(FrameCount(), frames);
        }
    }
}

TEST_F(SettingPageTest, RangeFailuresShowOneBoxEachAndSendNothing) {
    ConnectNow();
    SelectGroup(0);
    const auto before = store->Splice();
    SetValue(3, "25.1");  // Cut Angle
    SetValue(6, "-1");    // ARC Time
    SetValue(7, "abc");   // Clear Arc Time: no number is 0, which passes
    SetValue(14, "151");  // OverLen
    const std::size_t frames = FrameCount();
    Page().AcceptButton().click();
    EXPECT_EQ(BoxTexts(), (std::vector<QString>{
                              "Cutting Limit input error,range is 0—25",
                              "ARC Time input error,range is 0ms—30000ms",
                              "Overlap input error,range is 0—150 ",
                          }));
    for (const Box& box : boxes) EXPECT_EQ(box.caption, "Info");
    EXPECT_EQ(FrameCount(), frames);
    EXPECT_EQ(store->Splice(), before);
}

TEST_F(SettingPageTest, AWriteIsRefusedUntilTheGroupWasReadAndWhenTheSplicerRefusesIt) {
    ConnectNow();
    splicer->SetFault(cmd::ReadSplice, {FaultKind::Silent, 0, 1});
    SelectGroup(0);
    EXPECT_EQ(dlg->CommText(), "Comm Fail:No answer,please Exit Program");
    EXPECT_TRUE(Value(0).isEmpty());
    Page().AcceptButton().click();
    EXPECT_EQ(BoxTexts(), std::vector<QString>{"Please read this group before writing it"});

    struct Case {
        int group;
        std::uint8_t write;
        const char* pane;
    } cases[] = {
        {0, cmd::WriteSplice, "Comm Fail:write parameters error"},
        {1, cmd::WriteHeater, "Comm Fail:write Heating Parameters error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.group);
        SelectGroup(c.group);
        splicer->SetFault(c.write, {FaultKind::Reject, 0, 1});
        boxes.clear();
        Page().AcceptButton().click();
        EXPECT_EQ(BoxTexts(), std::vector<QString>{"Whether in parameter"});
        EXPECT_EQ(dlg->CommText(), QString::fromUtf8(c.pane));
        EXPECT_EQ(FramesWith(c.write), 1u);
    }
}

TEST_F(SettingPageTest, ASecondRequestWhileOneIsInFlightIsRefused) {
    ConnectNow();
    SelectGroup(0);
    const std::function<void(SettingPageTest&)> nested[] = {
        [](SettingPageTest& t) { t.SelectGroup(3); },
        [](SettingPageTest& t) { t.Page().ReadButton().click(); },
        [](SettingPageTest& t) { t.Page().AcceptButton().click(); },
        [](SettingPageTest& t) { t.Page().DisconnectButton().click(); },
    };
    for (std::size_t i = 0; i < std::size(nested); ++i) {
        SCOPED_TRACE(i);
        boxes.clear();
        const std::size_t frames = FrameCount();
        // The heating read is answered late; the second request comes meanwhile.
        splicer->SetFault(cmd::ReadHeater, {FaultKind::Delay, 300, 1});
        QTimer::singleShot(0, dlg.get(), [this, &nested, i] { nested[i](*this); });
        SelectGroup(1);
        EXPECT_EQ(BoxTexts(), std::vector<QString>{"Communication busy, please wait"});
        // The first request ends as if nothing had come between.
        EXPECT_EQ(FrameCount(), frames + 1);
        EXPECT_EQ(Page().GroupCombo().currentIndex(), 1);
        ASSERT_EQ(RowCount(), 6);
        EXPECT_EQ(Value(0), "60mmS");
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        EXPECT_TRUE(link.Port().IsOpen());
    }
}

}  // namespace
}  // namespace velmora::ui
