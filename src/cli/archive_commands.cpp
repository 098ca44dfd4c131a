// archive list|csv|tag: the splices of every download, across splicers and days.
#include "cli/archive_commands.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "archive/archive.h"
#include "base/app_config.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "history/csv_export.h"
#include "history/history_texts.h"

namespace velmora::cli {
namespace {

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::unique_ptr<archive::Archive> OpenArchive() {
    archive::OpenResult opened =
        archive::Archive::Open(archive::ArchiveFile(Config().AppDirectory));
    if (!opened.archive)
        PrintError("velmora-cli: the archive cannot be used: " + opened.error.message);
    return std::move(opened.archive);
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

int List(const std::vector<archive::ArchivedRecord>& records) {
    const TableLanguage language = TableLanguageFor(Config().EnglishFlag);
    for (const archive::ArchivedRecord& r : records)
        std::printf("%s\t%s\t%s\t%s\t%s\n", r.device.c_str(), TimeText(r.record).c_str(),
                    ResultListText(r.record, language).c_str(), LossText(r.record).c_str(),
                    r.job.c_str());
    return kExitOk;
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

void ArchiveDownload(CliContext& context, const RecordStore& records) {
    if (context.session().DeviceFolder.empty() || records.empty()) return;
    const std::unique_ptr<archive::Archive> store = OpenArchive();
    if (!store) return;
    const archive::SplicerIdentity splicer{PathText(context.session().DeviceFolder.filename()),
                                           context.session().SerialNumber};
    const archive::StoreResult stored = store->StoreDownload(splicer, records);
    if (!stored.ok())
        PrintError("velmora-cli: the records were not archived: " + stored.error.message);
}

bool ArchiveSnapshot(CliContext& context, const SettingsBackup& backup, std::string_view reason) {
    if (context.session().DeviceFolder.empty()) {
        PrintError(Say(msg::NoDeviceFolder));
        return false;
    }
    const std::unique_ptr<archive::Archive> store = OpenArchive();
    if (!store) return false;
    const std::vector<archive::GroupBytes> groups = SnapshotGroups(backup);
    const archive::SplicerIdentity splicer{PathText(context.session().DeviceFolder.filename()),
                                           context.session().SerialNumber};
    const archive::StoreResult stored = store->StoreSnapshot(splicer, reason, groups);
    if (!stored.ok())
        PrintError("velmora-cli: the settings were not archived: " + stored.error.message);
    return stored.ok();
}

void ArchiveImage(CliContext& context, const std::string& stamp, const std::string& fileName,
                  std::span<const std::uint8_t> bytes) {
    if (context.session().DeviceFolder.empty()) return;
    const std::unique_ptr<archive::Archive> store = OpenArchive();
    if (!store) return;
    const archive::SplicerIdentity splicer{PathText(context.session().DeviceFolder.filename()),
                                           context.session().SerialNumber};
    const archive::StoreResult stored = store->StoreImage(splicer, {stamp, fileName, bytes});
    if (!stored.ok())
        PrintError("velmora-cli: the image was not archived: " + stored.error.message);
}

int RunArchive(CliContext& context, CommandArgs args) {
    const std::string usage =
        "archive needs list, csv FILE or tag JOB, then filters: [--device D] [--from YYYY-MM-DD] "
        "[--to YYYY-MM-DD] [--job J]";
    if (args.empty()) return context.UsageError(usage);
    archive::RecordFilter filter;
    std::vector<std::string> rest;
    if (auto error = ParseRecordFilter(args.subspan(1), filter, rest))
        return context.UsageError(*error);
    const std::string& verb = args[0];
    const bool takesOne = verb == "csv" || verb == "tag";
    if ((verb != "list" && !takesOne) || rest.size() != (takesOne ? 1u : 0u))
        return context.UsageError(usage);

    const std::unique_ptr<archive::Archive> store = OpenArchive();
    if (!store) return kExitUsage;
    if (verb == "tag") {
        const archive::StoreResult tagged = store->TagJob(rest[0], filter);
        if (!tagged.ok()) {
            PrintError("velmora-cli: " + tagged.error.message);
            return kExitUsage;
        }
        std::printf("%zu records named '%s'\n", tagged.count, rest[0].c_str());
        return kExitOk;
    }
    const auto records = store->Records(filter);
    if (!records) {
        PrintError("velmora-cli: " + store->LastError().message);
        return kExitUsage;
    }
    return verb == "list" ? List(*records) : Csv(rest[0], *records);
}

}  // namespace velmora::cli
