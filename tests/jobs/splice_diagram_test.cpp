// A tray's splice diagram as its SVG file says it, read back by Python's XML parser:
// every line joins the fibres of its position (crossing lines, a second cable and a
// planned position among them), every swatch is its fibre's or its tube's colour, and
// the names that XML cannot hold as they are still come through. A large tray drawn
// in bands keeps every line, whole or to the band's edge with its other end named.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "jobs/diagram_svg.h"
#include "support/cli_runner.h"
#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

namespace fs = std::filesystem;

// The title, each fibre of a side as "heading / fibre text: fibre swatch, tube swatch",
// then each line as "left end -> right end: colour dashed? label", as a reader sees
// them: an end is the text on the line's row, its heading the last bold text above it,
// and a label the text of the line's colour centred on it.
constexpr const char* kReadSvg = R"py(
import sys, xml.etree.ElementTree as ET
ns = "{http://www.w3.org/2000/svg}"
root = ET.parse(sys.argv[1]).getroot()
width = float(root.get("width"))
texts = [(float(t.get("x")), float(t.get("y")), t.get("text-anchor"), t.get("font-weight") == "bold", t.text or "", t.get("fill")) for t in root.iter(ns + "text")]
print(texts[0][4])
rects = [(float(r.get("x")) + float(r.get("width")) / 2, float(r.get("y")) + float(r.get("height")) / 2, r.get("fill")) for r in root.iter(ns + "rect") if r.get("width") == "12"]
def end(x, y):
    left = x < width / 2
    side = [t for t in texts if t[2] == ("end" if left else "start") and (t[0] < width / 2) == left]
    row = min(side, key=lambda t: abs(t[1] - y))
    heading = [t for t in side if t[3] and t[1] < row[1]][-1]
    return heading[4] + " / " + row[4]
for t in texts:
    if t[2] in ("end", "start") and not t[3] and t[1] > 30:
        swatches = sorted((r for r in rects if abs(r[1] - t[1]) < 1 and (r[0] < width / 2) == (t[0] < width / 2)), key=lambda r: abs(r[0] - width / 2))
        if swatches:
            print(end(t[0], t[1]) + ": " + " ".join(r[2] for r in swatches))
for l in root.iter(ns + "line"):
    x1, y1, x2, y2 = (float(l.get(k)) for k in ("x1", "y1", "x2", "y2"))
    if x2 - x1 < 50:
        continue  # the legend's samples
    dashed = l.get("stroke-dasharray") is not None
    on = [t[4] for t in texts if t[2] == "middle" and (dashed or t[5] == l.get("stroke")) and abs((t[0] - x1) * (y2 - y1) - (t[1] - y1) * (x2 - x1)) < (x2 - x1)]
    print(end(x1, y1) + " -> " + end(x2, y2) + ": " + l.get("stroke") + (" dashed" if dashed else "") + " " + "|".join(on))
)py";

MatrixRow Row(int position, std::string cableA, int fibreA, int fibreB,
              std::optional<MatrixSplice> splice) {
    MatrixRow row;
    row.tray = 1;
    row.position = position;
    row.a = {std::move(cableA), fibreA, PlaceOfFibre(fibreA)};
    row.b = {"F-113", fibreB, PlaceOfFibre(fibreB, 6)};
    row.splice = std::move(splice);
    return row;
}

std::string Hex(FibreColour colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", ColourRgb(colour));
    return text;
}

TEST(SpliceDiagram, SvgReadBackByPythonJoinsEachPositionsFibresInItsColours) {
    const Limits limits{.maxLoss = 10, .maxAngle = 10};
    // Position 5 crosses position 3; position 4, planned, comes from a second cable;
    // tray 2 is not this diagram's.
    std::vector<MatrixRow> rows{Row(1, "F-112", 13, 1, test::MatrixSpliceOf(11, 2, 0, 1, limits)),
                                Row(2, "F-112", 14, 2, test::MatrixSpliceOf(12, 40, 1, 2, limits)),
                                Row(3, "F-112", 15, 5, test::MatrixSpliceOf(13, 25, 0, 3, limits)),
                                Row(4, "F-7", 2, 3, std::nullopt),
                                Row(5, "F-112", 24, 4, test::MatrixSpliceOf(14, 3, 0, 4, limits))};
    rows.push_back(test::MatrixRowOf(2, 1, 1));
    MatrixClosure closure = test::MatrixClosureOf("C-17 <east> & \"old\"\x01", std::nullopt, rows);
    for (const char* name : {"F-112", "F-113", "F-7"}) closure.cables.push_back({0, 0, {name}});
    closure.trays = {{0, 0, {1, 12}}, {0, 0, {2, 12}}};
    const DiagramTexts texts = LoadDiagramTexts();
    const std::vector<TrayDiagram> diagrams = MakeTrayDiagrams(closure, texts);
    ASSERT_EQ(diagrams.size(), 2u);

    const test::TempDir dir;
    const fs::path file = dir.path() / "tray.svg";
    ASSERT_TRUE(ReplaceFile(file, DiagramSvg({&diagrams[0], 1})).ok);
    const test::CliRun run =
        test::RunProgram("/usr/bin/python3", {"-c", kReadSvg, file.string()}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::string> expected{"Closure C-17 <east> & \"old\" \u00b7 Tray 1"};
    const std::string a = "Cable A: F-112 / ", b = "Cable B: F-113 / ";
    struct End {
        std::string side;
        int fibre;
        FibrePlace place;
    };
    std::vector<End> ends{{a, 13, PlaceOfFibre(13)},
                          {a, 14, PlaceOfFibre(14)},
                          {a, 15, PlaceOfFibre(15)},
                          {a, 24, PlaceOfFibre(24)},
                          {"Cable A: F-7 / ", 2, PlaceOfFibre(2)}};
    for (int fibre = 1; fibre <= 5; ++fibre) ends.push_back({b, fibre, PlaceOfFibre(fibre, 6)});
    auto text = [&](const End& e) { return e.side + FibreText({"", e.fibre, e.place}, texts); };
    for (const End& e : ends)
        expected.push_back(text(e) + ": " + Hex(e.place.colour) + " " + Hex(e.place.tubeColour));
    const struct {
        std::size_t a, b;
        std::string line;
    } lines[] = {
        {4, 7, "#8a9098 dashed #4"},
        {0, 5, "#1b7f3a #1  0.02 dB"},
        {1, 6, "#c62828 #2  0.40 dB  Splice failed"},
        {2, 9, "#e07b00 #3  0.25 dB  Loss over limit"},
        {3, 8, "#1b7f3a #5  0.03 dB"},
    };
    for (const auto& l : lines)
        expected.push_back(text(ends[l.a]) + " -> " + text(ends[l.b]) + ": " + l.line);
    EXPECT_EQ(test::Lines(run.out), expected);
}

// Records what is drawn: each line's ends and the texts.
class Recorder : public DiagramCanvas {
  public:
    void Rect(double, double, double, double, Rgb, std::optional<Rgb>) override {}
    void Line(double x1, double y1, double x2, double y2, Rgb, double, bool) override {
        lines.push_back({x1, y1, x2, y2});
    }
    void Text(double, double, double, double, std::string_view text, double, bool, Rgb,
              TextAlign) override {
        texts.emplace_back(text);
    }
    std::vector<std::array<double, 4>> lines;
    std::vector<std::string> texts;
};

TEST(SpliceDiagram, ALargeTrayInBandsKeepsEveryLineAndNamesTheFarEnd) {
    // Fibre n of cable A joins fibre 61 - n of cable B: every line but the middle
    // ones leaves a band of 25 rows.
    std::vector<MatrixRow> rows;
    for (int n = 1; n <= 60; ++n) rows.push_back(Row(n, "F-112", n, 61 - n, std::nullopt));
    MatrixClosure closure = test::MatrixClosureOf("C-1", std::nullopt, rows);
    const TrayDiagram diagram = MakeTrayDiagram(closure, 1, LoadDiagramTexts());
    ASSERT_EQ(diagram.Rows(), 61u);
    Recorder whole;
    DrawTrayDiagram(whole, diagram, kDiagramWidth);
    const double rowHeight = DiagramHeight(diagram, {0, 2}) - DiagramHeight(diagram, {0, 1});
    // Whether a band's line, moved down to where its rows lie in the whole diagram,
    // is a piece of one of the whole diagram's lines.
    auto onALine = [&](std::array<double, 4> l, std::size_t first) {
        l[1] += static_cast<double>(first) * rowHeight,
            l[3] += static_cast<double>(first) * rowHeight;
        return std::any_of(whole.lines.begin(), whole.lines.end(), [&](const auto& w) {
            auto off = [&](double x, double y) {
                return std::abs((x - w[0]) * (w[3] - w[1]) - (y - w[1]) * (w[2] - w[0]));
            };
            return off(l[0], l[1]) < 1e-3 * (w[2] - w[0]) &&
                   off(l[2], l[3]) < 1e-3 * (w[2] - w[0]) && w[0] - 1e-6 <= l[0] && l[0] < l[2] &&
                   l[2] <= w[2] + 1e-6;
        });
    };
    std::size_t drawn = 0, named = 0;
    for (std::size_t first = 0; first < diagram.Rows(); first += 25) {
        Recorder band;
        DrawTrayDiagram(band, diagram, kDiagramWidth, {first, 25});
        band.lines.resize(band.lines.size() - 4);  // the legend's four samples
        drawn += band.lines.size();
        for (const std::string& t : band.texts) named += t.find("\u2192") != std::string::npos;
        for (const auto& l : band.lines) EXPECT_TRUE(onALine(l, first)) << first;
    }
    // A line in one band is drawn once; one across two bands twice, named in both.
    EXPECT_EQ(drawn, 60u + named / 2);
    EXPECT_GT(named, 0u);
    EXPECT_EQ(named % 2, 0u);
}

TEST(SpliceDiagram, FitTextCutsAtACharacterWithinTheWidth) {
    const struct {
        std::string text;
        double width;
        std::string fitted;
    } cases[] = {
        {"F-112", 100, "F-112"},
        {"Closure C-17 on the north ring", 82, "Closure C-17\u2026"},
        {"北门一号接头盒", 45, "北门一\u2026"},
        {"", 0, ""},
        {"x", 0, "\u2026"},
    };
    for (const auto& c : cases) EXPECT_EQ(FitText(c.text, c.width, 10), c.fitted) << c.text;
}

}  // namespace
}  // namespace velmora::jobs
