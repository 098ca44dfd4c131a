// The Result page against the in-process virtual splicer: the download fills
// the lists, the buttons rest while it runs, failures reach the status pane,
// and the export asks before replacing.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <fstream>

#include "history/csv_export.h"
#include "protocol/command_catalogue.h"
#include "support/cli_runner.h"
#include "support/page_fixture.h"
#include "ui/history/history_dlg.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::FaultKind;
using test::Texts;

class HistoryPageTest : public test::PageTest {
  protected:
    CHistoryDlg& Page() { return dlg->HistoryPage(); }
    // Presses Receive and waits until the page has taken in the end of the download.
    bool ReceiveAndWait() {
        Page().OnBnClickedReceive();
        return WaitFor([&] { return !Page().Downloading(); });
    }
    // Presses EXCEL and waits until the page has taken in the end of the export.
    bool ExcelAndWait() {
        Page().OnBnClickedExcel();
        return WaitFor([&] { return !Page().Exporting(); });
    }
    void ExpectButtonsEnabled(bool enabled) {
        EXPECT_EQ(Page().ReceiveButton().isEnabled(), enabled);
        EXPECT_EQ(Page().ExcelButton().isEnabled(), enabled);
    }
    // Text of the detail row captioned `caption`, wherever a sort has put it.
    QString Detail(const char* caption) {
        for (int row = 0; row < Page().ParamList().GetItemCount(); ++row)
            if (Page().ParamList().GetItemText(row, 0) == caption)
                return Page().ParamList().GetItemText(row, 1);
        return {};
    }
};

TEST_F(HistoryPageTest, DownloadFillsTheIndexListAndTheChosenRecordsDetails) {
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    CListCtrlEx& index = Page().IndexList();
    ASSERT_EQ(index.GetItemCount(), 150);
    ASSERT_EQ(Page().Records().size(), 150u);
    auto record = [](int i) { return SpliceRecord{sim::SampleRecord(i)}; };
    for (int row : {0, 1, 149}) {
        EXPECT_EQ(index.GetItemText(row, 0), QString::number(row + 1));
        EXPECT_EQ(index.GetItemText(row, 1), QString::fromStdString(TimeText(record(row))));
    }
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_EQ(Page().Progress().value(), 100);
    ExpectButtonsEnabled(true);
    EXPECT_TRUE(shown.empty());

    // A chosen row shows its record, also after the numbers were sorted as text.
    index.SelectRow(4);
    const auto texts = DetailTexts(record(4), TableLanguage::English);
    for (int row = 0; row < 15; ++row)
        EXPECT_EQ(Page().ParamList().GetItemText(row, 1), QString::fromStdString(texts[row]));
    index.SortByColumn(0);  // 1, 10, 100, 101, ...
    index.SelectRow(2);
    ASSERT_EQ(index.GetItemText(2, 0), "100");
    EXPECT_EQ(Detail("Time"), QString::fromStdString(TimeText(record(99))));
    // The detail list sorted by its captions keeps each value beside its caption.
    Page().ParamList().SortByColumn(0);
    index.SelectRow(3);
    EXPECT_EQ(Detail("Loss Value"), QString::fromStdString(LossText(record(100))));
    // Clicking beside the rows chooses nothing and leaves the details as they were.
    const QString shown = Page().ParamList().GetItemText(0, 1);
    index.SelectRow(-1);
    EXPECT_EQ(Page().ParamList().GetItemText(0, 1), shown);
}

TEST_F(HistoryPageTest, ACancelledDownloadSaysHowFarAndIsExportedOnlyKnowingly) {
    splicer->SetFault(cmd::RecordDownload, {FaultKind::Trickle, 1});
    ASSERT_TRUE(OpenLink());
    Page().OnBnClickedReceive();
    ExpectButtonsEnabled(false);
    // Records are listed while the rest is still on its way.
    EXPECT_TRUE(WaitFor([&] { return Page().IndexList().GetItemCount() >= 2; }));
    EXPECT_TRUE(Page().Downloading());
    ExpectButtonsEnabled(false);
    // A second press meanwhile sends nothing; the window's Escape cancels.
    Page().OnBnClickedReceive();
    EXPECT_TRUE(dlg->CancelButton().isVisible());
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !Page().Downloading(); }));
    EXPECT_FALSE(dlg->CancelButton().isVisible());
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::RecordCount, cmd::RecordDownload}));
    const std::string howFar = std::to_string(Page().Records().size()) + " of 150 records";
    EXPECT_EQ(dlg->CommText().toStdString(), "Download cancelled after " + howFar);
    ExpectButtonsEnabled(true);

    // The partial list is exported only after a question, and said to be partial.
    const fs::path file = deviceFolder / "CSV" / CsvFileName(LocalToday());
    ASSERT_TRUE(ExcelAndWait());
    EXPECT_EQ(BoxTexts(),
              (Texts{QString::fromStdString(
                         "The last download did not finish: only " + howFar +
                         " arrived, so the file will be incomplete. Export them anyway?"),
                     QString::fromStdString("File successfully!\n" + file.string() +
                                            "\n(incomplete: " + howFar + ")")}));
    EXPECT_EQ(test::Lines(test::ReadFileBytes(file)).size(), Page().Records().size() + 1);
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
    ExpectButtonsEnabled(true);
}

TEST_F(HistoryPageTest, CountAnswersThatFetchNothingSayWhy) {
    // A first download, so that the store has something an empty count must not lose.
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    const struct {
        sim::Fault fault;
        std::vector<std::uint8_t> reply;  // empty: the installed answer
        const char* commText;
    } cases[] = {
        // No answer is reported rather than leaving an earlier success standing.
        {{FaultKind::Silent}, {}, "Comm Fail:No answer,please Exit Program"},
        {{}, {0x87, 0x63, 0x02, 0x00, 0x00, 0xEC}, "Comm Sucess"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commText);
        sim::InstallRecordCommands(*splicer, 150);
        if (!c.reply.empty())
            splicer->SetHandler(cmd::RecordCount, [r = c.reply](const sim::Request&) { return r; });
        splicer->ClearFaults();
        splicer->SetFault(cmd::RecordCount, c.fault);
        // The pane shows the opposite beforehand, so that only a new report passes.
        dlg->ShowCommState(QString(c.commText).startsWith("Comm Fail"), "earlier failure");
        ASSERT_TRUE(ReceiveAndWait());
        EXPECT_EQ(dlg->CommText(), c.commText);
        EXPECT_EQ(Page().IndexList().GetItemCount(), 0);
        EXPECT_EQ(Page().Records().size(), 150u);
        ExpectButtonsEnabled(true);
    }
}

TEST_F(HistoryPageTest, ExcelWritesTheDaysFileAndAsksBeforeReplacingIt) {
    const fs::path file = deviceFolder / "CSV" / CsvFileName(LocalToday());
    ASSERT_TRUE(ExcelAndWait());
    EXPECT_EQ(BoxTexts(), Texts{"There is no record"});
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(ReceiveAndWait());
    shown.clear();
    ASSERT_TRUE(ExcelAndWait());
    const QString saved = "File successfully!\n" + QString::fromStdString(file.string());
    EXPECT_EQ(BoxTexts(), Texts{saved});
    const std::string written = test::ReadFileBytes(file);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 151);
    EXPECT_EQ(Page().Progress().value(), 100);

    // The second export of the day asks first; No keeps the file as it is.
    std::ofstream(file, std::ios::binary) << "kept";
    const QString question =
        QString::fromStdString(file.string()) + " File already exists, overwrite";
    for (MsgAnswer reply : {MsgAnswer::No, MsgAnswer::Yes}) {
        shown.clear();
        answer = reply;
        ASSERT_TRUE(ExcelAndWait());
        EXPECT_EQ(BoxTexts().at(0), question);
        EXPECT_EQ(test::ReadFileBytes(file), reply == MsgAnswer::No ? "kept" : written);
    }
    EXPECT_EQ(BoxTexts(), (Texts{question, saved}));

    // The window's own boxes, made once and shown again: each answer is the one clicked.
    ui::SetMessageBoxHook({});
    struct Restore {
        ui::MessageBoxHook fallback = ui::SetFallbackMessageBoxHook({});
        ~Restore() { ui::SetFallbackMessageBoxHook(fallback); }
    } restore;
    Texts seen;
    QMessageBox::StandardButton click = QMessageBox::No;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                seen.push_back(box->text());
                (box->button(click) ? box->button(click) : box->button(QMessageBox::Ok))->click();
                return;
            }
    });
    clicker.start(10);
    for (QMessageBox::StandardButton reply : {QMessageBox::No, QMessageBox::Yes, QMessageBox::No}) {
        std::ofstream(file, std::ios::binary) << "kept";
        seen.clear();
        click = reply;
        ASSERT_TRUE(ExcelAndWait());
        EXPECT_EQ(seen, reply == QMessageBox::No ? Texts{question} : (Texts{question, saved}));
        EXPECT_EQ(test::ReadFileBytes(file), reply == QMessageBox::No ? "kept" : written);
    }
}

}  // namespace
}  // namespace velmora::ui
