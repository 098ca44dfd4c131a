#include "ui/report/diagram_painter.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPen>
#include <cmath>

namespace velmora::report {
namespace {

QColor ColourOf(jobs::Rgb rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

}  // namespace

QString ReportFontFamily() {
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Source Han Sans SC",
                             "Microsoft YaHei", "SimSun", "Droid Sans Fallback"})
        if (installed.contains(QLatin1String(name))) return QLatin1String(name);
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!chinese.isEmpty()) return chinese.front();
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

DiagramPainter::DiagramPainter(QPainter& painter, QString family)
    : painter_(painter), family_(std::move(family)) {}

void DiagramPainter::Rect(double x, double y, double width, double height, jobs::Rgb fill,
                          std::optional<jobs::Rgb> border) {
    const QRectF box(x, y, width, height);
    painter_.fillRect(box, ColourOf(fill));
    if (!border) return;
    painter_.setPen(QPen(ColourOf(*border), 1));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawRect(box);
}

void DiagramPainter::Line(double x1, double y1, double x2, double y2, jobs::Rgb colour,
                          double width, bool dashed) {
    QPen pen(ColourOf(colour), width);
    pen.setCapStyle(Qt::RoundCap);
    if (dashed) pen.setDashPattern({5 / width, 4 / width});
    painter_.setPen(pen);
    painter_.drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

void DiagramPainter::Text(double x, double y, double width, double height, std::string_view text,
                          double size, bool bold, jobs::Rgb colour, jobs::TextAlign align) {
    QFont font(family_);
    font.setPixelSize(static_cast<int>(std::lround(size)));
    font.setBold(bold);
    painter_.setFont(font);
    painter_.setPen(ColourOf(colour));
    const QString shown =
        QFontMetricsF(font, painter_.device())
            .elidedText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                        Qt::ElideRight, width);
    const Qt::Alignment horizontal = align == jobs::TextAlign::Left     ? Qt::AlignLeft
                                     : align == jobs::TextAlign::Centre ? Qt::AlignHCenter
                                                                        : Qt::AlignRight;
    painter_.drawText(QRectF(x, y, width, height), horizontal | Qt::AlignVCenter, shown);
}

std::optional<std::string> DiagramPng(std::span<const jobs::TrayDiagram> diagrams, double width,
                                      double scale) {
    width = std::max(width, jobs::kMinDiagramWidth);
    const QSize size(static_cast<int>(std::ceil(width * scale)),
                     static_cast<int>(std::ceil(jobs::StackedHeight(diagrams) * scale)));
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) return std::nullopt;
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(scale, scale);
        DiagramPainter canvas(painter, ReportFontFamily());
        jobs::DrawStacked(canvas, diagrams, width);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return std::nullopt;
    return bytes.toStdString();
}

}  // namespace velmora::report
