#include "settings/value_text.h"

#include <algorithm>
#include <cstring>

#include "base/text_codec.h"

namespace velmora {
namespace {

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string FormatScaled(std::int64_t value, int decimals) {
    const bool negative = value < 0;
    // Magnitude in unsigned arithmetic, so the most negative value has one too.
    std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    const std::size_t fraction = static_cast<std::size_t>(std::max(decimals, 0));
    if (digits.size() <= fraction) digits.insert(0, fraction + 1 - digits.size(), '0');
    if (fraction > 0) digits.insert(digits.size() - fraction, 1, '.');
    return negative ? "-" + digits : digits;
}

std::uint32_t ParseScaledDecimal(std::string_view text, int decimals) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint32_t value = 0;  // unsigned, so overflow wraps instead of being undefined
    for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
    int scaleLeft = std::max(decimals, 0);
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]) && scaleLeft > 0; ++i, --scaleLeft)
            value = value * 10 + (text[i] - '0');
    }
    for (; scaleLeft > 0; --scaleLeft) value *= 10;
    return negative ? 0u - value : value;
}

std::optional<std::int64_t> ParseNumberText(std::string_view text, int decimals) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    int digits = 0;
    int scaleLeft = std::max(decimals, 0);
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
        if (digits >= 15) return std::nullopt;  // far beyond any field
        value = value * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits)
            if (scaleLeft > 0) value = value * 10 + (text[i] - '0'), --scaleLeft;
    }
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (digits == 0 || i != text.size()) return std::nullopt;
    for (; scaleLeft > 0; --scaleLeft) value *= 10;
    return negative ? -value : value;
}

std::uint32_t ParseWholeNumber(std::string_view text) {
    return ParseScaledDecimal(text, 0);
}

std::string NameFromField(std::span<const std::uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), 0);
    const std::string gbk(field.begin(), end);
    return GbkToUtf8(gbk);
}

void NameToField(std::string_view text, std::span<std::uint8_t> field) {
    const std::string gbk = Utf8ToGbk(text);
    const std::string_view cut = CutGbk(gbk, field.size());
    std::fill(field.begin(), field.end(), 0);
    std::memcpy(field.data(), cut.data(), cut.size());
}

}  // namespace velmora
