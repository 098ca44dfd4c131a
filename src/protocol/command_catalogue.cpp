#include "protocol/command_catalogue.h"

#include <array>

namespace velmora {

Gathered ImageListComplete(std::span<const std::uint8_t> gathered) {
    constexpr std::size_t kCountOffset = 3;
    constexpr std::size_t kHead = 7;
    constexpr std::size_t kSlot = 10;
    const bool listHead =
        gathered.size() >= 2 && gathered[0] == kFrameStart && gathered[1] == cmd::ImageList;
    if (gathered.size() >= 2 && !listHead) return Gathered::Complete;
    if (gathered.size() <= kCountOffset) return Gathered::More;
    const std::size_t count = gathered[kCountOffset];
    if (gathered.size() >= kHead + kSlot * count + 1) return Gathered::Complete;
    if (gathered.size() >= kSlot * count + kCountOffset + 1) return Gathered::CompleteUnlessMore;
    return Gathered::More;
}

namespace {

constexpr std::array<CommandEntry, 15> kCommands{{
    {cmd::Handshake, "connection handshake", RequestData::Zero, 0, 5, 1500, true},
    {cmd::FirmwareHandshake1, "first firmware handshake", RequestData::Zero, 0, 5, 1000, true},
    {cmd::FirmwareHandshake2, "second firmware handshake", RequestData::Zero, 0, 5, 1000, true},
    {cmd::RecordCount, "record count", RequestData::Zero, 0, 6, 1000, false},
    {cmd::RecordDownload, "record download", RequestData::CountLow, 0, 0, 40000, false},
    {cmd::Disconnect, "disconnection", RequestData::Zero, 0, 5, 1500, false},
    {cmd::ReadSplice, "read splice parameters", RequestData::Zero, 0, 88, 1500, false},
    {cmd::WriteSplice, "write splice parameters", RequestData::Record, 84, 5, 5000, true},
    {cmd::ReadHeater, "read heater parameters", RequestData::Zero, 0, 32, 1500, false},
    {cmd::WriteHeater, "write heater parameters", RequestData::Record, 28, 5, 500000, true},
    {cmd::ReadEnvironment, "read environment", RequestData::Zero, 0, 28, 1500, false},
    {cmd::ImageList, "image list", RequestData::Zero, 0, 0, 1500, false, ImageListComplete, false},
    {cmd::ImageDownload, "image download", RequestData::ImageIndex, 0, 0, 50000, false},
    {cmd::ReadConfig, "read device configuration", RequestData::Zero, 0, 56, 1500, false},
    {cmd::WriteConfig, "write device configuration", RequestData::Record, 52, 5, 5000, true},
}};

}  // namespace

std::optional<CommandEntry> FindCommand(std::uint8_t code) {
    for (const CommandEntry& entry : kCommands)
        if (entry.code == code) return entry;
    return std::nullopt;
}

std::span<const CommandEntry> AllCommands() {
    return kCommands;
}

CommandFrame FixedRequest(std::uint8_t code) {
    const std::uint8_t zero[1] = {0};
    return MakeRequest(code, zero);
}

CommandFrame WriteRequest(std::uint8_t code, std::span<const std::uint8_t> record) {
    return MakeRequest(code, record);
}

CommandFrame RecordDownloadRequest(std::uint16_t count) {
    const std::uint8_t low = count & 0xFF;
    CommandFrame frame = MakeRequest(cmd::RecordDownload, std::span(&low, 1));
    frame.check = static_cast<std::uint8_t>(frame.check + (count >> 8));
    return frame;
}

CommandFrame ImageDownloadRequest(std::uint8_t index) {
    const std::uint8_t data[2] = {index, 0x20};
    CommandFrame frame = MakeRequest(cmd::ImageDownload, data);
    frame.check = static_cast<std::uint8_t>(frame.check - 0x20);
    return frame;
}

}  // namespace velmora
