#pragma once
// The splicer's side of the frame envelope, kept apart from the program's frame
// code on purpose: were both sides built from one piece of code, a slip in it (a
// wrong check byte, a misplaced length) would pass every exchange unseen.
//
// A frame, in either direction: 0x87, the command byte, the number of data bytes
// (its low 8 bits), the data, and a check byte, the low 8 bits of the sum of every
// byte before it.
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::sim {

inline constexpr std::uint8_t kStartByte = 0x87;
inline constexpr std::uint8_t kAcceptedByte = 0xAC;  // the data byte of a yes
inline constexpr std::uint8_t kRefusedByte = 0xEC;   // takes the command's place in a refusal

// The commands the splicer answers, by the byte that asks for them.
namespace code {
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
}  // namespace code

// Low 8 bits of the sum of `bytes`.
std::uint8_t SumOf(std::span<const std::uint8_t> bytes);

// A frame the splicer sends: start, `command`, length, `data`, check.
std::vector<std::uint8_t> SplicerFrame(std::uint8_t command, std::span<const std::uint8_t> data);

// The five-byte yes to `command`: 87, command, 01, AC, check.
std::vector<std::uint8_t> AcceptFrame(std::uint8_t command);

// A refusal: 0xEC in the command's place, one data byte `data`.
std::vector<std::uint8_t> RefuseFrame(std::uint8_t data);

// Makes the last byte of `frame` the check byte of those before it.
void SealFrame(std::vector<std::uint8_t>& frame);

// Whether a whole request frame (start to check byte) ends in the check byte the
// splicer expects. Most requests carry the plain sum; two are formed otherwise:
// the record download (0x64) sends the low byte of the record count but adds its
// high byte too, and the image download (0x71) sends the image index and 0x20 but
// leaves the 0x20 out of the sum.
bool RequestCheckHolds(std::span<const std::uint8_t> frame);

}  // namespace velmora::sim
