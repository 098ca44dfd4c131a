// report [filters] [--max-loss DB] [--max-angle DEG] -o FILE.pdf|FILE.html
#include "cli/report_command.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/app_config.h"
#include "base/path_text.h"
#include "cli/archive_commands.h"
#include "cli/cli_context.h"
#include "report/report_data.h"
#include "report/report_render.h"

namespace velmora::cli {

int RunReport(CliContext& context, CommandArgs args) {
    const std::string usage =
        "report needs -o FILE.pdf or -o FILE.html, then [--max-loss DB] [--max-angle DEG] and "
        "filters: [--device D] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--job J]";
    const std::filesystem::path dataFolder = Config().AppDirectory;
    // Limits not given are the ones the window's report dialog remembers.
    report::Limits limits = report::LoadLimits(dataFolder);
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
            const auto parsed =
                loss ? report::ParseLossLimit(value) : report::ParseAngleLimit(value);
            if (!parsed)
                return context.UsageError(name + " needs a number " +
                                          (loss ? "of dB with at most two decimals (0.08)"
                                                : "of degrees with at most one decimal (1.5)") +
                                          ", not '" + value + "'");
            (loss ? limits.maxLoss : limits.maxAngle) = *parsed;
        } else {
            file = value;
        }
    }
    archive::RecordFilter filter;
    std::vector<std::string> rest;
    if (auto error = ParseRecordFilter(others, filter, rest)) return context.UsageError(*error);
    if (!file || !rest.empty()) return context.UsageError(usage);
    const std::optional<report::Format> format = report::FormatOf(*file);
    if (!format)
        return context.UsageError(report::SayWith(report::report_msg::UnknownFormat, *file));

    std::string error;
    const std::optional<report::Report> made =
        report::LoadReport(dataFolder, filter, limits, &error);
    if (!made) {
        std::fprintf(stderr, "velmora-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    // Text layout and the PDF writer need an application object; made only here,
    // so every other command (and an HTML report) stays a plain console program.
    std::optional<report::GuiForReport> gui;
    if (*format == report::Format::Pdf) gui.emplace();
    const report::WriteResult written =
        report::WriteReport(PathFromText(*file), *made, [&context](int percent) {
            context.progress().Show("report " + std::to_string(percent) + " %");
        });
    context.progress().Clear();
    if (!written.ok) {
        std::fprintf(stderr, "velmora-cli: %s\n", written.error.c_str());
        return kExitUsage;
    }
    for (const std::string& name : written.missingImages)
        std::fprintf(stderr, "velmora-cli: %s\n",
                     report::Fill(made->captions[report::Caption::ImageMissing], name).c_str());
    std::printf("%s\n", file->c_str());
    return kExitOk;
}

}  // namespace velmora::cli
