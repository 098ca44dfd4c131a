#pragma once
// A tray's splice diagram: cable A's fibres down the left, cable B's down the right,
// each beside its tube's colour and its own; a line for each position from its A
// fibre to its B fibre in the colour of the result of the splice that counts there,
// its loss written on it (and a failure or a limit passed named beside the loss); a
// position planned but not yet spliced dashed; a legend below. Laid out here once,
// from the splice matrix, and drawn through DiagramCanvas by every front end: the
// Jobs tab, the job's PDF and HTML reports, velmora-cli's SVG and PNG files. No Qt.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "history/splice_acceptance.h"
#include "jobs/fibre_colours.h"
#include "jobs/matrix_texts.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

using Rgb = std::uint32_t;  // 0xRRGGBB

enum class TextAlign { Left, Centre, Right };

// What a back-end draws with. Coordinates are the diagram's units, x to the right
// and y down from its top left corner; a back-end scales them to its page or screen.
class DiagramCanvas {
  public:
    virtual ~DiagramCanvas() = default;
    // A filled rectangle; its border in `border`, none when it is not given.
    virtual void Rect(double x, double y, double width, double height, Rgb fill,
                      std::optional<Rgb> border) = 0;
    virtual void Line(double x1, double y1, double x2, double y2, Rgb colour, double width,
                      bool dashed) = 0;
    // `text` on one line, centred on the box's height, aligned in its width and cut
    // short with an ellipsis where the back-end measures it wider than the box.
    virtual void Text(double x, double y, double width, double height, std::string_view text,
                      double size, bool bold, Rgb colour, TextAlign align) = 0;
};

// Captions a diagram is worded with, in the run's language.
struct DiagramTexts {
    MatrixCaptions matrix;
    std::string fibre;  // "%1: tube %2 %3, %4": fibre, tube, tube colour, fibre colour
};
DiagramTexts LoadDiagramTexts(MatrixCaptions matrix = LoadMatrixCaptions());

// "13: tube 2 orange, blue": a fibre, its tube and both colours by name, as the Jobs
// tab's table and the diagram show it (a swatch is never the only sign of a colour).
std::string FibreText(const MatrixEnd& end, const DiagramTexts& texts);

// A line of a side: a cable's heading, or one of its fibres with its colours.
struct DiagramRow {
    std::string text;
    std::optional<FibrePlace> place;  // none: the heading of the cable below
};

// A position of the tray: the rows its fibres are on, left and right.
struct DiagramLink {
    std::size_t a = 0;
    std::size_t b = 0;
    int position = 0;
    std::optional<Mark> mark;  // of the splice that counts; none: planned, not spliced
    std::string label;         // "#3  0.40 dB  Splice failed"; "#4" when planned
};

struct TrayDiagram {
    std::string title;  // "Closure C-17 · Tray 1"
    std::vector<DiagramRow> left;
    std::vector<DiagramRow> right;
    std::vector<DiagramLink> links;  // by position
    // The legend: what each kind of line means (passed, failed, over a limit, planned).
    std::vector<std::string> legend;

    std::size_t Rows() const { return left.size() > right.size() ? left.size() : right.size(); }
};

// The diagram of tray `tray` (its number) of `closure`: the fibres its positions join,
// each side by cable (in the closure's order) and by fibre.
TrayDiagram MakeTrayDiagram(const MatrixClosure& closure, int tray, const DiagramTexts& texts);
// Each tray's diagram, by tray number.
std::vector<TrayDiagram> MakeTrayDiagrams(const MatrixClosure& closure, const DiagramTexts& texts);

// "Closure C-17 has no trays": why a closure has no diagram to draw.
std::string NoTraysText(const std::string& closure);

// The colour of a position's line: by the mark of its splice; grey when planned.
Rgb LinkColour(std::optional<Mark> mark);

// Rows [first, first + count) of a diagram: one page's share of a large tray. A line
// with one end outside them runs to their edge and names its other end.
struct DiagramBand {
    std::size_t first = 0;
    std::size_t count = static_cast<std::size_t>(-1);
};

// The width a diagram is laid out for unless its front end has another; a narrower
// one is drawn at kMinDiagramWidth.
inline constexpr double kDiagramWidth = 720;
inline constexpr double kMinDiagramWidth = 420;

// The height of the diagram (or of its `band`) drawn `width` units wide.
double DiagramHeight(const TrayDiagram& diagram, DiagramBand band = {});
// The rows of a band at most `height` units high holds (at least one).
std::size_t DiagramRowsWithin(double height);

// Draws the diagram (or its `band`) `width` units wide with its top at `top`.
void DrawTrayDiagram(DiagramCanvas& canvas, const TrayDiagram& diagram, double width,
                     DiagramBand band = {}, double top = 0);

// Diagrams one below another (the trays of a closure), drawn `width` units wide.
double StackedHeight(std::span<const TrayDiagram> diagrams);
void DrawStacked(DiagramCanvas& canvas, std::span<const TrayDiagram> diagrams, double width);

// `text` cut at a character so that its estimated width at `size` fits `width`, an
// ellipsis ending it when it was cut: back-ends that cannot measure text (SVG) draw
// it as it is, the others cut it again where they measure it wider.
std::string FitText(std::string_view text, double width, double size);

}  // namespace velmora::jobs
