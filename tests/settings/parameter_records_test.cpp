#include "settings/parameter_records.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "support/test_support.h"

namespace velmora {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    return bytes;
}

// Decoding then encoding gives back every byte, kept and ignored ones included.
TEST(ParameterRecords, EveryRecordRoundTripsByteForByte) {
    struct Case {
        const char* name;
        std::size_t size;
        std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> roundTrip;
    };
    auto via = [](auto decode, auto encode) {
        return [=](const std::vector<std::uint8_t>& in) {
            auto out = encode(decode(in));
            return std::vector<std::uint8_t>(out.begin(), out.end());
        };
    };
    const Case cases[] = {
        {"splice", kSpliceParamsSize,
         via(
             [](auto& b) {
                 return DecodeSpliceParams(std::span<const std::uint8_t, 84>(b.data(), 84));
             },
             EncodeSpliceParams)},
        {"heater", kHeaterParamsSize,
         via(
             [](auto& b) {
                 return DecodeHeaterParams(std::span<const std::uint8_t, 28>(b.data(), 28));
             },
             EncodeHeaterParams)},
        {"environment", kEnvironmentInfoSize,
         via(
             [](auto& b) {
                 return DecodeEnvironmentInfo(std::span<const std::uint8_t, 24>(b.data(), 24));
             },
             EncodeEnvironmentInfo)},
        {"config", kDeviceConfigSize,
         via(
             [](auto& b) {
                 return DecodeDeviceConfig(std::span<const std::uint8_t, 52>(b.data(), 52));
             },
             EncodeDeviceConfig)},
    };
    for (const Case& c : cases) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            const auto bytes = RandomBytes(c.size, seed);
            EXPECT_EQ(test::Hex(c.roundTrip(bytes)), test::Hex(bytes))
                << c.name << " seed " << seed;
        }
    }
}

// Fields sit at their record offsets, little-endian.
TEST(ParameterRecords, FieldsAtTheirOffsets) {
    SpliceParams s;
    s.cutAngle = 0x1234;
    s.arcLine = -1;
    s.pullingTest = 1;
    s.kept66[15] = 0x77;
    const auto splice = EncodeSpliceParams(s);
    EXPECT_EQ(splice[32], 0x34);
    EXPECT_EQ(splice[33], 0x12);
    EXPECT_EQ(splice[48], 0xFF);
    EXPECT_EQ(splice[49], 0xFF);
    EXPECT_EQ(splice[81], 0x77);
    EXPECT_EQ(splice[82], 1);

    HeaterParams h;
    h.kept21 = 0x99;
    h.time = 0x0102;
    h.endTemperature = 0x0304;
    const auto heater = EncodeHeaterParams(h);
    EXPECT_EQ(heater[21], 0x99);
    EXPECT_EQ(heater[22], 0x02);
    EXPECT_EQ(heater[23], 0x01);
    EXPECT_EQ(heater[26], 0x04);

    EnvironmentInfo e;
    e.second = 7;
    e.airPressure = 0x01020304;
    e.voltage = -2;
    const auto env = EncodeEnvironmentInfo(e);
    EXPECT_EQ(env[5], 7);
    EXPECT_EQ(test::Hex(std::span(env).subspan(12, 4)), "04 03 02 01");
    EXPECT_EQ(test::Hex(std::span(env).subspan(20, 4)), "FE FF FF FF");

    DeviceConfig c;
    c.fsMode = 3;
    c.addArcs = 200;
    c.baudRate = 2;
    c.sysTime = 0x0102;
    c.lcdTime = 300;
    c.serialNum[0] = 'A';
    const auto config = EncodeDeviceConfig(c);
    EXPECT_EQ(config[1], 3);
    EXPECT_EQ(config[16], 200);
    EXPECT_EQ(config[25], 2);
    EXPECT_EQ(config[28], 0x02);
    EXPECT_EQ(config[29], 0x01);
    EXPECT_EQ(config[30], 300 & 0xFF);
    EXPECT_EQ(config[36], 'A');
}

TEST(ParameterRecords, GroupRepliesAndWrites) {
    ParameterRecords records;
    // A reply too short for the record leaves it untouched.
    std::vector<std::uint8_t> reply(3 + kHeaterParamsSize - 1, 0x42);
    EXPECT_FALSE(DecodeGroupReply(group::Heating, reply, records));
    EXPECT_EQ(records.heater.time, 0);
    reply.push_back(0x42);
    EXPECT_TRUE(DecodeGroupReply(group::Heating, reply, records));
    EXPECT_EQ(records.heater.time, 0x4242);
    EXPECT_FALSE(DecodeGroupReply(7, reply, records));

    // Groups 3 and 4 read and write the one configuration record.
    records.config.fsMode = 4;
    records.config.lamp = 1;
    EXPECT_EQ(EncodeGroupRecord(group::FsConfig, records),
              EncodeGroupRecord(group::System, records));
    EXPECT_EQ(EncodeGroupRecord(group::System, records).size(), kDeviceConfigSize);
    EXPECT_TRUE(EncodeGroupRecord(group::Environment, records).empty());
    EXPECT_FALSE(WireOfGroup(group::Environment)->writeCommand);
    EXPECT_EQ(WireOfGroup(group::Splice)->ReadReplyLength(), 88u);
    EXPECT_EQ(WireOfGroup(group::System)->ReadReplyLength(), 56u);
    EXPECT_FALSE(WireOfGroup(-1));
}

}  // namespace
}  // namespace velmora
