#pragma once
// The splice report as one self-contained HTML file: its images inside as data
// URIs and the loss histogram as inline SVG, so the file can be mailed alone.
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_data.h"

namespace velmora::report {

// The whole document; nothing once `stop` is requested. Images that cannot be shown
// are named in `missingImages` (when given) and said in their place.
std::optional<std::string> HtmlDocument(const Report& report, const Progress& progress = {},
                                        std::vector<MissingImage>* missingImages = nullptr,
                                        std::stop_token stop = {});

// The loss histogram as an SVG element `width` by `height` pixels.
std::string HistogramSvg(const Report& report, int width, int height);

// "&", "<", ">", '"' and "'" as entities; a byte that is not UTF-8, and a character
// an HTML document may not hold (a control character but white space, a
// noncharacter such as U+FFFE), as U+FFFD.
std::string EscapeHtml(const std::string& text);
std::string Base64(std::string_view bytes);

}  // namespace velmora::report
