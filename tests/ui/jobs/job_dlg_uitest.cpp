// The Job tab over a real archive file: a job built with its forms (a duplicate name
// refused in the form, which stays open), splices placed on a tray, a failure redone
// on its position and the redoing undone, as the tray's table shows them; and the
// places as the Archive tab's list shows them; the tray's diagram beside its table.
#include <QTreeWidget>
#include <cstdio>
#include <map>

#include "archive/archive.h"
#include "history/splice_record.h"
#include "support/page_fixture.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_colours.h"
#include "ui/history/history_dlg.h"
#include "ui/jobs/job_dlg.h"

namespace velmora::ui {
namespace {

using Node = CJobDlg::Node;
using test::Texts;

class JobPageTest : public test::PageTest {
  protected:
    CJobDlg& Page() { return dlg->JobPage(); }
    bool Settled() {
        return WaitFor([&] { return dlg->Archiver().Idle() && !Page().Busy(); });
    }
    // The sample record `i` as a passed splice of 0.02 dB, or failed at 0.40 dB.
    static SpliceRecord Splice(int i, bool failed = false) {
        SpliceRecord r{sim::SampleRecord(i)};
        r.bytes[6] = failed ? 1 : 0;
        r.bytes[8] = failed ? 40 : 2;
        r.bytes[9] = 0;
        return r;
    }
    void Store(std::vector<SpliceRecord> records) {
        auto opened = archive::Archive::Open(workDir.path() / "FS" / "archive.db");
        ASSERT_TRUE(opened.archive) << opened.error.message;
        ASSERT_TRUE(
            opened.archive
                ->StoreDownload({test::kPageDevice, sim::kSimSerialNumber}, records, "Riverside")
                .ok());
    }
    // Fills the form open now with `texts` (field, text) and `numbers`, then OK.
    void Submit(std::vector<std::pair<std::string, QString>> texts,
                std::vector<std::pair<std::string, int>> numbers = {}) {
        CJobForm* form = Page().Form();
        ASSERT_NE(form, nullptr);
        for (const auto& [field, text] : texts) form->Text(field)->setText(text);
        for (const auto& [field, n] : numbers) form->Number(field)->setValue(n);
        ASSERT_TRUE(Settled());  // the place form's preview
        form->OkButton().click();
        ASSERT_TRUE(Settled());
    }
    // The table's rows, each as its columns' texts joined by '|'.
    Texts Rows() {
        Texts rows;
        CPagedTableModel& model = Page().PositionModel();
        for (int r = 0; r < model.rowCount(); ++r) {
            QStringList texts;
            for (int c = 0; c < model.columnCount(); ++c)
                texts << model.index(r, c).data().toString();
            rows.push_back(texts.join('|'));
        }
        return rows;
    }
};

TEST_F(JobPageTest, BuildAJobPlaceSplicesRedoAFailureAndUndoIt) {
    SelectTab(kJobTab);
    ASSERT_TRUE(Settled());
    Page().OnBnClickedNewJob();
    Submit({{"name", "Riverside"}, {"customer", "City fibre"}});
    std::vector<SpliceRecord> records;
    for (int i = 0; i < 3; ++i) records.push_back(Splice(i, i == 1));
    Store(records);
    Page().Refresh();
    ASSERT_TRUE(Settled());
    ASSERT_TRUE(Page().Choose(Node::Job, "Riverside"));
    Page().OnBnClickedAddClosure();
    Submit({{"name", "C-17"}, {"location", "Mill Road"}});
    // A second closure of that name is refused in the form, which stays open.
    Page().OnBnClickedAddClosure();
    Submit({{"name", "C-17"}});
    ASSERT_TRUE(Page().Form()->isVisible());
    EXPECT_FALSE(Page().Form()->Refusal().text().isEmpty());
    Page().Form()->reject();

    ASSERT_TRUE(Page().Choose(Node::Closure, "C-17"));
    for (const char* cable : {"F-112", "F-113"}) {
        Page().OnBnClickedAddCable();
        Submit({{"name", cable}}, {{"fibres", 24}});
    }
    // A tray is added at once: the next number, twelve positions.
    Page().OnBnClickedAddTray();
    ASSERT_TRUE(Settled());
    ASSERT_TRUE(Page().Choose(Node::Tray, "C-17", 1));

    // The job's records fill positions 1 to 3, in splice order.
    Page().OnBnClickedPlace();
    Submit({}, {{"a.fibre", 13}, {"b.fibre", 1}});
    EXPECT_FALSE(Page().Form()->isVisible());
    const QString time0 = Q(TimeText(records[0])), time1 = Q(TimeText(records[1]));
    const QString time2 = Q(TimeText(records[2]));
    const Texts placed{
        "1|F-112|13: tube 2 orange, blue|F-113|1: tube 1 blue, blue|0.02|Pass|" +
            QString(sim::kSimSerialNumber) + "|" + time0 + "|",
        "2|F-112|14: tube 2 orange, orange|F-113|2: tube 1 blue, orange|0.40|Splice failed|" +
            QString(sim::kSimSerialNumber) + "|" + time1 + "|",
        "3|F-112|15: tube 2 orange, green|F-113|3: tube 1 blue, green|0.02|Pass|" +
            QString(sim::kSimSerialNumber) + "|" + time2 + "|"};
    EXPECT_EQ(Rows(), placed);
    EXPECT_EQ(Page().PositionModel().index(1, 0).data(Qt::BackgroundRole).value<QColor>(),
              kFailedRowColour);
    // Below the table, the tray's diagram: a line for each of its positions.
    ASSERT_TRUE(Page().DiagramArea().isVisible());
    ASSERT_NE(Page().DiagramView().Diagram(), nullptr);
    EXPECT_EQ(Page().DiagramView().Diagram()->links.size(), 3u);

    // The failure redone: only its position typed, the preview names what it replaces;
    // the newer splice counts, the failure is the attempt it replaced.
    Store({Splice(10)});
    Page().Refresh();
    ASSERT_TRUE(Settled());
    Page().OnBnClickedPlace();
    Page().Form()->Number("position")->setValue(2);
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().Form()->List("preview")->GetItemText(0, 0),
              "re-splice of position 2 (replaces No. 2, 0.40 dB, failed)");
    Submit({});
    ASSERT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[1],
              "2|F-112|14: tube 2 orange, orange|F-113|2: tube 1 blue, orange|0.02|Pass|" +
                  QString(sim::kSimSerialNumber) + "|" + Q(TimeText(Splice(10))) +
                  "|No. 2, 0.40 dB, Splice failed");
    EXPECT_FALSE(Page().PositionModel().index(1, 0).data(Qt::BackgroundRole).isValid());

    Page().OnBnClickedUndoPlacing();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Rows(), placed);

    // Planned from the tab: a position by hand (the tray's next, the next fibres,
    // proposed), then a plan file, all or nothing: a bad row is named and plans nothing.
    Page().OnBnClickedPlanPosition();
    EXPECT_EQ(Page().Form()->Number("position")->value(), 4);
    EXPECT_EQ(Page().Form()->Number("a.fibre")->value(), 16);
    Submit({});
    ASSERT_EQ(Rows().size(), 4u);
    EXPECT_EQ(Rows()[3].section('|', 0, 6),
              "4|F-112|16: tube 2 orange, brown|F-113|4: tube 1 blue, brown||Planned, not spliced");
    const std::string header = "Closure,Tray,Position,Cable A,Fibre A,Cable B,Fibre B\r\n";
    workDir.Write("bad.csv", header + "C-17,1,5,F-112,17,F-113,5\r\nC-17,1,6,F-112,x,F-113,6\r\n");
    workDir.Write("plan.csv",
                  header + "C-17,1,5,F-112,17,F-113,5\r\nC-17,1,6,F-112,18,F-113,6\r\n");
    Page().ImportPlan(workDir.path() / "bad.csv");
    ASSERT_TRUE(Settled());
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown.back().text.contains("Fibre A")) << shown.back().text.toStdString();
    EXPECT_EQ(Rows().size(), 4u);
    Page().ImportPlan(workDir.path() / "plan.csv");
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Rows().size(), 6u);
    ASSERT_TRUE(Page().Choose(Node::Tray, "C-17", 1));
    ASSERT_TRUE(Page().Choose(Node::Job, "Riverside"));
    EXPECT_FALSE(Page().DiagramArea().isVisible()) << "a job has no one diagram";

    // The Archive tab names each record's place, in time order.
    SelectTab(kArchiveTab);
    ASSERT_TRUE(WaitFor([&] { return dlg->Archiver().Idle() && !dlg->ArchivePage().Busy(); }));
    Texts places;
    CPagedTableModel& archived = dlg->ArchivePage().RecordModel();
    for (int r = 0; r < archived.rowCount(); ++r)
        places.push_back(archived.index(r, archived.columnCount() - 1).data().toString());
    EXPECT_EQ(places, (Texts{"C-17 / 1 / 1", "C-17 / 1 / 2", "C-17 / 1 / 3", ""}));
}

// The whole walk from the window alone, every click counted: a day's download from the
// demo splicer, a job of two closures (their cables named with them) and three trays,
// the day's first splice marked a test splice in the unplaced list (records of no job
// shown there), the trays filled in splice order (a full tray hands placing on to the
// next with room), one failure redone, and the package handed over.
TEST_F(JobPageTest, AJobBuiltPlacedAndHandedOverInAtMostThirtyClicks) {
    int clicks = 0;
    const auto click = [&](auto action) {
        ++clicks;
        action();
        ASSERT_TRUE(Settled());
    };
    ASSERT_TRUE(Connect());
    SelectTab(kHistoryTab);
    dlg->HistoryPage().OnBnClickedReceive();
    ASSERT_TRUE(WaitFor([&] { return !dlg->HistoryPage().Downloading(); }));
    clicks += 4;  // open the port, the Result tab, Receive, the Job tab
    SelectTab(kJobTab);
    click([&] { Page().OnBnClickedNewJob(); });
    click([&] { Submit({{"name", "Riverside"}}); });
    for (const auto& [closure, cables, trays] :
         {std::tuple{"C-17", "F-112, F-113", 2}, std::tuple{"C-18", "F-113, F-114", 1}}) {
        click([&] { Page().OnBnClickedAddClosure(); });
        click([&] { Submit({{"name", closure}, {"cables", cables}}, {{"cableFibres", 24}}); });
        for (int tray = 0; tray < trays; ++tray) click([&] { Page().OnBnClickedAddTray(); });
    }
    ASSERT_EQ(Page().Matrix()->closures.size(), 2u);
    EXPECT_EQ(Page().Matrix()->closures[1].cables.size(), 2u);
    EXPECT_EQ(Page().Matrix()->closures[1].cables[1].details.fibres, 24);

    // The latest day's records (the splicer's 121st to 150th), of no job, listed.
    click([&] { ASSERT_TRUE(Page().Choose(Node::Unplaced)); });
    ASSERT_EQ(Rows().size(), 30u);
    EXPECT_EQ(Rows()[0].section('|', 0, 0), "no job");
    EXPECT_EQ(Rows()[0].section('|', 8, 8), Q(TimeText(SpliceRecord{sim::SampleRecord(120)})));
    click([&] { Page().PositionList().SelectRow(0); });
    click([&] { Page().OnBnClickedTestSplice(); });
    ASSERT_EQ(Page().Matrix()->testSplices.size(), 1u);
    EXPECT_EQ(Rows().size(), 29u);

    const auto place = [&](const QString& tray) {
        click([&] { Page().OnBnClickedPlace(); });
        EXPECT_EQ(Page().Form()->Choice("tray")->currentText(), tray);
    };
    click([&] { ASSERT_TRUE(Page().Choose(Node::Tray, "C-17", 1)); });
    place("C-17, tray 1");
    click([&] { Submit({}); });
    // The failure among them redone with the next record: its tray chosen again (the
    // form went on to the next with room) and its position typed.
    int failed = 0;
    for (const QString& row : Rows())
        if (row.section('|', 6, 6) == "Splice failed") failed = row.section('|', 0, 0).toInt();
    ASSERT_GT(failed, 0) << "the demo's first tray holds a failure";
    place("C-17, tray 2");
    click([&] { Page().Form()->Choice("tray")->setCurrentIndex(0); });
    EXPECT_EQ(Page().Form()->Refusal().text(),
              "This tray is full: choose another, or type a position to re-splice");
    Page().Form()->Number("position")->setValue(failed);
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(Page().Form()->List("preview")->GetItemText(0, 0).startsWith(
        "re-splice of position " + QString::number(failed)));
    EXPECT_EQ(Page().Form()->List("preview")->GetItemCount(), 1);
    click([&] { Submit({}); });
    place("C-17, tray 2");
    click([&] { Submit({}); });
    place("C-18, tray 1");
    click([&] { Submit({}); });
    EXPECT_EQ(Page().Matrix()->unplaced.size(), 0u);
    EXPECT_EQ(Page().Matrix()->totals.spliced, 28);

    click([&] { Page().OnBnClickedHandOver(); });
    auto* handover = Page().findChild<CHandoverDlg*>();
    ASSERT_NE(handover, nullptr);
    std::filesystem::create_directories(workDir.path() / "out");
    handover->SetFolder(workDir.path() / "out");  // the user's documents otherwise
    click([&] { handover->WriteButton().click(); });
    ASSERT_TRUE(WaitFor([&] { return !handover->Running(); }));
    ASSERT_TRUE(std::filesystem::is_directory(handover->Target()))
        << handover->StatusText().text().toStdString();
    std::map<std::string, int> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(handover->Target()))
        if (entry.is_regular_file()) ++files[entry.path().extension().string()];
    EXPECT_EQ(files, (std::map<std::string, int>{
                         {".csv", 1}, {".geojson", 1}, {".pdf", 1}, {".svg", 3}, {".xlsx", 1}}));
    // A file of the package on its own, written off the window's thread.
    Page().WriteFileTo(JobFile::Csv, workDir.path() / "alone.csv");
    ASSERT_TRUE(Settled());
    EXPECT_EQ(test::ReadFileBytes(workDir.path() / "alone.csv"),
              test::ReadFileBytes(handover->Target() / "matrix.csv"));
    EXPECT_LE(clicks, 30);
    std::printf("the whole walk took %d clicks\n", clicks);
}

}  // namespace
}  // namespace velmora::ui
