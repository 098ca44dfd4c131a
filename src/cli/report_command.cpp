// report [filters] [--max-loss DB] [--max-angle DEG] -o FILE.pdf|FILE.html
#include "cli/report_command.h"

#include <cstdio>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "base/app_config.h"
#include "base/interrupt.h"
#include "base/path_text.h"
#include "cli/archive_commands.h"
#include "cli/cli_context.h"
#include "cli/report_pdf.h"
#include "report/job_report.h"
#include "report/report_data.h"

namespace velmora::cli {
namespace {

// The verdict and what it is about, after the file's name: a line each, in the
// run's language. Names come from the archive, a file anyone can edit: shown
// terminal-safe.
void PrintSummary(const report::Report& made) {
    using report::Caption;
    const report::Captions& c = made.captions;
    auto line = [](const std::string& caption, const std::string& value) {
        std::printf("%s: %s\n", caption.c_str(), TerminalSafe(value).c_str());
    };
    if (made.asBuilt)
        std::printf("%s\n", made.VerdictText().c_str());
    else
        std::printf("%s (%zu / %zu)\n", made.VerdictText().c_str(), made.passed, made.rows.size());
    line(c[Caption::Job], made.job);
    if (made.asBuilt) {
        // A job's report: its details and positions, as on its first page.
        for (const report::SummaryLine& summary : made.asBuilt->summary)
            line((summary.part ? "  " : "") + summary.caption, summary.value);
        return;
    }
    for (const report::SplicerLine& splicer : made.splicers)
        line(c[Caption::Splicer], report::SplicerText(made, splicer));
    line(c[Caption::Failed], std::to_string(made.failed));
    for (const auto& [caption, count] : {std::pair{Caption::MarkFailed, made.failedOnSplicer},
                                         std::pair{Caption::MarkOverLoss, made.overLoss},
                                         std::pair{Caption::MarkOverAngle, made.overAngle}})
        line("  " + c[caption], std::to_string(count));
}

}  // namespace

int RunReport(CliContext& context, CommandArgs args) {
    const std::string usage =
        "report needs -o FILE.pdf or -o FILE.html, then [--max-loss DB] [--max-angle DEG] and "
        "filters: [--device D] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--job J]";
    const std::filesystem::path dataFolder = Config().AppDirectory;
    // Limits not given are the ones the window's report dialog remembers.
    Limits limits = report::LoadLimits(dataFolder);
    report::AskedLimits asked;
    std::optional<std::string> file;
    std::vector<std::string> others;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name != "-o" && name != "--output" && name != "--max-loss" && name != "--max-angle") {
            others.push_back(name);
            continue;
        }
        if (i + 1 >= args.size()) return context.UsageError(name + " needs a value");
        const std::string& value = args[++i];
        if (name == "--max-loss" || name == "--max-angle") {
            const bool loss = name == "--max-loss";
            const auto parsed = loss ? ParseLossLimit(value) : ParseAngleLimit(value);
            if (!parsed)
                return context.UsageError(name + " needs a number " +
                                          (loss ? "of dB with at most two decimals (0.08)"
                                                : "of degrees with at most one decimal (1.5)") +
                                          ", not '" + value + "'");
            (loss ? limits.maxLoss : limits.maxAngle) = *parsed;
            (loss ? asked.maxLoss : asked.maxAngle) = true;
        } else {
            file = value;
        }
    }
    archive::RecordFilter filter;
    std::vector<std::string> rest;
    if (auto error = ParseRecordFilter(others, filter, rest)) return context.UsageError(*error);
    if (!file || !rest.empty()) return context.UsageError(usage);
    const std::optional<report::Format> format = report::FormatOf(*file);
    if (!format) return context.UsageError(Say(report::report_msg::UnknownFormat, {*file}));

    // --job alone is the job's report: its own limits (the limits above where it sets
    // none; one given where it sets its own is refused), its records numbered by their
    // place on their splicer. Any other filter makes a report of the records it takes.
    const bool jobAlone = filter.job && !filter.job->empty() && !filter.device && !filter.splicer &&
                          !filter.from && !filter.to;
    std::string error;
    const std::optional<report::Report> made =
        jobAlone ? report::LoadJobReport(dataFolder, *filter.job, limits, &error, asked)
                 : report::LoadReport(dataFolder, filter, limits, &error);
    if (!made) {
        std::fprintf(stderr, "velmora-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    // Ctrl-C stops the writing; the file, if one was there, stays as it was. Qt Gui
    // is loaded by MakePdf for a PDF only: every other command (and an HTML report)
    // stays a plain console program.
    std::stop_source stop;
    const report::WriteResult written = report::WriteReportFile(
        PathFromText(*file), *made, MakePdf,
        [&context, &stop](int percent) {
            if (Interrupted()) stop.request_stop();
            context.progress().Show("report " + std::to_string(percent) + " %");
        },
        stop.get_token());
    context.progress().Clear();
    if (written.cancelled) {
        std::fprintf(stderr, "%s\n", kInterruptedText);
        return kExitUsage;
    }
    if (!written.ok) {
        std::fprintf(stderr, "velmora-cli: %s\n", written.error.c_str());
        return kExitUsage;
    }
    for (const report::MissingImage& image : written.missingImages)
        std::fprintf(stderr, "velmora-cli: %s\n",
                     TerminalSafe(report::MissingImageText(*made, image)).c_str());
    std::printf("%s\n", file->c_str());
    PrintSummary(*made);
    return kExitOk;
}

}  // namespace velmora::cli
