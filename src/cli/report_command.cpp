// report [filters] [--max-loss DB] [--max-angle DEG] -o FILE.pdf|FILE.html
#include "cli/report_command.h"

#include <cstdio>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/app_config.h"
#include "base/interrupt.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "base/program_arguments.h"
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
void PrintSummary(const report::Report& made, std::FILE* to) {
    using report::Caption;
    const report::Captions& c = made.captions;
    auto line = [to](const std::string& caption, const std::string& value) {
        std::fprintf(to, "%s: %s\n", caption.c_str(), TerminalSafe(value).c_str());
    };
    if (made.asBuilt)
        std::fprintf(to, "%s\n", made.VerdictText().c_str());
    else
        std::fprintf(to, "%s (%zu / %zu)\n", made.VerdictText().c_str(), made.passed,
                     made.rows.size());
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
        "report needs -o FILE.pdf or -o FILE.html (--format pdf|html where the name does not "
        "say), then [--max-loss DB] [--max-angle DEG] and filters: [--device D] "
        "[--from YYYY-MM-DD] [--to YYYY-MM-DD] [--job J]";
    const std::filesystem::path dataFolder = Config().AppDirectory;
    std::set<std::string_view> valued = kFilterOptions;
    valued.insert({"-o", "--output", "--format", "--max-loss", "--max-angle"});
    CommandWords words;
    if (auto error = SplitCommandWords(args, valued, {}, words))
        return context.UsageError(*error + "; " + usage);
    // Limits not given are the ones the window's report dialog remembers.
    Limits limits = report::LoadLimits(dataFolder);
    report::AskedLimits asked;
    for (const auto& [name, range, limit, given] :
         {std::tuple{"--max-loss", kLossLimits, &limits.maxLoss, &asked.maxLoss},
          {"--max-angle", kAngleLimits, &limits.maxAngle, &asked.maxAngle}}) {
        const std::string* value = words.Value(name);
        if (!value) continue;
        const NumberRead read = ReadNumber(*value, range);
        if (!read.ok()) return context.UsageError(NumberRefusedText(name, *value, range));
        *limit = static_cast<int>(read.units);
        *given = true;
    }
    archive::RecordFilter filter;
    if (auto error = ParseRecordFilter(words, filter)) return context.UsageError(*error);
    const std::string* file = words.Value("-o") ? words.Value("-o") : words.Value("--output");
    if (!file || !words.words.empty()) return context.UsageError(usage);
    const std::filesystem::path output = PathFromArgument(*file);
    std::optional<report::Format> format = report::FormatOf(output);
    if (const std::string* named = words.Value("--format")) {
        format = *named == "pdf"    ? std::optional(report::Format::Pdf)
                 : *named == "html" ? std::optional(report::Format::Html)
                                    : std::nullopt;
        if (!format)
            return context.UsageError("--format takes pdf or html, not '" + TerminalSafe(*named) +
                                      "'");
    }
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
        output, *made, MakePdf,
        [&context, &stop](int percent) {
            if (Interrupted()) stop.request_stop();
            context.progress().Show("report " + std::to_string(percent) + " %");
        },
        stop.get_token(), format);
    context.progress().Clear();
    if (written.cancelled) {
        std::fprintf(stderr, "%s\n", kInterruptedText);
        return kExitUsage;
    }
    if (!written.ok) {
        std::fprintf(stderr, "velmora-cli: %s\n", TerminalSafe(written.error).c_str());
        return kExitUsage;
    }
    for (const report::MissingImage& image : written.missingImages)
        std::fprintf(stderr, "velmora-cli: %s\n",
                     TerminalSafe(report::MissingImageText(*made, image)).c_str());
    std::FILE* notices = NoticeStream(output);
    std::fprintf(notices, "%s\n", TerminalSafe(*file).c_str());
    PrintSummary(*made, notices);
    return kExitOk;
}

}  // namespace velmora::cli
