// The FirmWare page in the main window against the in-process virtual splicer:
// the file arrives whole with its progress shown, the window is locked while it
// goes and unlocked after every ending, and each refusal is told.
#include <QProgressBar>
#include <algorithm>

#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"
#include "ui/firmware/firmware_dlg.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::FaultKind;
using test::CrcOf;
using test::FirmwareBytes;
using test::kPageMargin;
using test::Texts;

constexpr const char* kSplicerText = "Boot loader V1.2, waiting for firmware";
constexpr const char* kEndText = "Updated Finish,Please Restart Program and Fusion Splicer";
constexpr const char* kQuestion =
    "Whether to start to update the program? Note:In the process of updating, and cannot be "
    "disconnected";

QString Box(const QString& text, const char* caption) {
    return text + " / " + QString::fromUtf8(caption);
}

class FirmwarePage : public test::PageTest {
  protected:
    void SetUp() override {
        PageTest::SetUp();
        Fresh();
    }

    // A new window on a fresh splicer, the port closed.
    void Fresh() {
        sim::SplicerOptions options;
        options.fast = true;
        RestartSplicer(options);
        shown.clear();
        answer = MsgAnswer::Yes;
        NewWindow();
        // The backup before an update is the archive page test's; these look at the transfer.
        Page().SetBackupBeforeUpdate(false);
        SelectTab(kFirmWareTab);
        infos.clear();
        QObject::connect(&Page(), &CFirmWareDlg::InfoChanged,
                         [this](const QString& text) { infos.push_back(text); });
        Page().SetFileChooser([this](QWidget*) {
            ++chooserCalls;
            return chosenPath;
        });
    }

    CFirmWareDlg& Page() { return dlg->FirmWarePage(); }

    void Choose(const fs::path& file) {
        chosenPath = QString::fromStdString(file.string());
        Page().OnBnClickedBrowse();
    }

    bool WaitForEnd() {
        return WaitFor([&] { return !Page().UpdateRunning(); });
    }

    // The window after an update that ended, however it ended.
    void ExpectUnlocked() {
        EXPECT_FALSE(Page().UpdateRunning());
        EXPECT_EQ(dlg->FirmwareBusy, 0);
        EXPECT_TRUE(dlg->TabCtrl().TabBar().isEnabled());
        EXPECT_TRUE(Page().SendButton().isEnabled());
        EXPECT_TRUE(Page().BrowseButton().isEnabled());
        EXPECT_FALSE(link.LineBusy());
    }

    test::TempDir dir;
    std::vector<QString> infos;
    QString chosenPath;
    int chooserCalls = 0;
};

TEST_F(FirmwarePage, SendsTheFileWholeWithPercentagesAndAllowsTheNextUpdate) {
    struct Case {
        std::size_t size;
        std::vector<QString> infos;
        std::vector<int> bar;  // the progress bar's values as they change
    } cases[] = {
        {65000, {"Update? ", kSplicerText, "Updating ,0%", "Updating ,46%", kEndText}, {46, 100}},
        // The second update in the same run of the program, after connecting again.
        {60000,
         {"Update? ", kSplicerText, "Updating ,0%", "Updating ,50%", kEndText},
         {0, 50, 100}},
    };
    std::vector<int> bar;
    QObject::connect(&Page().Progress(), &QProgressBar::valueChanged,
                     [&](int value) { bar.push_back(value); });
    std::size_t transfers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        shown.clear();
        ASSERT_TRUE(OpenLink());
        const std::string bytes = FirmwareBytes(c.size);
        Choose(dir.Write("fw.bin", bytes));
        infos.clear();
        bar.clear();

        Page().OnBnClickedSend();
        // Locked until the end has been handed to the page.
        EXPECT_TRUE(Page().UpdateRunning());
        EXPECT_EQ(dlg->FirmwareBusy, 1);
        EXPECT_FALSE(dlg->TabCtrl().TabBar().isEnabled());
        EXPECT_FALSE(Page().SendButton().isEnabled());
        EXPECT_FALSE(Page().BrowseButton().isEnabled());
        // Presses that reach the handlers anyway start nothing; nor does a tab change.
        const int chooserCallsBefore = chooserCalls;
        Page().OnBnClickedSend();
        Page().OnBnClickedBrowse();
        EXPECT_EQ(chooserCalls, chooserCallsBefore);
        SelectTab(kImageTab);
        EXPECT_EQ(dlg->VisiblePage(), kFirmWareTab);
        EXPECT_EQ(dlg->TabCtrl().GetCurSel(), kFirmWareTab);
        EXPECT_TRUE(dlg->ImagePage().isHidden());

        ASSERT_TRUE(WaitForEnd());
        ExpectUnlocked();
        EXPECT_EQ(infos, c.infos);
        EXPECT_EQ(bar, c.bar);
        EXPECT_EQ(Boxes(), Texts{Box(kQuestion, "Info")}) << "one question only";
        EXPECT_FALSE(Page().FileChosen());
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(dlg->ConnectionText(), "Disonnected");

        ASSERT_TRUE(firmware->WaitForReceipts(++transfers, kPageMargin));
        EXPECT_EQ(firmware->Receipts().back().bytes, c.size);
        EXPECT_EQ(firmware->Receipts().back().crc32, CrcOf(bytes));
    }
    EXPECT_EQ(splicer->ReceivedFrames().size(), 4u) << "two handshakes per update, nothing else";
}

TEST_F(FirmwarePage, SendsThatStartNoTransferUnlockAndSayWhy) {
    enum class Setup { NoFile, AnswerNo, PortClosed, FileGone, SecondSilent, NotNow, FirstLost };
    using enum Setup;
    using enum UpdateState;
    const std::vector<std::uint8_t> notNow = {0x87, 0x61, 0x01, 0xAD, 0x96, 'N',
                                              'o',  't',  ' ',  'n',  'o',  'w'};
    const fs::path file = dir.path() / "fw.bin";
    const QString gone = QString::fromStdString("Firmware file not found: " + file.string());
    const QString notStarted = "The update did not start: ";
    const QString noAnswer = "No answer,please Exit Program";
    const QString portLost = "Port lost, please check the cable and connect again";
    struct Case {
        Setup setup;
        QString box;  // after the question (asked once a file is chosen), as "text / caption"
        QString commPane;
        UpdateState state;
        std::size_t frames;
        const char* info = nullptr;  // nullptr: not looked at
    } cases[] = {
        {NoFile, "Please Select File / warning", "", NotStarted, 0},
        {AnswerNo, "", "", NotStarted, 0},
        // In Chinese, where the captions of the question and the notice differ.
        {PortClosed, "通讯已经断开 / 提示", "Comm Fail:通讯已经断开", NotStarted, 0},
        {FileGone, gone + " / Info", "", NotStarted, 0},
        {SecondSilent, notStarted + "no answer from the Fusion Splicer / Info",
         "Comm Fail:" + noAnswer, SecondRefused, 2, "Update? "},
        // 87 61 01 AD 96 is no acknowledgement, but no refusal (0xEC) either: no
        // second handshake, and the splicer's text is still shown.
        {NotNow, notStarted + "data error / Info", "", FirstRefused, 1, "Not now"},
        // The cable pulled as Send is pressed: the window shows the connection lost.
        {FirstLost, notStarted + portLost + " / Info", "Comm Fail:" + portLost, FirstRefused, 1,
         "Update? "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.setup));
        test::ScopedConfig language(c.setup == PortClosed ? 0 : 1);
        Fresh();
        if (c.setup == SecondSilent)
            splicer->SetFault(cmd::FirmwareHandshake2, {FaultKind::Silent});
        if (c.setup == FirstLost) splicer->SetFault(cmd::FirmwareHandshake1, {FaultKind::HangUp});
        if (c.setup == NotNow)
            splicer->SetHandler(cmd::FirmwareHandshake1,
                                [&](const sim::Request&) { return notNow; });
        if (c.setup != PortClosed) {
            ASSERT_TRUE(OpenLink());
            dlg->ShowConnectionState(true);
        }
        if (c.setup != NoFile) Choose(dir.Write("fw.bin", "firmware"));
        if (c.setup == FileGone) fs::remove(file);
        if (c.setup == AnswerNo) answer = MsgAnswer::No;

        Page().OnBnClickedSend();
        Texts boxes;
        if (c.setup != NoFile)
            boxes.push_back(c.setup == PortClosed
                                ? "是否开始更新程序？注意：在更新过程中，不能断开连接 / 信息提示"
                                : Box(kQuestion, "Info"));
        if (!c.box.isEmpty()) boxes.push_back(c.box);
        EXPECT_EQ(Boxes(), boxes);
        EXPECT_EQ(dlg->CommText(), c.commPane);
        ExpectUnlocked();
        EXPECT_EQ(Page().HandshakeState(), c.state);
        if (c.info) {
            EXPECT_EQ(Page().InfoText(), c.info);
        }
        // Nothing but the handshakes went out; the file stays chosen for another try.
        EXPECT_EQ(splicer->ReceivedFrames().size(), c.frames);
        EXPECT_EQ(Page().FileChosen(), c.setup != NoFile && c.setup != FileGone);
        const bool lineThere = c.setup != PortClosed && c.setup != FirstLost;
        EXPECT_EQ(link.Port().IsOpen(), lineThere);
        EXPECT_EQ(dlg->ConnectionText(), lineThere ? "Connected" : "Disonnected");
    }
}

TEST_F(FirmwarePage, LineDroppedMidTransferReportsTheFailureAndUnlocks) {
    splicer->SetFault(cmd::FirmwareHandshake2, {FaultKind::HangUp, 40000});
    ASSERT_TRUE(OpenLink());
    Choose(dir.Write("fw.bin", FirmwareBytes(100000)));
    dlg->ShowConnectionState(true);

    Page().OnBnClickedSend();
    ASSERT_TRUE(WaitForEnd());
    ExpectUnlocked();
    const QString shown = Page().InfoText();
    EXPECT_TRUE(shown.startsWith("Update failed")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Port lost")) << shown.toStdString();
    EXPECT_EQ(std::count(infos.begin(), infos.end(), kEndText), 0);
    EXPECT_EQ(Boxes(), (Texts{Box(kQuestion, "Info"), shown + " / Info"}));
    EXPECT_EQ(dlg->CommText(), "Comm Fail:Port lost, please check the cable and connect again");
    EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
    EXPECT_TRUE(Page().FileChosen()) << "kept, to send again after connecting";
    ASSERT_TRUE(firmware->WaitForReceipts(1, kPageMargin));
    EXPECT_EQ(firmware->Receipts().back().bytes, 40000u);
}

TEST_F(FirmwarePage, BrowseSetsTheChoiceOnlyForAFileThatExists) {
    const fs::path file = dir.Write("fw.bin", "firmware");
    const fs::path missing = dir.path() / "missing.bin";
    const char* selected = "File already selected ,please click 'Send'....";
    struct Step {
        fs::path answer;  // empty: the dialog was cancelled
        bool chosen;
        const char* info;
    } steps[] = {
        {missing, false, selected},
        {file, true, selected},
        {{}, false, "Please select File ...."},  // cancelled after a choice
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.answer.string());
        Choose(s.answer);
        EXPECT_EQ(Page().FileChosen(), s.chosen);
        EXPECT_EQ(Page().PathText(), QString::fromStdString(s.answer.string()));
        EXPECT_EQ(Page().InfoText(), s.info);
    }
}

}  // namespace
}  // namespace velmora::ui
