#include "protocol/link.h"

#include <algorithm>

namespace velmora {

using Clock = std::chrono::steady_clock;

const Message* StandardFailureText(Outcome outcome) {
    static constexpr Message kWriteFailed{"串口写入失败", "Write to port failed"};
    static constexpr Message kCancelled{"通讯已取消", "Communication cancelled"};
    switch (outcome) {
        case Outcome::NoAnswer: return &msg::NoAnswer;
        case Outcome::BadCheck: return &msg::CheckCodeError;
        case Outcome::NotOpen: return &msg::CommDisconnected;
        case Outcome::PortLost: return &msg::PortLost;
        case Outcome::Busy: return &msg::LineBusy;
        case Outcome::WriteFailed: return &kWriteFailed;
        case Outcome::Cancelled: return &kCancelled;
        case Outcome::Accepted:
        case Outcome::Rejected:
        case Outcome::Unexpected: return nullptr;
    }
    return nullptr;
}

LineClaim::~LineClaim() {
    if (link_) link_->Release();
}

Link::Link() : receiveBuffer_(std::make_unique<std::uint8_t[]>(kReceiveBufferSize)) {}

bool Link::OpenPort(const std::string& device, int speed) {
    if (port_.OpenPort(device, speed)) return true;
    CommStatusText = Say(msg::CommPortError) + ": " + port_.LastError();
    return false;
}

std::optional<LineClaim> Link::ClaimLine() {
    bool expected = false;
    if (!claimed_.compare_exchange_strong(expected, true)) return std::nullopt;
    cancelled_ = false;
    return LineClaim(this);
}

bool Link::SendFrame(const LineClaim&) {
    if (!port_.IsOpen()) return false;
    std::vector<std::uint8_t> bytes = LayOutFrame(frame_);
    if (bytes.empty()) return false;
    return port_.SendBytes(bytes) == static_cast<long>(bytes.size());
}

bool Link::ReceiveReply(const LineClaim&, int timeoutMs, const Pump& pump,
                        const ReplyComplete& complete) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Never gather past the end of the buffer, whatever is asked for.
    const std::size_t expected =
        std::min<std::size_t>(std::max(ReplyLength, 0), kReceiveBufferSize);
    std::size_t gathered = 0;
    auto isComplete = [&] {
        if (complete) return complete(ReceiveBuffer().first(gathered));
        return gathered > 0 && gathered >= expected;
    };
    bool done = false;
    for (;;) {
        if (pump) pump();
        const bool timedOut = Clock::now() > deadline;
        // This pass still reads, even after the deadline.
        gathered += port_.ReadAvailable(ReceiveBuffer().subspan(gathered));
        if (isComplete()) {
            done = true;
            break;
        }
        if (timedOut || cancelled_ || !port_.IsOpen() || gathered == kReceiveBufferSize) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        port_.WaitReadable(std::clamp(left + std::chrono::milliseconds(1),
                                      std::chrono::milliseconds(0), kWaitSlice));
    }
    ReplyLength = static_cast<int>(gathered);
    return done;
}

std::uint8_t Link::ReplyChecksum() const { return velmora::ReplyChecksum(Reply()); }

Outcome Link::Exchange(const CommandFrame& request, int expected, int timeoutMs,
                       bool acknowledgement, const Pump& pump) {
    auto outcome = [&]() -> Outcome {
        if (!port_.IsOpen()) return Outcome::NotOpen;
        std::optional<LineClaim> claim = ClaimLine();
        if (!claim) return Outcome::Busy;
        frame_ = request;
        if (!SendFrame(*claim)) return port_.WasLost() ? Outcome::PortLost : Outcome::WriteFailed;
        ReplyLength = expected;
        ReceiveReply(*claim, timeoutMs, pump);
        if (cancelled_) return Outcome::Cancelled;
        if (ReplyLength <= 0 && port_.WasLost()) return Outcome::PortLost;
        switch (JudgeReply(Reply(), request.command, acknowledgement)) {
            case ReplyVerdict::Accepted: return Outcome::Accepted;
            case ReplyVerdict::NoAnswer: return Outcome::NoAnswer;
            case ReplyVerdict::BadCheck: return Outcome::BadCheck;
            case ReplyVerdict::Rejected: return Outcome::Rejected;
            case ReplyVerdict::Unexpected: return Outcome::Unexpected;
        }
        return Outcome::Unexpected;
    }();
    if (const Message* text = StandardFailureText(outcome)) SetStatus(*text);
    return outcome;
}

}  // namespace velmora
