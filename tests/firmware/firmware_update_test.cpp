// Firmware updates against the virtual splicer: handshakes, blocks and
// percentages, the bytes that arrive, and every way an update can fail.
#include "firmware/firmware_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/command_catalogue.h"
#include "sim/firmware_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using test::Hex;

constexpr auto kMargin = 20s;
constexpr const char* kEndText = "Updated Finish,Please Restart Program and Fusion Splicer";
constexpr const char* kSplicerText = "Boot loader V1.2, waiting for firmware";

// Bytes that differ from position to position, so a lost or repeated piece shows.
std::string FirmwareBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    return bytes;
}

sim::SplicerOptions Options(bool fast, int baud = 115200) {
    sim::SplicerOptions options;
    options.fast = fast;
    options.baud = baud;
    return options;
}

std::uint32_t CrcOf(const std::string& bytes) {
    return sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

struct UpdateRun {
    HandshakeResult handshakes;
    std::vector<std::string> info;
    std::vector<FirmwareProgress> progress;
    std::optional<FirmwareResult> result;
    int finishedCalls = 0;
};

class FirmwareTest : public test::SplicerTest {
  protected:
    void SetUp() override {
        SplicerTest::SetUp();
        Install();
    }

    void Install() {
        sim::FirmwareSimOptions options;
        options.quiet = 300ms;
        received = sim::InstallFirmwareCommands(*splicer, options);
    }

    // Handshakes, then the transfer on this thread, as the command-line tool runs it.
    UpdateRun Update(const std::filesystem::path& file, FirmwareCallbacks callbacks = {}) {
        UpdateRun run;
        std::optional<LineClaim> claim = link.ClaimLine();
        EXPECT_TRUE(claim);
        if (!claim) return run;
        run.handshakes = RunFirmwareHandshakes(
            link, *claim, [&](const std::string& text) { run.info.push_back(text); });
        if (!run.handshakes.Accepted()) return run;
        if (!callbacks.progress)
            callbacks.progress = [&](const FirmwareProgress& p) { run.progress.push_back(p); };
        callbacks.finished = [&](const FirmwareResult&) {
            ++run.finishedCalls;
            EXPECT_FALSE(link.LineBusy()) << "the line is released before the end is told";
            EXPECT_FALSE(link.Port().IsOpen()) << "the port is closed at the end";
        };
        run.result = FirmwareSendThread(link, std::move(*claim), file, {}, callbacks);
        return run;
    }

    std::vector<std::string> FrameTexts() const {
        std::vector<std::string> frames;
        for (const auto& f : splicer->ReceivedFrames()) frames.push_back(Hex(f));
        return frames;
    }

    test::TempDir dir;
    std::shared_ptr<sim::FirmwareLog> received;
};

TEST_F(FirmwareTest, SendsTheWholeFileInBlocksWithPercentagesUpdateAfterUpdate) {
    struct Case {
        std::size_t size;
        std::vector<std::uint64_t> sentAtProgress;
        std::vector<std::string> percentTexts;
    } cases[] = {
        {65000, {30000, 60000}, {"Updating ,0%", "Updating ,46%"}},
        {60000, {30000, 60000}, {"Updating ,0%", "Updating ,50%"}},  // the rest is empty
        {29999, {}, {}},
        {1, {}, {}},
    };
    // One splicer and one link for all: each update after the first is a fresh one.
    std::size_t transfers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ASSERT_TRUE(OpenLink());
        const std::string bytes = FirmwareBytes(c.size);
        UpdateRun run = Update(dir.Write("fw.bin", bytes));

        EXPECT_EQ(run.handshakes.state, UpdateState::SecondAccepted);
        EXPECT_EQ(run.info, (std::vector<std::string>{"Update? ", kSplicerText}));
        ASSERT_TRUE(run.result);
        EXPECT_TRUE(run.result->Finished());
        EXPECT_EQ(run.result->text, kEndText);
        EXPECT_EQ(run.result->bytesSent, c.size);
        EXPECT_EQ(run.finishedCalls, 1);
        std::vector<std::uint64_t> sent;
        std::vector<std::string> texts;
        for (const auto& p : run.progress) {
            sent.push_back(p.bytesSent);
            texts.push_back(p.text);
        }
        EXPECT_EQ(sent, c.sentAtProgress);
        EXPECT_EQ(texts, c.percentTexts);

        ASSERT_TRUE(received->WaitForReceipts(++transfers, kMargin));
        const sim::FirmwareReceipt receipt = received->Receipts().back();
        EXPECT_EQ(receipt.bytes, c.size);
        EXPECT_EQ(receipt.crc32, CrcOf(bytes));
        EXPECT_FALSE(receipt.hungUp);
    }
    // Only the handshakes went as frames; the file never looked like one to the splicer.
    std::vector<std::string> frames = FrameTexts();
    ASSERT_EQ(frames.size(), 2 * std::size(cases));
    for (std::size_t i = 0; i < frames.size(); i += 2) {
        EXPECT_EQ(frames[i], "87 61 01 00 E9");
        EXPECT_EQ(frames[i + 1], "87 62 01 00 EA");
    }
}

TEST_F(FirmwareTest, RefusedOrUnansweredHandshakeStartsNothingAndSaysSo) {
    const std::vector<std::uint8_t> oddAnswer = {0x87, 0x61, 0x01, 0xAD, 0x96, 'N',
                                                 'o',  't',  ' ',  'n',  'o',  'w'};
    struct Case {
        const char* name;
        std::uint8_t command;
        Fault fault;
        bool oddFirstAnswer;
        UpdateState state;
        std::size_t framesSent;
        std::string shown;   // the last information text
        std::string status;  // CommStatusText afterwards
        const char* notStarted;
    } cases[] = {
        {"first refused",
         cmd::FirmwareHandshake1,
         {FaultKind::Reject},
         false,
         UpdateState::FirstRefused,
         1,
         "Update? ",
         "No answer,please Exit Program",
         "The update did not start: the Fusion Splicer refused it"},
        {"first unanswered",
         cmd::FirmwareHandshake1,
         {FaultKind::Silent},
         false,
         UpdateState::FirstRefused,
         1,
         "Update? ",
         "No answer,please Exit Program",
         "The update did not start: no answer from the Fusion Splicer"},
        {"second refused",
         cmd::FirmwareHandshake2,
         {FaultKind::Reject},
         false,
         UpdateState::SecondRefused,
         2,
         "Update? ",
         "No answer,please Exit Program",
         "The update did not start: the Fusion Splicer refused it"},
        {"second unanswered",
         cmd::FirmwareHandshake2,
         {FaultKind::Silent},
         false,
         UpdateState::SecondRefused,
         2,
         "Update? ",
         "No answer,please Exit Program",
         "The update did not start: no answer from the Fusion Splicer"},
        // 87 61 01 AD 96: no second handshake, but its text is still taken.
        {"first answered AD",
         0,
         {},
         true,
         UpdateState::FirstRefused,
         1,
         "Not now",
         "earlier",
         "The update did not start: the Fusion Splicer refused it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart(Options(true));
        Install();
        if (c.oddFirstAnswer)
            splicer->SetHandler(cmd::FirmwareHandshake1,
                                [&](const sim::Request&) { return oddAnswer; });
        else
            splicer->SetFault(c.command, c.fault);
        ASSERT_TRUE(OpenLink());
        link.CommStatusText = "earlier";

        UpdateRun run = Update(dir.Write("fw.bin", FirmwareBytes(1000)));
        EXPECT_EQ(run.handshakes.state, c.state);
        EXPECT_FALSE(run.handshakes.Accepted());
        ASSERT_FALSE(run.info.empty());
        EXPECT_EQ(run.info.back(), c.shown);
        EXPECT_EQ(link.CommStatusText, c.status);
        EXPECT_EQ(NotStartedText(run.handshakes), c.notStarted);
        EXPECT_FALSE(run.result) << "no transfer starts";
        EXPECT_EQ(splicer->ReceivedFrames().size(), c.framesSent);
        EXPECT_FALSE(link.LineBusy());
        EXPECT_TRUE(link.Port().IsOpen()) << "the splicer still reads frames";
    }
}

TEST_F(FirmwareTest, LineDroppedMidTransferIsReportedNotFinished) {
    const std::string bytes = FirmwareBytes(100000);
    splicer->SetFault(cmd::FirmwareHandshake2, {FaultKind::HangUp, 40000});
    ASSERT_TRUE(OpenLink());
    UpdateRun run = Update(dir.Write("fw.bin", bytes));

    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->end, FirmwareEnd::LineFailed);
    EXPECT_EQ(run.result->line, Outcome::PortLost);
    EXPECT_LT(run.result->bytesSent, bytes.size());
    EXPECT_NE(run.result->text.find("Update failed"), std::string::npos) << run.result->text;
    EXPECT_NE(run.result->text.find("Port lost"), std::string::npos) << run.result->text;
    EXPECT_EQ(run.finishedCalls, 1);

    ASSERT_TRUE(received->WaitForReceipts(1, kMargin));
    const sim::FirmwareReceipt receipt = received->Receipts().back();
    EXPECT_TRUE(receipt.hungUp);
    EXPECT_EQ(receipt.bytes, 40000u);
    EXPECT_EQ(receipt.crc32, CrcOf(bytes.substr(0, 40000)));
}

TEST_F(FirmwareTest, FileProblemsAreReportedAndNothingIsSent) {
    const std::filesystem::path missing = dir.path() / "gone.bin";
    struct Case {
        std::filesystem::path file;
        std::string problem;
    } cases[] = {
        {missing, "Firmware file not found: " + missing.string()},
        {dir.path(), "Not a regular file: " + dir.path().string()},
        {dir.Write("empty.bin", ""),
         "The firmware file is empty: " + (dir.path() / "empty.bin").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(FirmwareFileProblem(c.file), c.problem);
        ASSERT_TRUE(OpenLink());
        std::optional<LineClaim> claim = link.ClaimLine();
        ASSERT_TRUE(claim);
        FirmwareResult result = FirmwareSendThread(link, std::move(*claim), c.file, {});
        EXPECT_EQ(result.end, FirmwareEnd::FileUnreadable);
        EXPECT_EQ(result.text.rfind(c.problem, 0), 0u) << result.text;
        EXPECT_EQ(result.bytesSent, 0u);
        EXPECT_FALSE(link.LineBusy());
        EXPECT_FALSE(link.Port().IsOpen());
    }
    EXPECT_EQ(FirmwareFileProblem(dir.Write("ok.bin", "x")), "");
}

TEST_F(FirmwareTest, FileThatShrinksDuringTheTransferStopsWithoutStaleBytes) {
    const std::filesystem::path file = dir.Write("fw.bin", FirmwareBytes(90000));
    ASSERT_TRUE(OpenLink());
    FirmwareCallbacks callbacks;
    callbacks.progress = [&](const FirmwareProgress&) {
        std::filesystem::resize_file(file, 40000);
    };
    UpdateRun run = Update(file, callbacks);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->end, FirmwareEnd::FileUnreadable);
    EXPECT_EQ(run.result->bytesSent, 30000u);
    EXPECT_NE(run.result->text.find("Reading the firmware file failed"), std::string::npos);
}

TEST_F(FirmwareTest, ClosedPortFailsTheTransferAtOnce) {
    std::optional<LineClaim> claim = link.ClaimLine();
    ASSERT_TRUE(claim);
    FirmwareResult result =
        FirmwareSendThread(link, std::move(*claim), dir.Write("fw.bin", "abc"), {});
    EXPECT_EQ(result.end, FirmwareEnd::LineFailed);
    EXPECT_EQ(result.line, Outcome::NotOpen);
    EXPECT_FALSE(link.LineBusy());
}

// A paced splicer takes the file at the line rate, so the transfer is still far
// from its end when the stop comes; it must end long before the file could have gone.
TEST_F(FirmwareTest, StopOrCancelMidTransferEndsPromptly) {
    for (bool viaLink : {false, true}) {
        SCOPED_TRACE(viaLink ? "Link::Cancel" : "stop token");
        Restart(Options(false, 256000));
        Install();
        ASSERT_TRUE(OpenLink(256000));
        const std::string bytes = FirmwareBytes(300000);  // about 12 s at 256000 bit/s
        const std::filesystem::path file = dir.Write("fw.bin", bytes);
        std::optional<LineClaim> claim = link.ClaimLine();
        ASSERT_TRUE(claim);
        ASSERT_TRUE(RunFirmwareHandshakes(link, *claim).Accepted());

        std::promise<void> firstBlock;
        std::promise<FirmwareResult> done;
        bool toldFirstBlock = false;
        FirmwareCallbacks callbacks;
        callbacks.progress = [&](const FirmwareProgress&) {
            if (!std::exchange(toldFirstBlock, true)) firstBlock.set_value();
        };
        callbacks.finished = [&](const FirmwareResult& r) { done.set_value(r); };
        std::jthread worker([&, held = std::move(*claim)](std::stop_token stop) mutable {
            FirmwareSendThread(link, std::move(held), file, stop, callbacks);
        });
        ASSERT_EQ(firstBlock.get_future().wait_for(kMargin), std::future_status::ready);
        if (viaLink)
            link.Cancel();
        else
            worker.request_stop();
        std::future<FirmwareResult> end = done.get_future();
        ASSERT_EQ(end.wait_for(4s), std::future_status::ready) << "the stop was not seen";
        FirmwareResult result = end.get();
        EXPECT_EQ(result.end, FirmwareEnd::Cancelled);
        EXPECT_LT(result.bytesSent, bytes.size());
        EXPECT_NE(result.text.find("Update cancelled"), std::string::npos) << result.text;
    }
}

TEST(FirmwareTexts, SplicerTextIsShownSafely) {
    struct Case {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"  \r\nV1.2 ready\r\n", "V1.2 ready"},
        {std::string("AB\0CD", 5), "AB"},
        {"\xB0\xE6\xB1\xBE 2.0", "版本 2.0"},  // GBK
        {"\x1B[2Jcleared", " [2Jcleared"},
        {std::string(3, '\0'), ""},
        {"line one\nline two", "line one\nline two"},
    };
    test::ScopedConfig english(1);
    for (const Case& c : cases) {
        std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                            c.bytes.size());
        EXPECT_EQ(SplicerTextForDisplay(bytes), c.shown) << Hex(bytes);
    }
}

TEST(FirmwareTexts, PercentagesStayRightForLargeFiles) {
    struct Case {
        std::uint64_t block;
        std::uint64_t length;
        int percent;
    } cases[] = {
        {0, 65000, 0},
        {1, 65000, 46},
        {716, 21510000, 99},  // past the 32-bit product
        {100000, 5'000'000'000ull, 60},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PercentBeforeBlock(c.block, c.length), c.percent) << c.block << " " << c.length;
    }
    EXPECT_EQ(UpdatingText(46), "Updating ,46%");
}

TEST(FirmwareTexts, ChineseEndAndRefusalTexts) {
    test::ScopedConfig chinese(0);
    HandshakeResult refused;
    refused.state = UpdateState::FirstRefused;
    refused.outcome = Outcome::Rejected;
    EXPECT_EQ(NotStartedText(refused), "更新未开始：熔接机拒绝了更新");
    refused.outcome = Outcome::PortLost;
    EXPECT_EQ(NotStartedText(refused), "更新未开始：串口已断开，请检查连接后重新连接");
}

TEST(Crc32, KnownValueAndPiecewiseEqualsWhole) {
    const std::string check = "123456789";
    EXPECT_EQ(CrcOf(check), 0xCBF43926u);
    const std::string bytes = FirmwareBytes(10000);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::uint32_t crc = sim::Crc32({data, 3333});
    crc = sim::Crc32({data + 3333, bytes.size() - 3333}, crc);
    EXPECT_EQ(crc, CrcOf(bytes));
}

}  // namespace
}  // namespace velmora
