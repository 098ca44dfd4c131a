// Measures writing a large job's deliverables: 200 closures of 100 positions each,
// 20,000 placed splices (every 25th position re-spliced after a failure), written
// as the XLSX splice matrix (goal: under 3 s) and as the job's PDF report with a
// diagram page for each of its 1,800 trays (goal: under 10 s, making the report from
// the matrix included). With a folder as
// argument the files are kept there, to be looked at.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "report/job_report.h"
#include "tests/support/matrix_fixture.h"
#include "ui/report/report_render.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kClosures = 200;
constexpr int kPositions = 100;  // of each closure, 12 a tray
constexpr int kSplices = kClosures * kPositions;
constexpr int kResplicedEvery = 25;
constexpr double kXlsxGoalSeconds = 3.0;
constexpr double kReportGoalSeconds = 10.0;

jobs::SpliceMatrix LargeMatrix() {
    jobs::SpliceMatrix m;
    m.job.details.name = "Bench ring";
    std::int64_t number = 0;
    for (int c = 0; c < kClosures; ++c) {
        std::vector<jobs::MatrixRow> rows;
        for (int k = 0; k < kPositions; ++k) {
            jobs::MatrixRow row = test::MatrixRowOf(k / 12 + 1, k % 12 + 1, k + 1);
            if (k % kResplicedEvery == 0)
                row.resplices = {test::MatrixSpliceOf(++number, 40, 1, k % 60)};
            row.splice = test::MatrixSpliceOf(++number, (k * 7) % 13, 0, k % 60);
            rows.push_back(std::move(row));
        }
        m.closures.push_back(test::MatrixClosureOf("C-" + std::to_string(c + 1),
                                                   jobs::GeoPoint{50 + c * 0.001, 8 + c * 0.001},
                                                   std::move(rows)));
        // Twelve positions a tray: each tray's diagram is a page of the report.
        for (int t = 1; t <= (kPositions + 11) / 12; ++t)
            m.closures.back().trays.push_back({0, 0, {t, 12}});
    }
    test::AddTotals(m);
    return m;
}

// Every splice of the matrix as the archive gives a job's records.
std::vector<archive::ArchivedRecord> RecordsOf(const jobs::SpliceMatrix& m) {
    std::vector<archive::ArchivedRecord> records;
    for (const jobs::MatrixClosure& closure : m.closures)
        for (const jobs::MatrixRow& row : closure.rows)
            for (const jobs::MatrixSplice* s :
                 {row.resplices.empty() ? nullptr : &row.resplices[0], &*row.splice})
                if (s)
                    records.push_back({.id = s->recordId,
                                       .splicerId = 1,
                                       .device = "M2406A0153",
                                       .serialNumber = s->splicer,
                                       .record = s->record,
                                       .job = m.job.details.name,
                                       .firstDownloaded = {},
                                       .images = {}});
    return records;
}

std::uintmax_t Bytes(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    return ec ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
    report::GuiForReport gui;
    const bench::ScratchFolder scratch(argc, argv, "velmora-matrix");
    if (scratch.Path().empty()) return 1;
    const std::filesystem::path& folder = scratch.Path();
    bench::Goals goals("bench_matrix");
    const jobs::SpliceMatrix matrix = LargeMatrix();
    const jobs::MatrixCaptions captions = jobs::LoadMatrixCaptions();
    goals.Expect("placed splices in the matrix", static_cast<long long>(matrix.totals.spliced),
                 kSplices);

    // The matrix as a spreadsheet: a sheet a closure.
    const std::filesystem::path xlsx = folder / "matrix.xlsx";
    auto t0 = Clock::now();
    const FileWriteResult written = jobs::WriteMatrixXlsx(xlsx, matrix, captions);
    const double xlsxSeconds = bench::Seconds(Clock::now() - t0);
    std::printf("matrix.xlsx  %d closures, %d positions: %.3f s, %ju bytes %s\n", kClosures,
                kSplices, xlsxSeconds, Bytes(xlsx), written.reason.c_str());
    if (goals.Expect("matrix.xlsx written, not empty", written.ok && Bytes(xlsx) > 0, 1))
        goals.Under("matrix.xlsx written", xlsxSeconds, kXlsxGoalSeconds, "s", 3);
    const std::string csv = jobs::MatrixCsv(matrix, captions, TableLanguage::English);
    goals.Expect("lines of the same matrix as CSV (header and positions)",
                 static_cast<long long>(std::count(csv.begin(), csv.end(), '\n')), kSplices + 1);

    // The job's report as a PDF, from the matrix and its records.
    const std::filesystem::path pdf = folder / "report.pdf";
    t0 = Clock::now();
    const std::vector<archive::ArchivedRecord> records = RecordsOf(matrix);
    report::Report made = report::MakeReport(records, {}, {.job = matrix.job.details.name},
                                             matrix.limits, folder, TableLanguage::English,
                                             report::LoadCaptions(), report::SpliceNumbers(matrix));
    made.asBuilt = report::MakeAsBuilt(matrix, captions, made.captions);
    const report::WriteResult report = report::WriteReport(pdf, made);
    const double reportSeconds = bench::Seconds(Clock::now() - t0);
    std::printf("report.pdf   %zu records, %zu sections: %.3f s, %ju bytes %s\n", records.size(),
                made.asBuilt->tables.size(), reportSeconds, Bytes(pdf), report.error.c_str());
    const long long sections = kClosures;  // a tray table section for each closure
    bool measured = goals.Expect("report.pdf: sections in it",
                                 static_cast<long long>(made.asBuilt->tables.size()), sections);
    measured =
        goals.Expect("report.pdf: written, not empty", report.ok && Bytes(pdf) > 0, 1) && measured;
    if (measured) goals.Under("report.pdf written", reportSeconds, kReportGoalSeconds, "s", 3);

    return goals.Finish();
}
