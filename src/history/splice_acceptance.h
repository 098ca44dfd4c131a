#pragma once
// The pass rule: a splice is accepted when the splicer judged it a success and its
// loss and both cleave angles are within the limits. The report, the splice matrix
// and the jobs all judge with it.
#include <optional>
#include <string>

#include "base/number_text.h"
#include "history/splice_record.h"

namespace velmora {

// A splice passes when the splicer judged it a success and its loss and both
// cleave angles are within these.
struct Limits {
    int maxLoss = 10;   // hundredths of a dB
    int maxAngle = 10;  // tenths of a degree
    bool operator==(const Limits&) const = default;
};
// The largest limits accepted: beyond them a limit no longer limits anything the
// splicer records (a loss field tops out at 655.35 dB).
inline constexpr int kLimitCap = 65535;
// The limits as typed: dB with two decimals, degrees with one.
inline constexpr NumberRange kLossLimits{0, kLimitCap, 2};
inline constexpr NumberRange kAngleLimits{0, kLimitCap, 1};

// "0.08" in dB as hundredths, "1.5" degrees as tenths (ReadNumber over the ranges
// above); nothing for a text that is not such a number.
std::optional<int> ParseLossLimit(const std::string& text);
std::optional<int> ParseAngleLimit(const std::string& text);

// Failed: the splicer itself judged the splice a failure. The others say which
// limit a splice the splicer accepted is beyond.
enum class Mark { Pass, Failed, OverLoss, OverAngle, OverBoth };
Mark Judge(const SpliceRecord& record, const Limits& limits);
inline bool OverLimit(Mark mark) {
    return mark == Mark::OverLoss || mark == Mark::OverAngle || mark == Mark::OverBoth;
}

}  // namespace velmora
