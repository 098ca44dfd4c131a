#pragma once
// A table whose rows come a page at a time from a source that answers later (the
// archive's thread): a view asks for the rows it shows, the model asks its source
// for their page, and the page is drawn once it arrives. Only the pages near the view
// are kept, so a list of a million rows costs the window what a screenful does.
// While the row count is not yet known the rows grow as they are scrolled to;
// once it is, the scroll bar spans them all.
// Windowed (SetWindowRows), the view is shown only the rows in sight, rows [Top(),
// Top() + the window) of the listing: a view keeps a few bytes for every row it is
// given, which at a million rows is megabytes. Every call here but the view's
// (rowCount, data, index) speaks of the listing's rows.
#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace velmora::ui {

class CPagedTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kPageRows = 128;
    static constexpr std::size_t kKeptPages = 32;
    static constexpr int kGrowthStep = 32768;

    struct Row {
        QStringList texts;
        std::int64_t id = 0;
        std::any item{};  // what the page keeps with the row
        QColor tint{};    // the row's background when valid (a row to notice)
        // Per column, colour swatches drawn before the text (none for most columns).
        std::vector<std::vector<QColor>> swatches{};
    };
    // Asks the source for rows [first, first + count) of `generation`; it answers
    // through Deliver. Asked once per page and generation.
    using Fetcher = std::function<void(int generation, int first, int count)>;

    CPagedTableModel(QStringList captions, int rowHeight, QObject* parent = nullptr);
    void SetFetcher(Fetcher fetcher) { fetcher_ = std::move(fetcher); }

    // Another listing (another filter or order): every row is forgotten and the
    // count is unknown; the first page is delivered by the caller (or asked for with
    // Prefetch). Returns the generation its answers must carry.
    int Restart();
    // The same listing, changed: the rows are asked for again and shown as they were
    // until they arrive; the count becomes `total` (unknown when empty).
    int Reload(std::optional<int> total);
    int Generation() const { return generation_; }
    // Answers of an older generation are dropped.
    void Deliver(int generation, int first, std::vector<Row> rows);
    void SetTotal(int generation, int total);
    std::optional<int> Total() const { return total_; }
    // True while the rows are still being made room for, up to the count known.
    bool Growing() const { return total_ && rows_ < *total_; }
    // The listing's rows made room for (the view's rowCount is the window's when windowed).
    int Rows() const { return rows_; }

    // The view is given at most `rows` rows from Top() on (0: every row, as by default):
    // the rows in sight and one partly in sight below them.
    void SetWindowRows(int rows);
    bool Windowed() const { return windowRows_ > 0; }
    // Moves the window so that it starts at listing row `top` (kept within the rows).
    void SetTop(int top);
    int Top() const { return top_; }
    // The listing row of the view's row `viewRow`.
    int ListingRow(int viewRow) const { return viewRow + top_; }
    // The row when it has arrived; null otherwise.
    const Row* RowAt(int row) const;
    // Asks for the pages of rows [first, first + count) that are not here yet.
    void Prefetch(int first, int count) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  signals:
    // Rows [first, first + count) arrived (the page may choose some of them).
    void RowsArrived(int first, int count);
    // The listing's rows or the window's top changed.
    void WindowMoved();

  private:
    using Page = std::vector<Row>;
    void Request(int page) const;
    void Resize(int rows);
    void KeepNear(int page);
    // The rows the view is given: the window's part of the listing, or all of it.
    int ViewRows() const;
    // The window's top farthest down in a listing of `rows` through a window of `windowRows`.
    int LastTop(int rows, int windowRows) const;
    // Sets the listing's rows, the window's top and its rows, telling the view what changed.
    void ResizeWindow(int rows, int top, int windowRows);

    QStringList captions_;
    int rowHeight_;
    Fetcher fetcher_;
    int generation_ = 0;
    int rows_ = 0;
    int windowRows_ = 0;
    int top_ = 0;
    std::optional<int> total_;
    std::map<int, Page> pages_;
    std::map<int, Page> formerPages_;  // shown until a Reload's pages arrive
    mutable std::set<int> requested_;
    mutable int lastAsked_ = 0;
};

}  // namespace velmora::ui
