#include "ui/jobs/splice_diagram_view.h"

#include <QFontInfo>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/report/diagram_painter.h"

namespace velmora::ui {
namespace {

// Past this width (in units) the lines grow no longer: the diagram stays centred.
constexpr double kWidestUnits = 1100;

}  // namespace

CSpliceDiagramView::CSpliceDiagramView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAutoFillBackground(false);
}

void CSpliceDiagramView::SetDiagram(std::optional<jobs::TrayDiagram> diagram) {
    diagram_ = std::move(diagram);
    setMinimumHeight(heightForWidth(width()));
    updateGeometry();
    update();
}

double CSpliceDiagramView::Scale() const {
    // The diagram's fibre texts are 11 units: as large as the window's text.
    return std::max(1.0, QFontInfo(font()).pixelSize() / 12.0);
}

double CSpliceDiagramView::UnitsFor(int pixels) const {
    return std::clamp(pixels / Scale(), jobs::kMinDiagramWidth, kWidestUnits);
}

int CSpliceDiagramView::heightForWidth(int) const {
    if (!diagram_) return 0;
    return static_cast<int>(std::ceil(jobs::DiagramHeight(*diagram_) * Scale()));
}

QSize CSpliceDiagramView::sizeHint() const {
    return {static_cast<int>(jobs::kDiagramWidth * Scale()), heightForWidth(0)};
}

void CSpliceDiagramView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setMinimumHeight(heightForWidth(width()));
}

void CSpliceDiagramView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!diagram_) return;
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = Scale();
    const double units = UnitsFor(width());
    // Centred where the view is wider than the widest drawing.
    painter.translate(std::max(0.0, (width() - units * scale) / 2), 0);
    painter.scale(scale, scale);
    report::DiagramPainter canvas(painter, font().family());
    jobs::DrawTrayDiagram(canvas, *diagram_, units);
}

}  // namespace velmora::ui
