// The Setting page against a virtual splicer: start-up, the port, connection
// outcomes, reading and writing the groups, edits kept until the user drops them,
// the checks that stop a write, and a second request while one is in flight.
#include <QLineEdit>
#include <QTimer>
#include <functional>

#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"
#include "ui/settings/monitor_dlg.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;
using test::Texts;

class SettingPageTest : public test::PageTest {
  public:
    CMonitorDlg& Page() { return dlg->MonitorPage(); }
    CEditCombGridCtrl& Grid() { return Page().Grid(); }
    void SelectGroup(int group) {
        Page().GroupCombo().setCurrentIndex(group);
        emit Page().GroupCombo().activated(group);
    }
    int RowCount() { return Grid().rowCount(); }
    QString Caption(int index) { return Grid().GetItemText(index + 1, 0); }
    QString Value(int index) { return Grid().GetItemText(index + 1, 1); }
    // As an edit in the grid leaves the cell.
    void SetValue(int index, const char* text) {
        Grid().item(index, 1)->setText(QString::fromUtf8(text));
    }
    void ExpectConnectButtons(bool connected) {
        EXPECT_EQ(dlg->ConnectionText(), connected ? "Connected" : "Disonnected");
        EXPECT_EQ(Page().ConnectButton().isEnabled(), !connected);
        EXPECT_EQ(Page().DisconnectButton().isEnabled(), connected);
    }
    void ConnectNow() {
        Page().ConnectButton().click();
        ASSERT_EQ(dlg->ConnectionText(), "Connected");
    }
    std::size_t FrameCount() { return splicer->ReceivedFrames().size(); }
};

TEST_F(SettingPageTest, StartsWithTheEnvironmentCaptionsAndSendsNothing) {
    EXPECT_EQ(Page().SpeedCombo().count(), 2);
    EXPECT_EQ(Page().SpeedCombo().itemText(1), "256000");
    EXPECT_EQ(Page().SpeedCombo().currentText(), "115200");
    EXPECT_EQ(Page().GroupCombo().currentText(), "Enviornment");
    // The built-in splicer's port comes first and is chosen; Refresh lists each port once.
    const int ports = Page().PortCombo().count();
    Page().RefreshButton().click();
    Page().RefreshButton().click();
    EXPECT_EQ(Page().PortCombo().count(), ports);
    EXPECT_EQ(Page().PortCombo().currentIndex(), 0);
    EXPECT_EQ(Page().PortCombo().currentData().toString().toStdString(), splicer->PortPath());
    EXPECT_TRUE(Page().PortCombo().currentText().contains("virtual splicer"));
    ExpectConnectButtons(false);

    EXPECT_EQ(Grid().GetItemText(0, 0), "Parameters");
    EXPECT_EQ(Grid().GetItemText(0, 1), "Content");
    ASSERT_EQ(RowCount(), 4);
    const char* captions[] = {"Time", "Inside Temperature", "Air Pressure", "Voltage"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Caption(i), captions[i]);
        EXPECT_TRUE(Value(i).isEmpty());
    }
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(SettingPageTest, ReadsEveryGroupWritesEditsThatReadBackChangedAndDisconnects) {
    ConnectNow();
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    ExpectConnectButtons(true);
    const struct {
        int group, rows, index;
        const char* caption;
        const char* value;
        bool readOnly;
    } views[] = {
        {0, 20, 0, "Fiber Type", "SM AUTO", false},
        {0, 20, 6, "ARC Time(ms)", "1500", false},
        {1, 6, 4, "Temperature(℃)", "170.0", false},
        {2, 4, 2, "Air Pressure(Pa)", "101325", true},
        {3, 12, 0, "FsMode", "AUTO", false},
        {4, 10, 0, "Serial Num", sim::kSimSerialNumber, true},
    };
    for (const auto& s : views) {
        SCOPED_TRACE(s.caption);
        SelectGroup(s.group);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        ASSERT_EQ(RowCount(), s.rows);
        EXPECT_EQ(Caption(s.index), QString::fromUtf8(s.caption));
        EXPECT_EQ(Value(s.index), QString::fromUtf8(s.value));
        EXPECT_EQ(!(Grid().item(s.index, 1)->flags() & Qt::ItemIsEditable), s.readOnly);
    }
    EXPECT_TRUE(shown.empty());

    const struct {
        int group, index;
        const char* text;
    } edits[] = {{0, 3, "2.3"}, {0, 6, "2000"}, {0, 9, "Cladding"},
                 {1, 3, "45"},  {4, 4, "Off"},  {4, 8, "12 min"}};
    for (int group : {0, 1, 4}) {
        SCOPED_TRACE(group);
        SelectGroup(group);
        for (const auto& e : edits)
            if (e.group == group) SetValue(e.index, e.text);
        shown.clear();
        Page().AcceptButton().click();
        EXPECT_EQ(BoxTexts(), (Texts{"Whether in parameter", "Parameter in success"}));
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        SelectGroup(3);  // and back: read from the splicer, the edited texts come back
        SelectGroup(group);
        for (const auto& e : edits) {
            if (e.group == group) {
                EXPECT_EQ(Value(e.index), QString::fromUtf8(e.text));
            }
        }
    }
    EXPECT_EQ(DecodeSpliceParams(store->Splice()).lossLimit, 10);  // untouched: as read

    Page().DisconnectButton().click();
    EXPECT_FALSE(link.Port().IsOpen());
    ExpectConnectButtons(false);
}

// Connect opens a listed entry's device (every ConnectNow does), or else the
// text as typed, which is never added to the list.
TEST_F(SettingPageTest, APortPathCanBeTyped) {
    const struct {
        QString typed;
        bool connected;
    } cases[] = {
        {QString::fromStdString(splicer->PortPath()), true},
        {QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_Velmora-if00-port0"), false},
    };
    QComboBox& combo = Page().PortCombo();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        combo.clear();
        combo.clearEditText();
        QTest::keyClicks(combo.lineEdit(), c.typed);
        Page().ConnectButton().click();
        ExpectConnectButtons(c.connected);
        EXPECT_EQ(link.Port().IsOpen(), c.connected);
        EXPECT_EQ(combo.count(), 0);
        if (c.connected) Page().DisconnectButton().click();
    }
}

// A port that has gone away (a hang-up) shows as Disconnected at once, whether or
// not a page reports something meanwhile, and Connect is offered again.
TEST_F(SettingPageTest, ALostPortShowsDisconnected) {
    const std::function<void()> after[] = {
        [] {}, [this] { emit dlg->HistoryPage().StatusNotice(QStringLiteral("x")); }};
    for (std::size_t i = 0; i < std::size(after); ++i) {
        SCOPED_TRACE(i);
        ConnectNow();
        link.Port().ClosePort();
        after[i]();
        EXPECT_TRUE(WaitFor([&] { return dlg->ConnectionText() == "Disonnected"; }, 2s));
        ExpectConnectButtons(false);
    }
}

TEST_F(SettingPageTest, AFailedHandshakeLeavesThePageDisconnected) {
    splicer->SetFault(cmd::Handshake, {FaultKind::Silent, 0, 1});
    Page().ConnectButton().click();
    EXPECT_EQ(dlg->CommText(), "Comm Fail:No answer,please Exit Program");
    ExpectConnectButtons(false);
    Page().ConnectButton().click();
    ExpectConnectButtons(true);
    EXPECT_TRUE(shown.empty());
}

TEST_F(SettingPageTest, AGroupWhileDisconnectedShowsItsCaptionsThenSaysSo) {
    // The ten captions were up, with no values, when the box came.
    int rowsAtBox = -1;
    QString valueAtBox = "?";
    onBox = [&] { rowsAtBox = RowCount(), valueAtBox = Value(0); };
    SelectGroup(4);
    EXPECT_EQ(BoxTexts(), Texts{"Communication Disconnect"});
    EXPECT_EQ(rowsAtBox, 10);
    EXPECT_TRUE(valueAtBox.isEmpty());
    EXPECT_EQ(Caption(0), "Serial Num");
    EXPECT_EQ(dlg->CommText(), "Comm Fail:Communication Disconnect");
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

// Edits are never thrown away silently: a group change asks first, and a read
// that brought nothing leaves the values on screen.
TEST_F(SettingPageTest, EditsAreKeptUnlessTheUserDropsThem) {
    const struct {
        const char* name;
        bool groupChange;  // else a Read of the same group after Disconnect
        MsgAnswer answer;
        bool asked;
        bool kept;
    } cases[] = {
        {"group change, No", true, MsgAnswer::No, true, true},
        {"group change, Yes", true, MsgAnswer::Yes, true, false},
        {"Read while disconnected", false, MsgAnswer::Yes, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectNow();
        SelectGroup(0);
        SetValue(0, "edited");
        Grid().SetModified(true);
        answer = c.answer;
        if (c.groupChange) {
            shown.clear();
            SelectGroup(1);
        } else {
            Page().DisconnectButton().click();
            shown.clear();
            Page().ReadButton().click();
        }
        const bool asked = !shown.empty() && shown[0].text.contains("not been written");
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(Value(0) == "edited", c.kept);
        EXPECT_EQ(Page().GroupCombo().currentIndex(), c.kept ? 0 : 1);
        EXPECT_EQ(Grid().GetModified(), c.kept);
        if (link.Port().IsOpen()) Page().DisconnectButton().click();
    }
}

TEST_F(SettingPageTest, AcceptOnTheEnvironmentAsksAndSendsNothing) {
    ConnectNow();
    Page().ReadButton().click();
    ASSERT_EQ(Value(2), "101325");
    const std::size_t frames = FrameCount();
    Page().AcceptButton().click();  // answered Yes
    ASSERT_EQ(BoxTexts(), Texts{"Whether in parameter"});
    EXPECT_EQ(shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(FrameCount(), frames);
}

TEST_F(SettingPageTest, RangeFailuresShowOneBoxEachAndSendNothing) {
    ConnectNow();
    SelectGroup(0);
    const auto before = store->Splice();
    SetValue(3, "25.1");   // Cut Angle
    SetValue(6, "30001");  // ARC Time
    SetValue(14, "151");   // OverLen
    const std::size_t frames = FrameCount();
    Page().AcceptButton().click();
    EXPECT_EQ(BoxTexts(), (Texts{"Cutting Limit input error,range is 0—25",
                                 "ARC Time input error,range is 0ms—30000ms",
                                 "Overlap input error,range is 0—150 "}));
    EXPECT_EQ(FrameCount(), frames);
    EXPECT_EQ(store->Splice(), before);
}

TEST_F(SettingPageTest, ASecondRequestWhileOneIsInFlightIsRefused) {
    ConnectNow();
    SelectGroup(0);
    const std::function<void(SettingPageTest&)> nested[] = {
        [](SettingPageTest& t) { t.SelectGroup(3); },
        [](SettingPageTest& t) { t.Page().AcceptButton().click(); },
        [](SettingPageTest& t) { t.Page().DisconnectButton().click(); },
    };
    for (std::size_t i = 0; i < std::size(nested); ++i) {
        SCOPED_TRACE(i);
        shown.clear();
        const std::size_t frames = FrameCount();
        // The heating read is answered late; the second request comes meanwhile.
        splicer->SetFault(cmd::ReadHeater, {FaultKind::Delay, 300, 1});
        QTimer::singleShot(0, dlg.get(), [this, &nested, i] { nested[i](*this); });
        SelectGroup(1);
        // A group change is refused with a box; the buttons are held off meanwhile,
        // so a click on them does nothing at all.
        EXPECT_EQ(BoxTexts(), i == 0 ? Texts{"Communication busy, please wait"} : Texts{});
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
