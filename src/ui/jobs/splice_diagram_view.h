#pragma once
// The Jobs tab's drawing of the chosen tray's splice diagram: as wide as the tab
// gives it (its lines longer on a wide screen, its texts the size of the window's),
// as high as the tray's fibres need, in a scroll area of the page.
#include <QWidget>
#include <optional>

#include "jobs/splice_diagram.h"

namespace velmora::ui {

class CSpliceDiagramView : public QWidget {
    Q_OBJECT
  public:
    explicit CSpliceDiagramView(QWidget* parent = nullptr);

    // The diagram to draw; none leaves the view empty.
    void SetDiagram(std::optional<jobs::TrayDiagram> diagram);
    const jobs::TrayDiagram* Diagram() const { return diagram_ ? &*diagram_ : nullptr; }

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Pixels a unit of the diagram: its texts as large as the window's own.
    double Scale() const;
    // The width it is drawn at, in units, when the view is `pixels` wide.
    double UnitsFor(int pixels) const;

    std::optional<jobs::TrayDiagram> diagram_;
};

}  // namespace velmora::ui
