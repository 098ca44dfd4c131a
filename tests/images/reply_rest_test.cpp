// Dropping what a splicer still sends after a refused image head: bounded in
// time, and never on a line another exchange holds. (That the next exchange then
// reads its own reply is tested through the Image page and velmora-cli.)
#include "images/reply_rest.h"

#include <gtest/gtest.h>

#include "images/image_download.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;

class ReplyRestTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallImageCommands(*splicer, 3);
        ASSERT_TRUE(OpenLink());
    }

    // Asks for image 0 and lets the worker judge its head.
    Outcome DownloadFirstImage() {
        ImageRequest request = StartImageDownload(link, 0);
        if (request.outcome != Outcome::Accepted) return request.outcome;
        ImageBuffer buffer;
        return ImageDownloadThread(link, std::move(*request.claim), buffer, {}).outcome;
    }
};

TEST_F(ReplyRestTest, GivesUpAtItsLimitAndNeverTakesABusyLine) {
    // The splicer keeps sending past the limit.
    splicer->SetFault(cmd::ImageDownload, {FaultKind::Trickle, 5, 1});
    splicer->SetHandler(cmd::ImageDownload, [](const sim::Request&) {
        return std::vector<std::uint8_t>(4000, 0x55);
    });
    ASSERT_EQ(DownloadFirstImage(), Outcome::Unexpected);
    DiscardOptions shortLimit;
    shortLimit.limit = 300ms;
    const std::size_t dropped = DiscardRestOfReply(link, {}, {}, shortLimit);
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(dropped, 4000u);

    std::optional<LineClaim> claim = link.ClaimLine();
    ASSERT_TRUE(claim);
    EXPECT_EQ(DiscardRestOfReply(link), 0u);
}

}  // namespace
}  // namespace velmora
