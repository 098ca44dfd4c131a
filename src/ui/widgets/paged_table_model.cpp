#include "ui/widgets/paged_table_model.h"

#include <QSize>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace velmora::ui {

CPagedTableModel::CPagedTableModel(QStringList captions, int rowHeight, QObject* parent)
    : QAbstractTableModel(parent), captions_(std::move(captions)), rowHeight_(rowHeight) {}

int CPagedTableModel::Restart() {
    beginResetModel();
    ++generation_;
    rows_ = 0;
    top_ = 0;
    total_.reset();
    pages_.clear();
    formerPages_.clear();
    requested_.clear();
    endResetModel();
    emit WindowMoved();
    return generation_;
}

int CPagedTableModel::Reload(std::optional<int> total) {
    ++generation_;
    formerPages_ = std::move(pages_);
    pages_.clear();
    requested_.clear();
    total_ = total;
    if (total) Resize(*total);
    if (ViewRows() > 0)
        emit dataChanged(index(0, 0), index(ViewRows() - 1, columnCount() - 1), {Qt::DisplayRole});
    return generation_;
}

int CPagedTableModel::ViewRows() const {
    return Windowed() ? std::clamp(rows_ - top_, 0, windowRows_) : rows_;
}

int CPagedTableModel::LastTop(int rows, int windowRows) const {
    // The window's last row is the one only partly in sight: at the end of the
    // listing, the last row is the last one wholly in sight.
    return std::max(0, rows - std::max(1, windowRows - 1));
}

void CPagedTableModel::SetWindowRows(int rows) {
    rows = std::max(0, rows);
    if (rows == windowRows_) return;
    if (rows == 0 || !Windowed()) {
        beginResetModel();
        windowRows_ = rows;
        top_ = 0;
        endResetModel();
        emit WindowMoved();
        return;
    }
    // Room for more or fewer rows in sight: the window keeps its top where the end
    // of the listing leaves it room.
    ResizeWindow(rows_, std::min(top_, LastTop(rows_, rows)), rows);
}

void CPagedTableModel::SetTop(int top) {
    if (!Windowed()) return;
    ResizeWindow(rows_, std::clamp(top, 0, LastTop(rows_, windowRows_)), windowRows_);
}

void CPagedTableModel::ResizeWindow(int rows, int top, int windowRows) {
    const bool moved = top != top_;
    const int before = ViewRows();
    const int after = std::clamp(rows - top, 0, windowRows);
    const auto apply = [&] {
        rows_ = rows;
        top_ = top;
        windowRows_ = windowRows;
    };
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        apply();
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        apply();
        endRemoveRows();
    } else {
        apply();
    }
    // The rows in the window are other rows now: every role of them.
    if (moved && after > 0) emit dataChanged(index(0, 0), index(after - 1, columnCount() - 1));
    // While the count is not known, the window at the end asks for the next page.
    if (canFetchMore({})) fetchMore({});
    emit WindowMoved();
}

void CPagedTableModel::Resize(int rows) {
    if (Windowed()) {
        ResizeWindow(rows, std::min(top_, LastTop(rows, windowRows_)), windowRows_);
        return;
    }
    if (rows > rows_) {
        // A long list grows a step at a time, each step in an event of its own: the view
        // makes room for every row it is given, and a million at once would stall it.
        const int grown = std::min(rows, rows_ + kGrowthStep);
        beginInsertRows({}, rows_, grown - 1);
        rows_ = grown;
        endInsertRows();
        if (grown < rows)
            QTimer::singleShot(0, this, [this] {
                if (Growing()) Resize(*total_);
            });
    } else if (rows < rows_) {
        beginRemoveRows({}, rows, rows_ - 1);
        rows_ = rows;
        endRemoveRows();
    }
}

void CPagedTableModel::Request(int page) const {
    lastAsked_ = page;
    if (!fetcher_ || pages_.contains(page) || !requested_.insert(page).second) return;
    fetcher_(generation_, page * kPageRows, kPageRows);
}

void CPagedTableModel::Prefetch(int first, int count) const {
    for (int page = first / kPageRows; page * kPageRows < first + count; ++page) Request(page);
}

void CPagedTableModel::KeepNear(int page) {
    // The pages farthest from the one the view asked for last go first.
    while (pages_.size() > kKeptPages) {
        auto farthest = pages_.begin();
        for (auto it = pages_.begin(); it != pages_.end(); ++it)
            if (std::abs(it->first - lastAsked_) > std::abs(farthest->first - lastAsked_))
                farthest = it;
        if (farthest->first == page) break;
        pages_.erase(farthest);
    }
}

void CPagedTableModel::Deliver(int generation, int first, std::vector<Row> rows) {
    if (generation != generation_ || first % kPageRows != 0) return;
    const int page = first / kPageRows;
    requested_.erase(page);
    formerPages_.erase(page);
    const int count = static_cast<int>(rows.size());
    pages_[page] = std::move(rows);
    KeepNear(page);
    // Until the count is known, the rows end where the pages that came end.
    if (!total_ && first + count > rows_) Resize(first + count);
    if (count > 0) {
        // Of the rows that came, those the view is given.
        const int from = std::max(first, top_) - top_;
        const int to = std::min(first + count - top_, ViewRows());
        if (from < to)
            emit dataChanged(index(from, 0), index(to - 1, columnCount() - 1), {Qt::DisplayRole});
        emit RowsArrived(first, count);
    }
}

void CPagedTableModel::SetTotal(int generation, int total) {
    if (generation != generation_) return;
    total_ = total;
    Resize(total);
}

const CPagedTableModel::Row* CPagedTableModel::RowAt(int row) const {
    if (row < 0 || row >= rows_) return nullptr;
    const auto page = pages_.find(row / kPageRows);
    if (page == pages_.end() || row % kPageRows >= static_cast<int>(page->second.size()))
        return nullptr;
    return &page->second[static_cast<std::size_t>(row % kPageRows)];
}

int CPagedTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ViewRows();
}

int CPagedTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QVariant CPagedTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::SizeHintRole) return QSize(0, rowHeight_);
    if (role == Qt::BackgroundRole || role == Qt::DecorationRole) {
        const Row* row = RowAt(ListingRow(index.row()));
        if (!row) return {};
        if (role == Qt::BackgroundRole)
            return row->tint.isValid() ? QVariant(row->tint) : QVariant();
        const auto column = static_cast<std::size_t>(index.column());
        if (column >= row->swatches.size() || row->swatches[column].empty()) return {};
        QVariantList swatches;
        for (const QColor& colour : row->swatches[column]) swatches << colour;
        return swatches;
    }
    // A cell's tool tip is its whole text, for a column too narrow to show it.
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const int listed = ListingRow(index.row());
    const int page = listed / kPageRows;
    const Row* row = RowAt(listed);
    if (!row) {
        Request(page);
        // A Reload's rows stay as they were until theirs arrive.
        const auto former = formerPages_.find(page);
        if (former == formerPages_.end() ||
            listed % kPageRows >= static_cast<int>(former->second.size()))
            return QString();
        row = &former->second[static_cast<std::size_t>(listed % kPageRows)];
    }
    return index.column() < row->texts.size() ? row->texts[index.column()] : QString();
}

QVariant CPagedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size()) return {};
    if (role == Qt::DisplayRole) return captions_[section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags CPagedTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool CPagedTableModel::canFetchMore(const QModelIndex& parent) const {
    // Windowed, only once the window has come to the end of the rows.
    return !parent.isValid() && !total_ && rows_ > 0 && rows_ % kPageRows == 0 &&
           !requested_.contains(rows_ / kPageRows) && (!Windowed() || top_ + windowRows_ >= rows_);
}

void CPagedTableModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) Request(rows_ / kPageRows);
}

}  // namespace velmora::ui
