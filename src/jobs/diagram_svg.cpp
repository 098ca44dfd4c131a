#include "jobs/diagram_svg.h"

#include <charconv>

#include "base/text_codec.h"

namespace velmora::jobs {
namespace {

// A coordinate with one decimal, whatever the locale (Qt sets the user's).
std::string Number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    std::string out(text, end.ptr);
    if (out.ends_with(".0")) out.resize(out.size() - 2);
    return out == "-0" ? "0" : out;
}

std::string Colour(Rgb rgb) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "#";
    for (int shift = 20; shift >= 0; shift -= 4) out += kHex[(rgb >> shift) & 0xF];
    return out;
}

// `text` as XML character data: what XML 1.0 cannot hold (control characters,
// U+FFFE and U+FFFF) left out, bytes that are not UTF-8 shown as U+FFFD, and the
// five markup characters as entities.
std::string XmlText(std::string_view text) {
    return EscapeMarkup(text, NotInXml, "");
}

class SvgCanvas : public DiagramCanvas {
  public:
    explicit SvgCanvas(std::string& out) : out_(out) {}

    void Rect(double x, double y, double width, double height, Rgb fill,
              std::optional<Rgb> border) override {
        out_ += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(width) +
                "\" height=\"" + Number(height) + "\" fill=\"" + Colour(fill) + "\"";
        if (border) out_ += " stroke=\"" + Colour(*border) + "\" stroke-width=\"1\"";
        out_ += "/>\n";
    }
    void Line(double x1, double y1, double x2, double y2, Rgb colour, double width,
              bool dashed) override {
        out_ += "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
                "\" y2=\"" + Number(y2) + "\" stroke=\"" + Colour(colour) + "\" stroke-width=\"" +
                Number(width) + "\"";
        if (dashed) out_ += " stroke-dasharray=\"5 4\"";
        out_ += "/>\n";
    }
    void Text(double x, double y, double width, double height, std::string_view text, double size,
              bool bold, Rgb colour, TextAlign align) override {
        const double at = align == TextAlign::Left     ? x
                          : align == TextAlign::Centre ? x + width / 2
                                                       : x + width;
        const char* anchor = align == TextAlign::Left     ? "start"
                             : align == TextAlign::Centre ? "middle"
                                                          : "end";
        out_ += "<text x=\"" + Number(at) + "\" y=\"" + Number(y + height / 2) + "\" font-size=\"" +
                Number(size) + "\" fill=\"" + Colour(colour) + "\" text-anchor=\"" + anchor +
                "\" dominant-baseline=\"central\"";
        if (bold) out_ += " font-weight=\"bold\"";
        out_ += ">" + XmlText(text) + "</text>\n";
    }

  private:
    std::string& out_;
};

}  // namespace

std::string DiagramSvg(std::span<const TrayDiagram> diagrams, double width) {
    width = std::max(width, kMinDiagramWidth);
    const double height = StackedHeight(diagrams);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(width) +
                      "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " + Number(width) + " " +
                      Number(height) +
                      "\" font-family=\"Noto Sans CJK SC, WenQuanYi Micro Hei, Microsoft YaHei, "
                      "sans-serif\">\n";
    SvgCanvas canvas(out);
    DrawStacked(canvas, diagrams, width);
    out += "</svg>\n";
    return out;
}

}  // namespace velmora::jobs
