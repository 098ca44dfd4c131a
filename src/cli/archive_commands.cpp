// archive list|csv|tag|undo-tag|check: the splices of every download, across splicers and days.
#include "cli/archive_commands.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "archive/archive.h"
#include "archive/archive_texts.h"
#include "archive/archive_writer.h"
#include "archive/snapshot_backup.h"
#include "base/app_config.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "base/program_arguments.h"
#include "cli/team_commands.h"
#include "history/csv_export.h"
#include "history/history_texts.h"
#include "jobs/job_store.h"
#include "jobs/jobs_texts.h"
#include "report/report_data.h"

namespace velmora::cli {
namespace {

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

// The archive, or null once the reason has been told. `error` (when given) gets it.
std::unique_ptr<archive::Archive> OpenArchive(archive::OpenFor purpose,
                                              archive::ArchiveError* error = nullptr) {
    archive::OpenResult opened =
        archive::Archive::Open(archive::ArchiveFile(Config().AppDirectory), {.purpose = purpose});
    if (!opened.archive) PrintError("velmora-cli: " + archive::ArchiveErrorText(opened.error));
    if (error) *error = opened.error;
    return std::move(opened.archive);
}

void Tell(const archive::ArchiveError& error) {
    PrintError("velmora-cli: " + archive::ArchiveErrorText(error));
}

// Tells why the work was not kept; always false.
bool NotArchived(const archive::ArchiveError& error) {
    Tell(error);
    return false;
}

archive::SplicerIdentity ArchiveIdentityOf(CliContext& context) {
    return {PathText(context.session().DeviceFolder.filename()), context.session().SerialNumber};
}

// "2026-12-06" as a date; nothing for anything else.
std::optional<std::chrono::year_month_day> ParseDate(const std::string& text) {
    unsigned y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4u-%2u-%2u%c", &y, &m, &d, &tail) != 3)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(y)),
                                           std::chrono::month(m), std::chrono::day(d)};
    if (!date.ok()) return std::nullopt;
    return date;
}

// A splicer by its serial number; by its folder name when that is not known.
std::string SplicerName(const archive::ArchivedRecord& r) {
    return archive::SplicerDisplayName(r.serialNumber, r.device);
}

// Each record printed as it is read: the list never holds the archive in memory.
// With `ids`, each line starts with the record's archive id (what place and
// test-splice take).
int List(archive::Archive* store, const archive::RecordFilter& filter, bool ids) {
    if (!store) return kExitOk;
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    const bool read = store->ForEachRecord(filter, [&](const archive::ArchivedRecord& r) {
        if (ids) std::printf("%lld\t", static_cast<long long>(r.id));
        std::printf("%s\t%s\t%s\t%s\t%s\n", TerminalSafe(SplicerName(r)).c_str(),
                    TimeText(r.record).c_str(), ResultListText(r.record, language).c_str(),
                    LossText(r.record).c_str(), TerminalSafe(r.job).c_str());
        return true;
    });
    if (read) return kExitOk;
    Tell(store->LastError());
    return kExitUsage;
}

// The whole file read and its structure checked; like any file error, a damaged
// archive exits with status 2.
int Check() {
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store) return error.code == archive::ErrorCode::NoArchive ? kExitOk : kExitUsage;
    const auto problems = store->Check();
    if (!problems) {
        Tell(store->LastError());
        return kExitUsage;
    }
    if (problems->empty()) {
        std::printf("%s: ok\n", PathText(archive::ArchiveFile(Config().AppDirectory)).c_str());
        return kExitOk;
    }
    for (const std::string& problem : *problems)
        PrintError("velmora-cli: " + TerminalSafe(problem));
    PrintError("velmora-cli: " +
               archive::ArchiveErrorText({archive::ErrorCode::Damaged, "checking the archive",
                                          PathText(archive::ArchiveFile(Config().AppDirectory))}));
    return kExitUsage;
}

int Csv(const std::string& file, const std::vector<archive::ArchivedRecord>& records) {
    RecordStore store;
    store.reserve(records.size());
    for (const archive::ArchivedRecord& r : records) store.push_back(r.record);
    const CsvExport job{PathFromArgument(file), std::move(store), DetailCaptions(),
                        TableLanguageFor(Config().EnglishFlag), std::nullopt};
    if (const FileWriteResult written = WriteCsvExport(job); !written.ok) {
        PrintError(TerminalSafe(FileWriteProblemText(job.file, written)));
        return kExitUsage;
    }
    std::fprintf(NoticeStream(job.file), "%s\n", TerminalSafe(file).c_str());
    return kExitOk;
}

bool TakesEverything(const archive::RecordFilter& filter) {
    return !filter.device && !filter.splicer && !filter.from && !filter.to && !filter.job &&
           !filter.result && filter.search.empty();
}

// Gives `job` to the records `filter` takes. Every record of the archive only with
// --all; records of another job only with --replace.
int Tag(CliContext& context, const std::string& job, const archive::RecordFilter& filter,
        const CommandWords& words) {
    const bool all = words.flags.contains("--all"), replace = words.flags.contains("--replace");
    if (TakesEverything(filter) && !all)
        return context.UsageError(
            "tag without a filter would name every record of the archive; add --all to mean it");
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store) return error.code == archive::ErrorCode::NoArchive ? kExitOk : kExitUsage;
    const std::string shown = "'" + TerminalSafe(job) + "'";
    // A job is named as the job store names it: "route 7" is refused where "Route 7" is.
    if (const auto known = jobs::JobStore(*store).Jobs()) {
        for (const jobs::JobInfo& other : *known)
            if (other.details.name != job && jobs::SameName(other.details.name, job)) {
                PrintError("velmora-cli: " +
                           TerminalSafe(jobs::RefusalText({.refusal = jobs::Refusal::DuplicateName,
                                                           .detail = other.details.name})));
                return kExitUsage;
            }
    }
    if (!replace) {
        const auto preview = store->PreviewJob(job, filter);
        if (!preview) {
            Tell(store->LastError());
            return kExitUsage;
        }
        if (preview->otherJob > 0) {
            PrintError("velmora-cli: " + std::to_string(preview->otherJob) + " of the " +
                       std::to_string(preview->records) +
                       " records taken already have another job; add --replace to give them " +
                       (job.empty() ? "none" : shown));
            return kExitUsage;
        }
    }
    const archive::StoreResult tagged = store->TagJob(job, filter);
    if (!tagged.ok()) {
        Tell(tagged.error);
        return kExitUsage;
    }
    const std::string records = Counted(tagged.count, "record", "records");
    if (job.empty())
        std::printf("%s %s no job now\n", records.c_str(), tagged.count == 1 ? "has" : "have");
    else
        std::printf("%s named %s\n", records.c_str(), shown.c_str());
    return kExitOk;
}

int UndoTag() {
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store) return error.code == archive::ErrorCode::NoArchive ? kExitOk : kExitUsage;
    const archive::StoreResult undone = store->UndoLastNaming();
    if (!undone.ok()) {
        Tell(undone.error);
        return kExitUsage;
    }
    if (undone.count == 0)
        std::printf("no naming to undo\n");
    else
        std::printf("%s %s job of before again\n",
                    Counted(undone.count, "record", "records").c_str(),
                    undone.count == 1 ? "has its" : "have their");
    return kExitOk;
}

}  // namespace

std::optional<std::string> ParseRecordFilter(const CommandWords& words,
                                             archive::RecordFilter& filter) {
    if (const std::string* device = words.Value("--device")) filter.device = *device;
    if (const std::string* job = words.Value("--job")) filter.job = *job;
    if (const std::string* search = words.Value("--search")) filter.search = *search;
    if (const std::string* result = words.Value("--result")) {
        static const std::pair<std::string_view, std::optional<archive::Verdict>> kResults[] = {
            {"all", std::nullopt},
            {"failed", archive::Verdict::Failed},
            {"over-limit", archive::Verdict::OverLimit},
            {"passed", archive::Verdict::Passed}};
        const auto* named = std::find_if(std::begin(kResults), std::end(kResults),
                                         [&](const auto& r) { return r.first == *result; });
        if (named == std::end(kResults))
            return "--result needs all, failed, over-limit or passed, not '" +
                   TerminalSafe(*result) + "'";
        filter.result = named->second;
        filter.limits = report::LoadLimits(Config().AppDirectory);
    }
    for (const auto& [name, date] : {std::pair{"--from", &filter.from}, {"--to", &filter.to}}) {
        const std::string* value = words.Value(name);
        if (!value) continue;
        *date = ParseDate(*value);
        if (!*date)
            return std::string(name) + " needs a date YYYY-MM-DD, not '" + TerminalSafe(*value) +
                   "'";
    }
    return std::nullopt;
}

struct DownloadArchiver::State {
    archive::SplicerIdentity identity;
    RecordStore pending;  // arrived, not yet handed to the writer
    bool anyRecord = false;
    bool started = false;  // a store has been handed to the writer
    std::mutex mutex;      // guards firstError between the writer's thread and Finish
    std::optional<archive::ArchiveError> firstError;
    // Last: its destructor runs every store still queued before the rest goes.
    std::optional<archive::ArchiveWriter> writer;

    void Post(RecordStore batch) {
        // The command must not wait at its end for the archive's log to be folded into
        // its file: the stores are committed, and a later store folds it in.
        if (!started)
            writer->Post([](archive::Archive* store, const archive::ArchiveError&) {
                if (store) store->LeaveLogOnClose();
            });
        started = true;
        writer->Post([this, batch = std::move(batch)](archive::Archive* store,
                                                      const archive::ArchiveError& error) {
            archive::ArchiveError failed = error;
            if (store) failed = store->StoreDownload(identity, batch).error;
            std::lock_guard lock(mutex);
            if (!failed.ok() && !firstError) firstError = failed;
        });
    }
};

DownloadArchiver::DownloadArchiver(CliContext& context, bool keep) {
    if (!keep) return;
    state_ = std::make_unique<State>();
    // Without the splicer's folder nothing can be kept; Finish says so if records came.
    if (context.session().DeviceFolder.empty()) return;
    state_->identity = ArchiveIdentityOf(context);
    state_->writer.emplace(archive::ArchiveFile(Config().AppDirectory));
}

DownloadArchiver::~DownloadArchiver() = default;

void DownloadArchiver::Add(const std::vector<SpliceRecord>& records) {
    if (!state_ || records.empty()) return;
    state_->anyRecord = true;
    if (!state_->writer) return;
    state_->pending.insert(state_->pending.end(), records.begin(), records.end());
    if (state_->pending.size() >= kBatch) state_->Post(std::exchange(state_->pending, {}));
}

void DownloadArchiver::Flush() {
    if (state_ && state_->writer && !state_->pending.empty())
        state_->Post(std::exchange(state_->pending, {}));
}

bool DownloadArchiver::Finish() {
    if (!state_ || !state_->anyRecord) return true;
    if (!state_->writer) {
        PrintError(Say(msg::NoDeviceFolder));
        return false;
    }
    Flush();
    state_->writer.reset();  // runs the stores still queued, then ends its thread
    if (!state_->firstError) return true;
    return NotArchived(*state_->firstError);
}

bool ArchiveSnapshot(CliContext& context, const SettingsBackup& backup, std::string_view reason) {
    if (context.session().DeviceFolder.empty()) {
        PrintError(Say(msg::NoDeviceFolder));
        return false;
    }
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Writing);
    if (!store) return false;
    const std::vector<archive::GroupBytes> groups = archive::SnapshotGroups(backup);
    const archive::StoreResult stored =
        store->StoreSnapshot(ArchiveIdentityOf(context), reason, groups);
    return stored.ok() || NotArchived(stored.error);
}

bool ArchiveImage(CliContext& context, const std::string& stamp, const std::string& fileName,
                  std::span<const std::uint8_t> bytes) {
    if (context.session().DeviceFolder.empty()) {
        PrintError(Say(msg::NoDeviceFolder));
        return false;
    }
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Writing);
    if (!store) return false;
    const archive::StoreResult stored =
        store->StoreImage(ArchiveIdentityOf(context), {stamp, fileName, bytes});
    return stored.ok() || NotArchived(stored.error);
}

int RunArchive(CliContext& context, CommandArgs args) {
    const std::string usage =
        "archive needs list [--ids|--team], csv FILE, tag JOB [--all] [--replace], undo-tag or "
        "check, then filters: [--device D] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--job J] "
        "[--result all|failed|over-limit|passed] [--search TEXT]";
    if (args.empty()) return context.UsageError(usage);
    const std::string& verb = args[0];
    std::set<std::string_view> flags;
    if (verb == "list") flags = {"--ids", "--team"};
    if (verb == "tag") flags = {"--all", "--replace"};
    CommandWords words;
    std::set<std::string_view> valued = kFilterOptions;
    valued.insert(kResultOptions.begin(), kResultOptions.end());
    if (auto error = SplitCommandWords(args.subspan(1), valued, flags, words))
        return context.UsageError(verb + ": " + *error + "; " + usage);
    archive::RecordFilter filter;
    if (auto error = ParseRecordFilter(words, filter)) return context.UsageError(*error);
    const std::vector<std::string>& rest = words.words;
    if (verb == "tag" && rest.size() == 1) return Tag(context, rest[0], filter, words);
    const bool bare = rest.empty() && TakesEverything(filter);
    if (verb == "undo-tag" && bare) return UndoTag();
    if (verb == "check" && bare) return Check();
    if (verb == "list" && words.flags.contains("--team")) {
        // The team archive's listing knows the splicer, date and job filters alone.
        if (words.flags.size() > 1 || !rest.empty() || filter.result || !filter.search.empty())
            return context.UsageError(usage);
        return ListTeamRecords(filter);
    }
    if ((verb != "list" && verb != "csv") || rest.size() != (verb == "csv" ? 1u : 0u))
        return context.UsageError(usage);

    // No archive yet is an empty one, and is not made by looking.
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store && error.code != archive::ErrorCode::NoArchive) return kExitUsage;
    if (verb == "list") return List(store.get(), filter, words.flags.contains("--ids"));
    const auto records =
        store ? store->Records(filter) : std::optional(std::vector<archive::ArchivedRecord>{});
    if (!records) {
        Tell(store->LastError());
        return kExitUsage;
    }
    return Csv(rest[0], *records);
}

}  // namespace velmora::cli
