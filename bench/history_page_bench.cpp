// Measures how the Result page keeps up with the largest download (5263
// records) from a paced virtual splicer at 256000 bit/s:
//  1. records listed as they arrive: time beyond the line time, process CPU,
//     and the longest the window's event loop went without a turn;
//  2. a stream that is listed only at its end, all 5263 rows at once: the
//     longest stall;
//  3. the EXCEL export of those records: its duration (the window waits for it).
// Runs offscreen unless a platform is chosen.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench/bench_support.h"
#include "base/app_config.h"
#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "history/history_download.h"
#include "protocol/command_catalogue.h"
#include "sim/record_commands.h"
#include "sim/virtual_splicer.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using namespace velmora::ui;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 256000;
constexpr int kRecords = kMaxRecordCount;

// The longest gap between turns of the event loop while it runs, seen by a
// timer of kTick ms (its own wake-ups cost a little CPU).
constexpr int kTick = 5;
class StallWatch {
public:
    StallWatch() {
        timer_.setInterval(kTick);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.restart());
        });
    }
    void Start() {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    qint64 Stop() {
        timer_.stop();
        return std::max(longest_, clock_.elapsed());
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

struct Run {
    double seconds = 0;
    double cpu = 0;        // the whole process, the virtual splicer included
    double windowCpu = 0;  // the window's thread alone
    qint64 stallMs = 0;
    int rows = 0;
};

Run Download(CVelmoraDlg& dlg, Link& link) {
    CHistoryDlg& page = dlg.HistoryPage();
    StallWatch watch;
    Run run;
    const double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double windowCpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto t0 = Clock::now();
    page.OnBnClickedReceive();
    watch.Start();
    while (page.Downloading()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.stallMs = watch.Stop();
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    run.cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    run.windowCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - windowCpu0;
    run.rows = page.IndexList().GetItemCount();
    if (run.rows != kRecords) std::fprintf(stderr, "status: %s\n", link.CommStatusText.c_str());
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMessageBoxHook([](const QString&, const QString&, MsgButtons, MsgIcon) {
        return MsgAnswer::Yes;
    });
    AppConfig config;
    config.EnglishFlag = 1;
    config.AppDirectory = std::filesystem::temp_directory_path() / "velmora-history-page-bench";
    InstallConfig(config);

    sim::SplicerOptions options;
    options.baud = kBaud;
    sim::VirtualSplicer splicer(options);
    std::string error;
    if (!splicer.Start(&error)) {
        std::fprintf(stderr, "virtual splicer: %s\n", error.c_str());
        return 1;
    }
    sim::InstallRecordCommands(splicer, kRecords);
    Link link;
    if (!link.OpenPort(splicer.PortPath(), kBaud)) {
        std::fprintf(stderr, "%s\n", link.CommStatusText.c_str());
        return 1;
    }
    link.DeviceFolder = config.AppDirectory / "FS" / "bench";
    CVelmoraDlg dlg(link);
    dlg.show();
    dlg.TabCtrl().TabBar().setCurrentIndex(kHistoryTab);
    QApplication::processEvents();

    const double lineSeconds = (kRecords * kRecordFrameSize + 6) * 10.0 / kBaud;
    std::printf("%d records at %d bit/s: line time %.3f s\n", kRecords, kBaud, lineSeconds);

    const Run listed = Download(dlg, link);
    std::printf("listed as they arrive: %d rows in %.3f s (%.0f ms beyond the line)\n"
                "  CPU of the window's thread %.3f s (%.1f%% of one core), of the process "
                "%.3f s (%.1f%%)\n  longest stall of the window %lld ms\n",
                listed.rows, listed.seconds, (listed.seconds - lineSeconds) * 1000,
                listed.windowCpu, 100 * listed.windowCpu / listed.seconds, listed.cpu,
                100 * listed.cpu / listed.seconds, static_cast<long long>(listed.stallMs));

    // A stream that does not begin with 87 64 is listed only once it is all in.
    auto odd = sim::SampleRecordStream(kRecords);
    odd[1] = 0x65;
    splicer.SetHandler(cmd::RecordDownload, [odd](const sim::Request&) { return odd; });
    const Run atOnce = Download(dlg, link);
    std::printf("listed all at once: %d rows in %.3f s, longest stall %lld ms\n", atOnce.rows,
                atOnce.seconds, static_cast<long long>(atOnce.stallMs));

    QElapsedTimer exportClock;
    exportClock.start();
    dlg.HistoryPage().OnBnClickedExcel();
    std::printf("EXCEL export of %zu records: %lld ms\n", dlg.HistoryPage().Records().size(),
                static_cast<long long>(exportClock.elapsed()));

    std::error_code ec;
    std::filesystem::remove_all(config.AppDirectory, ec);
    SetMessageBoxHook(nullptr);
    return 0;
}
