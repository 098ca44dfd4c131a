#include "report/report_html.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/app_config.h"
#include "base/atomic_file.h"
#include "base/path_text.h"
#include "base/text_codec.h"
#include "jobs/diagram_svg.h"

namespace velmora::report {
namespace {

const char* kStyle = R"css(
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif;
       margin: 2em; color: #222; }
h1 { margin-bottom: 0.2em; }
.verdict { font-size: 1.6em; font-weight: bold; padding: 0.4em 0.8em; display: inline-block;
           border-radius: 4px; margin: 0.4em 0 0.8em; }
.verdict.pass { background: #d8f0d8; color: #135c13; }
.verdict.fail { background: #f6d5d5; color: #8a1111; }
.verdict.pending { background: #fbecc8; color: #5c4a13; }
table { border-collapse: collapse; margin: 0.4em 0 1em; }
th, td { border: 1px solid #bbb; padding: 2px 8px; text-align: left; overflow-wrap: anywhere; }
table.summary td { max-width: 40em; }
tr.part th { font-weight: normal; padding-left: 1.6em; }
th { background: #eef2f6; }
td.n { text-align: right; }
tr.failed td { background: #f6d5d5; }
tr.out td { background: #fbecc8; }
tr.minor td { color: #555; font-style: italic; }
p.note { margin: 0.2em 0; color: #444; }
.side { display: inline-block; vertical-align: top; margin-right: 2em; }
.images { display: flex; flex-wrap: wrap; gap: 12px; }
figure { margin: 0; width: 320px; }
figure.diagram { width: auto; margin: 1em 0; }
figure img { width: 320px; }
figcaption, .missing { font-size: 0.9em; overflow-wrap: anywhere; }
.missing { color: #8a1111; width: 320px; }
)css";

void Add(std::string& out, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) out.append(part);
}

void SummaryRow(std::string& out, const std::string& caption, const std::string& value,
                const char* id = nullptr, bool part = false) {
    Add(out, {part ? "<tr class=\"part\"><th>" : "<tr><th>", EscapeHtml(caption), "</th><td"});
    if (id) Add(out, {" id=\"", id, "\""});
    Add(out, {">", EscapeHtml(value), "</td></tr>\n"});
}

void TallyTable(std::string& out, const std::string& caption, const std::string& countCaption,
                const std::vector<Tally>& tallies) {
    Add(out, {"<div class=\"side\"><h3>", EscapeHtml(caption), "</h3><table><tr><th></th><th>",
              EscapeHtml(countCaption), "</th></tr>\n"});
    for (const Tally& t : tallies)
        Add(out, {"<tr><td>", EscapeHtml(t.name), "</td><td class=\"n\">", std::to_string(t.count),
                  "</td></tr>\n"});
    out += "</table></div>\n";
}

const char* RowClass(Mark mark) {
    switch (mark) {
        case Mark::Pass:
            return "";
        case Mark::Failed:
            return " class=\"failed\"";
        case Mark::OverLoss:
        case Mark::OverAngle:
        case Mark::OverBoth:
            break;
    }
    return " class=\"out\"";
}

const char* ToneClass(Tone tone) {
    if (tone == Tone::Pass) return "pass";
    return tone == Tone::Fail ? "fail" : "pending";
}

// A section of a job's report; a table of no lines is its title and note alone.
void TextTableHtml(std::string& out, const TextTable& table, const char* id = nullptr) {
    Add(out, {"<h2"});
    if (id) Add(out, {" id=\"", id, "\""});
    Add(out, {">", EscapeHtml(table.title), "</h2>\n"});
    if (!table.note.empty()) Add(out, {"<p class=\"note\">", EscapeHtml(table.note), "</p>\n"});
    if (table.lines.empty()) return;
    out += "<table class=\"section\">\n<tr>";
    for (const std::string& header : table.headers) Add(out, {"<th>", EscapeHtml(header), "</th>"});
    out += "</tr>\n";
    for (const TextTable::Line& line : table.lines) {
        Add(out, {"<tr", line.minor ? " class=\"minor\"" : RowClass(line.mark), ">"});
        for (const std::string& cell : line.cells) Add(out, {"<td>", EscapeHtml(cell), "</td>"});
        out += "</tr>\n";
    }
    out += "</table>\n";
}

bool NotInHtml(char32_t c) {
    const bool control =
        c < 0x20 ? c != '\t' && c != '\n' && c != '\f' && c != '\r' : c >= 0x7F && c <= 0x9F;
    return control || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
    // What HTML does not let a document hold (control characters but its white
    // space, noncharacters) shows as U+FFFD.
    return EscapeMarkup(text, NotInHtml, "\xEF\xBF\xBD");
}

std::string Base64(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == text.size()) {
        const unsigned v = bytes[i] << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == text.size()) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

std::string HistogramSvg(const Report& report, int width, int height) {
    const Histogram& h = report.histogram;
    const std::size_t most =
        std::max<std::size_t>(1, *std::max_element(h.counts.begin(), h.counts.end()));
    const int left = 40, bottom = 36, top = 10, right = 10;
    const int plotWidth = width - left - right, plotHeight = height - top - bottom;
    const double bar = static_cast<double>(plotWidth) / static_cast<double>(h.counts.size());
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(height) + "\" font-size=\"11\">\n";
    Add(out, {"<line x1=\"", std::to_string(left), "\" y1=\"", std::to_string(top + plotHeight),
              "\" x2=\"", std::to_string(left + plotWidth), "\" y2=\"",
              std::to_string(top + plotHeight), "\" stroke=\"#444\"/>\n"});
    Add(out, {"<text x=\"", std::to_string(left - 4), "\" y=\"", std::to_string(top + 10),
              "\" text-anchor=\"end\">", std::to_string(most), "</text>\n"});
    for (std::size_t k = 0; k < h.counts.size(); ++k) {
        const int lower = h.Lower(k);
        const bool beyond = h.Beyond(k, report.limits.maxLoss);
        const double barHeight = static_cast<double>(plotHeight) *
                                 static_cast<double>(h.counts[k]) / static_cast<double>(most);
        char rect[200];
        std::snprintf(rect, sizeof rect,
                      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\">",
                      left + bar * static_cast<double>(k) + 1, top + plotHeight - barHeight,
                      std::max(bar - 2, 1.0), barHeight, beyond ? "#d9822b" : "#3b7dd8");
        Add(out, {rect, "<title>", LossFigure(lower), " - ", LossFigure(lower + h.width), ": ",
                  std::to_string(h.counts[k]), "</title></rect>\n"});
        // Every other lower bound under the axis when the bins are many.
        if (h.counts.size() <= 10 || k % 2 == 0) {
            char label[160];
            std::snprintf(label, sizeof label, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">",
                          left + bar * static_cast<double>(k), top + plotHeight + 14);
            Add(out, {label, LossFigure(lower), "</text>\n"});
        }
    }
    // The loss limit as a dashed line: bars right of it hold splices beyond it.
    const double limitX = left + plotWidth * static_cast<double>(report.limits.maxLoss) /
                                     static_cast<double>(h.Lower(h.counts.size()));
    if (limitX <= left + plotWidth) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#8a1111\" "
                      "stroke-dasharray=\"4 3\"/>\n",
                      limitX, top, limitX, top + plotHeight);
        out += line;
    }
    Add(out, {"<text x=\"", std::to_string(left + plotWidth / 2), "\" y=\"",
              std::to_string(height - 4), "\" text-anchor=\"middle\">",
              EscapeHtml(report.captions[Caption::HistogramAxis]), "</text>\n</svg>\n"});
    return out;
}

std::optional<std::string> HtmlDocument(const Report& report, const Progress& progress,
                                        std::vector<MissingImage>* missingImages,
                                        std::stop_token stop) {
    const Captions& c = report.captions;
    std::string out;
    out.reserve(4096 + report.rows.size() * 400);
    Add(out,
        {"<!DOCTYPE html>\n<html lang=\"", Config().UsesEnglishFiles() ? "en" : "zh-CN",
         "\">\n<head>\n<meta charset=\"utf-8\">\n<title>", EscapeHtml(report.TitleText()), " - ",
         EscapeHtml(report.job), "</title>\n<style>", kStyle, "</style>\n</head>\n<body>\n"});

    // The verdict first, then the figures it rests on; a job's report names every
    // failure that counts before anything else.
    Add(out, {"<h1>", EscapeHtml(report.TitleText()), "</h1>\n<div class=\"verdict ",
              ToneClass(report.VerdictTone()), "\" id=\"verdict\">",
              EscapeHtml(report.VerdictText()), "</div>\n"});
    if (report.asBuilt) TextTableHtml(out, report.asBuilt->failures, "failures");
    out += "<table class=\"summary\">\n";
    SummaryRow(out, c[Caption::Job], report.job, "job");
    if (report.asBuilt) {
        // A job's report: its details and positions, then the figures of its records.
        for (const SummaryLine& line : report.asBuilt->summary)
            SummaryRow(out, line.caption, line.value, nullptr, line.part);
        Add(out, {"</table>\n<h2>", EscapeHtml(c[Caption::Splices]),
                  "</h2>\n<table class=\"summary\">\n"});
    }
    for (const SplicerLine& s : report.splicers)
        SummaryRow(out, c[Caption::Splicer], SplicerText(report, s));
    SummaryRow(out, c[Caption::Period], report.period, "period");
    SummaryRow(out, c[Caption::Splices], std::to_string(report.rows.size()), "splices");
    SummaryRow(out, c[Caption::Passed], std::to_string(report.passed), "passed");
    SummaryRow(out, c[Caption::Failed], std::to_string(report.failed), "failed");
    SummaryRow(out, c[Caption::MarkFailed], std::to_string(report.failedOnSplicer),
               "failed-on-splicer", true);
    SummaryRow(out, c[Caption::MarkOverLoss], std::to_string(report.overLoss), "over-loss", true);
    SummaryRow(out, c[Caption::MarkOverAngle], std::to_string(report.overAngle), "over-angle",
               true);
    SummaryRow(out, c[Caption::LossMean], MeanLossFigure(report.loss.mean), "loss-mean");
    SummaryRow(out, c[Caption::LossMax], LossFigure(report.loss.max), "loss-max");
    SummaryRow(out, c[Caption::LossP95], LossFigure(report.loss.p95), "loss-p95");
    SummaryRow(out, c[Caption::Limits] + ": " + c[Caption::MaxLoss],
               LossFigure(report.limits.maxLoss), "max-loss");
    SummaryRow(out, c[Caption::Limits] + ": " + c[Caption::MaxAngle],
               AngleFigure(report.limits.maxAngle), "max-angle");
    SummaryRow(out, c[Caption::Written], report.written);
    out += "</table>\n";

    Add(out, {"<div class=\"side\"><h3>", EscapeHtml(c[Caption::Histogram]), "</h3>\n",
              HistogramSvg(report, 480, 220), "</div>\n"});
    TallyTable(out, c[Caption::BySplicer], c[Caption::Count], report.bySplicer);
    TallyTable(out, c[Caption::ByFiber], c[Caption::Count], report.byFiber);
    TallyTable(out, c[Caption::ByProgram], c[Caption::Count], report.byProgram);
    if (report.asBuilt) {
        if (!report.asBuilt->bySplicer.lines.empty()) TextTableHtml(out, report.asBuilt->bySplicer);
        for (const TextTable& table : report.asBuilt->tables) TextTableHtml(out, table);
        for (const jobs::TrayDiagram& diagram : report.asBuilt->diagrams)
            Add(out,
                {"<figure class=\"diagram\">\n", jobs::DiagramSvg({&diagram, 1}), "</figure>\n"});
    }

    Add(out,
        {"<h2>", EscapeHtml(c[Caption::SpliceTable]), "</h2>\n<table class=\"splices\">\n<tr><th>",
         EscapeHtml(c[Caption::Number]), "</th>"});
    if (report.ManySplicers()) Add(out, {"<th>", EscapeHtml(c[Caption::Splicer]), "</th>"});
    for (const std::string& column : c.columns) Add(out, {"<th>", EscapeHtml(column), "</th>"});
    Add(out, {"<th>", EscapeHtml(c[Caption::Mark]), "</th></tr>\n"});
    const std::size_t total = report.rows.size() + report.images.size();
    std::size_t done = 0;
    int shown = -1;
    auto step = [&] {
        ++done;
        const int percent = static_cast<int>(done * 100 / std::max<std::size_t>(total, 1));
        if (progress && percent != shown) progress(shown = percent);
    };
    for (const Row& row : report.rows) {
        if (stop.stop_requested()) return std::nullopt;
        Add(out, {"<tr", RowClass(row.mark), "><td class=\"n\">", row.number, "</td>"});
        if (report.ManySplicers()) Add(out, {"<td>", EscapeHtml(row.splicer), "</td>"});
        Add(out, {"<td>", row.time, "</td><td>", EscapeHtml(row.result), "</td><td class=\"n\">",
                  row.loss, "</td><td>", EscapeHtml(row.spliceMode), "</td><td>",
                  EscapeHtml(row.fiberType), "</td><td class=\"n\">", row.lfAngle,
                  "</td><td class=\"n\">", row.rfAngle, "</td><td>",
                  EscapeHtml(MarkText(report, row.mark)), "</td></tr>\n"});
        step();
    }
    out += "</table>\n";

    if (!report.images.empty()) {
        Add(out, {"<h2>", EscapeHtml(c[Caption::Images]), "</h2>\n<div class=\"images\">\n"});
        for (const Image& image : report.images) {
            if (stop.stop_requested()) return std::nullopt;
            const ImageRead read = ReadImage(image);
            if (read.problem == ImageProblem::None) {
                Add(out, {"<figure><img alt=\"", EscapeHtml(image.name),
                          "\" src=\"data:image/jpeg;base64,", Base64(read.bytes), "\"><figcaption>",
                          EscapeHtml(image.caption), "</figcaption></figure>\n"});
            } else {
                const MissingImage missing{image.name, read.problem};
                if (missingImages) missingImages->push_back(missing);
                Add(out, {"<div class=\"missing\">", EscapeHtml(image.caption), "<br>",
                          EscapeHtml(MissingImageText(report, missing)), "</div>\n"});
            }
            step();
        }
        out += "</div>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

std::optional<Format> FormatOf(const std::filesystem::path& file) {
    std::string ext = PathText(file.extension());
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".pdf") return Format::Pdf;
    if (ext == ".html" || ext == ".htm") return Format::Html;
    return std::nullopt;
}

WriteResult WriteReportFile(const std::filesystem::path& file, const Report& report,
                            const PdfMaker& pdf, const Progress& progress, std::stop_token stop,
                            std::optional<Format> format) {
    if (!format) format = FormatOf(file);
    if (!format) return {false, false, Say(report_msg::UnknownFormat, {PathText(file)}), {}};
    WriteResult result;
    const std::optional<std::string> document =
        *format == Format::Html ? HtmlDocument(report, progress, &result.missingImages, stop)
                                : pdf(report, progress, &result.missingImages, stop);
    // Stopped before the file was touched: whatever was there stays as it was.
    if (stop.stop_requested()) return Cancelled();
    if (!document) return NotWritten(file, "the PDF writer could not start");
    const FileWriteResult written = ReplaceFile(file, *document);
    if (!written.ok) return NotWritten(file, written.reason);
    result.ok = true;
    return result;
}

}  // namespace velmora::report
