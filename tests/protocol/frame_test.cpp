// Request frames from the command table, and how replies are judged.
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/command_catalogue.h"
#include "sim/splicer_frames.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Hex;

TEST(Requests, FixedRequestsCarryTheirSumCheck) {
    struct Case {
        std::uint8_t command;
        Bytes frame;
    } cases[] = {
        {cmd::Handshake, {0x87, 0x60, 0x01, 0x00, 0xE8}},
        {cmd::FirmwareHandshake1, {0x87, 0x61, 0x01, 0x00, 0xE9}},
        {cmd::FirmwareHandshake2, {0x87, 0x62, 0x01, 0x00, 0xEA}},
        {cmd::RecordCount, {0x87, 0x63, 0x01, 0x00, 0xEB}},
        {cmd::Disconnect, {0x87, 0x68, 0x01, 0x00, 0xF0}},
        {cmd::ReadSplice, {0x87, 0x6A, 0x01, 0x00, 0xF2}},
        {cmd::ReadHeater, {0x87, 0x6C, 0x01, 0x00, 0xF4}},
        {cmd::ReadEnvironment, {0x87, 0x6E, 0x01, 0x00, 0xF6}},
        {cmd::ImageList, {0x87, 0x70, 0x01, 0x00, 0xF8}},
        {cmd::ReadConfig, {0x87, 0x72, 0x01, 0x00, 0xFA}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(LayOutFrame(FixedRequest(c.command))), Hex(c.frame));
        ASSERT_TRUE(FindCommand(c.command));
        EXPECT_EQ(FindCommand(c.command)->request, RequestData::Zero);
    }
}

// The virtual splicer checks requests by rules of its own: every request the
// program builds passes them, and one with a slip in its check byte does not.
TEST(Requests, TheSplicerSideAcceptsWhatTheProgramBuildsAndNoSlip) {
    for (const CommandFrame& request :
         {FixedRequest(cmd::Handshake), RecordDownloadRequest(300), RecordDownloadRequest(5263),
          ImageDownloadRequest(255), WriteRequest(cmd::WriteHeater, Bytes(28, 0xA5))})
        EXPECT_TRUE(sim::RequestCheckHolds(LayOutFrame(request))) << Hex(LayOutFrame(request));
    Bytes corrupted = LayOutFrame(FixedRequest(cmd::Handshake));
    corrupted.back() ^= 0x40;
    const Bytes plainSum = LayOutFrame(MakeRequest(cmd::ImageDownload, Bytes{3, 0x20}));
    for (const Bytes& slip : {corrupted, plainSum})
        EXPECT_FALSE(sim::RequestCheckHolds(slip)) << Hex(slip);
}

TEST(Requests, WritesCarryTheRecordWithARunningSum) {
    for (std::uint8_t code : {cmd::WriteSplice, cmd::WriteHeater, cmd::WriteConfig}) {
        auto entry = FindCommand(code);
        ASSERT_TRUE(entry);
        Bytes record(static_cast<std::size_t>(entry->recordLength));
        for (std::size_t i = 0; i < record.size(); ++i)
            record[i] = static_cast<std::uint8_t>(i * 7 + 1);
        Bytes frame = LayOutFrame(WriteRequest(code, record));
        ASSERT_EQ(frame.size(), record.size() + 4);
        EXPECT_EQ(frame[2], record.size());
        EXPECT_EQ(frame.back(), SumCheck(std::span(frame).first(frame.size() - 1)));
        EXPECT_TRUE(std::equal(record.begin(), record.end(), frame.begin() + 3));
    }
    EXPECT_EQ(FindCommand(cmd::WriteSplice)->recordLength, 84);
    EXPECT_EQ(FindCommand(cmd::WriteHeater)->timeoutMs, 500000);
    EXPECT_FALSE(FindCommand(0x65));
}

TEST(Requests, MalformedFramesAreNotLaidOut) {
    CommandFrame frame = FixedRequest(cmd::Handshake);
    frame.dataLength = 2;  // more than the data held
    EXPECT_TRUE(LayOutFrame(frame).empty());
    frame.dataLength = -1;
    EXPECT_TRUE(LayOutFrame(frame).empty());
    frame.data.assign(1000, 0);
    frame.dataLength = kMaxFrameData;  // the largest fills the 1000-byte frame buffer
    EXPECT_EQ(LayOutFrame(frame).size(), 1000u);
    frame.dataLength = kMaxFrameData + 1;
    EXPECT_TRUE(LayOutFrame(frame).empty());
    // Bytes beyond the stated length stay unsent.
    frame.dataLength = 1;
    EXPECT_EQ(LayOutFrame(frame).size(), 5u);
}

TEST(Replies, JudgedInOrderNothingCheckRejectionContent) {
    struct Case {
        Bytes reply;
        std::uint8_t command;
        bool ack;
        ReplyVerdict verdict;
    } cases[] = {
        {{}, cmd::Handshake, true, ReplyVerdict::NoAnswer},
        {{0x87, 0x60, 0x01, 0xAC, 0x94}, cmd::Handshake, true, ReplyVerdict::Accepted},
        {{0x87, 0x60, 0x01, 0xAC, 0x95}, cmd::Handshake, true, ReplyVerdict::BadCheck},
        {{0x87, 0x60, 0x01, 0xAB, 0x93}, cmd::Handshake, true, ReplyVerdict::Unexpected},
        {{0x87, 0xEC, 0x01, 0xAC, 0x20}, cmd::WriteSplice, true, ReplyVerdict::Rejected},
        {{0x87, 0x61, 0x01, 0xAC, 0x95}, cmd::Handshake, true, ReplyVerdict::Unexpected},
        {{0x86, 0x60, 0x01, 0xAC, 0x93}, cmd::Handshake, true, ReplyVerdict::Unexpected},
        {{0x87, 0x68, 0x01, 0x00, 0xF0}, cmd::Disconnect, false, ReplyVerdict::Accepted},
        // Surplus bytes shift the position taken as the check byte.
        {{0x87, 0x60, 0x01, 0xAC, 0x94, 0x00}, cmd::Handshake, true, ReplyVerdict::BadCheck},
        {{0x87, 0x60, 0x01}, cmd::Handshake, true, ReplyVerdict::BadCheck},
        {{0x87}, cmd::Handshake, true, ReplyVerdict::BadCheck},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeReply(c.reply, c.command, c.ack), c.verdict) << Hex(c.reply);
}

}  // namespace
}  // namespace velmora
