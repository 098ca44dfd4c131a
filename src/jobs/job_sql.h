#pragma once
// What the job store and the matrix reader share: statements that throw a failure
// of SQLite instead of returning its code, bound from any number of values. Internal
// to src/jobs; the failure never leaves a call of theirs.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/archive_sql.h"

namespace velmora::jobs::sql {

using archive::sql::Statement;

// A failure of SQLite: caught where the call began, and worded there.
struct SqlFailure {
    int rc;
};

inline void BindOne(Statement& s, int at, std::int64_t v) {
    s.Bind(at, v);
}
inline void BindOne(Statement& s, int at, int v) {
    s.Bind(at, std::int64_t{v});
}
inline void BindOne(Statement& s, int at, std::string_view v) {
    s.Bind(at, v);
}
inline void BindOne(Statement& s, int at, const std::string& v) {
    s.Bind(at, std::string_view(v));
}
inline void BindOne(Statement& s, int at, double v) {
    s.Bind(at, v);
}
// NULL for nothing.
template <class T>
void BindOne(Statement& s, int at, const std::optional<T>& v) {
    if (v) {
        BindOne(s, at, *v);
    } else {
        s.BindNull(at);
    }
}

// A prepared statement that throws SqlFailure instead of returning codes; bound again
// and run again as often as needed (text is bound without copying: it must outlive
// the next Next()).
class Query {
  public:
    template <class... Args>
    Query(sqlite3* db, std::string_view sql, const Args&... args) : stmt_(db, sql) {
        if (!stmt_.ok()) throw SqlFailure{stmt_.PrepareCode()};
        BindFrom(1, args...);
    }
    template <class... Args>
    Query& Again(const Args&... args) {
        stmt_.Reset();
        BindFrom(1, args...);
        return *this;
    }
    bool Next() {
        const int rc = stmt_.Step();
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw SqlFailure{rc};
    }
    void Run() {
        while (Next()) {
        }
    }
    // The first column of the first row, if there is a row.
    std::optional<std::int64_t> Single() {
        if (!Next()) return std::nullopt;
        return stmt_.Int(0);
    }
    std::int64_t Int(int col) const { return stmt_.Int(col); }
    int Number(int col) const { return static_cast<int>(stmt_.Int(col)); }
    double Real(int col) const { return stmt_.Real(col); }
    bool IsNull(int col) const { return stmt_.IsNull(col); }
    std::string Text(int col) const { return stmt_.Text(col); }
    std::span<const std::uint8_t> Blob(int col) const { return stmt_.Blob(col); }
    std::optional<int> OptionalNumber(int col) const {
        if (IsNull(col)) return std::nullopt;
        return Number(col);
    }

  private:
    void BindFrom(int) {}
    template <class First, class... Rest>
    void BindFrom(int at, const First& first, const Rest&... rest) {
        BindOne(stmt_, at, first);
        BindFrom(at + 1, rest...);
    }
    Statement stmt_;
};

}  // namespace velmora::jobs::sql
