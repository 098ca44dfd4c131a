#pragma once
// A splice time as the archive keeps it (records.splice_time, images.splice_time):
// the record's or image's own time fields as the number YYYYMMDDhhmmss, so that it
// sorts and compares as a time; none when the fields do not form a real time, so
// that such a record falls in no date range.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "history/splice_record.h"

namespace velmora::archive {

std::optional<std::int64_t> SpliceTime(const SpliceRecord& record);
// An image's stamp, "20261231235909": exactly fourteen digits forming a real time.
std::optional<std::int64_t> SpliceTime(std::string_view stamp);

// The first and the last second of a day.
std::int64_t DayStart(const std::chrono::year_month_day& day);
std::int64_t DayEnd(const std::chrono::year_month_day& day);

// A splice time back to a time of the splicer's clock.
std::chrono::local_seconds LocalTimeOf(std::int64_t spliceTime);

}  // namespace velmora::archive
