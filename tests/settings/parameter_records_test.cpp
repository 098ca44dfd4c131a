#include "settings/parameter_records.h"

#include <gtest/gtest.h>

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

TEST(ParameterRecords, ShortRepliesAndSharedConfigurationRecord) {
    ParameterRecords records;
    // A reply too short for the record leaves it untouched.
    std::vector<std::uint8_t> reply(3 + kHeaterParamsSize - 1, 0x42);
    EXPECT_FALSE(DecodeGroupReply(group::Heating, reply, records));
    EXPECT_EQ(records.heater.time, 0);
    reply.push_back(0x42);
    EXPECT_TRUE(DecodeGroupReply(group::Heating, reply, records));
    EXPECT_EQ(records.heater.time, 0x4242);
    EXPECT_FALSE(DecodeGroupReply(7, reply, records));

    // Groups 3 and 4 write the one configuration record; the environment nothing.
    records.config.fsMode = 4;
    EXPECT_EQ(EncodeGroupRecord(group::FsConfig, records),
              EncodeGroupRecord(group::System, records));
    EXPECT_TRUE(EncodeGroupRecord(group::Environment, records).empty());
}

}  // namespace
}  // namespace velmora
