#include "jobs/diagram_svg.h"

#include <charconv>

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

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// `text` as XML character data: what XML 1.0 cannot hold (control characters,
// U+FFFE and U+FFFF) left out, bytes that are not UTF-8 shown as U+FFFD, and the
// five markup characters as entities.
std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x06 ? 2
                                   : (lead >> 4) == 0x0E ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        char32_t cp = 0xFFFD;
        std::size_t used = 1;
        if (length == 1) {
            cp = lead;
        } else if (length > 1 && at + length <= text.size()) {
            char32_t value = lead & (0x7F >> length);
            bool whole = true;
            for (std::size_t k = 1; k < length && whole; ++k) {
                const auto next = static_cast<unsigned char>(text[at + k]);
                whole = (next & 0xC0) == 0x80;
                value = (value << 6) | (next & 0x3F);
            }
            // The shortest form only, and no surrogates or values past U+10FFFF.
            static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            if (whole && value >= kLeast[length] && value <= 0x10FFFF &&
                (value < 0xD800 || value > 0xDFFF)) {
                cp = value;
                used = length;
            }
        }
        at += used;
        switch (cp) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '"':
                out += "&quot;";
                continue;
            case '\'':
                out += "&#39;";
                continue;
            default:
                break;
        }
        if ((cp < 0x20 && cp != '\t') || cp == 0x7F || cp == 0xFFFE || cp == 0xFFFF) continue;
        AppendUtf8(out, cp);
    }
    return out;
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
