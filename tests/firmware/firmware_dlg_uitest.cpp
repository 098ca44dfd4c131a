// The FirmWare page in the main window against the in-process virtual splicer:
// the file arrives whole, the window is locked while it goes and unlocked after
// every ending, and each refusal is told.
#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "firmware/firmware_dlg.h"
#include "protocol/command_catalogue.h"
#include "sim/firmware_commands.h"
#include "support/test_support.h"
#include "../app/ui_wait.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

constexpr auto kMargin = 20s;
constexpr const char* kSplicerText = "Boot loader V1.2, waiting for firmware";
constexpr const char* kEndText = "Updated Finish,Please Restart Program and Fusion Splicer";
constexpr const char* kQuestion =
    "Whether to start to update the program? Note:In the process of updating, and cannot be "
    "disconnected";

std::string FirmwareBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 11);
    return bytes;
}

std::uint32_t CrcOf(const std::string& bytes) {
    return sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

QString U(const char* text) { return QString::fromUtf8(text); }

struct Box {
    QString text;
    QString caption;
    bool operator==(const Box&) const = default;
};

void PrintTo(const Box& box, std::ostream* os) {
    *os << '"' << box.text.toStdString() << "\" / \"" << box.caption.toStdString() << '"';
}

// Answers every box (Yes to questions unless told otherwise) and keeps what it showed.
class BoxRecorder {
public:
    BoxRecorder() {
        SetMessageBoxHook([this](const QString& text, const QString& caption, MsgButtons buttons,
                                 MsgIcon) {
            shown.push_back({text, caption});
            return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
        });
    }
    ~BoxRecorder() { SetMessageBoxHook({}); }

    std::vector<Box> shown;
    MsgAnswer answer = MsgAnswer::Yes;
};

class FirmwarePage : public test::SplicerTest {
protected:
    void SetUp() override {
        SplicerTest::SetUp();
        Install();
        MakeWindow();
    }

    void TearDown() override {
        dlg.reset();
        SplicerTest::TearDown();
    }

    void Install() {
        sim::FirmwareSimOptions options;
        options.quiet = 300ms;
        received = sim::InstallFirmwareCommands(*splicer, options);
    }

    void MakeWindow() {
        dlg = std::make_unique<CVelmoraDlg>(link);
        dlg->show();
        dlg->TabCtrl().TabBar().setCurrentIndex(kFirmWareTab);
        QObject::connect(&Page(), &CFirmWareDlg::InfoChanged,
                         [this](const QString& text) { infos.push_back(text); });
        Page().SetFileChooser([this](QWidget*) {
            ++chooserCalls;
            return chosenPath;
        });
    }

    CFirmWareDlg& Page() { return dlg->FirmWarePage(); }
    bool TabsEnabled() { return dlg->TabCtrl().TabBar().isEnabled(); }

    void Choose(const std::filesystem::path& file) {
        chosenPath = QString::fromStdString(file.string());
        Page().OnBnClickedBrowse();
    }

    bool WaitForEnd() {
        return test::WaitUntil([&] { return !Page().UpdateRunning(); }, kMargin);
    }

    // The window after an update that ended, however it ended.
    void ExpectUnlocked() {
        EXPECT_FALSE(Page().UpdateRunning());
        EXPECT_EQ(dlg->FirmwareBusy.load(), 0);
        EXPECT_TRUE(TabsEnabled());
        EXPECT_TRUE(Page().SendButton().isEnabled());
        EXPECT_TRUE(Page().BrowseButton().isEnabled());
        EXPECT_FALSE(link.LineBusy());
    }

    std::size_t Frames() const { return splicer->ReceivedFrames().size(); }

    test::TempDir dir;
    std::shared_ptr<sim::FirmwareLog> received;
    std::unique_ptr<CVelmoraDlg> dlg;
    std::vector<QString> infos;
    QString chosenPath;
    int chooserCalls = 0;
};

TEST_F(FirmwarePage, SendsTheFileWholeWithPercentagesAndAllowsTheNextUpdate) {
    struct Case {
        std::size_t size;
        std::vector<QString> infos;
    } cases[] = {
        {65000,
         {"Update? ", kSplicerText, "Updating ,0%", "Updating ,46%", kEndText}},
        // The second update in the same run of the program, after connecting again.
        {29999, {"Update? ", kSplicerText, kEndText}},
    };
    std::size_t transfers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        BoxRecorder boxes;
        ASSERT_TRUE(OpenLink());
        const std::string bytes = FirmwareBytes(c.size);
        Choose(dir.Write("fw.bin", bytes));
        ASSERT_TRUE(Page().FileChosen());
        infos.clear();

        Page().OnBnClickedSend();
        // Locked until the end has been handed to the page.
        EXPECT_TRUE(Page().UpdateRunning());
        EXPECT_EQ(dlg->FirmwareBusy.load(), 1);
        EXPECT_FALSE(TabsEnabled());
        EXPECT_FALSE(Page().SendButton().isEnabled());
        EXPECT_FALSE(Page().BrowseButton().isEnabled());
        EXPECT_EQ(Page().HandshakeState(), UpdateState::SecondAccepted);
        // Presses that reach the handlers anyway start nothing.
        const int chooserCallsBefore = chooserCalls;
        Page().OnBnClickedSend();
        Page().OnBnClickedBrowse();
        EXPECT_EQ(chooserCalls, chooserCallsBefore);

        ASSERT_TRUE(WaitForEnd());
        ExpectUnlocked();
        EXPECT_EQ(infos, c.infos);
        EXPECT_EQ(Page().InfoText(), kEndText);
        EXPECT_EQ(boxes.shown, (std::vector<Box>{{kQuestion, "Info"}})) << "one question only";
        EXPECT_FALSE(Page().FileChosen());
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(dlg->ConnectionText(), "Disonnected");

        ASSERT_TRUE(received->WaitForReceipts(++transfers, kMargin));
        const sim::FirmwareReceipt receipt = received->Receipts().back();
        EXPECT_EQ(receipt.bytes, c.size);
        EXPECT_EQ(receipt.crc32, CrcOf(bytes));
        EXPECT_FALSE(receipt.hungUp);
    }
    EXPECT_EQ(Frames(), 2 * std::size(cases)) << "two handshakes per update, nothing else";
}

TEST_F(FirmwarePage, SendRefusedBeforeTheLineSendsNothing) {
    enum class Setup { NoFile, AnswerNo, PortClosed, EmptyFile, FileGoneAfterBrowse };
    const std::filesystem::path emptyFile = dir.Write("empty.bin", "");
    const std::filesystem::path goneFile = dir.path() / "gone.bin";
    struct Case {
        const char* name;
        Setup setup;
        int englishFlag;
        std::vector<Box> boxes;
        const char* commPane;
    } cases[] = {
        {"no file", Setup::NoFile, 1, {{"Please Select File", "warning"}}, ""},
        {"no file, Chinese", Setup::NoFile, 0, {{U("请正确选择文件"), U("警告")}}, ""},
        {"answer No", Setup::AnswerNo, 1, {{kQuestion, "Info"}}, ""},
        {"port closed",
         Setup::PortClosed,
         1,
         {{kQuestion, "Info"}, {"Communication Disconnect", "Info"}},
         "Comm Fail:Communication Disconnect"},
        {"port closed, Chinese",
         Setup::PortClosed,
         0,
         {{U("是否开始更新程序？注意：在更新过程中，不能断开连接"), U("信息提示")},
          {U("通讯已经断开"), U("提示")}},
         "Comm Fail:通讯已经断开"},
        {"empty file",
         Setup::EmptyFile,
         1,
         {{kQuestion, "Info"},
          {QString::fromStdString("The firmware file is empty: " + emptyFile.string()), "Info"}},
         ""},
        {"file removed after Browse",
         Setup::FileGoneAfterBrowse,
         1,
         {{kQuestion, "Info"},
          {QString::fromStdString("Firmware file not found: " + goneFile.string()), "Info"}},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScopedConfig language(c.englishFlag);
        dlg.reset();
        MakeWindow();
        link.Port().ClosePort();
        if (c.setup != Setup::PortClosed) {
            ASSERT_TRUE(OpenLink());
        }
        if (c.setup == Setup::EmptyFile) Choose(emptyFile);
        if (c.setup == Setup::AnswerNo || c.setup == Setup::PortClosed)
            Choose(dir.Write("fw.bin", "firmware"));
        if (c.setup == Setup::FileGoneAfterBrowse) {
            Choose(dir.Write("gone.bin", "firmware"));
            std::filesystem::remove(goneFile);
        }
        BoxRecorder boxes;
        if (c.setup == Setup::AnswerNo) boxes.answer = MsgAnswer::No;

        Page().OnBnClickedSend();
        EXPECT_EQ(boxes.shown, c.boxes);
        EXPECT_EQ(dlg->CommText(), U(c.commPane));
        ExpectUnlocked();
        EXPECT_EQ(Page().HandshakeState(), UpdateState::NotStarted);
    }
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(FirmwarePage, HandshakesThatStartNoTransferUnlockAndSaySo) {
    const std::vector<std::uint8_t> notNow = {0x87, 0x61, 0x01, 0xAD, 0x96, 'N', 'o', 't', ' ',
                                              'n',  'o',  'w'};
    struct Case {
        const char* name;
        std::uint8_t command;
        Fault fault;
        bool answerNotNow;  // 87 61 01 AD 96 and a text
        UpdateState state;
        std::size_t frames;
        const char* shown;
        const char* box;
        const char* commPane;
    } cases[] = {
        {"first refused", cmd::FirmwareHandshake1, {FaultKind::Reject}, false,
         UpdateState::FirstRefused, 1, "Update? ",
         "The update did not start: the Fusion Splicer refused it",
         "Comm Fail:No answer,please Exit Program"},
        {"second unanswered", cmd::FirmwareHandshake2, {FaultKind::Silent}, false,
         UpdateState::SecondRefused, 2, "Update? ",
         "The update did not start: no answer from the Fusion Splicer",
         "Comm Fail:No answer,please Exit Program"},
        {"first answered AD", 0, {}, true, UpdateState::FirstRefused, 1, "Not now",
         "The update did not start: the Fusion Splicer refused it", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SplicerOptions fast;
        fast.fast = true;
        Restart(fast);
        Install();
        dlg.reset();
        MakeWindow();
        if (c.answerNotNow)
            splicer->SetHandler(cmd::FirmwareHandshake1,
                                [&](const sim::Request&) { return notNow; });
        else
            splicer->SetFault(c.command, c.fault);
        ASSERT_TRUE(OpenLink());
        const std::string bytes = FirmwareBytes(1000);
        Choose(dir.Write("fw.bin", bytes));
        BoxRecorder boxes;

        Page().OnBnClickedSend();
        EXPECT_EQ(Page().HandshakeState(), c.state);
        EXPECT_EQ(Page().InfoText(), U(c.shown));
        EXPECT_EQ(boxes.shown, (std::vector<Box>{{kQuestion, "Info"}, {c.box, "Info"}}));
        EXPECT_EQ(dlg->CommText(), U(c.commPane));
        EXPECT_EQ(Frames(), c.frames);
        ExpectUnlocked();
        EXPECT_TRUE(link.Port().IsOpen()) << "the splicer still reads frames";
        EXPECT_TRUE(Page().FileChosen());

        // Once the splicer agrees, the same choice goes through.
        splicer->ClearFaults();
        Install();
        Page().OnBnClickedSend();
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(Page().InfoText(), kEndText);
        ASSERT_TRUE(received->WaitForReceipts(1, kMargin));
        EXPECT_EQ(received->Receipts().back().crc32, CrcOf(bytes));
    }
}

TEST_F(FirmwarePage, LineDroppedMidTransferReportsTheFailureAndUnlocks) {
    BoxRecorder boxes;
    const std::string bytes = FirmwareBytes(100000);
    splicer->SetFault(cmd::FirmwareHandshake2, {FaultKind::HangUp, 40000});
    ASSERT_TRUE(OpenLink());
    Choose(dir.Write("fw.bin", bytes));
    dlg->ShowConnectionState(true);

    Page().OnBnClickedSend();
    ASSERT_TRUE(WaitForEnd());
    ExpectUnlocked();
    const QString shown = Page().InfoText();
    EXPECT_TRUE(shown.startsWith("Update failed")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Port lost")) << shown.toStdString();
    EXPECT_EQ(std::count(infos.begin(), infos.end(), kEndText), 0);
    EXPECT_EQ(boxes.shown, (std::vector<Box>{{kQuestion, "Info"}, {shown, "Info"}}));
    EXPECT_EQ(dlg->CommText(),
              "Comm Fail:Port lost, please check the cable and connect again");
    EXPECT_EQ(dlg->ConnectionText(), "Disonnected");
    EXPECT_TRUE(Page().FileChosen()) << "kept, to send again after connecting";

    ASSERT_TRUE(received->WaitForReceipts(1, kMargin));
    EXPECT_TRUE(received->Receipts().back().hungUp);
    EXPECT_EQ(received->Receipts().back().bytes, 40000u);
}

TEST_F(FirmwarePage, BrowseSetsTheChoiceOnlyForAFileThatExists) {
    const std::filesystem::path file = dir.Write("fw.bin", "firmware");
    const std::filesystem::path missing = dir.path() / "missing.bin";
    struct Step {
        std::filesystem::path answer;  // empty: the dialog was cancelled
        bool chosen;
        QString path;
        const char* info;
    } steps[] = {
        {file, true, QString::fromStdString(file.string()),
         "File already selected ,please click 'Send'...."},
        {{}, false, "", "Please select File ...."},
        {missing, false, QString::fromStdString(missing.string()),
         "File already selected ,please click 'Send'...."},
        {file, true, QString::fromStdString(file.string()),
         "File already selected ,please click 'Send'...."},
    };
    EXPECT_EQ(Page().InfoText(), "Please select File ....");
    EXPECT_FALSE(Page().FileChosen());
    for (const Step& s : steps) {
        SCOPED_TRACE(s.answer.string());
        Choose(s.answer);
        EXPECT_EQ(Page().FileChosen(), s.chosen);
        EXPECT_EQ(Page().PathText(), s.path);
        EXPECT_EQ(Page().InfoText(), s.info);
    }
    // Cancelled after a choice: Send then asks for a file.
    Choose({});
    BoxRecorder boxes;
    Page().OnBnClickedSend();
    EXPECT_EQ(boxes.shown, (std::vector<Box>{{"Please Select File", "warning"}}));
}

// A paced splicer at 256000 bit/s takes 300000 bytes in about 12 s: the window
// goes long before that, and its worker with it.
TEST_F(FirmwarePage, WindowGoingDuringTheTransferStopsAndJoinsTheWorker) {
    for (const bool destroyWithoutClose : {false, true}) {
        SCOPED_TRACE(destroyWithoutClose ? "destroyed" : "closed");
        sim::SplicerOptions options;
        options.baud = 256000;
        dlg.reset();
        Restart(options);
        Install();
        MakeWindow();
        ASSERT_TRUE(OpenLink(256000));
        const std::string bytes = FirmwareBytes(300000);
        Choose(dir.Write("fw.bin", bytes));
        BoxRecorder boxes;

        Page().OnBnClickedSend();
        ASSERT_TRUE(test::WaitUntil([&] { return Page().InfoText() == "Updating ,0%"; }, kMargin));
        if (destroyWithoutClose) {
            dlg.reset();
        } else {
            EXPECT_TRUE(dlg->close());
            EXPECT_FALSE(Page().Worker().Running());
            ASSERT_TRUE(WaitForEnd());
            EXPECT_TRUE(Page().InfoText().startsWith("Update cancelled"));
            EXPECT_EQ(boxes.shown.size(), 1u) << "nothing is asked of a closing window";
        }
        EXPECT_FALSE(link.LineBusy());
        EXPECT_FALSE(link.Port().IsOpen());
        ASSERT_TRUE(received->WaitForReceipts(1, kMargin));
        EXPECT_LT(received->Receipts().back().bytes, bytes.size());
    }
}

}  // namespace
}  // namespace velmora::ui
