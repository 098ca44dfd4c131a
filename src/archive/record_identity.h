#pragma once
// A splice record's identity as text, the same in every archive and in the team
// archive: its 34 bytes as 68 lowercase hex digits, ':', then 's' and its splicer's
// whole serial number, or 'f' and its folder name while the serial number is unknown
// ("<hex>:s<serial>", "<hex>:f<folder>"). The job log knows a record by it.
//
// Said once for each language that handles it: C++ here; SQLite through this code
// (an archive's connection calls RecordIdentityText as velmora_record_identity(bytes,
// serial, folder)); PostgreSQL through the function RecordOfIdentitySql makes from
// the same layout.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "history/splice_record.h"

namespace velmora::archive {

struct RecordIdentity {
    std::array<std::uint8_t, kRecordSize> bytes{};
    bool bySerial = true;  // known by its splicer's serial number, else by its folder
    std::string name;      // that serial number or folder name
};

std::string RecordIdentityText(std::span<const std::uint8_t> bytes, std::string_view serial,
                               std::string_view folder);
// Nothing for a text that does not have the layout above (bytes of another size,
// hex digits in upper case, no name).
std::optional<RecordIdentity> ParseRecordIdentity(std::string_view text);

// CREATE OR REPLACE FUNCTION velmora.record_of(identity text): the id of the team
// archive's record of that identity, NULL when it has none.
std::string RecordOfIdentitySql();

}  // namespace velmora::archive
