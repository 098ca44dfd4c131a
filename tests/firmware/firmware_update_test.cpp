// The firmware transfer worker against the virtual splicer where the FirmWare page
// and velmora-cli cannot easily reach it (files that cannot be sent or shrink,
// a closed port, stopping mid transfer), and the texts and sums they rely on.
#include "firmware/firmware_update.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>

#include "firmware/firmware_texts.h"
#include "protocol/command_catalogue.h"
#include "sim/firmware_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;
using test::CrcOf;
using test::FirmwareBytes;
using test::Hex;

constexpr auto kMargin = 20s;

class FirmwareTest : public test::SplicerTest {
  protected:
    // A fresh splicer, paced at `baud` unless fast, and the link open on it.
    void Fresh(bool fast = true, int baud = 115200) {
        sim::SplicerOptions options;
        options.fast = fast;
        options.baud = baud;
        Restart(options);
        received = sim::InstallFirmwareCommands(*splicer, {.quiet = 300ms});
        ASSERT_TRUE(OpenLink(baud));
    }

    test::TempDir dir;
    std::shared_ptr<sim::FirmwareLog> received;
};

TEST_F(FirmwareTest, FileOrPortProblemsEndTheTransferWithNothingSent) {
    const std::string missing = (dir.path() / "gone.bin").string();
    const std::string folder = dir.path().string();
    const std::filesystem::path empty = dir.Write("empty.bin", "");
    // Larger than any firmware, without taking the room (a sparse file).
    const std::filesystem::path huge = dir.Write("huge.bin", "");
    std::filesystem::resize_file(huge, kLargestFirmwareFile + 1);
    struct Case {
        std::filesystem::path file;
        bool portOpen;
        FirmwareEnd end;
        std::string text;  // how the text starts
    } cases[] = {
        {missing, true, FirmwareEnd::FileUnreadable, "Firmware file not found: " + missing},
        {folder, true, FirmwareEnd::FileUnreadable, "Not a regular file: " + folder},
        {huge, true, FirmwareEnd::FileUnreadable,
         "Too large to be a firmware file: " + huge.string()},
        {empty, true, FirmwareEnd::FileUnreadable, "The firmware file is empty: " + empty.string()},
        {dir.Write("fw.bin", "abc"), false, FirmwareEnd::LineFailed, "Update failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.portOpen) Fresh();
        std::optional<LineClaim> claim = link.ClaimLine();
        ASSERT_TRUE(claim);
        FirmwareResult result = FirmwareSendThread(link, std::move(*claim), c.file, {});
        EXPECT_EQ(result.end, c.end);
        EXPECT_TRUE(FirmwareEndText(result, c.file).starts_with(c.text))
            << FirmwareEndText(result, c.file);
        EXPECT_EQ(result.bytesSent, 0u);
        EXPECT_FALSE(link.LineBusy());
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(splicer->BytesReceived(), 0u);
    }
}

TEST_F(FirmwareTest, FileThatShrinksDuringTheTransferStopsWithoutStaleBytes) {
    const std::filesystem::path file = dir.Write("fw.bin", FirmwareBytes(90000));
    Fresh();
    std::optional<LineClaim> claim = link.ClaimLine();
    ASSERT_TRUE(claim && RunFirmwareHandshakes(link, *claim).Accepted());
    FirmwareCallbacks callbacks;
    callbacks.progress = [&](const FirmwareProgress&) {
        std::filesystem::resize_file(file, 40000);
    };
    const FirmwareResult result = FirmwareSendThread(link, std::move(*claim), file, {}, callbacks);
    EXPECT_EQ(result.end, FirmwareEnd::FileUnreadable);
    EXPECT_EQ(result.bytesSent, 30000u);
    EXPECT_TRUE(FirmwareEndText(result, file).starts_with("Reading the firmware file failed"))
        << FirmwareEndText(result, file);
    ASSERT_TRUE(received->WaitForReceipts(1, kMargin));
    EXPECT_EQ(received->Receipts().back().crc32, CrcOf(FirmwareBytes(30000)));
}

// A paced splicer takes the file at the line rate, so the transfer is still far
// from its end when the stop comes; it must end long before the file could have gone.
TEST_F(FirmwareTest, StopOrCancelMidTransferEndsPromptly) {
    for (bool viaLink : {false, true}) {
        SCOPED_TRACE(viaLink ? "Link::Cancel" : "stop token");
        Fresh(false, 256000);
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
        const FirmwareResult result = end.get();
        EXPECT_EQ(result.end, FirmwareEnd::Cancelled);
        EXPECT_LT(result.bytesSent, bytes.size());
        EXPECT_TRUE(FirmwareEndText(result, file).starts_with("Update cancelled"))
            << FirmwareEndText(result, file);
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
        {"line one\nline two", "line one\nline two"},
        {std::string(3, '\0'), ""},
    };
    test::ScopedConfig english(1);
    for (const Case& c : cases) {
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(SplicerTextForDisplay(bytes), c.shown) << Hex(bytes);
    }
}

TEST(FirmwareTexts, PercentagesStayRightPastThe32BitProduct) {
    EXPECT_EQ(PercentBeforeBlock(716, 21510000), 99);
    EXPECT_EQ(PercentBeforeBlock(100000, 5'000'000'000ull), 60);
}

}  // namespace
}  // namespace velmora
