#include "protocol/link.h"

#include <algorithm>
#include <array>

#include "protocol/command_catalogue.h"
#include "serial/serial_port.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The channel of a link with nothing open: every operation finds it closed.
class ClosedChannel final : public ByteChannel {
  public:
    bool IsOpen() const override { return false; }
    bool WasLost() const override { return lost_; }
    void ClosePort() override {}
    void DiscardInput() override {}
    long SendBytes(std::span<const std::uint8_t>) override { return -1; }
    bool DrainOutput() override { return false; }
    std::size_t ReadAvailable(std::span<std::uint8_t>) override { return 0; }
    WaitResult WaitReadable(milliseconds) override { return WaitResult::NotOpen; }
    void Wake() override {}
    int Speed() const override { return 0; }
    std::string LastError() const override { return "the port is closed"; }

  private:
    bool lost_ = false;
};

// Drops everything: a reply that is never complete, whose end is the quiet line.
class Scrap final : public ReplyShape {
  public:
    std::span<std::uint8_t> Room() override { return bytes_; }
    // A line that says nothing at all is quiet too: the quiet counts from the start.
    Gathered Start() override { return Gathered::CompleteUnlessMore; }
    Gathered Add(std::size_t n) override {
        dropped_ += n;
        return Gathered::CompleteUnlessMore;
    }
    std::size_t Dropped() const { return dropped_; }

  private:
    std::array<std::uint8_t, kReadCap> bytes_{};
    std::size_t dropped_ = 0;
};

// The outcome of a receive that ended complete or at its deadline. A reply whose
// check byte the splicer does not keep is judged by its head alone.
Outcome JudgeGathered(const std::optional<CommandEntry>& entry, Outcome receiveEnd,
                      std::span<const std::uint8_t> reply, std::uint8_t command) {
    if (entry && !entry->checked) {
        if (receiveEnd != Outcome::Accepted) return Outcome::NoAnswer;
        const bool ownHead = reply.size() >= 2 && reply[0] == kFrameStart && reply[1] == command;
        return ownHead ? Outcome::Accepted : Outcome::Unexpected;
    }
    return OutcomeOf(JudgeReply(reply, command, entry && entry->acknowledged));
}

milliseconds Until(Clock::time_point end, Clock::time_point now) {
    return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(end - now));
}

}  // namespace

Outcome OutcomeOf(ReplyVerdict verdict) {
    switch (verdict) {
        case ReplyVerdict::Accepted:
            return Outcome::Accepted;
        case ReplyVerdict::NoAnswer:
            return Outcome::NoAnswer;
        case ReplyVerdict::BadCheck:
            return Outcome::BadCheck;
        case ReplyVerdict::Rejected:
            return Outcome::Rejected;
        case ReplyVerdict::Unexpected:
            return Outcome::Unexpected;
    }
    return Outcome::Unexpected;
}

void BufferedReply::DropLateAnswersTo(std::uint8_t command) {
    if (lateCount_ < late_.size()) late_[lateCount_++] = command;
}

bool BufferedReply::IsLate(std::uint8_t command) const {
    return std::find(late_.begin(), late_.begin() + static_cast<long>(lateCount_), command) !=
           late_.begin() + static_cast<long>(lateCount_);
}

bool BufferedReply::DropLateAnswer() {
    if (gathered_ < 4 || buffer_[0] != kFrameStart || !IsLate(buffer_[1])) return false;
    const std::size_t length = static_cast<std::size_t>(buffer_[2]) + 4;
    if (gathered_ < length || SumCheck(buffer_.first(length - 1)) != buffer_[length - 1])
        return false;
    std::copy(buffer_.begin() + static_cast<long>(length),
              buffer_.begin() + static_cast<long>(gathered_), buffer_.begin());
    gathered_ -= length;
    return true;
}

Gathered BufferedReply::Add(std::size_t n) {
    gathered_ += n;
    while (DropLateAnswer()) {
    }
    // A frame that may yet turn out to be a late answer is not this reply yet.
    if (gathered_ >= 2 && buffer_[0] == kFrameStart && IsLate(buffer_[1]) &&
        (gathered_ < 3 || gathered_ < static_cast<std::size_t>(buffer_[2]) + 4))
        return Gathered::More;
    if (rule_) return rule_(Bytes());
    return gathered_ > 0 && gathered_ >= expected_ ? Gathered::Complete : Gathered::More;
}

std::unique_ptr<ByteChannel> OpenSerialChannel(const std::string& device, int speed,
                                               OpenFailure& failure) {
    auto port = std::make_unique<SerialPort>();
    if (port->OpenPort(device, speed)) return port;
    failure.reason = port->LastError();
    failure.accessDenied = port->AccessDenied();
    return nullptr;
}

LineClaim::~LineClaim() {
    if (link_) link_->Release();
}

Link::Link(ChannelOpener opener)
    : opener_(std::move(opener)),
      channel_(std::make_unique<ClosedChannel>()),
      receiveBuffer_(std::make_unique<std::uint8_t[]>(kReceiveBufferSize)) {}

Link::~Link() {
    channel_->ClosePort();
}

bool Link::OpenPort(const std::string& device, int speed, std::string* reason) {
    OpenFailure failure;
    const bool opened = OpenPort(device, speed, failure);
    if (!opened && reason) *reason = failure.reason;
    return opened;
}

bool Link::OpenPort(const std::string& device, int speed, OpenFailure& failure) {
    if (channel_->IsOpen()) return true;
    std::unique_ptr<ByteChannel> opened = opener_ ? opener_(device, speed, failure) : nullptr;
    if (!opened) {
        if (failure.reason.empty()) failure.reason = "cannot be opened";
        return false;
    }
    channel_ = std::move(opened);
    return true;
}

std::optional<LineClaim> Link::ClaimLine() {
    bool expected = false;
    if (!claimed_.compare_exchange_strong(expected, true)) return std::nullopt;
    cancelled_ = false;
    channel_->InterruptWrites(false);
    return LineClaim(this);
}

bool Link::SendFrame(const LineClaim&) {
    if (!channel_->IsOpen()) return false;
    std::vector<std::uint8_t> bytes = LayOutFrame(frame_);
    if (bytes.empty()) return false;
    return channel_->SendBytes(bytes) == static_cast<long>(bytes.size());
}

Outcome Link::FailedSend() const {
    if (channel_->WasLost()) return Outcome::PortLost;
    return channel_->IsOpen() ? Outcome::WriteFailed : Outcome::NotOpen;
}

ReceiveEnd Link::Receive(const LineClaim&, ReplyShape& shape, const ReceiveWatch& watch) {
    // A stop wakes the wait where it blocks, as a cancel does.
    std::stop_callback wakeOnStop(watch.stop, [this] { channel_->Wake(); });
    const auto start = Clock::now();
    const auto deadline = start + watch.timeout;
    auto lastArrival = start;
    Gathered state = shape.Start();
    ReceiveEnd end;
    auto finish = [&](Outcome outcome) {
        end.outcome = outcome;
        return end;
    };
    for (;;) {
        // Everything waiting is taken first, so a complete reply is seen at once.
        for (std::span<std::uint8_t> room = shape.Room(); !room.empty(); room = shape.Room()) {
            const std::size_t n = channel_->ReadAvailable(room);
            if (n == 0) break;
            end.gathered += n;
            lastArrival = Clock::now();
            state = shape.Add(n);
            if (state == Gathered::Complete) return finish(Outcome::Accepted);
            if (state == Gathered::Refused) return finish(Outcome::Unexpected);
        }
        if (watch.tick) watch.tick();
        const auto now = Clock::now();
        const bool quietEnough = now - lastArrival >= watch.quiet;
        if (state == Gathered::CompleteUnlessMore && (quietEnough || now > deadline))
            return finish(Outcome::Accepted);
        if (watch.stop.stop_requested() || cancelled_) return finish(Outcome::Cancelled);
        if (now > deadline) return finish(Outcome::NoAnswer);
        if (watch.stall.count() > 0 && end.gathered > 0 && now - lastArrival >= watch.stall) {
            end.stalled = true;
            return finish(Outcome::NoAnswer);
        }
        if (!channel_->IsOpen()) {
            // Nothing more can come: a reply that may be complete is.
            if (state == Gathered::CompleteUnlessMore) return finish(Outcome::Accepted);
            return finish(channel_->WasLost() ? Outcome::PortLost : Outcome::NotOpen);
        }
        if (shape.Room().empty()) return finish(Outcome::Unexpected);  // no room left: overflow
        if (watch.pump) watch.pump();
        // Blocks until the first moment the loop has something to decide: the
        // deadline, the end of the quiet or of the stall allowance, the next pump or
        // tick. Bytes, a cancel and a stop end the wait earlier.
        const auto passed = Clock::now();
        auto until = deadline;
        if (state == Gathered::CompleteUnlessMore)
            until = std::min(until, lastArrival + watch.quiet);
        if (watch.stall.count() > 0 && end.gathered > 0)
            until = std::min(until, lastArrival + watch.stall);
        if (watch.pump) until = std::min(until, passed + pumpInterval_);
        if (watch.tick) until = std::min(until, passed + kTickEvery);
        channel_->WaitReadable(Until(until, passed) + milliseconds(1));
    }
}

ExchangeResult Link::Exchange(const LineClaim& claim, const CommandFrame& request,
                              const ExchangeOptions& options) {
    ExchangeResult result;
    result.command = request.command;
    lastReceived_ = 0;
    struct Remember {
        std::uint8_t& last;
        std::uint8_t command;
        ~Remember() { last = command; }
    } remember{lastCommand_, request.command};
    const std::optional<CommandEntry> entry = FindCommand(request.command);
    frame_ = request;
    if (!channel_->IsOpen()) {
        result.outcome = Outcome::NotOpen;
    } else if (!SendFrame(claim)) {
        result.outcome = FailedSend();
        result.systemReason = channel_->LastError();
    } else {
        const std::size_t expected = entry && entry->replyLength > 0 ? entry->replyLength : 0;
        BufferedReply reply(ReceiveBuffer(), expected, entry ? entry->complete : nullptr);
        // A splicer that answered the last request (or the goodbye of an earlier
        // run) late must not have that answer taken for this one.
        for (const std::uint8_t late : {lastCommand_, cmd::Disconnect})
            if (late != 0 && late != request.command) reply.DropLateAnswersTo(late);
        ReceiveWatch watch;
        watch.timeout = options.timeout.value_or(milliseconds(entry ? entry->timeoutMs : 1500));
        watch.pump = options.pump;
        const ReceiveEnd end = Receive(claim, reply, watch);
        lastReceived_ = reply.Bytes().size();
        result.reply = Reply();
        switch (end.outcome) {
            case Outcome::Accepted:
            case Outcome::NoAnswer:
                result.outcome = JudgeGathered(entry, end.outcome, Reply(), request.command);
                break;
            case Outcome::PortLost:
                result.outcome = Outcome::PortLost;
                result.systemReason = channel_->LastError();
                break;
            default:
                result.outcome = end.outcome;
                break;
        }
    }
    return result;
}

ExchangeResult Link::Exchange(const CommandFrame& request, const ExchangeOptions& options) {
    if (!channel_->IsOpen()) {
        ExchangeResult result;
        result.command = request.command;
        result.outcome = Outcome::NotOpen;
        return result;
    }
    std::optional<LineClaim> claim = ClaimLine();
    if (!claim) {
        ExchangeResult result;
        result.command = request.command;
        result.outcome = Outcome::Busy;
        return result;
    }
    return Exchange(*claim, request, options);
}

ReceiveEnd Link::ReceiveBytes(const LineClaim& claim, std::size_t expected,
                              const ReceiveWatch& watch) {
    BufferedReply reply(ReceiveBuffer(), expected);
    const ReceiveEnd end = Receive(claim, reply, watch);
    lastReceived_ = end.gathered;
    return end;
}

std::size_t Link::DiscardUntilQuiet(const LineClaim& claim, milliseconds quiet, milliseconds limit,
                                    std::stop_token stop, const Pump& pump) {
    Scrap scrap;
    ReceiveWatch watch;
    watch.timeout = limit;
    watch.quiet = quiet;
    watch.stop = std::move(stop);
    watch.pump = pump;
    Receive(claim, scrap, watch);
    return scrap.Dropped();
}

}  // namespace velmora
