// LoadJobReport, apart from the rest of the job's report: it alone reads the
// archive's jobs, so a program that never writes a job's report does not link them.
#include <algorithm>
#include <set>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"
#include "report/job_report.h"

namespace velmora::report {

std::optional<Report> LoadJobReport(const std::filesystem::path& dataFolder,
                                    const std::string& name, const Limits& defaults,
                                    std::string* error, AskedLimits asked) {
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
    const jobs::JobLimits& own = matrix->job.details.limits;
    if ((asked.maxLoss && own.maxLoss) || (asked.maxAngle && own.maxAngle)) {
        if (error)
            *error = Say(report_msg::JobHasLimits, {LossFigure(matrix->limits.maxLoss),
                                                    AngleFigure(matrix->limits.maxAngle)});
        return std::nullopt;
    }
    const archive::RecordFilter filter{.job = name};
    auto records = archive.Records(filter);
    if (!records) {
        if (error) *error = archive::ArchiveErrorText(archive.LastError());
        return std::nullopt;
    }
    // Test splices are listed in their own section, never counted in the figures.
    std::set<std::int64_t> tests;
    for (const jobs::MatrixSplice& s : matrix->testSplices) tests.insert(s.recordId);
    std::erase_if(*records,
                  [&tests](const archive::ArchivedRecord& r) { return tests.contains(r.id); });
    // A job planned but not spliced yet still has its report: its plan and verdict.
    std::optional<Report> report =
        records->empty() ? MakeReport({}, {}, filter, matrix->limits, dataFolder,
                                      TableLanguageFor(Config().EnglishFlag), LoadCaptions())
                         : ReportOfRecords(archive, *records, filter, matrix->limits, dataFolder,
                                           SpliceNumbers(*matrix), error);
    if (report)
        report->asBuilt = MakeAsBuilt(*matrix, jobs::LoadMatrixCaptions(), report->captions);
    return report;
}

}  // namespace velmora::report
