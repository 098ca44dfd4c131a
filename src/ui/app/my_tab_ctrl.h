#pragma once
// The main window's tab control: owner-drawn tabs filled with the page colour
// in a bold font, and the area below them where the pages are placed. The
// pages are shown and hidden by the main window, not by the control.
#include <QTabBar>
#include <QWidget>

namespace velmora::ui {

// The row of tabs, drawn by the program rather than the style.
class CMyTabBar : public QTabBar {
    Q_OBJECT
  public:
    explicit CMyTabBar(QWidget* parent = nullptr);

  protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
    void paintEvent(QPaintEvent* event) override;

  private:
    void DrawItem(QPainter& painter, int index) const;
};

class CMyTabCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CMyTabCtrl(QWidget* parent = nullptr);

    int InsertItem(int index, const QString& text);
    int GetItemCount() const { return bar_.count(); }
    QString GetItemText(int index) const { return bar_.tabText(index); }
    int GetCurSel() const { return bar_.currentIndex(); }
    // Selects a tab without notifying anyone (as the framework's SetCurSel does).
    void SetCurSel(int index);

    // Makes `page` a child placed in the page area.
    void AddPage(QWidget* page);
    // The page area: the client area less 2 pixels left and right, 35 at the
    // top (the tabs) and 5 at the bottom.
    QRect PageRect() const;

    CMyTabBar& TabBar() { return bar_; }

    // Room for every tab at its least width, and for the largest page's minimum.
    QSize minimumSizeHint() const override;

  signals:
    // The user chose tab `index` (the selection-change notification).
    void SelChange(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    CMyTabBar bar_;
    QList<QWidget*> pages_;
};

}  // namespace velmora::ui
