#pragma once
// The archive's order: by splice time, records of one second in the order they came,
// the undated ones last in the order they came. It is kept as records.ordinal, which
// every listing index holds.
//
// The ordinal is made from the record's own time, not from its place among the
// others: splice_time × kPerSecond plus the record's number within its second (or
// kUndated plus its number among the undated). A record stored later into the middle
// of the archive (a splicer downloaded late, a second splicer, records taken from a
// team archive) then gets a free ordinal between its neighbours, and no other record
// is ever renumbered: storing costs the records stored, not the archive. Numbering
// the records of the archive 1, 2, 3 instead moved every later record on each such
// store, with each of the indexes that hold the ordinal.
//
// A splice time is at most 22551231235959 (a year byte over 2000), so a dated ordinal
// stays below 2.26e18, under kUndated, and int64 has room for any record id past it.
#include <cstdint>
#include <optional>

namespace velmora::archive::order {

// Records a second can hold: one splicer makes a splice in tens of seconds, so even
// every splicer of a company never comes near.
inline constexpr std::int64_t kPerSecond = 100'000;
inline constexpr std::int64_t kUndated = 3'000'000'000'000'000'000;

// The ordinals a record of splice time `time` (none: undated) may take, both inclusive.
struct Slot {
    std::int64_t first;
    std::int64_t last;
};
inline Slot SlotOf(std::optional<std::int64_t> time) {
    if (!time) return {kUndated, INT64_MAX};
    return {*time * kPerSecond, *time * kPerSecond + kPerSecond - 1};
}

// The splice time a dated ordinal holds.
inline std::int64_t TimeOf(std::int64_t ordinal) {
    return ordinal / kPerSecond;
}

}  // namespace velmora::archive::order
