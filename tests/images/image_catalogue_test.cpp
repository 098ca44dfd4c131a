#include "images/image_catalogue.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 87 70 xx 02 xx xx xx, then two 10-byte slots whose last three bytes are noise.
const Bytes kTwoSlots = {0x87, 0x70, 0x18, 0x02, 0x11, 0x22, 0x33, 0x05, 0x10,
                         0x0C, 0x05, 0x09, 0x07, 0x03, 0xEE, 0xEE, 0xEE, 0x06,
                         0x11, 0x01, 0x1F, 0x17, 0x3B, 0x3B, 0xEE, 0xEE, 0xEE};

TEST(ImageListReply, CompletesOnTheCountNotOnTheLengthByte) {
    struct Case {
        const char* what;
        Bytes gathered;
        bool complete;
    };
    const Bytes twoEntries(kTwoSlots.begin(), kTwoSlots.begin() + 24);
    const std::vector<Case> cases = {
        {"nothing yet", {}, false},
        {"head only", {0x87, 0x70, 0x04}, false},
        {"count 0 on four bytes", {0x87, 0x70, 0x04, 0x00}, true},
        {"two entries, last byte missing", Bytes(twoEntries.begin(), twoEntries.end() - 1), false},
        {"two entries up to the last entry byte", twoEntries, true},
        {"a foreign head needs no count", {0x87, 0xEC}, true},
        {"a stray first byte", {0x00, 0x87}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(ImageListComplete(c.gathered), c.complete) << c.what;
}

TEST(ImageListReply, TakesSevenBytesOfEachSlot) {
    std::optional<ImageCatalogue> catalogue = ParseImageList(kTwoSlots);
    ASSERT_TRUE(catalogue);
    ASSERT_EQ(catalogue->size(), 2u);
    EXPECT_EQ((*catalogue)[0], (ImageEntry{0x05, 0x10, 0x0C, 0x05, 0x09, 0x07, 0x03}));
    EXPECT_EQ((*catalogue)[1], (ImageEntry{0x06, 0x11, 0x01, 0x1F, 0x17, 0x3B, 0x3B}));

    EXPECT_FALSE(ParseImageList(Bytes{0x87, 0x71, 0x04, 0x00})) << "another command's head";
    EXPECT_FALSE(ParseImageList(Bytes(kTwoSlots.begin(), kTwoSlots.begin() + 20)))
        << "shorter than the count says";
    EXPECT_EQ(ParseImageList(Bytes{0x87, 0x70, 0x04, 0x00})->size(), 0u);
}

TEST(ImageListTexts, TwoDigitPartsAndRowNumbersFromOne) {
    const ImageCatalogue catalogue = {{0, 0x10, 0x0C, 0x05, 0x09, 0x07, 0x03},
                                      {0, 0x00, 0x01, 0x0A, 0x00, 0x3B, 0x09},
                                      {0, 0xFF, 0x7B, 0x00, 0x63, 0x64, 0x00}};
    const std::vector<ImageRow> rows = ImageListRows(catalogue);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].number, "1");
    EXPECT_EQ(rows[0].time, "2016-12-05 09:07:03");
    EXPECT_EQ(rows[1].time, "2000-01-10 00:59:09");
    // Nothing is range-checked: large values keep all their digits.
    EXPECT_EQ(rows[2].number, "3");
    EXPECT_EQ(rows[2].time, "2255-123-00 99:100:00");
    EXPECT_EQ(ImageStampText(catalogue[0]), "20161205090703");
}

class ImageListExchange : public test::SplicerTest {
  protected:
    ImageListAnswer Fetch(int limitMs = kImageListTimeoutMs) {
        ImageListOptions options;
        options.limit = std::chrono::milliseconds(limitMs);
        return FetchImageList(link, {}, options);
    }
};

TEST_F(ImageListExchange, ListsTheSplicersImages) {
    sim::InstallImageCommands(*splicer, 6);
    ASSERT_TRUE(OpenLink());
    link.ReplyLength = 5;  // left over from an earlier exchange; plays no part
    ImageListAnswer answer = Fetch();
    ASSERT_EQ(answer.outcome, Outcome::Accepted);
    ASSERT_EQ(answer.catalogue.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        const auto e = sim::SimulatedImageEntry(i);
        EXPECT_EQ(answer.catalogue[i], (ImageEntry{e[0], e[1], e[2], e[3], e[4], e[5], e[6]}));
    }
    ASSERT_EQ(splicer->ReceivedFrames().size(), 1u);
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames()[0]), "87 70 01 00 F8");
}

TEST_F(ImageListExchange, RepliesTheProgramMustTellApart) {
    struct Case {
        const char* what;
        Bytes reply;  // empty: the splicer stays silent
        Outcome outcome;
        std::size_t entries;
        std::string status;  // CommStatusText afterwards
    };
    Bytes twoWithCheck = kTwoSlots;
    twoWithCheck.push_back(0x5A);
    const std::vector<Case> cases = {
        {"two slots, check byte not examined", twoWithCheck, Outcome::Accepted, 2, "earlier"},
        {"count 0 in four bytes", {0x87, 0x70, 0x04, 0x00}, Outcome::Accepted, 0, "earlier"},
        {"foreign head", {0x87, 0x71, 0x04, 0x00, 0xFC}, Outcome::Unexpected, 0, "earlier"},
        {"rejection", {0x87, 0xEC, 0x01, 0xAC, 0x00}, Outcome::Unexpected, 0, "earlier"},
        {"count says more than arrives",
         {0x87, 0x70, 0x04, 0x03, 0, 0, 0},
         Outcome::NoAnswer,
         0,
         "No answer,please Exit Program"},
        {"silent", {}, Outcome::NoAnswer, 0, "No answer,please Exit Program"},
    };
    ASSERT_TRUE(OpenLink());
    for (const Case& c : cases) {
        const Bytes reply = c.reply;
        splicer->SetHandler(cmd::ImageList, [reply](const sim::Request&) { return reply; });
        link.CommStatusText = "earlier";
        ImageListAnswer answer = Fetch(300);
        EXPECT_EQ(answer.outcome, c.outcome) << c.what;
        EXPECT_EQ(answer.catalogue.size(), c.entries) << c.what;
        EXPECT_EQ(link.CommStatusText, c.status) << c.what;
    }
}

TEST_F(ImageListExchange, NothingIsSentWhileTheLineIsHeldOrClosed) {
    sim::InstallImageCommands(*splicer, 6);
    EXPECT_EQ(Fetch().outcome, Outcome::NotOpen);
    EXPECT_EQ(link.CommStatusText, "Communication Disconnect");
    ASSERT_TRUE(OpenLink());
    {
        std::optional<LineClaim> download = link.ClaimLine();
        ASSERT_TRUE(download);
        EXPECT_EQ(Fetch().outcome, Outcome::Busy);
    }
    EXPECT_EQ(Fetch().outcome, Outcome::Accepted);
    EXPECT_EQ(splicer->ReceivedFrames().size(), 1u);
}

}  // namespace
}  // namespace velmora
