// One exchange at a time over a real pseudo-terminal with the virtual splicer.
#include "protocol/link.h"

#include <gtest/gtest.h>

#include <optional>
#include <stop_token>
#include <thread>

#include "protocol/command_catalogue.h"
#include "protocol/outcome_texts.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Hex;

class LinkTest : public test::SplicerTest {
  protected:
    Outcome Handshake(int timeoutMs = 1500, const Pump& pump = {}) {
        return link
            .Exchange(FixedRequest(cmd::Handshake), {pump, std::chrono::milliseconds(timeoutMs)})
            .outcome;
    }
    static std::string StatusOf(Outcome outcome) {
        const Message* text = StandardFailureText(outcome);
        return text ? Say(*text) : "";
    }
};

TEST_F(LinkTest, EachMisbehaviourGetsItsOutcomeAndText) {
    struct Case {
        Fault fault;
        Outcome outcome;
        const char* status;  // nullptr: the page words it
        int replyLength;
    } cases[] = {
        {{FaultKind::Trickle, 3}, Outcome::Accepted, nullptr, 5},  // gathered from pieces
        {{FaultKind::Delay, 100}, Outcome::Accepted, nullptr, 5},
        {{FaultKind::Silent}, Outcome::NoAnswer, "No answer,please Exit Program", 0},
        {{FaultKind::BadCheck}, Outcome::BadCheck, "check code error", 5},
        {{FaultKind::Reject}, Outcome::Rejected, "The splicer refused the request", 5},
        {{FaultKind::WrongEcho}, Outcome::Unexpected, nullptr, 5},
        {{FaultKind::Short, 3}, Outcome::BadCheck, "check code error", 3},
    };
    ASSERT_TRUE(OpenLink());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(sim::FaultKindName(c.fault.kind)));
        splicer->SetFault(cmd::Handshake, c.fault);
        const Outcome outcome = Handshake(c.fault.kind == FaultKind::Short ? 300 : 1500);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(link.Reply().size(), static_cast<std::size_t>(c.replyLength));
        EXPECT_EQ(StatusOf(outcome), c.status ? c.status : "");
    }
}

// The largest request, a 1000-byte frame, goes out whole; one data byte more is
// refused before anything goes on the line.
TEST_F(LinkTest, TheLargestFrameGoesOutWholeAndOneByteMoreNotAtAll) {
    ASSERT_TRUE(OpenLink());
    auto claim = link.ClaimLine();
    ASSERT_TRUE(claim);
    for (const int size : {kMaxFrameData + 1, kMaxFrameData}) {
        link.Frame() = MakeRequest(cmd::WriteSplice, std::vector<std::uint8_t>(size, 0x11));
        EXPECT_EQ(link.SendFrame(*claim), size == kMaxFrameData) << size;
    }
    EXPECT_TRUE(splicer->WaitForBytes(kMaxFrameData + 4, std::chrono::seconds(5)));
    EXPECT_EQ(splicer->BytesReceived(), kMaxFrameData + 4u);
}

TEST_F(LinkTest, ASecondExchangeFromInsideThePumpIsRefused) {
    ASSERT_TRUE(OpenLink());
    splicer->SetFault(cmd::Handshake, {FaultKind::Delay, 100});
    std::optional<Outcome> nested;
    Pump pump = [&] {
        if (!nested) nested = link.Exchange(FixedRequest(cmd::Disconnect)).outcome;
    };
    EXPECT_EQ(Handshake(1500, pump), Outcome::Accepted);
    ASSERT_TRUE(nested);
    EXPECT_EQ(*nested, Outcome::Busy);
    // Only the first request went on the line.
    ASSERT_TRUE(splicer->WaitForFrames(1, std::chrono::seconds(1)));
    EXPECT_EQ(splicer->ReceivedFrames().size(), 1u);
    EXPECT_FALSE(link.LineBusy());
}

// A port never opened, or lost with a pulled cable, sends nothing until it is opened again.
TEST_F(LinkTest, APulledCableEndsTheExchangeAndTheConnectionCanBeMadeAgain) {
    EXPECT_EQ(Handshake(), Outcome::NotOpen);
    EXPECT_EQ(StatusOf(Outcome::NotOpen), "Communication Disconnect");
    ASSERT_TRUE(OpenLink());
    splicer->SetFault(cmd::Handshake, {FaultKind::HangUp});
    EXPECT_EQ(Handshake(), Outcome::PortLost);
    EXPECT_EQ(StatusOf(Outcome::PortLost), "Port lost, please check the cable and connect again");
    EXPECT_FALSE(link.Port().IsOpen());
    EXPECT_TRUE(link.Port().WasLost());
    EXPECT_EQ(Handshake(), Outcome::NotOpen);
    EXPECT_EQ(splicer->ReceivedFrames().size(), 1u);

    sim::SplicerOptions options;
    options.fast = true;
    Restart(options);
    ASSERT_TRUE(OpenLink());
    EXPECT_FALSE(link.Port().WasLost());
    EXPECT_EQ(Handshake(), Outcome::Accepted);
}

// A wait blocks on the line until there is something to do: its deadline ends it,
// and a cancel or a stop from another thread wakes it at once (far before its
// minute), on a pseudo-terminal and on the in-memory line alike; so does a cancel
// from the pump.
TEST_F(LinkTest, ADeadlineACancelOrAStopEndsAWaitOnASilentLine) {
    enum class How { Deadline, Cancel, Stop, PumpCancel };
    const struct {
        How how;
        Outcome outcome;
        int timeoutMs;
    } cases[] = {
        {How::Deadline, Outcome::NoAnswer, 200},
        {How::Cancel, Outcome::Cancelled, 60000},
        {How::Stop, Outcome::Cancelled, 60000},
        {How::PumpCancel, Outcome::Cancelled, 60000},
    };
    for (const bool inMemory : {false, true}) {
        sim::SplicerOptions options;
        options.fast = true;
        options.inMemory = inMemory;
        Restart(options);
        ASSERT_TRUE(OpenLink());
        splicer->SetFault(cmd::Handshake, {FaultKind::Silent});
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c.how)) + (inMemory ? " in memory" : ""));
            std::stop_source stop;
            const std::size_t sent = splicer->ReceivedFrames().size() + 1;
            std::optional<LineClaim> claim = link.ClaimLine();
            ASSERT_TRUE(claim);
            std::jthread other([&] {
                if (!splicer->WaitForFrames(sent, std::chrono::seconds(10))) return;
                if (c.how == How::Cancel) link.Cancel();
                if (c.how == How::Stop) stop.request_stop();
            });
            link.Frame() = FixedRequest(cmd::Handshake);
            ASSERT_TRUE(link.SendFrame(*claim));
            BufferedReply reply(link.ReceiveBuffer(), 5);
            ReceiveWatch watch;
            watch.timeout = std::chrono::milliseconds(c.timeoutMs);
            watch.stop = stop.get_token();
            if (c.how == How::PumpCancel) watch.pump = [&] { link.Cancel(); };
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(link.Receive(*claim, reply, watch).outcome, c.outcome);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        }
    }
}

}  // namespace
}  // namespace velmora
