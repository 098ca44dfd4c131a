#pragma once
// The archive's order: by splice time, records of one second in the order they came,
// the undated ones last in the order they came. It is kept as records.ordinal, which
// every listing index holds, then the record's id, which grows as records come.
//
// The ordinal is made from the record's own time, not from its place among the
// others: a record stored later into the middle of the archive (a splicer downloaded
// late, a second splicer, records taken from a team archive) is ordered among its
// neighbours, and no other record is ever renumbered: storing costs the records
// stored, not the archive.
//
// A record takes the last ordinal of its second (or the last of all for an undated
// one), so that the id alone orders the records of one second. Archives numbered each
// second's records splice_time × kPerSecond + 0, 1, 2 … (in the order they came): a
// record stored since comes after those. Finding the next free number of a second
// needed an index of the whole archive's order, which costs a page written for
// nearly every record of a download interleaved with a large archive.
//
// A splice time is at most 22551231235959 (a year byte over 2000), so a dated ordinal
// stays below 2.26e18, under kUndated.
#include <cstdint>
#include <optional>

namespace velmora::archive::order {

// The ordinals of one second: as many as the numbered records of a second could take.
inline constexpr std::int64_t kPerSecond = 100'000;
inline constexpr std::int64_t kUndated = 3'000'000'000'000'000'000;

// The ordinals of splice time `time` (none: undated), both inclusive.
struct Slot {
    std::int64_t first;
    std::int64_t last;
};
inline Slot SlotOf(std::optional<std::int64_t> time) {
    if (!time) return {kUndated, INT64_MAX};
    return {*time * kPerSecond, *time * kPerSecond + kPerSecond - 1};
}

// The ordinal a record of splice time `time` (none: undated) takes.
inline std::int64_t OrdinalOf(std::optional<std::int64_t> time) {
    return SlotOf(time).last;
}

// The splice time a dated ordinal holds.
inline std::int64_t TimeOf(std::int64_t ordinal) {
    return ordinal / kPerSecond;
}

}  // namespace velmora::archive::order
