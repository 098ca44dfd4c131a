// velmora-cli run as a program: usage errors of every command, and the Setting
// page's commands (ports, read, write) against the virtual splicer.
#include <gtest/gtest.h>

#include "protocol/command_catalogue.h"
#include "settings/parameter_records.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using test::Lines;

const std::vector<std::uint8_t> kConnectReadSplice = {cmd::Handshake, cmd::ReadConfig,
                                                      cmd::ReadSplice, cmd::Disconnect};

class CliTest : public test::CliTest {};

TEST_F(CliTest, UsageAndFileErrorsExitTwoAndTouchNoLine) {
    const std::string missing = (scratch.path() / "missing.bin").string();
    struct Case {
        std::vector<std::string> args;
        std::string err;  // empty: any text
    } cases[] = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"--lang", "fr", "read", "splice"}, ""},
        {{"--baud", "fast", "read", "splice"}, ""},
        {{"ports", "extra"}, ""},
        {{"read"}, ""},
        {{"read", "everything"}, ""},
        {{"write", "splice"}, ""},
        {{"write", "splice", "ARC Time"}, ""},
        {{"write", "splice", "No Such Row=1"}, ""},
        {{"write", "splice", "20=1"}, ""},
        {{"write", "system", "Serial Num=X1"}, ""},
        {{"write", "environment", "Voltage=12"}, ""},
        {{"write", "system", "Beep=maybe"}, ""},
        {{"images", "extra"}, ""},
        {{"image"}, ""},
        {{"image", "0"}, ""},
        {{"image", "256"}, ""},
        {{"image", "two"}, ""},
        {{"image", "1", "2"}, ""},
        {{"history", "all"}, "velmora-cli: history takes --csv and --no-archive, not 'all'\n"},
        {{"history", "--csv", "--csv"},
         "velmora-cli: history takes --csv and --no-archive, not '--csv'\n"},
        {{"firmware"},
         "velmora-cli: firmware needs one FILE, the firmware to send (and may take --no-backup)\n"},
        // Bytes that are not text in the terminal's encoding, named; never taken as they came.
        {{"job", "create", "\xBD\xD3\xCD\xB7"},
         "velmora-cli: argument 5 is not text in the terminal's encoding (UTF-8): '\\xBD\\xD3"
         "\\xCD\\xB7'; type it again in that encoding, or set the terminal's encoding (LANG) to "
         "the one it is in\n"},
        // The file is checked before the line: the splicer never waits for a missing file.
        {{"firmware", missing}, "velmora-cli: Firmware file not found: " + missing + "\n"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        const test::CliRun r = Run(c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_FALSE(r.err.empty());
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(CliTest, ReadPrintsTheGridTextsAndDisconnects) {
    const test::CliRun r = Run({"read", "splice"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0], "Fiber Type\tSM AUTO");
    EXPECT_EQ(lines[19], "PullingTest\tOn");
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), kConnectReadSplice);
    // Connecting named the device folder under the working directory.
    EXPECT_TRUE(fs::is_directory(workDir.path() / "FS" / test::kSimDeviceName));
}

TEST_F(CliTest, WriteChangesTheSplicerAndReadShowsIt) {
    // Rows by caption in any case, or by index; decimals stored exactly.
    test::CliRun r = Run({"write", "splice", "ARC Time=1600", "13=200", "cut angle=2.3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Parameter in success\n");
    const SpliceParams stored = DecodeSpliceParams(installed.params->Splice());
    EXPECT_EQ(stored.arcTime, 1600);
    EXPECT_EQ(stored.preTime, 200);
    EXPECT_EQ(stored.cutAngle, 23);
    EXPECT_EQ(stored.lossLimit, 10);  // untouched

    ASSERT_EQ(Run({"write", "system", "beep=off", "SysTime=12 min"}).status, 0);
    EXPECT_EQ(DecodeDeviceConfig(installed.params->Config()).sysTime, 12);
    r = Run({"read", "system"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[4], "Beep\tOff");
    EXPECT_EQ(lines[8], "SysTime\t12 min");
}

TEST_F(CliTest, RangeFailuresExitTwoAndWriteNothing) {
    const test::CliRun r = Run(
        {"write", "splice", "Cut Angle=25.1", "ARC Time=-1", "ARC Value=abc", "Name1=ABCDEFGHIJK"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "Name1: 'ABCDEFGHIJK' is longer than 10 bytes\n"
              "ARC Value: 'abc' is not a number\n"
              "ARC Time: outside what it can hold, 0 to 65535\n"
              "Cutting Limit input error,range is 0—25\n");
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), kConnectReadSplice);
}

// Every command ends a failure of the splicer or the line with status 1 and one
// line saying why, writes no file, and says goodbye while the splicer reads frames.
TEST_F(CliTest, ShortEndsOfEveryCommandHaveTheirStatusReasonAndNoFile) {
    const std::string fw = scratch.Write("fw.bin", std::string(100000, 'x')).string();
    auto count = [](std::uint8_t low, std::uint8_t high) {
        std::vector<std::uint8_t> reply = {0x87, 0x63, 0x02, low, high};
        reply.push_back(SumCheck(reply));
        return reply;
    };
    constexpr std::uint8_t H = cmd::Handshake, C = cmd::ReadConfig, D = cmd::Disconnect;
    constexpr std::uint8_t RH = cmd::ReadHeater, WH = cmd::WriteHeater, RC = cmd::RecordCount;
    constexpr std::uint8_t IL = cmd::ImageList, ID = cmd::ImageDownload;
    constexpr std::uint8_t F1 = cmd::FirmwareHandshake1, F2 = cmd::FirmwareHandshake2;
    const std::vector<std::string> update = {"firmware", fw, "--no-backup"};
    const std::string notStarted = "The update did not start: ";
    const std::string begun = "Boot loader V1.2, waiting for firmware\nUpdating ,0%\n";
    using enum FaultKind;
    struct Case {
        std::vector<std::string> args;
        std::uint8_t command;
        Fault fault;
        int status;
        std::string err;  // how its only line starts
        std::vector<std::uint8_t> commands;
        std::vector<std::uint8_t> answer = {};  // instead of the splicer's own
        std::string out = {};                   // how standard output starts
    } cases[] = {
        {{"read", "heating"}, H, {Silent}, 1, "No answer,please Exit Program\n", {H}},
        {{"read", "heating"}, RH, {Reject}, 1, "data error\n", {H, C, RH, D}},
        {{"write", "heating", "Time=40"}, WH, {Reject}, 1, "write Heating", {H, C, RH, WH, D}},
        {{"history"}, RC, {Silent}, 1, "No answer,please Exit Program\n", {H, C, RC, D}},
        {{"history", "--csv"}, RC, {BadCheck}, 1, "check code error\n", {H, C, RC, D}},
        // More than the receive buffer holds: refused before any download request.
        {{"history"}, RC, {}, 1, "The splicer holds 5264 ", {H, C, RC, D}, count(0x90, 0x14)},
        {{"history"}, RC, {}, 0, "", {H, C, RC, D}, count(0, 0)},
        {{"history", "--csv"}, RC, {}, 0, "There is no record\n", {H, C, RC, D}, count(0, 0)},
        {{"images"}, IL, {Silent}, 1, "No answer,please Exit Program\n", {H, C, IL, D}},
        {{"image", "1"}, IL, {WrongEcho}, 1, "data error\n", {H, C, IL, D}},
        {{"image", "4"}, 0, {}, 2, "velmora-cli: no image 4: the splicer holds 3\n", {H, C, IL, D}},
        {{"image", "1"}, ID, {Reject}, 1, "The splicer refused the request\n", {H, C, IL, ID, D}},
        {{"image", "1"}, ID, {HangUp, 20}, 1, "Port lost, please check the cable", {H, C, IL, ID}},
        {update, F1, {Reject}, 1, notStarted + "the Fusion Splicer refused", {H, C, F1, D}},
        {update, F2, {Silent}, 1, notStarted + "no answer from", {H, C, F1, F2, D}},
        // The first block went whole, the second was cut at 40000 bytes (whether its
        // percentage shows depends on how much the kernel took before the line
        // dropped); no goodbye into what the splicer takes for firmware.
        {update, F2, {HangUp, 40000}, 1, "Update failed", {H, C, F1, F2}, {}, begun},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + ": " + c.err);
        RestartSplicer();
        if (!c.answer.empty())
            splicer->SetHandler(c.command, [r = c.answer](const sim::Request&) { return r; });
        else if (c.command)
            splicer->SetFault(c.command, c.fault);
        std::vector<std::string> args = {"--lang", "en"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const test::CliRun r = Run(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
        EXPECT_LE(Lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        EXPECT_EQ(r.out.find("Updated Finish"), std::string::npos) << r.out;
        ASSERT_TRUE(splicer->WaitForFrames(c.commands.size(), 5s));
        EXPECT_EQ(Commands(), c.commands);
        for (const auto& entry : fs::recursive_directory_iterator(workDir.path()))
            EXPECT_FALSE(entry.is_regular_file()) << entry.path();
    }
    const test::CliRun missing = test::RunProgram(
        test::kCliProgram, {"-p", (workDir.path() / "no-port").string(), "read", "splice"},
        workDir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.starts_with("Comm port error: ")) << missing.err;
}

TEST_F(CliTest, LanguageFromTheWorkingDirectoryUnlessGiven) {
    workDir.Write("par/Lan_Ver.ini", "[DlgPara]\r\nComm_Lanage=0\r\n");
    test::CliRun r = Run({"read", "splice"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).at(19), "PullingTest\t开");
    r = Run({"--lang", "en", "read", "splice"});
    EXPECT_EQ(Lines(r.out).at(19), "PullingTest\tOn");

    splicer->SetFault(cmd::Handshake, Fault{FaultKind::Silent, 0, 1});
    r = Run({"read", "splice"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "数据无响应，请退出程序重新连接\n");
}

// A GBK terminal's arguments are converted: the name is kept as UTF-8, and a file
// named in GBK is the file of that name. (The locale is made in the test's folder.)
TEST_F(CliTest, ArgumentsOfAGbkTerminalAreConverted) {
    const fs::path locales = scratch.path() / "locales";
    fs::create_directory(locales);
    if (test::RunProgram("/usr/bin/localedef",
                         {"-i", "zh_CN", "-f", "GBK", (locales / "zh_CN.GBK").string()},
                         scratch.path())
            .status != 0)
        GTEST_SKIP() << "no GBK locale can be made here";
    const std::string name = "\xBD\xD3\xCD\xB7\xBA\xD0";  // 接头盒 in GBK
    auto gbk = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"LOCPATH=" + locales.string(), "LC_ALL=zh_CN.GBK",
                                   test::kCliProgram.string()});
        return test::RunProgram("/usr/bin/env", args, workDir.path());
    };
    EXPECT_EQ(gbk({"job", "create", name}).status, 0);
    EXPECT_NE(Run({"job", "list"}).out.find("\n接头盒\t"), std::string::npos);
    const test::CliRun matrix = gbk({"matrix", name, "-o", name + ".csv"});
    EXPECT_EQ(matrix.status, 0) << matrix.err;
    EXPECT_TRUE(fs::is_regular_file(workDir.path() / (name + ".csv")));
}

TEST_F(CliTest, PortsListsDeviceAndDescription) {
    const test::CliRun r = test::RunProgram(test::kCliProgram, {"ports"}, workDir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& line : Lines(r.out)) {
        EXPECT_TRUE(line.starts_with("/dev/")) << line;
        EXPECT_NE(line.find('\t'), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace velmora
