// Measures writing the splice report of the largest download: 5263 archived
// splices and 50 images, read from the archive and written as a PDF and as an HTML
// file (goal: each under 5 s, the archive query included). The report is written
// as the window's worker writes it, so the time is the wait a user sees.
// With a folder as argument the archive and both reports are made and kept there,
// to be looked at.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "base/time_text.h"
#include "bench/bench_support.h"
#include "history/history_download.h"
#include "report/report_data.h"
#include "sim/image_commands.h"
#include "sim/record_commands.h"
#include "ui/report/report_render.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kSplices = kMaxRecordCount;  // 5263
constexpr int kImages = 50;
constexpr double kGoalSeconds = 5.0;

// The archive of one splicer holding every splice of the largest download, with an
// image file for every hundredth splice.
bool FillDataFolder(const std::filesystem::path& folder) {
    auto opened = archive::Archive::Open(archive::ArchiveFile(folder));
    if (!opened.archive) return false;
    std::vector<SpliceRecord> records;
    for (int i = 0; i < kSplices; ++i) records.push_back({sim::SampleRecord(i)});
    const archive::SplicerIdentity splicer{"M2406A0153", "AM2406A0153"};
    if (!opened.archive->StoreDownload(splicer, records, "Bench").ok()) return false;
    const std::filesystem::path jpg = folder / "FS" / splicer.folderName / "JPG";
    std::filesystem::create_directories(jpg);
    for (int k = 0; k < kImages; ++k) {
        const SpliceRecord& r = records[static_cast<std::size_t>(k * (kSplices / kImages))];
        const std::string stamp = CompactTimeStampText(r.yearOffset(), r.month(), r.day(), r.hour(),
                                                       r.minute(), r.second());
        const std::string name = stamp + std::to_string(k) + ".jpg";
        const std::vector<std::uint8_t> bytes = sim::SimulatedImageJpeg(k);
        std::ofstream(jpg / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!opened.archive->StoreImage(splicer, {stamp, name, bytes}).ok()) return false;
    }
    return true;
}

void Measure(const std::filesystem::path& folder, const char* name, bench::Goals& goals) {
    const auto t0 = Clock::now();
    std::string error;
    const auto made = report::LoadReport(folder, {.job = "Bench"}, {}, &error);
    if (!made) {
        goals.NotMeasured(std::string(name) + " written", error);
        return;
    }
    const auto t1 = Clock::now();
    const report::WriteResult written = report::WriteReport(folder / name, *made);
    const double total = bench::Seconds(Clock::now() - t0);
    std::error_code ec;
    const std::uintmax_t bytes = written.ok ? std::filesystem::file_size(folder / name, ec) : 0;
    std::printf("%-12s %zu splices, %zu images: query %.3f s, total %.3f s, %ju bytes %s\n", name,
                made->rows.size(), made->images.size(), bench::Seconds(t1 - t0), total, bytes,
                written.ok ? "" : written.error.c_str());
    const std::string what = name;
    bool measured =
        goals.Expect(what + ": splices in it", static_cast<long long>(made->rows.size()), kSplices);
    measured = goals.Expect(what + ": images in it", static_cast<long long>(made->images.size()),
                            kImages) &&
               measured;
    measured = goals.Expect(what + ": written, not empty", written.ok && bytes > 0, 1) && measured;
    if (measured) goals.Under(what + ": query and writing", total, kGoalSeconds, "s", 3);
}

}  // namespace

int main(int argc, char** argv) {
    report::GuiForReport gui;
    const bench::ScratchFolder scratch(argc, argv, "velmora-report");
    if (scratch.Path().empty()) return 1;
    const std::filesystem::path& folder = scratch.Path();
    bench::Goals goals("bench_report");
    if (FillDataFolder(folder)) {
        Measure(folder, "report.pdf", goals);
        Measure(folder, "report.html", goals);
    } else {
        goals.NotMeasured("the report", "the archive could not be filled");
    }
    return goals.Finish();
}
