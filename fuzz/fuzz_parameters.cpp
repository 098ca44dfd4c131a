// The parameter records read off the serial line and the value texts a user
// types for them: decoding and encoding the four records (bytes kept as read),
// a read reply into its group, the grid texts shown for a group and the edited
// texts taken back with their range checks, the number and name conversions,
// and the device folder named from a configuration reply.
//
// Input: group byte, flags byte, 188 record bytes (splice, heater, environment,
// configuration; zeros where the input ends), then texts separated by '\n'.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_codec.h"
#include "fuzz_common.h"
#include "settings/device_folder.h"
#include "settings/option_tables.h"
#include "settings/parameter_records.h"
#include "settings/parameter_rows.h"
#include "settings/value_text.h"

using namespace velmora;
using velmora_fuzz::Bytes;

namespace {

const OptionTables& Tables(bool english) {
    static const OptionTables chinese = ChineseOptionTables();
    static const OptionTables englishTables = [] {
        OptionTables t = ChineseOptionTables();
        UseEnglishOptionNames(t);
        return t;
    }();
    return english ? englishTables : chinese;
}

const std::vector<ParamRow>& ParamRows() {
    static const std::vector<ParamRow> rows = BuildParamRows();
    return rows;
}

template <std::size_t N>
std::array<std::uint8_t, N> Fill(Bytes& in) {
    std::array<std::uint8_t, N> out{};
    std::span<const std::uint8_t> got = in.Take(N);
    std::copy(got.begin(), got.end(), out.begin());
    return out;
}

// Decode then encode gives the bytes back: nothing is lost on a read-modify-write.
template <std::size_t N, typename Decode, typename Encode>
void RoundTrip(const std::array<std::uint8_t, N>& bytes, Decode decode, Encode encode) {
    const auto again = encode(decode(std::span<const std::uint8_t, N>(bytes)));
    FUZZ_CHECK(again == bytes);
}

template <std::size_t N>
std::vector<std::uint8_t> AsVector(const std::array<std::uint8_t, N>& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::vector<std::vector<std::uint8_t>> AllRecordBytes(const ParameterRecords& r) {
    return {AsVector(EncodeSpliceParams(r.splice)), AsVector(EncodeHeaterParams(r.heater)),
            AsVector(EncodeEnvironmentInfo(r.environment)), AsVector(EncodeDeviceConfig(r.config))};
}

std::vector<std::string> Shown(ParamGroup group, const ParameterRecords& records,
                               const OptionTables& tables) {
    std::vector<GridRow> rows = BuildGroupRows(ParamRows(), group);
    ShowGroup(group, records, tables, rows);
    std::vector<std::string> texts;
    for (const GridRow& row : rows) {
        FUZZ_CHECK(IsValidUtf8(row.value));
        FUZZ_CHECK(IsValidUtf8(row.CaptionText()));
        for (const std::string& option : row.options) FUZZ_CHECK(IsValidUtf8(option));
        texts.push_back(row.value);
    }
    return texts;
}

void ValueTexts(std::string_view text) {
    for (int decimals = 0; decimals <= 3; ++decimals) {
        (void)ParseScaledDecimal(text, decimals);
        if (const std::optional<std::int64_t> value = ParseNumberText(text, decimals)) {
            // What a number text reads as is shown back as a text that reads the same.
            const std::string shown = FormatScaled(*value, decimals);
            const std::optional<std::int64_t> again = ParseNumberText(shown, decimals);
            FUZZ_CHECK(again && *again == *value);
        }
    }
    (void)ParseWholeNumber(text);

    std::array<std::uint8_t, 16> field{};
    NameToField(text, field);
    const std::string name = NameFromField(field);
    FUZZ_CHECK(IsValidUtf8(name));
    std::array<std::uint8_t, 16> again{};
    NameToField(name, again);
}

void CheckFolderName(std::string_view name) {
    const std::string safe = SafeFolderName(name);
    FUZZ_CHECK(!safe.empty());
    FUZZ_CHECK(safe != "." && safe != "..");
    FUZZ_CHECK(safe.find('/') == std::string::npos);
    FUZZ_CHECK(safe.find('\\') == std::string::npos);
    FUZZ_CHECK(safe.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    (void)ParamRows();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> whole(data, size);

    // The device folder named from the input taken as a configuration reply.
    const std::string device = DeviceNameFromReply(whole);
    if (size < 40) FUZZ_CHECK(device.empty());
    CheckFolderName(device);
    CheckFolderName(velmora_fuzz::AsText(whole));

    Bytes in(data, size);
    const ParamGroup group = *GroupAt(in.Byte() % 5);
    const std::uint8_t flags = in.Byte();
    const OptionTables& tables = Tables(!(flags & 1));

    const auto splice = Fill<kSpliceParamsSize>(in);
    const auto heater = Fill<kHeaterParamsSize>(in);
    const auto environment = Fill<kEnvironmentInfoSize>(in);
    const auto config = Fill<kDeviceConfigSize>(in);
    RoundTrip(splice, DecodeSpliceParams, EncodeSpliceParams);
    RoundTrip(heater, DecodeHeaterParams, EncodeHeaterParams);
    RoundTrip(environment, DecodeEnvironmentInfo, EncodeEnvironmentInfo);
    RoundTrip(config, DecodeDeviceConfig, EncodeDeviceConfig);

    ParameterRecords records;
    records.splice = DecodeSpliceParams(splice);
    records.heater = DecodeHeaterParams(heater);
    records.environment = DecodeEnvironmentInfo(environment);
    records.config = DecodeDeviceConfig(config);

    // The whole input as a read reply of the group.
    {
        ParameterRecords replyRecords = records;
        const ParamRecord record = RecordOf(group);
        const RecordInfo& info = InfoOf(record);
        const bool decoded = DecodeRecordReply(record, whole, replyRecords);
        FUZZ_CHECK(decoded == (size >= info.size + kParamDataOffset));
        if (decoded) {
            const std::vector<std::uint8_t> encoded = EncodeRecord(record, replyRecords);
            FUZZ_CHECK(encoded.size() == info.size);
            FUZZ_CHECK(std::memcmp(encoded.data(), data + kParamDataOffset, encoded.size()) == 0);
        }
    }

    // The rest of the input: texts.
    const std::string_view rest = velmora_fuzz::AsText(in.Rest());
    std::vector<std::string> typed;
    for (std::size_t at = 0; at <= rest.size() && typed.size() < 32;) {
        const std::size_t end = std::min(rest.find('\n', at), rest.size());
        typed.emplace_back(rest.substr(at, end - at));
        at = end + 1;
    }
    for (const std::string& text : typed) ValueTexts(text);

    // The shown texts taken back unchanged leave every byte as it was read.
    const std::vector<std::string> shown = Shown(group, records, tables);
    {
        ParameterRecords copy = records;
        const std::vector<std::string> failures = ValidateAndEncode(group, shown, tables, copy);
        if (failures.empty()) FUZZ_CHECK(AllRecordBytes(copy) == AllRecordBytes(records));
    }

    // Typed texts over the shown ones (or the typed texts alone, any number of them).
    std::vector<std::string> texts = shown;
    if (flags & 2) {
        texts = typed;
    } else {
        for (std::size_t i = 0; i < typed.size() && i < texts.size(); ++i)
            if (!typed[i].empty()) texts[i] = typed[i];
    }
    ParameterRecords edited = records;
    const std::vector<std::string> failures = ValidateAndEncode(group, texts, tables, edited);
    // The grid hands over UTF-8; messages about UTF-8 texts are UTF-8 too.
    const bool allUtf8 = std::all_of(texts.begin(), texts.end(),
                                     [](const std::string& t) { return IsValidUtf8(t); });
    if (allUtf8)
        for (const std::string& failure : failures) FUZZ_CHECK(IsValidUtf8(failure));
    if (!failures.empty()) {
        FUZZ_CHECK(AllRecordBytes(edited) == AllRecordBytes(records));
    } else {
        // Accepted edits, shown and taken back again, change nothing more.
        const std::vector<std::string> reshown = Shown(group, edited, tables);
        ParameterRecords again = edited;
        const std::vector<std::string> more = ValidateAndEncode(group, reshown, tables, again);
        if (more.empty()) FUZZ_CHECK(AllRecordBytes(again) == AllRecordBytes(edited));
    }
    return 0;
}
