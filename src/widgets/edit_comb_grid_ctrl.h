#pragma once
// The parameter grid of the Setting page: a fixed header row and caption
// column, and value cells that are edited in place, either with a text editor
// or with a drop-down list of the cell's own options. Read-only cells never edit.
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QStringList>
#include <QTableWidget>
#include <memory>
#include <optional>
#include <vector>

namespace velmora::ui {

// Cell state bits. Focus, selection and fixed are reported by GetItem; only the
// selection and read-only bits can be set.
namespace gvis {
inline constexpr unsigned Focused = 0x1;
inline constexpr unsigned Selected = 0x2;
inline constexpr unsigned ReadOnly = 0x8;
inline constexpr unsigned Fixed = 0x10;
}  // namespace gvis

// Text format bits a cell keeps (the values of the DrawText flags they stand for).
namespace gvfmt {
inline constexpr unsigned Left = 0x0;
inline constexpr unsigned Center = 0x1;
inline constexpr unsigned Right = 0x2;
inline constexpr unsigned VCenter = 0x4;
inline constexpr unsigned Bottom = 0x8;
inline constexpr unsigned SingleLine = 0x20;
inline constexpr unsigned EndEllipsis = 0x8000;
}  // namespace gvfmt

// Which fields SetItem copies from a GridItem.
namespace gvif {
inline constexpr unsigned Text = 0x1;
inline constexpr unsigned Image = 0x2;
inline constexpr unsigned Param = 0x4;
inline constexpr unsigned State = 0x8;
inline constexpr unsigned BkColour = 0x10;
inline constexpr unsigned FgColour = 0x20;
inline constexpr unsigned Format = 0x40;
inline constexpr unsigned Font = 0x80;
}  // namespace gvif

// What editing a cell opens.
enum class EditorKind { Text = 0, List = 1, NotifyOnly = 2 };

// A cell as it is set or read. The editor kind is always copied; the options only
// when the kind is not Text and there is at least one.
struct GridItem {
    int row = 0;
    int col = 0;
    unsigned mask = 0;
    unsigned state = 0;
    unsigned format = 0;
    QString text;
    int image = -1;
    QColor background;  // invalid: the grid's own
    QColor foreground;
    quintptr param = 0;  // free for the owner
    QFont font;
    EditorKind editorKind = EditorKind::Text;
    QStringList options;
};

class CInPlaceDelegate;

// Rows and columns are counted as the owner sees them: row 0 is the fixed header
// row (when there is one), column 0 the fixed caption column.
class CEditCombGridCtrl : public QTableWidget {
    Q_OBJECT
  public:
    // How an edit began: it decides where the caret goes and what arrows do.
    enum class StartKey { Mouse, Enter, Arrow, Backspace, Character };

    explicit CEditCombGridCtrl(QWidget* parent = nullptr);
    ~CEditCombGridCtrl() override;
    using QTableWidget::edit;

    // Structure. Counts include the fixed row and column.
    void SetRowCount(int rows);
    void SetColumnCount(int cols);
    int GetRowCount() const;
    int GetColumnCount() const { return columnCount(); }
    // 0 or 1: the header row stays in view while the rows scroll.
    void SetFixedRowCount(int rows);
    void SetFixedColumnCount(int cols);
    int GetFixedRowCount() const { return fixedRows_; }
    int GetFixedColumnCount() const { return fixedCols_; }
    // Appends a row (or inserts it before `before`) with `caption` in column 0; returns its row.
    int InsertRow(const QString& caption, int before = -1);
    void DeleteNonFixedRows();
    void SetRowHeight(int row, int height);
    int GetRowHeight(int row) const;
    void SetColumnWidth(int col, int width);
    int GetColumnWidth(int col) const { return columnWidth(col); }
    // Column widths as percentages of the grid's width, kept as it is resized.
    void SetColumnWidthPercents(std::vector<int> percents);
    void SetRowResize(bool allowed);
    void SetColumnResize(bool allowed);
    void SetEditable(bool editable) { editable_ = editable; }
    bool IsEditable() const { return editable_; }
    // Set once an edit ends with a text other than the cell's (Escape never sets it).
    bool GetModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    void Refresh();

    // Cells. False when the cell lies outside the grid.
    bool IsValid(int row, int col) const;
    bool SetItem(const GridItem& item);
    // Fills the fields that item.mask selects, and always the editor kind and options.
    bool GetItem(GridItem& item) const;
    bool SetItemText(int row, int col, const QString& text);
    QString GetItemText(int row, int col) const;
    bool SetItemState(int row, int col, unsigned state);
    unsigned GetItemState(int row, int col) const;

    // The editor now open, or null.
    QWidget* Editor() const;
    // Opens the editor on a cell as the given key or click would.
    bool EditCell(int row, int col, StartKey start = StartKey::Mouse);

  signals:
    // Editing of a cell begins (also for a cell without an editor).
    void BeginEdit(int row, int col);
    // A text editor ended.
    void EndTextEdit(int row, int col);
    // A drop-down list ended.
    void EndListEdit(int row, int col);
    // A cell of kind NotifyOnly was asked to be edited.
    void EditRequested(int row, int col);

  protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;
    void resizeEvent(QResizeEvent* event) override;
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    friend class CInPlaceDelegate;

    struct EditSession {
        QPersistentModelIndex index;
        StartKey start = StartKey::Mouse;
        EditorKind kind = EditorKind::Text;
        QPointer<QWidget> editor;
        int endKey = 0;
        Qt::KeyboardModifiers endModifiers;
    };

    QTableWidgetItem* Cell(int row, int col) const;
    QModelIndex IndexOf(int row, int col) const;
    int GridRowOf(const QModelIndex& index) const { return index.row() + fixedRows_; }
    bool IsFixed(int row, int col) const { return row < fixedRows_ || col < fixedCols_; }
    bool CanEdit(const QModelIndex& index) const;
    void FillCells(int fromRow);
    void MakeCell(int modelRow, int col);
    void ApplyFlags(QTableWidgetItem& cell, bool fixed) const;
    void ApplyColumnPercents();
    void PlaceCaret(StartKey start);
    // Ends the open edit as `key` would: Escape keeps the cell's earlier text.
    void EndEdit(QWidget* editor, int key, Qt::KeyboardModifiers modifiers);
    void MoveAndEdit(int key, Qt::KeyboardModifiers modifiers);
    void AbandonEdit();

    int fixedRows_ = 0;
    int fixedCols_ = 0;
    bool editable_ = true;
    bool modified_ = false;
    std::vector<int> columnPercents_;
    std::optional<EditSession> session_;
    std::optional<StartKey> nextStart_;
    std::unique_ptr<CInPlaceDelegate> delegate_;
};

}  // namespace velmora::ui
