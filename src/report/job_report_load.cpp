// LoadJobReport, apart from the rest of the job's report: it alone reads the
// archive's jobs, so a program that never writes a job's report does not link them.
#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"
#include "report/job_report.h"

namespace velmora::report {

std::optional<Report> LoadJobReport(const std::filesystem::path& dataFolder,
                                    const std::string& name, const Limits& defaults,
                                    std::string* error) {
    const std::unique_ptr<archive::Archive> opened = OpenArchiveToReport(dataFolder, error);
    if (!opened) return std::nullopt;
    archive::Archive& archive = *opened;
    const std::optional<jobs::SpliceMatrix> matrix = jobs::ReadMatrix(archive, name, defaults);
    if (!matrix) {
        if (error)
            *error = archive.LastError().code == archive::ErrorCode::NotFound
                         ? Say(report_msg::NothingSelected)
                         : archive::ArchiveErrorText(archive.LastError());
        return std::nullopt;
    }
    const archive::RecordFilter filter{.job = name};
    const auto records = archive.Records(filter);
    if (!records) {
        if (error) *error = archive::ArchiveErrorText(archive.LastError());
        return std::nullopt;
    }
    std::optional<Report> report = ReportOfRecords(archive, *records, filter, matrix->limits,
                                                   dataFolder, SpliceNumbers(*matrix), error);
    if (report && !matrix->closures.empty())
        report->asBuilt = MakeAsBuilt(*matrix, jobs::LoadMatrixCaptions());
    return report;
}

std::optional<Report> LoadReportFor(const std::filesystem::path& dataFolder,
                                    const archive::RecordFilter& filter, const Limits& limits,
                                    std::string* error) {
    const bool oneJob = filter.job && !filter.job->empty() && !filter.device && !filter.splicer &&
                        !filter.from && !filter.to;
    return oneJob ? LoadJobReport(dataFolder, *filter.job, limits, error)
                  : LoadReport(dataFolder, filter, limits, error);
}

}  // namespace velmora::report
