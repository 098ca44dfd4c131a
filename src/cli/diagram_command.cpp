// diagram JOB CLOSURE [TRAY] -o FILE.svg|FILE.png
#include "cli/diagram_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/path_text.h"
#include "cli/matrix_commands.h"
#include "cli/report_pdf.h"
#include "jobs/diagram_svg.h"
#include "jobs/jobs_texts.h"
#include "jobs/splice_diagram.h"

namespace velmora::cli {
namespace {

constexpr const char* kSynopsis = "diagram JOB CLOSURE [TRAY] -o FILE.svg|FILE.png";
// A PNG's pixels a unit of the diagram: sharp on a screen and on paper.
constexpr double kPngScale = 2;

int Refused(const std::string& text) {
    std::fprintf(stderr, "velmora-cli: %s\n", TerminalSafe(text).c_str());
    return kExitUsage;
}

}  // namespace

int RunDiagram(CliContext& context, CommandArgs args) {
    std::vector<std::string> words;
    std::optional<std::string> file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return context.UsageError(args[i] + " needs a value");
            if (file) return context.UsageError(std::string("one -o FILE only: ") + kSynopsis);
            file = args[++i];
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() < 2 || words.size() > 3 || words[0].empty() || !file)
        return context.UsageError(std::string("needs JOB, CLOSURE and -o FILE: ") + kSynopsis);
    std::string extension = PathText(PathFromText(*file).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".svg" && extension != ".png")
        return context.UsageError("diagram writes a .svg or a .png file, not '" + *file + "'");

    const std::optional<jobs::SpliceMatrix> matrix = ReadJobMatrix(words[0]);
    if (!matrix) return kExitUsage;
    const auto closure = std::find_if(
        matrix->closures.begin(), matrix->closures.end(),
        [&](const jobs::MatrixClosure& c) { return c.closure.details.name == words[1]; });
    if (closure == matrix->closures.end())
        return Refused(jobs::RefusalText({jobs::Refusal::NoSuchClosure, words[1]}));
    const jobs::DiagramTexts texts = jobs::LoadDiagramTexts();
    std::vector<jobs::TrayDiagram> diagrams;
    if (words.size() == 3) {
        // The tray as the closure numbers it: its number's text, so that nothing
        // but one of its trays is ever read from the argument.
        const auto tray = std::find_if(
            closure->trays.begin(), closure->trays.end(),
            [&](const jobs::TrayInfo& t) { return std::to_string(t.details.number) == words[2]; });
        if (tray == closure->trays.end())
            return Refused(jobs::RefusalText({jobs::Refusal::NoSuchTray, words[2]}));
        diagrams.push_back(jobs::MakeTrayDiagram(*closure, tray->details.number, texts));
    } else {
        diagrams = jobs::MakeTrayDiagrams(*closure, texts);
        if (diagrams.empty()) return Refused(jobs::NoTraysText(closure->closure.details.name));
    }
    std::optional<std::string> bytes;
    if (extension == ".svg") {
        bytes = jobs::DiagramSvg(diagrams);
    } else {
        bytes = MakeDiagramPng(diagrams, jobs::kDiagramWidth, kPngScale);
        if (!bytes) return kExitUsage;  // said why
    }
    return Written(ReplaceFile(PathFromText(*file), *bytes), *file);
}

}  // namespace velmora::cli
