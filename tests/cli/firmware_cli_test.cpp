// velmora-cli firmware, run as a program against an in-process virtual splicer.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "protocol/command_catalogue.h"
#include "sim/firmware_commands.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

// Far beyond what a run takes; `timeout` ends a run that hangs, and the test fails.
constexpr const char* kRunMarginSeconds = "60";
constexpr auto kMargin = 20s;
constexpr const char* kSplicerText = "Boot loader V1.2, waiting for firmware";

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
// a file (neither is a terminal).
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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string FirmwareBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 40503u) >> 7);
    return bytes;
}

std::uint32_t CrcOf(const std::string& bytes) {
    return sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

class FirmwareCliTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallParameterCommands(*splicer);
        sim::FirmwareSimOptions options;
        options.quiet = 300ms;
        received = sim::InstallFirmwareCommands(*splicer, options);
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

    test::TempDir workDir;
    test::TempDir scratch;
    std::shared_ptr<sim::FirmwareLog> received;
};

TEST_F(FirmwareCliTest, SendsTheFileWholeAndPrintsTextPercentagesAndEnd) {
    struct Case {
        std::size_t size;
        const char* lang;
        std::vector<std::string> out;
    } cases[] = {
        {65000, "en",
         {kSplicerText, "Updating ,0%", "Updating ,46%",
          "Updated Finish,Please Restart Program and Fusion Splicer"}},
        {29999, "zh", {kSplicerText, "更新完成，请重新启动程序和熔接机"}},
    };
    std::size_t transfers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string bytes = FirmwareBytes(c.size);
        const RunResult r =
            Run({"--lang", c.lang, "firmware", scratch.Write("fw.bin", bytes).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Lines(r.out), c.out);
        ASSERT_TRUE(received->WaitForReceipts(++transfers, kMargin));
        EXPECT_EQ(received->Receipts().back().bytes, c.size);
        EXPECT_EQ(received->Receipts().back().crc32, CrcOf(bytes));
    }
    // No disconnection after a transfer: the splicer no longer reads frames.
    const std::vector<std::uint8_t> one = {cmd::Handshake, cmd::ReadConfig,
                                           cmd::FirmwareHandshake1, cmd::FirmwareHandshake2};
    std::vector<std::uint8_t> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(Commands(), both);
}

TEST_F(FirmwareCliTest, UsageAndFileErrorsExitTwoWithoutTouchingTheLine) {
    const fs::path missing = scratch.path() / "missing.bin";
    const fs::path empty = scratch.Write("empty.bin", "");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"firmware"}, "velmora-cli: firmware needs one FILE, the firmware to send\n"},
        {{"firmware", "a.bin", "b.bin"},
         "velmora-cli: firmware needs one FILE, the firmware to send\n"},
        {{"firmware", missing.string()},
         "velmora-cli: Firmware file not found: " + missing.string() + "\n"},
        {{"firmware", scratch.path().string()},
         "velmora-cli: Not a regular file: " + scratch.path().string() + "\n"},
        {{"firmware", empty.string()},
         "velmora-cli: The firmware file is empty: " + empty.string() + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        std::vector<std::string> args = {"--lang", "en"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(splicer->BytesReceived(), 0u);
}

TEST_F(FirmwareCliTest, RefusedHandshakeOrLostLineExitsOne) {
    struct Case {
        const char* name;
        std::uint8_t command;
        Fault fault;
        std::vector<std::string> out;
        std::vector<std::string> errParts;
        std::vector<std::uint8_t> commands;
    } cases[] = {
        {"first refused", cmd::FirmwareHandshake1, {FaultKind::Reject}, {},
         {"The update did not start: the Fusion Splicer refused it"},
         // The splicer still reads frames: it is told goodbye.
         {cmd::Handshake, cmd::ReadConfig, cmd::FirmwareHandshake1, cmd::Disconnect}},
        {"second unanswered", cmd::FirmwareHandshake2, {FaultKind::Silent}, {},
         {"The update did not start: no answer from the Fusion Splicer"},
         {cmd::Handshake, cmd::ReadConfig, cmd::FirmwareHandshake1, cmd::FirmwareHandshake2,
          cmd::Disconnect}},
        {"hang-up mid transfer", cmd::FirmwareHandshake2, {FaultKind::HangUp, 40000},
         // The first block went whole; the second was cut at 40000 bytes.
         {kSplicerText, "Updating ,0%"}, {"Update failed", "Port lost"},
         {cmd::Handshake, cmd::ReadConfig, cmd::FirmwareHandshake1, cmd::FirmwareHandshake2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SplicerOptions fast;
        fast.fast = true;
        Restart(fast);
        sim::InstallParameterCommands(*splicer);
        sim::InstallFirmwareCommands(*splicer);
        splicer->SetFault(c.command, c.fault);

        const fs::path file = scratch.Write("fw.bin", FirmwareBytes(100000));
        const RunResult r = Run({"--lang", "en", "firmware", file.string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Lines(r.out), c.out);
        for (const std::string& part : c.errParts)
            EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        ASSERT_TRUE(splicer->WaitForFrames(c.commands.size(), kMargin));
        EXPECT_EQ(Commands(), c.commands);
    }
}

}  // namespace
}  // namespace velmora
