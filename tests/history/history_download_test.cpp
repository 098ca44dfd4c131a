#include "history/history_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "protocol/command_catalogue.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Everything the worker hands out, gathered safely from its thread.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SpliceRecord> records;
    std::vector<std::size_t> batchStarts;
    std::vector<int> progress;
    std::optional<DownloadResult> finished;

    DownloadCallbacks Callbacks() {
        DownloadCallbacks callbacks;
        callbacks.records = [this](std::size_t first, const std::vector<SpliceRecord>& batch) {
            std::lock_guard lock(mutex);
            EXPECT_EQ(first, records.size()) << "a record skipped or listed twice";
            batchStarts.push_back(first);
            records.insert(records.end(), batch.begin(), batch.end());
            changed.notify_all();
        };
        callbacks.progress = [this](int percent) {
            std::lock_guard lock(mutex);
            progress.push_back(percent);
        };
        callbacks.finished = [this](const DownloadResult& result) {
            std::lock_guard lock(mutex);
            finished = result;
            changed.notify_all();
        };
        return callbacks;
    }

    template <class Predicate>
    bool WaitUntil(Predicate done, std::chrono::milliseconds margin) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, margin, done);
    }
};

void ExpectSampleRecords(const std::vector<SpliceRecord>& records, std::size_t count) {
    ASSERT_EQ(records.size(), count);
    for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(records[i].bytes, sim::SampleRecord(static_cast<int>(i))) << "record " << i;
}

// Feeds `stream` to a RecordStream in pieces of the given sizes (the last repeats).
std::vector<SpliceRecord> FeedInPieces(const Bytes& stream, int count,
                                       const std::vector<std::size_t>& pieces,
                                       std::vector<std::size_t>* batchSizes) {
    std::vector<std::uint8_t> buffer(stream.size());
    RecordStream gatherer(buffer, count);
    std::vector<SpliceRecord> listed;
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < stream.size(); ++i) {
        const std::size_t n =
            std::min({pieces[std::min(i, pieces.size() - 1)], stream.size() - offset,
                      gatherer.Room().size()});
        std::copy_n(stream.begin() + static_cast<long>(offset), n, gatherer.Room().begin());
        offset += n;
        std::vector<SpliceRecord> ready = gatherer.Add(n);
        if (!ready.empty()) batchSizes->push_back(ready.size());
        listed.insert(listed.end(), ready.begin(), ready.end());
        EXPECT_EQ(gatherer.Listed(), listed.size());
    }
    EXPECT_TRUE(gatherer.Complete());
    EXPECT_EQ(gatherer.Progress(), 100);
    EXPECT_TRUE(gatherer.Room().empty());
    return listed;
}

TEST(RecordStreamTest, RecordsArrivingInPiecesAreListedOnceCompleteAndOnlyOnce) {
    const Bytes stream = sim::SampleRecordStream(5);
    const std::vector<std::vector<std::size_t>> pieceSizes = {
        {190}, {1}, {37, 1}, {2, 36, 39, 75, 38}, {3, 5000}, {39}, {76, 1, 113}};
    for (const auto& pieces : pieceSizes) {
        SCOPED_TRACE("first piece " + std::to_string(pieces[0]));
        std::vector<std::size_t> batches;
        std::vector<SpliceRecord> listed = FeedInPieces(stream, 5, pieces, &batches);
        ExpectSampleRecords(listed, 5);
    }
}

TEST(RecordStreamTest, StreamWithAnotherHeadIsListedOnlyWhenWholeAllAtOnce) {
    for (std::size_t wrong : {0u, 1u}) {
        Bytes stream = sim::SampleRecordStream(5);
        stream[wrong] = 0x00;
        std::vector<std::size_t> batches;
        std::vector<SpliceRecord> listed = FeedInPieces(stream, 5, {38}, &batches);
        EXPECT_EQ(batches, std::vector<std::size_t>{5});
        EXPECT_EQ(listed.size(), 5u);
    }
}

TEST(RecordStreamTest, NeverGathersBeyondTheBufferOrTheExpectedLength) {
    std::vector<std::uint8_t> buffer(100);
    RecordStream tooMany(buffer, 10);  // only two records fit
    EXPECT_EQ(tooMany.Expected(), 76u);
    EXPECT_EQ(tooMany.Room().size(), 76u);
    tooMany.Add(500);  // a caller's slip must not push the count past the room
    EXPECT_EQ(tooMany.Received(), 76u);
    EXPECT_TRUE(tooMany.Room().empty());

    RecordStream none(buffer, -3);
    EXPECT_TRUE(none.Complete());
    EXPECT_TRUE(none.Add(0).empty());
}

TEST(RecordStreamTest, ProgressFollowsTheLastListedRecord) {
    const Bytes stream = sim::SampleRecordStream(4);
    std::vector<std::uint8_t> buffer(stream.size());
    RecordStream gatherer(buffer, 4);
    std::vector<int> progress;
    for (std::size_t offset = 0; offset < stream.size(); offset += kRecordFrameSize) {
        std::copy_n(stream.begin() + static_cast<long>(offset), kRecordFrameSize,
                    gatherer.Room().begin());
        gatherer.Add(kRecordFrameSize);
        progress.push_back(gatherer.Progress());
    }
    EXPECT_EQ(progress, (std::vector<int>{0, 25, 50, 100}));
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

    DownloadResult Download(int count, Collector& collector, std::chrono::milliseconds deadline) {
        DownloadOptions options;
        options.deadline = deadline;
        LineClaim held = std::move(*claim);
        claim.reset();
        return DownloadHistory(link, std::move(held), count, {}, collector.Callbacks(), options);
    }

    std::optional<LineClaim> claim;
};

TEST_F(HistoryDownloadTest, CountOfFiveGivesItsRequestAndFiveRecords) {
    splicer->SetHandler(cmd::RecordCount, [](const sim::Request&) {
        return Bytes{0x87, 0x63, 0x02, 0x05, 0x00, 0xF1};
    });
    link.CommStatusText = "earlier failure";
    ReceiveStart start = Begin();
    ASSERT_EQ(start.step, ReceiveStep::Download);
    EXPECT_EQ(start.outcome, Outcome::Accepted);
    EXPECT_EQ(start.count, 5);
    ASSERT_TRUE(splicer->WaitForFrames(2, 2s));
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames()[0]), "87 63 01 00 EB");
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames()[1]), "87 64 01 05 F1");

    Collector collector;
    DownloadResult result = Download(start.count, collector, 5s);
    EXPECT_EQ(result.outcome, Outcome::Accepted);
    EXPECT_EQ(result.bytesReceived, 190u);
    EXPECT_EQ(result.recordsListed, 5u);
    EXPECT_TRUE(result.statusText.empty());
    ExpectSampleRecords(collector.records, 5);
    EXPECT_EQ(collector.progress.back(), 100);
    ASSERT_TRUE(collector.finished);
    EXPECT_EQ(collector.finished->outcome, Outcome::Accepted);
}

TEST_F(HistoryDownloadTest, ThreeHundredRecordsSendOnlyTheLowByteAndCheckBoth) {
    sim::InstallRecordCommands(*splicer, 300);
    ReceiveStart start = Begin();
    ASSERT_EQ(start.step, ReceiveStep::Download);
    EXPECT_EQ(start.count, 300);
    // The frame as it went on the line (the virtual splicer drops it: its check
    // byte is not the ordinary sum).
    EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())), "87 64 01 2C 19");
}

TEST_F(HistoryDownloadTest, CountsThatFetchNothingSendNoDownloadRequest) {
    struct Case {
        std::uint8_t low, high;
        ReceiveStep step;
        int count;
    };
    const Case cases[] = {
        {0x00, 0x00, ReceiveStep::NoRecords, 0},
        {0x05, 0x80, ReceiveStep::NoRecords, -32763},
        {0xFF, 0xFF, ReceiveStep::NoRecords, -1},
        {0x90, 0x14, ReceiveStep::TooMany, 5264},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        splicer->SetHandler(cmd::RecordCount, [c](const sim::Request&) {
            Bytes reply{0x87, 0x63, 0x02, c.low, c.high};
            reply.push_back(SumCheck(reply));
            return reply;
        });
        const std::size_t before = splicer->ReceivedFrames().size();
        link.CommStatusText.clear();
        ReceiveStart start = Begin();
        claim.reset();
        EXPECT_EQ(start.step, c.step);
        EXPECT_EQ(start.outcome, Outcome::Accepted);
        EXPECT_EQ(start.count, c.count);
        EXPECT_EQ(link.CommStatusText.find("5264") != std::string::npos,
                  c.step == ReceiveStep::TooMany);
        // The next frame the splicer sees is the next request, not a download request.
        ASSERT_EQ(link.Exchange(FixedRequest(cmd::Handshake), 5, 1500, true), Outcome::Accepted);
        auto frames = splicer->ReceivedFrames();
        ASSERT_EQ(frames.size(), before + 2);
        EXPECT_EQ(frames[before + 1][1], cmd::Handshake);
    }
}

TEST_F(HistoryDownloadTest, LargestCountThatFitsIsFetched) {
    splicer->SetHandler(cmd::RecordCount, [](const sim::Request&) {
        Bytes reply{0x87, 0x63, 0x02, 0x8F, 0x14};  // 0x148F = 5263
        reply.push_back(SumCheck(reply));
        return reply;
    });
    ReceiveStart start = Begin();
    EXPECT_EQ(start.count, 5263);
    EXPECT_EQ(start.step, ReceiveStep::Download);
}

TEST_F(HistoryDownloadTest, FailedCountExchangesSayWhatWentWrong) {
    struct Case {
        const char* name;
        sim::Fault fault;
        Bytes reply;  // empty: the splicer's own answer
        Outcome outcome;
        const char* status;
    };
    const Case cases[] = {
        {"silent", {sim::FaultKind::Silent}, {}, Outcome::NoAnswer,
         "No answer,please Exit Program"},
        {"bad check", {sim::FaultKind::BadCheck}, {}, Outcome::BadCheck, "check code error"},
        {"cut short", {sim::FaultKind::Short, 3}, {}, Outcome::BadCheck, "check code error"},
        {"intact but short", {}, {0x87, 0x63, 0xEA}, Outcome::BadCheck, "check code error"},
        {"rejected", {sim::FaultKind::Reject}, {}, Outcome::Rejected, "earlier"},
        {"wrong echo", {sim::FaultKind::WrongEcho}, {}, Outcome::Unexpected, "earlier"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::InstallRecordCommands(*splicer, 5);
        if (!c.reply.empty())
            splicer->SetHandler(cmd::RecordCount, [c](const sim::Request&) { return c.reply; });
        splicer->ClearFaults();
        splicer->SetFault(cmd::RecordCount, c.fault);
        const std::size_t before = splicer->ReceivedFrames().size();
        link.CommStatusText = "earlier";
        ReceiveStart start = Begin();
        claim.reset();
        EXPECT_EQ(start.step, ReceiveStep::Failed);
        EXPECT_EQ(start.outcome, c.outcome);
        EXPECT_EQ(link.CommStatusText, c.status);
        EXPECT_EQ(splicer->ReceivedFrames().size(), before + 1);
    }
}

TEST_F(HistoryDownloadTest, ClosedPortIsReportedBeforeAnythingIsSent) {
    link.Port().ClosePort();
    ReceiveStart start = Begin();
    EXPECT_EQ(start.step, ReceiveStep::Failed);
    EXPECT_EQ(start.outcome, Outcome::NotOpen);
    EXPECT_EQ(link.CommStatusText, "Communication Disconnect");
}

TEST_F(HistoryDownloadTest, SilentSplicerMidDownloadKeepsThePartialListAndTimesOut) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Short, 3 * 38 + 10});
    ReceiveStart start = Begin();
    ASSERT_EQ(start.step, ReceiveStep::Download);
    Collector collector;
    DownloadResult result = Download(start.count, collector, 300ms);
    EXPECT_EQ(result.outcome, Outcome::NoAnswer);
    EXPECT_EQ(result.statusText, "No answer,please Exit Program");
    EXPECT_EQ(result.recordsListed, 3u);
    EXPECT_EQ(result.bytesReceived, 3u * 38 + 10);
    ExpectSampleRecords(collector.records, 3);
    EXPECT_EQ(collector.progress.back(), 0);
}

TEST_F(HistoryDownloadTest, TimeOutTextFollowsTheLanguage) {
    test::ScopedConfig chinese(0);
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Silent});
    ReceiveStart start = Begin();
    Collector collector;
    EXPECT_EQ(Download(start.count, collector, 50ms).statusText,
              "数据无响应，请退出程序重新连接");
}

TEST_F(HistoryDownloadTest, PulledCableEndsTheDownloadAtOnce) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::HangUp, 2 * 38});
    ReceiveStart start = Begin();
    Collector collector;
    // A deadline far beyond the margin below: only noticing the lost port ends it in time.
    std::jthread worker([&] { Download(start.count, collector, 40s); });
    ASSERT_TRUE(collector.WaitUntil([&] { return collector.finished.has_value(); }, 5s));
    EXPECT_EQ(collector.finished->outcome, Outcome::PortLost);
    EXPECT_EQ(collector.finished->statusText,
              "Port lost, please check the cable and connect again");
    // Bytes still in the terminal when the line drops may be lost with it.
    EXPECT_LE(collector.finished->recordsListed, 2u);
}

TEST_F(HistoryDownloadTest, StopRequestedMidDownloadEndsPromptlyAndKeepsTheRecords) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Short, 3 * 38 + 10});
    ReceiveStart start = Begin();
    ASSERT_EQ(start.step, ReceiveStep::Download);
    Collector collector;
    LineClaim held = std::move(*claim);
    claim.reset();
    std::jthread worker([&](std::stop_token stop) {
        DownloadHistory(link, std::move(held), start.count, stop, collector.Callbacks());
    });
    ASSERT_TRUE(collector.WaitUntil([&] { return collector.records.size() == 3; }, 5s));
    worker.request_stop();
    ASSERT_TRUE(collector.WaitUntil([&] { return collector.finished.has_value(); }, 5s));
    EXPECT_EQ(collector.finished->outcome, Outcome::Cancelled);
    EXPECT_EQ(collector.finished->recordsListed, 3u);
    ExpectSampleRecords(collector.records, 3);
}

TEST_F(HistoryDownloadTest, LineIsHeldThroughoutAndFreeWhenTheEndIsReported) {
    ReceiveStart start = Begin();
    std::vector<bool> claimedDuring;
    bool freeAtEnd = false;
    DownloadCallbacks callbacks;
    callbacks.records = [&](std::size_t, const std::vector<SpliceRecord>&) {
        claimedDuring.push_back(link.ClaimLine().has_value());
    };
    callbacks.finished = [&](const DownloadResult&) { freeAtEnd = link.ClaimLine().has_value(); };
    LineClaim held = std::move(*claim);
    claim.reset();
    EXPECT_EQ(DownloadHistory(link, std::move(held), start.count, {}, callbacks).outcome,
              Outcome::Accepted);
    ASSERT_FALSE(claimedDuring.empty());
    EXPECT_EQ(std::count(claimedDuring.begin(), claimedDuring.end(), true), 0);
    EXPECT_TRUE(freeAtEnd);
}

TEST_F(HistoryDownloadTest, TrickledStreamIsListedRecordByRecord) {
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Trickle, 1});
    ReceiveStart start = Begin();
    Collector collector;
    EXPECT_EQ(Download(start.count, collector, 10s).outcome, Outcome::Accepted);
    ExpectSampleRecords(collector.records, 5);
    EXPECT_EQ(collector.batchStarts, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST_F(HistoryDownloadTest, StreamWithAnotherHeadArrivesAllAtOnceAtTheEnd) {
    splicer->SetHandler(cmd::RecordDownload, [](const sim::Request&) {
        Bytes stream = sim::SampleRecordStream(5);
        stream[1] = 0x65;
        return stream;
    });
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Trickle, 1});
    ReceiveStart start = Begin();
    Collector collector;
    EXPECT_EQ(Download(start.count, collector, 10s).outcome, Outcome::Accepted);
    EXPECT_EQ(collector.batchStarts, std::vector<std::size_t>{0});
    EXPECT_EQ(collector.records.size(), 5u);
}

}  // namespace
}  // namespace velmora
