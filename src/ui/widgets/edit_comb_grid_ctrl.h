#pragma once
// The parameter grid of the Setting page: a fixed header row and caption
// column, and value cells that are edited in place, either with a text editor
// or with a drop-down list of the cell's own options. Read-only cells never edit.
#include <QPointer>
#include <QStringList>
#include <QTableWidget>
#include <memory>
#include <optional>
#include <vector>

namespace velmora::ui {

// The cell state bit that can be set: a read-only cell never edits.
namespace gvis {
inline constexpr unsigned ReadOnly = 0x8;
}  // namespace gvis

// Text format bits a cell keeps (the values of the DrawText flags they stand for).
namespace gvfmt {
inline constexpr unsigned Left = 0x0;
inline constexpr unsigned Center = 0x1;
inline constexpr unsigned VCenter = 0x4;
inline constexpr unsigned SingleLine = 0x20;
inline constexpr unsigned EndEllipsis = 0x8000;
}  // namespace gvfmt

// Which fields SetItem copies from a GridItem.
namespace gvif {
inline constexpr unsigned Text = 0x1;
inline constexpr unsigned State = 0x8;
inline constexpr unsigned Format = 0x40;
}  // namespace gvif

// What editing a cell opens.
enum class EditorKind { Text = 0, List = 1 };

// A cell as it is set. The editor kind is always copied; the options only when
// the kind is List and there is at least one.
struct GridItem {
    int row = 0;
    int col = 0;
    unsigned mask = 0;
    unsigned state = 0;
    unsigned format = 0;
    QString text;
    EditorKind editorKind = EditorKind::Text;
    QStringList options;
};

class CInPlaceDelegate;

// Rows and columns are counted as the owner sees them: row 0 is the fixed header
// row (when there is one), column 0 the fixed caption column.
class CEditCombGridCtrl : public QTableWidget {
    Q_OBJECT
  public:
    explicit CEditCombGridCtrl(QWidget* parent = nullptr);
    ~CEditCombGridCtrl() override;
    using QTableWidget::edit;

    // Structure. Counts include the fixed row and column.
    void SetRowCount(int rows);
    void SetColumnCount(int cols);
    // 0 or 1: the header row stays in view while the rows scroll.
    void SetFixedRowCount(int rows);
    void SetFixedColumnCount(int cols);
    // Appends a row with `caption` in column 0; returns its row.
    int InsertRow(const QString& caption);
    void DeleteNonFixedRows();
    void SetRowHeight(int row, int height);
    // Column widths as percentages of the grid's width, kept as it is resized.
    void SetColumnWidthPercents(std::vector<int> percents);
    void SetRowResize(bool allowed);
    void SetColumnResize(bool allowed);
    // Set once an edit ends with a text other than the cell's (Escape never sets it).
    bool GetModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    void Refresh();

    // Cells. SetItem is false, and the text empty, for a cell outside the grid.
    bool SetItem(const GridItem& item);
    QString GetItemText(int row, int col) const;

  protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;
    void resizeEvent(QResizeEvent* event) override;
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    friend class CInPlaceDelegate;

    // How an edit began: it decides where the caret goes and what arrows do.
    enum class StartKey { Mouse, Enter, Arrow, Backspace, Character };

    struct EditSession {
        QPersistentModelIndex index;
        StartKey start = StartKey::Mouse;
        QPointer<QWidget> editor;
        int endKey = 0;
        Qt::KeyboardModifiers endModifiers;
    };

    int GetRowCount() const { return rowCount() + fixedRows_; }
    bool IsValid(int row, int col) const;
    void SetItemState(int row, int col, unsigned state);
    QWidget* Editor() const;
    QTableWidgetItem* Cell(int row, int col) const;
    QModelIndex IndexOf(int row, int col) const;
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
    bool modified_ = false;
    std::vector<int> columnPercents_;
    std::optional<EditSession> session_;
    std::optional<StartKey> nextStart_;
    std::unique_ptr<CInPlaceDelegate> delegate_;
};

}  // namespace velmora::ui
