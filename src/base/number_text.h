#pragma once
// Numbers a person types (a command-line argument, a field of the window, a value
// of a settings file), read one way everywhere: decimal digits with an optional
// leading '-' and, where the field has decimals, at most that many after a '.'.
// Anything else (a '+', blanks, an exponent, hexadecimal, a decimal comma, one
// decimal too many) is not a number of the field; a number outside the field's
// range is refused with the range, never clamped into it.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// A field's numbers as whole units of 10^-decimals: degrees of latitude with six
// decimals are {-90'000'000, 90'000'000, 6}, a count of 1 to 1000 is {1, 1000}.
struct NumberRange {
    std::int64_t min = 0;
    std::int64_t max = 0;
    int decimals = 0;  // 0 to 15
};

enum class NumberProblem {
    None,
    NotANumber,  // not a decimal number of the field (too many decimals included)
    OutOfRange,  // a number, outside the field's range
};

struct NumberRead {
    NumberProblem problem = NumberProblem::NotANumber;
    std::int64_t units = 0;  // the number in units of the range, when read
    bool ok() const { return problem == NumberProblem::None; }
};

NumberRead ReadNumber(std::string_view text, const NumberRange& range);

// `units` of a range with `decimals` as a number: 65535 with 2 decimals is 655.35.
double NumberValue(std::int64_t units, int decimals);

// `units` as text, without trailing zeros: "655.35", "-90", "1.5".
std::string NumberText(std::int64_t units, int decimals);

// The range as a person reads it: "1 to 1000", "0 to 655.35".
std::string RangeText(const NumberRange& range);

}  // namespace velmora
