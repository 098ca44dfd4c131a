#pragma once
// The splice report as one self-contained HTML file: its images inside as data
// URIs and the loss histogram as inline SVG, so the file can be mailed alone.
#include <filesystem>
#include <string>

#include "report/report_data.h"

namespace velmora::report {

// The whole document. Images that cannot be read are named in `missingImages`
// (when given) and shown as a line of text in their place.
std::string HtmlDocument(const Report& report, const Progress& progress = {},
                         std::vector<std::string>* missingImages = nullptr);

// Writes the document to `file`, replacing any file there only once it is complete.
WriteResult WriteHtmlReport(const std::filesystem::path& file, const Report& report,
                            const Progress& progress = {});

// The loss histogram as an SVG element `width` by `height` pixels.
std::string HistogramSvg(const Report& report, int width, int height);

// "&", "<", ">", '"' and "'" as entities.
std::string EscapeHtml(const std::string& text);
std::string Base64(const std::vector<std::uint8_t>& bytes);

}  // namespace velmora::report
