// The report's window over the Archive tab (once written: Screens): a report of
// nothing is refused before anything is asked, and Cancel or closing the main
// window stops it, leaving a file already there whole. The Job tab's report is the
// job's, whatever the Archive tab shows.
#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include "archive/archive.h"
#include "jobs/job_verdict.h"
#include "jobs/matrix_texts.h"
#include "support/cli_runner.h"
#include "support/page_fixture.h"
#include "ui/app/qt_text.h"
#include "ui/archive/archive_dlg.h"
#include "ui/jobs/job_dlg.h"
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

TEST_F(ReportWindow, TheJobTabsReportIsTheJobsWhateverTheArchiveTabShows) {
    auto settled = [&] {
        return WaitFor([&] {
            return dlg->Archiver().Idle() && !dlg->ArchivePage().Busy() && !dlg->JobPage().Busy();
        });
    };
    // The Archive tab left filtered on the job, from a day after all its splices.
    SelectTab(ui::kArchiveTab);
    ASSERT_TRUE(settled());
    ui::CArchiveDlg& records = dlg->ArchivePage();
    records.JobCombo().setCurrentIndex(records.JobCombo().findText("North"));
    emit records.JobCombo().activated(records.JobCombo().currentIndex());
    records.FromDate().setDate(QDate(2030, 1, 1));
    records.FromCheck().setChecked(true);
    ASSERT_TRUE(settled());
    ASSERT_EQ(records.RecordModel().rowCount(), 0);

    SelectTab(ui::kJobTab);
    ASSERT_TRUE(settled());
    ASSERT_TRUE(dlg->JobPage().Choose(ui::CJobDlg::Node::Job, "North"));
    // The job's limits asked, then the file, each answered as a person would.
    const fs::path file = workDir.path() / "north.html";
    QTimer answer;
    int ticks = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!modal) return;
        if (++ticks > 500) return modal->reject();  // never answered: the test fails, not hangs
        if (auto* name = modal->findChild<QLineEdit*>("fileNameEdit"))
            name->setText(ui::Q(file.string()));
        modal->accept();
    });
    answer.start(20);
    dlg->JobPage().OnBnClickedReport();
    answer.stop();
    const auto windows = dlg->JobPage().findChildren<ui::CReportDlg*>();
    ASSERT_EQ(windows.size(), 1);
    windows.front()->SetOpener([](const QUrl&) { return true; });
    ASSERT_TRUE(WaitFor([&] { return !windows.front()->Running(); }))
        << windows.front()->StatusText().text().toStdString();

    auto opened = archive::Archive::Open(archive::ArchiveFile(workDir.path()),
                                         {.purpose = archive::OpenFor::Reading});
    ASSERT_TRUE(opened.archive);
    const auto matrix =
        jobs::ReadMatrix(*opened.archive, "North", report::LoadLimits(workDir.path()));
    ASSERT_TRUE(matrix);
    const std::string verdict = jobs::LoadMatrixCaptions().Verdict(jobs::JudgeJob(*matrix));
    const std::string doc = test::ReadFileBytes(file);
    EXPECT_NE(doc.find("<h1>Job Report</h1>"), std::string::npos);
    EXPECT_NE(doc.find("id=\"verdict\">" + verdict + "<"), std::string::npos) << verdict;
    EXPECT_NE(doc.find("id=\"splices\">300<"), std::string::npos) << "every splice of the job";
    EXPECT_FALSE(fs::exists(workDir.path() / "report.ini"))
        << "the job's limits are not remembered";
}

}  // namespace
}  // namespace velmora
