// matrix JOB -o FILE.xlsx|FILE.csv, geojson JOB -o FILE.geojson
#include "cli/matrix_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/path_text.h"
#include "history/history_texts.h"
#include "jobs/closures_geojson.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "jobs/splice_matrix.h"
#include "report/report_data.h"

namespace velmora::cli {
namespace {

struct JobAndFile {
    std::string job;
    std::string file;
    std::string extension;  // lower case, with its dot
};

// JOB and -o FILE, in either order; an error text when they are not both there once.
std::optional<std::string> ParseJobAndFile(CommandArgs args, JobAndFile& parsed) {
    std::optional<std::string> job, file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return args[i] + " needs a value";
            if (file) return "one -o FILE only";
            file = args[++i];
        } else if (!job) {
            job = args[i];
        } else {
            return "unexpected '" + args[i] + "'";
        }
    }
    if (!job || job->empty() || !file) return std::string("needs JOB and -o FILE");
    parsed.job = *job;
    parsed.file = *file;
    parsed.extension = PathText(PathFromText(*file).extension());
    std::transform(parsed.extension.begin(), parsed.extension.end(), parsed.extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::nullopt;
}

}  // namespace

std::optional<jobs::SpliceMatrix> ReadJobMatrix(const std::string& job) {
    archive::OpenResult opened = archive::Archive::Open(archive::ArchiveFile(Config().AppDirectory),
                                                        {.purpose = archive::OpenFor::Reading});
    if (!opened.archive) {
        std::fprintf(
            stderr, "velmora-cli: %s\n",
            opened.error.code == archive::ErrorCode::NoArchive
                ? jobs::RefusalText({.refusal = jobs::Refusal::NoSuchJob, .detail = job}).c_str()
                : archive::ArchiveErrorText(opened.error).c_str());
        return std::nullopt;
    }
    std::optional<jobs::SpliceMatrix> matrix =
        jobs::ReadMatrix(*opened.archive, job, report::LoadLimits(Config().AppDirectory));
    if (!matrix) {
        const archive::ArchiveError& error = opened.archive->LastError();
        std::fprintf(stderr, "velmora-cli: %s\n",
                     TerminalSafe(error.code == archive::ErrorCode::NotFound
                                      ? jobs::RefusalText(
                                            {.refusal = jobs::Refusal::NoSuchJob, .detail = job})
                                      : archive::ArchiveErrorText(error))
                         .c_str());
    }
    return matrix;
}

int Written(const FileWriteResult& written, const std::string& file) {
    if (!written.ok) {
        std::fprintf(stderr, "velmora-cli: %s\n",
                     FileNotSavedText(PathFromText(file), written.reason).c_str());
        return kExitUsage;
    }
    std::printf("%s\n", file.c_str());
    return kExitOk;
}

int RunMatrix(CliContext& context, CommandArgs args) {
    JobAndFile parsed;
    if (auto error = ParseJobAndFile(args, parsed))
        return context.UsageError("matrix " + *error + ": matrix JOB -o FILE.xlsx|FILE.csv");
    if (parsed.extension != ".xlsx" && parsed.extension != ".csv")
        return context.UsageError("matrix writes a .xlsx or a .csv file, not '" + parsed.file +
                                  "'");
    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(parsed.job);
    if (!matrix) return kExitUsage;
    const jobs::MatrixCaptions captions = jobs::LoadMatrixCaptions();
    const std::filesystem::path file = PathFromText(parsed.file);
    const int status = Written(
        parsed.extension == ".xlsx"
            ? jobs::WriteMatrixXlsx(file, *matrix, captions)
            : jobs::WriteMatrixCsv(file, *matrix, captions, TableLanguageFor(Config().EnglishFlag)),
        parsed.file);
    if (status != kExitOk) return status;
    const jobs::MatrixCounts& n = matrix->totals;
    std::printf("%s\n", captions.Verdict(jobs::JudgeJob(*matrix)).c_str());
    std::printf("%s %zu, %s %zu, %s %zu, %s %zu, %s %zu, %s %zu, %s %zu\n",
                captions.closures.c_str(), matrix->closures.size(), captions.positions.c_str(),
                n.positions, captions.spliced.c_str(), n.spliced, captions.passed.c_str(), n.passed,
                captions.replacedCount.c_str(), n.replaced, captions.unplaced.c_str(),
                matrix->unplaced.size(), captions.testSplices.c_str(), matrix->testSplices.size());
    return kExitOk;
}

int RunGeoJson(CliContext& context, CommandArgs args) {
    JobAndFile parsed;
    if (auto error = ParseJobAndFile(args, parsed))
        return context.UsageError("geojson " + *error + ": geojson JOB -o FILE.geojson");
    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(parsed.job);
    if (!matrix) return kExitUsage;
    const int status =
        Written(jobs::WriteClosuresGeoJson(PathFromText(parsed.file), *matrix), parsed.file);
    if (status != kExitOk) return status;
    const auto located = std::count_if(
        matrix->closures.begin(), matrix->closures.end(),
        [](const jobs::MatrixClosure& c) { return c.closure.details.point.has_value(); });
    // Closures without a location cannot be points: say how many were left out.
    std::printf("%td of %zu closures have a location\n", located, matrix->closures.size());
    return kExitOk;
}

}  // namespace velmora::cli
