#pragma once
// Every command the PC sends, with its request data, check-byte rule, the reply
// awaited and its time-out. Every request frame of the program is built here.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/frame.h"
#include "protocol/link.h"

namespace velmora {

namespace cmd {
inline constexpr std::uint8_t Handshake = 0x60;
inline constexpr std::uint8_t FirmwareHandshake1 = 0x61;
inline constexpr std::uint8_t FirmwareHandshake2 = 0x62;
inline constexpr std::uint8_t RecordCount = 0x63;
inline constexpr std::uint8_t RecordDownload = 0x64;
inline constexpr std::uint8_t Disconnect = 0x68;
inline constexpr std::uint8_t ReadSplice = 0x6A;
inline constexpr std::uint8_t WriteSplice = 0x6B;
inline constexpr std::uint8_t ReadHeater = 0x6C;
inline constexpr std::uint8_t WriteHeater = 0x6D;
inline constexpr std::uint8_t ReadEnvironment = 0x6E;
inline constexpr std::uint8_t ImageList = 0x70;
inline constexpr std::uint8_t ImageDownload = 0x71;
inline constexpr std::uint8_t ReadConfig = 0x72;
inline constexpr std::uint8_t WriteConfig = 0x73;
}  // namespace cmd

enum class RequestData {
    Zero,        // one data byte 00
    Record,      // a parameter record of fixed length
    CountLow,    // the record count's low byte (check adds the high byte too)
    ImageIndex,  // image index, then 0x20 (left out of the check)
};

// How the gathered bytes of a reply with a length of its own stand.
using ReplyRule = Gathered (*)(std::span<const std::uint8_t> gathered);

struct CommandEntry {
    std::uint8_t code;
    std::string_view name;
    RequestData request;
    int recordLength;  // data bytes of a Record request, else 0
    int replyLength;   // bytes awaited; 0 where the reply's length is found otherwise
    int timeoutMs;
    bool acknowledged;             // the reply is 87 cmd 01 AC check
    ReplyRule complete = nullptr;  // instead of replyLength
    bool checked = true;           // the reply ends in a check byte that is verified
};

// The image list (0x70): its count (byte 3), then 10 bytes per image after a
// 7-byte head, and its check byte. It holds every entry once 10 * count + 4
// bytes are in (up to the last entry's seventh byte), but the rest of the
// frame may still be on its way: the reply is complete when the whole frame is
// in, or when the line has gone quiet after the last entry, so the next request
// never meets the tail of this one. A reply whose first two bytes are not 87 70
// cannot be a list and is complete as soon as they are in.
Gathered ImageListComplete(std::span<const std::uint8_t> gathered);

// The entry for `code`, or nullopt for a byte the splicer does not know.
std::optional<CommandEntry> FindCommand(std::uint8_t code);
std::span<const CommandEntry> AllCommands();

// A request whose data is the single byte 00 (0x60, 0x61, 0x62, 0x63, 0x68, 0x6A,
// 0x6C, 0x6E, 0x70, 0x72); check = sum.
CommandFrame FixedRequest(std::uint8_t code);

// A parameter write (0x6B, 0x6D, 0x73) carrying `record`; check = running sum.
CommandFrame WriteRequest(std::uint8_t code, std::span<const std::uint8_t> record);

// Record download: only the count's low byte travels, but the check byte adds
// both count bytes: 0xEC + low + high.
CommandFrame RecordDownloadRequest(std::uint16_t count);

// Image download: index then 0x20; the check byte leaves the 0x20 out: 0xFA + index.
CommandFrame ImageDownloadRequest(std::uint8_t index);

}  // namespace velmora
