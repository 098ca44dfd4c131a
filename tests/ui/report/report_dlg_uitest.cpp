// The report's window over the Archive tab (once written: Screens): a report of
// nothing is refused before anything is asked, and Cancel or closing the main
// window stops it, leaving a file already there whole.
#include <QTimer>

#include "archive/archive.h"
#include "support/cli_runner.h"
#include "support/page_fixture.h"
#include "ui/app/qt_text.h"
#include "ui/archive/archive_dlg.h"
#include "ui/report/report_dlg.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class ReportWindow : public test::PageTest {
  protected:
    void SetUp() override {
        PageTest::SetUp();
        auto opened = archive::Archive::Open(archive::ArchiveFile(workDir.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> records;
        for (int i = 0; i < 300; ++i) records.push_back({sim::SampleRecord(i)});
        ASSERT_TRUE(opened.archive->StoreDownload({"M1", "AM1"}, records, "North").ok());
    }
};

TEST_F(ReportWindow, NothingToReportIsRefusedBeforeAnythingIsAsked) {
    // Limits asked would be closed unanswered (and the box missed) rather than hang the test.
    QTimer::singleShot(0, dlg.get(), [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    ui::ReportOnArchive(&dlg->ArchivePage(), {}, 0, {});
    EXPECT_EQ(BoxTexts(), (test::Texts{ui::Q(report::report_msg::NothingSelected)}));
}

TEST_F(ReportWindow, CancelAndClosingTheWindowLeaveTheOldFileWhole) {
    for (const bool byCancel : {true, false}) {
        SCOPED_TRACE(byCancel ? "Cancel" : "the main window closed");
        const fs::path file = workDir.Write("out/north.pdf", "the report of yesterday");
        ui::CReportDlg report(&dlg->ArchivePage(), {.job = "North"}, {}, file, workDir.path());
        report.Start();
        if (byCancel)
            report.CancelButton().click();
        else
            dlg->close();
        ASSERT_TRUE(WaitFor([&] { return !report.Running(); }));
        EXPECT_TRUE(test::ReadFileBytes(file) == "the report of yesterday") << "replaced";
        EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
    }
}

}  // namespace
}  // namespace velmora
