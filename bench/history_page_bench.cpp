// Measures how the Result page keeps the window responsive while it downloads
// the largest history (5263 records) from a paced virtual splicer at 256000
// bit/s and then exports it, with the real message boxes (answered by a timer
// as a quick user would):
//  1. the window thread's CPU over the download as a share of the line time
//     (goal: under 0.5 %), measured with nothing else on that thread;
//  2. the longest stall of the window thread during a download and around the
//     EXCEL export, its question and its closing box included (goal: under
//     16 ms), seen by the stall probe's 2 ms beat, less the time the thread only
//     waited for a CPU that another program held.
// A download the splicer did not send at the line rate is discarded and run again.
// Runs offscreen unless a platform is chosen, and says so: offscreen hides what a
// window system costs (make bench runs it on Xvfb).
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/app_config.h"
#include "bench/bench_support.h"
#include "history/csv_export.h"
#include "history/history_download.h"
#include "history/history_texts.h"
#include "sim/record_commands.h"
#include "sim/virtual_splicer.h"
#include "ui/app/velmora_dlg.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using namespace velmora::ui;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 256000;
constexpr int kRecords = kMaxRecordCount;
constexpr double kCpuGoalPercent = 0.5;
constexpr double kStallGoalMs = 16.0;
constexpr int kTries = 4;
constexpr int kExports = 3;
// How much later than the line the splicer may send the download.
constexpr double kPaceToleranceMs = 10.0;
constexpr std::chrono::seconds kGiveUp{60};

struct Run {
    double seconds = 0;
    double windowCpu = 0;  // the window's thread alone
    double stallMs = 0;    // the probe's longest stall by the program's doing (0 when not watched)
    double gapMs = 0;      // and its longest gap on the wall clock
    bool ended = false;    // `done` came before kGiveUp
};

// Clicks `button` from the window's event loop (so that the click's own work is
// seen as a stall like any other) and runs the loop until `done` says so on one
// of `signal`'s emissions or the probe's beats. With `probe`, it watches meanwhile.
template <typename Sender, typename Signal>
Run ClickAndRun(QAbstractButton& button, const Sender* sender, Signal signal,
                const std::function<bool()>& done, StallProbe* probe) {
    Run run;
    QEventLoop loop;
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done()) loop.quit();
    };
    const QMetaObject::Connection watch = QObject::connect(sender, signal, &loop, check);
    const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto t0 = Clock::now();
    if (probe) probe->Start();
    giveUp.start(kGiveUp);
    QTimer::singleShot(0, &button, [&button] { button.click(); });
    loop.exec();
    if (probe) probe->Stop();
    QObject::disconnect(watch);
    run.ended = !giveUp.isActive() ? done() : true;
    run.seconds = Seconds(Clock::now() - t0);
    run.windowCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    run.stallMs = probe ? probe->WorstStallMs() : 0;
    run.gapMs = probe ? probe->WorstGapMs() : 0;
    return run;
}

// One download of every record; false (discarded) when it did not list them all
// or the splicer did not send them at the line rate.
bool Download(CHistoryDlg& page, sim::VirtualSplicer& splicer, StallProbe* probe, Run& run) {
    splicer.ResetPaceLag();
    run = ClickAndRun(
        page.ReceiveButton(), &page, &CPageDlg::DownloadBusy,
        [&page] { return !page.Downloading(); }, probe);
    const int rows = page.IndexList().GetItemCount();
    std::printf("  download: %d rows listed in %.3f s, window thread CPU %.1f ms%s\n", rows,
                run.seconds, run.windowCpu * 1e3,
                probe ? (", longest stall " + Fixed(run.stallMs, 2) + " ms (" +
                         Fixed(run.gapMs, 2) + " ms on the wall clock)")
                            .c_str()
                      : "");
    if (!run.ended || rows != kRecords || page.Progress().value() != 100) {
        std::printf("  the download did not list every record (progress %d %%)\n",
                    page.Progress().value());
        return false;
    }
    return ReplyKeptPace(splicer, kRecords * kRecordFrameSize, kBaud, kPaceToleranceMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("window system: %s%s\n", qPrintable(QApplication::platformName()),
                QApplication::platformName() == "offscreen"
                    ? " (a real one costs more, message boxes most of all)"
                    : "");
    AppConfig config;
    config.EnglishFlag = 1;
    config.AppDirectory = std::filesystem::temp_directory_path() / "velmora-history-page-bench";
    InstallConfig(config);
    Goals goals("bench_history_page");

    sim::SplicerOptions options;
    options.baud = kBaud;
    sim::VirtualSplicer splicer(options);
    std::string error;
    if (!splicer.Start(&error)) {
        goals.NotMeasured("the virtual splicer", error);
        return goals.Finish();
    }
    sim::InstallRecordCommands(splicer, kRecords);
    Link link;
    if (!link.OpenPort(splicer.PortPath(), kBaud, &error)) {
        goals.NotMeasured("the port " + splicer.PortPath(), error);
        return goals.Finish();
    }
    CVelmoraDlg dlg(link);
    dlg.Session().DeviceFolder = config.AppDirectory / "FS" / "bench";
    dlg.show();
    dlg.TabCtrl().TabBar().setCurrentIndex(kHistoryTab);
    // A second of the window on screen before the click, as a user takes: the window's
    // work after its start (drawing the pages not yet shown) is not the download's.
    for (const auto clickAt = std::chrono::steady_clock::now() + std::chrono::seconds(1);
         std::chrono::steady_clock::now() < clickAt;)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    CHistoryDlg& page = dlg.HistoryPage();

    const double lineSeconds = LineSeconds(kRecords * kRecordFrameSize, kBaud);
    std::printf("Result page, %d records at %d bit/s: line time %.3f s\n", kRecords, kBaud,
                lineSeconds);

    // 1. The window's CPU, with nothing else beating on its thread.
    Run quiet;
    if (FairRun(kTries, [&] { return Download(page, splicer, nullptr, quiet); }))
        goals.Under("window thread CPU over the download, % of line time",
                    100.0 * quiet.windowCpu / lineSeconds, kCpuGoalPercent, "%", 3);
    else
        goals.NotMeasured("window thread CPU over the download", "no fair download");

    // 2. The same download under the probe.
    StallProbe probe;
    if (!probe.SeesScheduler())
        std::printf("  (no scheduler state: a stall is the whole gap, a busy machine's too)\n");
    Run watched;
    if (FairRun(kTries, [&] { return Download(page, splicer, &probe, watched); })) {
        std::printf("  %s\n", probe.Histogram().c_str());
        goals.Under("longest stall of the window during the download", watched.stallMs,
                    kStallGoalMs, "ms");
    } else {
        goals.NotMeasured("longest stall of the window during the download", "no fair download");
    }

    // 3. The EXCEL export of those records, with its real boxes: the day's file is
    // there already, so each export asks before replacing it, then says it is saved.
    const std::filesystem::path file =
        CsvExportPath(dlg.Session().DeviceFolder, config.AppDirectory, LocalToday());
    const std::string expected =
        CsvDocument(page.Records(), DetailCaptions(), TableLanguage::English);
    BoxCloser closer;
    double worstStall = 0;
    int asked = 0, told = 0, written = 0;
    for (int i = 0; i < kExports; ++i) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "an older export\n";
        closer.Forget();
        const Run exporting = ClickAndRun(
            page.ExcelButton(), &closer.Timer(), &QTimer::timeout,
            [&] { return !page.Exporting() && closer.Answered().size() >= 2; }, &probe);
        std::error_code ec;
        const bool whole = std::filesystem::file_size(file, ec) == expected.size() && !ec;
        std::printf(
            "  export %d: %.3f s, longest stall %.2f ms (%.2f ms on the wall clock), %zu boxes "
            "answered, file %s\n",
            i + 1, exporting.seconds, exporting.stallMs, exporting.gapMs, closer.Answered().size(),
            whole ? "whole" : "NOT WHOLE");
        std::printf("  %s\n", probe.Histogram().c_str());
        worstStall = std::max(worstStall, exporting.stallMs);
        asked += closer.Count(QString::fromStdString(FileExistsText(file)));
        told += closer.Count(QString::fromStdString(Say(history_msg::FileSaved)));
        written += whole ? 1 : 0;
    }
    bool measured = goals.Expect("exports asked before replacing the file", asked, kExports);
    measured = goals.Expect("exports said to be saved", told, kExports) && measured;
    measured = goals.Expect("exports written whole", written, kExports) && measured;
    if (measured)
        goals.Under("longest stall of the window around the export (worst of " +
                        std::to_string(kExports) + ")",
                    worstStall, kStallGoalMs, "ms");
    else
        goals.NotMeasured("longest stall of the window around the export",
                          "the export did not run");

    std::error_code ec;
    std::filesystem::remove_all(config.AppDirectory, ec);
    return goals.Finish();
}
