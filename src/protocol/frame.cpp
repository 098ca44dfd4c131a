#include "protocol/frame.h"

namespace velmora {

std::uint8_t SumCheck(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    return sum;
}

std::vector<std::uint8_t> LayOutFrame(const CommandFrame& frame) {
    if (frame.dataLength < 0 || frame.dataLength > kMaxFrameData ||
        static_cast<std::size_t>(frame.dataLength) > frame.data.size())
        return {};
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(frame.dataLength) + 4);
    out.push_back(frame.start);
    out.push_back(frame.command);
    out.push_back(static_cast<std::uint8_t>(frame.dataLength & 0xFF));
    out.insert(out.end(), frame.data.begin(), frame.data.begin() + frame.dataLength);
    out.push_back(frame.check);
    return out;
}

CommandFrame MakeRequest(std::uint8_t command, std::span<const std::uint8_t> data) {
    CommandFrame frame;
    frame.command = command;
    frame.dataLength = static_cast<std::int32_t>(data.size());
    frame.data.assign(data.begin(), data.end());
    std::uint8_t head[3] = {frame.start, command, static_cast<std::uint8_t>(data.size() & 0xFF)};
    frame.check = static_cast<std::uint8_t>(SumCheck(head) + SumCheck(data));
    return frame;
}

std::uint8_t ReplyChecksum(std::span<const std::uint8_t> reply) {
    if (reply.empty()) return 0;
    return SumCheck(reply.first(reply.size() - 1));
}

ReplyVerdict JudgeReply(std::span<const std::uint8_t> reply, std::uint8_t command,
                        bool acknowledgement) {
    if (reply.empty()) return ReplyVerdict::NoAnswer;
    if (ReplyChecksum(reply) != reply.back()) return ReplyVerdict::BadCheck;
    if (reply.size() >= 2 && reply[1] == kRejected) return ReplyVerdict::Rejected;
    if (reply.size() < 2 || reply[0] != kFrameStart || reply[1] != command)
        return ReplyVerdict::Unexpected;
    if (acknowledgement && (reply.size() < 4 || reply[2] != 1 || reply[3] != kAccepted))
        return ReplyVerdict::Unexpected;
    return ReplyVerdict::Accepted;
}

}  // namespace velmora
