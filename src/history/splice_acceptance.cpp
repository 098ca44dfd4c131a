#include "history/splice_acceptance.h"

#include <algorithm>

namespace velmora {
namespace {

std::optional<int> ParseDecimal(const std::string& text, int decimals) {
    long long value = 0;
    int digits = 0;
    int fraction = -1;  // digits after the point; -1 before it
    for (char c : text) {
        if (c == '.' && fraction < 0) {
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        if (fraction >= 0 && ++fraction > decimals) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kLimitCap * 1000LL) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    for (int i = std::max(fraction, 0); i < decimals; ++i) value *= 10;
    if (value > kLimitCap) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<int> ParseLossLimit(const std::string& text) {
    return ParseDecimal(text, 2);
}

std::optional<int> ParseAngleLimit(const std::string& text) {
    return ParseDecimal(text, 1);
}

Mark Judge(const SpliceRecord& record, const Limits& limits) {
    if (record.result() != 0) return Mark::Failed;
    const bool loss = record.loss() > limits.maxLoss;
    const bool angle = record.lfAngle() > limits.maxAngle || record.rfAngle() > limits.maxAngle;
    if (loss && angle) return Mark::OverBoth;
    if (loss) return Mark::OverLoss;
    return angle ? Mark::OverAngle : Mark::Pass;
}

}  // namespace velmora
