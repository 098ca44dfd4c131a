// The virtual splicer's record layout and the program's were written apart, so
// that a field either side puts at a wrong offset, with a wrong width or in a
// wrong byte order shows here: every byte of a record differs from the others,
// and each field the program reads must hold the bytes the splicer's layout
// puts there.
#include "sim/parameter_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "settings/parameter_records.h"

namespace velmora::sim {
namespace {

// A record whose bytes all differ: 1, 2, 3...
template <std::size_t N>
std::array<std::uint8_t, N> Distinct() {
    std::array<std::uint8_t, N> record;
    for (std::size_t i = 0; i < N; ++i) record[i] = static_cast<std::uint8_t>(i + 1);
    return record;
}

// What the splicer's layout says `field` of a Distinct record holds.
std::string Bytes(Field field) {
    std::string bytes;
    for (std::size_t i = 0; i < field.width; ++i) bytes += static_cast<char>(field.offset + i + 1);
    return bytes;
}

// What the program read, as bytes: a byte field as it is, a number low byte first.
template <std::size_t N>
std::string Bytes(const std::array<std::uint8_t, N>& field) {
    return {field.begin(), field.end()};
}
template <typename T>
requires std::is_integral_v<T> std::string Bytes(T number) {
    std::string bytes;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes += static_cast<char>(static_cast<std::make_unsigned_t<T>>(number) >> (8 * i));
    return bytes;
}

template <typename... T>
std::vector<std::string> Read(const T&... fields) {
    return {Bytes(fields)...};
}

void ExpectReads(const std::vector<std::string>& read, const std::vector<Field>& fields) {
    ASSERT_EQ(read.size(), fields.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(read[i], Bytes(fields[i])) << "the field at " << fields[i].offset;
}

TEST(ParameterLayout, TheProgramReadsEveryFieldWhereTheSplicerPutsIt) {
    {
        using namespace splice;
        const SpliceParams p = DecodeSpliceParams(Distinct<kSize>());
        ExpectReads(Read(p.fiberType, p.name1, p.name2, p.kept28, p.cutAngle, p.lossLimit,
                         p.arcValue, p.arcTime, p.clearArcTime, p.addArcTime, p.alignType,
                         p.alignSpace, p.arcLine, p.kept50, p.preArc, p.preTime, p.overLen,
                         p.arc2Power, p.arc2Time, p.arc2On, p.arc2Off, p.kept66, p.pullingTest),
                    {FiberType, Name1,   Name2,        Spare28,    CutAngle,   LossLimit,
                     ArcValue,  ArcTime, ClearArcTime, AddArcTime, AlignType,  AlignSpace,
                     ArcLine,   Spare50, PreArc,       PreTime,    OverLen,    Arc2Power,
                     Arc2Time,  Arc2On,  Arc2Off,      Spare66,    PullingTest});
    }
    {
        using namespace heater;
        const HeaterParams p = DecodeHeaterParams(Distinct<kSize>());
        ExpectReads(
            Read(p.heatType, p.name1, p.name2, p.kept21, p.time, p.temperature, p.endTemperature),
            {HeatType, Name1, Name2, Spare21, Time, Temperature, EndTemperature});
    }
    {
        using namespace environment;
        const EnvironmentInfo p = DecodeEnvironmentInfo(Distinct<kSize>());
        ExpectReads(
            Read(p.year, p.month, p.day, p.hour, p.minute, p.second, p.insideTemperature,
                 p.airPressure, p.voltage),
            {Year, Month, Day, Hour, Minute, Second, InsideTemperature, AirPressure, Voltage});
    }
    {
        using namespace config;
        const DeviceConfig p = DecodeDeviceConfig(Distinct<kSize>());
        ExpectReads(
            Read(p.kept0, p.fsMode, p.htMode, p.autostart, p.pause1En, p.pause2En, p.kept6, p.angle,
                 p.loss, p.bubble, p.wide, p.thin, p.kept14, p.autopush, p.addArcs, p.kept17,
                 p.language, p.lcdDir, p.lcdBright, p.kept21, p.beep, p.lamp, p.fan, p.baudRate,
                 p.kept26, p.sysTime, p.lcdTime, p.kept32, p.serialNum),
            {Spare0,   FsMode,  HtMode,    Autostart, Pause1,      Pause2,   Spare6,  Angle,
             Loss,     Bubble,  Wide,      Thin,      Spare14,     Autopush, AddArcs, Spare17,
             Language, LcdDir,  LcdBright, Spare21,   Beep,        Lamp,     Fan,     BaudRate,
             Spare26,  SysTime, LcdTime,   Spare32,   SerialNumber});
    }
}

}  // namespace
}  // namespace velmora::sim
