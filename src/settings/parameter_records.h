#pragma once
// The splicer's four parameter records, byte for byte as they cross the line,
// and the five groups the Setting page shows them as. Bytes the program never
// shows are kept in the records so that a write sends them back as they were read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr std::size_t kSpliceParamsSize = 84;
inline constexpr std::size_t kHeaterParamsSize = 28;
inline constexpr std::size_t kEnvironmentInfoSize = 24;
inline constexpr std::size_t kDeviceConfigSize = 52;

// A reply frame puts the record's first byte here (start, command, length before it).
inline constexpr std::size_t kParamDataOffset = 3;

template <std::size_t N>
using FieldBytes = std::array<std::uint8_t, N>;

// Group 0: one splice program.
struct SpliceParams {
    std::uint16_t fiberType = 0;  // 1 to 9: ProgramNames entry value - 1
    FieldBytes<10> name1{};
    FieldBytes<16> name2{};
    FieldBytes<4> kept28{};
    std::uint16_t cutAngle = 0;   // tenths of a degree
    std::uint16_t lossLimit = 0;  // hundredths of a dB
    std::uint16_t arcValue = 0;
    std::uint16_t arcTime = 0;  // ms
    std::uint16_t clearArcTime = 0;
    std::uint16_t addArcTime = 0;
    std::uint16_t alignType = 0;  // AlignModeNames entry
    std::uint16_t alignSpace = 0;
    std::int16_t arcLine = 0;
    FieldBytes<2> kept50{};
    std::uint16_t preArc = 0;
    std::uint16_t preTime = 0;
    std::uint16_t overLen = 0;
    std::uint16_t arc2Power = 0;
    std::uint16_t arc2Time = 0;
    std::uint16_t arc2On = 0;
    std::uint16_t arc2Off = 0;
    FieldBytes<16> kept66{};
    std::uint16_t pullingTest = 0;  // OnOffNames entry: 0 On, 1 Off
};

// Group 1: one heater program.
struct HeaterParams {
    std::uint8_t heatType = 0;  // 1 to 8: HeaterNames entry value - 1; 0 shows nothing
    FieldBytes<6> name1{};
    FieldBytes<14> name2{};
    std::uint8_t kept21 = 0;
    std::uint16_t time = 0;            // s
    std::uint16_t temperature = 0;     // whole degrees Celsius
    std::uint16_t endTemperature = 0;  // whole degrees Celsius
};

// Group 2: readings, never written.
struct EnvironmentInfo {
    std::uint8_t year = 0;  // year - 2000
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    FieldBytes<2> ignored6{};
    std::int32_t insideTemperature = 0;  // tenths of a degree Celsius
    std::int32_t airPressure = 0;        // Pa
    FieldBytes<4> ignored16{};
    std::int32_t voltage = 0;  // tenths of a volt
};

// Groups 3 (FsConfig) and 4 (System): two views of this one record.
struct DeviceConfig {
    std::uint8_t kept0 = 0;
    std::uint8_t fsMode = 0;  // ProgramNames entry value
    std::uint8_t htMode = 0;  // HeaterNames entry value - 1
    std::uint8_t autostart = 0;
    std::uint8_t pause1En = 0;
    std::uint8_t pause2En = 0;
    FieldBytes<3> kept6{};
    std::uint8_t angle = 0;
    std::uint8_t loss = 0;
    std::uint8_t bubble = 0;
    std::uint8_t wide = 0;
    std::uint8_t thin = 0;
    std::uint8_t kept14 = 0;
    std::uint8_t autopush = 0;
    std::uint8_t addArcs = 0;
    std::uint8_t kept17 = 0;
    std::uint8_t language = 0;
    std::uint8_t lcdDir = 0;
    std::uint8_t lcdBright = 0;
    std::uint8_t kept21 = 0;
    std::uint8_t beep = 0;
    std::uint8_t lamp = 0;
    std::uint8_t fan = 0;
    std::uint8_t baudRate = 0;
    FieldBytes<2> kept26{};
    std::uint16_t sysTime = 0;  // minutes; 0 always on
    std::uint16_t lcdTime = 0;  // seconds; 0 always on
    FieldBytes<4> kept32{};
    FieldBytes<16> serialNum{};
};

SpliceParams DecodeSpliceParams(std::span<const std::uint8_t, kSpliceParamsSize> bytes);
FieldBytes<kSpliceParamsSize> EncodeSpliceParams(const SpliceParams& record);
HeaterParams DecodeHeaterParams(std::span<const std::uint8_t, kHeaterParamsSize> bytes);
FieldBytes<kHeaterParamsSize> EncodeHeaterParams(const HeaterParams& record);
EnvironmentInfo DecodeEnvironmentInfo(std::span<const std::uint8_t, kEnvironmentInfoSize> bytes);
FieldBytes<kEnvironmentInfoSize> EncodeEnvironmentInfo(const EnvironmentInfo& record);
DeviceConfig DecodeDeviceConfig(std::span<const std::uint8_t, kDeviceConfigSize> bytes);
FieldBytes<kDeviceConfigSize> EncodeDeviceConfig(const DeviceConfig& record);

// The four records as the page (or the command-line tool) holds them.
struct ParameterRecords {
    SpliceParams splice;
    HeaterParams heater;
    EnvironmentInfo environment;
    DeviceConfig config;
};

// The four records, numbered as archives and backups store them: never renumber.
enum class ParamRecord { Splice = 0, Heater = 1, Environment = 2, DeviceConfig = 3 };
// The five groups, numbered by their place in the Setting page's group list.
enum class ParamGroup { Splice = 0, Heating = 1, Environment = 2, FsConfig = 3, System = 4 };

inline constexpr std::array<ParamRecord, 4> kParamRecords{
    ParamRecord::Splice, ParamRecord::Heater, ParamRecord::Environment, ParamRecord::DeviceConfig};
inline constexpr std::array<ParamGroup, 5> kParamGroups{ParamGroup::Splice, ParamGroup::Heating,
                                                        ParamGroup::Environment,
                                                        ParamGroup::FsConfig, ParamGroup::System};

// How one record travels and how backups name it.
struct RecordInfo {
    ParamRecord record;
    std::size_t size;
    std::uint8_t readCommand;
    std::optional<std::uint8_t> writeCommand;  // none for the environment: it is never written
    std::string_view name;                     // in backups and velmora-cli: "splice"...
    // Reply length of the read request: the record in its envelope.
    std::size_t ReadReplyLength() const { return size + 4; }
};

// One group: the record it shows and how many rows it shows it as.
struct GroupInfo {
    ParamGroup group;
    ParamRecord record;
    int rowCount;
    std::string_view name;  // velmora-cli's name: "splice", "heating", ...
};

const RecordInfo& InfoOf(ParamRecord record);
const GroupInfo& InfoOf(ParamGroup group);
inline ParamRecord RecordOf(ParamGroup group) {
    return InfoOf(group).record;
}
// The groups that show `record`, in list order (FsConfig and System share one).
std::span<const ParamGroup> GroupsOf(ParamRecord record);
// The group at a place of the group list, or by velmora-cli's name (any letter case).
std::optional<ParamGroup> GroupAt(int index);
std::optional<ParamGroup> GroupNamed(std::string_view name);
// A stored record number (archives, backups); nothing for a number no record has.
std::optional<ParamRecord> RecordNumbered(int number);

// Copies a read reply's data bytes into the record. False (record untouched) when
// the reply is too short to hold it.
bool DecodeRecordReply(ParamRecord record, std::span<const std::uint8_t> reply,
                       ParameterRecords& records);
// Puts `bytes` into the record; false (record untouched) when they are not its size.
bool DecodeRecord(ParamRecord record, std::span<const std::uint8_t> bytes,
                  ParameterRecords& records);
// The record's bytes as a write sends them (and a backup keeps them).
std::vector<std::uint8_t> EncodeRecord(ParamRecord record, const ParameterRecords& records);

// Per byte of the record: true where no row shows it (the bytes a write sends back
// as they were read). The serial number is shown (read-only), so it is never among them.
std::vector<bool> KeptByteMask(ParamRecord record);
// Copies those bytes of `record` from `from` into `into`, leaving every shown field of `into`.
void CopyKeptBytes(ParamRecord record, const ParameterRecords& from, ParameterRecords& into);

}  // namespace velmora
