// ports, read, write, backup, diff and restore: the Setting page's work on the command line.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/atomic_file.h"
#include "base/file_read.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "base/program_arguments.h"
#include "cli/archive_commands.h"
#include "cli/cli_commands.h"
#include "serial/port_discovery.h"
#include "settings/parameter_rows.h"
#include "settings/settings_backup.h"
#include "settings/settings_texts.h"

namespace velmora::cli {
namespace {

// Nothing a backup holds comes near this; anything larger is not a backup.
constexpr std::uintmax_t kBackupFileLimit = 1 << 20;

std::string GroupNameList() {
    std::string list;
    for (const ParamGroup group : kParamGroups)
        list += (list.empty() ? "" : ", ") + std::string(InfoOf(group).name);
    return list;
}

// The group's rows as the grid shows them before a read: captions, and for list
// rows their options (which never depend on the values).
std::vector<GridRow> RowTemplate(const CliContext& context, ParamGroup group) {
    return ShownRows(group, ParameterRecords{}, context.tables());
}

// ROW is a row's caption (its unit left out; letter case ignored) or its index from 0.
std::optional<std::size_t> FindRow(const std::vector<GridRow>& rows, std::string_view name) {
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos) {
        const std::size_t index = name.size() > 6 ? rows.size() : std::stoul(std::string(name));
        if (index < rows.size()) return index;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (MatchOption(std::vector<std::string>{rows[i].caption, rows[i].CaptionText()}, name))
            return i;
    return std::nullopt;
}

struct Assignment {
    std::size_t row;
    std::string text;
};

// Parses ROW=TEXT arguments against the group's rows; an error text on failure.
// A text no value could make acceptable (a read-only row, a list row's text that is
// none of its options) is refused here already, before the splicer is touched.
std::optional<std::string> ParseAssignments(const std::vector<GridRow>& rows, CommandArgs args,
                                            std::vector<Assignment>& assignments) {
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos || equals == 0)
            return "expected ROW=TEXT, got '" + arg + "'";
        const std::string name = arg.substr(0, equals);
        const std::optional<std::size_t> row = FindRow(rows, name);
        if (!row) return "no row '" + name + "' in this group";
        std::string text = arg.substr(equals + 1);
        if (std::optional<std::string> refusal = RowRefusal(rows[*row], text)) return refusal;
        assignments.push_back({*row, std::move(text)});
    }
    return std::nullopt;
}

// Connects and reads the records into the session; kExitOk or the failure's status.
int ConnectAndRead(CliContext& context, std::span<const ParamRecord> records) {
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    const StepResult read =
        ReadRecords(context.link(), context.session(), records, context.WaitingPump("Reading"));
    context.progress().Clear();
    return read.ok ? kExitOk : context.ReportFailure(read);
}

// The record as the splicer now holds it, kept in the archive (the environment
// is not kept); kExitOk, or kExitNotArchived once the reason was told.
int SnapshotRecord(CliContext& context, ParamRecord record, std::string_view reason) {
    const SettingsBackup one = BackupOf(context.session().records, std::span(&record, 1));
    if (one.records.empty()) return kExitOk;
    return ArchiveSnapshot(context, one, reason) ? kExitOk : kExitNotArchived;
}

void PrintRefusals(const std::vector<std::string>& refusals) {
    for (const std::string& text : refusals) std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

int RunPorts(CliContext& context, CommandArgs args) {
    if (!args.empty()) return context.UsageError("ports takes no arguments");
    for (const PortEntry& port : DiscoverPorts())
        std::printf("%s\t%s\n", port.device.c_str(), port.description.c_str());
    return kExitOk;
}

int RunRead(CliContext& context, CommandArgs args) {
    if (args.size() != 1) return context.UsageError("read needs one GROUP: " + GroupNameList());
    const std::optional<ParamGroup> group = GroupNamed(args[0]);
    if (!group) return context.UsageError("unknown group '" + args[0] + "': " + GroupNameList());
    const ParamRecord record = RecordOf(*group);
    if (int status = ConnectAndRead(context, std::span(&record, 1)); status != kExitOk)
        return status;
    for (const GridRow& row : ShownRows(*group, context.session().records, context.tables()))
        std::printf("%s\t%s\n", row.CaptionText().c_str(), TerminalSafe(row.value).c_str());
    return SnapshotRecord(context, record, archive::reason::Read);
}

int RunWrite(CliContext& context, CommandArgs args) {
    if (args.size() < 2) return context.UsageError("write needs a GROUP and at least one ROW=TEXT");
    const std::optional<ParamGroup> group = GroupNamed(args[0]);
    if (!group) return context.UsageError("unknown group '" + args[0] + "': " + GroupNameList());
    std::vector<Assignment> assignments;
    if (auto error = ParseAssignments(RowTemplate(context, *group), args.subspan(1), assignments))
        return context.UsageError(*error);

    const ParamRecord record = RecordOf(*group);
    if (int status = ConnectAndRead(context, std::span(&record, 1)); status != kExitOk)
        return status;
    std::vector<std::string> texts;
    for (const GridRow& row : ShownRows(*group, context.session().records, context.tables()))
        texts.push_back(row.value);
    for (const Assignment& a : assignments) texts[a.row] = a.text;

    // As Accept does, without the question: the command is the confirmation.
    const StepResult gate = CheckWritable(context.link(), context.session(), record);
    if (!gate.ok) return context.ReportFailure(gate);
    const std::vector<std::string> failures =
        ValidateAndEncode(*group, texts, context.tables(), context.session().records);
    if (!failures.empty()) {
        PrintRefusals(failures);
        return kExitUsage;
    }
    const StepResult written =
        WriteRecord(context.link(), context.session(), record, context.WaitingPump("Writing"));
    context.progress().Clear();
    if (!written.ok) return context.ReportFailure(written);
    for (const std::string& text : StepBoxTexts(written)) std::printf("%s\n", text.c_str());
    return SnapshotRecord(context, record, archive::reason::Write);
}

namespace {

std::optional<SettingsBackup> ReadBackupFile(const std::string& file, std::string& error) {
    const FileReadResult read = ReadWholeFile(PathFromArgument(file), kBackupFileLimit);
    if (!read.ok()) {
        error = TerminalSafe(FileReadProblemText(PathFromArgument(file), read));
        return std::nullopt;
    }
    std::string why;
    std::optional<SettingsBackup> backup = ParseBackupText(read.bytes, why);
    if (!backup) error = TerminalSafe(file) + ": " + why;
    return backup;
}

void PrintDifferences(const char* lead, const std::vector<RowDifference>& differences) {
    for (const RowDifference& d : differences)
        std::printf("%s%s\t%s\t%s\t%s\n", lead, std::string(InfoOf(d.group).name).c_str(),
                    TerminalSafe(d.caption).c_str(), TerminalSafe(d.from).c_str(),
                    TerminalSafe(d.to).c_str());
}

// The records a restore takes: the groups named after the file, or all of them.
// A backup that lacks one of its records is refused unless the groups are named:
// it may have been cut short.
std::optional<std::string> RestoreRecords(const SettingsBackup& backup, CommandArgs names,
                                          std::vector<ParamRecord>& records) {
    for (const std::string& name : names) {
        const std::optional<ParamGroup> group = GroupNamed(name);
        if (!group || !backup.Holds(RecordOf(*group)))
            return "the backup holds no group '" + name + "'";
        if (std::ranges::find(records, RecordOf(*group)) == records.end())
            records.push_back(RecordOf(*group));
    }
    if (!names.empty()) return std::nullopt;
    if (const std::string missing = MissingRecords(backup); !missing.empty())
        return "the backup holds no " + missing + " record; name the groups to restore from it (" +
               GroupNameList() + ")";
    records.assign(kBackupRecords.begin(), kBackupRecords.end());
    return std::nullopt;
}

}  // namespace

int BackUpSettings(CliContext& context, const std::string& file, bool quiet) {
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    const BackupTaken taken =
        TakeBackup(context.link(), context.session(), context.WaitingPump("Reading"));
    context.progress().Clear();
    if (!taken.step.ok) return context.ReportFailure(taken.step);
    const bool archived =
        ArchiveSnapshot(context, taken.backup, quiet ? "before firmware" : "backup");
    // Before a firmware update the archive is where the backup lives: it must take it.
    if (quiet) return archived ? kExitOk : kExitLineFailed;
    if (!file.empty()) {
        const std::filesystem::path output = PathFromArgument(file);
        const FileWriteResult written =
            ReplaceFile(output, BackupText(taken.backup, context.tables()));
        if (!written.ok)
            return context.UsageError(TerminalSafe(FileWriteProblemText(output, written)));
        std::fprintf(NoticeStream(output), "%s\n", TerminalSafe(file).c_str());
    }
    return archived ? kExitOk : kExitNotArchived;
}

int RunBackup(CliContext& context, CommandArgs args) {
    CommandWords words;
    if (SplitCommandWords(args, {}, {}, words) || words.words.size() > 1)
        return context.UsageError("backup takes at most one FILE (- for the standard output)");
    return BackUpSettings(context, words.words.empty() ? std::string() : words.words[0], false);
}

int RunDiff(CliContext& context, CommandArgs args) {
    CommandWords words;
    if (SplitCommandWords(args, {}, {}, words) || words.words.size() != 1)
        return context.UsageError("diff needs one backup FILE");
    std::string error;
    const std::optional<SettingsBackup> backup = ReadBackupFile(words.words[0], error);
    if (!backup) return context.UsageError(error);
    std::vector<ParamRecord> records;
    for (const auto& held : backup->records) records.push_back(held.first);
    if (int status = ConnectAndRead(context, records); status != kExitOk) return status;
    const ParameterRecords saved = WithBackup(*backup, context.session().records);
    // What the file holds, then what the splicer holds.
    for (const ParamRecord record : records)
        PrintDifferences("",
                         CompareRecord(record, saved, context.session().records, context.tables()));
    return kExitOk;
}

int RunRestore(CliContext& context, CommandArgs args) {
    CommandWords split;
    if (auto error = SplitCommandWords(args, {}, {"--any-splicer"}, split))
        return context.UsageError(*error);
    const std::vector<std::string>& words = split.words;
    const bool anySplicer = split.flags.contains("--any-splicer");
    if (words.empty())
        return context.UsageError("restore needs a backup FILE, then GROUPs if not all");
    std::string error;
    const std::optional<SettingsBackup> backup = ReadBackupFile(words[0], error);
    if (!backup) return context.UsageError(error);
    std::vector<ParamRecord> records;
    if (auto refused = RestoreRecords(*backup, std::span(words).subspan(1), records))
        return context.UsageError(*refused);

    if (int status = ConnectAndRead(context, records); status != kExitOk) return status;
    if (!anySplicer && !IsSameSplicer(*backup, context.session()))
        return context.UsageError(
            "the backup is of splicer " +
            TerminalSafe(backup->serialNumber.empty() ? "(not known)" : backup->serialNumber) +
            ", not of " + TerminalSafe(context.session().SerialNumber) +
            "; add --any-splicer to restore its values all the same (the serial number and the "
            "bytes no row shows stay this splicer's own)");

    if (!backup->sealed)
        std::fprintf(stderr,
                     "velmora-cli: the backup has no checksum: only its rows are restored, through "
                     "the same checks as the Setting page's; the bytes no row shows stay this "
                     "splicer's own\n");
    const RestorePlan plan = PlanRestore(*backup, records, context.session(), context.tables());
    if (!plan.refusals.empty()) {
        PrintRefusals(plan.refusals);
        return kExitUsage;
    }
    const RestoreWritten written =
        WriteRestore(context.link(), context.session(), plan, context.WaitingPump("Writing"));
    context.progress().Clear();
    int status = kExitOk;
    for (const RestorePlan::Change& change : plan.changes) {
        if (std::ranges::find(written.written, change.record) == written.written.end()) continue;
        PrintDifferences("changed ", change.rows);
        if (SnapshotRecord(context, change.record, archive::reason::Write) != kExitOk)
            status = kExitNotArchived;
    }
    if (!written.last.ok) return context.ReportFailure(written.last);
    return status;
}

}  // namespace velmora::cli
