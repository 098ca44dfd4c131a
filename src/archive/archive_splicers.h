#pragma once
// The splicers table as the archive's writers use it. A splicer is found by its
// serial number, and by its folder name only while that is unknown.
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "archive/archive.h"

namespace velmora::archive {

struct SplicerRow {
    std::int64_t id = 0;
    // For a splicer of known serial number: the row of its folder's splicers of
    // unknown serial number, whose records and images may be its own.
    std::optional<std::int64_t> unknownSerial;
};

// Why the splicer cannot be stored (its folder name is not a safe one); none when it can.
std::optional<std::string> SplicerProblem(const SplicerIdentity& splicer);

// The splicer's row, added or marked seen at `now`. Inside the caller's transaction.
SplicerRow TouchSplicer(sqlite3* db, const SplicerIdentity& splicer, std::chrono::sys_seconds now);

}  // namespace velmora::archive
