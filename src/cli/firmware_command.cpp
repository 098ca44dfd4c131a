// firmware: the FirmWare page's update on the command line.
#include "cli/firmware_command.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/path_text.h"
#include "base/program_arguments.h"
#include "cli/cli_commands.h"
#include "firmware/firmware_texts.h"
#include "firmware/firmware_update.h"

namespace velmora::cli {
namespace {

// How often the waiting command redraws the seconds on its progress line (and
// looks for Ctrl-C, which also wakes the sending thread's waits through the link).
constexpr std::chrono::milliseconds kProgressTick{1000};

void PrintOut(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

// Runs the transfer worker on a thread of its own while this thread prints its
// percentages, shows the progress line and turns Ctrl-C into a stop.
FirmwareResult SendFile(CliContext& context, LineClaim claim, const std::filesystem::path& file) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> percentages;
    std::optional<FirmwareResult> result;
    std::jthread worker([&](std::stop_token stop) {
        FirmwareCallbacks callbacks;
        callbacks.progress = [&](const FirmwareProgress& progress) {
            std::lock_guard lock(mutex);
            percentages.push_back(progress.text);
            changed.notify_all();
        };
        FirmwareResult end =
            FirmwareSendThread(context.link(), std::move(claim), file, stop, callbacks);
        std::lock_guard lock(mutex);
        result = std::move(end);
        changed.notify_all();
    });
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait_for(lock, kProgressTick, [&] { return result || !percentages.empty(); });
        for (; !percentages.empty(); percentages.pop_front()) {
            context.progress().Clear();
            PrintOut(percentages.front());
        }
        if (result) break;
        if (Interrupted()) worker.request_stop();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        context.progress().Show("Sending firmware... " + std::to_string(seconds) + " s");
    }
    FirmwareResult end = std::move(*result);
    lock.unlock();
    worker.join();
    context.progress().Clear();
    return end;
}

int ExitStatusOf(const FirmwareResult& result) {
    switch (result.end) {
        case FirmwareEnd::Finished:
            return kExitOk;
        case FirmwareEnd::FileUnreadable:
            return kExitUsage;
        case FirmwareEnd::LineFailed:
        case FirmwareEnd::Cancelled:
            break;
    }
    return kExitLineFailed;
}

}  // namespace

int RunFirmware(CliContext& context, CommandArgs args) {
    CommandWords words;
    const bool parsed = !SplitCommandWords(args, {}, {"--no-backup"}, words);
    const bool backup = !words.flags.contains("--no-backup");
    if (!parsed || words.words.size() != 1)
        return context.UsageError(
            "firmware needs one FILE, the firmware to send (and may take --no-backup)");
    const std::filesystem::path file = PathFromArgument(words.words[0]);
    // Before the handshakes: once they are accepted the splicer waits for a file.
    if (const FirmwareFileProblem problem = CheckFirmwareFile(file);
        problem != FirmwareFileProblem::None)
        return context.UsageError(FirmwareFileProblemText(problem, file));
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    // An update may reset the settings: they are kept first, or the user says to go on without.
    if (backup) {
        if (BackUpSettings(context, {}, true) != kExitOk) {
            PrintError(
                "velmora-cli: no backup of the settings could be taken; add --no-backup "
                "to update without one");
            return kExitLineFailed;
        }
        PrintOut("Settings backed up in the archive before the update");
    }

    Link& link = context.link();
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) {
        PrintError(Say(msg::LineBusy));
        return kExitLineFailed;
    }
    const HandshakeResult handshakes =
        RunFirmwareHandshakes(link, *claim, {}, context.WaitingPump("Firmware handshakes"));
    context.progress().Clear();
    if (handshakes.textArrived) PrintOut(handshakes.splicerText);
    if (!handshakes.Accepted()) {
        PrintError(NotStartedText(handshakes));
        return kExitLineFailed;
    }

    const FirmwareResult result = SendFile(context, std::move(*claim), file);
    const std::string text = FirmwareEndText(result, file);
    if (result.end == FirmwareEnd::Cancelled && Interrupted()) PrintError(kInterruptedText);
    if (result.Finished())
        PrintOut(text);
    else
        PrintError(text);
    return ExitStatusOf(result);
}

}  // namespace velmora::cli
