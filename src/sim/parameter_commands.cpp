#include "sim/parameter_commands.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "base/local_time.h"
#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "settings/value_text.h"

namespace velmora::sim {
namespace {

std::vector<std::uint8_t> Frame(std::uint8_t command, std::span<const std::uint8_t> data) {
    return LayOutFrame(MakeRequest(command, data));
}

std::vector<std::uint8_t> Acknowledge(std::uint8_t command) {
    const std::uint8_t accepted = kAccepted;
    return Frame(command, std::span(&accepted, 1));
}

std::vector<std::uint8_t> Refuse() {
    const std::uint8_t accepted = kAccepted;
    return Frame(kRejected, std::span(&accepted, 1));
}

// A single-mode program on standard fibre, with some bytes the PC never looks at.
SpliceParams DefaultSplice() {
    SpliceParams p;
    p.fiberType = 2;  // SM AUTO
    NameToField("SM G652", p.name1);
    NameToField("Standard SM", p.name2);
    p.kept28 = {0x5A, 0x01, 0x00, 0x03};
    p.cutAngle = 30;   // 3.0 degrees
    p.lossLimit = 10;  // 0.10 dB
    p.arcValue = 130;
    p.arcTime = 1500;
    p.clearArcTime = 150;
    p.addArcTime = 500;
    p.alignType = 1;  // core
    p.alignSpace = 15;
    p.arcLine = -5;
    p.kept50 = {0x02, 0x80};
    p.preArc = 40;
    p.preTime = 180;
    p.overLen = 12;
    p.arc2Power = 60;
    p.arc2Time = 2000;
    p.arc2On = 80;
    p.arc2Off = 40;
    for (std::size_t i = 0; i < p.kept66.size(); ++i)
        p.kept66[i] = static_cast<std::uint8_t>(0xA0 + i);
    p.pullingTest = 0;  // on
    return p;
}

HeaterParams DefaultHeater() {
    HeaterParams h;
    h.heatType = 1;  // 60mmS
    NameToField("60mm", h.name1);
    NameToField("Standard 60mm", h.name2);
    h.kept21 = 0x11;
    h.time = 30;
    h.temperature = 170;
    h.endTemperature = 60;
    return h;
}

DeviceConfig DefaultConfig() {
    DeviceConfig c;
    c.kept0 = 0x01;
    c.fsMode = 0;  // AUTO
    c.htMode = 1;  // 60mmS
    c.autostart = 1;
    c.pause1En = 0;
    c.pause2En = 1;
    c.kept6 = {0x10, 0x20, 0x30};
    c.angle = c.loss = c.bubble = 1;
    c.wide = c.thin = 0;
    c.kept14 = 0x07;
    c.autopush = 1;
    c.addArcs = 10;
    c.language = 1;  // English
    c.lcdDir = 0;
    c.lcdBright = 5;
    c.beep = c.lamp = 1;
    c.fan = 0;
    c.baudRate = 0;  // 115200
    c.sysTime = 6;
    c.lcdTime = 60;
    c.kept32 = {0xDE, 0xAD, 0xBE, 0xEF};
    NameToField(kSimSerialNumber, c.serialNum);
    return c;
}

}  // namespace

ParameterStore::ParameterStore()
    : splice_(EncodeSpliceParams(DefaultSplice())),
      heater_(EncodeHeaterParams(DefaultHeater())),
      config_(EncodeDeviceConfig(DefaultConfig())) {
    EnvironmentInfo e;
    e.insideTemperature = 253;  // 25.3 degrees
    e.airPressure = 101325;
    e.voltage = 118;  // 11.8 V
    environment_ = EncodeEnvironmentInfo(e);
}

FieldBytes<kSpliceParamsSize> ParameterStore::Splice() const {
    std::lock_guard lock(mutex_);
    return splice_;
}
FieldBytes<kHeaterParamsSize> ParameterStore::Heater() const {
    std::lock_guard lock(mutex_);
    return heater_;
}
FieldBytes<kDeviceConfigSize> ParameterStore::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}
void ParameterStore::SetSplice(const FieldBytes<kSpliceParamsSize>& bytes) {
    std::lock_guard lock(mutex_);
    splice_ = bytes;
}
void ParameterStore::SetHeater(const FieldBytes<kHeaterParamsSize>& bytes) {
    std::lock_guard lock(mutex_);
    heater_ = bytes;
}
void ParameterStore::SetEnvironment(const FieldBytes<kEnvironmentInfoSize>& bytes) {
    std::lock_guard lock(mutex_);
    environment_ = bytes;
}
void ParameterStore::SetConfig(const FieldBytes<kDeviceConfigSize>& bytes) {
    std::lock_guard lock(mutex_);
    config_ = bytes;
}
void ParameterStore::FreezeEnvironment(bool frozen) {
    std::lock_guard lock(mutex_);
    environmentFrozen_ = frozen;
}

// The clock of the host and readings that wander a little around their base.
FieldBytes<kEnvironmentInfoSize> ParameterStore::NextEnvironment() {
    if (environmentFrozen_) return environment_;
    EnvironmentInfo e = DecodeEnvironmentInfo(environment_);
    const std::tm local = LocalTime(std::time(nullptr));
    e.year = static_cast<std::uint8_t>(std::clamp(local.tm_year + 1900 - 2000, 0, 255));
    e.month = static_cast<std::uint8_t>(local.tm_mon + 1);
    e.day = static_cast<std::uint8_t>(local.tm_mday);
    e.hour = static_cast<std::uint8_t>(local.tm_hour);
    e.minute = static_cast<std::uint8_t>(local.tm_min);
    e.second = static_cast<std::uint8_t>(local.tm_sec);
    ++readings_;
    const int wobble[] = {0, 1, 2, 1, 0, -1, -2, -1};
    e.insideTemperature = 253 + wobble[readings_ % 8];
    e.airPressure = 101325 + 3 * wobble[(readings_ + 3) % 8];
    e.voltage = 118 + wobble[(readings_ + 5) % 8] / 2;
    environment_ = EncodeEnvironmentInfo(e);
    return environment_;
}

std::vector<std::uint8_t> ParameterStore::AnswerRead(std::uint8_t command) {
    std::lock_guard lock(mutex_);
    switch (command) {
        case cmd::ReadSplice:
            return Frame(command, splice_);
        case cmd::ReadHeater:
            return Frame(command, heater_);
        case cmd::ReadEnvironment:
            return Frame(command, NextEnvironment());
        case cmd::ReadConfig:
            return Frame(command, config_);
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
            command == cmd::WriteConfig ? kDeviceConfigSize - 16 : record.size();
        std::copy(data.begin(), data.begin() + static_cast<long>(keepFrom), record.begin());
        return Acknowledge(command);
    };
    switch (command) {
        case cmd::WriteSplice:
            return store(splice_);
        case cmd::WriteHeater:
            return store(heater_);
        case cmd::WriteConfig:
            return store(config_);
        default:
            return Refuse();
    }
}

std::shared_ptr<ParameterStore> InstallParameterCommands(VirtualSplicer& splicer) {
    auto store = std::make_shared<ParameterStore>();
    for (std::uint8_t command :
         {cmd::ReadSplice, cmd::ReadHeater, cmd::ReadEnvironment, cmd::ReadConfig}) {
        splicer.SetHandler(command,
                           [store](const Request& r) { return store->AnswerRead(r.command); });
    }
    for (std::uint8_t command : {cmd::WriteSplice, cmd::WriteHeater, cmd::WriteConfig}) {
        splicer.SetHandler(
            command, [store](const Request& r) { return store->AnswerWrite(r.command, r.data); });
    }
    return store;
}

}  // namespace velmora::sim
