// The Result page against the in-process virtual splicer: the download fills
// the lists, the buttons rest while it runs, failures reach the status pane,
// the export asks before replacing, and closing mid-download stops the worker.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "history/csv_export.h"
#include "history/history_dlg.h"
#include "protocol/command_catalogue.h"
#include "sim/record_commands.h"
#include "support/test_support.h"
#include "app/ui_wait.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using test::Hex;

constexpr auto kMargin = 10s;

struct Box {
    QString text;
    QString caption;
    MsgButtons buttons;
};

// Answers every message box with `answer` and keeps what was asked.
class BoxRecorder {
public:
    BoxRecorder() {
        SetMessageBoxHook([this](const QString& text, const QString& caption, MsgButtons buttons,
                                 MsgIcon) {
            boxes.push_back({text, caption, buttons});
            return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
        });
    }
    ~BoxRecorder() { SetMessageBoxHook(nullptr); }

    std::vector<Box> boxes;
    MsgAnswer answer = MsgAnswer::Yes;
};

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class HistoryPageTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallRecordCommands(*splicer, 150);
        link.DeviceFolder = folder.path() / "FS" / "M2406A0153";
        dlg = std::make_unique<CVelmoraDlg>(link);
        dlg->show();
    }
    void TearDown() override {
        dlg.reset();
        test::SplicerTest::TearDown();
    }

    CHistoryDlg& Page() { return dlg->HistoryPage(); }

    // Presses Receive and waits until the page has taken in the end of the download.
    bool ReceiveAndWait() {
        Page().OnBnClickedReceive();
        return test::WaitUntil([&] { return !Page().Downloading(); }, kMargin);
    }

    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> commands;
        for (const auto& frame : splicer->ReceivedFrames()) commands.push_back(frame.at(1));
        return commands;
    }

    test::TempDir folder;
    std::unique_ptr<CVelmoraDlg> dlg;
    BoxRecorder recorder;
};

TEST_F(HistoryPageTest, DownloadFillsTheIndexListAndTheChosenRecordsDetails) {
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    CListCtrlEx& index = Page().IndexList();
    ASSERT_EQ(index.GetItemCount(), 150);
    ASSERT_EQ(Page().Records().size(), 150u);
    for (int row : {0, 1, 149}) {
        SpliceRecord record;
        record.bytes = sim::SampleRecord(row);
        EXPECT_EQ(index.GetItemText(row, 0), QString::number(row + 1));
        EXPECT_EQ(index.GetItemText(row, 1), QString::fromStdString(TimeText(record)));
    }
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_EQ(Page().Progress().value(), 100);
    EXPECT_TRUE(Page().ReceiveButton().isEnabled());
    EXPECT_TRUE(Page().ExcelButton().isEnabled());
    EXPECT_TRUE(recorder.boxes.empty());
    ASSERT_TRUE(splicer->WaitForFrames(2, kMargin));
    const auto frames = splicer->ReceivedFrames();
    EXPECT_EQ(Hex(frames[0]), "87 63 01 00 EB");
    EXPECT_EQ(Hex(frames[1]), "87 64 01 96 82");

    // A chosen row shows its record, also after the numbers were sorted as text.
    auto expectDetailsOf = [&](int recordIndex) {
        SpliceRecord record;
        record.bytes = sim::SampleRecord(recordIndex);
        const auto texts = DetailTexts(record, TableLanguage::English);
        for (int row = 0; row < 15; ++row)
            EXPECT_EQ(Page().ParamList().GetItemText(row, 1), QString::fromStdString(texts[row]))
                << "record " << recordIndex << ", row " << row;
    };
    index.SelectRow(4);
    expectDetailsOf(4);
    index.SortByColumn(0);  // 1, 10, 100, 101, ...
    index.SelectRow(2);
    ASSERT_EQ(index.GetItemText(2, 0), "100");
    expectDetailsOf(99);
    // The parameter list sorted by its captions keeps each value beside its caption.
    Page().ParamList().SortByColumn(0);
    index.SelectRow(3);
    for (int row = 0; row < 15; ++row) {
        const QString caption = Page().ParamList().GetItemText(row, 0);
        if (caption == "Loss Value") {
            SpliceRecord record;
            record.bytes = sim::SampleRecord(100);
            EXPECT_EQ(Page().ParamList().GetItemText(row, 1),
                      QString::fromStdString(LossText(record)));
        }
    }
    // Clicking beside the rows chooses nothing and leaves the details as they were.
    const QString shown = Page().ParamList().GetItemText(0, 1);
    index.SelectRow(-1);
    EXPECT_EQ(Page().ParamList().GetItemText(0, 1), shown);
}

TEST_F(HistoryPageTest, ButtonsRestWhileTheDownloadRuns) {
    splicer->SetFault(cmd::RecordDownload, {FaultKind::Trickle, 1});
    ASSERT_TRUE(OpenLink());
    Page().OnBnClickedReceive();
    EXPECT_TRUE(Page().Downloading());
    EXPECT_FALSE(Page().ReceiveButton().isEnabled());
    EXPECT_FALSE(Page().ExcelButton().isEnabled());
    // Records are listed while the rest is still on its way.
    EXPECT_TRUE(test::WaitUntil([&] { return Page().IndexList().GetItemCount() >= 2; }, kMargin));
    EXPECT_TRUE(Page().Downloading());
    EXPECT_FALSE(Page().ReceiveButton().isEnabled());
    // A second press meanwhile sends nothing.
    Page().OnBnClickedReceive();
    Page().Worker().StopAndJoin();
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::RecordCount, cmd::RecordDownload}));
}

TEST_F(HistoryPageTest, SilentSplicerMidDownloadKeepsThePartialListAndShowsTheTimeOut) {
    splicer->SetFault(cmd::RecordDownload, {FaultKind::Short, 38 * 10 + 17});
    Page().SetDownloadOptions({.deadline = 300ms});
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    EXPECT_EQ(Page().IndexList().GetItemCount(), 10);
    EXPECT_EQ(Page().Records().size(), 10u);
    EXPECT_EQ(dlg->CommText(), "Comm Fail:No answer,please Exit Program");
    EXPECT_EQ(Page().Progress().value(), 0);
    EXPECT_TRUE(Page().ReceiveButton().isEnabled());
    EXPECT_TRUE(Page().ExcelButton().isEnabled());
}

TEST_F(HistoryPageTest, CountAnswersThatFetchNothingSayWhy) {
    // A first download, so that the store has something an empty count must not lose.
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    ASSERT_EQ(Page().Records().size(), 150u);

    auto countReply = [](std::uint8_t low, std::uint8_t high) {
        std::vector<std::uint8_t> reply = {0x87, 0x63, 0x02, low, high};
        reply.push_back(SumCheck(reply));
        return reply;
    };
    struct Case {
        const char* name;
        Fault fault;
        std::vector<std::uint8_t> reply;  // empty: the installed answer
        const char* commText;
    };
    const Case cases[] = {
        // No answer is reported rather than leaving an earlier success standing.
        {"silent", {FaultKind::Silent}, {}, "Comm Fail:No answer,please Exit Program"},
        {"bad check", {FaultKind::BadCheck}, {}, "Comm Fail:check code error"},
        {"wrong echo", {FaultKind::WrongEcho}, {}, "Comm Fail:data error"},
        {"zero", {}, countReply(0, 0), "Comm Sucess"},
        {"negative", {}, countReply(0x05, 0x80), "Comm Sucess"},
        {"too many", {}, countReply(0x90, 0x14),
         "Comm Fail:The splicer holds 5264 records, more than can be received at once "
         "(at most 5263)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        splicer->ClearFaults();
        if (!c.reply.empty()) {
            splicer->SetHandler(cmd::RecordCount, [r = c.reply](const sim::Request&) { return r; });
        } else {
            sim::InstallRecordCommands(*splicer, 150);
            splicer->SetFault(cmd::RecordCount, c.fault);
        }
        dlg->ShowCommState(true);
        const std::size_t framesBefore = splicer->ReceivedFrames().size();
        Page().OnBnClickedReceive();
        EXPECT_FALSE(Page().Downloading());
        EXPECT_EQ(dlg->CommText(), c.commText);
        EXPECT_EQ(Page().IndexList().GetItemCount(), 0);
        EXPECT_EQ(Page().Records().size(), 150u);
        EXPECT_TRUE(Page().ReceiveButton().isEnabled());
        ASSERT_TRUE(splicer->WaitForFrames(framesBefore + 1, kMargin));
        EXPECT_EQ(splicer->ReceivedFrames().size(), framesBefore + 1) << "no download request";
    }
}

TEST_F(HistoryPageTest, ReceiveWithThePortClosedSaysSo) {
    Page().OnBnClickedReceive();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Communication Disconnect");
    EXPECT_EQ(recorder.boxes[0].caption, "Info");
    EXPECT_EQ(dlg->CommText(), "Comm Fail:Communication Disconnect");
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(HistoryPageTest, ExcelWritesTheDaysFileAndAsksBeforeReplacingIt) {
    Page().OnBnClickedExcel();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "There is no record");
    EXPECT_EQ(recorder.boxes[0].caption, "Info");
    const fs::path file = link.DeviceFolder / "CSV" / CsvFileName(LocalToday());
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    recorder.boxes.clear();
    Page().OnBnClickedExcel();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "File successfully!");
    EXPECT_EQ(recorder.boxes[0].caption, "Info");
    const std::string written = ReadFile(file);
    EXPECT_TRUE(written.starts_with(",Time,Result, Loss Value, Splice mode, Aline Type"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 151);
    EXPECT_EQ(Page().Progress().value(), 100);

    // The second export of the day asks first; No keeps the file as it is.
    std::ofstream(file, std::ios::binary) << "kept";
    recorder.boxes.clear();
    recorder.answer = MsgAnswer::No;
    Page().OnBnClickedExcel();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text,
              QString::fromStdString(file.string()) + " File already exists, overwrite");
    EXPECT_EQ(recorder.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(ReadFile(file), "kept");

    recorder.boxes.clear();
    recorder.answer = MsgAnswer::Yes;
    Page().OnBnClickedExcel();
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[1].text, "File successfully!");
    EXPECT_EQ(ReadFile(file), written);
}

TEST_F(HistoryPageTest, ExportThatCannotBeWrittenSaysSo) {
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    // A file where the CSV folder should be.
    fs::remove_all(link.DeviceFolder / "CSV");
    std::ofstream(link.DeviceFolder / "CSV") << "in the way";
    Page().OnBnClickedExcel();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_TRUE(recorder.boxes[0].text.startsWith("File could not be saved: "))
        << recorder.boxes[0].text.toStdString();
}

TEST_F(HistoryPageTest, ClosingTheWindowMidDownloadStopsTheWorker) {
    // Short enough that the splicer, busy sending, reads the goodbye well within the margin.
    sim::InstallRecordCommands(*splicer, 40);
    splicer->SetFault(cmd::RecordDownload, {FaultKind::Trickle, 2});
    ASSERT_TRUE(OpenLink());
    Page().OnBnClickedReceive();
    ASSERT_TRUE(test::WaitUntil([&] { return Page().IndexList().GetItemCount() >= 1; }, kMargin));
    ASSERT_TRUE(Page().Worker().Running());
    EXPECT_TRUE(test::WaitUntil([&] { return dlg->close(); }, kMargin));
    EXPECT_FALSE(Page().Worker().Running());
    EXPECT_FALSE(link.Port().IsOpen());
    EXPECT_LT(Page().Records().size(), 40u);
    // The goodbye went out once the download had let go of the line.
    ASSERT_TRUE(splicer->WaitForFrames(3, kMargin));
    EXPECT_EQ(Hex(splicer->ReceivedFrames()[2]), "87 68 01 00 F0");
}

TEST_F(HistoryPageTest, DestroyingThePageMidDownloadJoinsItsWorker) {
    splicer->SetFault(cmd::RecordDownload, {FaultKind::Trickle, 2});
    ASSERT_TRUE(OpenLink());
    dlg.reset();
    // The page alone, so that its own destructor has to stop the worker.
    auto page = std::make_unique<CHistoryDlg>(nullptr, link, nullptr);
    page->OnBnClickedReceive();
    ASSERT_TRUE(test::WaitUntil([&] { return page->IndexList().GetItemCount() >= 1; }, kMargin));
    ASSERT_TRUE(page->Worker().Running());
    page.reset();  // its lists go while the worker would still list into them
    EXPECT_FALSE(link.LineBusy());
}

TEST(HistoryPageChinese, MessagesAndDetailsAreChinese) {
    test::TempDir dir;
    test::ScopedConfig chinese(0, dir.path());
    Link link;
    BoxRecorder recorder;
    CHistoryDlg page(nullptr, link, nullptr);
    page.OnBnClickedExcel();
    page.OnBnClickedReceive();
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].text, QString::fromUtf8("没有历史记录"));
    EXPECT_EQ(recorder.boxes[0].caption, QString::fromUtf8("警告"));
    EXPECT_EQ(recorder.boxes[1].text, QString::fromUtf8("通讯已经断开"));
    EXPECT_EQ(recorder.boxes[1].caption, QString::fromUtf8("提示"));
}

}  // namespace
}  // namespace velmora::ui
