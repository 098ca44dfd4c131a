// One image (0x71) against the virtual splicer: the request, the head, the bytes
// gathered, every way a download ends, and what follows a refused head.
#include "images/image_download.h"

#include <gtest/gtest.h>

#include <future>

#include "images/images_texts.h"
#include "images/reply_rest.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using sim::FaultKind;

Bytes Head(std::uint32_t size, std::uint8_t third = 0x04) {
    auto byte = [size](int shift) { return static_cast<std::uint8_t>(size >> shift); };
    return {0x87, 0x71, third, byte(0), byte(8), byte(16), byte(24), 0x00};
}

TEST(ImageBufferTest, JudgesTheHeadAndNeverStoresPastTheImage) {
    Bytes tenThenTail = Head(10);
    tenThenTail.resize(8 + 40, 0x11);
    struct Case {
        const char* what;
        Bytes stream;
        ImageHead head;
        std::size_t imageBytes;
    } cases[] = {
        {"bytes past size + 8 are left on the line", tenThenTail, ImageHead::Accepted, 10},
        {"a refusal, shorter than a head", {0x87, 0xEC, 0x01, 0x00, 0x74}, ImageHead::Refused, 0},
        {"incomplete head", {0x87, 0x71, 0x04, 0x10}, ImageHead::Pending, 0},
        {"largest that fits", Head(kMaxImageSize), ImageHead::Accepted, 0},
        {"one byte too large", Head(kMaxImageSize + 1), ImageHead::TooLarge, 0},
        {"size field all ones", Head(0xFFFFFFFF), ImageHead::TooLarge, 0},
    };
    ImageBuffer buffer;
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{5000}}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            buffer.Clear();
            // As the worker fills it: never more than Room() at a time.
            for (std::size_t at = 0; at < c.stream.size() && !buffer.Room().empty();) {
                const std::size_t n = std::min({piece, c.stream.size() - at, buffer.Room().size()});
                std::copy_n(c.stream.begin() + static_cast<long>(at), n, buffer.Room().begin());
                buffer.Add(n);
                at += n;
            }
            EXPECT_EQ(buffer.Head(), c.head);
            EXPECT_EQ(buffer.Image().size(), c.imageBytes);
            EXPECT_LE(buffer.Received(), std::max<std::size_t>(8, buffer.ImageSize() + 8));
        }
    }
}

class ImageDownload : public test::SplicerTest {
  protected:
    struct Run {
        ImageDownloadResult result;
        std::vector<int> progress;
        int finishedCalls = 0;
        bool lineFreeWhenFinished = false;
    };

    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallImageCommands(*splicer, 6);
        ASSERT_TRUE(OpenLink());
    }

    // Requests image `index` and runs the worker to its end on this thread.
    Run Download(int index, ImageDownloadOptions options = {3000ms, 50ms}) {
        Run run;
        ImageRequest request = StartImageDownload(link, index);
        if (!request.claim) return run;
        ImageDownloadCallbacks callbacks;
        callbacks.progress = [&](int percent) { run.progress.push_back(percent); };
        callbacks.finished = [&](const ImageDownloadResult&) {
            ++run.finishedCalls;
            run.lineFreeWhenFinished = !link.LineBusy();
        };
        run.result =
            ImageDownloadThread(link, std::move(*request.claim), buffer, {}, callbacks, options);
        return run;
    }

    void Answer(Bytes reply) {
        splicer->SetHandler(cmd::ImageDownload, [reply](const sim::Request&) { return reply; });
    }

    ImageBuffer buffer;
};

TEST_F(ImageDownload, RequestCarriesTheIndexAndTheIrregularCheckByteOneAtATime) {
    const std::pair<int, const char*> cases[] = {
        {3, "87 71 02 03 20 FD"}, {255, "87 71 02 FF 20 F9"}, {256 + 3, "87 71 02 03 20 FD"}};
    for (const auto& [index, frame] : cases) {
        ImageRequest request = StartImageDownload(link, index);
        ASSERT_EQ(request.outcome, Outcome::Accepted);
        EXPECT_TRUE(request.claim);
        EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())), frame) << index;
    }
    ImageRequest first = StartImageDownload(link, 0);
    ImageRequest second = StartImageDownload(link, 1);
    EXPECT_EQ(second.outcome, Outcome::Busy);
    EXPECT_FALSE(second.claim);
    EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())), "87 71 02 00 20 FA") << "nothing else built";
}

TEST_F(ImageDownload, EveryEndOfADownloadWithItsImageAndTheLineFree) {
    using enum Outcome;
    const Bytes jpeg = sim::SimulatedImageJpeg(2);
    Bytes shortImage = Head(1000), cut = sim::ImageDownloadReply(jpeg);
    shortImage.resize(8 + 500, 0x11);
    cut.resize(cut.size() - 8);
    const Bytes refusal = {0x87, 0xEC, 0x01, 0x00, 0x74}, hangUp;
    const std::string notWhole = "The image did not arrive whole (";
    struct Case {
        const char* what;
        Bytes reply;  // hangUp: the line drops after the head and 1000 bytes
        Outcome outcome;
        std::string status;
    } cases[] = {
        // Whether the splicer counts the head in the size or not, the image is its JPEG.
        {"size of the image", sim::ImageDownloadReply(jpeg), Accepted, ""},
        {"size counts the head", sim::ImageDownloadReply(jpeg, true), Accepted, ""},
        // Nothing short of the whole image is called an image.
        {"size 0: no image", Head(0), Unexpected, notWhole + "0 of 0 bytes); nothing was saved"},
        {"8 bytes short, so the end marker is missing", cut, Unexpected,
         notWhole + std::to_string(jpeg.size() - 8) + " of " + std::to_string(jpeg.size()) +
             " bytes); nothing was saved"},
        {"byte 2 is 0x05", Head(40, 0x05), Unexpected, "data error"},
        {"refusal", refusal, Rejected, "The splicer refused the request"},
        {"larger than the buffer", Head(kMaxImageSize + 1), Unexpected,
         "The splicer announced an image of 999993 bytes, more than can be received (at most "
         "999992)"},
        {"fewer bytes than announced", shortImage, NoAnswer, "No answer,please Exit Program"},
        {"port lost", hangUp, PortLost, "Port lost, please check the cable and connect again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.reply.empty())
            splicer->SetFault(cmd::ImageDownload, {FaultKind::HangUp, 8 + 1000});
        else
            Answer(c.reply);
        Run run = Download(0, {500ms, 50ms});
        EXPECT_EQ(run.result.outcome, c.outcome);
        EXPECT_EQ(ImageDownloadFailureText(run.result), c.status);
        const bool whole = c.outcome == Accepted;
        EXPECT_TRUE(Bytes(run.result.image.begin(), run.result.image.end()) ==
                    (whole ? jpeg : Bytes{}))
            << run.result.image.size() << " bytes";
        // The bar only grows to 100 with an image, and falls back to 0 without one.
        ASSERT_FALSE(run.progress.empty());
        EXPECT_EQ(run.progress.back(), whole ? 100 : 0);
        EXPECT_TRUE(!whole || std::is_sorted(run.progress.begin(), run.progress.end()));
        EXPECT_EQ(run.finishedCalls, 1);
        EXPECT_TRUE(run.lineFreeWhenFinished);
    }
}

TEST_F(ImageDownload, SilentSplicerCreepsToHalfThenTimesOut) {
    splicer->SetFault(cmd::ImageDownload, {FaultKind::Silent});
    Run run = Download(0, {400ms, 50ms, 2ms});
    EXPECT_EQ(run.result.outcome, Outcome::NoAnswer);
    EXPECT_EQ(ImageDownloadFailureText(run.result), "No answer,please Exit Program");
    ASSERT_GE(run.progress.size(), 2u);
    EXPECT_EQ(run.progress.back(), 0);
    const std::vector<int> creeping(run.progress.begin(), run.progress.end() - 1);
    EXPECT_TRUE(std::is_sorted(creeping.begin(), creeping.end()));
    EXPECT_EQ(creeping.back(), 50) << "the bar never goes past half before the head";
}

TEST_F(ImageDownload, StopRequestEndsARunningDownloadPromptly) {
    // Byte by byte, 2 ms apart: the image would take minutes. The bar reaches 50
    // with the head, long before the 5 s the creep would need.
    splicer->SetFault(cmd::ImageDownload, {FaultKind::Trickle, 2});
    ImageRequest request = StartImageDownload(link, 1);
    ASSERT_TRUE(request.claim);
    std::promise<void> headArrived;
    ImageDownloadCallbacks callbacks;
    callbacks.progress = [&, told = false](int percent) mutable {
        if (percent >= 50 && !std::exchange(told, true)) headArrived.set_value();
    };
    std::stop_source stop;
    auto worker = std::async(std::launch::async, [&] {
        return ImageDownloadThread(link, std::move(*request.claim), buffer, stop.get_token(),
                                   callbacks);
    });
    EXPECT_EQ(headArrived.get_future().wait_for(5s), std::future_status::ready);
    stop.request_stop();
    ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);
    const ImageDownloadResult result = worker.get();
    EXPECT_EQ(result.outcome, Outcome::Cancelled);
    EXPECT_EQ(result.imageSize, sim::SimulatedImageJpeg(1).size()) << "stopped after the head";
    EXPECT_TRUE(result.image.empty());
    EXPECT_EQ(ImageDownloadFailureText(result), "");
    EXPECT_FALSE(link.LineBusy());
}

TEST_F(ImageDownload, RestOfARefusedReplyIsDroppedWithinItsLimitNeverOnABusyLine) {
    // A foreign head, and the splicer keeps sending past the limit.
    splicer->SetFault(cmd::ImageDownload, {FaultKind::Trickle, 5, 1});
    Answer(Bytes(4000, 0x55));
    ASSERT_EQ(Download(0).result.outcome, Outcome::Unexpected);
    const std::size_t dropped = DiscardRestOfReply(link, {}, {}, {.limit = 300ms});
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(dropped, 4000u);

    std::optional<LineClaim> claim = link.ClaimLine();
    ASSERT_TRUE(claim);
    EXPECT_EQ(DiscardRestOfReply(link), 0u);
}

}  // namespace
}  // namespace velmora
