// The Job tab over a real archive file: a job built with its forms (a duplicate name
// refused in the form, which stays open), splices placed on a tray, a failure redone
// on its position and the redoing undone, as the tray's table shows them; and the
// places as the Archive tab's list shows them; the tray's diagram beside its table.
#include <QTreeWidget>

#include "archive/archive.h"
#include "history/splice_record.h"
#include "support/page_fixture.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_colours.h"
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
    for (int i = 0; i < 4; ++i) records.push_back(Splice(i, i == 2));
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
    Page().OnBnClickedAddTray();
    Submit({}, {{"capacity", 12}});
    ASSERT_TRUE(Page().Choose(Node::Tray, "C-17", 1));

    // The three latest records fill positions 1 to 3, in time order.
    Page().OnBnClickedPlace();
    Submit({}, {{"count", 3}, {"a.fibre", 13}, {"b.fibre", 1}});
    EXPECT_FALSE(Page().Form()->isVisible());
    const QString time1 = Q(TimeText(records[1])), time2 = Q(TimeText(records[2]));
    const QString time3 = Q(TimeText(records[3]));
    const Texts placed{
        "1|F-112|13: tube 2 orange, blue|F-113|1: tube 1 blue, blue|0.02|Passed|" +
            QString(sim::kSimSerialNumber) + "|" + time1 + "|",
        "2|F-112|14: tube 2 orange, orange|F-113|2: tube 1 blue, orange|0.40|Failed on the "
        "splicer|" +
            QString(sim::kSimSerialNumber) + "|" + time2 + "|",
        "3|F-112|15: tube 2 orange, green|F-113|3: tube 1 blue, green|0.02|Passed|" +
            QString(sim::kSimSerialNumber) + "|" + time3 + "|"};
    EXPECT_EQ(Rows(), placed);
    EXPECT_EQ(Page().PositionModel().index(1, 0).data(Qt::BackgroundRole).value<QColor>(),
              kFailedRowColour);
    // Below the table, the tray's diagram: a line for each of its positions.
    ASSERT_TRUE(Page().DiagramArea().isVisible());
    ASSERT_NE(Page().DiagramView().Diagram(), nullptr);
    EXPECT_EQ(Page().DiagramView().Diagram()->links.size(), 3u);

    // The failure redone: a newer splice on position 2 counts, the failure is the attempt
    // it replaced, named.
    Store({Splice(10)});
    Page().Refresh();
    ASSERT_TRUE(Settled());
    Page().OnBnClickedPlace();
    Submit({}, {{"position", 2}, {"count", 1}, {"a.fibre", 14}, {"b.fibre", 2}});
    ASSERT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[1],
              "2|F-112|14: tube 2 orange, orange|F-113|2: tube 1 blue, orange|0.02|Passed|" +
                  QString(sim::kSimSerialNumber) + "|" + Q(TimeText(Splice(10))) +
                  "|No. 3, 0.40 dB, Splice failed");
    EXPECT_FALSE(Page().PositionModel().index(1, 0).data(Qt::BackgroundRole).isValid());

    Page().OnBnClickedUndoPlacing();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Rows(), placed);
    ASSERT_TRUE(Page().Choose(Node::Job, "Riverside"));
    EXPECT_FALSE(Page().DiagramArea().isVisible()) << "a job has no one diagram";

    // The Archive tab names each record's place, in time order.
    SelectTab(kArchiveTab);
    ASSERT_TRUE(WaitFor([&] { return dlg->Archiver().Idle() && !dlg->ArchivePage().Busy(); }));
    Texts places;
    CPagedTableModel& archived = dlg->ArchivePage().RecordModel();
    for (int r = 0; r < archived.rowCount(); ++r)
        places.push_back(archived.index(r, archived.columnCount() - 1).data().toString());
    EXPECT_EQ(places, (Texts{"", "C-17 / 1 / 1", "C-17 / 1 / 2", "C-17 / 1 / 3", ""}));
}

}  // namespace
}  // namespace velmora::ui
