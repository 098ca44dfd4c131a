// The hand-over window over a real archive: a job that has not passed says so before
// anything is written, in the words of the Jobs tree; the package goes to the next
// free name beside one already there, and Open folder opens where it went.
#include <QUrl>

#include "archive/archive.h"
#include "jobs/job_verdict.h"
#include "jobs/matrix_texts.h"
#include "support/page_fixture.h"
#include "ui/app/qt_text.h"
#include "ui/jobs/handover_dlg.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class HandoverWindow : public test::PageTest {};

TEST_F(HandoverWindow, AJobNotPassedIsToldThenHandedOverBesideTheLastPackage) {
    auto opened = archive::Archive::Open(archive::ArchiveFile(workDir.path()));
    ASSERT_TRUE(opened.archive);
    std::vector<SpliceRecord> records;
    for (int i = 0; i < 3; ++i) records.push_back({sim::SampleRecord(i)});
    records[1].bytes[6] = 1;  // failed on the splicer
    ASSERT_TRUE(opened.archive->StoreDownload({"M1", "AM1"}, records, "North").ok());
    const std::optional<jobs::SpliceMatrix> matrix = jobs::ReadMatrix(*opened.archive, "North", {});
    ASSERT_TRUE(matrix);
    workDir.Write("out/North.zip", "last week's");

    ui::CHandoverDlg window(dlg.get(), *matrix, workDir.path(), {}, workDir.path() / "out");
    QUrl opened_url;
    window.SetOpener([&](const QUrl& url) {
        opened_url = url;
        return true;
    });
    window.show();
    EXPECT_EQ(window.VerdictText().text(),
              ui::Q(jobs::LoadMatrixCaptions().Verdict(jobs::JudgeJob(*matrix))));
    EXPECT_EQ(jobs::JudgeJob(*matrix).state, jobs::JobState::Failed);
    EXPECT_TRUE(window.NoteText().isVisible());
    window.ZipChoice().click();
    window.ImagesChoice().click();
    EXPECT_EQ(window.Target(), workDir.path() / "out" / "North (2).zip");
    window.WriteButton().click();
    ASSERT_TRUE(WaitFor([&] { return !window.Running(); }));
    EXPECT_EQ(window.StatusText().text().section('\n', 0, 0),
              ui::Q("The package is in " + (workDir.path() / "out" / "North (2).zip").string()));
    EXPECT_EQ(test::ReadFileBytes(workDir.path() / "out" / "North.zip"), "last week's");
    ASSERT_TRUE(window.OpenFolderButton().isVisible());
    window.OpenFolderButton().click();
    EXPECT_EQ(opened_url, QUrl::fromLocalFile(ui::Q((workDir.path() / "out").string())));
}

}  // namespace
}  // namespace velmora
