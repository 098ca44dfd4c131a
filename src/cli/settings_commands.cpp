// ports, read and write: the Setting page's work on the command line.
#include <array>
#include <cstdio>
#include <optional>
#include <vector>

#include "cli/cli_commands.h"
#include "serial/port_discovery.h"
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

// Text from the splicer as a terminal may show it: control bytes (ESC, BEL, CR...)
// become \xNN, so that a name can neither move the cursor nor ring a bell.
std::string TerminalSafe(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
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

int RunRead(CliContext& context, CommandArgs args) {
    if (args.size() != 1) return context.UsageError("read needs one GROUP: " + GroupNameList());
    const std::optional<int> group = GroupByName(args[0]);
    if (!group) return context.UsageError("unknown group '" + args[0] + "': " + GroupNameList());
    if (int status = ConnectAndRead(context, *group); status != kExitOk) return status;
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), *group);
    ShowGroup(*group, context.session().records, context.tables(), rows);
    for (const GridRow& row : rows)
        std::printf("%s\t%s\n", row.CaptionText().c_str(), TerminalSafe(row.value).c_str());
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
    return kExitOk;
}

}  // namespace velmora::cli
