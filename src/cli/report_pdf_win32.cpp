// The PDF writer linked into the one static executable of the Windows build.
#include <cstdio>

#include "cli/report_pdf.h"
#include "ui/report/diagram_png.h"
#include "ui/report/report_render.h"

namespace velmora::cli {

std::optional<std::string> MakePdf(const report::Report& report, const report::Progress& progress,
                                   std::vector<report::MissingImage>* missingImages,
                                   std::stop_token stop) {
    const report::GuiForReport gui;
    return report::PdfDocument(report, progress, missingImages, std::move(stop));
}

std::optional<std::string> MakeDiagramPng(std::span<const jobs::TrayDiagram> diagrams, double width,
                                          double scale) {
    const report::GuiForReport gui;
    std::optional<std::string> png = report::DiagramPng(diagrams, width, scale);
    if (!png) std::fprintf(stderr, "velmora-cli: the diagram could not be drawn\n");
    return png;
}

}  // namespace velmora::cli
