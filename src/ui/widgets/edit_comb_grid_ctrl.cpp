#include "ui/widgets/edit_comb_grid_ctrl.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace velmora::ui {
namespace {

// Where a cell keeps what QTableWidgetItem has no field for.
constexpr int kStateRole = Qt::UserRole + 1;  // the read-only bit
constexpr int kFormatRole = Qt::UserRole + 2;
constexpr int kKindRole = Qt::UserRole + 3;
constexpr int kOptionsRole = Qt::UserRole + 4;

constexpr unsigned kDefaultFormat = gvfmt::Center | gvfmt::VCenter | gvfmt::SingleLine;
// The open list is this many cell heights tall (plus a scroll bar's height).
constexpr int kListLines = 4;

Qt::Alignment HorizontalAlignmentOf(unsigned format) {
    return (format & gvfmt::Center) ? Qt::AlignHCenter : Qt::AlignLeft;
}

Qt::Alignment AlignmentOf(unsigned format) {
    return HorizontalAlignmentOf(format) |
           ((format & gvfmt::VCenter) ? Qt::AlignVCenter : Qt::AlignTop);
}

unsigned FormatOf(const QModelIndex& index) {
    const QVariant format = index.data(kFormatRole);
    return format.isValid() ? format.toUInt() : kDefaultFormat;
}

EditorKind KindOf(const QModelIndex& index) {
    return static_cast<EditorKind>(index.data(kKindRole).toInt());
}

// A key that types text (not a control key, not with Ctrl, Alt or Meta).
bool IsTypedText(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key.text();
    if (text.isEmpty()) return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

bool IsMoveKey(int key) {
    switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return true;
        default:
            return false;
    }
}

// The drop-down list editor. A choice made in the open list ends the edit; the
// arrow keys on the closed list only move its selection.
class CInPlaceList : public QComboBox {
  public:
    explicit CInPlaceList(QWidget* parent) : QComboBox(parent) {}

    // True while the signal of a choice made in the open list is delivered.
    bool ChosenFromOpenList() const { return justClosed_; }

    void hidePopup() override {
        QComboBox::hidePopup();
        // The choice's activated() follows within this same call, if there is one.
        justClosed_ = true;
        QTimer::singleShot(0, this, [this] { justClosed_ = false; });
    }

  private:
    bool justClosed_ = false;
};

}  // namespace

// Creates, fills and reads back the two editors, paints the cells by their
// format, and turns the keys that end an edit over to the grid.
class CInPlaceDelegate : public QStyledItemDelegate {
  public:
    explicit CInPlaceDelegate(CEditCombGridCtrl& grid) : grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = KindOf(index) == EditorKind::List ? CreateList(parent, option, index)
                                                            : CreateTextEditor(parent, index);
        if (grid_.session_) grid_.session_->editor = editor;
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (auto* list = qobject_cast<QComboBox*>(editor)) {
            // Only an exact match is selected; otherwise nothing is.
            list->setCurrentIndex(list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
        } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setText(text);
        }
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        if (auto* list = qobject_cast<QComboBox*>(editor)) {
            // A list closed without a choice keeps the cell's text (which may be a
            // value outside the options) instead of blanking it.
            if (list->currentIndex() >= 0) model->setData(index, list->currentText());
        } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            model->setData(index, line->text());
        }
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        QRect rect = option.rect;
        // A list wider than its cell widens the control beyond the cell.
        if (auto* list = qobject_cast<QComboBox*>(editor))
            rect.setWidth(std::max(rect.width(), list->view()->minimumWidth()));
        editor->setGeometry(rect);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const unsigned format = FormatOf(index);
        opt.textElideMode = (format & gvfmt::EndEllipsis) ? Qt::ElideRight : Qt::ElideNone;
        if (format & gvfmt::SingleLine)
            opt.features &= ~QStyleOptionViewItem::WrapText;
        else
            opt.features |= QStyleOptionViewItem::WrapText;
        if (index.column() < grid_.fixedCols_) {
            // Fixed cells take no focus or selection but are not drawn greyed out.
            opt.state |= QStyle::State_Enabled;
            opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
            opt.backgroundBrush = grid_.palette().button();
            opt.palette.setColor(QPalette::Text, grid_.palette().color(QPalette::ButtonText));
        }
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : grid_.style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

    bool eventFilter(QObject* object, QEvent* event) override {
        auto* editor = qobject_cast<QWidget*>(object);
        if (editor && event->type() == QEvent::KeyPress &&
            HandleKey(*editor, *static_cast<QKeyEvent*>(event)))
            return true;
        return QStyledItemDelegate::eventFilter(object, event);
    }

  private:
    QWidget* CreateTextEditor(QWidget* parent, const QModelIndex& index) const {
        auto line = std::make_unique<QLineEdit>(parent);
        line->setFrame(true);
        line->setFont(grid_.font());
        // The text editor follows the cell's horizontal alignment.
        line->setAlignment(HorizontalAlignmentOf(FormatOf(index)) | Qt::AlignVCenter);
        return line.release();  // the view owns its editors
    }

    QWidget* CreateList(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
        auto list = std::make_unique<CInPlaceList>(parent);
        // Honour the list height below whatever the style prefers.
        list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
        list->setFont(grid_.font());
        list->view()->setFont(grid_.font());
        list->addItems(index.data(kOptionsRole).toStringList());
        const int cellHeight = std::max(1, option.rect.height());
        const int scrollBar = grid_.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const int itemHeight = std::max(1, list->view()->sizeHintForRow(0));
        list->setMaxVisibleItems(
            std::max(1, (kListLines * cellHeight + scrollBar - cellHeight) / itemHeight));
        list->view()->setMinimumWidth(ListWidth(*list));
        list->setMinimumHeight(cellHeight);
        CInPlaceList* raw = list.get();
        QObject::connect(raw, &QComboBox::activated, &grid_, [this, raw] {
            if (raw->ChosenFromOpenList()) grid_.EndEdit(raw, Qt::Key_Return, Qt::NoModifier);
        });
        return list.release();  // the view owns its editors
    }

    // Wide enough for the widest option in the grid's font, two blanks and a scroll
    // bar, and for what the list's own items need.
    int ListWidth(QComboBox& list) const {
        const QFontMetrics metrics(grid_.font());
        int widest = 0;
        for (int i = 0; i < list.count(); ++i)
            widest = std::max(widest, metrics.horizontalAdvance(list.itemText(i)));
        const int scrollBar = grid_.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const int byText = widest + 2 * metrics.horizontalAdvance(QLatin1Char(' ')) + scrollBar;
        const int frame = 2 * list.view()->frameWidth();
        return std::max(byText, list.view()->sizeHintForColumn(0) + scrollBar + frame);
    }

    bool HandleKey(QWidget& editor, const QKeyEvent& key) const {
        switch (key.key()) {
            case Qt::Key_Escape:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
                grid_.EndEdit(&editor, key.key(), key.modifiers());
                return true;
            default:
                break;
        }
        if (!IsMoveKey(key.key())) return false;
        // Arrows move the caret in a text the mouse opened, and the selection of a
        // list; otherwise, and always with Ctrl, they end the edit and move on.
        const bool ctrl = key.modifiers() & Qt::ControlModifier;
        const bool isList = qobject_cast<QComboBox*>(&editor) != nullptr;
        const bool byMouse =
            grid_.session_ && grid_.session_->start == CEditCombGridCtrl::StartKey::Mouse;
        if (!ctrl && (isList || byMouse)) return false;
        grid_.EndEdit(&editor, key.key(), key.modifiers());
        return true;
    }

    CEditCombGridCtrl& grid_;
};

CEditCombGridCtrl::CEditCombGridCtrl(QWidget* parent)
    : QTableWidget(parent), delegate_(std::make_unique<CInPlaceDelegate>(*this)) {
    setItemDelegate(delegate_.get());
    setEditTriggers(DoubleClicked | SelectedClicked | EditKeyPressed | AnyKeyPressed);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(1);
}

CEditCombGridCtrl::~CEditCombGridCtrl() {
    AbandonEdit();
}

void CEditCombGridCtrl::SetRowCount(int rows) {
    const int modelRows = std::max(0, rows - fixedRows_);
    if (modelRows < rowCount()) AbandonEdit();
    const int before = rowCount();
    setRowCount(modelRows);
    FillCells(before);
}

void CEditCombGridCtrl::SetColumnCount(int cols) {
    if (cols < columnCount()) AbandonEdit();
    setColumnCount(std::max(0, cols));
    FillCells(0);
}

void CEditCombGridCtrl::SetFixedRowCount(int rows) {
    fixedRows_ = std::clamp(rows, 0, 1);
    horizontalHeader()->setVisible(fixedRows_ == 1);
    FillCells(0);
}

void CEditCombGridCtrl::SetFixedColumnCount(int cols) {
    fixedCols_ = std::max(0, cols);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* cell = item(r, c)) ApplyFlags(*cell, c < fixedCols_);
}

int CEditCombGridCtrl::InsertRow(const QString& caption) {
    const int modelRow = rowCount();
    insertRow(modelRow);
    for (int c = 0; c < columnCount(); ++c) MakeCell(modelRow, c);
    if (columnCount() > 0) item(modelRow, 0)->setText(caption);
    return modelRow + fixedRows_;
}

void CEditCombGridCtrl::DeleteNonFixedRows() {
    AbandonEdit();
    setRowCount(0);
}

void CEditCombGridCtrl::SetRowHeight(int row, int height) {
    if (row < 0 || row >= GetRowCount()) return;
    if (row < fixedRows_)
        horizontalHeader()->setFixedHeight(height);
    else
        setRowHeight(row - fixedRows_, height);
}

void CEditCombGridCtrl::SetColumnWidthPercents(std::vector<int> percents) {
    columnPercents_ = std::move(percents);
    ApplyColumnPercents();
}

void CEditCombGridCtrl::SetRowResize(bool allowed) {
    verticalHeader()->setSectionResizeMode(allowed ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void CEditCombGridCtrl::SetColumnResize(bool allowed) {
    horizontalHeader()->setSectionResizeMode(allowed ? QHeaderView::Interactive
                                                     : QHeaderView::Fixed);
}

void CEditCombGridCtrl::Refresh() {
    viewport()->update();
    horizontalHeader()->viewport()->update();
}

bool CEditCombGridCtrl::IsValid(int row, int col) const {
    return row >= 0 && row < GetRowCount() && col >= 0 && col < columnCount();
}

QTableWidgetItem* CEditCombGridCtrl::Cell(int row, int col) const {
    if (!IsValid(row, col)) return nullptr;
    return row < fixedRows_ ? horizontalHeaderItem(col) : item(row - fixedRows_, col);
}

QModelIndex CEditCombGridCtrl::IndexOf(int row, int col) const {
    if (!IsValid(row, col) || row < fixedRows_) return {};
    return model()->index(row - fixedRows_, col);
}

bool CEditCombGridCtrl::SetItem(const GridItem& item) {
    QTableWidgetItem* cell = Cell(item.row, item.col);
    if (!cell) return false;
    const unsigned mask = item.mask;
    if (mask & gvif::Text) cell->setText(item.text);
    if (mask & gvif::Format) {
        cell->setData(kFormatRole, item.format);
        cell->setData(Qt::TextAlignmentRole, static_cast<int>(AlignmentOf(item.format).toInt()));
    }
    cell->setData(kKindRole, static_cast<int>(item.editorKind));
    if (item.editorKind == EditorKind::List && !item.options.isEmpty())
        cell->setData(kOptionsRole, item.options);
    if (mask & gvif::State) SetItemState(item.row, item.col, item.state);
    return true;
}

QString CEditCombGridCtrl::GetItemText(int row, int col) const {
    const QTableWidgetItem* cell = Cell(row, col);
    return cell ? cell->text() : QString();
}

void CEditCombGridCtrl::SetItemState(int row, int col, unsigned state) {
    QTableWidgetItem* cell = Cell(row, col);
    cell->setData(kStateRole, state & gvis::ReadOnly);
    if (IsFixed(row, col)) return;
    ApplyFlags(*cell, false);
    // Setting a value cell's state also takes it out of the selection.
    selectionModel()->select(IndexOf(row, col), QItemSelectionModel::Deselect);
}

QWidget* CEditCombGridCtrl::Editor() const {
    return session_ ? session_->editor.data() : nullptr;
}

void CEditCombGridCtrl::FillCells(int fromRow) {
    for (int r = std::max(0, fromRow); r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) MakeCell(r, c);
    if (fixedRows_ == 0) return;
    for (int c = 0; c < columnCount(); ++c) {
        if (horizontalHeaderItem(c)) continue;
        auto header = std::make_unique<QTableWidgetItem>();
        header->setData(kFormatRole, kDefaultFormat);
        header->setData(Qt::TextAlignmentRole, static_cast<int>(Qt::AlignCenter));
        setHorizontalHeaderItem(c, header.release());  // the table owns its items
    }
}

void CEditCombGridCtrl::MakeCell(int modelRow, int col) {
    if (item(modelRow, col)) return;
    auto cell = std::make_unique<QTableWidgetItem>();
    cell->setData(kFormatRole, kDefaultFormat);
    cell->setData(Qt::TextAlignmentRole, static_cast<int>(AlignmentOf(kDefaultFormat).toInt()));
    ApplyFlags(*cell, col < fixedCols_);
    setItem(modelRow, col, cell.release());  // the table owns its items
}

void CEditCombGridCtrl::ApplyFlags(QTableWidgetItem& cell, bool fixed) const {
    if (fixed) {
        // Fixed cells never take the focus, the selection or an editor.
        cell.setFlags(Qt::NoItemFlags);
        return;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!(cell.data(kStateRole).toUInt() & gvis::ReadOnly)) flags |= Qt::ItemIsEditable;
    cell.setFlags(flags);
}

void CEditCombGridCtrl::ApplyColumnPercents() {
    const int w = width();
    for (int c = 0; c < columnCount() && c < static_cast<int>(columnPercents_.size()); ++c)
        setColumnWidth(c, w * columnPercents_[static_cast<std::size_t>(c)] / 100);
}

void CEditCombGridCtrl::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    ApplyColumnPercents();
}

bool CEditCombGridCtrl::CanEdit(const QModelIndex& index) const {
    if (!index.isValid() || index.column() < fixedCols_) return false;
    if (index.data(kStateRole).toUInt() & gvis::ReadOnly) return false;
    return model()->flags(index) & Qt::ItemIsEditable;
}

bool CEditCombGridCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Mouse presses reach here for the delegate's sake, and a click on the
    // focused cell comes back as AllEditTriggers once no double click followed.
    // A change of the current cell comes here too; the view refuses what its
    // triggers do not include.
    const bool starts = trigger == AllEditTriggers || (editTriggers() & trigger);
    if (!starts || trigger == SelectedClicked) return QTableWidget::edit(index, trigger, event);
    if (session_ && session_->index == index) return QTableWidget::edit(index, trigger, event);
    // Another cell's editor still open ends as if it had lost the focus.
    if (session_ && session_->editor) EndEdit(session_->editor, 0, Qt::NoModifier);
    session_.reset();
    StartKey start = StartKey::Mouse;
    if (nextStart_) {
        start = *nextStart_;
    } else if (trigger == EditKeyPressed) {
        start = StartKey::Enter;
    } else if (trigger == AnyKeyPressed) {
        const auto* key = event && event->type() == QEvent::KeyPress
                              ? static_cast<const QKeyEvent*>(event)
                              : nullptr;
        start = key && key->key() == Qt::Key_Backspace ? StartKey::Backspace : StartKey::Character;
    }
    if (!CanEdit(index)) return false;
    scrollTo(index);
    session_ = EditSession{QPersistentModelIndex(index), start, nullptr, 0, {}};
    // Only a typed character goes on to the editor (it replaces the selected text).
    const bool forward = start == StartKey::Character && event;
    const bool opened = forward ? QTableWidget::edit(index, AnyKeyPressed, event)
                        : trigger == AllEditTriggers || start == StartKey::Backspace
                            ? QTableWidget::edit(index, AllEditTriggers, nullptr)
                            : QTableWidget::edit(index, trigger, event);
    if (!opened || !session_ || !session_->editor) {
        session_.reset();
        return false;
    }
    PlaceCaret(start);
    return true;
}

void CEditCombGridCtrl::PlaceCaret(StartKey start) {
    auto* line = qobject_cast<QLineEdit*>(Editor());
    if (!line) return;
    switch (start) {
        case StartKey::Mouse:
        case StartKey::Enter:
            // The whole text is selected, so what is typed next replaces it
            // rather than being appended; an arrow or End keeps it instead.
            line->selectAll();
            break;
        case StartKey::Backspace:
            line->deselect();
            line->end(false);
            line->backspace();
            break;
        case StartKey::Arrow:
            line->selectAll();
            break;
        case StartKey::Character:
            break;  // the character has replaced the text
    }
}

void CEditCombGridCtrl::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (state() != EditingState && currentIndex().isValid() && plain) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                edit(currentIndex(), EditKeyPressed, event);
                return;
            case Qt::Key_Backspace:
                edit(currentIndex(), AnyKeyPressed, event);
                return;
            default:
                break;
        }
        if (IsTypedText(*event)) {
            // A key typed on the grid always edits the current cell, even while a
            // click on it still waits to become an edit (the view would refuse
            // the key then and search the rows for it instead).
            if (CanEdit(currentIndex())) {
                QTableWidget::edit(currentIndex(), CurrentChanged, nullptr);  // ends that wait
                edit(currentIndex(), AnyKeyPressed, event);
            }
            event->accept();
            return;
        }
    }
    QTableWidget::keyPressEvent(event);
}

void CEditCombGridCtrl::keyboardSearch(const QString&) {
    // No type-ahead search: it moved the current cell to another row, and the
    // rest of what was typed then edited that row's parameter.
}

void CEditCombGridCtrl::commitData(QWidget* editor) {
    const bool ours = session_ && session_->editor == editor && session_->index.isValid();
    const QString before = ours ? session_->index.data().toString() : QString();
    QTableWidget::commitData(editor);
    if (ours && session_->index.data().toString() != before) modified_ = true;
}

void CEditCombGridCtrl::EndEdit(QWidget* editor, int key, Qt::KeyboardModifiers modifiers) {
    if (!session_ || session_->editor != editor) return;
    session_->endKey = key;
    session_->endModifiers = modifiers;
    // Escape leaves the cell with the text it had before the edit.
    if (key != Qt::Key_Escape) commitData(editor);
    closeEditor(editor, key == Qt::Key_Escape ? QAbstractItemDelegate::RevertModelCache
                                              : QAbstractItemDelegate::NoHint);
}

void CEditCombGridCtrl::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    std::optional<EditSession> ended;
    if (session_ && session_->editor == editor) {
        ended = std::move(session_);
        session_.reset();
    }
    // Moving on after an edit is decided here, not by the view's Tab rules.
    if (hint == QAbstractItemDelegate::EditNextItem ||
        hint == QAbstractItemDelegate::EditPreviousItem)
        hint = QAbstractItemDelegate::NoHint;
    QTableWidget::closeEditor(editor, hint);
    if (!ended || !ended->index.isValid()) return;
    if (IsMoveKey(ended->endKey)) MoveAndEdit(ended->endKey, ended->endModifiers);
}

void CEditCombGridCtrl::MoveAndEdit(int key, Qt::KeyboardModifiers) {
    CursorAction action = MovePageDown;
    switch (key) {
        case Qt::Key_Up:
            action = MoveUp;
            break;
        case Qt::Key_Down:
            action = MoveDown;
            break;
        case Qt::Key_Left:
            action = MoveLeft;
            break;
        case Qt::Key_Right:
            action = MoveRight;
            break;
        case Qt::Key_PageUp:
            action = MovePageUp;
            break;
        default:
            break;
    }
    const QModelIndex next = moveCursor(action, Qt::NoModifier);
    if (!next.isValid()) return;
    setCurrentIndex(next);
    nextStart_ = StartKey::Arrow;
    edit(next, AllEditTriggers, nullptr);
    nextStart_.reset();
}

void CEditCombGridCtrl::AbandonEdit() {
    if (!session_) return;
    const QPointer<QWidget> editor = session_->editor;
    session_.reset();
    if (editor) QTableWidget::closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

}  // namespace velmora::ui
