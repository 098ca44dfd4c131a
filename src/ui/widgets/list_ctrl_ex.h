#pragma once
// The report list of the history and image pages: it draws every row itself
// in its own font with 23-pixel rows, cuts long texts with "..." at a
// character boundary, draws light-grey grid lines that go on over the empty
// rows of the page, sorts its rows as text when a column header is clicked
// (unless the page orders them itself), and keeps its column dividers where
// the page put them. A table view, whose rows cost it a few bytes each; a list that
// may hold a million rows is shown through a window of the rows in sight instead
// (UseWindowedModel), which costs it nothing a row.
#include <QFont>
#include <QFontMetrics>
#include <QRegion>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace velmora::ui {

class ListCtrlModel;
class CPagedTableModel;

class CListCtrlEx : public QTableView {
    Q_OBJECT
  public:
    // The font's logical height; rows are this plus 8 pixels high (23).
    static constexpr int kFontHeight = 15;
    static constexpr QRgb kGridColour = 0xC0C0C0;

    // One row for a batch insertion: its cell texts from column 0, and the
    // value the page keeps with it (e.g. the position of its record).
    struct Row {
        QStringList texts;
        std::uint64_t data = 0;
    };

    explicit CListCtrlEx(QWidget* parent = nullptr);
    ~CListCtrlEx() override;

    // The column captions.
    QHeaderView* header() const { return horizontalHeader(); }

    // Columns. `headerAlignment` places the caption; cell texts are always
    // drawn left-aligned. Returns the new column's index.
    int InsertColumn(int column, const QString& caption,
                     Qt::Alignment headerAlignment = Qt::AlignHCenter, int width = 80);
    int GetColumnCount() const;
    void SetColumnWidth(int column, int width);
    void SetColumnCaption(int column, const QString& caption);
    // The width column `column` needs to show its caption and each of `texts` whole.
    int ColumnWidthFor(int column, const QStringList& texts) const;
    // The first columns set to `widths`, each widened alike to fill `clientWidth`
    // when together they need less; the list scrolls sideways when they need more.
    void SpreadColumns(std::span<const int> widths, int clientWidth);

    // Rows. InsertItem puts a row with `text` in column 0 at `row` (at the end
    // when `row` is past it) and returns its index.
    int InsertItem(int row, const QString& text, std::uint64_t data = 0);
    // Appends many rows at once (far cheaper than one by one); returns the
    // index of the first, or -1 when `rows` is empty.
    int AppendRows(std::span<const Row> rows);
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    std::uint64_t GetItemData(int row) const;  // 0 for a row that does not exist
    int GetItemCount() const;
    void DeleteAllItems();

    // Selection: one row at most unless a page allows more, shown even when the
    // list has no focus.
    int GetSelectedRow() const;  // the first, -1 when none
    void SelectRow(int row);     // -1 clears the selection
    // Several rows chosen at once with Ctrl and Shift clicks.
    void EnableMultipleSelection(bool enable);
    std::vector<int> GetSelectedRows() const;  // ascending
    // Chooses `rows` (ascending) instead of the rows chosen before; the first is
    // made current and scrolled into view.
    void SelectRows(std::span<const int> rows);
    void EnsureVisible(int row);

    int RowHeight() const { return kFontHeight + 8; }

    // What a click on header `column` does: sorts the rows by that column's
    // texts, ascending the first time, descending the next, and so on. Each
    // row keeps its texts, its data and its selection.
    void SortByColumn(int column);
    // For a page that lists its rows in an order of its own making (off the
    // window's thread): a header click then leaves the rows as they are, and the
    // page listens to the header itself.
    void SetRowsOrderedByPage(bool byPage) { orderedByPage_ = byPage; }
    // Shows the rows and columns of `model` (which outlives the list) instead of its
    // own, drawn the same way; the page orders them. Row texts are read from the
    // model; GetItemData and the row-changing calls are for the list's own rows.
    void UseModel(QAbstractItemModel* model);
    // The same for a paged model shown through a window of the rows in sight: the
    // scroll bar counts the listing's rows and the list keeps the rows chosen itself,
    // as rows of the listing. Every call here that takes or gives a row then speaks of
    // the listing's rows.
    void UseWindowedModel(CPagedTableModel* model);
    // The rows chosen, as ascending ranges (first, last) of neighbouring rows.
    std::vector<std::pair<int, int>> ChosenRanges() const;
    bool HasChoice() const { return !ChosenRanges().empty(); }
    void selectAll() override;

    // `text` fitted to `available` pixels: whole while it fits with 2 pixels
    // to spare, otherwise cut from the end one character at a time (never half
    // of one) until the rest and "..." fit, keeping at least one character.
    static QString FitText(const QString& text, const QFontMetrics& metrics, int available);

    // The list's font: "宋体" (SimSun) 15 pixels, medium weight.
    static QFont ListFont();

  signals:
    // The selection changed: a row was chosen, or none is any longer.
    void ItemChanged();
    // The width of the visible area changed (for pages that size their columns by it).
    void ClientWidthChanged(int width);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    // Windowed, the scroll bar and the choice are the list's own.
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void scrollTo(const QModelIndex& index,
                  ScrollHint hint = QAbstractItemView::EnsureVisible) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // True when `text` certainly fits in `available` pixels in the list's font
    // (FitText would leave it whole), found without shaping it. `metrics` are
    // the painter's, for the list's font.
    bool SurelyFits(const QString& text, const QFontMetrics& metrics, int available) const;
    void DrawRow(QPainter& painter, const QRect& rect, int row) const;
    void DrawCell(QPainter& painter, const QRect& cell, int leftInset, int rightInset,
                  const QString& text) const;
    void DrawGrid(QPainter& painter, const QRegion& clip) const;
    void ConnectSelection();
    // Windowed: the rows that fit in sight (at least one).
    int RowsInSight() const;
    // Windowed: the scroll bar set to the listing's rows and the window's top.
    void SyncScrollBar();
    // Windowed: scrolls so that listing row `row` is in sight.
    void ScrollToRow(int row);
    // Windowed: the listing row under viewport point `y` (not above the viewport), kept
    // within the rows; -1 when there are none.
    int RowUnder(int y) const;
    bool IsChosen(int row) const;
    // Windowed: chooses `ranges` (any order, may overlap), telling the page when that
    // changes what is chosen.
    void Choose(std::vector<std::pair<int, int>> ranges);
    // Windowed: a click or a key that moves to `row` with `modifiers`, as an extended
    // choice takes it (Shift from the anchor, Ctrl adding or taking one row).
    void ChooseTo(int row, Qt::KeyboardModifiers modifiers, bool toggle);

    std::unique_ptr<ListCtrlModel> model_;
    CPagedTableModel* window_ = nullptr;
    std::vector<std::pair<int, int>> chosen_;  // windowed: ascending, apart
    int anchor_ = -1;                          // windowed: where a Shift choice starts
    int current_ = -1;                         // windowed: where the keys move from
    bool dragging_ = false;
    // Per column: true when the next click sorts descending.
    QList<bool> sortDescending_;
    bool orderedByPage_ = false;
    // Advances of the ASCII characters in the list's font (-1: not a printable one).
    mutable std::array<int, 128> asciiAdvances_{};
    mutable bool asciiAdvancesValid_ = false;
};

}  // namespace velmora::ui
