// velmora-cli images and image, run as a program against an in-process virtual splicer.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "images/image_catalogue.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
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
// a file beside the working folder (neither is a terminal).
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

ImageEntry EntryOf(int index) {
    const auto e = sim::SimulatedImageEntry(index);
    return {e[0], e[1], e[2], e[3], e[4], e[5], e[6]};
}

constexpr int kImages = 3;

class ImageCliTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        sim::InstallParameterCommands(*splicer);
        sim::InstallImageCommands(*splicer, kImages);
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
};

TEST_F(ImageCliTest, ImagesPrintsNumberAndTime) {
    const RunResult r = Run({"images"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected;
    for (int i = 0; i < kImages; ++i)
        expected.push_back(std::to_string(i + 1) + "\t" + ImageTimeText(EntryOf(i)));
    EXPECT_EQ(Lines(r.out), expected);
    ASSERT_TRUE(splicer->WaitForFrames(4, 5s));
    EXPECT_EQ(Commands(), (std::vector<std::uint8_t>{cmd::Handshake, cmd::ReadConfig,
                                                     cmd::ImageList, cmd::Disconnect}));
}

TEST_F(ImageCliTest, ImageSavesTheJpegByteIdenticalReplacingAnOldFile) {
    // Whether the splicer counts the head in the size or not, the file is the JPEG it sent.
    for (const bool sizeCountsHead : {false, true}) {
        sim::ImageCommandOptions options;
        options.count = kImages;
        options.sizeCountsHead = sizeCountsHead;
        sim::InstallImageCommands(*splicer, options);
        const std::vector<std::uint8_t> jpeg = sim::SimulatedImageJpeg(1);

        RunResult r = Run({"image", "2"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        const fs::path saved = lines[0];
        EXPECT_EQ(saved.filename(), ImageFileName(EntryOf(1), 1));
        EXPECT_EQ(saved.parent_path().filename(), "JPG");
        EXPECT_EQ(saved.parent_path().parent_path().parent_path(), workDir.path() / "FS");
        EXPECT_EQ(ReadAll(saved), std::string(jpeg.begin(), jpeg.end()))
            << "size counts head: " << sizeCountsHead;

        // A second download replaces what stands there, leaving nothing else behind.
        std::ofstream(saved, std::ios::binary) << "an older, shorter file";
        r = Run({"image", "2"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadAll(saved), std::string(jpeg.begin(), jpeg.end()));
        EXPECT_EQ(std::distance(fs::directory_iterator(saved.parent_path()),
                                fs::directory_iterator()),
                  1);
    }
    const std::vector<std::uint8_t> commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), cmd::ImageDownload), 4);
    const auto frames = splicer->ReceivedFrames();
    const auto request = std::find_if(frames.begin(), frames.end(),
                                       [](const auto& f) { return f.at(1) == cmd::ImageDownload; });
    ASSERT_NE(request, frames.end());
    EXPECT_EQ(test::Hex(*request), "87 71 02 01 20 FB");
}

TEST_F(ImageCliTest, UsageErrorsExitTwoAndSendNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"images", "extra"}, {"image"}, {"image", "0"}, {"image", "256"},
        {"image", "two"},    {"image", "-1"}, {"image", "1", "2"},
    };
    for (const auto& args : cases) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args.back() << r.err;
        EXPECT_FALSE(r.err.empty()) << args.back();
        EXPECT_TRUE(r.out.empty()) << args.back();
    }
    EXPECT_TRUE(splicer->ReceivedFrames().empty());
}

TEST_F(ImageCliTest, FailuresSayWhyAndWriteNoFile) {
    struct Case {
        std::uint8_t command;
        Fault fault;
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {cmd::ImageList, {FaultKind::Silent, 0, 1}, {"images"}, 1,
         "No answer,please Exit Program\n"},
        {cmd::ImageList, {FaultKind::WrongEcho, 0, 1}, {"image", "1"}, 1, "data error\n"},
        {cmd::ImageDownload, {FaultKind::Reject, 0, 1}, {"image", "1"}, 1, "data error\n"},
        {cmd::ImageDownload, {FaultKind::HangUp, 20, 1}, {"image", "1"}, 1,
         "Port lost, please check the cable and connect again\n"},
        {cmd::ImageList, {}, {"image", "4"}, 2, "velmora-cli: no image 4: the splicer holds 3\n"},
    };
    for (const Case& c : cases) {
        splicer->SetFault(c.command, c.fault);
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.out.empty()) << r.out;
        if (c.fault.kind == FaultKind::HangUp) {
            // The line is gone: a fresh splicer for the cases after this one.
            sim::SplicerOptions fast;
            fast.fast = true;
            Restart(fast);
            sim::InstallParameterCommands(*splicer);
            sim::InstallImageCommands(*splicer, kImages);
        }
    }
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(workDir.path(), ec))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

}  // namespace
}  // namespace velmora
