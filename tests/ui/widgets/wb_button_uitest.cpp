// Image buttons: frames cut from the skin, borders kept while stretching,
// magenta left out, and a label that stays readable on the skin.
#include <gtest/gtest.h>

#include <QPainter>
#include <array>

#include "ui/app/ui_resources.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {
namespace {

const QColor kBorder(1, 2, 3);
const std::array<QColor, 5> kFrameColours{QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200),
                                          QColor(200, 200, 0), QColor(0, 200, 200)};

// A skin of five frames, each a solid colour inside a border (5 pixels top,
// bottom and left, 4 right) with a magenta top-left pixel.
QImage Skin(int frameWidth, int height) {
    QImage skin(frameWidth * 5, height, QImage::Format_RGB32);
    QPainter painter(&skin);
    for (int f = 0; f < 5; ++f) {
        const QRect frame(f * frameWidth, 0, frameWidth, height);
        painter.fillRect(frame, kBorder);
        painter.fillRect(frame.adjusted(5, 5, -4, -5), kFrameColours[f]);
        skin.setPixel(frame.left(), 0, 0xFF00FF);
    }
    return skin;
}

// The program's own skin.
QImage ProgramSkin() {
    InitResources();
    return QImage(kButtonSkinPath).convertToFormat(QImage::Format_RGB32);
}

TEST(WBButton, FramesAreCutFromTheSkinAndStretchedKeepingTheirBorders) {
    const QImage wide = Skin(100, 30);  // 500 pixels: 100-pixel frames
    for (int frame :
         {CWBButton::kNormal, CWBButton::kPressed, CWBButton::kDisabled, CWBButton::kFocus}) {
        const QImage state = CWBButton::BuildStateImage(wide, frame, {100, 30});
        ASSERT_EQ(state.size(), QSize(100, 30));
        EXPECT_EQ(state.pixelColor(50, 15), kFrameColours[frame]) << "frame " << frame;
        EXPECT_EQ(state.pixelColor(99, 15), kBorder) << "right border of frame " << frame;
    }

    const QImage state = CWBButton::BuildStateImage(Skin(20, 16), CWBButton::kNormal, {200, 60});
    const struct {
        int x, y;
        QColor colour;
    } probes[] = {
        {4, 30, kBorder},   {5, 30, kFrameColours[0]},    // left margin 5
        {196, 30, kBorder}, {195, 30, kFrameColours[0]},  // right margin 4
        {100, 4, kBorder},  {100, 5, kFrameColours[0]},   // top margin 5
        {100, 55, kBorder}, {100, 54, kFrameColours[0]},  // bottom margin 5
        {1, 1, kBorder},    {199, 59, kBorder},
    };
    for (const auto& p : probes)
        EXPECT_EQ(state.pixelColor(p.x, p.y), p.colour) << p.x << "," << p.y;

    // Nothing from a skin too narrow for its frames, or for a frame it lacks.
    EXPECT_TRUE(
        CWBButton::BuildStateImage(QImage(4, 10, QImage::Format_RGB32), 0, {50, 20}).isNull());
    EXPECT_TRUE(CWBButton::BuildStateImage(Skin(20, 16), 5, {50, 20}).isNull());
}

TEST(WBButton, ResizedButtonIsDrawnAtItsNewSize) {
    const QImage skin = ProgramSkin();
    CWBButton button(QStringLiteral("OK"));
    button.resize(80, 30);
    button.RenderFace();
    button.resize(160, 40);
    const QImage face = button.RenderFace();
    EXPECT_EQ(face.pixelColor(159, 20),
              skin.pixelColor(CWBButton::FrameWidth(skin) - 1, skin.height() / 2))
        << "right border at the new width";
}

// Light grey when disabled, otherwise the inverse of the skin under the label.
TEST(WBButton, LabelColourContrastsWithTheSkin) {
    const QImage skin = ProgramSkin();
    const QSize size(120, 40);
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        CWBButton button(QStringLiteral("MMMM"));
        button.setEnabled(enabled);
        button.resize(size);
        const QImage face = button.RenderFace();
        const QColor under = CWBButton::BuildStateImage(
                                 skin, enabled ? CWBButton::kNormal : CWBButton::kDisabled, size)
                                 .pixelColor(size.width() / 2, size.height() / 2);
        const QColor label =
            enabled ? QColor(255 - under.red(), 255 - under.green(), 255 - under.blue())
                    : QColor(220, 220, 220);
        // The text's solid pixels carry exactly that colour.
        int pixels = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x) pixels += face.pixelColor(x, y) == label;
        EXPECT_GT(pixels, 0) << label.name().toStdString();
    }
}

TEST(WBButton, MagentaLetsThePageShowThrough) {
    QWidget page;
    page.setAutoFillBackground(true);
    QPalette palette = page.palette();
    palette.setColor(QPalette::Window, QColor(173, 216, 230));
    page.setPalette(palette);
    page.resize(100, 50);
    CWBButton button(QStringLiteral("OK"), &page);
    button.resize(80, 30);
    const QImage image = page.grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(173, 216, 230));
    EXPECT_EQ(image.pixelColor(1, 1), ProgramSkin().pixelColor(1, 1));
}

}  // namespace
}  // namespace velmora::ui
