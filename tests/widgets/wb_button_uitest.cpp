// Image buttons: frames cut from the skin, borders kept while stretching,
// magenta left out, and a label that stays readable on any skin.
#include <gtest/gtest.h>

#include <QPainter>
#include <array>

#include "widgets/wb_button.h"

namespace velmora::ui {
namespace {

const QColor kBorder(1, 2, 3);
const std::array<QColor, 5> kFrameColours{QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200),
                                          QColor(200, 200, 0), QColor(0, 200, 200)};

// A skin of five frames, each a solid colour inside a border (5 pixels top,
// bottom and left, 4 right) with a magenta top-left pixel.
QImage Skin(int frameWidth, int height, const std::array<QColor, 5>& bodies = kFrameColours) {
    QImage skin(frameWidth * 5, height, QImage::Format_RGB32);
    QPainter painter(&skin);
    for (int f = 0; f < 5; ++f) {
        const QRect frame(f * frameWidth, 0, frameWidth, height);
        painter.fillRect(frame, kBorder);
        painter.fillRect(frame.adjusted(5, 5, -4, -5), bodies[f]);
        skin.setPixel(frame.left(), 0, 0xFF00FF);
    }
    return skin;
}

TEST(WBButton, FramesAreCutFromTheSkinAndStretchedKeepingTheirBorders) {
    const QImage wide = Skin(100, 30);  // 500 pixels: 100-pixel frames
    EXPECT_EQ(CWBButton::FrameWidth(wide), 100);
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
    // The magenta corner pixel is left out, not stretched or drawn.
    EXPECT_EQ(state.pixelColor(0, 0).alpha(), 0);

    // Nothing from a skin too narrow for its frames, or for a frame it lacks.
    EXPECT_TRUE(
        CWBButton::BuildStateImage(QImage(4, 10, QImage::Format_RGB32), 0, {50, 20}).isNull());
    EXPECT_TRUE(CWBButton::BuildStateImage(Skin(20, 16), 5, {50, 20}).isNull());
}

TEST(WBButton, ResizedButtonIsDrawnAtItsNewSize) {
    CWBButton button(QStringLiteral("OK"));
    button.SetSkin(Skin(20, 16));
    button.resize(80, 30);
    button.RenderFace();
    button.resize(160, 40);
    const QImage face = button.RenderFace();
    EXPECT_EQ(face.pixelColor(159, 20), kBorder) << "right border at the new width";
    EXPECT_EQ(face.pixelColor(150, 20), kFrameColours[0]);
}

TEST(WBButton, LabelColourContrastsWithTheSkin) {
    const struct {
        QColor body;
        bool enabled;
        QColor label;
    } cases[] = {
        {QColor(255, 255, 255), true, QColor(0, 0, 0)},
        {QColor(20, 40, 60), true, QColor(235, 215, 195)},
        {QColor(20, 40, 60), false, QColor(220, 220, 220)},
    };
    for (const auto& c : cases) {
        CWBButton button(QStringLiteral("MMMM"));
        button.SetSkin(Skin(20, 16, {c.body, c.body, c.body, c.body, c.body}));
        button.setEnabled(c.enabled);
        button.resize(120, 40);
        const QImage face = button.RenderFace();
        // The text's solid pixels carry exactly that colour.
        int pixels = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x) pixels += face.pixelColor(x, y) == c.label;
        EXPECT_GT(pixels, 0) << c.label.name().toStdString();
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
    button.SetSkin(Skin(20, 16));
    button.resize(80, 30);
    const QImage image = page.grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(173, 216, 230));
    EXPECT_EQ(image.pixelColor(1, 1), kBorder);
}

}  // namespace
}  // namespace velmora::ui
