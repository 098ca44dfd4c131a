#include "settings/parameter_records.h"

#include <algorithm>
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

  private:
    void Put(std::uint8_t b) {
        if (at_ < bytes_.size()) bytes_[at_++] = b;
    }
    std::span<std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

template <typename Io, typename Record>
void SpliceLayout(Io& io, Record& r) {
    io(r.fiberType), io(r.name1), io(r.name2), io(r.kept28);
    io(r.cutAngle), io(r.lossLimit), io(r.arcValue), io(r.arcTime), io(r.clearArcTime);
    io(r.addArcTime), io(r.alignType), io(r.alignSpace), io(r.arcLine), io(r.kept50);
    io(r.preArc), io(r.preTime), io(r.overLen), io(r.arc2Power), io(r.arc2Time);
    io(r.arc2On), io(r.arc2Off), io(r.kept66), io(r.pullingTest);
}

template <typename Io, typename Record>
void HeaterLayout(Io& io, Record& r) {
    io(r.heatType), io(r.name1), io(r.name2), io(r.kept21);
    io(r.time), io(r.temperature), io(r.endTemperature);
}

template <typename Io, typename Record>
void EnvironmentLayout(Io& io, Record& r) {
    io(r.year), io(r.month), io(r.day), io(r.hour), io(r.minute), io(r.second);
    io(r.ignored6), io(r.insideTemperature), io(r.airPressure), io(r.ignored16), io(r.voltage);
}

template <typename Io, typename Record>
void ConfigLayout(Io& io, Record& r) {
    io(r.kept0), io(r.fsMode), io(r.htMode), io(r.autostart), io(r.pause1En), io(r.pause2En);
    io(r.kept6), io(r.angle), io(r.loss), io(r.bubble), io(r.wide), io(r.thin), io(r.kept14);
    io(r.autopush), io(r.addArcs), io(r.kept17), io(r.language), io(r.lcdDir), io(r.lcdBright);
    io(r.kept21), io(r.beep), io(r.lamp), io(r.fan), io(r.baudRate), io(r.kept26);
    io(r.sysTime), io(r.lcdTime), io(r.kept32), io(r.serialNum);
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

std::optional<GroupWire> WireOfGroup(int group) {
    switch (group) {
        case group::Splice:
            return GroupWire{0, cmd::ReadSplice, cmd::WriteSplice, kSpliceParamsSize, 20};
        case group::Heating:
            return GroupWire{1, cmd::ReadHeater, cmd::WriteHeater, kHeaterParamsSize, 6};
        case group::Environment:
            return GroupWire{2, cmd::ReadEnvironment, std::nullopt, kEnvironmentInfoSize, 4};
        case group::FsConfig:
            return GroupWire{3, cmd::ReadConfig, cmd::WriteConfig, kDeviceConfigSize, 12};
        case group::System:
            return GroupWire{3, cmd::ReadConfig, cmd::WriteConfig, kDeviceConfigSize, 10};
        default:
            return std::nullopt;
    }
}

bool DecodeGroupReply(int group, std::span<const std::uint8_t> reply, ParameterRecords& records) {
    const std::optional<GroupWire> wire = WireOfGroup(group);
    if (!wire || reply.size() < kParamDataOffset + wire->recordSize) return false;
    const std::span<const std::uint8_t> data = reply.subspan(kParamDataOffset);
    switch (wire->record) {
        case 0:
            records.splice = DecodeSpliceParams(data.first<kSpliceParamsSize>());
            break;
        case 1:
            records.heater = DecodeHeaterParams(data.first<kHeaterParamsSize>());
            break;
        case 2:
            records.environment = DecodeEnvironmentInfo(data.first<kEnvironmentInfoSize>());
            break;
        default:
            records.config = DecodeDeviceConfig(data.first<kDeviceConfigSize>());
            break;
    }
    return true;
}

std::vector<std::uint8_t> EncodeGroupRecord(int group, const ParameterRecords& records) {
    auto asVector = [](const auto& bytes) {
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    };
    switch (group) {
        case group::Splice:
            return asVector(EncodeSpliceParams(records.splice));
        case group::Heating:
            return asVector(EncodeHeaterParams(records.heater));
        case group::FsConfig:
        case group::System:
            return asVector(EncodeDeviceConfig(records.config));
        default:
            return {};
    }
}

}  // namespace velmora
