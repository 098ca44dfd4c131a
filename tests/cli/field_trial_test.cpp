// What a hostile splicer must never achieve through velmora-cli: a failure
// reported as success, a good file replaced by a worse one, raw control bytes on
// the terminal. Each row is a fault met in the field.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "history/csv_export.h"
#include "protocol/command_catalogue.h"
#include "settings/parameter_records.h"
#include "sim/image_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using sim::FaultKind;

class FieldTrialTest : public test::CliTest {
  protected:
    fs::path DeviceFolder() const { return workDir.path() / "FS" / test::kSimDeviceName; }
    // A file that stands where a command would write, so a replacement shows.
    fs::path Plant(const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << "the good file of yesterday";
        return file;
    }
    std::string Read(const fs::path& file) { return test::ReadFileBytes(file); }
};

TEST_F(FieldTrialTest, AGarbledOrSurplusRecordStreamIsAFailureAndTheDaysFileStays) {
    const fs::path csv = Plant(DeviceFolder() / "CSV" / CsvFileName(LocalToday()));
    const struct {
        sim::Fault fault;
        std::string reason;
    } cases[] = {
        {{FaultKind::Junk, 5}, "Record 1 arrived garbled; this download is refused"},
        {{FaultKind::Twice},
         "The splicer sent more than the records it announced; this "
         "download is refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(sim::FaultKindName(c.fault.kind)));
        RestartSplicer();
        splicer->SetFault(cmd::RecordDownload, c.fault);
        const test::CliRun r = Run({"history", "--csv"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.reason + "; no CSV file was written\n");
        EXPECT_EQ(Read(csv), "the good file of yesterday");
        // The export written during the wait for the verdict is gone with it.
        EXPECT_EQ(std::distance(fs::directory_iterator(csv.parent_path()), {}), 1);
        // The line is left ready: the next command on the same splicer works.
        splicer->ClearFaults();
        EXPECT_EQ(Run({"images"}).status, 0);
    }
}

TEST_F(FieldTrialTest, ALateGoodbyeDoesNotSpoilTheNextCommand) {
    // Answered after the wait for it has ended: the answer lands in the next run's handshake.
    splicer->SetFault(cmd::Disconnect, {FaultKind::Delay, 1700, 1});
    Run({"images"});
    const test::CliRun next = Run({"images"});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(test::Lines(next.out).size(), static_cast<std::size_t>(test::kCliImages));
}

TEST_F(FieldTrialTest, ImagesAreSavedOnlyWholeAndNeverOverAFileUnasked) {
    // The list's tail arriving late must not spoil the download that follows it.
    splicer->SetFault(cmd::ImageList, {FaultKind::LateTail, 4});
    const test::CliRun late = Run({"image", "1"});
    ASSERT_EQ(late.status, 0) << late.err;
    const fs::path saved = fs::path(test::Lines(late.out).at(0));

    Plant(saved);
    const test::CliRun unasked = Run({"image", "1"});
    EXPECT_EQ(unasked.status, 2);
    EXPECT_NE(unasked.err.find("add --force"), std::string::npos) << unasked.err;
    EXPECT_EQ(Read(saved), "the good file of yesterday");

    // Eight bytes short: taken as a size that counted the head, the end marker is missing.
    const int whole = static_cast<int>(sim::SimulatedImageJpeg(0).size());
    splicer->SetFault(cmd::ImageDownload, {FaultKind::Short, whole});
    const test::CliRun cut = Run({"image", "1", "--force"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("did not arrive whole"), std::string::npos) << cut.err;
    EXPECT_EQ(Read(saved), "the good file of yesterday");
}

TEST_F(FieldTrialTest, NothingIsWrittenWithoutTheSplicersFolderAndRawBytesAreEscaped) {
    // A configuration reply cut short names no folder: the connection says what failed,
    // and nothing is written: no CSV anywhere, no FS/unnamed.
    splicer->SetFault(cmd::ReadConfig, {FaultKind::Short, 20, 1});
    const test::CliRun csv = Run({"history", "--csv"});
    EXPECT_EQ(csv.status, 1);
    EXPECT_NE(csv.err.find("the splicer's configuration could not be read (check code error)"),
              std::string::npos)
        << csv.err;
    EXPECT_FALSE(fs::exists(workDir.path() / "FS"));
    EXPECT_FALSE(fs::exists(workDir.path() / "CSV"));

    auto config = installed.params->Config();
    const std::string serial = "V\x1B[2J\a\rX";
    std::copy(serial.begin(), serial.end(), config.begin() + 36);
    installed.params->SetConfig(config);
    const test::CliRun read = Run({"read", "system"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find("V\\x1B[2J\\x07\\x0DX"), std::string::npos) << read.out;
    EXPECT_EQ(read.out.find('\x1B'), std::string::npos);
    ASSERT_EQ(Run({"history"}).status, 0);
    const test::CliRun list = Run({"archive", "list"});
    EXPECT_EQ(list.out.find("V\\x1B[2J\\x07\\x0DX"), 0u) << list.out;
    EXPECT_EQ(list.out.find('\x1B'), std::string::npos);
}

}  // namespace
}  // namespace velmora
