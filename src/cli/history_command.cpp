// history: the Result page's download and export on the command line.
#include "cli/history_command.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>

#include "base/app_config.h"
#include "base/interrupt.h"
#include "base/path_text.h"
#include "cli/archive_commands.h"
#include "history/csv_export.h"
#include "history/history_download.h"
#include "history/history_texts.h"

namespace velmora::cli {
namespace {

// How often the progress line may be redrawn while records arrive: the waiting
// thread is woken for that and for the end, never to look at a clock.
constexpr std::chrono::milliseconds kProgressEvery{250};

// The whole Receive on a thread of its own, so that this thread can show the
// progress meanwhile. Each record goes to the archiver as it arrives. Ctrl-C
// cancels the link (CliContext), which wakes the worker's wait at once.
class BackgroundReceive {
  public:
    BackgroundReceive(Link& link, LineClaim claim, DownloadArchiver& archiver) {
        auto held = std::make_shared<std::optional<LineClaim>>(std::move(claim));
        thread_ = std::jthread([this, &link, &archiver, held](std::stop_token stop) {
            DownloadCallbacks callbacks;
            callbacks.started = [this](int count) {
                count_ = count;
                Changed(true);
            };
            callbacks.records = [this, &archiver](std::size_t,
                                                  const std::vector<SpliceRecord>& records) {
                archiver.Add(records);
                std::size_t total = 0;
                {
                    std::lock_guard lock(mutex_);
                    records_.insert(records_.end(), records.begin(), records.end());
                    total = records_.size();
                }
                const bool last = total == static_cast<std::size_t>(count_.load());
                if (last) archiver.Flush();
                Changed(last);
            };
            HistoryReceipt receipt = ReceiveHistory(link, std::move(**held), stop, callbacks);
            std::lock_guard lock(mutex_);
            receipt_ = std::move(receipt);
            changed_.notify_all();
        });
    }

    // Waits for the end, showing the records so far. `arrived` gets the records that
    // came since its last call whenever this thread wakes; `allIn` runs once every
    // announced record is in, while the worker still waits out the quiet that tells
    // whether the splicer sends more.
    HistoryReceipt Wait(ProgressLine& progress,
                        const std::function<void(std::span<const SpliceRecord>)>& arrived,
                        const std::function<void()>& allIn) {
        std::unique_lock lock(mutex_);
        std::size_t handed = 0;
        bool allInDone = false;
        for (;;) {
            changed_.wait(lock, [&] { return receipt_.has_value() || dirty_; });
            if (receipt_) break;
            dirty_ = false;
            if (records_.size() > handed) {
                arrived(std::span(records_).subspan(handed));
                handed = records_.size();
            }
            const std::size_t count = static_cast<std::size_t>(count_.load());
            if (count > 0 && handed == count && !allInDone) {
                // No record is added after the last announced one.
                allInDone = true;
                lock.unlock();
                progress.Clear();
                allIn();
                lock.lock();
                continue;
            }
            if (count > 0)
                progress.Show("Receiving records... " + std::to_string(records_.size()) + " of " +
                              std::to_string(count));
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
    // Wakes the waiting thread for the progress line, at most every kProgressEvery
    // unless `now`.
    void Changed(bool now) {
        const auto time = std::chrono::steady_clock::now();
        if (!now && time - lastWoken_ < kProgressEvery) return;
        lastWoken_ = time;
        std::lock_guard lock(mutex_);
        dirty_ = true;
        changed_.notify_all();
    }

    std::atomic<int> count_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool dirty_ = true;  // "Counting..." is shown before anything has come
    std::chrono::steady_clock::time_point lastWoken_{};  // the worker's own
    RecordStore records_;
    std::optional<HistoryReceipt> receipt_;
    std::jthread thread_;  // last: joined before the members it uses go
};

// The day's export made whole, when it was not made while the download's verdict
// was awaited (the verdict came first).
PreparedFile MakeCsv(CliContext& context, const RecordStore& records) {
    return PrepareCsvDocument(
        CsvExportPath(context.session().DeviceFolder, Config().AppDirectory, LocalToday()),
        CsvDocument(records, DetailCaptions(), TableLanguageFor(Config().EnglishFlag)));
}

int ExportCsv(CliContext& context, const RecordStore& records, std::optional<PreparedFile> made) {
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
    if (!made) made.emplace(MakeCsv(context, records));
    if (const FileWriteResult written = made->Commit(); !written.ok) {
        std::fprintf(stderr, "%s\n", FileWriteProblemText(made->Target(), written).c_str());
        return kExitUsage;
    }
    std::printf("%s\n", PathText(made->Target()).c_str());
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
    // A claim clears an earlier cancel: a Ctrl-C that came before it still counts.
    if (Interrupted()) link.Cancel();
    // Records are kept as they arrive, and those that came whole stay kept when the
    // download ends early. Without the splicer's folder a CSV export fails and says
    // why itself.
    DownloadArchiver archiver(context, keep && !(csv && context.session().DeviceFolder.empty()));
    BackgroundReceive receive(link, std::move(*claim), archiver);
    // The export is built as the records come and written beside its place while the
    // worker waits out the line's quiet after the last one (which tells a whole
    // download from one the splicer sent more after); a download that is not whole
    // removes it, and the day's file stays.
    std::optional<CsvBuilder> building;
    if (csv && !context.session().DeviceFolder.empty())
        building.emplace(DetailCaptions(), TableLanguageFor(Config().EnglishFlag));
    std::optional<PreparedFile> made;
    const HistoryReceipt receipt = receive.Wait(
        context.progress(),
        [&](std::span<const SpliceRecord> arrived) {
            if (building) building->Add(arrived);
        },
        [&] {
            if (!building) return;
            made.emplace(PrepareCsvDocument(
                CsvExportPath(context.session().DeviceFolder, Config().AppDirectory, LocalToday()),
                std::move(*building).Take()));
            building.reset();
        });
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
        archiver.Finish();
        return kExitLineFailed;
    }
    int status = kExitOk;
    if (csv)
        status = ExportCsv(context, records, std::move(made));
    else
        PrintIndexRows(records);
    // The goodbye goes out while the archive's thread stores the last records.
    std::fflush(stdout);
    context.FinishSplicer();
    const bool archived = archiver.Finish();
    return status == kExitOk && !archived ? kExitNotArchived : status;
}

}  // namespace velmora::cli
