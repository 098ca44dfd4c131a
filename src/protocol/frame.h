#pragma once
// The frame envelope shared by requests and replies:
//   0x87, command, length N, N data bytes, check (low 8 bits of the sum of all before it).
// Pure functions over byte spans; no I/O here.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

inline constexpr std::uint8_t kFrameStart = 0x87;
inline constexpr std::uint8_t kAccepted = 0xAC;  // data byte of an acknowledgement
inline constexpr std::uint8_t kRejected = 0xEC;  // stands in the command position of a refusal
// Most data bytes one frame can carry (a 1000-byte frame buffer less the 4 envelope bytes).
inline constexpr int kMaxFrameData = 996;

// The next request: filled by a page, laid out and sent by the link.
struct CommandFrame {
    std::uint8_t start = kFrameStart;
    std::uint8_t command = 0;
    // Number of data bytes; only its low 8 bits travel.
    std::int32_t dataLength = 0;
    std::vector<std::uint8_t> data;
    // Set by whoever builds the request; the send does not compute it.
    std::uint8_t check = 0;
};

// Low 8 bits of the sum of `bytes`.
std::uint8_t SumCheck(std::span<const std::uint8_t> bytes);

// The frame as it goes on the line: start, command, low byte of the length,
// exactly dataLength data bytes, check. Empty when dataLength is negative, over
// kMaxFrameData, or larger than the data actually held.
std::vector<std::uint8_t> LayOutFrame(const CommandFrame& frame);

// A request with its data and the ordinary check byte (sum of all bytes before it).
CommandFrame MakeRequest(std::uint8_t command, std::span<const std::uint8_t> data);

// The check byte a reply of `length` gathered bytes should end with: the sum of
// all but the last. The reply's own length byte does not decide where it ends.
std::uint8_t ReplyChecksum(std::span<const std::uint8_t> reply);

// How a gathered reply compares with what was asked.
enum class ReplyVerdict {
    Accepted,    // 0x87, the command sent, intact (and 01 AC for an acknowledgement)
    NoAnswer,    // nothing arrived
    BadCheck,    // the last byte is not the sum of the others
    Rejected,    // the splicer put 0xEC in the command position
    Unexpected,  // intact but not the reply to this request
};

// Judges a reply in the fixed order: nothing arrived, check byte, rejection, content.
ReplyVerdict JudgeReply(std::span<const std::uint8_t> reply, std::uint8_t command,
                        bool acknowledgement);

}  // namespace velmora
