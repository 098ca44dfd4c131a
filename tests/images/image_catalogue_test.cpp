// The image list (0x70): its own completion rule, the row texts, and the
// exchange against the virtual splicer.
#include "images/image_catalogue.h"

#include <gtest/gtest.h>

#include "protocol/command_catalogue.h"
#include "protocol/outcome_texts.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 87 70 xx 02 xx xx xx, then two 10-byte slots whose last three bytes are noise.
const Bytes kTwoSlots = {0x87, 0x70, 0x18, 0x02, 0x11, 0x22, 0x33, 0x05, 0x10,
                         0x0C, 0x05, 0x09, 0x07, 0x03, 0xEE, 0xEE, 0xEE, 0x06,
                         0x11, 0x01, 0x1F, 0x17, 0x3B, 0x3B, 0xEE, 0xEE, 0xEE};

TEST(ImageListReply, CompletesOnTheCountNotOnTheLengthByte) {
    const Bytes twoEntries(kTwoSlots.begin(), kTwoSlots.begin() + 24);
    struct Case {
        const char* what;
        Bytes gathered;
        Gathered complete;
    } cases[] = {
        {"head only", {0x87, 0x70, 0x04}, Gathered::More},
        {"two entries, last byte missing", Bytes(twoEntries.begin(), twoEntries.end() - 1),
         Gathered::More},
        // The tail of the frame may still come: the next request waits for it or for quiet.
        {"two entries up to the last entry byte", twoEntries, Gathered::CompleteUnlessMore},
        {"two entries and the slots' tail", kTwoSlots, Gathered::CompleteUnlessMore},
        {"the whole frame",
         [] {
             Bytes b = kTwoSlots;
             b.push_back(0);
             return b;
         }(),
         Gathered::Complete},
        {"a foreign head needs no count", {0x87, 0xEC}, Gathered::Complete},
    };
    for (const Case& c : cases) EXPECT_EQ(ImageListComplete(c.gathered), c.complete) << c.what;
}

TEST(ImageListReply, RowsNumberFromOneWithTwoDigitPartsAndNoRangeCheck) {
    const std::vector<ImageRow> rows = ImageListRows(
        {{0, 0x10, 0x0C, 0x05, 0x09, 0x07, 0x03}, {0, 0xFF, 0x7B, 0x00, 0x63, 0x64, 0x00}});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].number + " " + rows[0].time, "1 2016-12-05 09:07:03");
    EXPECT_EQ(rows[1].number + " " + rows[1].time, "2 2255-123-00 99:100:00");
}

class ImageListExchange : public test::SplicerTest {
  protected:
    ImageListAnswer Fetch() { return FetchImageList(link, {}, {std::chrono::milliseconds(300)}); }
};

TEST_F(ImageListExchange, RepliesTheProgramMustTellApart) {
    Bytes twoWithCheck = kTwoSlots;
    twoWithCheck.push_back(0x5A);
    const std::string noAnswer = "No answer,please Exit Program";
    struct Case {
        const char* what;
        Bytes reply;  // empty: the splicer stays silent
        Outcome outcome;
        ImageCatalogue catalogue;
        std::string status;  // CommStatusText afterwards
    } cases[] = {
        {"seven bytes of each slot, check byte not examined",
         twoWithCheck,
         Outcome::Accepted,
         {{0x05, 0x10, 0x0C, 0x05, 0x09, 0x07, 0x03}, {0x06, 0x11, 0x01, 0x1F, 0x17, 0x3B, 0x3B}},
         "earlier"},
        {"count 0 in four bytes", {0x87, 0x70, 0x04, 0x00}, Outcome::Accepted, {}, "earlier"},
        {"foreign head", {0x87, 0x71, 0x04, 0x00, 0xFC}, Outcome::Unexpected, {}, "earlier"},
        {"rejection", {0x87, 0xEC, 0x01, 0xAC, 0x00}, Outcome::Unexpected, {}, "earlier"},
        {"count says more than arrives",
         {0x87, 0x70, 0x04, 0x03, 0, 0, 0},
         Outcome::NoAnswer,
         {},
         noAnswer},
        {"silent", {}, Outcome::NoAnswer, {}, noAnswer},
    };
    ASSERT_TRUE(OpenLink());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        splicer->SetHandler(cmd::ImageList, [r = c.reply](const sim::Request&) { return r; });
        const ImageListAnswer answer = Fetch();
        EXPECT_EQ(answer.outcome, c.outcome);
        EXPECT_EQ(answer.catalogue, c.catalogue);
        const Message* text = StandardFailureText(answer.outcome);
        EXPECT_EQ(text ? Say(*text) : std::string("earlier"), c.status);
    }
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(0)), "87 70 01 00 F8");
}

}  // namespace
}  // namespace velmora
