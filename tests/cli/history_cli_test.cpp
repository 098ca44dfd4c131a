// velmora-cli history against the virtual splicer: the list and the CSV export.
// Its failures are tested with those of the other commands.
#include <gtest/gtest.h>

#include <fstream>

#include "history/csv_export.h"
#include "protocol/command_catalogue.h"
#include "sim/record_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

RecordStore SampleStore() {
    RecordStore store(static_cast<std::size_t>(test::kCliRecords));
    for (int i = 0; i < test::kCliRecords; ++i) store[i].bytes = sim::SampleRecord(i);
    return store;
}

std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class HistoryCliTest : public test::CliTest {
protected:
    fs::path CsvFile() const {
        return workDir.path() / "FS" / test::kSimDeviceName / "CSV" / CsvFileName(LocalToday());
    }
};

TEST_F(HistoryCliTest, PrintsNumberAndTimeAsTheIndexListShowsThem) {
    const test::CliRun r = Run({"history"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string expected;
    for (const IndexRow& row : IndexRows(SampleStore()))
        expected += row.number + "\t" + row.time + "\n";
    EXPECT_EQ(r.out, expected);
    ASSERT_TRUE(splicer->WaitForFrames(5, 5s));
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig,
                                                     cmd::RecordCount, cmd::RecordDownload,
                                                     cmd::Disconnect}));
    EXPECT_FALSE(fs::exists(CsvFile()));
}

TEST_F(HistoryCliTest, CsvReplacesTheDaysFileWithoutAskingAndPrintsItsPath) {
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
        EXPECT_EQ(EntriesIn(CsvFile().parent_path()), 1u) << "nothing but the export is left";
    }
}

TEST_F(HistoryCliTest, ExportThatCannotBeWrittenIsALocalFileError) {
    // A file stands where the CSV folder should be.
    workDir.Write(std::string("FS/") + test::kSimDeviceName + "/CSV", "in the way");
    const test::CliRun r = Run({"history", "--csv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("File could not be saved: ")) << r.err;
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace velmora
