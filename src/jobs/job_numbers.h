#pragma once
// The numbers a job's fields take, one range each, for the command line and the
// window alike: what is outside is refused with its range, never clamped into it.
#include <cstdint>
#include <limits>

#include "base/number_text.h"
#include "jobs/fibre_colours.h"

namespace velmora::jobs {

inline constexpr NumberRange kTrayNumbers{1, 9999};
inline constexpr NumberRange kTrayCapacities{1, 1000};
inline constexpr NumberRange kPositionNumbers{1, kTrayCapacities.max};
inline constexpr NumberRange kFibreCounts{kMinFibres, kMaxFibres};
// A fibre of a cable, and the fibres of a tube.
inline constexpr NumberRange kFibreNumbers{1, kMaxFibres};
// How many records one placing puts on a tray's positions.
inline constexpr NumberRange kPlacingCounts{1, kTrayCapacities.max};
inline constexpr NumberRange kRecordIds{1, std::numeric_limits<std::int64_t>::max()};
// Decimal degrees (WGS84) to six decimals, a tenth of a metre.
inline constexpr NumberRange kLatitudes{-90'000'000, 90'000'000, 6};
inline constexpr NumberRange kLongitudes{-180'000'000, 180'000'000, 6};

}  // namespace velmora::jobs
