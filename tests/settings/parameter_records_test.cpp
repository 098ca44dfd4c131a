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

// Fields sit at their offsets, little-endian: a round trip cannot see a field
// misplaced alike in both directions.
TEST(ParameterRecords, FieldsAtTheirOffsets) {
    SpliceParams s;
    s.cutAngle = 0x1234, s.arcLine = -1, s.kept66[15] = 0x77, s.pullingTest = 1;
    HeaterParams h;
    h.kept21 = 0x99, h.time = 0x0102, h.endTemperature = 0x0304;
    EnvironmentInfo e;
    e.second = 7, e.airPressure = 0x01020304, e.voltage = -2;
    DeviceConfig c;
    c.fsMode = 3, c.addArcs = 200, c.baudRate = 2, c.sysTime = 0x0102, c.lcdTime = 300;
    c.serialNum[0] = 'A';
    const auto splice = EncodeSpliceParams(s);
    const auto heater = EncodeHeaterParams(h);
    const auto env = EncodeEnvironmentInfo(e);
    const auto config = EncodeDeviceConfig(c);
    const struct {
        std::span<const std::uint8_t> record;
        std::size_t offset;
        std::string hex;
    } probes[] = {
        {splice, 32, "34 12"},    {splice, 48, "FF FF"},    {splice, 81, "77 01 00"},
        {heater, 21, "99 02 01"}, {heater, 26, "04 03"},    {env, 5, "07"},
        {env, 12, "04 03 02 01"}, {env, 20, "FE FF FF FF"}, {config, 1, "03"},
        {config, 16, "C8"},       {config, 25, "02"},       {config, 28, "02 01 2C 01"},
        {config, 36, "41"},
    };
    for (const auto& p : probes)
        EXPECT_EQ(Hex(p.record.subspan(p.offset, (p.hex.size() + 1) / 3)), p.hex) << p.offset;
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
