#pragma once
// A one-line label that never widens its window: a text longer than the room it is
// given ends in an ellipsis, the whole text in its tool tip.
#include <QLabel>
#include <QString>

namespace velmora::ui {

class CElidedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit CElidedLabel(QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    const QString& FullText() const { return full_; }

    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();

    QString full_;
};

}  // namespace velmora::ui
