#pragma once
// A job's report: the job's verdict and page one from its splice matrix, its as-built
// documentation (AsBuilt), then the report of the job's records against the job's
// limits, each splice numbered by its place on its splicer.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "report/report_data.h"

namespace velmora::jobs {
struct SpliceMatrix;
struct MatrixCaptions;
}  // namespace velmora::jobs

namespace velmora::report {

// The job's page and sections from its matrix; `captions` the report's own.
AsBuilt MakeAsBuilt(const jobs::SpliceMatrix& matrix, const jobs::MatrixCaptions& words,
                    const Captions& captions);

// The number of every splice of the matrix (placed, replaced, test, unplaced) by
// its record id: its place on its splicer.
std::map<std::int64_t, std::int64_t> SpliceNumbers(const jobs::SpliceMatrix& matrix);

// Limits asked for a job's report. A job's report is judged by the job's own limits:
// one asked where the job sets its own is refused, never used instead.
struct AskedLimits {
    bool maxLoss = false;
    bool maxAngle = false;
};

// The report of the job `name` in the archive of `dataFolder`, in the language of
// the run: made from the job (its placings, its limits), its test splices listed
// and never counted. `defaults` are the limits where the job sets none. On failure
// `error` says why (a job unknown: no splice matches; a limit `asked` that the job
// sets: the job's limits) and nothing is returned.
std::optional<Report> LoadJobReport(const std::filesystem::path& dataFolder,
                                    const std::string& name, const Limits& defaults,
                                    std::string* error, AskedLimits asked = {});

}  // namespace velmora::report
