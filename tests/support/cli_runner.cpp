#include "support/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sstream>
#include <thread>

#include "sim/image_commands.h"
#include "sim/record_commands.h"

namespace velmora::test {

namespace fs = std::filesystem;

CliRun RunProgram(const fs::path& program, const std::vector<std::string>& args,
                  const fs::path& cwd, std::chrono::seconds margin,
                  const std::function<void(pid_t)>& whileRunning) {
    // Output goes to files, so neither is a terminal.
    const TempDir capture;
    const fs::path out = capture.path() / "out", err = capture.path() / "err";
    std::vector<std::string> words = {program.string()};
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
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        // The program itself is spawned, so that a signal the caller sends (even
        // SIGKILL) reaches it; a run that hangs past `margin` is killed.
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, margin, [&] { return done; })) kill(pid, SIGKILL);
        });
        if (whileRunning) whileRunning(pid);
        int status = 0;
        const bool waited = waitpid(pid, &status, 0) == pid;
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_one();
        watchdog.join();
        if (waited)
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
