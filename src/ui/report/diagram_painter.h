#pragma once
// The splice diagram drawn with QPainter: on the Jobs tab, on the job report's PDF
// pages, and into a PNG file for velmora-cli (diagram_png.h, through the PDF writer
// module, so that the tool maps Qt Gui for nothing else). Qt Gui only, no widgets.
#include <QFont>
#include <QPainter>
#include <QString>
#include <optional>

#include "jobs/splice_diagram.h"
#include "ui/report/diagram_png.h"

namespace velmora::report {

// A family that has the Chinese glyphs, so a Chinese caption or name never comes out
// as empty boxes; the system's own font where none is installed.
QString ReportFontFamily();

class DiagramPainter : public jobs::DiagramCanvas {
  public:
    // Draws on `painter` in its current coordinates, a diagram unit a unit of them.
    DiagramPainter(QPainter& painter, QString family);

    void Rect(double x, double y, double width, double height, jobs::Rgb fill,
              std::optional<jobs::Rgb> border) override;
    void Line(double x1, double y1, double x2, double y2, jobs::Rgb colour, double width,
              bool dashed) override;
    void Text(double x, double y, double width, double height, std::string_view text, double size,
              bool bold, jobs::Rgb colour, jobs::TextAlign align) override;

  private:
    QPainter& painter_;
    QString family_;
};

}  // namespace velmora::report
