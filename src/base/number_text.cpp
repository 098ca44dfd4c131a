#include "base/number_text.h"

#include <algorithm>
#include <cstdlib>

namespace velmora {
namespace {

std::int64_t PowerOfTen(int exponent) {
    std::int64_t power = 1;
    for (int i = 0; i < exponent; ++i) power *= 10;
    return power;
}

// units * 10 + digit, unless that is beyond `bound`.
bool Shift(std::int64_t& units, int digit, std::int64_t bound) {
    if (units > bound / 10 || units * 10 > bound - digit) return false;
    units = units * 10 + digit;
    return true;
}

}  // namespace

NumberRead ReadNumber(std::string_view text, const NumberRange& range) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    // Beyond this the number is out of range whatever follows; the rest is still
    // read, so that "99999999999x" is no number rather than a large one.
    const std::int64_t bound = std::max(std::abs(range.min), std::abs(range.max));
    std::int64_t units = 0;
    bool beyond = false;
    int digits = 0;
    int fraction = -1;  // digits after the point; -1 before it
    for (const char c : text) {
        if (c == '.' && fraction < 0 && range.decimals > 0) {
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9') return {};
        if (fraction >= 0 && ++fraction > range.decimals) return {};
        ++digits;
        beyond = beyond || !Shift(units, c - '0', bound);
    }
    if (digits == 0) return {};
    for (int i = std::max(fraction, 0); i < range.decimals && !beyond; ++i)
        beyond = !Shift(units, 0, bound);
    if (negative) units = -units;
    if (beyond || units < range.min || units > range.max) return {NumberProblem::OutOfRange, 0};
    return {NumberProblem::None, units};
}

double NumberValue(std::int64_t units, int decimals) {
    // Both exact in a double (|units| < 2^53): the quotient is the nearest double to
    // the decimal number, as reading its text would give.
    return static_cast<double>(units) / static_cast<double>(PowerOfTen(decimals));
}

std::string NumberText(std::int64_t units, int decimals) {
    if (decimals <= 0) return std::to_string(units);
    const std::int64_t power = PowerOfTen(decimals);
    const std::uint64_t magnitude =
        units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::string text = (units < 0 ? "-" : "") + std::to_string(magnitude / power);
    std::string fraction = std::to_string(magnitude % power);
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

std::string RangeText(const NumberRange& range) {
    return NumberText(range.min, range.decimals) + " to " + NumberText(range.max, range.decimals);
}

}  // namespace velmora
