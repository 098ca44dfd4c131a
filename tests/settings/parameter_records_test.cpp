#include "settings/parameter_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/test_support.h"

namespace velmora {
namespace {

using test::Hex;

// Decoding then encoding random bytes gives every byte back, kept and ignored ones included.
template <std::size_t N, class Decode, class Encode>
void ExpectRoundTrip(const char* name, Decode decode, Encode encode) {
    std::mt19937 gen(N);
    for (int round = 0; round < 20; ++round) {
        std::array<std::uint8_t, N> bytes;
        for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
        EXPECT_EQ(Hex(encode(decode(bytes))), Hex(bytes)) << name << " round " << round;
    }
}

TEST(ParameterRecords, EveryRecordRoundTripsByteForByte) {
    ExpectRoundTrip<kSpliceParamsSize>("splice", DecodeSpliceParams, EncodeSpliceParams);
    ExpectRoundTrip<kHeaterParamsSize>("heater", DecodeHeaterParams, EncodeHeaterParams);
    ExpectRoundTrip<kEnvironmentInfoSize>("environment", DecodeEnvironmentInfo,
                                          EncodeEnvironmentInfo);
    ExpectRoundTrip<kDeviceConfigSize>("config", DecodeDeviceConfig, EncodeDeviceConfig);
}

TEST(ParameterRecords, ShortRepliesAndTheGroupTable) {
    ParameterRecords records;
    // A reply too short for the record leaves it untouched.
    std::vector<std::uint8_t> reply(3 + kHeaterParamsSize - 1, 0x42);
    EXPECT_FALSE(DecodeRecordReply(ParamRecord::Heater, reply, records));
    EXPECT_EQ(records.heater.time, 0);
    reply.push_back(0x42);
    EXPECT_TRUE(DecodeRecordReply(ParamRecord::Heater, reply, records));
    EXPECT_EQ(records.heater.time, 0x4242);

    // FsConfig and System are two views of the configuration record; names and
    // places in the group list find the same groups; the environment is never written.
    EXPECT_EQ(RecordOf(ParamGroup::FsConfig), RecordOf(ParamGroup::System));
    EXPECT_EQ(GroupsOf(ParamRecord::DeviceConfig).size(), 2u);
    for (const ParamGroup group : kParamGroups) {
        EXPECT_EQ(GroupNamed(InfoOf(group).name), group);
        EXPECT_EQ(GroupAt(static_cast<int>(group)), group);
    }
    EXPECT_EQ(GroupNamed("SYSTEM"), ParamGroup::System);
    EXPECT_FALSE(GroupAt(5) || GroupNamed("config") || RecordNumbered(4));
    EXPECT_FALSE(InfoOf(ParamRecord::Environment).writeCommand);
}

// The bytes no row shows, and only those, are the ones a restore of the same
// splicer takes from its backup: never the serial number.
TEST(ParameterRecords, KeptBytesAreTheUnshownOnes) {
    const struct {
        ParamRecord record;
        std::vector<std::pair<std::size_t, std::size_t>> kept;  // offset, width
    } cases[] = {
        {ParamRecord::Splice, {{28, 4}, {50, 2}, {66, 16}}},
        {ParamRecord::Heater, {{21, 1}}},
        {ParamRecord::DeviceConfig, {{0, 1}, {6, 3}, {14, 1}, {17, 1}, {21, 1}, {26, 2}, {32, 4}}},
    };
    for (const auto& c : cases) {
        std::vector<bool> expected(InfoOf(c.record).size, false);
        for (const auto& [offset, width] : c.kept)
            std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(offset), width, true);
        EXPECT_EQ(KeptByteMask(c.record), expected) << InfoOf(c.record).name;
    }
    ParameterRecords from;
    ParameterRecords into;
    from.config.kept32 = {1, 2, 3, 4};
    from.config.serialNum.fill('S');
    from.config.fsMode = 5;
    CopyKeptBytes(ParamRecord::DeviceConfig, from, into);
    EXPECT_EQ(into.config.kept32, from.config.kept32);
    EXPECT_EQ(into.config.serialNum, FieldBytes<16>{});
    EXPECT_EQ(into.config.fsMode, 0);
}

}  // namespace
}  // namespace velmora
