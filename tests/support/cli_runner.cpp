#include "support/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "sim/image_commands.h"
#include "sim/record_commands.h"

namespace velmora::test {

namespace fs = std::filesystem;

CliRun RunProgram(const fs::path& program, const std::vector<std::string>& args,
                  const fs::path& cwd, std::chrono::seconds margin,
                  const std::function<void(pid_t)>& whileRunning) {
    // Output goes to files, so neither is a terminal; `timeout` ends a run that hangs.
    const TempDir capture;
    const fs::path out = capture.path() / "out", err = capture.path() / "err";
    std::vector<std::string> words = {"timeout", "-s", "KILL", std::to_string(margin.count()),
                                      program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    CliRun result;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        // `timeout` passes the signals it gets on to the program.
        if (whileRunning) whileRunning(pid);
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadFileBytes(out);
    result.err = ReadFileBytes(err);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

InstalledCommands InstallCliCommands(sim::VirtualSplicer& splicer) {
    InstalledCommands installed;
    installed.params = sim::InstallParameterCommands(splicer);
    sim::InstallRecordCommands(splicer, kCliRecords);
    sim::InstallImageCommands(splicer, kCliImages);
    installed.firmware =
        sim::InstallFirmwareCommands(splicer, {.quiet = std::chrono::milliseconds(300)});
    return installed;
}

}  // namespace velmora::test
