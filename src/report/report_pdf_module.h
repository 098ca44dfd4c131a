#pragma once
// The PDF writer as a module of its own (Linux): the command-line tool loads it only
// to draw a PDF report or a splice diagram as PNG, so that no other command maps Qt
// Gui and the dozens of libraries behind it at start-up. The module takes the core's functions from
// the program that loads it (velmora-cli exports them), so there is one core, one configuration and
// one language table in the process. Free of Qt.
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "report/report_data.h"

namespace velmora::report {

// What the module is asked for and what it answers: the PdfMaker's arguments and result.
struct PdfModuleJob {
    const Report* report = nullptr;
    const Progress* progress = nullptr;
    std::vector<MissingImage>* missingImages = nullptr;
    std::stop_token stop;
    std::optional<std::string> document;  // the PDF, or nothing when the writer failed
};

// The file the module is built as, and the one function it exports. The name carries
// a version: a module of another build is refused rather than called wrongly.
inline constexpr const char* kPdfModuleFile = "velmora-report-pdf.so";
inline constexpr const char* kPdfModuleEntry = "velmora_report_pdf_document_v2";
using PdfModuleEntry = void (*)(PdfModuleJob& job);

// The same module draws splice diagrams into PNG files (velmora-cli diagram -o FILE.png).
struct DiagramPngJob {
    std::span<const jobs::TrayDiagram> diagrams;
    double width = 0;                // in the diagram's units
    double scale = 1;                // pixels a unit
    std::optional<std::string> png;  // the file's bytes, or nothing when it could not be made
};
inline constexpr const char* kDiagramPngEntry = "velmora_diagram_png_v1";
using DiagramPngEntry = void (*)(DiagramPngJob& job);

}  // namespace velmora::report
