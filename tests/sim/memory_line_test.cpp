// The virtual splicer on either of its lines, seen from the program's end: the
// same exchanges must come out the same over a pseudo-terminal and in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "serial/byte_channel.h"
#include "serial/serial_port.h"
#include "sim/virtual_splicer.h"

namespace velmora::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr int kSpeed = 115200;
const Bytes kHandshake = {0x87, 0x60, 0x01, 0x00, 0xE8};
const Bytes kHandshakeAck = {0x87, 0x60, 0x01, 0xAC, 0x94};

// Takes in bytes until they end with `tail` or, if `untilLost`, until the line
// drops. Gives up after a few seconds; returns what came and how the last wait ended.
std::pair<Bytes, WaitResult> Receive(ByteChannel& end, const Bytes& tail, bool untilLost = false) {
    Bytes got;
    WaitResult state = WaitResult::TimedOut;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!untilLost && got.size() >= tail.size() &&
            std::equal(tail.rbegin(), tail.rend(), got.rbegin()))
            break;
        state = end.WaitReadable(50ms);
        if (state == WaitResult::Readable) {
            std::uint8_t buffer[64];
            const std::size_t n = end.ReadAvailable(buffer);
            got.insert(got.end(), buffer, buffer + n);
        } else if (state != WaitResult::TimedOut) {
            break;
        }
    }
    // A read may meet the hang-up before a wait does: the channel is then closed.
    if (state == WaitResult::NotOpen && end.WasLost()) state = WaitResult::PortLost;
    return {got, state};
}

class SimLineTest : public ::testing::TestWithParam<bool> {
  protected:
    void Start(SplicerOptions options = {}, Fault handshakeFault = {}) {
        options.inMemory = GetParam();
        splicer = std::make_unique<VirtualSplicer>(options);
        splicer->SetFault(cmd::Handshake, handshakeFault);
        std::string error;
        ASSERT_TRUE(splicer->Start(&error)) << error;
    }

    // The program's end, opened as the program would: nullptr when it cannot be.
    std::unique_ptr<ByteChannel> OpenEnd() {
        if (splicer->InMemory()) return splicer->OpenProgramChannel(kSpeed);
        auto port = std::make_unique<SerialPort>();
        if (!port->OpenPort(splicer->PortPath(), kSpeed)) return nullptr;
        return port;
    }

    std::unique_ptr<VirtualSplicer> splicer;
};

TEST_P(SimLineTest, ExchangesComeOutAlike) {
    struct Case {
        const char* what;
        Fault fault;
        Bytes reply;
        bool lost;  // the splicer drops the line after the reply
    } cases[] = {
        {"handshake", {}, kHandshakeAck, false},
        {"hang-up after two bytes", {FaultKind::HangUp, 2}, {0x87, 0x60}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start({}, c.fault);
        // The paths must tell the lines apart: a real device, or a name no device has.
        EXPECT_EQ(splicer->PortPath().starts_with("/dev/"), !GetParam());
        auto end = OpenEnd();
        ASSERT_TRUE(end && end->IsOpen());
        ASSERT_EQ(end->SendBytes(kHandshake), static_cast<long>(kHandshake.size()));
        auto [reply, state] = Receive(*end, c.reply, c.lost);
        if (c.lost) {
            // Bytes still on their way when the line drops may be lost with it
            // (a pseudo-terminal loses them); those that come are the reply's first.
            ASSERT_LE(reply.size(), c.reply.size());
            EXPECT_TRUE(std::equal(reply.begin(), reply.end(), c.reply.begin()));
        } else {
            EXPECT_EQ(reply, c.reply);
        }
        ASSERT_TRUE(splicer->WaitForFrames(1, 5s));
        EXPECT_EQ(splicer->ReceivedFrames().front(), kHandshake);
        EXPECT_EQ(splicer->HungUp(), c.lost);
        if (c.lost) {
            EXPECT_EQ(state, WaitResult::PortLost);
            EXPECT_TRUE(end->WasLost());
            // A dropped line stays dropped for whoever opens it next (a pseudo-terminal's
            // number may meanwhile belong to another test's line).
            if (GetParam()) {
                auto again = OpenEnd();
                EXPECT_TRUE(!again || !again->IsOpen());
            }
        } else {
            // The line outlives the program's close: a later open is answered alike...
            end->ClosePort();
            end = OpenEnd();
            ASSERT_TRUE(end && end->IsOpen());
            ASSERT_EQ(end->SendBytes(kHandshake), static_cast<long>(kHandshake.size()));
            EXPECT_EQ(Receive(*end, c.reply).first, c.reply);
            // ...until the splicer stops, which the open end sees as a hang-up.
            splicer->Stop();
            EXPECT_EQ(Receive(*end, {}, true).second, WaitResult::PortLost);
        }
    }
}

// A program that stops reading in the middle of a long reply, then throws the
// rest away or closes, gets the line back: the splicer, held up for room, goes on.
TEST_P(SimLineTest, AProgramThatStopsReadingGetsTheLineBack) {
    SplicerOptions unpaced;
    unpaced.fast = true;
    Start(unpaced);
    splicer->SetHandler(cmd::ReadSplice, [](const Request&) { return Bytes(1 << 16, 0x00); });
    auto end = OpenEnd();
    ASSERT_TRUE(end && end->IsOpen());
    const Bytes request = LayOutFrame(MakeRequest(cmd::ReadSplice, Bytes{0x00}));
    ASSERT_EQ(end->SendBytes(request), static_cast<long>(request.size()));
    ASSERT_EQ(end->WaitReadable(5s), WaitResult::Readable);
    // Time for the splicer to fill the line and wait for room (no harm if it has not).
    std::this_thread::sleep_for(50ms);
    end->DiscardInput();
    EXPECT_FALSE(Receive(*end, {0x00}).first.empty());
    end->ClosePort();
    end = OpenEnd();
    ASSERT_TRUE(end && end->IsOpen());
    ASSERT_EQ(end->SendBytes(kHandshake), static_cast<long>(kHandshake.size()));
    // Whatever is left of the long reply may come first.
    const Bytes reply = Receive(*end, kHandshakeAck).first;
    ASSERT_GE(reply.size(), kHandshakeAck.size());
    EXPECT_TRUE(std::equal(kHandshakeAck.rbegin(), kHandshakeAck.rend(), reply.rbegin()));
}

INSTANTIATE_TEST_SUITE_P(Lines, SimLineTest, ::testing::Values(false, true), [](const auto& info) {
    return info.param ? "InMemory" : "PseudoTerminal";
});

}  // namespace
}  // namespace velmora::sim
