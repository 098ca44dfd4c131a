// diagram JOB CLOSURE [TRAY] -o FILE.svg|FILE.png [--format svg|png]
#include "cli/diagram_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "base/program_arguments.h"
#include "cli/matrix_commands.h"
#include "cli/report_pdf.h"
#include "jobs/diagram_svg.h"
#include "jobs/job_numbers.h"
#include "jobs/jobs_texts.h"
#include "jobs/splice_diagram.h"

namespace velmora::cli {
namespace {

constexpr const char* kSynopsis =
    "diagram JOB CLOSURE [TRAY] -o FILE.svg|FILE.png [--format svg|png]";
// A PNG's pixels a unit of the diagram: sharp on a screen and on paper.
constexpr double kPngScale = 2;

int Refused(const std::string& text) {
    std::fprintf(stderr, "velmora-cli: %s\n", TerminalSafe(text).c_str());
    return kExitUsage;
}

}  // namespace

int RunDiagram(CliContext& context, CommandArgs args) {
    OutputCommand parsed;
    if (auto error =
            ParseOutputCommand(args, {"png", "svg"}, {"JOB", "CLOSURE", "TRAY"}, 2, parsed))
        return context.UsageError("diagram " + *error + ": " + kSynopsis);
    const std::vector<std::string>& words = parsed.words;
    // A tray asked for is a tray number, read as every number of the command line.
    std::optional<int> trayNumber;
    if (words.size() == 3) {
        const NumberRead read = ReadNumber(words[2], jobs::kTrayNumbers);
        if (!read.ok())
            return context.UsageError(NumberRefusedText("TRAY", words[2], jobs::kTrayNumbers));
        trayNumber = static_cast<int>(read.units);
    }

    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(words[0]);
    if (!matrix) return kExitUsage;
    const auto closure = std::find_if(
        matrix->closures.begin(), matrix->closures.end(),
        [&](const jobs::MatrixClosure& c) { return c.closure.details.name == words[1]; });
    if (closure == matrix->closures.end())
        return Refused(jobs::RefusalText({jobs::Refusal::NoSuchClosure, words[1]}));
    const jobs::DiagramTexts texts = jobs::LoadDiagramTexts();
    std::vector<jobs::TrayDiagram> diagrams;
    if (trayNumber) {
        const auto tray =
            std::find_if(closure->trays.begin(), closure->trays.end(),
                         [&](const jobs::TrayInfo& t) { return t.details.number == *trayNumber; });
        if (tray == closure->trays.end())
            return Refused(jobs::RefusalText({jobs::Refusal::NoSuchTray, words[2]}));
        diagrams.push_back(jobs::MakeTrayDiagram(*closure, tray->details.number, texts));
    } else {
        diagrams = jobs::MakeTrayDiagrams(*closure, texts);
        if (diagrams.empty()) return Refused(jobs::NoTraysText(closure->closure.details.name));
    }
    std::optional<std::string> bytes;
    if (parsed.format == "svg") {
        bytes = jobs::DiagramSvg(diagrams);
    } else {
        bytes = MakeDiagramPng(diagrams, jobs::kDiagramWidth, kPngScale);
        if (!bytes) return kExitUsage;  // said why
    }
    return Written(ReplaceFile(PathFromArgument(parsed.file), *bytes), parsed.file);
}

}  // namespace velmora::cli
