#pragma once
// "The latest change to a field wins", in one order every archive and the team
// archive share: by the change's time (the team archive's effective time once known,
// else the time of the laptop that made it), then its laptop's id, then that laptop's
// id for the change; the greater wins at each key. The keys are listed once below,
// and the three places that order changes are made from them: the C++ comparison,
// SQLite's ORDER BY over job_changes, and the team archive's trigger that keeps the
// winner of each field.
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>

#include "archive/job_log.h"

namespace velmora::archive {

struct ChangeOrderKey {
    // Over a row of job_changes; ?9 is the id of the archive's own laptop (its own
    // changes have laptop '').
    const char* sqlite;
    // A column that velmora.changes and velmora.fields both have.
    const char* postgres;
};
inline constexpr ChangeOrderKey kChangeOrder[] = {
    {"coalesce(effective, changed_at)", "effective"},
    {"CASE laptop WHEN '' THEN ?9 ELSE laptop END", "laptop"},
    {"coalesce(origin_id, id)", "change_id"},
};

// The keys of `c`, in kChangeOrder's order; `own` stands for the laptop "" (this
// archive's own changes). A laptop id is lowercase text: ordered as text, it is
// ordered as the team archive orders its uuid.
inline auto ChangeRank(const JobChange& c, std::string_view own) {
    return std::tuple(c.effective.value_or(c.changedAt),
                      c.laptop.empty() ? own : std::string_view(c.laptop), c.originId);
}
static_assert(std::tuple_size_v<decltype(ChangeRank(JobChange{}, {}))> == std::size(kChangeOrder));

// Whether `a` wins over `b`.
inline bool IsLater(const JobChange& a, const JobChange& b, std::string_view own) {
    return ChangeRank(a, own) > ChangeRank(b, own);
}

// "k1 DESC, k2 DESC, ...": job_changes the latest first, for an ORDER BY.
std::string LatestFirstSqlite();
// "(newer.k1, ...) > (older.k1, ...)": whether the row `newer` wins over `older`.
std::string IsLaterPostgres(std::string_view newer, std::string_view older);
// "k1 DESC, ...": rows of velmora.changes or velmora.fields the latest first.
std::string LatestFirstPostgres();

}  // namespace velmora::archive
