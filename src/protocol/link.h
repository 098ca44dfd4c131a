#pragma once
// The request/response machinery all pages share: the channel to the splicer,
// the next request, the receive buffer, one exchange at a time, and the one
// receive loop that every reply, download and drain of the program goes through.
// Failures come back as data (an outcome and what arrived); the front ends word them.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <utility>

#include "protocol/frame.h"
#include "serial/byte_channel.h"

namespace velmora {

// Called between the passes of a wait so that a window can keep painting.
using Pump = std::function<void()>;

inline constexpr std::size_t kReceiveBufferSize = 200000;
// How often a wait with a pump calls it, unless the link is told otherwise: a
// window must keep painting. Without a pump (and without a tick) a wait blocks on
// the channel until bytes come, its next deadline, or a stop or cancel wakes it.
inline constexpr std::chrono::milliseconds kWaitSlice{10};
// How often a wait with a tick (progress that moves with time) calls it.
inline constexpr std::chrono::milliseconds kTickEvery{100};
// Once a reply may be complete, a line quiet for this long means nothing more is coming.
inline constexpr std::chrono::milliseconds kQuietLine{200};
// A stream that has begun and then stays silent this long has stopped for good.
inline constexpr std::chrono::milliseconds kStalledLine{3000};

enum class Outcome {
    Accepted,
    NoAnswer,     // nothing (or not enough) arrived in time
    BadCheck,     // the reply's last byte is not its check byte
    Rejected,     // 0xEC in the command position
    Unexpected,   // intact, but not the reply to this request
    NotOpen,      // the port is closed
    PortLost,     // the device went away during the exchange
    Busy,         // another exchange is in flight; nothing was sent
    WriteFailed,  // the request could not be written
    Cancelled,    // stopped on request (the user, Ctrl-C, the program closing)
};

// The verdict on a gathered reply as an exchange's outcome.
Outcome OutcomeOf(ReplyVerdict verdict);

// How the bytes gathered so far stand.
enum class Gathered {
    More,                // not complete yet
    Complete,            // everything that belongs to the reply is in
    CompleteUnlessMore,  // complete, but more may still belong to it: ends once the line is quiet
    Refused,             // cannot be the awaited reply; nothing more is taken
};

// What one reply looks like: where its bytes go and when it is complete. The
// receive loop never reads more than Room() offers, so nothing is taken from the
// line that belongs to whatever follows.
class ReplyShape {
  public:
    virtual ~ReplyShape() = default;
    // How the reply stands before anything has arrived.
    virtual Gathered Start() { return Gathered::More; }
    virtual std::span<std::uint8_t> Room() = 0;
    // Counts `n` more bytes written into Room().
    virtual Gathered Add(std::size_t n) = 0;
};

// A reply gathered into `buffer` until `expected` bytes (at least one) are in,
// or, with a rule, until the rule says it is complete. Bytes beyond the expected
// count that arrive in the same read stay and count, so a surplus shifts the
// byte taken as the check byte, as on the line.
class BufferedReply final : public ReplyShape {
  public:
    using Rule = Gathered (*)(std::span<const std::uint8_t> gathered);
    BufferedReply(std::span<std::uint8_t> buffer, std::size_t expected, Rule rule = nullptr)
        : buffer_(buffer), expected_(std::min(expected, buffer.size())), rule_(rule) {}
    std::span<std::uint8_t> Room() override { return buffer_.subspan(gathered_); }
    Gathered Add(std::size_t n) override;
    std::span<const std::uint8_t> Bytes() const { return buffer_.first(gathered_); }

    // Whole, intact frames of `command` at the front are a late answer to an
    // earlier request, not this reply: they are dropped as they complete.
    void DropLateAnswersTo(std::uint8_t command);

  private:
    bool IsLate(std::uint8_t command) const;
    bool DropLateAnswer();

    std::span<std::uint8_t> buffer_;
    std::size_t expected_;
    Rule rule_;
    std::size_t gathered_ = 0;
    std::array<std::uint8_t, 2> late_{};
    std::size_t lateCount_ = 0;
};

// How long and how a receive may wait.
struct ReceiveWatch {
    std::chrono::milliseconds timeout{1500};
    // For a reply that is CompleteUnlessMore.
    std::chrono::milliseconds quiet = kQuietLine;
    // Once bytes have come, a line silent this long means the splicer stopped
    // sending: the receive ends without waiting out its time-out (zero: never).
    std::chrono::milliseconds stall{0};
    std::stop_token stop;
    Pump pump;
    // Called on each pass (after reading): for progress that moves with time.
    std::function<void()> tick;
};

struct ReceiveEnd {
    // Accepted (complete), NoAnswer (deadline passed first, or the line stalled),
    // Unexpected (the shape refused the bytes), Cancelled, PortLost, NotOpen.
    Outcome outcome = Outcome::NoAnswer;
    std::size_t gathered = 0;
    bool stalled = false;  // NoAnswer because bytes stopped coming part way
};

// What an exchange reports.
struct ExchangeResult {
    Outcome outcome = Outcome::NoAnswer;
    std::uint8_t command = 0;
    // What arrived, in the link's receive buffer (valid until the next receive).
    std::span<const std::uint8_t> reply;
    // What the system said, where it said anything (a failed write, a lost port).
    std::string systemReason;
};

struct ExchangeOptions {
    Pump pump;
    // Overrides the command table's time-out (tests, demonstrations).
    std::optional<std::chrono::milliseconds> timeout;
};

class Link;

// Proof of owning the line. While one exists no other exchange can start; it is
// held for one request and reply, or for a whole download or firmware transfer.
class LineClaim {
  public:
    LineClaim(LineClaim&& other) noexcept : link_(std::exchange(other.link_, nullptr)) {}
    LineClaim& operator=(LineClaim&&) = delete;
    ~LineClaim();

  private:
    friend class Link;
    explicit LineClaim(Link* link) : link_(link) {}
    Link* link_;
};

// Why a channel could not be opened.
struct OpenFailure {
    std::string reason;         // what the system reported
    bool accessDenied = false;  // the system refused the device to this user
};

// Opens the channel for `device` at `speed`; nullptr with `failure` set on failure.
using ChannelOpener = std::function<std::unique_ptr<ByteChannel>(const std::string& device,
                                                                 int speed, OpenFailure& failure)>;
// The serial port of the platform.
std::unique_ptr<ByteChannel> OpenSerialChannel(const std::string& device, int speed,
                                               OpenFailure& failure);

class Link {
  public:
    explicit Link(ChannelOpener opener = OpenSerialChannel);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens `device` (an open channel stays as it is and this is true). On
    // failure `reason` says what the system reported.
    bool OpenPort(const std::string& device, int speed, std::string* reason = nullptr);
    // The same, also telling a device refused to this user from other failures.
    bool OpenPort(const std::string& device, int speed, OpenFailure& failure);
    // The channel; a closed one when nothing is open.
    ByteChannel& Port() { return *channel_; }
    const ByteChannel& Port() const { return *channel_; }

    // The line for this caller alone, or nullopt while another exchange runs.
    std::optional<LineClaim> ClaimLine();
    bool LineBusy() const { return claimed_.load(); }

    // Makes a running wait return early (the user cancelled, the program is
    // closing): it is woken on the channel at once. Cleared by the next claim.
    void Cancel() {
        cancelled_ = true;
        channel_->InterruptWrites(true);
        channel_->Wake();
    }
    bool CancelRequested() const { return cancelled_.load(); }

    // How often a wait calls its pump (kWaitSlice unless set). A program whose pumps
    // only show how long a wait has lasted sets seconds here; its cancels wake the
    // wait themselves.
    void SetPumpInterval(std::chrono::milliseconds interval) { pumpInterval_ = interval; }

    // The next request, filled by a page before SendFrame.
    CommandFrame& Frame() { return frame_; }
    // Discards what has arrived and writes Frame(). False when the port is
    // closed, the frame is malformed, or the write failed.
    bool SendFrame(const LineClaim&);

    // The one receive loop: gathers `shape`'s bytes until it is complete, the
    // watch's time-out passes (this pass still reads), a stop or cancel comes, or
    // the channel is lost. Reads before it pumps, so a reply is noticed as soon as
    // it is in; blocks on the channel in between, never spinning.
    ReceiveEnd Receive(const LineClaim&, ReplyShape& shape, const ReceiveWatch& watch);

    // Sends `request` and gathers its reply as the command table says (length or
    // completion rule, time-out), then judges it. Under the caller's claim, or
    // claiming the line for this one exchange.
    ExchangeResult Exchange(const LineClaim&, const CommandFrame& request,
                            const ExchangeOptions& options = {});
    ExchangeResult Exchange(const CommandFrame& request, const ExchangeOptions& options = {});

    // Gathers up to `expected` bytes into the receive buffer (a reply without a
    // frame of its own, such as the splicer's text after the firmware handshakes).
    ReceiveEnd ReceiveBytes(const LineClaim&, std::size_t expected, const ReceiveWatch& watch);

    // Drops whatever the splicer still sends until the line has been quiet for
    // `quiet`, at most for `limit`; returns the bytes dropped.
    std::size_t DiscardUntilQuiet(const LineClaim&, std::chrono::milliseconds quiet,
                                  std::chrono::milliseconds limit, std::stop_token stop = {},
                                  const Pump& pump = {});

    // The bytes of the last receive.
    std::span<const std::uint8_t> Reply() const { return {receiveBuffer_.get(), lastReceived_}; }
    std::span<std::uint8_t> ReceiveBuffer() { return {receiveBuffer_.get(), kReceiveBufferSize}; }
    // Low 8 bits of the sum of all but the last byte of the last receive.
    std::uint8_t ReplyChecksum() const { return velmora::ReplyChecksum(Reply()); }

  private:
    friend class LineClaim;
    void Release() { claimed_ = false; }
    Outcome FailedSend() const;

    // The command of the exchange before this one: its answer may still come late.
    std::uint8_t lastCommand_ = 0;
    ChannelOpener opener_;
    std::unique_ptr<ByteChannel> channel_;
    CommandFrame frame_;
    std::unique_ptr<std::uint8_t[]> receiveBuffer_;
    std::size_t lastReceived_ = 0;
    std::atomic<bool> claimed_{false};
    std::atomic<bool> cancelled_{false};
    std::chrono::milliseconds pumpInterval_ = kWaitSlice;
};

}  // namespace velmora
