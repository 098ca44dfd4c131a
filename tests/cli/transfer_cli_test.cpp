// velmora-cli history, images, image and firmware against the virtual splicer:
// what they print, the files they write and what the splicer receives. Their
// failures are tested with those of the other commands.
#include <gtest/gtest.h>

#include <fstream>

#include "history/csv_export.h"
#include "history/history_texts.h"
#include "images/image_catalogue.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "sim/record_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Lines;

RecordStore SampleStore() {
    RecordStore store(static_cast<std::size_t>(test::kCliRecords));
    for (int i = 0; i < test::kCliRecords; ++i) store[i].bytes = sim::SampleRecord(i);
    return store;
}

ImageEntry EntryOf(int index) {
    const auto e = sim::SimulatedImageEntry(index);
    return {e[0], e[1], e[2], e[3], e[4], e[5], e[6]};
}

std::ptrdiff_t EntriesIn(const fs::path& folder) {
    return std::distance(fs::directory_iterator(folder), {});
}

class TransferCliTest : public test::CliTest {
  protected:
    fs::path DeviceFolder() const { return workDir.path() / "FS" / test::kSimDeviceName; }
    fs::path CsvFile() const { return DeviceFolder() / "CSV" / CsvFileName(LocalToday()); }
};

TEST_F(TransferCliTest, ListsPrintNumberAndTimeAsThePagesShowThem) {
    std::vector<std::string> records, images;
    for (const IndexRow& row : IndexRows(SampleStore()))
        records.push_back(row.number + "\t" + row.time);
    for (int i = 0; i < test::kCliImages; ++i)
        images.push_back(std::to_string(i + 1) + "\t" + ImageTimeText(EntryOf(i)));
    const std::uint8_t H = cmd::Handshake, C = cmd::ReadConfig, D = cmd::Disconnect;
    struct Case {
        const char* command;
        std::vector<std::string> lines;
        std::vector<std::uint8_t> commands;
    } cases[] = {
        {"history", records, {H, C, cmd::RecordCount, cmd::RecordDownload, D}},
        {"images", images, {H, C, cmd::ImageList, D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        RestartSplicer();
        const test::CliRun r = Run({c.command});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Lines(r.out), c.lines);
        ASSERT_TRUE(splicer->WaitForFrames(c.commands.size(), 5s));
        EXPECT_EQ(Commands(), c.commands);
    }
    EXPECT_FALSE(fs::exists(CsvFile()));
}

TEST_F(TransferCliTest, CsvReplacesTheDaysFileWithoutAskingAndPrintsItsPath) {
    fs::create_directories(CsvFile().parent_path());
    std::ofstream(CsvFile(), std::ios::binary) << "an older export of today";
    for (const auto& [lang, language] :
         {std::pair{"en", TableLanguage::English}, std::pair{"zh", TableLanguage::Chinese}}) {
        SCOPED_TRACE(lang);
        const test::CliRun r = Run({"--lang", lang, "history", "--csv"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, CsvFile().string() + "\n");
        // No language files in the working folder: the captions are the English defaults.
        EXPECT_EQ(test::ReadFileBytes(CsvFile()),
                  CsvDocument(SampleStore(), DetailCaptions(), language));
        EXPECT_EQ(EntriesIn(CsvFile().parent_path()), 1) << "nothing but the export is left";
    }
    // A file where the CSV folder should be: a local file error.
    fs::remove_all(CsvFile().parent_path());
    workDir.Write(std::string("FS/") + test::kSimDeviceName + "/CSV", "in the way");
    const test::CliRun r = Run({"history", "--csv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("File could not be saved: ")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(TransferCliTest, ImageSavesTheJpegByteIdenticalReplacingAnOldFile) {
    const fs::path saved = DeviceFolder() / "JPG" / ImageFileName(EntryOf(1), 1);
    const std::vector<std::uint8_t> jpeg = sim::SimulatedImageJpeg(1);
    fs::create_directories(saved.parent_path());
    std::ofstream(saved, std::ios::binary) << std::string(2 * jpeg.size(), 'x');  // longer
    const test::CliRun r = Run({"image", "2", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, saved.string() + "\n");
    EXPECT_EQ(test::ReadFileBytes(saved), std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(EntriesIn(saved.parent_path()), 1);
    // After the handshake, the configuration and the list: the request for image 2.
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(3)), "87 71 02 01 20 FB");
}

// The firmware goes whole, the splicer's text and the end shown in the chosen
// language (the percentages on the way are the FirmWare page's test's); no goodbye
// after a transfer: the splicer no longer reads frames.
TEST_F(TransferCliTest, FirmwareGoesWholeWithTheSplicersTextAndEnd) {
    const std::string bytes = test::FirmwareBytes(29999);
    const test::CliRun r =
        Run({"--lang", "zh", "firmware", scratch.Write("fw.bin", bytes).string(), "--no-backup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Boot loader V1.2, waiting for firmware",
                                                      "更新完成，请重新启动程序和熔接机"}));
    ASSERT_TRUE(installed.firmware->WaitForReceipts(1, 20s));
    EXPECT_EQ(installed.firmware->Receipts().back().bytes, bytes.size());
    EXPECT_EQ(installed.firmware->Receipts().back().crc32, test::CrcOf(bytes));
    EXPECT_EQ(Commands(),
              (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig, cmd::FirmwareHandshake1,
                                         cmd::FirmwareHandshake2}));
}

}  // namespace
}  // namespace velmora
