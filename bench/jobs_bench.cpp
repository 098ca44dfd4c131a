// Measures the as-built documentation of a large job, built through the job store
// as a technician would: 200 closures of 100 positions (two 144-fibre cables, trays
// of 12), 20,000 placed splices from four splicers.
//  1. placing 96 splices at once on one tray: one transaction (goal: under 50 ms);
//  2. reading the whole job's splice matrix, as every deliverable and the Job tab
//     do (goal: under 300 ms), its rows and splices counted against what was placed;
//  3. judging every job, as job list and the Job tab's tree do (goal: under 300 ms);
//  4. the job's own matrix, exported as CSV, imported as its plan: every position
//     checked again (goal: under 2 s).
// The run starts from its own file in a fresh temporary folder.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench_support.h"
#include "jobs/job_store.h"
#include "jobs/job_verdict.h"
#include "jobs/matrix_csv.h"
#include "jobs/plan_import.h"
#include "jobs/splice_matrix.h"
#include "sim/record_commands.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kClosures = 200;
constexpr int kPerClosure = 100;
constexpr int kTray = 12;
constexpr int kSplices = kClosures * kPerClosure;
constexpr int kBatch = 96;
constexpr const char* kJob = "Route 7";

// Records of four splicers a minute apart, each told apart by its index.
std::vector<SpliceRecord> Records(int first, int count) {
    std::vector<SpliceRecord> out;
    for (int i = first; i < first + count; ++i) {
        SpliceRecord r{sim::SampleRecord(0)};
        const int minute = i / 4;
        const int fields[] = {26, 3, 1 + minute / 1440, minute / 60 % 24, minute % 60, i % 60};
        for (int k = 0; k < 6; ++k) r.bytes[k] = static_cast<std::uint8_t>(fields[k]);
        r.bytes[32] = static_cast<std::uint8_t>(i & 0xFF);
        r.bytes[33] = static_cast<std::uint8_t>(i >> 8);
        out.push_back(r);
    }
    return out;
}

bool StoreRecords(archive::Archive& archive, int first, int count) {
    const std::vector<SpliceRecord> records = Records(first, count);
    for (int s = 0; s < 4; ++s) {
        std::vector<SpliceRecord> own;
        for (std::size_t i = static_cast<std::size_t>(s); i < records.size(); i += 4)
            own.push_back(records[i]);
        const std::string serial = "M24060" + std::to_string(s);
        if (!archive.StoreDownload({serial.substr(1), serial}, own, kJob).ok()) return false;
    }
    return true;
}

// A closure of two cables and the trays for `positions`; its tray ids.
std::vector<std::int64_t> MakeClosure(jobs::JobStore& store, std::int64_t job,
                                      const std::string& name, int positions, int perTray,
                                      std::int64_t& cableA, std::int64_t& cableB) {
    const std::int64_t closure = store.AddClosure(job, {.name = name}).id;
    cableA = store.AddCable(closure, {.name = name + "-A", .fibres = 144}).id;
    cableB = store.AddCable(closure, {.name = name + "-B", .fibres = 144}).id;
    std::vector<std::int64_t> trays;
    for (int t = 0; t * perTray < positions; ++t)
        trays.push_back(store.AddTray(closure, {.number = t + 1, .capacity = perTray}).id);
    return trays;
}

// The job, placed a tray at a time, oldest records first; false when a step failed.
bool BuildJob(jobs::JobStore& store, std::int64_t job) {
    const auto unplaced = store.LatestUnplaced(job, kSplices + kBatch);
    if (!unplaced || unplaced->size() != static_cast<std::size_t>(kSplices + kBatch)) return false;
    std::size_t next = 0;
    for (int c = 0; c < kClosures; ++c) {
        std::int64_t a = 0, b = 0;
        char name[16];
        std::snprintf(name, sizeof name, "C-%03d", c + 1);
        const auto trays = MakeClosure(store, job, name, kPerClosure, kTray, a, b);
        for (std::size_t t = 0; t < trays.size(); ++t) {
            const int fibre = static_cast<int>(t) * kTray + 1;
            const std::size_t n = std::min<std::size_t>(kTray, kPerClosure - (fibre - 1));
            std::vector<std::int64_t> records(unplaced->begin() + static_cast<long>(next),
                                              unplaced->begin() + static_cast<long>(next + n));
            next += n;
            if (!store.Place({trays[t], 1, {a, fibre}, {b, fibre}, records}).ok()) return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const ScratchFolder scratch(argc, argv, "velmora-jobs");
    if (scratch.Path().empty()) return 1;
    const std::filesystem::path& folder = scratch.Path();
    Goals goals("bench_jobs");
    {
        auto opened = archive::Archive::Open(folder / "archive.db");
        if (!opened.archive) {
            goals.NotMeasured("opening the archive", opened.error.message);
            return goals.Finish();
        }
        archive::Archive& archive = *opened.archive;
        jobs::JobStore store(archive);
        const auto t0 = Clock::now();
        const bool built =
            StoreRecords(archive, 0, kSplices + kBatch) && BuildJob(store, store.Job(kJob)->id);
        std::printf("  job of %d closures and %d placed splices built in %.1f s\n", kClosures,
                    kSplices, Seconds(Clock::now() - t0));
        if (!built) {
            goals.NotMeasured("building the job", archive.LastError().message);
            return goals.Finish();
        }

        // The last 96 records on one tray of 96 in a closure of its own.
        std::int64_t a = 0, b = 0;
        const auto trays = MakeClosure(store, store.Job(kJob)->id, "C-999", kBatch, kBatch, a, b);
        const auto t1 = Clock::now();
        const jobs::JobResult placed = store.PlaceLatest({trays[0], 1, {a, 1}, {b, 1}, {}}, kBatch);
        const double placing = Milliseconds(Clock::now() - t1);
        if (goals.Expect("splices placed at once", static_cast<long long>(placed.count), kBatch))
            goals.Under("placing 96 splices in one transaction", placing, 50, "ms");

        double best = 1e9;
        std::optional<jobs::SpliceMatrix> matrix;
        for (int run = 0; run < 3; ++run) {
            const auto t2 = Clock::now();
            matrix = jobs::ReadMatrix(archive, kJob, {});
            best = std::min(best, Milliseconds(Clock::now() - t2));
        }
        const long long total = kSplices + kBatch;
        const bool whole =
            matrix &&
            goals.Expect("closures read", static_cast<long long>(matrix->closures.size()),
                         kClosures + 1) &&
            goals.Expect("positions read", static_cast<long long>(matrix->totals.positions),
                         total) &&
            goals.Expect("splices that count", static_cast<long long>(matrix->totals.spliced),
                         total) &&
            goals.Expect("last splice's number on its splicer",
                         matrix->closures.back().rows.back().splice->number, total / 4);
        if (whole) goals.Under("reading the job's splice matrix (best of 3)", best, 300, "ms");
        if (!matrix) {
            goals.NotMeasured("reading the matrix", archive.LastError().message);
            return goals.Finish();
        }

        const auto t3 = Clock::now();
        const auto standings = jobs::ReadJobStandings(archive, {});
        const double judging = Milliseconds(Clock::now() - t3);
        if (standings &&
            goals.Expect("positions judged",
                         static_cast<long long>(standings->front().verdict.planned), total))
            goals.Under("judging every job (job list)", judging, 300, "ms");

        const std::filesystem::path plan = folder / "plan.csv";
        if (!jobs::WriteMatrixCsv(plan, *matrix, jobs::LoadMatrixCaptions(), TableLanguage::English)
                 .ok) {
            goals.NotMeasured("writing the plan", plan.string());
        } else {
            const auto t4 = Clock::now();
            const jobs::PlanImport imported = jobs::ImportPlanFile(archive, kJob, plan);
            const double importing = Milliseconds(Clock::now() - t4);
            if (!imported.ok)
                goals.NotMeasured("importing the plan", imported.message);
            else if (goals.Expect("positions planned", static_cast<long long>(imported.planned),
                                  total))
                goals.Under("importing the job's matrix as its plan", importing, 2000, "ms");
        }
    }
    return goals.Finish();
}
