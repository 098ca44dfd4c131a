#include "settings/backup_texts.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "settings/parameter_rows.h"

namespace velmora {
namespace {

constexpr std::string_view kHead = "# velmora settings backup";

struct Section {
    std::string_view name;
    int group;   // the group that shows the record (System shows the rest of config)
    int record;  // GroupWire::record
};
constexpr std::array<Section, 3> kSections{{
    {"splice", group::Splice, 0},
    {"heating", group::Heating, 1},
    {"config", group::FsConfig, 3},
}};

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (char c : text.substr(i, 2)) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::vector<GridRow> Shown(int group, const ParameterRecords& records, const OptionTables& tables) {
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group);
    ShowGroup(group, records, tables, rows);
    return rows;
}

std::vector<std::uint8_t> RecordBytes(int record, const ParameterRecords& records) {
    const int group = record == 0 ? group::Splice : record == 1 ? group::Heating : group::FsConfig;
    return EncodeGroupRecord(group, records);
}

}  // namespace

std::vector<int> BackupGroups(const SettingsBackup& backup) {
    std::vector<int> groups;
    if (backup.splice) groups.push_back(group::Splice);
    if (backup.heater) groups.push_back(group::Heating);
    if (backup.config) groups.insert(groups.end(), {group::FsConfig, group::System});
    return groups;
}

void ApplyBackup(const SettingsBackup& backup, ParameterRecords& records) {
    if (backup.splice) records.splice = DecodeSpliceParams(*backup.splice);
    if (backup.heater) records.heater = DecodeHeaterParams(*backup.heater);
    if (backup.config) records.config = DecodeDeviceConfig(*backup.config);
}

std::string BackupText(const SettingsBackup& backup, const OptionTables& tables) {
    ParameterRecords records;
    ApplyBackup(backup, records);
    std::string text = std::string(kHead) + "\n";
    text += "device\t" + backup.device + "\nserial\t" + backup.serialNumber + "\ntaken\t" +
            backup.taken + "\n";
    const bool held[] = {backup.splice.has_value(), backup.heater.has_value(),
                         backup.config.has_value()};
    for (std::size_t s = 0; s < kSections.size(); ++s) {
        if (!held[s]) continue;
        text += "\n[" + std::string(kSections[s].name) + "]\n";
        std::vector<int> groups{kSections[s].group};
        if (kSections[s].group == group::FsConfig) groups.push_back(group::System);
        for (int g : groups)
            for (const GridRow& row : Shown(g, records, tables))
                text += row.CaptionText() + "\t" + row.value + "\n";
        text += "bytes\t" + Hex(RecordBytes(kSections[s].record, records)) + "\n";
    }
    return text;
}

std::optional<SettingsBackup> ParseBackupText(std::string_view text, std::string& error) {
    SettingsBackup backup;
    if (!text.starts_with(kHead)) {
        error = "not a settings backup (its first line is not '" + std::string(kHead) + "')";
        return std::nullopt;
    }
    std::string section;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t tab = line.find('\t');
        const std::string_view key = line.substr(0, tab);
        const std::string_view value = tab == std::string_view::npos ? "" : line.substr(tab + 1);
        if (line.starts_with("[") && line.ends_with("]")) {
            section = std::string(line.substr(1, line.size() - 2));
        } else if (section.empty()) {
            if (key == "device") backup.device = value;
            if (key == "serial") backup.serialNumber = value;
            if (key == "taken") backup.taken = value;
        } else if (key == "bytes") {
            const auto bytes = FromHex(value);
            auto fill = [&](auto& field) {
                if (!bytes || bytes->size() != field.emplace().size()) {
                    field.reset();
                    return false;
                }
                std::copy(bytes->begin(), bytes->end(), field->begin());
                return true;
            };
            const bool ok = section == "splice"    ? fill(backup.splice)
                            : section == "heating" ? fill(backup.heater)
                            : section == "config"  ? fill(backup.config)
                                                   : false;
            if (!ok) {
                error = "line " + std::to_string(number) + ": the bytes of [" + section +
                        "] are not a record of its size";
                return std::nullopt;
            }
        }
    }
    if (!backup.splice && !backup.heater && !backup.config) {
        error = "the backup holds no record";
        return std::nullopt;
    }
    return backup;
}

std::vector<RowDifference> CompareGroup(int group, const ParameterRecords& before,
                                        const ParameterRecords& after, const OptionTables& tables) {
    const std::vector<GridRow> a = Shown(group, before, tables);
    const std::vector<GridRow> b = Shown(group, after, tables);
    std::vector<RowDifference> differences;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i].value != b[i].value)
            differences.push_back({group, a[i].CaptionText(), a[i].value, b[i].value});
    // The System group shows the same record as FsConfig: its other bytes are told once.
    if (differences.empty() && group != group::System &&
        EncodeGroupRecord(group, before) != EncodeGroupRecord(group, after))
        differences.push_back({group, "(other bytes)", "", ""});
    return differences;
}

SettingsBackup BackupOfGroup(int group, const ParameterRecords& records) {
    SettingsBackup one;
    if (group == group::Splice) one.splice = EncodeSpliceParams(records.splice);
    if (group == group::Heating) one.heater = EncodeHeaterParams(records.heater);
    if (group == group::FsConfig || group == group::System)
        one.config = EncodeDeviceConfig(records.config);
    return one;
}

SettingsBackup BackupOfAll(const ParameterRecords& records) {
    SettingsBackup all;
    all.splice = EncodeSpliceParams(records.splice);
    all.heater = EncodeHeaterParams(records.heater);
    all.config = EncodeDeviceConfig(records.config);
    return all;
}

std::vector<archive::GroupBytes> SnapshotGroups(const SettingsBackup& backup) {
    std::vector<archive::GroupBytes> groups;
    if (backup.splice)
        groups.push_back(
            {archive::RecordKind::Splice, {backup.splice->begin(), backup.splice->end()}});
    if (backup.heater)
        groups.push_back(
            {archive::RecordKind::Heater, {backup.heater->begin(), backup.heater->end()}});
    if (backup.config)
        groups.push_back(
            {archive::RecordKind::DeviceConfig, {backup.config->begin(), backup.config->end()}});
    return groups;
}

namespace {

template <std::size_t N>
bool TakeBytes(const std::vector<std::uint8_t>& bytes, std::optional<FieldBytes<N>>& into) {
    if (bytes.size() != N) return false;
    FieldBytes<N> record{};
    std::copy(bytes.begin(), bytes.end(), record.begin());
    into = record;
    return true;
}

}  // namespace

std::optional<SettingsBackup> BackupFromSnapshot(const archive::ParameterSnapshot& snapshot,
                                                 std::string& error) {
    SettingsBackup backup;
    backup.device = snapshot.device;
    for (const archive::GroupBytes& group : snapshot.groups) {
        bool fits = true;
        switch (group.kind) {
            case archive::RecordKind::Splice:
                fits = TakeBytes(group.bytes, backup.splice);
                break;
            case archive::RecordKind::Heater:
                fits = TakeBytes(group.bytes, backup.heater);
                break;
            case archive::RecordKind::DeviceConfig:
                fits = TakeBytes(group.bytes, backup.config);
                break;
            case archive::RecordKind::Environment:
                break;
        }
        if (!fits) {
            error = "record " + std::to_string(static_cast<int>(group.kind)) + " holds " +
                    std::to_string(group.bytes.size()) + " bytes, not " +
                    std::to_string(archive::RecordKindSize(group.kind));
            return std::nullopt;
        }
    }
    return backup;
}

std::vector<std::string> StageRestore(const SettingsBackup& backup, int group,
                                      ParameterRecords& records, const OptionTables& tables) {
    const ParameterRecords kept = records;
    // Only the record behind the group: the others stay as the splicer has them.
    ParameterRecords restored = records;
    ApplyBackup(backup, restored);
    ApplyBackup(BackupOfGroup(group, restored), records);
    std::vector<int> checked{group};
    if (group == group::FsConfig || group == group::System)
        checked = {group::FsConfig, group::System};
    std::vector<std::string> failures;
    for (int g : checked) {
        std::vector<std::string> texts;
        for (const GridRow& row : Shown(g, records, tables)) texts.push_back(row.value);
        const std::vector<std::string> more = ValidateAndEncode(g, texts, tables, records);
        failures.insert(failures.end(), more.begin(), more.end());
    }
    if (!failures.empty()) records = kept;
    return failures;
}

}  // namespace velmora
