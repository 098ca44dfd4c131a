// velmora-cli images and image against the virtual splicer: the list and the
// saved JPEG. Their failures are tested with those of the other commands.
#include <gtest/gtest.h>

#include <fstream>

#include "images/image_catalogue.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Lines;

ImageEntry EntryOf(int index) {
    const auto e = sim::SimulatedImageEntry(index);
    return {e[0], e[1], e[2], e[3], e[4], e[5], e[6]};
}

class ImageCliTest : public test::CliTest {};

TEST_F(ImageCliTest, ImagesPrintsNumberAndTime) {
    const test::CliRun r = Run({"images"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected;
    for (int i = 0; i < test::kCliImages; ++i)
        expected.push_back(std::to_string(i + 1) + "\t" + ImageTimeText(EntryOf(i)));
    EXPECT_EQ(Lines(r.out), expected);
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig,
                                                     cmd::ImageList, cmd::Disconnect}));
}

TEST_F(ImageCliTest, ImageSavesTheJpegByteIdenticalReplacingAnOldFile) {
    const fs::path saved = workDir.path() / "FS" / test::kSimDeviceName / "JPG" /
                           ImageFileName(EntryOf(1), 1);
    const std::vector<std::uint8_t> jpeg = sim::SimulatedImageJpeg(1);
    // Whether the splicer counts the head in the size or not, the file is the JPEG it sent.
    for (const bool sizeCountsHead : {false, true}) {
        SCOPED_TRACE(sizeCountsHead ? "size counts the head" : "size of the image");
        sim::ImageCommandOptions options;
        options.count = test::kCliImages;
        options.sizeCountsHead = sizeCountsHead;
        sim::InstallImageCommands(*splicer, options);
        if (fs::exists(saved)) std::ofstream(saved, std::ios::binary) << "an older, shorter file";

        const test::CliRun r = Run({"image", "2"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, saved.string() + "\n");
        EXPECT_EQ(test::ReadFileBytes(saved), std::string(jpeg.begin(), jpeg.end()));
        EXPECT_EQ(std::distance(fs::directory_iterator(saved.parent_path()), {}), 1);
    }
    // After the handshake, the configuration and the list: the request for image 2.
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(3)), "87 71 02 01 20 FB");
}

}  // namespace
}  // namespace velmora
