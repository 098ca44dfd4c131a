#include "ui/widgets/elided_label.h"

#include <QResizeEvent>

namespace velmora::ui {

CElidedLabel::CElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void CElidedLabel::SetFullText(const QString& text) {
    full_ = text;
    Elide();
}

QSize CElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void CElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void CElidedLabel::Elide() {
    const QString line = full_.simplified();
    const QString shown = fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width());
    setText(shown);
    setToolTip(shown == line ? QString() : full_);
}

}  // namespace velmora::ui
