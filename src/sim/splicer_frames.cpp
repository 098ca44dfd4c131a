#include "sim/splicer_frames.h"

namespace velmora::sim {

std::uint8_t SumOf(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void SealFrame(std::vector<std::uint8_t>& frame) {
    if (frame.size() < 2) return;
    frame.back() = SumOf(std::span(frame).first(frame.size() - 1));
}

std::vector<std::uint8_t> SplicerFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 4);
    frame.push_back(kStartByte);
    frame.push_back(command);
    frame.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(0);
    SealFrame(frame);
    return frame;
}

std::vector<std::uint8_t> AcceptFrame(std::uint8_t command) {
    const std::uint8_t yes[] = {kAcceptedByte};
    return SplicerFrame(command, yes);
}

std::vector<std::uint8_t> RefuseFrame(std::uint8_t data) {
    const std::uint8_t one[] = {data};
    return SplicerFrame(kRefusedByte, one);
}

bool RequestCheckHolds(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4) return false;
    const std::uint8_t check = frame.back();
    const std::uint8_t sum = SumOf(frame.first(frame.size() - 1));
    switch (frame[1]) {
        case code::RecordDownload: {
            // 87 64 01 low, check = sum + high. A PC asks for no more records than
            // its 200000-byte receive buffer holds (5263 of 38 bytes): high <= 20.
            const auto high = static_cast<std::uint8_t>(check - sum);
            return frame.size() == 5 && high <= 5263 / 256;
        }
        case code::ImageDownload:
            // 87 71 02 index 20, check = 87 + 71 + 02 + index.
            return frame.size() == 6 && frame[4] == 0x20 &&
                   check == static_cast<std::uint8_t>(sum - 0x20);
        default:
            return check == sum;
    }
}

}  // namespace velmora::sim
