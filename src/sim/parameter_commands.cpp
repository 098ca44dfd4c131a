#include "sim/parameter_commands.h"

#include <algorithm>
#include <ctime>

#include "base/local_time.h"
#include "sim/splicer_frames.h"

namespace velmora::sim {
namespace {

// A parameter the splicer cannot take or does not have is refused this way.
std::vector<std::uint8_t> Refuse() {
    return RefuseFrame(kAcceptedByte);
}

// A single-mode program on standard fibre, with some bytes the PC never looks at.
RecordBytes<splice::kSize> DefaultSplice() {
    using namespace splice;
    RecordBytes<kSize> r{};
    PutNumber(r, FiberType, 2);  // SM AUTO
    PutText(r, Name1, "SM G652");
    PutText(r, Name2, "Standard SM");
    PutBytes(r, Spare28, {0x5A, 0x01, 0x00, 0x03});
    PutNumber(r, CutAngle, 30);   // 3.0 degrees
    PutNumber(r, LossLimit, 10);  // 0.10 dB
    PutNumber(r, ArcValue, 130);
    PutNumber(r, ArcTime, 1500);
    PutNumber(r, ClearArcTime, 150);
    PutNumber(r, AddArcTime, 500);
    PutNumber(r, AlignType, 1);  // core
    PutNumber(r, AlignSpace, 15);
    PutNumber(r, ArcLine, -5);
    PutBytes(r, Spare50, {0x02, 0x80});
    PutNumber(r, PreArc, 40);
    PutNumber(r, PreTime, 180);
    PutNumber(r, OverLen, 12);
    PutNumber(r, Arc2Power, 60);
    PutNumber(r, Arc2Time, 2000);
    PutNumber(r, Arc2On, 80);
    PutNumber(r, Arc2Off, 40);
    for (std::size_t i = 0; i < Spare66.width; ++i)
        r[Spare66.offset + i] = static_cast<std::uint8_t>(0xA0 + i);
    PutNumber(r, PullingTest, 0);  // on
    return r;
}

RecordBytes<heater::kSize> DefaultHeater() {
    using namespace heater;
    RecordBytes<kSize> r{};
    PutNumber(r, HeatType, 1);  // 60mmS
    PutText(r, Name1, "60mm");
    PutText(r, Name2, "Standard 60mm");
    PutBytes(r, Spare21, {0x11});
    PutNumber(r, Time, 30);
    PutNumber(r, Temperature, 170);
    PutNumber(r, EndTemperature, 60);
    return r;
}

RecordBytes<environment::kSize> DefaultEnvironment() {
    using namespace environment;
    RecordBytes<kSize> r{};
    PutNumber(r, InsideTemperature, 253);  // 25.3 degrees
    PutNumber(r, AirPressure, 101325);     // Pa
    PutNumber(r, Voltage, 118);            // 11.8 V
    return r;
}

RecordBytes<config::kSize> DefaultConfig() {
    using namespace config;
    RecordBytes<kSize> r{};
    PutBytes(r, Spare0, {0x01});
    PutNumber(r, FsMode, 0);  // AUTO
    PutNumber(r, HtMode, 1);  // 60mmS
    PutNumber(r, Autostart, 1);
    PutNumber(r, Pause1, 0);
    PutNumber(r, Pause2, 1);
    PutBytes(r, Spare6, {0x10, 0x20, 0x30});
    for (const Field f : {Angle, Loss, Bubble}) PutNumber(r, f, 1);
    for (const Field f : {Wide, Thin}) PutNumber(r, f, 0);
    PutBytes(r, Spare14, {0x07});
    PutNumber(r, Autopush, 1);
    PutNumber(r, AddArcs, 10);
    PutNumber(r, Language, 1);  // English
    PutNumber(r, LcdDir, 0);
    PutNumber(r, LcdBright, 5);
    PutNumber(r, Beep, 1);
    PutNumber(r, Lamp, 1);
    PutNumber(r, Fan, 0);
    PutNumber(r, BaudRate, 0);  // 115200
    PutNumber(r, SysTime, 6);   // minutes
    PutNumber(r, LcdTime, 60);  // seconds
    PutBytes(r, Spare32, {0xDE, 0xAD, 0xBE, 0xEF});
    PutText(r, SerialNumber, kSimSerialNumber);
    return r;
}

}  // namespace

ParameterStore::ParameterStore()
    : splice_(DefaultSplice()),
      heater_(DefaultHeater()),
      environment_(DefaultEnvironment()),
      config_(DefaultConfig()) {}

RecordBytes<splice::kSize> ParameterStore::Splice() const {
    std::lock_guard lock(mutex_);
    return splice_;
}
RecordBytes<heater::kSize> ParameterStore::Heater() const {
    std::lock_guard lock(mutex_);
    return heater_;
}
RecordBytes<config::kSize> ParameterStore::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}
void ParameterStore::SetSplice(const RecordBytes<splice::kSize>& bytes) {
    std::lock_guard lock(mutex_);
    splice_ = bytes;
}
void ParameterStore::SetHeater(const RecordBytes<heater::kSize>& bytes) {
    std::lock_guard lock(mutex_);
    heater_ = bytes;
}
void ParameterStore::SetEnvironment(const RecordBytes<environment::kSize>& bytes) {
    std::lock_guard lock(mutex_);
    environment_ = bytes;
}
void ParameterStore::SetConfig(const RecordBytes<config::kSize>& bytes) {
    std::lock_guard lock(mutex_);
    config_ = bytes;
}
void ParameterStore::FreezeEnvironment(bool frozen) {
    std::lock_guard lock(mutex_);
    environmentFrozen_ = frozen;
}

// The clock of the host and readings that wander a little around their base.
RecordBytes<environment::kSize> ParameterStore::NextEnvironment() {
    if (environmentFrozen_) return environment_;
    using namespace environment;
    RecordBytes<kSize>& r = environment_;
    const std::tm local = LocalTime(std::time(nullptr));
    PutNumber(r, Year, std::clamp(local.tm_year + 1900 - 2000, 0, 255));
    PutNumber(r, Month, local.tm_mon + 1);
    PutNumber(r, Day, local.tm_mday);
    PutNumber(r, Hour, local.tm_hour);
    PutNumber(r, Minute, local.tm_min);
    PutNumber(r, Second, local.tm_sec);
    ++readings_;
    const int wobble[] = {0, 1, 2, 1, 0, -1, -2, -1};
    PutNumber(r, InsideTemperature, 253 + wobble[readings_ % 8]);
    PutNumber(r, AirPressure, 101325 + 3 * wobble[(readings_ + 3) % 8]);
    PutNumber(r, Voltage, 118 + wobble[(readings_ + 5) % 8] / 2);
    return r;
}

std::vector<std::uint8_t> ParameterStore::AnswerRead(std::uint8_t command) {
    std::lock_guard lock(mutex_);
    switch (command) {
        case code::ReadSplice:
            return SplicerFrame(command, splice_);
        case code::ReadHeater:
            return SplicerFrame(command, heater_);
        case code::ReadEnvironment:
            return SplicerFrame(command, NextEnvironment());
        case code::ReadConfig:
            return SplicerFrame(command, config_);
        default:
            return Refuse();
    }
}

std::vector<std::uint8_t> ParameterStore::AnswerWrite(std::uint8_t command,
                                                      const std::vector<std::uint8_t>& data) {
    std::lock_guard lock(mutex_);
    auto store = [&](auto& record) {
        if (data.size() != record.size()) return Refuse();
        // The serial number belongs to the device: a configuration write leaves it be.
        const std::size_t keepFrom =
            command == code::WriteConfig ? config::SerialNumber.offset : record.size();
        std::copy(data.begin(), data.begin() + static_cast<long>(keepFrom), record.begin());
        return AcceptFrame(command);
    };
    switch (command) {
        case code::WriteSplice:
            return store(splice_);
        case code::WriteHeater:
            return store(heater_);
        case code::WriteConfig:
            return store(config_);
        default:
            return Refuse();
    }
}

std::shared_ptr<ParameterStore> InstallParameterCommands(VirtualSplicer& splicer) {
    auto store = std::make_shared<ParameterStore>();
    for (std::uint8_t command :
         {code::ReadSplice, code::ReadHeater, code::ReadEnvironment, code::ReadConfig}) {
        splicer.SetHandler(command,
                           [store](const Request& r) { return store->AnswerRead(r.command); });
    }
    for (std::uint8_t command : {code::WriteSplice, code::WriteHeater, code::WriteConfig}) {
        splicer.SetHandler(
            command, [store](const Request& r) { return store->AnswerWrite(r.command, r.data); });
    }
    return store;
}

}  // namespace velmora::sim
