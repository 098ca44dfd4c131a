// history: the Result page's download and export on the command line.
#include "cli/history_command.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "base/app_config.h"
#include "base/path_text.h"
#include "cli/archive_commands.h"
#include "history/csv_export.h"
#include "history/history_download.h"
#include "history/history_texts.h"

namespace velmora::cli {
namespace {

// How often the waiting command looks for Ctrl-C and updates the progress line.
constexpr std::chrono::milliseconds kWatchSlice{20};

// The whole Receive on a thread of its own, so that this thread can watch for
// Ctrl-C and show the progress meanwhile.
class BackgroundReceive {
  public:
    explicit BackgroundReceive(Link& link, LineClaim claim) {
        auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
        thread_ = std::jthread([this, &link, held](std::stop_token stop) {
            DownloadCallbacks callbacks;
            callbacks.started = [this](int count) { count_ = count; };
            callbacks.records = [this](std::size_t, const std::vector<SpliceRecord>& records) {
                std::lock_guard lock(mutex_);
                records_.insert(records_.end(), records.begin(), records.end());
            };
            HistoryReceipt receipt = ReceiveHistory(link, std::move(**held), stop, callbacks);
            std::lock_guard lock(mutex_);
            receipt_ = std::move(receipt);
            ended_.notify_all();
        });
    }

    // Waits for the end, showing the records so far and passing on Ctrl-C.
    HistoryReceipt Wait(ProgressLine& progress) {
        std::unique_lock lock(mutex_);
        while (!ended_.wait_for(lock, kWatchSlice, [&] { return receipt_.has_value(); })) {
            if (Interrupted()) thread_.request_stop();
            if (count_ > 0)
                progress.Show("Receiving records... " + std::to_string(records_.size()) + " of " +
                              std::to_string(count_.load()));
            else
                progress.Show("Counting...");
        }
        lock.unlock();
        thread_.join();
        progress.Clear();
        return *receipt_;
    }

    // Valid once Wait has returned.
    const RecordStore& Records() const { return records_; }

  private:
    std::atomic<int> count_{0};
    std::mutex mutex_;
    std::condition_variable ended_;
    RecordStore records_;
    std::optional<HistoryReceipt> receipt_;
    std::jthread thread_;  // last: joined before the members it uses go
};

int ExportCsv(CliContext& context, const RecordStore& records) {
    if (records.empty()) {
        std::fprintf(stderr, "%s\n", Say(history_msg::NoRecord).c_str());
        return kExitOk;
    }
    // Without the splicer's own folder the export would land where nobody looks.
    if (context.session().DeviceFolder.empty()) {
        std::fprintf(stderr, "%s\n", Say(msg::NoDeviceFolder).c_str());
        return kExitLineFailed;
    }
    // No question here: the command asks for the day's file, an older one is replaced.
    const CsvExport job{
        CsvExportPath(context.session().DeviceFolder, Config().AppDirectory, LocalToday()), records,
        DetailCaptions(), TableLanguageFor(Config().EnglishFlag), std::nullopt};
    if (const FileWriteResult written = WriteCsvExport(job); !written.ok) {
        std::fprintf(stderr, "%s\n", FileWriteProblemText(job.file, written).c_str());
        return kExitUsage;
    }
    std::printf("%s\n", PathText(job.file).c_str());
    return kExitOk;
}

void PrintIndexRows(const RecordStore& records) {
    for (const IndexRow& row : IndexRows(records))
        std::printf("%s\t%s\n", row.number.c_str(), row.time.c_str());
}

}  // namespace

int RunHistory(CliContext& context, CommandArgs args) {
    bool csv = false;
    bool keep = true;
    for (const std::string& arg : args) {
        if (arg == "--csv" && !csv)
            csv = true;
        else if (arg == "--no-archive" && keep)
            keep = false;
        else
            return context.UsageError("history takes --csv and --no-archive, not '" + arg + "'");
    }
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;

    Link& link = context.link();
    std::optional<LineClaim> claim = link.ClaimLine();
    if (!claim) return context.UsageError(Say(msg::LineBusy));
    BackgroundReceive receive(link, std::move(*claim));
    const HistoryReceipt receipt = receive.Wait(context.progress());
    const RecordStore& records = receive.Records();
    const bool complete = receipt.start.step == ReceiveStep::NoRecords ||
                          (receipt.start.step == ReceiveStep::Download &&
                           receipt.download.outcome == Outcome::Accepted);
    if (!complete) {
        // What arrived is still shown, as the page keeps its partial list; but a
        // partial list is never written as the day's export.
        static constexpr Message kNotExported{"；未写入 CSV 文件", "; no CSV file was written"};
        if (!csv) PrintIndexRows(records);
        std::fflush(stdout);
        const bool downloading = receipt.start.step == ReceiveStep::Download;
        std::fprintf(stderr, "%s%s\n", ReceiptFailureText(receipt).c_str(),
                     csv && downloading ? Say(kNotExported).c_str() : "");
        return kExitLineFailed;
    }
    // Only a download that came whole goes into the archive. Without the splicer's
    // folder the export fails and says why itself.
    const bool archived = !keep || (csv && context.session().DeviceFolder.empty()) ||
                          ArchiveDownload(context, records);
    int status = kExitOk;
    if (csv)
        status = ExportCsv(context, records);
    else
        PrintIndexRows(records);
    return status == kExitOk && !archived ? kExitNotArchived : status;
}

}  // namespace velmora::cli
