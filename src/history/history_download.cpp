#include "history/history_download.h"

#include <algorithm>
#include <array>
#include <optional>

#include "base/little_endian.h"
#include "protocol/command_catalogue.h"

namespace velmora {
namespace {

constexpr int kCountReplyLength = 6;

// A short count reply is intact but cannot hold a count: the check byte was
// taken from the wrong place.
Outcome JudgeCount(const ExchangeResult& exchange) {
    if (exchange.outcome == Outcome::Accepted && exchange.reply.size() < kCountReplyLength)
        return Outcome::BadCheck;
    return exchange.outcome;
}

// The record stream as the receive loop gathers it, handing records out as they complete.
class StreamShape final : public ReplyShape {
  public:
    StreamShape(RecordStream& stream, const DownloadCallbacks& callbacks)
        : stream_(stream), callbacks_(callbacks) {}
    Gathered Start() override {
        return stream_.Complete() ? Gathered::CompleteUnlessMore : Gathered::More;
    }
    // Once every announced record is in, a little room stays open: a splicer that
    // goes on sending sent something other than what it announced.
    std::span<std::uint8_t> Room() override {
        return stream_.Complete() ? std::span<std::uint8_t>(surplus_) : stream_.Room();
    }
    Gathered Add(std::size_t n) override {
        if (stream_.Complete() && !adding_) {
            surplusArrived_ = true;
            return Gathered::Refused;
        }
        adding_ = true;
        const std::size_t before = stream_.Listed();
        const std::vector<SpliceRecord> ready = stream_.Add(n);
        adding_ = false;
        if (!ready.empty() && callbacks_.records) callbacks_.records(before, ready);
        if (!ready.empty() && callbacks_.progress) callbacks_.progress(stream_.Progress());
        if (stream_.Garbled() || stream_.Refused()) return Gathered::Refused;
        return stream_.Complete() ? Gathered::CompleteUnlessMore : Gathered::More;
    }
    bool SurplusArrived() const { return surplusArrived_; }

  private:
    RecordStream& stream_;
    const DownloadCallbacks& callbacks_;
    std::array<std::uint8_t, 64> surplus_{};
    bool adding_ = false;
    bool surplusArrived_ = false;
};

}  // namespace

RecordCountAnswer AskRecordCount(Link& link, const LineClaim& claim, const Pump& pump) {
    RecordCountAnswer answer;
    answer.outcome = JudgeCount(link.Exchange(claim, FixedRequest(cmd::RecordCount), {pump, {}}));
    if (answer.outcome == Outcome::Accepted) {
        const std::span<const std::uint8_t> reply = link.Reply();
        answer.count = ReadU16(reply, 3);
    }
    return answer;
}

bool RequestRecordDownload(Link& link, const LineClaim& claim, int count) {
    if (count < 1 || count > kMaxRecordCount) return false;
    link.Frame() = RecordDownloadRequest(static_cast<std::uint16_t>(count));
    return link.SendFrame(claim);
}

ReceiveStart BeginHistoryReceive(Link& link, const LineClaim& claim, const Pump& pump) {
    RecordCountAnswer answer = AskRecordCount(link, claim, pump);
    ReceiveStart start{ReceiveStep::Failed, answer.outcome, answer.count};
    if (answer.outcome != Outcome::Accepted) return start;
    if (answer.count <= 0) {
        start.step = ReceiveStep::NoRecords;
    } else if (answer.count > kMaxRecordCount) {
        start.step = ReceiveStep::TooMany;
    } else if (RequestRecordDownload(link, claim, answer.count)) {
        start.step = ReceiveStep::Download;
    } else {
        start.outcome = link.Port().WasLost()  ? Outcome::PortLost
                        : link.Port().IsOpen() ? Outcome::WriteFailed
                                               : Outcome::NotOpen;
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

bool RecordFrameHoldsUp(std::span<const std::uint8_t> frame) {
    if (frame.size() < kRecordFrameSize || frame[0] != kFrameStart ||
        frame[1] != cmd::RecordDownload || frame[2] != kRecordSize)
        return false;
    return HasRealTime(SpliceRecord::FromFrame(frame));
}

std::vector<SpliceRecord> RecordStream::Add(std::size_t n) {
    received_ += std::min(n, expected_ - received_);
    std::vector<SpliceRecord> ready;
    if (garbled_ || refused_) return ready;
    // A refusal is a short frame in place of the first record: known from its
    // first two bytes, so it is never waited out as a stream that stopped.
    if (listed_ == 0 && received_ >= 2 && buffer_[0] == kFrameStart && buffer_[1] == kRejected) {
        refused_ = true;
        return ready;
    }
    const std::size_t complete = received_ / kRecordFrameSize;
    ready.reserve(complete - listed_);
    for (; listed_ < complete; ++listed_) {
        const std::span<const std::uint8_t> frame = buffer_.subspan(listed_ * kRecordFrameSize);
        if (!RecordFrameHoldsUp(frame)) {
            // Junk before the records, a frame cut short or shifted: nothing from
            // here on can be trusted to be the splicer's records.
            garbled_ = listed_;
            break;
        }
        ready.push_back(SpliceRecord::FromFrame(frame));
    }
    return ready;
}

int RecordStream::Progress() const {
    if (Complete()) return 100;
    if (listed_ == 0) return 0;
    return static_cast<int>((listed_ - 1) * 100 / count_);
}

std::chrono::milliseconds StreamEndQuiet(int bitsPerSecond) {
    if (bitsPerSecond <= 0) return kStreamEndQuiet;
    // Ten bits a byte on the line.
    const auto packet = std::chrono::milliseconds(
        (kAdapterPacket * 10 * 1000 + static_cast<std::size_t>(bitsPerSecond) - 1) /
        static_cast<std::size_t>(bitsPerSecond));
    return std::max(kStreamEndQuiet, packet + std::chrono::milliseconds(2));
}

DownloadResult DownloadHistory(Link& link, LineClaim claim, int count, std::stop_token stop,
                               const DownloadCallbacks& callbacks, DownloadOptions options) {
    std::optional<LineClaim> held(std::move(claim));
    RecordStream stream(link.ReceiveBuffer(), count);
    StreamShape shape(stream, callbacks);
    ReceiveWatch watch;
    watch.timeout = options.deadline;
    watch.quiet = StreamEndQuiet(link.Port().Speed());
    watch.stall = kStalledLine;
    watch.stop = std::move(stop);
    const ReceiveEnd end = link.Receive(*held, shape, watch);

    DownloadResult result;
    result.outcome =
        end.outcome == Outcome::Unexpected && stream.Refused() ? Outcome::Rejected : end.outcome;
    result.garbledRecord = stream.Garbled();
    result.surplus = shape.SurplusArrived();
    result.stalled = end.stalled;
    result.recordsAnnounced = static_cast<std::size_t>(std::max(count, 0));
    // What follows a refused stream or a refusal must not spoil the next exchange.
    if (end.outcome == Outcome::Unexpected)
        link.DiscardUntilQuiet(*held, kQuietLine, options.deadline, stop);
    result.recordsListed = stream.Listed();
    result.bytesReceived = stream.Received();
    if (callbacks.progress && end.outcome == Outcome::Accepted) callbacks.progress(100);
    if (callbacks.progress && (end.outcome == Outcome::NoAnswer ||
                               end.outcome == Outcome::PortLost || end.outcome == Outcome::NotOpen))
        callbacks.progress(0);
    held.reset();  // the line is free before anyone is told the download ended
    if (callbacks.finished) callbacks.finished(result);
    return result;
}

HistoryReceipt ReceiveHistory(Link& link, LineClaim claim, std::stop_token stop,
                              const DownloadCallbacks& callbacks, DownloadOptions options) {
    HistoryReceipt receipt;
    receipt.start = BeginHistoryReceive(link, claim, {});
    if (receipt.start.step == ReceiveStep::Download) {
        if (callbacks.started) callbacks.started(receipt.start.count);
        // The finished callback belongs to the whole receipt, not to its download.
        DownloadCallbacks inner = callbacks;
        inner.finished = nullptr;
        receipt.download =
            DownloadHistory(link, std::move(claim), receipt.start.count, stop, inner, options);
    } else {
        LineClaim released(std::move(claim));
    }
    return receipt;
}

}  // namespace velmora
