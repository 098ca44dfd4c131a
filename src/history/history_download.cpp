#include "history/history_download.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/messages.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCountReplyLength = 6;

Outcome FailedSend(const Link& link) {
    return link.Port().WasLost() ? Outcome::PortLost : Outcome::WriteFailed;
}

void StoreStandardText(Link& link, Outcome outcome) {
    if (const Message* text = StandardFailureText(outcome)) link.SetStatus(*text);
}

Outcome JudgeCountReply(std::span<const std::uint8_t> reply) {
    switch (JudgeReply(reply, cmd::RecordCount, false)) {
        case ReplyVerdict::Accepted:
            // Intact but too short to hold a count: the check byte was taken from the wrong place.
            return reply.size() < kCountReplyLength ? Outcome::BadCheck : Outcome::Accepted;
        case ReplyVerdict::NoAnswer: return Outcome::NoAnswer;
        case ReplyVerdict::BadCheck: return Outcome::BadCheck;
        case ReplyVerdict::Rejected: return Outcome::Rejected;
        case ReplyVerdict::Unexpected: return Outcome::Unexpected;
    }
    return Outcome::Unexpected;
}

}  // namespace

RecordCountAnswer AskRecordCount(Link& link, const LineClaim& claim, const Pump& pump) {
    RecordCountAnswer answer;
    answer.outcome = [&] {
        if (!link.Port().IsOpen()) return Outcome::NotOpen;
        link.Frame() = FixedRequest(cmd::RecordCount);
        if (!link.SendFrame(claim)) return FailedSend(link);
        link.ReplyLength = kCountReplyLength;
        link.ReceiveReply(claim, kRecordCountTimeoutMs, pump);
        if (link.CancelRequested()) return Outcome::Cancelled;
        if (link.ReplyLength <= 0 && link.Port().WasLost()) return Outcome::PortLost;
        return JudgeCountReply(link.Reply());
    }();
    if (answer.outcome == Outcome::Accepted) {
        std::span<const std::uint8_t> reply = link.Reply();
        answer.count = static_cast<std::int16_t>(reply[3] | (reply[4] << 8));
    }
    StoreStandardText(link, answer.outcome);
    return answer;
}

bool RequestRecordDownload(Link& link, const LineClaim& claim, int count) {
    if (count < 1 || count > kMaxRecordCount) return false;
    link.Frame() = RecordDownloadRequest(static_cast<std::uint16_t>(count));
    if (link.SendFrame(claim)) return true;
    StoreStandardText(link, FailedSend(link));
    return false;
}

std::string TooManyRecordsText(int count) {
    static constexpr Message kTooMany{
        "熔接机存有 %d 条记录，超出一次可接收的数量（最多 %d 条）",
        "The splicer holds %d records, more than can be received at once (at most %d)"};
    char text[200];
    std::snprintf(text, sizeof text, Say(kTooMany).c_str(), count, kMaxRecordCount);
    return text;
}

ReceiveStart BeginHistoryReceive(Link& link, const LineClaim& claim, const Pump& pump) {
    RecordCountAnswer answer = AskRecordCount(link, claim, pump);
    ReceiveStart start{ReceiveStep::Failed, answer.outcome, answer.count};
    if (answer.outcome != Outcome::Accepted) return start;
    if (answer.count <= 0) {
        start.step = ReceiveStep::NoRecords;
    } else if (answer.count > kMaxRecordCount) {
        link.CommStatusText = TooManyRecordsText(answer.count);
        start.step = ReceiveStep::TooMany;
    } else if (RequestRecordDownload(link, claim, answer.count)) {
        start.step = ReceiveStep::Download;
    } else {
        start.outcome = FailedSend(link);
    }
    return start;
}

RecordStream::RecordStream(std::span<std::uint8_t> buffer, int count)
    : buffer_(buffer),
      count_(std::min<std::size_t>(std::max(count, 0), buffer.size() / kRecordFrameSize)),
      expected_(count_ * kRecordFrameSize) {}

std::span<std::uint8_t> RecordStream::Room() const {
    return buffer_.subspan(received_, expected_ - received_);
}

bool RecordStream::ListsAsItArrives() const {
    return received_ >= 3 && buffer_[0] == kFrameStart && buffer_[1] == cmd::RecordDownload;
}

std::vector<SpliceRecord> RecordStream::Add(std::size_t n) {
    received_ += std::min(n, expected_ - received_);
    std::vector<SpliceRecord> ready;
    if (!ListsAsItArrives() && !Complete()) return ready;
    const std::size_t complete = received_ / kRecordFrameSize;
    ready.reserve(complete - listed_);
    for (; listed_ < complete; ++listed_)
        ready.push_back(SpliceRecord::FromFrame(buffer_.subspan(listed_ * kRecordFrameSize)));
    return ready;
}

int RecordStream::Progress() const {
    if (Complete()) return 100;
    if (listed_ == 0) return 0;
    return static_cast<int>((listed_ - 1) * 100 / count_);
}

DownloadResult DownloadHistory(Link& link, LineClaim claim, int count, std::stop_token stop,
                               const DownloadCallbacks& callbacks, DownloadOptions options) {
    std::optional<LineClaim> held(std::move(claim));
    SerialPort& port = link.Port();
    RecordStream stream(link.ReceiveBuffer(), count);
    const auto deadline = Clock::now() + options.deadline;

    auto end = [&] {
        for (;;) {
            if (stop.stop_requested() || link.CancelRequested()) return Outcome::Cancelled;
            if (stream.Complete()) return Outcome::Accepted;
            const auto now = Clock::now();
            if (now > deadline) return Outcome::NoAnswer;
            if (!port.IsOpen()) return port.WasLost() ? Outcome::PortLost : Outcome::NotOpen;
            const std::size_t before = stream.Listed();
            const std::size_t n = port.ReadAvailable(stream.Room());
            if (n > 0) {
                std::vector<SpliceRecord> ready = stream.Add(n);
                if (!ready.empty() && callbacks.records) callbacks.records(before, ready);
                if (!ready.empty() && callbacks.progress) callbacks.progress(stream.Progress());
                continue;  // more may be waiting already
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            port.WaitReadable(std::min(left + std::chrono::milliseconds(1), kWaitSlice));
        }
    }();

    DownloadResult result;
    result.outcome = end;
    result.recordsListed = stream.Listed();
    result.bytesReceived = stream.Received();
    if (const Message* text = StandardFailureText(end)) result.statusText = Say(*text);
    if (callbacks.progress && end == Outcome::Accepted) callbacks.progress(100);
    if (callbacks.progress && (end == Outcome::NoAnswer || end == Outcome::PortLost ||
                               end == Outcome::NotOpen))
        callbacks.progress(0);
    held.reset();  // the line is free before anyone is told the download ended
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

}  // namespace velmora
