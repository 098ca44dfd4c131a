// job package JOB -o DIR|FILE.zip [--images]
#include "cli/package_command.h"

#include <cstdio>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "base/app_config.h"
#include "base/interrupt.h"
#include "base/path_text.h"
#include "cli/cli_context.h"
#include "cli/report_pdf.h"
#include "jobs/job_verdict.h"
#include "jobs/matrix_texts.h"
#include "report/job_package.h"

namespace velmora::cli {
namespace {
constexpr const char* kSynopsis = "job package JOB -o DIR|FILE.zip [--images]";
}  // namespace

int RunPackage(CliContext& context, CommandArgs args) {
    std::vector<std::string> words;
    std::optional<std::string> target;
    report::PackageOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--images") {
            options.images = true;
        } else if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return context.UsageError(args[i] + " needs a value");
            if (target) return context.UsageError(std::string("one -o only: ") + kSynopsis);
            target = args[++i];
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 1 || words[0].empty() || !target || target->empty())
        return context.UsageError(std::string("needs JOB and -o DIR|FILE.zip: ") + kSynopsis);

    const std::filesystem::path dataFolder = Config().AppDirectory;
    std::string error;
    const std::optional<report::PackageSource> source =
        report::LoadPackageSource(dataFolder, words[0], report::LoadLimits(dataFolder), &error);
    if (!source) {
        std::fprintf(stderr, "velmora-cli: %s\n", TerminalSafe(error).c_str());
        return kExitUsage;
    }
    // The verdict first: a job that has not passed is handed over as it is, and says so.
    std::printf("%s\n", jobs::LoadMatrixCaptions().Verdict(jobs::JudgeJob(source->matrix)).c_str());
    std::fflush(stdout);

    // Ctrl-C stops the writing; nothing is left behind then.
    std::stop_source stop;
    const report::PackageResult result = report::WritePackage(
        *source, PathFromText(*target), options, MakePdf,
        [&context, &stop](int percent) {
            if (Interrupted()) stop.request_stop();
            context.progress().Show("package " + std::to_string(percent) + " %");
        },
        stop.get_token());
    context.progress().Clear();
    if (result.outcome == report::PackageOutcome::Cancelled) {
        std::fprintf(stderr, "%s\n", kInterruptedText);
        return kExitUsage;
    }
    if (!result.ok()) {
        std::fprintf(stderr, "velmora-cli: %s\n",
                     TerminalSafe(report::PackageOutcomeText(result)).c_str());
        return kExitUsage;
    }
    for (const report::MissingImage& image : result.missingImages)
        std::fprintf(stderr, "velmora-cli: %s\n",
                     TerminalSafe(report::MissingImageText(source->report, image)).c_str());
    for (const std::string& file : result.files) std::printf("  %s\n", TerminalSafe(file).c_str());
    std::printf("%s\n", TerminalSafe(report::PackageOutcomeText(result)).c_str());
    return kExitOk;
}

}  // namespace velmora::cli
