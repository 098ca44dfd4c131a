// archive list|csv|tag|undo-tag|check: the splices of every download, across splicers and days.
#include "cli/archive_commands.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "archive/archive.h"
#include "archive/archive_texts.h"
#include "archive/archive_writer.h"
#include "archive/snapshot_backup.h"
#include "base/app_config.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "cli/team_commands.h"
#include "history/csv_export.h"
#include "history/history_texts.h"

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
    const CsvExport job{PathFromText(file), std::move(store), DetailCaptions(),
                        TableLanguageFor(Config().EnglishFlag), std::nullopt};
    if (const FileWriteResult written = WriteCsvExport(job); !written.ok) {
        PrintError(FileWriteProblemText(job.file, written));
        return kExitUsage;
    }
    std::printf("%s\n", file.c_str());
    return kExitOk;
}

bool TakesEverything(const archive::RecordFilter& filter) {
    return !filter.device && !filter.splicer && !filter.from && !filter.to && !filter.job;
}

// Gives `job` to the records `filter` takes. Every record of the archive only with
// --all; records of another job only with --replace.
int Tag(CliContext& context, const std::string& job, const archive::RecordFilter& filter,
        std::vector<std::string> flags) {
    bool all = false, replace = false;
    for (const std::string& flag : flags) {
        if (flag == "--all") {
            all = true;
        } else if (flag == "--replace") {
            replace = true;
        } else {
            return context.UsageError("tag takes --all and --replace, not '" + flag + "'");
        }
    }
    if (TakesEverything(filter) && !all)
        return context.UsageError(
            "tag without a filter would name every record of the archive; add --all to mean it");
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store) return error.code == archive::ErrorCode::NoArchive ? kExitOk : kExitUsage;
    const std::string shown = "'" + TerminalSafe(job) + "'";
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
    if (job.empty())
        std::printf("%zu records have no job now\n", tagged.count);
    else
        std::printf("%zu records named %s\n", tagged.count, shown.c_str());
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
        std::printf("%zu records have their job of before again\n", undone.count);
    return kExitOk;
}

}  // namespace

std::optional<std::string> ParseRecordFilter(CommandArgs args, archive::RecordFilter& filter,
                                             std::vector<std::string>& rest) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        const bool isFilter =
            name == "--device" || name == "--from" || name == "--to" || name == "--job";
        if (!isFilter) {
            rest.push_back(name);
            continue;
        }
        if (i + 1 >= args.size()) return name + " needs a value";
        const std::string& value = args[++i];
        if (name == "--device") filter.device = value;
        if (name == "--job") filter.job = value;
        if (name == "--from" || name == "--to") {
            const auto date = ParseDate(value);
            if (!date) return name + " needs a date YYYY-MM-DD, not '" + value + "'";
            (name == "--from" ? filter.from : filter.to) = date;
        }
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
        "archive needs list [--ids], csv FILE, tag JOB [--all] [--replace], undo-tag or check, "
        "then "
        "filters: "
        "[--device D] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--job J]";
    if (args.empty()) return context.UsageError(usage);
    archive::RecordFilter filter;
    std::vector<std::string> rest;
    if (auto error = ParseRecordFilter(args.subspan(1), filter, rest))
        return context.UsageError(*error);
    const std::string& verb = args[0];
    if (verb == "tag" && !rest.empty())
        return Tag(context, rest[0], filter, std::vector(rest.begin() + 1, rest.end()));
    if (verb == "undo-tag" && rest.empty() && TakesEverything(filter)) return UndoTag();
    if (verb == "check" && rest.empty() && TakesEverything(filter)) return Check();
    if (verb == "list" && rest == std::vector<std::string>{"--team"}) {
        return ListTeamRecords(filter);
    }
    const bool ids = verb == "list" && rest == std::vector<std::string>{"--ids"};
    if (ids) rest.clear();
    if ((verb != "list" && verb != "csv") || rest.size() != (verb == "csv" ? 1u : 0u))
        return context.UsageError(usage);

    // No archive yet is an empty one, and is not made by looking.
    archive::ArchiveError error;
    const std::unique_ptr<archive::Archive> store = OpenArchive(archive::OpenFor::Reading, &error);
    if (!store && error.code != archive::ErrorCode::NoArchive) return kExitUsage;
    if (verb == "list") return List(store.get(), filter, ids);
    const auto records =
        store ? store->Records(filter) : std::optional(std::vector<archive::ArchivedRecord>{});
    if (!records) {
        Tell(store->LastError());
        return kExitUsage;
    }
    return Csv(rest[0], *records);
}

}  // namespace velmora::cli
