#pragma once
// A job's report: the report of the job's records against the job's limits, each
// splice numbered by its place on its splicer, and, for a job with closures, its
// as-built documentation (AsBuilt) from the job's splice matrix.
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

AsBuilt MakeAsBuilt(const jobs::SpliceMatrix& matrix, const jobs::MatrixCaptions& captions);

// The number of every splice of the matrix (placed, re-spliced, test, unplaced) by
// its record id: its place on its splicer.
std::map<std::int64_t, std::int64_t> SpliceNumbers(const jobs::SpliceMatrix& matrix);

// The report of the job `name` in the archive of `dataFolder`, in the language of
// the run; `defaults` are the limits where the job sets none. On failure `error`
// says why (a job unknown: no splice matches) and nothing is returned.
std::optional<Report> LoadJobReport(const std::filesystem::path& dataFolder,
                                    const std::string& name, const Limits& defaults,
                                    std::string* error);

// The report a front end writes for `filter`: the job's report when the filter takes
// exactly one job (no splicer, no dates), else LoadReport's report of the records.
std::optional<Report> LoadReportFor(const std::filesystem::path& dataFolder,
                                    const archive::RecordFilter& filter, const Limits& limits,
                                    std::string* error);

}  // namespace velmora::report
