#include "ui/app/my_tab_ctrl.h"

#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>

#include "ui/app/ui_colours.h"

namespace velmora::ui {
namespace {

// Narrow enough for six tabs in the window's first width.
constexpr int kTabWidth = 114;
constexpr int kTabHeight = 30;
constexpr int kPageTop = 35;
// The tabs end on the line that frames the page area.
constexpr int kBarTop = kPageTop - 1 - kTabHeight;

QFont TabFont(const QFont& base) {
    QFont font(base);
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Sans Serif")});
    font.setPixelSize(18);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    return font;
}

}  // namespace

CMyTabBar::CMyTabBar(QWidget* parent) : QTabBar(parent) {
    setFont(TabFont(font()));
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(true);
    setElideMode(Qt::ElideRight);
}

QSize CMyTabBar::tabSizeHint(int) const {
    // At least kTabWidth pixels, and an equal share of the control's width when that is
    // more (a fifth at least, as the first five tabs were).
    const int controlWidth = parentWidget() ? parentWidget()->width() : width();
    return {std::max(kTabWidth, controlWidth / std::max(count(), 5) - 1), kTabHeight};
}

void CMyTabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The selected tab last, so that it overlaps its neighbours.
    for (int i = 0; i < count(); ++i)
        if (i != currentIndex()) DrawItem(painter, i);
    if (currentIndex() >= 0) DrawItem(painter, currentIndex());
}

void CMyTabBar::DrawItem(QPainter& painter, int index) const {
    const bool selected = index == currentIndex();
    QRect r = tabRect(index);
    // Unselected tabs sit 2 pixels lower, as a raised tab row does.
    if (!selected) r.adjust(1, 2, -1, 0);
    painter.fillRect(r, PageQColour());

    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.drawLine(r.topLeft(), r.topRight());
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(r.topRight(), r.bottomRight());
    if (!selected) {
        painter.setPen(pal.color(QPalette::Mid));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
    }

    painter.setFont(font());
    painter.setPen(isEnabled() ? QColor(Qt::black) : pal.color(QPalette::Disabled, QPalette::Text));
    const QRect textRect = r.adjusted(0, 5, 0, 0);
    const QString text = painter.fontMetrics().elidedText(tabText(index).left(99), Qt::ElideRight,
                                                          textRect.width() - 4);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
}

CMyTabCtrl::CMyTabCtrl(QWidget* parent) : QWidget(parent), bar_(this) {
    connect(&bar_, &QTabBar::currentChanged, this, &CMyTabCtrl::SelChange);
}

QSize CMyTabCtrl::minimumSizeHint() const {
    // Below this the tabs would hide behind scroll arrows or a page cut its controls off.
    QSize size(4 + bar_.count() * kTabWidth, kPageTop + 5 + 160);
    for (const QWidget* page : pages_)
        size = size.expandedTo(page->minimumSizeHint() + QSize(4, kPageTop + 5));
    return size;
}

int CMyTabCtrl::InsertItem(int index, const QString& text) {
    QSignalBlocker quiet(bar_);
    return bar_.insertTab(index, text);
}

void CMyTabCtrl::SetCurSel(int index) {
    QSignalBlocker quiet(bar_);
    bar_.setCurrentIndex(index);
}

void CMyTabCtrl::AddPage(QWidget* page) {
    page->setParent(this);
    page->setGeometry(PageRect());
    pages_.append(page);
}

QRect CMyTabCtrl::PageRect() const {
    return rect().adjusted(2, kPageTop, -2, -5);
}

void CMyTabCtrl::resizeEvent(QResizeEvent*) {
    bar_.setGeometry(2, kBarTop, width() - 4, kTabHeight);
    for (QWidget* page : pages_) page->setGeometry(PageRect());
}

void CMyTabCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect().adjusted(2, 2, -2, 0), PageQColour());
    // The frame of the page area, open under the selected tab.
    const QRect frame = PageRect().adjusted(-1, -1, 0, 0);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(frame.topLeft(), frame.bottomLeft());
    const QRect selected = bar_.currentIndex() >= 0
                               ? bar_.tabRect(bar_.currentIndex()).translated(bar_.pos())
                               : QRect();
    if (selected.isValid()) {
        painter.drawLine(frame.topLeft(), QPoint(selected.left(), frame.top()));
        painter.drawLine(QPoint(selected.right(), frame.top()), frame.topRight());
    } else {
        painter.drawLine(frame.topLeft(), frame.topRight());
    }
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(frame.topRight(), frame.bottomRight());
    painter.drawLine(frame.bottomLeft(), frame.bottomRight());
}

}  // namespace velmora::ui
