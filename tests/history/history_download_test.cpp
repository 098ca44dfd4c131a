#include "history/history_download.h"

#include <gtest/gtest.h>

#include <optional>

#include "history/history_texts.h"
#include "protocol/command_catalogue.h"
#include "protocol/outcome_texts.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Sizes = std::vector<std::size_t>;

void ExpectSampleRecords(const std::vector<SpliceRecord>& records, std::size_t count) {
    ASSERT_EQ(records.size(), count);
    for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(records[i].bytes, sim::SampleRecord(static_cast<int>(i))) << "record " << i;
}

struct Fed {
    std::vector<SpliceRecord> listed;
    Sizes batches;
    std::vector<int> progress;  // after each batch
};

// Feeds `stream` to a RecordStream in pieces of the given sizes (the last repeats).
Fed FeedInPieces(const Bytes& stream, int count, const Sizes& pieces) {
    std::vector<std::uint8_t> buffer(stream.size());
    RecordStream gatherer(buffer, count);
    Fed fed;
    for (std::size_t i = 0, offset = 0; offset < stream.size(); ++i) {
        const std::size_t n = std::min({pieces[std::min(i, pieces.size() - 1)],
                                        stream.size() - offset, gatherer.Room().size()});
        std::copy_n(stream.begin() + static_cast<long>(offset), n, gatherer.Room().begin());
        offset += n;
        const std::vector<SpliceRecord> ready = gatherer.Add(n);
        if (!ready.empty()) {
            fed.batches.push_back(ready.size());
            fed.progress.push_back(gatherer.Progress());
        }
        fed.listed.insert(fed.listed.end(), ready.begin(), ready.end());
        EXPECT_EQ(gatherer.Listed(), fed.listed.size());
    }
    EXPECT_TRUE(gatherer.Complete());
    EXPECT_TRUE(gatherer.Room().empty());
    return fed;
}

TEST(RecordStreamTest, RecordsArrivingInPiecesAreListedOnceCompleteAndOnlyOnce) {
    const Bytes stream = sim::SampleRecordStream(5);
    for (const Sizes& pieces : std::vector<Sizes>{
             {190}, {1}, {37, 1}, {2, 36, 39, 75, 38}, {3, 5000}, {39}, {76, 1, 113}}) {
        SCOPED_TRACE("first piece " + std::to_string(pieces[0]));
        ExpectSampleRecords(FeedInPieces(stream, 5, pieces).listed, 5);
    }
    // Progress follows the last listed record.
    EXPECT_EQ(FeedInPieces(stream, 5, {38}).progress, (std::vector<int>{0, 20, 40, 60, 100}));
    // A frame that does not hold up ends the listing: its head, its length, or a
    // time that is no real date; the records before it stay listed.
    for (const auto& [at, value] :
         std::vector<std::pair<std::size_t, std::uint8_t>>{{0, 0x00},
                                                           {38 + 1, 0x63},
                                                           {2 * 38 + 2, 0x21},
                                                           {3 * 38 + 3 + 1, 13},
                                                           {3 * 38 + 3 + 2, 0},
                                                           {3 * 38 + 3 + 3, 24}}) {
        Bytes garbled = stream;
        garbled[at] = value;
        std::vector<std::uint8_t> buffer(garbled.size());
        RecordStream gatherer(buffer, 5);
        std::copy(garbled.begin(), garbled.end(), gatherer.Room().begin());
        EXPECT_EQ(gatherer.Add(garbled.size()).size(), at / 38) << at;
        EXPECT_EQ(gatherer.Garbled(), at / 38) << at;
    }
}

TEST(RecordStreamTest, NeverGathersBeyondTheBufferOrTheExpectedLength) {
    std::vector<std::uint8_t> buffer(100);
    RecordStream tooMany(buffer, 10);  // only two records fit
    EXPECT_EQ(tooMany.Room().size(), 76u);
    tooMany.Add(500);  // a caller's slip must not push the count past the room
    EXPECT_EQ(tooMany.Received(), 76u);
    EXPECT_TRUE(tooMany.Room().empty());
    RecordStream none(buffer, -3);
    EXPECT_TRUE(none.Complete());
    EXPECT_TRUE(none.Add(0).empty());
}

Bytes CountReply(std::uint8_t low, std::uint8_t high) {
    Bytes reply{0x87, 0x63, 0x02, low, high};
    reply.push_back(SumCheck(reply));
    return reply;
}

class HistoryDownloadTest : public test::SplicerTest {
  protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallRecordCommands(*splicer, 5);
        ASSERT_TRUE(OpenLink());
    }
    // The Receive button up to the worker; the claim is kept for the download.
    ReceiveStart Begin() {
        claim.reset();
        std::optional<LineClaim> fresh = link.ClaimLine();
        EXPECT_TRUE(fresh.has_value());
        if (!fresh) return {};
        claim.emplace(std::move(*fresh));
        return BeginHistoryReceive(link, *claim);
    }
    // Runs the worker on this thread, keeping what it hands out and whether the
    // line could be claimed meanwhile and once the end is reported.
    DownloadResult Download(int count) {
        DownloadCallbacks callbacks;
        callbacks.records = [this](std::size_t first, const std::vector<SpliceRecord>& batch) {
            EXPECT_EQ(first, records.size()) << "a record skipped or listed twice";
            batchStarts.push_back(first);
            records.insert(records.end(), batch.begin(), batch.end());
            lineFreeDuring |= link.ClaimLine().has_value();
        };
        callbacks.progress = [this](int percent) { lastProgress = percent; };
        callbacks.finished = [this](const DownloadResult&) {
            lineFreeAtEnd = link.ClaimLine().has_value();
        };
        LineClaim held = std::move(*claim);
        claim.reset();
        return DownloadHistory(link, std::move(held), count, {}, callbacks);
    }

    std::optional<LineClaim> claim;
    std::vector<SpliceRecord> records;
    Sizes batchStarts;
    int lastProgress = -1;
    bool lineFreeDuring = false, lineFreeAtEnd = false;
};

// Only the count's low byte travels in the download request; its check byte adds
// the high byte. Counts that fetch nothing send no request; failures say why.
TEST_F(HistoryDownloadTest, CountAnswersDecideTheRequest) {
    using enum ReceiveStep;
    using enum Outcome;
    using sim::FaultKind;
    const std::string countRequest = "87 63 01 00 EB";
    auto holds = [](int count) {
        return "The splicer holds " + std::to_string(count) +
               " records, more than can be received at once (at most 5263)";
    };
    const struct {
        sim::Fault fault;
        Bytes reply;  // empty: the splicer's own answer
        ReceiveStep step;
        Outcome outcome;
        int count;
        std::string request;  // the last frame built; empty: the count request
        std::string status;   // empty: the earlier text stays
    } cases[] = {
        {{}, CountReply(0x05, 0), Download, Accepted, 5, "87 64 01 05 F1", ""},
        {{}, CountReply(0x2C, 0x01), Download, Accepted, 300, "87 64 01 2C 19", ""},
        {{}, CountReply(0x8F, 0x14), Download, Accepted, 5263, "87 64 01 8F 8F", ""},
        {{}, CountReply(0, 0), NoRecords, Accepted, 0, "", ""},
        {{}, CountReply(0x05, 0x80), TooMany, Accepted, 32773, "", holds(32773)},
        {{}, CountReply(0x90, 0x14), TooMany, Accepted, 5264, "", holds(5264)},
        // Every other answer to the count is the link's to judge (and word).
        {{FaultKind::Silent}, {}, Failed, NoAnswer, 0, "", "No answer,please Exit Program"},
        {{}, {0x87, 0x63, 0xEA}, Failed, BadCheck, 0, "", "check code error"},
    };
    std::vector<std::string> requested;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        sim::InstallRecordCommands(*splicer, 5);
        // Silent to a download request, so that the next count reply stands alone.
        splicer->SetHandler(cmd::RecordDownload, [](const sim::Request&) { return Bytes{}; });
        if (!c.reply.empty())
            splicer->SetHandler(cmd::RecordCount, [r = c.reply](const sim::Request&) { return r; });
        splicer->ClearFaults();
        splicer->SetFault(cmd::RecordCount, c.fault);
        const ReceiveStart start = Begin();
        claim.reset();
        EXPECT_EQ(start.step, c.step);
        EXPECT_EQ(start.outcome, c.outcome);
        EXPECT_EQ(start.count, c.count);
        EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())),
                  c.request.empty() ? countRequest : c.request);
        HistoryReceipt receipt;
        receipt.start = start;
        receipt.download.outcome = Outcome::Accepted;  // only the count exchange is judged here
        const std::string status = ReceiptFailureText(receipt);
        EXPECT_EQ(status.empty() ? "earlier" : status, c.status.empty() ? "earlier" : c.status);
        if (c.step == Download) requested.push_back(c.request);
    }
    // The splicer saw a download request after those counts only.
    ASSERT_TRUE(splicer->WaitForFrames(std::size(cases) + requested.size(), 5s));
    std::vector<std::string> downloads;
    for (const auto& frame : splicer->ReceivedFrames())
        if (frame[1] == cmd::RecordDownload) downloads.push_back(test::Hex(frame));
    EXPECT_EQ(downloads, requested);
}

// Records are listed one by one as they trickle in, while the line stays claimed;
// it is free by the time the end is reported.
TEST_F(HistoryDownloadTest, TrickledRecordsAreListedOneByOne) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Trickle, 1});
    const ReceiveStart start = Begin();
    ASSERT_EQ(start.step, ReceiveStep::Download);
    const DownloadResult result = Download(start.count);
    EXPECT_EQ(result.outcome, Outcome::Accepted);
    EXPECT_EQ(result.bytesReceived, 190u);
    EXPECT_EQ(result.recordsListed, 5u);
    ExpectSampleRecords(records, 5);
    EXPECT_EQ(batchStarts, (Sizes{0, 1, 2, 3, 4}));
    EXPECT_EQ(lastProgress, 100);
    EXPECT_FALSE(lineFreeDuring);
    EXPECT_TRUE(lineFreeAtEnd);
}

// A refused download request is a refusal, known from its first bytes: whether the
// splicer sends a bare refusal or its whole reply with 0xEC for the command, it is
// neither waited out as a stream that stopped after 0 records nor a garbled record.
TEST_F(HistoryDownloadTest, RefusedRequestIsARefusal) {
    for (const Bytes& refusal : {Bytes{0x87, 0xEC, 0x01, 0x00, 0x74}, Bytes{}}) {
        SCOPED_TRACE(test::Hex(refusal));
        sim::InstallRecordCommands(*splicer, 5);
        if (refusal.empty())
            splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Reject});
        else
            splicer->SetHandler(cmd::RecordDownload, [=](const sim::Request&) { return refusal; });
        HistoryReceipt receipt;
        receipt.start = Begin();
        receipt.download = Download(receipt.start.count);
        EXPECT_EQ(receipt.download.outcome, Outcome::Rejected);
        EXPECT_EQ(ReceiptFailureText(receipt), "The splicer refused the request");
        EXPECT_TRUE(records.empty());
    }
}

// A pulled cable ends the download at once, not at its 40-second deadline.
TEST_F(HistoryDownloadTest, PulledCableEndsTheDownload) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::HangUp, 2 * 38});
    const DownloadResult result = Download(Begin().count);
    EXPECT_EQ(result.outcome, Outcome::PortLost);
    EXPECT_EQ(Say(*StandardFailureText(result.outcome)),
              "Port lost, please check the cable and connect again");
    // Bytes still in the terminal when the line drops may be lost with it.
    EXPECT_LE(result.recordsListed, 2u);
    EXPECT_EQ(lastProgress, 0);
}

}  // namespace
}  // namespace velmora
