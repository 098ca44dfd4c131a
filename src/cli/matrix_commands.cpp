// matrix JOB -o FILE.xlsx|FILE.csv, geojson JOB -o FILE.geojson
#include "cli/matrix_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "archive/archive_texts.h"
#include "base/app_config.h"
#include "base/path_text.h"
#include "base/program_arguments.h"
#include "history/history_texts.h"
#include "jobs/closures_geojson.h"
#include "jobs/jobs_texts.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "jobs/splice_matrix.h"
#include "report/report_data.h"

namespace velmora::cli {
std::optional<std::string> ParseOutputCommand(CommandArgs args,
                                              const std::set<std::string_view>& formats,
                                              std::initializer_list<std::string_view> names,
                                              std::size_t needed, OutputCommand& parsed) {
    CommandWords words;
    if (auto error =
            SplitCommandWords(args, {"-o", "--output", "--format", "--encoding"}, {}, words))
        return error;
    const std::string* file = words.Value("-o") ? words.Value("-o") : words.Value("--output");
    if (words.Value("-o") && words.Value("--output")) return std::string("one -o FILE only");
    if (words.words.size() > names.size())
        return "unexpected '" + TerminalSafe(words.words[names.size()]) + "'";
    if (words.words.size() < needed || (!words.words.empty() && words.words[0].empty()) || !file) {
        std::string what;
        for (std::size_t i = 0; i < needed; ++i) what += std::string(names.begin()[i]) + ", ";
        return "needs " + what + "-o FILE";
    }
    parsed.words = words.words;
    parsed.file = *file;
    if (const std::string* format = words.Value("--format")) {
        parsed.format = *format;
    } else {
        parsed.format = PathText(PathFromArgument(*file).extension());
        if (!parsed.format.empty()) parsed.format.erase(0, 1);
        std::transform(parsed.format.begin(), parsed.format.end(), parsed.format.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    // A command of one format writes it whatever the file's name.
    if (formats.size() > 1 && !formats.contains(parsed.format)) {
        std::string names;
        for (const std::string_view name : formats)
            names += (names.empty() ? "" : " or ") + std::string(name);
        return "writes " + names + " (the file's extension, or --format), not '" +
               TerminalSafe(parsed.format) + "'";
    }
    if (const std::string* encoding = words.Value("--encoding")) {
        if (*encoding != "utf-8" || parsed.format != "csv")
            return "--encoding takes utf-8, for a CSV file (UTF-8 with a byte-order mark), not '" +
                   TerminalSafe(*encoding) + "'";
        parsed.encoding = jobs::CsvEncoding::Utf8WithMark;
    }
    return std::nullopt;
}

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
        std::fprintf(
            stderr, "velmora-cli: %s\n",
            TerminalSafe(FileNotSavedText(PathFromArgument(file), written.reason)).c_str());
        return kExitUsage;
    }
    std::fprintf(NoticeStream(PathFromArgument(file)), "%s\n", TerminalSafe(file).c_str());
    return kExitOk;
}

int RunMatrix(CliContext& context, CommandArgs args) {
    OutputCommand parsed;
    if (auto error = ParseOutputCommand(args, {"csv", "xlsx"}, {"JOB"}, 1, parsed))
        return context.UsageError("matrix " + *error +
                                  ": matrix JOB -o FILE.xlsx|FILE.csv [--format xlsx|csv] "
                                  "[--encoding utf-8]");
    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(parsed.words[0]);
    if (!matrix) return kExitUsage;
    const jobs::MatrixCaptions captions = jobs::LoadMatrixCaptions();
    const std::filesystem::path file = PathFromArgument(parsed.file);
    FileWriteResult written;
    if (parsed.format == "xlsx") {
        written = jobs::WriteMatrixXlsx(file, *matrix, captions);
    } else {
        const jobs::MatrixCsvText text = jobs::MatrixCsv(
            *matrix, captions, TableLanguageFor(Config().EnglishFlag), parsed.encoding);
        if (text.unheld)
            return context.UsageError(
                TerminalSafe(jobs::NotInGbkText(text.unheld->line, text.unheld->field,
                                                text.unheld->character)) +
                "; --encoding utf-8 writes the file as UTF-8");
        written = ReplaceFile(file, text.bytes);
    }
    const int status = Written(written, parsed.file);
    if (status != kExitOk) return status;
    std::FILE* notices = NoticeStream(file);
    const jobs::MatrixCounts& n = matrix->totals;
    std::fprintf(notices, "%s\n", captions.Verdict(jobs::JudgeJob(*matrix)).c_str());
    std::fprintf(notices, "%s %zu, %s %zu, %s %zu, %s %zu, %s %zu, %s %zu, %s %zu\n",
                 captions.closures.c_str(), matrix->closures.size(), captions.positions.c_str(),
                 n.positions, captions.spliced.c_str(), n.spliced, captions.passed.c_str(),
                 n.passed, captions.replacedCount.c_str(), n.replaced, captions.unplaced.c_str(),
                 matrix->unplaced.size(), captions.testSplices.c_str(), matrix->testSplices.size());
    return kExitOk;
}

int RunGeoJson(CliContext& context, CommandArgs args) {
    OutputCommand parsed;
    if (auto error = ParseOutputCommand(args, {"geojson"}, {"JOB"}, 1, parsed))
        return context.UsageError("geojson " + *error + ": geojson JOB -o FILE.geojson");
    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(parsed.words[0]);
    if (!matrix) return kExitUsage;
    const std::filesystem::path file = PathFromArgument(parsed.file);
    const int status = Written(jobs::WriteClosuresGeoJson(file, *matrix), parsed.file);
    if (status != kExitOk) return status;
    const auto located = std::count_if(
        matrix->closures.begin(), matrix->closures.end(),
        [](const jobs::MatrixClosure& c) { return c.closure.details.point.has_value(); });
    // Closures without a location cannot be points: say how many were left out.
    std::fprintf(NoticeStream(file), "%td of %zu closures have a location\n", located,
                 matrix->closures.size());
    return kExitOk;
}

}  // namespace velmora::cli
