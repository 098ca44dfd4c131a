// history: the Result page's download and export on the command line.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "app/app_config.h"
#include "cli/history_command.h"
#include "history/csv_export.h"
#include "history/history_download.h"

namespace velmora::cli {
namespace {

// How often the waiting command looks for Ctrl-C and updates the progress line.
constexpr std::chrono::milliseconds kWatchSlice{20};
constexpr const char* kInterrupted = "velmora-cli: interrupted";

// The download on a thread of its own, so that this thread can watch for
// Ctrl-C and show the progress meanwhile.
class BackgroundDownload {
public:
    BackgroundDownload(Link& link, LineClaim claim, int count) : count_(count) {
        auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
        thread_ = std::jthread([this, &link, held](std::stop_token stop) {
            DownloadCallbacks callbacks;
            callbacks.records = [this](std::size_t, const std::vector<SpliceRecord>& records) {
                std::lock_guard lock(mutex_);
                records_.insert(records_.end(), records.begin(), records.end());
            };
            DownloadResult result = DownloadHistory(link, std::move(**held), count_, stop,
                                                    callbacks);
            std::lock_guard lock(mutex_);
            result_ = std::move(result);
            ended_.notify_all();
        });
    }

    // Waits for the end, showing the records so far and passing on Ctrl-C.
    DownloadResult Wait(ProgressLine& progress) {
        std::unique_lock lock(mutex_);
        while (!ended_.wait_for(lock, kWatchSlice, [&] { return result_.has_value(); })) {
            if (Interrupted()) thread_.request_stop();
            progress.Show("Receiving records... " + std::to_string(records_.size()) + " of " +
                          std::to_string(count_));
        }
        lock.unlock();
        thread_.join();
        progress.Clear();
        return *result_;
    }

    // Valid once Wait has returned.
    const RecordStore& Records() const { return records_; }

private:
    int count_;
    std::mutex mutex_;
    std::condition_variable ended_;
    RecordStore records_;
    std::optional<DownloadResult> result_;
    std::jthread thread_;  // last: joined before the members it uses go
};

// The status text of a failed count exchange; a rejection or a foreign answer
// has no standard text of its own.
std::string CountFailureText(Link& link, Outcome outcome) {
    if (outcome == Outcome::Cancelled) return kInterrupted;
    if (outcome == Outcome::Rejected || outcome == Outcome::Unexpected)
        return Say(msg::DataError);
    return link.CommStatusText;
}

int ExportCsv(CliContext& context, const RecordStore& records) {
    if (records.empty()) {
        std::fprintf(stderr, "%s\n", Say(history_msg::NoRecord).c_str());
        return kExitOk;
    }
    const std::filesystem::path file =
        CsvExportPath(context.link().DeviceFolder, Config().AppDirectory, LocalToday());
    std::string error;
    // No question here: the command asks for the day's file, an older one is replaced.
    if (!WriteCsvExport(file, records, DetailCaptions(), TableLanguageFor(Config().EnglishFlag),
                        &error)) {
        std::fprintf(stderr, "%s\n", FileNotSavedText(file, error).c_str());
        return kExitUsage;
    }
    std::printf("%s\n", file.c_str());
    return kExitOk;
}

void PrintIndexRows(const RecordStore& records) {
    for (const IndexRow& row : IndexRows(records))
        std::printf("%s\t%s\n", row.number.c_str(), row.time.c_str());
}

}  // namespace

int RunHistory(CliContext& context, CommandArgs args) {
    bool csv = false;
    for (const std::string& arg : args) {
        if (arg == "--csv" && !csv) csv = true;
        else return context.UsageError("history takes only --csv, not '" + arg + "'");
    }
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;

    Link& link = context.link();
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return context.UsageError(Say(msg::LineBusy));
    const ReceiveStart start = BeginHistoryReceive(link, *claim, context.WaitingPump("Counting"));
    context.progress().Clear();
    RecordStore records;
    switch (start.step) {
        case ReceiveStep::Failed:
            std::fprintf(stderr, "%s\n", CountFailureText(link, start.outcome).c_str());
            return kExitLineFailed;
        case ReceiveStep::TooMany:
            std::fprintf(stderr, "%s\n", link.CommStatusText.c_str());
            return kExitLineFailed;
        case ReceiveStep::NoRecords: break;
        case ReceiveStep::Download: {
            BackgroundDownload download(link, std::move(*claim), start.count);
            const DownloadResult result = download.Wait(context.progress());
            records = download.Records();
            if (result.outcome != Outcome::Accepted) {
                // What arrived is still shown, as the page keeps its partial list.
                if (!csv) PrintIndexRows(records);
                std::fflush(stdout);
                const std::string why =
                    result.outcome == Outcome::Cancelled ? kInterrupted : result.statusText;
                std::fprintf(stderr, "%s\n", why.c_str());
                return kExitLineFailed;
            }
            break;
        }
    }
    if (csv) return ExportCsv(context, records);
    PrintIndexRows(records);
    return kExitOk;
}

}  // namespace velmora::cli
