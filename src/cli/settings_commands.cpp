// ports, read and write: the Setting page's work on the command line.
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "base/atomic_file.h"
#include "base/local_time.h"
#include "base/path_text.h"
#include "base/time_text.h"
#include "cli/archive_commands.h"
#include "cli/cli_commands.h"
#include "serial/port_discovery.h"
#include "settings/backup_texts.h"
#include "settings/parameter_rows.h"
#include "settings/settings_texts.h"

namespace velmora::cli {
namespace {

constexpr std::array<std::string_view, kGroupCount> kGroupNames = {
    "splice", "heating", "environment", "fsconfig", "system"};

std::optional<int> GroupByName(std::string_view name) {
    for (std::size_t g = 0; g < kGroupNames.size(); ++g)
        if (MatchOption(std::vector<std::string>{std::string(kGroupNames[g])}, name))
            return static_cast<int>(g);
    return std::nullopt;
}

std::string GroupNameList() {
    std::string list;
    for (std::string_view name : kGroupNames)
        list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

// The group's rows as the grid shows them before a read: captions, and for list
// rows their options (which never depend on the values).
std::vector<GridRow> RowTemplate(const CliContext& context, int group) {
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group);
    ShowGroup(group, ParameterRecords{}, context.tables(), rows);
    return rows;
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

std::string JoinOptions(const std::vector<std::string>& options) {
    std::string list;
    for (const std::string& option : options) list += (list.empty() ? "" : ", ") + option;
    return list;
}

struct Assignment {
    std::size_t row;
    std::string text;
};

// Parses ROW=TEXT arguments against the group's rows; an error text on failure.
std::optional<std::string> ParseAssignments(const std::vector<GridRow>& rows, CommandArgs args,
                                            std::vector<Assignment>& assignments) {
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos || equals == 0)
            return "expected ROW=TEXT, got '" + arg + "'";
        const std::string name = arg.substr(0, equals);
        const std::optional<std::size_t> row = FindRow(rows, name);
        if (!row) return "no row '" + name + "' in this group";
        const GridRow& target = rows[*row];
        if (target.readOnly) return "row '" + target.caption + "' is read-only";
        std::string text = arg.substr(equals + 1);
        // A list cell takes only its options, as the grid's drop-down list does.
        if (target.IsList() && !MatchOption(target.options, text))
            return "row '" + target.caption + "' takes one of: " + JoinOptions(target.options);
        assignments.push_back({*row, std::move(text)});
    }
    return std::nullopt;
}

// Connects and reads the group into the session; kExitOk or the failure's status.
int ConnectAndRead(CliContext& context, int group) {
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    const StepResult read =
        ReadGroup(context.link(), context.session(), group, context.WaitingPump("Reading"));
    context.progress().Clear();
    return read.ok ? kExitOk : context.ReportFailure(read);
}

}  // namespace

int RunPorts(CliContext& context, CommandArgs args) {
    if (!args.empty()) return context.UsageError("ports takes no arguments");
    for (const PortEntry& port : DiscoverPorts())
        std::printf("%s\t%s\n", port.device.c_str(), port.description.c_str());
    return kExitOk;
}

namespace {

// The record behind `group`, as a snapshot of that record alone (the environment has none to keep).
void SnapshotGroup(CliContext& context, int group, std::string_view reason) {
    const SettingsBackup one = BackupOfGroup(group, context.session().records);
    if (one.splice || one.heater || one.config) ArchiveSnapshot(context, one, reason);
}

}  // namespace

int RunRead(CliContext& context, CommandArgs args) {
    if (args.size() != 1) return context.UsageError("read needs one GROUP: " + GroupNameList());
    const std::optional<int> group = GroupByName(args[0]);
    if (!group) return context.UsageError("unknown group '" + args[0] + "': " + GroupNameList());
    if (int status = ConnectAndRead(context, *group); status != kExitOk) return status;
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), *group);
    ShowGroup(*group, context.session().records, context.tables(), rows);
    for (const GridRow& row : rows)
        std::printf("%s\t%s\n", row.CaptionText().c_str(), TerminalSafe(row.value).c_str());
    SnapshotGroup(context, *group, "read");
    return kExitOk;
}

int RunWrite(CliContext& context, CommandArgs args) {
    if (args.size() < 2) return context.UsageError("write needs a GROUP and at least one ROW=TEXT");
    const std::optional<int> group = GroupByName(args[0]);
    if (!group) return context.UsageError("unknown group '" + args[0] + "': " + GroupNameList());
    std::vector<Assignment> assignments;
    if (auto error = ParseAssignments(RowTemplate(context, *group), args.subspan(1), assignments))
        return context.UsageError(*error);

    if (int status = ConnectAndRead(context, *group); status != kExitOk) return status;
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), *group);
    ShowGroup(*group, context.session().records, context.tables(), rows);
    std::vector<std::string> texts;
    for (const GridRow& row : rows) texts.push_back(row.value);
    for (const Assignment& a : assignments) texts[a.row] = a.text;

    // As Accept does, without the question: the command is the confirmation.
    const StepResult gate = CheckWritable(context.link(), context.session(), *group);
    if (!gate.ok) return context.ReportFailure(gate);
    const std::vector<std::string> failures =
        ValidateAndEncode(*group, texts, context.tables(), context.session().records);
    if (!failures.empty()) {
        for (const std::string& text : failures) std::fprintf(stderr, "%s\n", text.c_str());
        return kExitUsage;
    }
    const StepResult written =
        WriteGroup(context.link(), context.session(), *group, context.WaitingPump("Writing"));
    context.progress().Clear();
    if (!written.ok) return context.ReportFailure(written);
    for (const std::string& text : StepBoxTexts(written)) std::printf("%s\n", text.c_str());
    SnapshotGroup(context, *group, "write");
    return kExitOk;
}

namespace {

// Reads every record a backup holds (splice, heating, the configuration) from the splicer.
int ReadForBackup(CliContext& context, const std::vector<int>& groups) {
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    for (int group : groups) {
        if (group == group::System) continue;  // the configuration is read with FsConfig
        if (int status = ConnectAndRead(context, group); status != kExitOk) return status;
    }
    return kExitOk;
}

std::optional<SettingsBackup> ReadBackupFile(const std::string& file, std::string& error) {
    std::ifstream in(PathFromText(file), std::ios::binary);
    if (!in) {
        error = file + ": cannot be read";
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string why;
    std::optional<SettingsBackup> backup = ParseBackupText(text, why);
    if (!backup) error = file + ": " + why;
    return backup;
}

std::string NowText() {
    const std::tm t = LocalTime(std::time(nullptr));
    return TimeStampText(t.tm_year + 1900 - 2000, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                         t.tm_sec);
}

void PrintDifferences(const char* lead, const std::vector<RowDifference>& differences) {
    for (const RowDifference& d : differences)
        std::printf("%s%s\t%s\t%s\t%s\n", lead,
                    std::string(kGroupNames[static_cast<std::size_t>(d.group)]).c_str(),
                    d.caption.c_str(), TerminalSafe(d.from).c_str(), TerminalSafe(d.to).c_str());
}

}  // namespace

int TakeBackup(CliContext& context, const std::string& file, bool quiet) {
    const SettingsBackup all{{},
                             {},
                             {},
                             FieldBytes<kSpliceParamsSize>{},
                             FieldBytes<kHeaterParamsSize>{},
                             FieldBytes<kDeviceConfigSize>{}};
    if (int status = ReadForBackup(context, BackupGroups(all)); status != kExitOk) return status;
    SettingsBackup backup = BackupOfAll(context.session().records);
    backup.device = PathText(context.session().DeviceFolder.filename());
    backup.serialNumber = context.session().SerialNumber;
    backup.taken = NowText();
    // Before a firmware update the archive is where the backup lives: it must take it.
    if (!ArchiveSnapshot(context, backup, quiet ? "before firmware" : "backup") && quiet)
        return kExitLineFailed;
    if (file.empty()) return kExitOk;
    const FileWriteResult written =
        ReplaceFile(PathFromText(file), BackupText(backup, context.tables()));
    if (!written.ok) return context.UsageError(file + ": " + written.reason);
    if (!quiet) std::printf("%s\n", file.c_str());
    return kExitOk;
}

int RunBackup(CliContext& context, CommandArgs args) {
    if (args.size() > 1) return context.UsageError("backup takes at most one FILE");
    return TakeBackup(context, args.empty() ? std::string() : args[0], false);
}

int RunDiff(CliContext& context, CommandArgs args) {
    if (args.size() != 1) return context.UsageError("diff needs one backup FILE");
    std::string error;
    const std::optional<SettingsBackup> backup = ReadBackupFile(args[0], error);
    if (!backup) return context.UsageError(error);
    const std::vector<int> groups = BackupGroups(*backup);
    if (int status = ReadForBackup(context, groups); status != kExitOk) return status;
    ParameterRecords saved = context.session().records;
    ApplyBackup(*backup, saved);
    // What the file holds, then what the splicer holds.
    for (int group : groups)
        PrintDifferences("",
                         CompareGroup(group, saved, context.session().records, context.tables()));
    return kExitOk;
}

int RunRestore(CliContext& context, CommandArgs args) {
    std::vector<std::string> words(args.begin(), args.end());
    const auto any = std::find(words.begin(), words.end(), "--any-splicer");
    const bool anySplicer = any != words.end();
    if (anySplicer) words.erase(any);
    if (words.empty())
        return context.UsageError("restore needs a backup FILE, then GROUPs if not all");
    std::string error;
    const std::optional<SettingsBackup> backup = ReadBackupFile(words[0], error);
    if (!backup) return context.UsageError(error);
    std::vector<int> groups;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::optional<int> group = GroupByName(words[i]);
        const std::vector<int> held = BackupGroups(*backup);
        if (!group || std::find(held.begin(), held.end(), *group) == held.end())
            return context.UsageError("the backup holds no group '" + words[i] + "'");
        groups.push_back(*group);
    }
    if (groups.empty()) groups = BackupGroups(*backup);
    if (int status = ReadForBackup(context, groups); status != kExitOk) return status;
    if (!anySplicer && !backup->serialNumber.empty() &&
        backup->serialNumber != context.session().SerialNumber)
        return context.UsageError("the backup is of splicer " + backup->serialNumber + ", not of " +
                                  context.session().SerialNumber +
                                  "; add --any-splicer to restore it all the same");

    const ParameterRecords before = context.session().records;
    ParameterRecords restored = before;
    ApplyBackup(*backup, restored);
    for (int group : groups) {
        if (group == group::System &&
            std::find(groups.begin(), groups.end(), group::FsConfig) != groups.end())
            continue;  // one record, written once
        const std::vector<RowDifference> changes =
            CompareGroup(group, before, restored, context.tables());
        if (changes.empty()) continue;
        // The same checks as Accept: the record restored as if its rows had been typed.
        const std::vector<std::string> failures =
            StageRestore(*backup, group, context.session().records, context.tables());
        if (!failures.empty()) {
            for (const std::string& text : failures) std::fprintf(stderr, "%s\n", text.c_str());
            return kExitUsage;
        }
        const StepResult written =
            WriteGroup(context.link(), context.session(), group, context.WaitingPump("Writing"));
        context.progress().Clear();
        if (!written.ok) return context.ReportFailure(written);
        PrintDifferences("changed ", changes);
    }
    return kExitOk;
}

}  // namespace velmora::cli
