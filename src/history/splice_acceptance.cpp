#include "history/splice_acceptance.h"

namespace velmora {

std::optional<int> ParseLossLimit(const std::string& text) {
    const NumberRead read = ReadNumber(text, kLossLimits);
    return read.ok() ? std::optional(static_cast<int>(read.units)) : std::nullopt;
}

std::optional<int> ParseAngleLimit(const std::string& text) {
    const NumberRead read = ReadNumber(text, kAngleLimits);
    return read.ok() ? std::optional(static_cast<int>(read.units)) : std::nullopt;
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
