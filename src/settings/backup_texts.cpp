#include "settings/backup_texts.h"

#include <algorithm>
#include <cstdio>

#include "base/sha256.h"
#include "base/text_codec.h"
#include "settings/parameter_rows.h"
#include "settings/value_text.h"

namespace velmora {
namespace {

constexpr std::string_view kHead = "# velmora settings backup";
constexpr std::string_view kChecksumKey = "sha256";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

int HexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

// A value on one line of the file: control bytes and the backslash as \xNN, so
// that a name holding a tab or a line end cannot break the file apart.
std::string Escaped(std::string_view text) {
    return EscapeControlBytes(text);
}

std::string ChecksumOf(std::string_view text) {
    return HexText(
        Sha256Of(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

// The values the record's rows show, in the order the file lists them.
std::vector<std::string> ShownValues(ParamRecord record, const ParameterRecords& records,
                                     const OptionTables& tables) {
    std::vector<std::string> values;
    for (const ParamGroup group : GroupsOf(record))
        for (const GridRow& row : ShownRows(group, records, tables)) values.push_back(row.value);
    return values;
}

std::optional<ParamRecord> RecordOfSection(std::string_view name) {
    for (const ParamRecord record : kBackupRecords)
        if (InfoOf(record).name == name) return record;
    return std::nullopt;
}

// One [section] of the file as read.
struct Section {
    ParamRecord record;
    int line = 0;                                     // of its head
    std::vector<std::pair<int, std::string>> values;  // line number, value as written
    std::optional<std::vector<std::uint8_t>> bytes;
};

// A section's rows against what its bytes show, in either language: a file
// written in one language is read in the other.
std::optional<std::string> RowsDisagree(const Section& section) {
    ParameterRecords records;
    DecodeRecord(section.record, *section.bytes, records);
    OptionTables english = ChineseOptionTables();
    UseEnglishOptionNames(english);
    const std::vector<std::string> shown[] = {
        ShownValues(section.record, records, english),
        ShownValues(section.record, records, ChineseOptionTables())};
    const std::string name(InfoOf(section.record).name);
    if (section.values.size() != shown[0].size())
        return "line " + std::to_string(section.line) + ": [" + name + "] lists " +
               std::to_string(section.values.size()) + " rows, not " +
               std::to_string(shown[0].size());
    for (std::size_t i = 0; i < section.values.size(); ++i) {
        const std::string& written = section.values[i].second;
        const bool agrees = std::ranges::any_of(shown, [&](const std::vector<std::string>& values) {
            return written == Escaped(values[i]) || written == values[i];
        });
        if (!agrees)
            return "line " + std::to_string(section.values[i].first) + ": the row shows '" +
                   written + "' but the bytes of [" + name + "] hold '" + Escaped(shown[0][i]) +
                   "'";
    }
    return std::nullopt;
}

}  // namespace

SettingsBackup BackupOf(const ParameterRecords& from, std::span<const ParamRecord> which) {
    SettingsBackup backup;
    for (const ParamRecord record : which)
        if (InfoOf(record).writeCommand) backup.records[record] = EncodeRecord(record, from);
    return backup;
}

ParameterRecords WithBackup(const SettingsBackup& backup, ParameterRecords base) {
    for (const auto& [record, bytes] : backup.records) DecodeRecord(record, bytes, base);
    return base;
}

std::string BackupText(const SettingsBackup& backup, const OptionTables& tables) {
    const ParameterRecords records = WithBackup(backup);
    std::string text = std::string(kHead) + "\n";
    text += "device\t" + Escaped(backup.device) + "\nserial\t" + Escaped(backup.serialNumber) +
            "\ntaken\t" + Escaped(backup.taken) + "\n";
    for (const auto& [record, bytes] : backup.records) {
        text += "\n[" + std::string(InfoOf(record).name) + "]\n";
        for (const ParamGroup group : GroupsOf(record))
            for (const GridRow& row : ShownRows(group, records, tables))
                text += Escaped(row.CaptionText()) + "\t" + Escaped(row.value) + "\n";
        text += "bytes\t" + Hex(bytes) + "\n";
    }
    return text + std::string(kChecksumKey) + "\t" + ChecksumOf(text) + "\n";
}

std::optional<SettingsBackup> ParseBackupText(std::string_view text, std::string& error) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    if (!text.starts_with(kHead)) {
        error = "not a settings backup (its first line is not '" + std::string(kHead) + "')";
        return std::nullopt;
    }

    SettingsBackup backup;
    std::vector<Section> sections;
    std::string checked;  // the text before the checksum line, with LF line ends
    std::optional<std::string> checksum;
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
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!IsValidUtf8(line)) {
            error = where + "not UTF-8 text";
            return std::nullopt;
        }
        if (checksum) {
            if (line.empty()) continue;
            error = where + "text after the checksum";
            return std::nullopt;
        }
        if (key == kChecksumKey) {
            checksum = std::string(value);
            continue;
        }
        checked.append(line).push_back('\n');
        if (line.starts_with("[") && line.ends_with("]")) {
            const std::string_view name = line.substr(1, line.size() - 2);
            const std::optional<ParamRecord> record = RecordOfSection(name);
            if (!record) {
                error = where + "no record is called [" + std::string(name) + "]";
                return std::nullopt;
            }
            if (std::ranges::any_of(sections,
                                    [&](const Section& s) { return s.record == *record; })) {
                error = where + "[" + std::string(name) + "] a second time";
                return std::nullopt;
            }
            sections.push_back({*record, number, {}, {}});
        } else if (sections.empty()) {
            if (key == "device") backup.device = UnescapeControlBytes(value);
            if (key == "serial") backup.serialNumber = UnescapeControlBytes(value);
            if (key == "taken") backup.taken = UnescapeControlBytes(value);
        } else if (key == "bytes") {
            Section& section = sections.back();
            const auto bytes = FromHex(value);
            if (section.bytes || !bytes || bytes->size() != InfoOf(section.record).size) {
                error = where + "the bytes of [" + std::string(InfoOf(section.record).name) +
                        "] are not a record of its size";
                return std::nullopt;
            }
            section.bytes = bytes;
        } else if (tab != std::string_view::npos) {
            sections.back().values.emplace_back(number, std::string(value));
        }
    }
    if (checksum && *checksum != ChecksumOf(checked)) {
        error = "the checksum does not match: the file was changed or damaged after it was saved";
        return std::nullopt;
    }
    for (const Section& section : sections) {
        if (!section.bytes) {
            error = "line " + std::to_string(section.line) + ": [" +
                    std::string(InfoOf(section.record).name) + "] has no bytes line";
            return std::nullopt;
        }
        if (auto disagreement = RowsDisagree(section)) {
            error = *disagreement;
            return std::nullopt;
        }
        backup.records[section.record] = *section.bytes;
    }
    if (backup.records.empty()) {
        error = "the backup holds no record";
        return std::nullopt;
    }
    backup.sealed = checksum.has_value();
    return backup;
}

std::string MissingRecords(const SettingsBackup& backup) {
    std::string missing;
    for (const ParamRecord record : kBackupRecords)
        if (!backup.Holds(record))
            missing += (missing.empty() ? "" : ", ") + std::string(InfoOf(record).name);
    return missing;
}

std::vector<RowDifference> CompareRecord(ParamRecord record, const ParameterRecords& before,
                                         const ParameterRecords& after,
                                         const OptionTables& tables) {
    std::vector<RowDifference> differences;
    for (const ParamGroup group : GroupsOf(record)) {
        const std::vector<GridRow> a = ShownRows(group, before, tables);
        const std::vector<GridRow> b = ShownRows(group, after, tables);
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (a[i].value != b[i].value)
                differences.push_back({group, a[i].CaptionText(), a[i].value, b[i].value});
    }
    if (differences.empty() && EncodeRecord(record, before) != EncodeRecord(record, after))
        differences.push_back({GroupsOf(record).front(), "(other bytes)", "", ""});
    return differences;
}

}  // namespace velmora
