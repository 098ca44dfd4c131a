#include "archive/change_order.h"

namespace velmora::archive {

namespace {

std::string LatestFirst(const char* ChangeOrderKey::*dialect) {
    std::string sql;
    for (const ChangeOrderKey& key : kChangeOrder)
        sql += (sql.empty() ? "" : ", ") + std::string(key.*dialect) + " DESC";
    return sql;
}

}  // namespace

std::string LatestFirstSqlite() {
    return LatestFirst(&ChangeOrderKey::sqlite);
}

std::string LatestFirstPostgres() {
    return LatestFirst(&ChangeOrderKey::postgres);
}

std::string IsLaterPostgres(std::string_view newer, std::string_view older) {
    std::string left, right;
    for (const ChangeOrderKey& key : kChangeOrder) {
        const char* comma = left.empty() ? "" : ", ";
        left += comma + std::string(newer) + "." + key.postgres;
        right += comma + std::string(older) + "." + key.postgres;
    }
    return "(" + left + ") > (" + right + ")";
}

}  // namespace velmora::archive
