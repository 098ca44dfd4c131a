#pragma once
// Conversions between record fields and the texts the grid shows: fixed-point
// numbers done in decimal digits (never through binary floating point), whole
// numbers with the C library's atoi rules, time stamps, and GBK names.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/time_text.h"

namespace velmora {

// `value` with `decimals` digits after the point: (230, 2) -> "2.30", (-5, 1) -> "-0.5",
// (150, 0) -> "150".
std::string FormatScaled(std::int64_t value, int decimals);

// The text's leading decimal number times 10^decimals, digits beyond that scale
// dropped (toward zero): ("2.3", 1) -> 23, ("25.1", 1) -> 251, ("0.255", 2) -> 25,
// ("-1", 1) -> -10. Leading blanks are skipped, trailing text ignored; no number gives
// 0. The result wraps modulo 2^32, so keeping its low bits matches a C conversion.
std::uint32_t ParseScaledDecimal(std::string_view text, int decimals);

// The text as a number with `decimals` digits after the point, scaled like
// ParseScaledDecimal (further digits dropped toward zero), or nothing when the
// text is not a plain number: blanks around it, a sign, digits, one point;
// nothing else (no "2,5", no "abc", no empty text, no exponent).
std::optional<std::int64_t> ParseNumberText(std::string_view text, int decimals);

// The leading whole number as atoi reads it (no number gives 0), wrapped to 32 bits.
std::uint32_t ParseWholeNumber(std::string_view text);

// A GBK name field as UTF-8: its bytes up to the first NUL or the field's end.
std::string NameFromField(std::span<const std::uint8_t> field);

// A UTF-8 text into a GBK name field: cut to the field's width without splitting
// a character, the rest NUL.
void NameToField(std::string_view text, std::span<std::uint8_t> field);

}  // namespace velmora
