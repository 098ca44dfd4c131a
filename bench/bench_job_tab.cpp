// Measures the Job tab over a job of 200 closures and 20,000 placed splices:
//  1. building that job through the job store: the records stored as one download
//     named with the job, then per closure its two cables and five trays, and each
//     tray's 20 splices placed in one step (one transaction each);
//  2. from the click on the tab until its tree shows the job's closures, and the
//     longest stall of the window thread meanwhile (goal: none over 16 ms);
//  3. from the click on a tray until its rows are drawn (goal: under 50 ms), for trays
//     across the job, and the longest stall meanwhile (goal: none over 16 ms).
// The stalls are seen by the shared event-loop probe (a 2 ms timer on the window
// thread, net of the time the thread waited for a CPU). Runs offscreen unless a
// platform is chosen.
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "base/app_config.h"
#include "bench/bench_support.h"
#include "jobs/job_store.h"
#include "sim/record_commands.h"
#include "ui/app/message_box.h"
#include "ui/app/velmora_dlg.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using namespace velmora::ui;
using Clock = std::chrono::steady_clock;

constexpr int kClosures = 200;
constexpr int kTrays = 5;     // a closure's
constexpr int kPerTray = 20;  // splices placed on each tray
constexpr int kSplices = kClosures * kTrays * kPerTray;
constexpr double kTrayGoalMs = 50.0;
constexpr double kStallGoalMs = 16.0;
constexpr const char* kJob = "Bench ring";

// Runs the window's events until `done` (checked every millisecond), at most 60 s.
bool RunUntil(const std::function<bool()>& done) {
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (Clock::now() > giveUp) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        if (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    }
    return true;
}

std::string ClosureName(int c) {
    return "C-" + std::to_string(1000 + c);
}

// The job, built as a technician's program would: through the job store. Returns the
// splices placed, or -1 after saying what failed.
long long Build(const std::filesystem::path& folder, double& seconds) {
    const auto t0 = Clock::now();
    auto opened = archive::Archive::Open(archive::ArchiveFile(folder));
    if (!opened.archive) {
        std::fprintf(stderr, "cannot open the archive: %s\n", opened.error.message.c_str());
        return -1;
    }
    archive::Archive& archive = *opened.archive;
    std::vector<SpliceRecord> download;
    download.reserve(kSplices);
    for (int i = 0; i < kSplices; ++i) download.push_back({sim::SampleRecord(i)});
    jobs::JobStore store(archive);
    auto fail = [](const char* what, const jobs::JobResult& r) {
        std::fprintf(stderr, "%s: refusal %d (%s) %s\n", what, static_cast<int>(r.refusal),
                     r.detail.c_str(), r.error.message.c_str());
        return -1;
    };
    const jobs::JobResult job = store.CreateJob({.name = kJob});
    if (!job.ok()) return fail("job", job);
    if (!archive.StoreDownload({"BENCH0001", "SBENCH0001"}, download, kJob).ok()) return -1;
    long long placed = 0;
    for (int c = 0; c < kClosures; ++c) {
        const jobs::JobResult closure = store.AddClosure(job.id, {.name = ClosureName(c)});
        if (!closure.ok()) return fail("closure", closure);
        const jobs::JobResult a = store.AddCable(closure.id, {"F-A", 144, 12});
        const jobs::JobResult b = store.AddCable(closure.id, {"F-B", 144, 12});
        if (!a.ok() || !b.ok()) return fail("cable", a.ok() ? b : a);
        for (int t = 1; t <= kTrays; ++t) {
            const jobs::JobResult tray = store.AddTray(closure.id, {t, 24});
            if (!tray.ok()) return fail("tray", tray);
            const auto records = store.LatestUnplaced(job.id, kPerTray);
            if (!records || records->size() != kPerTray) return -1;
            const int fibre = (t - 1) * kPerTray + 1;
            const jobs::JobResult done =
                store.Place({tray.id, 1, {a.id, fibre}, {b.id, fibre}, *records});
            if (!done.ok()) return fail("placing", done);
            placed += static_cast<long long>(done.count);
        }
    }
    seconds = Seconds(Clock::now() - t0);
    return placed;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMessageBoxHook([](const QString& text, const QString&, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });
    Goals goals("bench_job_tab");
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("velmora_job_tab_bench_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    double buildSeconds = 0;
    const long long placed = Build(folder, buildSeconds);
    std::printf("  job of %d closures built through the job store in %.1f s\n", kClosures,
                buildSeconds);
    if (!goals.Expect("splices placed in the job", placed, kSplices)) {
        std::filesystem::remove_all(folder);
        return goals.Finish();
    }
    AppConfig config;
    config.AppDirectory = folder;
    InstallConfig(config);
    {
        Link link;
        CVelmoraDlg dlg(link);
        dlg.resize(1000, 700);
        dlg.show();
        // A second of the window on screen before the click, as a user takes.
        const auto clickAt = Clock::now() + std::chrono::seconds(1);
        RunUntil([&] { return Clock::now() >= clickAt; });
        CJobDlg& page = dlg.JobPage();
        StallProbe probe;

        probe.Start();
        auto t0 = Clock::now();
        dlg.TabCtrl().TabBar().setCurrentIndex(kJobTab);
        const bool shown = RunUntil([&] { return !page.Busy() && page.Matrix(); });
        page.Tree().viewport()->repaint();
        const double tabMs = Milliseconds(Clock::now() - t0);
        probe.Stop();
        std::printf("  the tab showed the job's tree %.1f ms after its click\n", tabMs);
        const QTreeWidgetItem* jobItem =
            page.Tree().topLevelItemCount() > 0 ? page.Tree().topLevelItem(0) : nullptr;
        // The job's closures, its unplaced records and its test splices.
        goals.Expect("closures in the tree", shown && jobItem ? jobItem->childCount() - 2 : -1,
                     kClosures);
        goals.Under("longest stall of the window, showing the tab", probe.WorstStallMs(),
                    kStallGoalMs, "ms");

        double worstMs = 0, worstStall = 0;
        long long rows = 0;
        int clicks = 0;
        for (int c = 0; c < kClosures; c += 20)
            for (int t = 1; t <= kTrays; t += 2) {
                probe.Start();
                t0 = Clock::now();
                if (!page.Choose(CJobDlg::Node::Tray, QString::fromStdString(ClosureName(c)), t))
                    continue;
                const bool drawn = RunUntil([&] {
                    page.PositionList().viewport()->repaint();
                    return page.RecordAt(kPerTray - 1) != 0;
                });
                const double ms = Milliseconds(Clock::now() - t0);
                probe.Stop();
                ++clicks;
                if (drawn) rows += page.PositionModel().rowCount();
                worstMs = std::max(worstMs, ms);
                worstStall = std::max(worstStall, probe.WorstStallMs());
            }
        goals.Expect("trays clicked", clicks, 30);
        goals.Expect("rows drawn over those trays", rows, 30LL * kPerTray);
        goals.Under("a tray, click to rows drawn (worst of 30)", worstMs, kTrayGoalMs, "ms");
        goals.Under("longest stall of the window, clicking trays", worstStall, kStallGoalMs, "ms");
    }
    std::filesystem::remove_all(folder);
    return goals.Finish();
}
