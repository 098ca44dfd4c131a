#pragma once
// The records a filter takes, in one order, read a screenful at a time by position:
// the list of a window that shows a million records keeps only the rows in view.
// Every read is a keyset query on an index (no OFFSET): the cursor walks the order
// once, keys only, counting the rows and keeping the key of every 256th, so that any
// position is reached from the key before it in a few hundred index steps.
//
// One cursor serves one thread (the archive's): it holds no connection, and each
// call takes the archive it reads.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "archive/archive.h"

namespace velmora::archive {

namespace db {
class Statement;
}
namespace sql {
struct Where;
}

class RecordCursor {
  public:
    // Positions [first, last], both inclusive.
    using Range = std::pair<std::size_t, std::size_t>;

    RecordCursor(RecordFilter filter, RecordOrder order);

    // Rows [first, first + count) of the order; fewer at the end.
    std::optional<std::vector<ArchivedRecord>> Rows(Archive& archive, std::size_t first,
                                                    std::size_t count);
    // Hands every row to `take` in order, a chunk read at a time (without images),
    // until `take` returns false. False on failure.
    bool Each(Archive& archive, const std::function<bool(const ArchivedRecord&)>& take);
    // Counts on through at most `budget` more rows; true once every row is counted.
    std::optional<bool> Count(Archive& archive, std::size_t budget);
    // How many rows the filter takes, once counted.
    std::optional<std::size_t> Total() const { return total_; }
    // True when the archive changed since the cursor first read it or was last
    // restarted: its positions may no longer be true.
    bool Changed(Archive& archive);
    // Forgets what was counted: the next call reads the archive as it is now.
    void Restart();
    // The ids of the rows at `ranges` (ascending, within the rows).
    std::optional<std::vector<std::int64_t>> Ids(Archive& archive, std::span<const Range> ranges);
    // The positions of those of `ids` the rows hold, ascending. Counts every row first.
    std::optional<std::vector<std::size_t>> Positions(Archive& archive,
                                                      std::span<const std::int64_t> ids);

    const RecordOrder& Order() const { return order_; }
    // Each query the cursor runs, with SQLite's plan for it ("SQL => plan; ..."): to
    // check that every order and filter reads on an index.
    std::optional<std::vector<std::string>> Plans(Archive& archive);
    const ArchiveError& Error() const { return error_; }

    // Where a row is in the order: its part (a splicer, or with or without a job), the
    // value it is ordered by within the part (none, a number or a text), its ordinal
    // and its id.
    struct Key {
        int part = 0;
        std::variant<std::monostate, std::int64_t, std::string> value{};
        std::int64_t ordinal = 0;
        std::int64_t id = 0;
    };

  private:
    // One run of the order: the rows of one condition, by one column then ordinal.
    struct Part {
        std::string condition;  // "" or one more WHERE term
        std::optional<std::int64_t> splicer{};
        const char* column = nullptr;  // null: by ordinal alone
    };
    // `row` is the whole row when asked for, null otherwise.
    using Visit = std::function<void(const Key& key, std::int64_t id, const db::Statement* row)>;

    // What follows throws a failure (of SQLite, or an ArchiveError); each public call
    // runs in Guarded, which keeps it as Error().
    template <class Work>
    auto Guarded(Archive& archive, const char* what, Work work) -> std::optional<decltype(work())>;
    void Prepare(Archive& archive);
    // Whether the dates take no record at all (a range that ends before it begins).
    void FindDates();
    // A search that finds one splicer alone, or one job alone, is that splicer's or
    // that job's filter, which reads on its own index; one that finds nothing takes
    // no record.
    void NarrowSearch(Archive& archive);
    // Whether the filter takes records over a limit and no record is.
    void FindNoneOverALimit(Archive& archive);
    // The runs of the order.
    void MakeParts(const std::vector<SplicerInfo>& splicers);
    // The query of part `p`: after `after` (a key of that part) when given, keys only
    // or whole rows; its values go to `bound`, the limit follows them.
    std::string QueryText(std::size_t p, const Key* after, bool whole, sql::Where& bound) const;
    // The index that reads `part` in order within the filter, and whether it is read
    // once for each of the filter's splicers (sql::EachSplicerSql).
    struct Reading {
        const char* index;
        bool eachSplicer;
    };
    Reading IndexFor(const Part& part) const;
    // Visits up to `limit` rows after `after` (from the first when empty), keys only
    // or whole rows; how many were visited.
    std::size_t Walk(Archive& archive, const std::optional<Key>& after, std::size_t limit,
                     bool whole, const Visit& visit);
    // Count, throwing.
    bool CountOn(Archive& archive, std::size_t budget);
    // The key of the row at `position`; none past the last row.
    std::optional<Key> KeyAt(Archive& archive, std::size_t position);
    // True when `a` comes before `b` in the order.
    bool Before(const Key& a, const Key& b) const;

    RecordFilter given_;
    RecordFilter filter_;  // given_ as read: its search narrowed
    RecordOrder order_;
    ArchiveError error_;
    bool prepared_ = false;
    bool empty_ = false;  // the dates or the search take no record
    std::vector<Part> parts_;
    std::vector<std::int64_t> eachSplicer_;  // the splicers the filter may take
    std::unordered_map<std::int64_t, std::pair<std::string, std::string>> splicers_;
    std::optional<std::pair<std::int64_t, std::int64_t>> stamp_;
    // What Count has walked: the rows so far, the key of every kStride-th, the last.
    std::size_t counted_ = 0;
    std::vector<Key> anchors_;
    std::optional<Key> lastCounted_;
    std::optional<std::size_t> total_;
};

}  // namespace velmora::archive
