#include "ui/widgets/list_ctrl_ex.h"

#include <QAbstractTableModel>
#include <QEvent>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>
#include <numeric>
#include <vector>

#include "ui/widgets/paged_table_model.h"

namespace velmora::ui {

// The rows and columns of one list, with the value each row carries.
class ListCtrlModel : public QAbstractTableModel {
  public:
    struct Column {
        QString caption;
        Qt::Alignment alignment;
    };

    explicit ListCtrlModel(int rowHeight) : rowHeight_(rowHeight) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(columns_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole) return Text(index.row(), index.column());
        if (role == Qt::SizeHintRole) return QSize(0, rowHeight_);
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
        if (role == Qt::DisplayRole) return columns_[section].caption;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(columns_[section].alignment | Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    int InsertColumn(int column, Column c) {
        column = std::clamp(column, 0, columnCount());
        beginInsertColumns({}, column, column);
        columns_.insert(columns_.begin() + column, std::move(c));
        for (CListCtrlEx::Row& row : rows_)
            if (row.texts.size() > column) row.texts.insert(column, QString());
        endInsertColumns();
        return column;
    }

    void SetCaption(int column, const QString& caption) {
        if (!ValidColumn(column)) return;
        columns_[column].caption = caption;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }

    int Insert(int row, CListCtrlEx::Row r) {
        row = std::clamp(row, 0, rowCount());
        beginInsertRows({}, row, row);
        rows_.insert(rows_.begin() + row, std::move(r));
        endInsertRows();
        return row;
    }

    int Append(std::span<const CListCtrlEx::Row> rows) {
        if (rows.empty()) return -1;
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        rows_.insert(rows_.end(), rows.begin(), rows.end());
        endInsertRows();
        return first;
    }

    bool SetText(int row, int column, const QString& text) {
        if (!ValidRow(row) || !ValidColumn(column)) return false;
        QStringList& texts = rows_[row].texts;
        while (texts.size() <= column) texts.append(QString());
        texts[column] = text;
        emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
        return true;
    }

    QString Text(int row, int column) const {
        if (!ValidRow(row) || column < 0 || column >= rows_[row].texts.size()) return {};
        return rows_[row].texts[column];
    }

    std::uint64_t Data(int row) const { return ValidRow(row) ? rows_[row].data : 0; }

    void Clear() {
        if (rows_.empty()) return;
        beginResetModel();
        rows_.clear();
        endResetModel();
    }

    // A stable sort on the column's texts; the view's selection and current
    // row follow their rows.
    void SortRows(int column, bool descending) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> order(rows_.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = Text(a, column).compare(Text(b, column), Qt::CaseSensitive);
            return descending ? c > 0 : c < 0;
        });
        std::vector<CListCtrlEx::Row> sorted;
        sorted.reserve(rows_.size());
        std::vector<int> newRowOf(rows_.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            sorted.push_back(std::move(rows_[order[i]]));
            newRowOf[order[i]] = static_cast<int>(i);
        }
        rows_ = std::move(sorted);
        const QModelIndexList old = persistentIndexList();
        QModelIndexList moved;
        moved.reserve(old.size());
        for (const QModelIndex& i : old) moved.append(index(newRowOf[i.row()], i.column()));
        changePersistentIndexList(old, moved);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

  private:
    bool ValidRow(int row) const { return row >= 0 && row < rowCount(); }
    bool ValidColumn(int column) const { return column >= 0 && column < columnCount(); }

    int rowHeight_;
    std::vector<Column> columns_;
    std::vector<CListCtrlEx::Row> rows_;
};

CListCtrlEx::CListCtrlEx(QWidget* parent)
    : QTableView(parent), model_(std::make_unique<ListCtrlModel>(RowHeight())) {
    setModel(model_.get());
    setFont(ListFont());
    // Rows of one height, no row captions, no grid of the view's own (DrawGrid draws it).
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(RowHeight());
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);  // the rows cut their own texts

    QHeaderView* head = header();
    head->setFont(ListFont());
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setSectionsClickable(true);
    head->setHighlightSections(false);
    // Column dividers cannot be dragged: the widths stay as the page set them.
    head->setSectionResizeMode(QHeaderView::Fixed);
    connect(head, &QHeaderView::sectionClicked, this, &CListCtrlEx::SortByColumn);
    ConnectSelection();
}

void CListCtrlEx::ConnectSelection() {
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit ItemChanged(); });
}

void CListCtrlEx::UseModel(QAbstractItemModel* model) {
    setModel(model);
    orderedByPage_ = true;
    for (int column = 0; column < GetColumnCount(); ++column)
        header()->setSectionResizeMode(column, QHeaderView::Fixed);
    ConnectSelection();
}

void CListCtrlEx::UseWindowedModel(CPagedTableModel* model) {
    UseModel(model);
    window_ = model;
    window_->SetWindowRows(RowsInSight() + 1);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        // Another listing: its rows are other records (dropped silently, as a view's
        // own choice is on a reset).
        chosen_.clear();
        anchor_ = current_ = -1;
    });
    connect(model, &CPagedTableModel::WindowMoved, this, [this] {
        // Rows gone from the end of the listing are no longer chosen.
        const int rows = window_->Rows();
        while (!chosen_.empty() && chosen_.back().first >= rows) chosen_.pop_back();
        if (!chosen_.empty()) chosen_.back().second = std::min(chosen_.back().second, rows - 1);
        SyncScrollBar();
        viewport()->update();
    });
    SyncScrollBar();
}

int CListCtrlEx::RowsInSight() const {
    return std::max(1, viewport()->height() / RowHeight());
}

void CListCtrlEx::SyncScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker blocker(bar);
    const int inSight = RowsInSight();
    bar->setRange(0, std::max(0, window_->Rows() - inSight));
    bar->setPageStep(inSight);
    bar->setSingleStep(1);
    bar->setValue(window_->Top());
}

void CListCtrlEx::updateGeometries() {
    if (!window_) return QTableView::updateGeometries();
    {
        // The view sets the bar to its pixels of the window's rows; the bar counts
        // the listing's rows instead.
        const QSignalBlocker blocker(verticalScrollBar());
        QTableView::updateGeometries();
    }
    SyncScrollBar();
}

void CListCtrlEx::scrollContentsBy(int dx, int dy) {
    if (!window_) return QTableView::scrollContentsBy(dx, dy);
    if (dx) QTableView::scrollContentsBy(dx, 0);
    if (dy) window_->SetTop(verticalScrollBar()->value());
}

void CListCtrlEx::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!window_) return QTableView::scrollTo(index, hint);
    if (index.isValid()) ScrollToRow(window_->ListingRow(index.row()));
}

void CListCtrlEx::ScrollToRow(int row) {
    const int top = window_->Top();
    const int inSight = RowsInSight();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + inSight)
        verticalScrollBar()->setValue(row - inSight + 1);
}

int CListCtrlEx::RowUnder(int y) const {
    const int rows = window_->Rows();
    if (rows == 0) return -1;
    return std::clamp(window_->Top() + y / RowHeight(), 0, rows - 1);
}

bool CListCtrlEx::IsChosen(int row) const {
    const auto after = std::upper_bound(chosen_.begin(), chosen_.end(), std::pair{row, INT_MAX});
    return after != chosen_.begin() && std::prev(after)->second >= row;
}

void CListCtrlEx::Choose(std::vector<std::pair<int, int>> ranges) {
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto& [first, last] : ranges) {
        if (first > last) continue;
        if (!merged.empty() && first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, last);
        else
            merged.push_back({first, last});
    }
    if (merged == chosen_) return;
    chosen_ = std::move(merged);
    viewport()->update();
    emit ItemChanged();
}

void CListCtrlEx::ChooseTo(int row, Qt::KeyboardModifiers modifiers, bool toggle) {
    const bool extended = selectionMode() != QAbstractItemView::SingleSelection &&
                          selectionMode() != QAbstractItemView::NoSelection;
    current_ = row;
    if (extended && (modifiers & Qt::ShiftModifier)) {
        if (anchor_ < 0) anchor_ = row;
        std::vector<std::pair<int, int>> ranges;
        if (modifiers & Qt::ControlModifier) ranges = chosen_;
        ranges.push_back({std::min(anchor_, row), std::max(anchor_, row)});
        Choose(std::move(ranges));
    } else if (extended && (modifiers & Qt::ControlModifier)) {
        anchor_ = row;
        if (!toggle) return;  // Ctrl with a key moves without choosing
        std::vector<std::pair<int, int>> ranges;
        for (const auto& [first, last] : chosen_) {
            if (row < first || row > last) {
                ranges.push_back({first, last});
                continue;
            }
            ranges.push_back({first, row - 1});
            ranges.push_back({row + 1, last});
        }
        if (!IsChosen(row)) ranges.push_back({row, row});
        Choose(std::move(ranges));
    } else {
        anchor_ = row;
        Choose({{row, row}});
    }
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event) {
    if (!window_) return QTableView::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    const int y = event->position().toPoint().y();
    const int viewRow = rowAt(y);
    if (viewRow < 0) return;
    const int row = window_->ListingRow(viewRow);
    // A right click on a chosen row keeps the choice (for a menu on it).
    if (event->button() == Qt::RightButton && IsChosen(row)) return;
    ChooseTo(row, event->modifiers(), true);
    dragging_ = event->button() == Qt::LeftButton &&
                !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
}

void CListCtrlEx::mouseMoveEvent(QMouseEvent* event) {
    if (!window_) return QTableView::mouseMoveEvent(event);
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
    // Dragged past the top or the bottom, the list scrolls a row at a time.
    const int y = event->position().toPoint().y();
    if (y < 0) verticalScrollBar()->setValue(window_->Top() - 1);
    if (y >= viewport()->height()) verticalScrollBar()->setValue(window_->Top() + 1);
    const int row = RowUnder(std::clamp(y, 0, viewport()->height() - 1));
    if (row >= 0 && row != current_) ChooseTo(row, Qt::ShiftModifier, false);
}

void CListCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
    if (!window_) return QTableView::mouseReleaseEvent(event);
    dragging_ = false;
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!window_) return QTableView::mouseDoubleClickEvent(event);
    mousePressEvent(event);
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
    if (!window_) return QTableView::keyPressEvent(event);
    const int rows = window_->Rows();
    if (event->matches(QKeySequence::SelectAll)) return selectAll();
    int to = current_ < 0 ? 0 : current_;
    switch (event->key()) {
        case Qt::Key_Up:
            --to;
            break;
        case Qt::Key_Down:
            to = current_ < 0 ? 0 : to + 1;
            break;
        case Qt::Key_PageUp:
            to -= RowsInSight();
            break;
        case Qt::Key_PageDown:
            to += RowsInSight();
            break;
        case Qt::Key_Home:
            to = 0;
            break;
        case Qt::Key_End:
            to = rows - 1;
            break;
        default:
            return QTableView::keyPressEvent(event);
    }
    if (rows == 0) return;
    to = std::clamp(to, 0, rows - 1);
    ChooseTo(to, event->modifiers(), false);
    ScrollToRow(to);
}

std::vector<std::pair<int, int>> CListCtrlEx::ChosenRanges() const {
    if (window_) return chosen_;
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        ranges.push_back({range.top(), range.bottom()});
    std::sort(ranges.begin(), ranges.end());
    return ranges;
}

void CListCtrlEx::selectAll() {
    if (!window_) return QTableView::selectAll();
    if (window_->Rows() > 0 && selectionMode() != QAbstractItemView::SingleSelection &&
        selectionMode() != QAbstractItemView::NoSelection)
        Choose({{0, window_->Rows() - 1}});
}

CListCtrlEx::~CListCtrlEx() = default;

QFont CListCtrlEx::ListFont() {
    QFont font;
    // SimSun where the system has it; a CJK face otherwise, so Chinese still shows.
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(kFontHeight);
    font.setWeight(QFont::Medium);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

int CListCtrlEx::InsertColumn(int column, const QString& caption, Qt::Alignment headerAlignment,
                              int width) {
    const int at =
        model_->InsertColumn(column, {caption, headerAlignment & Qt::AlignHorizontal_Mask});
    sortDescending_.insert(at, false);
    header()->setSectionResizeMode(at, QHeaderView::Fixed);
    header()->resizeSection(at, width);
    return at;
}

int CListCtrlEx::GetColumnCount() const {
    return model()->columnCount();
}

void CListCtrlEx::SetColumnWidth(int column, int width) {
    if (column >= 0 && column < GetColumnCount())
        header()->resizeSection(column, std::max(0, width));
}

void CListCtrlEx::SetColumnCaption(int column, const QString& caption) {
    model_->SetCaption(column, caption);
}

int CListCtrlEx::ColumnWidthFor(int column, const QStringList& texts) const {
    // A text is drawn whole with 6 pixels of insets and 2 to spare (DrawCell); two
    // more keep it clear of the grid line.
    constexpr int kCellRoom = 10;
    const QFontMetrics metrics(font());
    int width = std::max(0, header()->sectionSizeHint(column));
    for (const QString& text : texts)
        width = std::max(width, metrics.horizontalAdvance(text) + kCellRoom);
    return width;
}

void CListCtrlEx::SpreadColumns(std::span<const int> widths, int clientWidth) {
    const int count = std::min(static_cast<int>(widths.size()), GetColumnCount());
    if (count == 0) return;
    const int needed = std::accumulate(widths.begin(), widths.begin() + count, 0);
    const int extra = std::max(0, clientWidth - needed);
    for (int column = 0; column < count; ++column)
        SetColumnWidth(column, widths[static_cast<std::size_t>(column)] + extra / count +
                                   (column < extra % count ? 1 : 0));
}

int CListCtrlEx::InsertItem(int row, const QString& text, std::uint64_t data) {
    return model_->Insert(row, Row{{text}, data});
}

int CListCtrlEx::AppendRows(std::span<const Row> rows) {
    return model_->Append(rows);
}

bool CListCtrlEx::SetItemText(int row, int column, const QString& text) {
    return model_->SetText(row, column, text);
}

QString CListCtrlEx::GetItemText(int row, int column) const {
    if (model() == model_.get()) return model_->Text(row, column);
    if (window_) {
        const CPagedTableModel::Row* listed = window_->RowAt(row);
        return listed && column < listed->texts.size() ? listed->texts[column] : QString();
    }
    return model()->index(row, column).data().toString();
}

std::uint64_t CListCtrlEx::GetItemData(int row) const {
    return model_->Data(row);
}

int CListCtrlEx::GetItemCount() const {
    return window_ ? window_->Rows() : model()->rowCount();
}

void CListCtrlEx::DeleteAllItems() {
    model_->Clear();
}

int CListCtrlEx::GetSelectedRow() const {
    if (window_) return chosen_.empty() ? -1 : chosen_.front().first;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) return -1;
    int first = rows.front().row();
    for (const QModelIndex& i : rows) first = std::min(first, i.row());
    return first;
}

void CListCtrlEx::EnableMultipleSelection(bool enable) {
    setSelectionMode(enable ? QAbstractItemView::ExtendedSelection
                            : QAbstractItemView::SingleSelection);
}

std::vector<int> CListCtrlEx::GetSelectedRows() const {
    std::vector<int> rows;
    if (window_) {
        for (const auto& [first, last] : chosen_)
            for (int row = first; row <= last; ++row) rows.push_back(row);
        return rows;
    }
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CListCtrlEx::SelectRows(std::span<const int> rows) {
    if (window_) {
        std::vector<std::pair<int, int>> ranges;
        for (const int row : rows)
            if (row >= 0 && row < GetItemCount()) ranges.push_back({row, row});
        Choose(std::move(ranges));
        if (chosen_.empty()) return;
        anchor_ = current_ = chosen_.front().first;
        ScrollToRow(current_);
        return;
    }
    // One range for each run of neighbouring rows: a long run is cheap to choose.
    QItemSelection selection;
    const int last = GetColumnCount() - 1;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i;
        while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1) ++end;
        if (rows[i] >= 0 && rows[end] < GetItemCount())
            selection.select(model()->index(rows[i], 0), model()->index(rows[end], last));
        i = end + 1;
    }
    selectionModel()->select(selection,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (selection.isEmpty()) return;
    const QModelIndex first = selection.front().topLeft();
    selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    scrollTo(first, QAbstractItemView::EnsureVisible);
}

void CListCtrlEx::SelectRow(int row) {
    if (window_) {
        if (row < 0 || row >= GetItemCount()) return Choose({});
        Choose({{row, row}});
        anchor_ = current_ = row;
        ScrollToRow(row);
        return;
    }
    if (row < 0 || row >= GetItemCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CListCtrlEx::EnsureVisible(int row) {
    if (window_) {
        if (row >= 0 && row < GetItemCount()) ScrollToRow(row);
        return;
    }
    if (row >= 0 && row < GetItemCount())
        scrollTo(model()->index(row, 0), QAbstractItemView::EnsureVisible);
}

void CListCtrlEx::SortByColumn(int column) {
    if (orderedByPage_ || model() != model_.get() || column < 0 || column >= GetColumnCount() ||
        GetItemCount() == 0)
        return;
    model_->SortRows(column, sortDescending_[column]);
    sortDescending_[column] = !sortDescending_[column];
}

QString CListCtrlEx::FitText(const QString& text, const QFontMetrics& metrics, int available) {
    if (text.isEmpty() || metrics.horizontalAdvance(text) + 2 < available) return text;
    static const QString kEllipsis = QStringLiteral("...");
    const int ellipsisWidth = metrics.horizontalAdvance(kEllipsis);
    // Character boundaries, so that a cut never takes half of a character
    // (a surrogate pair or a combining sequence).
    std::vector<int> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        ends.push_back(static_cast<int>(at));
    auto prefix = [&](std::size_t characters) {
        return characters == 0 ? QString() : text.left(ends[characters - 1]);
    };
    // At least one cut; then on until the rest and "..." fit or one character is left.
    std::size_t keep = ends.size();
    do {
        --keep;
    } while (keep > 1 && metrics.horizontalAdvance(prefix(keep)) + ellipsisWidth + 2 >= available);
    return prefix(keep) + kEllipsis;
}

void CListCtrlEx::DrawRow(QPainter& painter, const QRect& rect, int row) const {
    const bool selected = window_ ? IsChosen(window_->ListingRow(row))
                                  : selectionModel()->isRowSelected(row, QModelIndex());
    // The selection keeps its colours when the list loses the focus.
    const bool own = model() == model_.get();
    // A page's model may tint a row (a failed splice) with its first cell's background.
    const QVariant tint = own ? QVariant() : model()->index(row, 0).data(Qt::BackgroundRole);
    const QColor background = selected ? palette().color(QPalette::Active, QPalette::Highlight)
                              : tint.canConvert<QColor>()
                                  ? tint.value<QColor>()
                                  : palette().color(QPalette::Active, QPalette::Base);
    const QColor text =
        selected ? QColor(Qt::white) : palette().color(QPalette::Active, QPalette::Text);
    painter.save();
    painter.fillRect(rect, background);
    painter.setPen(text);
    painter.setFont(font());
    for (int column = 0; column < GetColumnCount(); ++column) {
        const QRect cell(header()->sectionViewportPosition(column), rect.top(),
                         header()->sectionSize(column), rect.height());
        if (!cell.intersects(rect)) continue;
        const QModelIndex index = own ? QModelIndex() : model()->index(row, column);
        const QString text = own ? model_->Text(row, column) : index.data().toString();
        // The first column's text starts 4 pixels in, the others 6 with 2 kept at the right.
        int inset = column == 0 ? 4 : 6;
        // Colour swatches before the text (a fibre's tube and its own colour), framed so
        // that white shows on white; the text beside them names the colours.
        if (!own)
            for (const QVariant& swatch : index.data(Qt::DecorationRole).toList()) {
                const int side = cell.height() - 10;
                const QRect box(cell.left() + inset, cell.top() + 5, side, side);
                painter.fillRect(box, swatch.value<QColor>());
                painter.setPen(QColor::fromRgb(0x606060));
                painter.drawRect(box.adjusted(0, 0, -1, -1));
                painter.setPen(text);
                inset += side + 3;
            }
        DrawCell(painter, cell, inset, column == 0 ? 0 : 2, text);
    }
    painter.restore();
}

void CListCtrlEx::DrawCell(QPainter& painter, const QRect& cell, int leftInset, int rightInset,
                           const QString& text) const {
    if (text.isEmpty()) return;
    // What swatches before the text take (beyond the usual inset of 6) is not the text's.
    const int available = cell.width() - 4 - std::max(0, leftInset - 6);
    const QRect area(cell.left() + leftInset, cell.top() + 4, cell.width() - leftInset - rightInset,
                     cell.height() - 4);
    if (SurelyFits(text, painter.fontMetrics(), available)) {
        // A whole plain text on one line that the cell holds: drawn at the baseline
        // the aligned drawText below would choose (the same pixels), without its
        // line layout.
        const QFontMetricsF metrics(painter.font(), painter.device());
        const qreal height = metrics.ascent() + metrics.descent();
        if (area.height() >= height) {
            painter.drawText(
                QPointF(area.left(), area.top() + (area.height() - height) / 2 + metrics.ascent()),
                text);
            return;
        }
    }
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     FitText(text, painter.fontMetrics(), available));
}

bool CListCtrlEx::SurelyFits(const QString& text, const QFontMetrics& metrics,
                             int available) const {
    // A sum of cached character advances, for plain ASCII texts only; a pixel a
    // character is allowed for kerning and rounding, so a text this says fits
    // is one that FitText would leave whole too. Any doubt goes to FitText.
    if (!asciiAdvancesValid_) {
        for (int c = 0; c < static_cast<int>(asciiAdvances_.size()); ++c)
            asciiAdvances_[c] = c < 0x20 || c == 0x7f ? -1 : metrics.horizontalAdvance(QChar(c));
        asciiAdvancesValid_ = true;
    }
    int width = 2;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= asciiAdvances_.size() || asciiAdvances_[u] < 0) return false;
        width += asciiAdvances_[u] + 1;
        if (width >= available) return false;
    }
    return width < available;
}

void CListCtrlEx::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) asciiAdvancesValid_ = false;
    QTableView::changeEvent(event);
}

void CListCtrlEx::paintEvent(QPaintEvent* event) {
    // Only the rows the paint event asks for, each drawn whole across the columns.
    QPainter painter(viewport());
    const QRect dirty = event->region().boundingRect();
    const int rows = model()->rowCount();  // the view's rows (the window's, when windowed)
    if (rows > 0) {
        int first = rowAt(dirty.top());
        if (first < 0) first = rows;  // below the last row: nothing but the grid
        int last = rowAt(dirty.bottom());
        if (last < 0) last = rows - 1;
        for (int row = first; row <= last; ++row)
            DrawRow(painter,
                    QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)), row);
    }
    DrawGrid(painter, event->region());
}

void CListCtrlEx::DrawGrid(QPainter& painter, const QRegion& clip) const {
    // Drawn with the rows: a list without rows has no grid.
    if (GetItemCount() == 0) return;
    // One-pixel lines, filled as rectangles: the same pixels as a one-pixel pen
    // draws, at a fraction of the cost, and only where the paint event asks.
    const QColor colour = QColor::fromRgb(kGridColour);
    const int width = viewport()->width();
    const int height = viewport()->height();
    const QRect dirty = clip.boundingRect();
    for (int column = 0; column + 1 < GetColumnCount(); ++column) {
        const int x = header()->sectionViewportPosition(column) + header()->sectionSize(column);
        if (x > 0 && x < width && x >= dirty.left() && x <= dirty.right())
            painter.fillRect(QRect(x, 0, 1, height + 1), colour);
    }
    // A line between rows, under the last row, and on down over the empty part of the page.
    const QRect first = visualRect(model()->index(0, 0));
    const int rowHeight = first.height() > 0 ? first.height() : RowHeight();
    int y = first.top() + rowHeight;  // row 0 has no line at its top
    if (y < 0) y += (-y + rowHeight - 1) / rowHeight * rowHeight;
    if (y < dirty.top()) y += (dirty.top() - y) / rowHeight * rowHeight;
    const int bottom = std::min(height - 1, dirty.bottom());
    for (; y <= bottom; y += rowHeight) painter.fillRect(QRect(0, y, width + 1, 1), colour);
}

bool CListCtrlEx::viewportEvent(QEvent* event) {
    const bool handled = QTableView::viewportEvent(event);
    if (event->type() == QEvent::Resize) {
        if (window_) window_->SetWindowRows(RowsInSight() + 1);
        emit ClientWidthChanged(viewport()->width());
    }
    return handled;
}

}  // namespace velmora::ui
