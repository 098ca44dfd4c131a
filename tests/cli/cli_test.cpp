// velmora-cli run as a program against an in-process virtual splicer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "protocol/command_catalogue.h"
#include "settings/parameter_records.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

// Far beyond what a run takes (the longest waits 1.5 s for a silent splicer).
constexpr auto kRunMargin = 30s;

fs::path CliPath() {
#ifdef VELMORA_CLI_PATH
    return VELMORA_CLI_PATH;
#else
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "velmora-cli";
#endif
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs velmora-cli in `cwd` with standard output and error captured (pipes, so
// neither is a terminal).
RunResult RunCli(const std::vector<std::string>& args, const fs::path& cwd) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    const std::string program = CliPath().string();
    std::vector<std::string> argvText = {program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string dir = cwd.string();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + kRunMargin;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    if (open > 0) kill(pid, SIGKILL);  // ran past the margin: the test fails on the status
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CliTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        store = sim::InstallParameterCommands(*splicer);
    }

    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", splicer->PortPath()});
        return RunCli(args, workDir.path());
    }

    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> commands;
        for (const auto& frame : splicer->ReceivedFrames()) commands.push_back(frame.at(1));
        return commands;
    }

    test::TempDir workDir;
    std::shared_ptr<sim::ParameterStore> store;
};

TEST_F(CliTest, UsageErrorsSendNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"read"},
        {"read", "everything"},
        {"write", "splice"},
        {"write", "splice", "ARC Time"},
        {"write", "splice", "No Such Row=1"},
        {"write", "splice", "20=1"},
        {"write", "system", "Serial Num=X1"},
        {"write", "environment", "Voltage=12"},
        {"write", "system", "Beep=maybe"},
        {"--lang", "fr", "read", "splice"},
        {"--baud", "fast", "read", "splice"},
        {"ports", "extra"},
    };
    for (const auto& args : cases) {
        const RunResult r = Run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined << r.err;
        EXPECT_FALSE(r.err.empty()) << joined;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    EXPECT_TRUE(splicer->ReceivedFrames().empty());
}

TEST_F(CliTest, ReadPrintsTheGridTextsAndDisconnects) {
    const RunResult r = Run({"read", "splice"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0], "Fiber Type\tSM AUTO");
    EXPECT_EQ(lines[4], "Loss Limit\t0.10");
    EXPECT_EQ(lines[6], "ARC Time(ms)\t1500");
    EXPECT_EQ(lines[19], "PullingTest\tOn");
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig,
                                                     cmd::ReadSplice, cmd::Disconnect}));
    // Connecting named the device folder under the working directory.
    EXPECT_TRUE(fs::is_directory(workDir.path() / "FS" / "M2406A0153"));
}

TEST_F(CliTest, WriteChangesTheSplicerAndReadShowsIt) {
    RunResult w = Run({"write", "splice", "ARC Time=1600", "13=200", "cut angle=2.3"});
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(w.out, "Parameter in success\n");
    const SpliceParams stored = DecodeSpliceParams(store->Splice());
    EXPECT_EQ(stored.arcTime, 1600);
    EXPECT_EQ(stored.preTime, 200);
    EXPECT_EQ(stored.cutAngle, 23);
    EXPECT_EQ(stored.lossLimit, 10);  // untouched

    w = Run({"write", "system", "beep=off", "SysTime=12 min"});
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(DecodeDeviceConfig(store->Config()).sysTime, 12);

    const RunResult r = Run({"read", "system"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[4], "Beep\tOff");
    EXPECT_EQ(lines[8], "SysTime\t12 min");
}

TEST_F(CliTest, RangeFailuresExitTwoAndWriteNothing) {
    const RunResult r = Run({"write", "splice", "Cut Angle=25.1", "ARC Time=-1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "Cutting Limit input error,range is 0—25\n"
              "ARC Time input error,range is 0ms—30000ms\n");
    EXPECT_TRUE(r.out.empty());
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig,
                                                     cmd::ReadSplice, cmd::Disconnect}));
}

TEST_F(CliTest, LineFailuresExitOneWithTheStatusText) {
    struct Case {
        std::uint8_t command;
        Fault fault;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {cmd::Handshake, {FaultKind::Silent, 0, 1}, {"read", "heating"},
         "No answer,please Exit Program\n"},
        {cmd::ReadHeater, {FaultKind::Reject, 0, 1}, {"read", "heating"}, "data error\n"},
        {cmd::WriteHeater, {FaultKind::Reject, 0, 1}, {"write", "heating", "Time=40"},
         "write Heating Parameters error\n"},
    };
    for (const Case& c : cases) {
        splicer->SetFault(c.command, c.fault);
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    const RunResult missing =
        RunCli({"-p", (workDir.path() / "no-port").string(), "read", "splice"}, workDir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.starts_with("Comm port error: ")) << missing.err;
}

TEST_F(CliTest, LanguageFromTheWorkingDirectoryUnlessGiven) {
    workDir.Write("par/Lan_Ver.ini", "[DlgPara]\r\nComm_Lanage=0\r\n");
    RunResult r = Run({"read", "splice"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).at(19), "PullingTest\t开");
    r = Run({"--lang", "en", "read", "splice"});
    EXPECT_EQ(Lines(r.out).at(19), "PullingTest\tOn");

    splicer->SetFault(cmd::Handshake, Fault{FaultKind::Silent, 0, 1});
    r = Run({"read", "splice"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "数据无响应，请退出程序重新连接\n");
}

TEST_F(CliTest, PortsListsDeviceAndDescription) {
    const RunResult r = RunCli({"ports"}, workDir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& line : Lines(r.out)) {
        EXPECT_TRUE(line.starts_with("/dev/")) << line;
        EXPECT_NE(line.find('\t'), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace velmora
