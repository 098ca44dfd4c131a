#include "settings/parameter_records.h"

#include <algorithm>
#include <cctype>
#include <type_traits>

#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

// Each record's layout is written once (the *Layout functions below) and walked
// by a reader to decode or by a writer to encode. All numbers are little-endian;
// this is the one place that knows it.
class RecordReader {
  public:
    explicit RecordReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    template <typename T>
    requires std::is_integral_v<T>
    void operator()(T& value) {
        std::make_unsigned_t<T> raw = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            raw |= static_cast<std::make_unsigned_t<T>>(Next()) << (8 * i);
        value = static_cast<T>(raw);
    }
    template <std::size_t N>
    void operator()(FieldBytes<N>& field) {
        for (std::uint8_t& b : field) b = Next();
    }
    template <typename Field>
    void Kept(Field& field) {
        (*this)(field);
    }

  private:
    std::uint8_t Next() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

class RecordWriter {
  public:
    explicit RecordWriter(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

    template <typename T>
    requires std::is_integral_v<T>
    void operator()(const T& value) {
        auto raw = static_cast<std::make_unsigned_t<T>>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) Put(static_cast<std::uint8_t>(raw >> (8 * i)));
    }
    template <std::size_t N>
    void operator()(const FieldBytes<N>& field) {
        for (std::uint8_t b : field) Put(b);
    }
    template <typename Field>
    void Kept(const Field& field) {
        (*this)(field);
    }

  private:
    void Put(std::uint8_t b) {
        if (at_ < bytes_.size()) bytes_[at_++] = b;
    }
    std::span<std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// Marks the bytes of the fields no row shows (io.Kept in the layouts below).
class KeptMask {
  public:
    template <typename T>
    requires std::is_integral_v<T>
    void operator()(const T&) { mask_.insert(mask_.end(), sizeof(T), false); }
    template <std::size_t N>
    void operator()(const FieldBytes<N>&) {
        mask_.insert(mask_.end(), N, false);
    }
    template <typename Field>
    void Kept(const Field& field) {
        const std::size_t from = mask_.size();
        (*this)(field);
        std::fill(mask_.begin() + static_cast<std::ptrdiff_t>(from), mask_.end(), true);
    }
    const std::vector<bool>& Mask() const { return mask_; }

  private:
    std::vector<bool> mask_;
};

template <typename Io, typename Record>
void SpliceLayout(Io& io, Record& r) {
    io(r.fiberType), io(r.name1), io(r.name2), io.Kept(r.kept28);
    io(r.cutAngle), io(r.lossLimit), io(r.arcValue), io(r.arcTime), io(r.clearArcTime);
    io(r.addArcTime), io(r.alignType), io(r.alignSpace), io(r.arcLine), io.Kept(r.kept50);
    io(r.preArc), io(r.preTime), io(r.overLen), io(r.arc2Power), io(r.arc2Time);
    io(r.arc2On), io(r.arc2Off), io.Kept(r.kept66), io(r.pullingTest);
}

template <typename Io, typename Record>
void HeaterLayout(Io& io, Record& r) {
    io(r.heatType), io(r.name1), io(r.name2), io.Kept(r.kept21);
    io(r.time), io(r.temperature), io(r.endTemperature);
}

template <typename Io, typename Record>
void EnvironmentLayout(Io& io, Record& r) {
    io(r.year), io(r.month), io(r.day), io(r.hour), io(r.minute), io(r.second);
    io(r.ignored6), io(r.insideTemperature), io(r.airPressure), io(r.ignored16), io(r.voltage);
}

template <typename Io, typename Record>
void ConfigLayout(Io& io, Record& r) {
    io.Kept(r.kept0), io(r.fsMode), io(r.htMode), io(r.autostart), io(r.pause1En), io(r.pause2En);
    io.Kept(r.kept6), io(r.angle), io(r.loss), io(r.bubble), io(r.wide), io(r.thin),
        io.Kept(r.kept14);
    io(r.autopush), io(r.addArcs), io.Kept(r.kept17), io(r.language), io(r.lcdDir), io(r.lcdBright);
    io.Kept(r.kept21), io(r.beep), io(r.lamp), io(r.fan), io(r.baudRate), io.Kept(r.kept26);
    io(r.sysTime), io(r.lcdTime), io.Kept(r.kept32), io(r.serialNum);
}

template <typename Record, std::size_t N, typename Layout>
Record Decode(std::span<const std::uint8_t, N> bytes, Layout layout) {
    Record record;
    RecordReader reader(bytes);
    layout(reader, record);
    return record;
}

template <std::size_t N, typename Record, typename Layout>
FieldBytes<N> Encode(const Record& record, Layout layout) {
    FieldBytes<N> bytes{};
    RecordWriter writer(bytes);
    layout(writer, record);
    return bytes;
}

}  // namespace

SpliceParams DecodeSpliceParams(std::span<const std::uint8_t, kSpliceParamsSize> bytes) {
    return Decode<SpliceParams>(bytes, [](auto& io, auto& r) { SpliceLayout(io, r); });
}
FieldBytes<kSpliceParamsSize> EncodeSpliceParams(const SpliceParams& record) {
    return Encode<kSpliceParamsSize>(record, [](auto& io, auto& r) { SpliceLayout(io, r); });
}
HeaterParams DecodeHeaterParams(std::span<const std::uint8_t, kHeaterParamsSize> bytes) {
    return Decode<HeaterParams>(bytes, [](auto& io, auto& r) { HeaterLayout(io, r); });
}
FieldBytes<kHeaterParamsSize> EncodeHeaterParams(const HeaterParams& record) {
    return Encode<kHeaterParamsSize>(record, [](auto& io, auto& r) { HeaterLayout(io, r); });
}
EnvironmentInfo DecodeEnvironmentInfo(std::span<const std::uint8_t, kEnvironmentInfoSize> bytes) {
    return Decode<EnvironmentInfo>(bytes, [](auto& io, auto& r) { EnvironmentLayout(io, r); });
}
FieldBytes<kEnvironmentInfoSize> EncodeEnvironmentInfo(const EnvironmentInfo& record) {
    return Encode<kEnvironmentInfoSize>(record,
                                        [](auto& io, auto& r) { EnvironmentLayout(io, r); });
}
DeviceConfig DecodeDeviceConfig(std::span<const std::uint8_t, kDeviceConfigSize> bytes) {
    return Decode<DeviceConfig>(bytes, [](auto& io, auto& r) { ConfigLayout(io, r); });
}
FieldBytes<kDeviceConfigSize> EncodeDeviceConfig(const DeviceConfig& record) {
    return Encode<kDeviceConfigSize>(record, [](auto& io, auto& r) { ConfigLayout(io, r); });
}

namespace {

constexpr std::array<RecordInfo, kParamRecords.size()> kRecords{{
    {ParamRecord::Splice, kSpliceParamsSize, cmd::ReadSplice, cmd::WriteSplice, "splice"},
    {ParamRecord::Heater, kHeaterParamsSize, cmd::ReadHeater, cmd::WriteHeater, "heating"},
    {ParamRecord::Environment, kEnvironmentInfoSize, cmd::ReadEnvironment, std::nullopt,
     "environment"},
    {ParamRecord::DeviceConfig, kDeviceConfigSize, cmd::ReadConfig, cmd::WriteConfig, "config"},
}};

constexpr std::array<GroupInfo, kParamGroups.size()> kGroups{{
    {ParamGroup::Splice, ParamRecord::Splice, 20, "splice"},
    {ParamGroup::Heating, ParamRecord::Heater, 6, "heating"},
    {ParamGroup::Environment, ParamRecord::Environment, 4, "environment"},
    {ParamGroup::FsConfig, ParamRecord::DeviceConfig, 12, "fsconfig"},
    {ParamGroup::System, ParamRecord::DeviceConfig, 10, "system"},
}};

// Each table is indexed by its enum: an entry out of place, or one missing, does not compile.
constexpr bool InOrder() {
    for (std::size_t i = 0; i < kRecords.size(); ++i)
        if (static_cast<std::size_t>(kRecords[i].record) != i) return false;
    for (std::size_t i = 0; i < kGroups.size(); ++i)
        if (static_cast<std::size_t>(kGroups[i].group) != i) return false;
    return true;
}
static_assert(InOrder());

constexpr ParamGroup kSpliceGroups[] = {ParamGroup::Splice};
constexpr ParamGroup kHeaterGroups[] = {ParamGroup::Heating};
constexpr ParamGroup kEnvironmentGroups[] = {ParamGroup::Environment};
constexpr ParamGroup kConfigGroups[] = {ParamGroup::FsConfig, ParamGroup::System};

template <std::size_t N, typename Record, typename Decode>
void Put(std::span<const std::uint8_t> bytes, Record& into, Decode decode) {
    into = decode(bytes.first<N>());
}

template <typename Record, typename Layout>
std::vector<bool> MaskOf(Layout layout) {
    KeptMask mask;
    const Record record{};
    layout(mask, record);
    return mask.Mask();
}

}  // namespace

std::vector<bool> KeptByteMask(ParamRecord record) {
    switch (record) {
        case ParamRecord::Splice:
            return MaskOf<SpliceParams>([](auto& io, auto& r) { SpliceLayout(io, r); });
        case ParamRecord::Heater:
            return MaskOf<HeaterParams>([](auto& io, auto& r) { HeaterLayout(io, r); });
        case ParamRecord::Environment:
            return MaskOf<EnvironmentInfo>([](auto& io, auto& r) { EnvironmentLayout(io, r); });
        case ParamRecord::DeviceConfig:
            return MaskOf<DeviceConfig>([](auto& io, auto& r) { ConfigLayout(io, r); });
    }
    return {};
}

void CopyKeptBytes(ParamRecord record, const ParameterRecords& from, ParameterRecords& into) {
    const std::vector<bool> kept = KeptByteMask(record);
    const std::vector<std::uint8_t> source = EncodeRecord(record, from);
    std::vector<std::uint8_t> bytes = EncodeRecord(record, into);
    for (std::size_t i = 0; i < bytes.size() && i < kept.size(); ++i)
        if (kept[i]) bytes[i] = source[i];
    DecodeRecord(record, bytes, into);
}

const RecordInfo& InfoOf(ParamRecord record) {
    return kRecords.at(static_cast<std::size_t>(record));
}

const GroupInfo& InfoOf(ParamGroup group) {
    return kGroups.at(static_cast<std::size_t>(group));
}

std::span<const ParamGroup> GroupsOf(ParamRecord record) {
    switch (record) {
        case ParamRecord::Splice:
            return kSpliceGroups;
        case ParamRecord::Heater:
            return kHeaterGroups;
        case ParamRecord::Environment:
            return kEnvironmentGroups;
        case ParamRecord::DeviceConfig:
            return kConfigGroups;
    }
    return {};
}

std::optional<ParamGroup> GroupAt(int index) {
    if (index < 0 || index >= static_cast<int>(kGroups.size())) return std::nullopt;
    return kGroups[static_cast<std::size_t>(index)].group;
}

std::optional<ParamGroup> GroupNamed(std::string_view name) {
    for (const GroupInfo& info : kGroups)
        if (std::ranges::equal(info.name, name, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return info.group;
    return std::nullopt;
}

std::optional<ParamRecord> RecordNumbered(int number) {
    if (number < 0 || number >= static_cast<int>(kRecords.size())) return std::nullopt;
    return kRecords[static_cast<std::size_t>(number)].record;
}

bool DecodeRecord(ParamRecord record, std::span<const std::uint8_t> bytes,
                  ParameterRecords& records) {
    if (bytes.size() != InfoOf(record).size) return false;
    switch (record) {
        case ParamRecord::Splice:
            Put<kSpliceParamsSize>(bytes, records.splice, DecodeSpliceParams);
            break;
        case ParamRecord::Heater:
            Put<kHeaterParamsSize>(bytes, records.heater, DecodeHeaterParams);
            break;
        case ParamRecord::Environment:
            Put<kEnvironmentInfoSize>(bytes, records.environment, DecodeEnvironmentInfo);
            break;
        case ParamRecord::DeviceConfig:
            Put<kDeviceConfigSize>(bytes, records.config, DecodeDeviceConfig);
            break;
    }
    return true;
}

bool DecodeRecordReply(ParamRecord record, std::span<const std::uint8_t> reply,
                       ParameterRecords& records) {
    const std::size_t size = InfoOf(record).size;
    if (reply.size() < kParamDataOffset + size) return false;
    return DecodeRecord(record, reply.subspan(kParamDataOffset, size), records);
}

std::vector<std::uint8_t> EncodeRecord(ParamRecord record, const ParameterRecords& records) {
    auto asVector = [](const auto& bytes) {
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    };
    switch (record) {
        case ParamRecord::Splice:
            return asVector(EncodeSpliceParams(records.splice));
        case ParamRecord::Heater:
            return asVector(EncodeHeaterParams(records.heater));
        case ParamRecord::Environment:
            return asVector(EncodeEnvironmentInfo(records.environment));
        case ParamRecord::DeviceConfig:
            return asVector(EncodeDeviceConfig(records.config));
    }
    return {};
}

}  // namespace velmora
