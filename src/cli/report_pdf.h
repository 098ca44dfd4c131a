#pragma once
// The PDF document of a report (and a splice diagram's PNG) for the command-line tool: on Linux
// through the PDF writer module, loaded on first use (report_pdf_posix.cpp); on Windows, whose
// program is one static executable, through the writer linked in (report_pdf_win32.cpp).
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "report/report_data.h"

namespace velmora::cli {

// A report::PdfMaker. When the writer cannot be loaded, says why on standard error
// and returns nothing.
std::optional<std::string> MakePdf(const report::Report& report, const report::Progress& progress,
                                   std::vector<report::MissingImage>* missingImages,
                                   std::stop_token stop);

// The splice diagrams one below another as a PNG file's bytes, `width` units wide at
// `scale` pixels a unit, drawn by the same writer; nothing (said why on standard
// error) when it cannot be loaded or the image cannot be made.
std::optional<std::string> MakeDiagramPng(std::span<const jobs::TrayDiagram> diagrams, double width,
                                          double scale);

}  // namespace velmora::cli
