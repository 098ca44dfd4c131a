#include "ui/widgets/wb_button.h"

#include <QPainter>
#include <algorithm>

#include "ui/app/ui_colours.h"
#include "ui/app/ui_resources.h"

namespace velmora::ui {
namespace {

QFont ButtonFont(const QFont& base) {
    QFont font(base);
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体")});
    font.setPixelSize(14);
    font.setWeight(QFont::Medium);
    return font;
}

// Copies `source` of the frame to `target`, scaling as needed without smoothing.
void CopyPart(QPainter& painter, const QImage& skin, const QRect& target, const QRect& source) {
    if (target.width() <= 0 || target.height() <= 0 || source.width() <= 0 || source.height() <= 0)
        return;
    painter.drawImage(target, skin, source);
}

void KeyOutMagenta(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFF) == CWBButton::kTransparent) line[x] = 0;
    }
}

}  // namespace

CWBButton::CWBButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent), textFont_(ButtonFont(font())) {
    // The button draws every pixel it owns itself; the rest is the page.
    setAttribute(Qt::WA_NoSystemBackground);
}

QSize CWBButton::sizeHint() const {
    const QFontMetrics metrics(textFont_);
    return {std::max(75, metrics.horizontalAdvance(text()) + 24),
            std::max(26, metrics.height() + 10)};
}

QImage CWBButton::BuildStateImage(const QImage& skin, int frame, QSize size, Margins m) {
    const int frameWidth = FrameWidth(skin);
    const int h = skin.height();
    if (frame < 0 || frame >= kFrameCount || frameWidth <= 0 || h <= 0 || size.isEmpty()) return {};
    const QImage source = skin.convertToFormat(QImage::Format_RGB32);
    const int x0 = frame * frameWidth;
    const int W = size.width();
    const int H = size.height();
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);

    const int srcCentreW = frameWidth - m.left - m.right;
    const int srcCentreH = h - m.top - m.bottom;
    const int dstCentreW = W - m.left - m.right;
    const int dstCentreH = H - m.top - m.bottom;
    // Corners, unscaled.
    CopyPart(painter, source, {0, 0, m.left, m.top}, {x0, 0, m.left, m.top});
    CopyPart(painter, source, {0, H - m.bottom, m.left, m.bottom},
             {x0, h - m.bottom, m.left, m.bottom});
    CopyPart(painter, source, {W - m.right, 0, m.right, m.top},
             {x0 + frameWidth - m.right, 0, m.right, m.top});
    CopyPart(painter, source, {W - m.right, H - m.bottom, m.right, m.bottom},
             {x0 + frameWidth - m.right, h - m.bottom, m.right, m.bottom});
    // Centre, then the four edges.
    CopyPart(painter, source, {m.left, m.top, dstCentreW, dstCentreH},
             {x0 + m.left, m.top, srcCentreW, srcCentreH});
    CopyPart(painter, source, {m.left, 0, dstCentreW, m.top}, {x0 + m.left, 0, srcCentreW, m.top});
    CopyPart(painter, source, {m.left, H - m.bottom, dstCentreW, m.bottom},
             {x0 + m.left, h - m.bottom, srcCentreW, m.bottom});
    CopyPart(painter, source, {0, m.top, m.left, dstCentreH}, {x0, m.top, m.left, srcCentreH});
    CopyPart(painter, source, {W - m.right, m.top, m.right, dstCentreH},
             {x0 + frameWidth - m.right, m.top, m.right, srcCentreH});
    painter.end();

    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    KeyOutMagenta(keyed);
    return keyed;
}

QColor CWBButton::LabelColour(const QImage& face, bool enabled, const QColor& under) {
    if (!enabled) return QColor::fromRgb(kDisabledText);
    QColor centre = under;
    if (!face.isNull()) {
        const QColor pixel = face.pixelColor(face.width() / 2, face.height() / 2);
        if (pixel.alpha() > 0) centre = pixel;
    }
    return {255 - centre.red(), 255 - centre.green(), 255 - centre.blue()};
}

bool CWBButton::EnsureStateImages() {
    if (builtFor_ == size() && !stateImages_[kNormal].isNull()) return true;
    if (skin_.isNull()) {
        InitResources();
        skin_.load(kButtonSkinPath);
        // A skin that cannot be loaded is tried again at the next drawing.
        if (skin_.isNull()) return false;
    }
    for (int frame = kNormal; frame <= kFocus; ++frame) {
        stateImages_[frame] = BuildStateImage(skin_, frame, size());
        if (stateImages_[frame].isNull()) return false;
    }
    builtFor_ = size();
    return true;
}

QImage CWBButton::RenderFace() {
    QImage face(size(), QImage::Format_ARGB32_Premultiplied);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    QRect textRect = rect();
    if (EnsureStateImages()) {
        if (hasFocus()) {
            painter.drawImage(0, 0, stateImages_[kFocus]);
            textRect.translate(kFocusTextShift, 0);
        } else {
            painter.drawImage(0, 0, stateImages_[isEnabled() ? kNormal : kDisabled]);
        }
        if (isDown()) painter.drawImage(0, 0, stateImages_[kPressed]);
    }
    painter.setPen(LabelColour(face, isEnabled(), PageQColour()));
    painter.setFont(textFont_);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, text());
    return face;
}

void CWBButton::paintEvent(QPaintEvent*) {
    // Composed off-screen and copied once, so the button never flickers.
    const QImage face = RenderFace();
    QPainter painter(this);
    painter.drawImage(0, 0, face);
}

}  // namespace velmora::ui
