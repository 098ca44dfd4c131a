#include "archive/record_identity.h"

#include <algorithm>

namespace velmora::archive {
namespace {

constexpr std::size_t kHexDigits = 2 * kRecordSize;
constexpr char kSeparator = ':';
constexpr char kBySerial = 's';
constexpr char kByFolder = 'f';
constexpr std::string_view kDigits = "0123456789abcdef";

}  // namespace

std::string RecordIdentityText(std::span<const std::uint8_t> bytes, std::string_view serial,
                               std::string_view folder) {
    std::string text;
    text.reserve(kHexDigits + 2 + std::max(serial.size(), folder.size()));
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    text += kSeparator;
    text += serial.empty() ? kByFolder : kBySerial;
    text += serial.empty() ? folder : serial;
    return text;
}

std::optional<RecordIdentity> ParseRecordIdentity(std::string_view text) {
    if (text.size() <= kHexDigits + 2 || text[kHexDigits] != kSeparator) return std::nullopt;
    const char by = text[kHexDigits + 1];
    if (by != kBySerial && by != kByFolder) return std::nullopt;
    RecordIdentity identity;
    for (std::size_t i = 0; i < kRecordSize; ++i) {
        const std::size_t high = kDigits.find(text[2 * i]), low = kDigits.find(text[2 * i + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
        identity.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    identity.bySerial = by == kBySerial;
    identity.name = std::string(text.substr(kHexDigits + 2));
    return identity;
}

std::string RecordOfIdentitySql() {
    // Positions of SQL's substr() count from 1.
    const std::string hex = std::to_string(kHexDigits), by = std::to_string(kHexDigits + 2),
                      name = std::to_string(kHexDigits + 3);
    const std::string kind = "substr(identity, " + by + ", 1)";
    const std::string layout =
        std::string("'^[0-9a-f]{") + hex + "}" + kSeparator + "[" + kBySerial + kByFolder + "].'";
    return "CREATE OR REPLACE FUNCTION velmora.record_of(identity text) RETURNS bigint\n"
           "    LANGUAGE sql STABLE SET search_path = velmora, pg_temp AS $$\n"
           "    SELECT r.id FROM velmora.splicers s JOIN velmora.records r ON r.splicer_id = s.id\n"
           "    WHERE r.bytes = CASE WHEN identity ~ " +
           layout + " THEN decode(left(identity, " + hex +
           "), 'hex') END\n"
           "      AND s.serial = CASE " +
           kind + " WHEN '" + kBySerial + "' THEN substr(identity, " + name +
           ") ELSE '' END\n"
           "      AND s.folder_key = CASE " +
           kind + " WHEN '" + kByFolder + "' THEN substr(identity, " + name +
           ") ELSE '' END\n"
           "$$;\n";
}

}  // namespace velmora::archive
