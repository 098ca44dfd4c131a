// velmora-cli history, run as a program against an in-process virtual splicer.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/text_codec.h"
#include "history/csv_export.h"
#include "protocol/command_catalogue.h"
#include "sim/parameter_commands.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

// Far beyond what a run takes; `timeout` ends a run that hangs, and the test fails.
constexpr const char* kRunMarginSeconds = "60";
constexpr int kRecords = 40;
// The serial number of the virtual splicer names its device folder.
constexpr const char* kDeviceName = "M2406A0153";

fs::path CliPath() {
#ifdef VELMORA_CLI_PATH
    return VELMORA_CLI_PATH;
#else
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "velmora-cli";
#endif
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs velmora-cli in `cwd`; standard output through a pipe, standard error into
// a file (neither is a terminal, so no progress line may appear).
RunResult RunCli(const std::vector<std::string>& args, const fs::path& cwd,
                 const fs::path& errFile) {
    std::string command = "cd " + Quoted(cwd.string()) + " && timeout " + kRunMarginSeconds +
                          " " + Quoted(CliPath().string());
    for (const std::string& arg : args) command += " " + Quoted(arg);
    command += " 2>" + Quoted(errFile.string());
    RunResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadAll(errFile);
    return result;
}

RecordStore SampleStore(int count) {
    RecordStore store(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) store[i].bytes = sim::SampleRecord(i);
    return store;
}

class HistoryCliTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallParameterCommands(*splicer);
        sim::InstallRecordCommands(*splicer, kRecords);
    }

    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", splicer->PortPath()});
        return RunCli(args, workDir.path(), scratch.path() / "stderr.txt");
    }

    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> commands;
        for (const auto& frame : splicer->ReceivedFrames()) commands.push_back(frame.at(1));
        return commands;
    }

    fs::path CsvFile() const {
        return workDir.path() / "FS" / kDeviceName / "CSV" / CsvFileName(LocalToday());
    }

    test::TempDir workDir;
    test::TempDir scratch;
};

TEST_F(HistoryCliTest, PrintsNumberAndTimeAsTheIndexListShowsThem) {
    const RunResult r = Run({"history"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string expected;
    for (const IndexRow& row : IndexRows(SampleStore(kRecords)))
        expected += row.number + "\t" + row.time + "\n";
    EXPECT_EQ(r.out, expected);
    ASSERT_TRUE(splicer->WaitForFrames(5, 5s));
    EXPECT_EQ(Commands(),
              (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig, cmd::RecordCount,
                                         cmd::RecordDownload, cmd::Disconnect}));
    EXPECT_FALSE(fs::exists(CsvFile()));
}

TEST_F(HistoryCliTest, CsvReplacesTheDaysFileWithoutAskingAndPrintsItsPath) {
    fs::create_directories(CsvFile().parent_path());
    std::ofstream(CsvFile(), std::ios::binary) << "an older export of today";
    struct Case {
        const char* lang;
        TableLanguage language;
    };
    for (const Case& c : {Case{"en", TableLanguage::English}, Case{"zh", TableLanguage::Chinese}}) {
        SCOPED_TRACE(c.lang);
        const RunResult r = Run({"--lang", c.lang, "history", "--csv"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, CsvFile().string() + "\n");
        // No language files in the working folder: the captions are the English defaults.
        const std::string bytes = ReadAll(CsvFile());
        EXPECT_EQ(bytes, CsvDocument(SampleStore(kRecords), DetailCaptions(), c.language));
        if (c.language == TableLanguage::Chinese) {
            EXPECT_NE(GbkToUtf8(bytes).find("成功"), std::string::npos);
        }
    }
    // Nothing but the export is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(CsvFile().parent_path()),
                            fs::directory_iterator()),
              1);
}

TEST_F(HistoryCliTest, FailuresExitWithTheirStatusAndText) {
    auto countReply = [](std::uint8_t low, std::uint8_t high) {
        std::vector<std::uint8_t> reply = {0x87, 0x63, 0x02, low, high};
        reply.push_back(SumCheck(reply));
        return reply;
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        Fault countFault;
        std::vector<std::uint8_t> countAnswer;  // empty: the installed one
        int status;
        const char* err;
        bool touchesLine;
    };
    const Case cases[] = {
        {"stray argument", {"history", "all"}, {}, {}, 2,
         "velmora-cli: history takes only --csv, not 'all'\n", false},
        {"twice --csv", {"history", "--csv", "--csv"}, {}, {}, 2,
         "velmora-cli: history takes only --csv, not '--csv'\n", false},
        {"silent count", {"history"}, {FaultKind::Silent}, {}, 1,
         "No answer,please Exit Program\n", true},
        {"bad check", {"history", "--csv"}, {FaultKind::BadCheck}, {}, 1, "check code error\n",
         true},
        {"too many", {"history"}, {}, countReply(0x90, 0x14), 1,
         "The splicer holds 5264 records, more than can be received at once (at most 5263)\n",
         true},
        {"none to list", {"history"}, {}, countReply(0, 0), 0, "", true},
        {"none to export", {"history", "--csv"}, {}, countReply(0, 0), 0, "There is no record\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::InstallRecordCommands(*splicer, kRecords);
        splicer->ClearFaults();
        splicer->SetFault(cmd::RecordCount, c.countFault);
        if (!c.countAnswer.empty())
            splicer->SetHandler(cmd::RecordCount,
                                [r = c.countAnswer](const sim::Request&) { return r; });
        const std::size_t before = splicer->ReceivedFrames().size();
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(CsvFile()));
        if (!c.touchesLine) {
            EXPECT_EQ(splicer->ReceivedFrames().size(), before);
            continue;
        }
        // Handshake, configuration, count, and the goodbye; never a download request.
        ASSERT_TRUE(splicer->WaitForFrames(before + 4, 5s));
        for (std::size_t i = before; i < splicer->ReceivedFrames().size(); ++i)
            EXPECT_NE(splicer->ReceivedFrames()[i].at(1), cmd::RecordDownload);
    }
}

TEST_F(HistoryCliTest, ExportThatCannotBeWrittenIsALocalFileError) {
    // A file stands where the CSV folder should be.
    fs::create_directories(workDir.path() / "FS" / kDeviceName);
    std::ofstream(workDir.path() / "FS" / kDeviceName / "CSV") << "in the way";
    const RunResult r = Run({"history", "--csv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("File could not be saved: ")) << r.err;
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace velmora
