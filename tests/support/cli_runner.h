#pragma once
// Runs velmora-cli as a program, the way a user does, against an in-process
// virtual splicer that answers parameters, records, images and firmware.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/firmware_commands.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora::test {

struct CliRun {
    int status = -1;  // the exit status; -1 when it could not run
    std::string out;
    std::string err;
};

// Runs `program args...` in `cwd` with standard output and error captured (neither
// is a terminal); a run still going after `margin` is killed. A run ended by a
// signal has the status 128 + the signal. `whileRunning` is called with the
// program's id once it has started.
CliRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                  const std::filesystem::path& cwd,
                  std::chrono::seconds margin = std::chrono::seconds(60),
                  const std::function<void(pid_t)>& whileRunning = {});

std::vector<std::string> Lines(const std::string& text);

// The serial number of the virtual splicer names its device folder.
inline constexpr const char* kSimDeviceName = "M2406A0153";
inline constexpr int kCliRecords = 40;
inline constexpr int kCliImages = 3;

// Every command the virtual splicer knows, its transfers ending soon after the last byte.
struct InstalledCommands {
    std::shared_ptr<sim::ParameterStore> params;
    std::shared_ptr<sim::FirmwareLog> firmware;
};
InstalledCommands InstallCliCommands(sim::VirtualSplicer& splicer);

// The build tells the tests where the velmora-cli it made is.
#ifdef VELMORA_CLI_PATH
inline const std::filesystem::path kCliProgram = VELMORA_CLI_PATH;

// A fast virtual splicer with every command installed, and a working folder.
class CliTest : public SplicerTest {
  protected:
    // velmora-cli is another process: its splicer lives on a pseudo-terminal.
    void SetUp() override {
        SplicerTest::SetUp();
        RestartSplicer();
    }
    // A fresh splicer (the last one hung up, say) with every command installed again.
    void RestartSplicer() {
        sim::SplicerOptions fast;
        fast.fast = true;
        Restart(fast);
        installed = InstallCliCommands(*splicer);
    }
    // velmora-cli --port <the splicer> args..., run in workDir.
    CliRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", splicer->PortPath()});
        return RunProgram(kCliProgram, args, workDir.path());
    }

    TempDir workDir;
    TempDir scratch;
    InstalledCommands installed;
};
#endif

}  // namespace velmora::test
