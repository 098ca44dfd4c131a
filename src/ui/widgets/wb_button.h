#pragma once
// The push button of every page: its face is cut from the program's skin
// bitmap (five frames side by side), stretched to the button without
// distorting its border, with magenta left out so the page shows through, and
// its label drawn in the inverse of the skin colour under it.
#include <QFont>
#include <QImage>
#include <QPushButton>
#include <array>

namespace velmora::ui {

class CWBButton : public QPushButton {
    Q_OBJECT
  public:
    // The skin's frames, left to right; frame 4 is not used.
    enum Frame { kNormal = 0, kPressed = 1, kDisabled = 2, kFocus = 3 };
    static constexpr int kFrameCount = 5;
    static constexpr QRgb kTransparent = 0xFF00FF;  // magenta: not drawn
    static constexpr QRgb kDisabledText = 0xDCDCDC;
    static constexpr int kFocusTextShift = 5;

    // Border widths that keep their size when a frame is stretched.
    struct Margins {
        int top, bottom, left, right;
    };
    static constexpr Margins kSkinMargins{5, 5, 5, 4};

    explicit CWBButton(const QString& text = {}, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Width of one frame: a fifth of the skin.
    static int FrameWidth(const QImage& skin) { return skin.width() / kFrameCount; }

    // Frame `frame` of `skin` stretched to `size`: corners copied unscaled,
    // edges stretched along their length, the centre both ways; magenta pixels
    // become transparent. Null when the skin has no such frame or size is empty.
    static QImage BuildStateImage(const QImage& skin, int frame, QSize size,
                                  Margins margins = kSkinMargins);

    // Light grey when disabled; otherwise the inverse of `face` at its centre,
    // where a transparent centre counts as `under` (the page behind the button).
    static QColor LabelColour(const QImage& face, bool enabled, const QColor& under);

    // The whole button as it is drawn, composed off-screen.
    QImage RenderFace();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool EnsureStateImages();

    QImage skin_;
    // Built for one size; a resized button builds them again.
    std::array<QImage, 4> stateImages_;
    QSize builtFor_;
    QFont textFont_;
};

}  // namespace velmora::ui
