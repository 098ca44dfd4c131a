// The window's report job: written on its own thread while the window keeps
// running, then told on the window thread; a failure says why and writes nothing.
#include <gtest/gtest.h>

#include <QProgressDialog>
#include <QThread>
#include <QWidget>

#include "app/ui_wait.h"
#include "archive/archive.h"
#include "report/report_dlg.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(ReportJob, WritesOffTheWindowThreadAndTellsTheOutcome) {
    test::TempDir data;
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(data.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> records;
        for (int i = 0; i < 300; ++i) records.push_back({sim::SampleRecord(i)});
        ASSERT_TRUE(opened.archive->StoreDownload({"M1", "AM1"}, records, "North").ok());
    }
    const struct {
        std::string job;
        const char* file;
        bool written;
    } cases[] = {{"North", "north.pdf", true}, {"South", "south.html", false}};
    for (const auto& c : cases) {
        QWidget window;
        const fs::path file = data.path() / c.file;
        auto* job = new ui::ReportJob(&window, {.job = c.job}, {}, file, data.path());
        QString error;
        bool finished = false;
        QObject::connect(job, &ui::ReportJob::finished, &window,
                         [&](const QString&, const QString& e, const QStringList&) {
                             EXPECT_EQ(QThread::currentThread(), window.thread());
                             error = e;
                             finished = true;
                         });
        job->Start();
        EXPECT_TRUE(window.findChild<QProgressDialog*>()) << "progress is shown";
        ASSERT_TRUE(test::WaitUntil([&] { return finished; }, std::chrono::seconds(30))) << c.file;
        EXPECT_EQ(error.isEmpty(), c.written) << error.toStdString();
        EXPECT_EQ(fs::exists(file), c.written) << c.file;
    }
}

}  // namespace
}  // namespace velmora
