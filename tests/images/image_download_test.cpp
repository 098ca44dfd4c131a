#include "images/image_download.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

Bytes Head(std::uint32_t size, std::uint8_t third = 0x04) {
    return {0x87,
            0x71,
            third,
            static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 24),
            0x00};
}

// Feeds `bytes` into the buffer the way the worker does, in pieces of `piece`.
void Feed(ImageBuffer& buffer, const Bytes& bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size();) {
        std::span<std::uint8_t> room = buffer.Room();
        const std::size_t n = std::min({piece, bytes.size() - at, room.size()});
        if (n == 0) return;
        std::copy_n(bytes.begin() + static_cast<long>(at), n, room.begin());
        buffer.Add(n);
        at += n;
    }
}

TEST(ImageBufferTest, JudgesTheHeadAndNeverStoresPastTheImage) {
    struct Case {
        const char* what;
        Bytes stream;
        ImageHead head;
        std::size_t imageBytes;
    };
    Bytes tenThenTail = Head(10);
    for (int i = 0; i < 30; ++i) tenThenTail.push_back(static_cast<std::uint8_t>(i));
    const std::vector<Case> cases = {
        {"size 0", Head(0), ImageHead::Accepted, 0},
        {"bytes past size + 8 are left on the line", tenThenTail, ImageHead::Accepted, 10},
        {"byte 2 is 0x05", Head(10, 0x05), ImageHead::Foreign, 0},
        {"a rejection, shorter than a head", {0x87, 0xEC, 0x01, 0x00, 0x74}, ImageHead::Foreign, 0},
        {"incomplete head", {0x87, 0x71, 0x04, 0x10}, ImageHead::Pending, 0},
        {"largest that fits", Head(kMaxImageSize), ImageHead::Accepted, 0},
        {"one byte too large", Head(kMaxImageSize + 1), ImageHead::TooLarge, 0},
        {"size field all ones", Head(0xFFFFFFFF), ImageHead::TooLarge, 0},
    };
    ImageBuffer buffer;
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{5000}}) {
            buffer.Clear();
            Feed(buffer, c.stream, piece);
            EXPECT_EQ(buffer.Head(), c.head) << c.what << ", pieces of " << piece;
            EXPECT_EQ(buffer.Image().size(), c.imageBytes) << c.what << ", pieces of " << piece;
            EXPECT_LE(buffer.Received(),
                      std::max<std::size_t>(kImageHeadSize, buffer.ImageSize() + 8))
                << c.what;
        }
    }
}

TEST(ImageBufferTest, SizeCountedWithOrWithoutTheHead) {
    ImageBuffer buffer;
    Bytes stream = Head(100);
    stream.resize(8 + 92, 0xAB);  // a splicer that counted the head sends 100 bytes in all
    Feed(buffer, stream, 64);
    EXPECT_TRUE(buffer.SizeReached());
    EXPECT_FALSE(buffer.AllArrived());
    EXPECT_EQ(buffer.Image().size(), 92u) << "no padding";
    EXPECT_LT(buffer.DataProgress(), 100);
    Feed(buffer, Bytes(20, 0xCD), 64);  // one that did not: 8 more image bytes, the rest stays out
    EXPECT_TRUE(buffer.AllArrived());
    EXPECT_EQ(buffer.Image().size(), 100u);
    EXPECT_EQ(buffer.Image().back(), 0xCD);
}

// A link on the virtual splicer, with the splicer's images installed.
class ImageDownload : public test::SplicerTest {
  protected:
    struct Run {
        ImageDownloadResult result;
        std::vector<int> progress;
        int finishedCalls = 0;
        bool lineFreeWhenFinished = false;
        Bytes image;
    };

    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallImageCommands(*splicer, 6);
        ASSERT_TRUE(OpenLink());
    }

    // Requests image `index` and runs the worker to its end on this thread.
    Run Download(int index, ImageDownloadOptions options = Short(), std::stop_token stop = {}) {
        Run run;
        std::optional<LineClaim> claim = RequestForSplicer(index);
        if (!claim) return run;
        ImageDownloadCallbacks callbacks;
        callbacks.progress = [&](int percent) { run.progress.push_back(percent); };
        callbacks.finished = [&](const ImageDownloadResult&) {
            ++run.finishedCalls;
            run.lineFreeWhenFinished = !link.LineBusy();
        };
        run.result = ImageDownloadThread(link, std::move(*claim), buffer, stop, callbacks, options);
        run.image.assign(run.result.image.begin(), run.result.image.end());
        return run;
    }

    // The virtual splicer's frame reader takes only the ordinary sum as check byte,
    // so the request goes with that one here; StartImageDownload's own bytes are
    // tested on their own.
    std::optional<LineClaim> RequestForSplicer(int index) {
        std::optional<LineClaim> claim = link.ClaimLine();
        EXPECT_TRUE(claim);
        if (!claim) return claim;
        const std::uint8_t data[] = {static_cast<std::uint8_t>(index), 0x20};
        link.Frame() = MakeRequest(cmd::ImageDownload, data);
        EXPECT_TRUE(link.SendFrame(*claim));
        return claim;
    }

    static ImageDownloadOptions Short() {
        ImageDownloadOptions options;
        options.deadline = milliseconds(3000);
        options.tailQuiet = milliseconds(50);
        return options;
    }

    void Answer(Bytes reply) {
        splicer->SetHandler(cmd::ImageDownload, [reply](const sim::Request&) { return reply; });
    }

    ImageBuffer buffer;
};

TEST_F(ImageDownload, RequestCarriesTheIndexAndTheIrregularCheckByte) {
    struct Case {
        int index;
        const char* frame;
    };
    const Case cases[] = {{0, "87 71 02 00 20 FA"},
                          {3, "87 71 02 03 20 FD"},
                          {255, "87 71 02 FF 20 F9"},
                          {256 + 3, "87 71 02 03 20 FD"}};  // only the low 8 bits travel
    for (const Case& c : cases) {
        ImageRequest request = StartImageDownload(link, c.index);
        ASSERT_EQ(request.outcome, Outcome::Accepted);
        EXPECT_TRUE(request.claim);
        EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())), c.frame) << c.index;
    }
    link.Port().ClosePort();
    EXPECT_EQ(StartImageDownload(link, 0).outcome, Outcome::NotOpen);
    EXPECT_EQ(link.CommStatusText, "Communication Disconnect");
}

TEST_F(ImageDownload, ASecondDownloadIsRefusedWhileOneRuns) {
    ImageRequest first = StartImageDownload(link, 0);
    ASSERT_EQ(first.outcome, Outcome::Accepted);
    ImageRequest second = StartImageDownload(link, 1);
    EXPECT_EQ(second.outcome, Outcome::Busy);
    EXPECT_FALSE(second.claim);
    EXPECT_EQ(link.CommStatusText, "Communication busy, please wait");
    EXPECT_EQ(test::Hex(LayOutFrame(link.Frame())), "87 71 02 00 20 FA")
        << "nothing else was built";
}

TEST_F(ImageDownload, SavedFileIsTheJpegTheSplicerSentHoweverItCountsTheSize) {
    test::TempDir dir;
    for (bool countsHead : {false, true}) {
        sim::ImageCommandOptions options;
        options.sizeCountsHead = countsHead;
        sim::InstallImageCommands(*splicer, options);
        const Bytes sent = sim::SimulatedImageJpeg(2);
        Run run = Download(2);
        ASSERT_EQ(run.result.outcome, Outcome::Accepted) << run.result.statusText;
        EXPECT_EQ(run.result.statusText, "");
        EXPECT_EQ(run.result.imageSize, sent.size() + (countsHead ? 8 : 0));

        const std::filesystem::path path = dir.path() / "image.jpg";
        ASSERT_TRUE(SaveImageFile(path, run.result.image).saved);
        std::ifstream in(path, std::ios::binary);
        const Bytes saved{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(saved == sent) << "counts head " << countsHead << ": saved " << saved.size()
                                   << " bytes of " << sent.size();

        EXPECT_TRUE(std::is_sorted(run.progress.begin(), run.progress.end()));
        EXPECT_EQ(run.progress.back(), 100);
        EXPECT_EQ(run.finishedCalls, 1);
        EXPECT_TRUE(run.lineFreeWhenFinished);
    }
}

TEST_F(ImageDownload, HeadsThatEndTheDownload) {
    struct Case {
        const char* what;
        Bytes reply;
        Outcome outcome;
        std::string status;
        int lastProgress;
    };
    Bytes shortImage = Head(1000);
    shortImage.resize(8 + 500, 0x11);
    const std::vector<Case> cases = {
        {"size 0: an empty image at once", Head(0), Outcome::Accepted, "", 100},
        {"byte 2 is 0x05", Head(40, 0x05), Outcome::Unexpected, "data error", 0},
        {"rejection", {0x87, 0xEC, 0x01, 0x00, 0x74}, Outcome::Unexpected, "data error", 0},
        {"larger than the buffer", Head(kMaxImageSize + 1), Outcome::Unexpected,
         "The splicer announced an image of 999993 bytes, more than can be received (at most "
         "999992)",
         0},
        {"fewer bytes than announced", shortImage, Outcome::NoAnswer,
         "No answer,please Exit Program", 0},
    };
    for (const Case& c : cases) {
        Answer(c.reply);
        ImageDownloadOptions options = Short();
        options.deadline = milliseconds(500);
        Run run = Download(0, options);
        EXPECT_EQ(run.result.outcome, c.outcome) << c.what;
        EXPECT_EQ(run.result.statusText, c.status) << c.what;
        EXPECT_TRUE(run.image.empty()) << c.what << ": " << run.image.size() << " bytes";
        ASSERT_FALSE(run.progress.empty()) << c.what;
        EXPECT_EQ(run.progress.back(), c.lastProgress) << c.what;
        EXPECT_EQ(run.finishedCalls, 1) << c.what;
    }
}

TEST_F(ImageDownload, SilentSplicerCreepsToHalfThenTimesOut) {
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
    ImageDownloadOptions options = Short();
    options.deadline = milliseconds(400);
    options.creepStep = milliseconds(2);
    Run run = Download(0, options);
    EXPECT_EQ(run.result.outcome, Outcome::NoAnswer);
    EXPECT_EQ(run.result.statusText, "No answer,please Exit Program");
    ASSERT_GE(run.progress.size(), 2u);
    EXPECT_EQ(run.progress.back(), 0);
    const std::vector<int> creeping(run.progress.begin(), run.progress.end() - 1);
    EXPECT_TRUE(std::is_sorted(creeping.begin(), creeping.end()));
    EXPECT_EQ(creeping.back(), 50) << "the bar never goes past half before the head";
}

TEST_F(ImageDownload, LostPortEndsTheDownloadWithoutAnImage) {
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::HangUp, 8 + 1000});
    Run run = Download(0);
    EXPECT_EQ(run.result.outcome, Outcome::PortLost);
    EXPECT_EQ(run.result.statusText, "Port lost, please check the cable and connect again");
    EXPECT_TRUE(run.image.empty());
    EXPECT_EQ(run.progress.back(), 0);
    EXPECT_FALSE(link.LineBusy());
}

TEST_F(ImageDownload, StopRequestEndsARunningDownloadPromptly) {
    // Byte by byte, 2 ms apart: the image would take minutes. The bar reaches 50
    // with the head, long before the 5 s the creep would need.
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Trickle, 2});
    std::optional<LineClaim> claim = RequestForSplicer(1);
    ASSERT_TRUE(claim);

    std::mutex mutex;
    std::condition_variable changed;
    int lastProgress = 0;
    ImageDownloadCallbacks callbacks;
    callbacks.progress = [&](int percent) {
        std::lock_guard lock(mutex);
        lastProgress = percent;
        changed.notify_all();
    };
    std::stop_source stop;
    auto worker = std::async(std::launch::async, [&] {
        return ImageDownloadThread(link, std::move(*claim), buffer, stop.get_token(), callbacks);
    });
    bool arriving = false;
    {
        std::unique_lock lock(mutex);
        arriving =
            changed.wait_for(lock, std::chrono::seconds(4), [&] { return lastProgress >= 50; });
    }
    stop.request_stop();
    EXPECT_TRUE(arriving) << "the head never arrived";
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const ImageDownloadResult result = worker.get();
    EXPECT_EQ(result.outcome, Outcome::Cancelled);
    EXPECT_EQ(result.imageSize, sim::SimulatedImageJpeg(1).size()) << "stopped after the head";
    EXPECT_TRUE(result.image.empty());
    EXPECT_EQ(result.statusText, "");
    EXPECT_FALSE(link.LineBusy());
}

}  // namespace
}  // namespace velmora
