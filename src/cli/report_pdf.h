#pragma once
// The PDF document of a report for the command-line tool: on Linux through the
// PDF writer module, loaded on first use (report_pdf_posix.cpp); on Windows, whose
// program is one static executable, through the writer linked in (report_pdf_win32.cpp).
#include <optional>
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

}  // namespace velmora::cli
