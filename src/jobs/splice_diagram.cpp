#include "jobs/splice_diagram.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "base/language.h"

namespace velmora::jobs {
namespace {

// The layout, in the diagram's units.
constexpr double kMargin = 6;
constexpr double kTitleHeight = 28;
constexpr double kRowHeight = 20;
constexpr double kLegendGap = 8;
constexpr double kLegendHeight = 22;
constexpr double kSwatch = 12;
constexpr double kSwatchGap = 3;
constexpr double kLabelHeight = 14;
constexpr double kStackGap = 12;  // between diagrams one below another
constexpr double kTitleSize = 13, kTextSize = 11, kLabelSize = 10;
constexpr Rgb kInk = 0x202020, kMuted = 0x505860, kSwatchBorder = 0x505050, kBackground = 0xffffff;

// The text with %1, %2... replaced by `values` in order; a caption from a language
// file may lack some of them.
std::string Filled(std::string text, std::initializer_list<std::string_view> values) {
    int n = 1;
    for (std::string_view value : values) {
        const std::string mark = "%" + std::to_string(n++);
        if (const auto at = text.find(mark); at != std::string::npos)
            text.replace(at, mark.size(), value);
    }
    return text;
}

// The length of the UTF-8 sequence `lead` starts, and the code point it opens (a
// byte that cannot start one counts as a character of its own).
std::pair<std::size_t, char32_t> CodePointAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x06 ? 2
                               : (lead >> 4) == 0x0E ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 1;
    if (length == 1 || at + length > text.size()) return {1, lead};
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    return {length, cp};
}

// A generous guess of a character's advance in a sans-serif font of `size`: Chinese
// and other wide characters take a whole em.
double Advance(char32_t cp, double size) {
    if (cp >= 0x1100) return size;
    return (cp < 0x80 ? 0.6 : 0.7) * size;
}

double EstimatedWidth(std::string_view text, double size) {
    double width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [length, cp] = CodePointAt(text, at);
        width += Advance(cp, size);
        at += length;
    }
    return width;
}

// Where things go across a diagram drawn `width` units wide: the texts of the sides,
// their swatches, and the span the lines cross between them.
struct Columns {
    double width;
    double text;        // the width of a side's text
    double tubeLeft;    // the left side's tube swatch
    double fibreLeft;   // the left side's fibre swatch
    double lineLeft;    // where the lines start
    double lineRight;   // where they end
    double fibreRight;  // the right side's fibre swatch
    double tubeRight;
    double textRight;  // the right side's text

    explicit Columns(double w)
        : width(std::max(w, kMinDiagramWidth)),
          text(std::clamp(width * 0.28, 130.0, 240.0)),
          tubeLeft(kMargin + text + 4),
          fibreLeft(tubeLeft + kSwatch + kSwatchGap),
          lineLeft(fibreLeft + kSwatch + 4),
          lineRight(width - lineLeft),
          fibreRight(width - fibreLeft - kSwatch),
          tubeRight(width - tubeLeft - kSwatch),
          textRight(width - kMargin - text) {}
};

struct Band {
    std::size_t first;
    std::size_t end;  // one past the last row
    double rowsTop;
    bool Holds(std::size_t row) const { return row >= first && row < end; }
    double Centre(std::size_t row) const {
        return rowsTop + (static_cast<double>(row) - static_cast<double>(first) + 0.5) * kRowHeight;
    }
    double Bottom() const { return rowsTop + static_cast<double>(end - first) * kRowHeight; }
};

Band BandOf(const TrayDiagram& diagram, DiagramBand band, double top) {
    const std::size_t first = std::min(band.first, diagram.Rows());
    const std::size_t end = first + std::min(band.count, diagram.Rows() - first);
    return {first, end, top + kTitleHeight};
}

void DrawSide(DiagramCanvas& canvas, const std::vector<DiagramRow>& rows, const Band& band,
              const Columns& at, bool left) {
    for (std::size_t i = band.first; i < band.end && i < rows.size(); ++i) {
        const DiagramRow& row = rows[i];
        const double y = band.Centre(i) - kRowHeight / 2;
        const TextAlign align = left ? TextAlign::Right : TextAlign::Left;
        if (!row.place) {
            // A heading spans the text and the swatches.
            const double width = at.text + 2 * kSwatch + kSwatchGap + 4;
            const double x = left ? kMargin : at.width - kMargin - width;
            canvas.Text(x, y, width, kRowHeight, FitText(row.text, width, kTextSize), kTextSize,
                        true, kInk, align);
            continue;
        }
        const double swatchTop = y + (kRowHeight - kSwatch) / 2;
        canvas.Rect(left ? at.tubeLeft : at.tubeRight, swatchTop, kSwatch, kSwatch,
                    ColourRgb(row.place->tubeColour), kSwatchBorder);
        canvas.Rect(left ? at.fibreLeft : at.fibreRight, swatchTop, kSwatch, kSwatch,
                    ColourRgb(row.place->colour), kSwatchBorder);
        canvas.Text(left ? kMargin : at.textRight, y, at.text, kRowHeight,
                    FitText(row.text, at.text, kTextSize), kTextSize, false, kInk, align);
    }
}

// A link's line as drawn in the band, and its label.
struct Segment {
    double x1, y1, x2, y2;
    std::string label;
    Rgb ink;
};

// The link's line within the band; one whose other end lies outside it runs to the
// band's edge and names that end. Nothing when neither end is in the band.
std::optional<Segment> DrawLink(DiagramCanvas& canvas, const TrayDiagram& diagram,
                                const DiagramLink& link, const Band& band, const Columns& at) {
    const bool aIn = band.Holds(link.a), bIn = band.Holds(link.b);
    if (!aIn && !bIn) return std::nullopt;
    Segment s{at.lineLeft,         band.Centre(link.a), at.lineRight,
              band.Centre(link.b), link.label,          LinkColour(link.mark)};
    if (!aIn || !bIn) {
        const double edge = (aIn ? link.b : link.a) < band.first ? band.rowsTop : band.Bottom();
        const double t = (edge - s.y1) / (s.y2 - s.y1);
        (aIn ? s.x2 : s.x1) = s.x1 + t * (s.x2 - s.x1);
        (aIn ? s.y2 : s.y1) = edge;
        const DiagramRow& far = aIn ? diagram.right[link.b] : diagram.left[link.a];
        s.label += "  \u2192 " + far.text;
    }
    const bool planned = !link.mark;
    const double width = planned ? 1.4 : link.mark == Mark::Pass ? 2.2 : 3.0;
    canvas.Line(s.x1, s.y1, s.x2, s.y2, s.ink, width, planned);
    if (planned) s.ink = kMuted;
    return s;
}

// The labels over the lines, each on its own line where it covers no label placed
// before it: halfway along a level line, nearer the left end of a sloping one, else
// the next free place along it.
void DrawLabels(DiagramCanvas& canvas, const std::vector<Segment>& segments, const Columns& at) {
    struct Box {
        double left, top, right, bottom;
        bool Meets(const Box& o) const {
            return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
        }
    };
    // Placed boxes by the band of height they lie in: a box meets only its neighbours'.
    std::unordered_map<long, std::vector<Box>> placed;
    const double room = std::max(at.lineRight - at.lineLeft - 8, 20.0);
    for (const Segment& s : segments) {
        const std::string shown = FitText(s.label, room - 6, kLabelSize);
        const double width = std::min(room, EstimatedWidth(shown, kLabelSize) + 8);
        auto boxAt = [&](double t) {
            const double cx = s.x1 + t * (s.x2 - s.x1), cy = s.y1 + t * (s.y2 - s.y1);
            return Box{cx - width / 2, cy - kLabelHeight / 2, cx + width / 2,
                       cy + kLabelHeight / 2};
        };
        auto free = [&](const Box& box) {
            const long at = std::lround(box.top / kLabelHeight);
            for (long k = at - 1; k <= at + 1; ++k)
                if (const auto found = placed.find(k); found != placed.end())
                    for (const Box& other : found->second)
                        if (box.Meets(other)) return false;
            return true;
        };
        const double level[] = {0.5, 0.3, 0.7, 0.15, 0.85};
        const double sloping[] = {0.3, 0.5, 0.7, 0.15, 0.85};
        Box box = boxAt(s.y1 == s.y2 ? level[0] : sloping[0]);
        for (const double t : s.y1 == s.y2 ? level : sloping)
            if (free(boxAt(t))) {
                box = boxAt(t);
                break;
            }
        placed[std::lround(box.top / kLabelHeight)].push_back(box);
        canvas.Rect(box.left, box.top, width, kLabelHeight, kBackground, std::nullopt);
        canvas.Text(box.left, box.top, width, kLabelHeight, shown, kLabelSize, false, s.ink,
                    TextAlign::Centre);
    }
}

void DrawLegend(DiagramCanvas& canvas, const TrayDiagram& diagram, double top, const Columns& at) {
    const std::optional<Mark> kinds[] = {Mark::Pass, Mark::Failed, Mark::OverLoss, std::nullopt};
    const std::size_t count = std::min(diagram.legend.size(), std::size(kinds));
    if (count == 0) return;
    const double entry = (at.width - 2 * kMargin) / static_cast<double>(count);
    const double middle = top + kLegendHeight / 2;
    for (std::size_t k = 0; k < count; ++k) {
        const double x = kMargin + entry * static_cast<double>(k);
        const bool planned = !kinds[k];
        canvas.Line(x, middle, x + 22, middle, LinkColour(kinds[k]), planned ? 1.4 : 2.2, planned);
        canvas.Text(x + 28, top, entry - 32, kLegendHeight,
                    FitText(diagram.legend[k], entry - 32, kLabelSize), kLabelSize, false, kMuted,
                    TextAlign::Left);
    }
}

}  // namespace

DiagramTexts LoadDiagramTexts(MatrixCaptions matrix) {
    return {std::move(matrix), Text(keys::job_tab::FibreText)};
}

std::string FibreText(const MatrixEnd& end, const DiagramTexts& texts) {
    return Filled(texts.fibre, {std::to_string(end.fibre), std::to_string(end.place.tube),
                                texts.matrix.Colour(end.place.tubeColour),
                                texts.matrix.Colour(end.place.colour)});
}

std::string NoTraysText(const std::string& closure) {
    return Filled(Text(keys::job_tab::NoTrays), {closure});
}

Rgb LinkColour(std::optional<Mark> mark) {
    if (!mark) return 0x8a9098;
    if (*mark == Mark::Pass) return 0x1b7f3a;
    if (*mark == Mark::Failed) return 0xc62828;
    return 0xe07b00;
}

namespace {

// The diagram of tray `tray` of `closure`, whose positions are `rows`.
TrayDiagram DiagramOf(const MatrixClosure& closure, int tray,
                      std::span<const MatrixRow* const> rows, const DiagramTexts& texts) {
    const MatrixCaptions& c = texts.matrix;
    TrayDiagram diagram;
    diagram.title = c.closure + " " + closure.closure.details.name + " \u00b7 " +
                    c[MatrixColumn::Tray] + " " + std::to_string(tray);
    diagram.legend = {c.Mark(Mark::Pass), c.Mark(Mark::Failed), c.overLimit, c.planned};
    // A side lists its fibres by cable, in the closure's order of cables, each cable
    // under its heading; `rowOf` finds a fibre's row.
    std::map<std::string, std::size_t, std::less<>> cableAt;
    for (const CableInfo& cable : closure.cables)
        cableAt.emplace(cable.details.name, cableAt.size());
    using Key = std::pair<std::string, int>;
    auto side = [&](const MatrixEnd MatrixRow::*end, const std::string& caption,
                    std::vector<DiagramRow>& out) {
        std::vector<const MatrixEnd*> ends;
        for (const MatrixRow* row : rows) ends.push_back(&(row->*end));
        auto order = [&](const MatrixEnd* e) {
            const auto at = cableAt.find(e->cable);
            return std::tuple(at == cableAt.end() ? cableAt.size() : at->second, e->cable,
                              e->fibre);
        };
        std::sort(ends.begin(), ends.end(),
                  [&](const MatrixEnd* x, const MatrixEnd* y) { return order(x) < order(y); });
        std::map<Key, std::size_t> rowOf;
        const std::string* heading = nullptr;
        for (const MatrixEnd* e : ends) {
            if (rowOf.contains({e->cable, e->fibre})) continue;
            if (!heading || *heading != e->cable) {
                out.push_back({caption + ": " + e->cable, std::nullopt});
                heading = &e->cable;
            }
            rowOf[{e->cable, e->fibre}] = out.size();
            out.push_back({FibreText(*e, texts), e->place});
        }
        return rowOf;
    };
    const std::map<Key, std::size_t> left =
        side(&MatrixRow::a, c[MatrixColumn::CableA], diagram.left);
    const std::map<Key, std::size_t> right =
        side(&MatrixRow::b, c[MatrixColumn::CableB], diagram.right);
    for (const MatrixRow* row : rows) {
        DiagramLink link{left.at({row->a.cable, row->a.fibre}),
                         right.at({row->b.cable, row->b.fibre}), row->position, std::nullopt,
                         "#" + std::to_string(row->position)};
        if (row->splice) {
            link.mark = row->splice->mark;
            link.label +=
                "  " + RowTexts(*row, c)[static_cast<std::size_t>(MatrixColumn::Loss)] + " dB";
            if (*link.mark != Mark::Pass) link.label += "  " + c.Mark(*link.mark);
        }
        diagram.links.push_back(std::move(link));
    }
    return diagram;
}

}  // namespace

TrayDiagram MakeTrayDiagram(const MatrixClosure& closure, int tray, const DiagramTexts& texts) {
    std::vector<const MatrixRow*> rows;
    for (const MatrixRow& row : closure.rows)
        if (row.tray == tray) rows.push_back(&row);
    return DiagramOf(closure, tray, rows, texts);
}

std::vector<TrayDiagram> MakeTrayDiagrams(const MatrixClosure& closure, const DiagramTexts& texts) {
    // The closure's rows by tray, in one pass: a closure of many trays costs its rows once.
    std::map<int, std::vector<const MatrixRow*>> byTray;
    for (const MatrixRow& row : closure.rows) byTray[row.tray].push_back(&row);
    std::vector<TrayDiagram> diagrams;
    for (const TrayInfo& tray : closure.trays)
        diagrams.push_back(
            DiagramOf(closure, tray.details.number, byTray[tray.details.number], texts));
    return diagrams;
}

double DiagramHeight(const TrayDiagram& diagram, DiagramBand band) {
    const Band b = BandOf(diagram, band, 0);
    return b.Bottom() + kLegendGap + kLegendHeight;
}

std::size_t DiagramRowsWithin(double height) {
    const double rows = (height - kTitleHeight - kLegendGap - kLegendHeight) / kRowHeight;
    return rows < 1 ? 1 : static_cast<std::size_t>(rows);
}

void DrawTrayDiagram(DiagramCanvas& canvas, const TrayDiagram& diagram, double width,
                     DiagramBand band, double top) {
    const Columns at(width);
    const Band b = BandOf(diagram, band, top);
    canvas.Rect(0, top, at.width, b.Bottom() - top + kLegendGap + kLegendHeight, kBackground,
                std::nullopt);
    canvas.Text(kMargin, top + 4, at.width - 2 * kMargin, kTitleHeight - 8,
                FitText(diagram.title, at.width - 2 * kMargin, kTitleSize), kTitleSize, true, kInk,
                TextAlign::Left);
    DrawSide(canvas, diagram.left, b, at, true);
    DrawSide(canvas, diagram.right, b, at, false);
    // Planned lines first, so that a spliced line crossing one stays whole; the labels
    // over every line.
    std::vector<Segment> segments;
    for (const bool planned : {true, false})
        for (const DiagramLink& link : diagram.links)
            if (!link.mark == planned)
                if (auto segment = DrawLink(canvas, diagram, link, b, at))
                    segments.push_back(std::move(*segment));
    DrawLabels(canvas, segments, at);
    DrawLegend(canvas, diagram, b.Bottom() + kLegendGap, at);
}

double StackedHeight(std::span<const TrayDiagram> diagrams) {
    double height = 0;
    for (const TrayDiagram& diagram : diagrams) height += DiagramHeight(diagram) + kStackGap;
    return diagrams.empty() ? 0 : height - kStackGap;
}

void DrawStacked(DiagramCanvas& canvas, std::span<const TrayDiagram> diagrams, double width) {
    double top = 0;
    for (const TrayDiagram& diagram : diagrams) {
        DrawTrayDiagram(canvas, diagram, width, {}, top);
        top += DiagramHeight(diagram) + kStackGap;
    }
}

std::string FitText(std::string_view text, double width, double size) {
    if (EstimatedWidth(text, size) <= width) return std::string(text);
    constexpr std::string_view kEllipsis = "\u2026";
    double used = Advance(U'\u2026', size);
    std::size_t end = 0;
    while (end < text.size()) {
        const auto [length, cp] = CodePointAt(text, end);
        if (used + Advance(cp, size) > width) break;
        used += Advance(cp, size);
        end += length;
    }
    return std::string(text.substr(0, end)) + std::string(kEllipsis);
}

}  // namespace velmora::jobs
