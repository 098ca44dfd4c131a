// The PDF writer linked into the one static executable of the Windows build.
#include "cli/report_pdf.h"
#include "ui/report/report_render.h"

namespace velmora::cli {

std::optional<std::string> MakePdf(const report::Report& report, const report::Progress& progress,
                                   std::vector<report::MissingImage>* missingImages,
                                   std::stop_token stop) {
    const report::GuiForReport gui;
    return report::PdfDocument(report, progress, missingImages, std::move(stop));
}

}  // namespace velmora::cli
