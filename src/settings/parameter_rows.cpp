#include "settings/parameter_rows.h"

#include <functional>
#include <limits>
#include <optional>
#include <set>

#include "base/language.h"
#include "base/text_codec.h"
#include "settings/value_text.h"

namespace velmora {
namespace {

constexpr const char* kMs = "ms";
constexpr const char* kCelsius = "℃";

// Writes into the group's rows, skipping rows the caller did not provide.
class RowWriter {
  public:
    explicit RowWriter(std::span<GridRow> rows) : rows_(rows) {}

    void Text(std::size_t i, std::string value, const char* unit = nullptr) {
        if (GridRow* row = At(i)) {
            row->value = std::move(value);
            row->options.clear();
            row->readOnly = false;
            if (unit) row->unit = unit;
        }
    }
    void List(std::size_t i, std::vector<std::string> options, std::string value) {
        if (GridRow* row = At(i)) {
            row->value = std::move(value);
            row->options = std::move(options);
            row->readOnly = false;
        }
    }
    void ReadOnly(std::size_t i) {
        if (GridRow* row = At(i)) row->readOnly = true;
    }

  private:
    GridRow* At(std::size_t i) { return i < rows_.size() ? &rows_[i] : nullptr; }
    std::span<GridRow> rows_;
};

// The option's text, or the wire value itself where it lies outside the table,
// so the user sees what the splicer holds and nothing indexes past the table.
std::string OptionText(const std::vector<std::string>& options, long wireValue, long origin = 0) {
    return OptionAt(options, wireValue - origin).value_or(std::to_string(wireValue));
}

std::string TimeText(std::uint16_t value, const OptionTables& tables, const char* unit) {
    return value == 0 ? tables.alwaysOnNames.at(0) : std::to_string(value) + unit;
}

// Reads the edited texts of one group. A row counts as edited only when its text
// differs from what the show operation gave for the record's current value. A
// text that cannot be what the user meant is refused, naming its row: an edit of a
// read-only row, and a list row's text that is none of its options.
class EditedTexts {
  public:
    EditedTexts(std::span<const std::string> texts, std::vector<GridRow> shown)
        : texts_(texts), shown_(std::move(shown)) {
        for (std::size_t i = 0; i < shown_.size(); ++i)
            IfEdited(i, [&](const std::string& text) {
                if (std::optional<std::string> refusal = RowRefusal(shown_[i], text)) {
                    Refuse(std::move(*refusal));
                    refusedRows_.insert(i);
                }
            });
    }

    // Calls `apply` with the row's text when the row was edited and may be.
    void IfEdited(std::size_t i, const std::function<void(const std::string&)>& apply) const {
        if (i < texts_.size() && i < shown_.size() && texts_[i] != shown_[i].value &&
            !refusedRows_.contains(i))
            apply(texts_[i]);
    }

    std::string Caption(std::size_t i) const {
        return i < shown_.size() ? shown_[i].caption : std::to_string(i);
    }
    void Refuse(std::string text) const { refusals_.push_back(std::move(text)); }
    const std::vector<std::string>& Refusals() const { return refusals_; }

  private:
    std::span<const std::string> texts_;
    std::vector<GridRow> shown_;
    std::set<std::size_t> refusedRows_;
    mutable std::vector<std::string> refusals_;
};

// The text as the field's number, or nothing (refused, its row named) when it
// is not a number or the field cannot hold it.
template <typename Field>
std::optional<Field> FieldNumber(const EditedTexts& edits, std::size_t i, const std::string& text,
                                 int decimals) {
    const std::optional<std::int64_t> value = ParseNumberText(text, decimals);
    if (!value) {
        edits.Refuse(Say(msg::NotANumber, {edits.Caption(i), text}));
        return std::nullopt;
    }
    constexpr std::int64_t low = std::numeric_limits<Field>::min();
    constexpr std::int64_t high = std::numeric_limits<Field>::max();
    if (*value < low || *value > high) {
        edits.Refuse(Say(msg::OutsideField, {edits.Caption(i), FormatScaled(low, decimals),
                                             FormatScaled(high, decimals)}));
        return std::nullopt;
    }
    return static_cast<Field>(*value);
}

template <typename Field>
void SetOption(const EditedTexts& edits, std::size_t i, const std::vector<std::string>& options,
               Field& field, int origin = 0) {
    edits.IfEdited(i, [&](const std::string& text) {
        if (auto position = MatchOption(options, text))
            field = static_cast<Field>(*position + origin);
    });
}

template <typename Field>
void SetScaled(const EditedTexts& edits, std::size_t i, int decimals, Field& field) {
    edits.IfEdited(i, [&](const std::string& text) {
        if (auto value = FieldNumber<Field>(edits, i, text, decimals)) field = *value;
    });
}

template <typename Field>
void SetWhole(const EditedTexts& edits, std::size_t i, Field& field) {
    SetScaled(edits, i, 0, field);
}

template <std::size_t N>
void SetName(const EditedTexts& edits, std::size_t i, FieldBytes<N>& field) {
    edits.IfEdited(i, [&](const std::string& text) {
        const std::string gbk = Utf8ToGbk(text);
        if (GbkToUtf8(gbk) != text)
            edits.Refuse(Say(msg::NameNotShowable, {edits.Caption(i), text}));
        else if (gbk.size() > N)
            edits.Refuse(Say(msg::NameTooLong, {edits.Caption(i), text, std::to_string(N)}));
        else
            NameToField(text, field);
    });
}

void SetAlwaysOnTime(const EditedTexts& edits, std::size_t i, const OptionTables& tables,
                     std::uint16_t& field) {
    edits.IfEdited(i, [&](const std::string& text) {
        const std::string& alwaysOn = tables.alwaysOnNames.at(0);
        if (MatchOption(std::span(&alwaysOn, 1), text)) {
            field = 0;
            return;
        }
        // "3 min" and "30 s" as the list offers them: the number before the unit.
        const std::size_t unit = text.find_first_of("ms", text.find_first_of("0123456789"));
        const std::string number = unit == std::string::npos ? text : text.substr(0, unit);
        if (auto value = FieldNumber<std::uint16_t>(edits, i, number, 0)) field = *value;
    });
}

struct RangeCheck {
    std::uint16_t SpliceParams::*field;
    std::uint16_t limit;
    const Message* text;
};

const RangeCheck kSpliceChecks[] = {
    {&SpliceParams::cutAngle, 250, &msg::CutAngleRange},
    {&SpliceParams::lossLimit, 250, &msg::LossLimitRange},
    {&SpliceParams::arcTime, 30000, &msg::ArcTimeRange},
    {&SpliceParams::clearArcTime, 3000, &msg::ClearArcRange},
    {&SpliceParams::addArcTime, 30000, &msg::AddArcRange},
    {&SpliceParams::alignSpace, 80, &msg::AlignSpaceRange},
    {&SpliceParams::preTime, 2500, &msg::PreTimeRange},
    {&SpliceParams::overLen, 150, &msg::OverLenRange},
    {&SpliceParams::arc2On, 10000, &msg::Arc2OnRange},
    {&SpliceParams::arc2Off, 10000, &msg::Arc2OffRange},
};

std::vector<std::string> CheckSpliceRanges(const SpliceParams& record) {
    std::vector<std::string> failures;
    for (const RangeCheck& check : kSpliceChecks)
        if (record.*check.field > check.limit) failures.push_back(Say(*check.text));
    return failures;
}

void EncodeSplice(const EditedTexts& e, const OptionTables& t, SpliceParams& r) {
    SetOption(e, 0, t.programNames, r.fiberType, 1);
    SetName(e, 1, r.name1);
    SetName(e, 2, r.name2);
    SetScaled(e, 3, 1, r.cutAngle);
    SetScaled(e, 4, 2, r.lossLimit);
    SetWhole(e, 5, r.arcValue);
    SetWhole(e, 6, r.arcTime);
    SetWhole(e, 7, r.clearArcTime);
    SetWhole(e, 8, r.addArcTime);
    SetOption(e, 9, t.alignModeNames, r.alignType);
    SetWhole(e, 10, r.alignSpace);
    SetWhole(e, 11, r.arcLine);
    SetWhole(e, 12, r.preArc);
    SetWhole(e, 13, r.preTime);
    SetWhole(e, 14, r.overLen);
    SetWhole(e, 15, r.arc2Power);
    SetWhole(e, 16, r.arc2Time);
    SetWhole(e, 17, r.arc2On);
    SetWhole(e, 18, r.arc2Off);
    SetOption(e, 19, t.onOffNames, r.pullingTest);
}

void EncodeHeater(const EditedTexts& e, const OptionTables& t, HeaterParams& r) {
    SetOption(e, 0, t.heaterNames, r.heatType, 1);
    SetName(e, 1, r.name1);
    SetName(e, 2, r.name2);
    SetWhole(e, 3, r.time);
    SetScaled(e, 4, 0, r.temperature);
    SetScaled(e, 5, 0, r.endTemperature);
}

void EncodeFsConfig(const EditedTexts& e, const OptionTables& t, DeviceConfig& r) {
    SetOption(e, 0, t.programNames, r.fsMode);
    SetOption(e, 1, t.heaterNames, r.htMode, 1);
    SetOption(e, 2, t.offOnNames, r.autostart);
    SetOption(e, 3, t.offOnNames, r.pause1En);
    SetOption(e, 4, t.offOnNames, r.pause2En);
    SetOption(e, 5, t.disableEnableNames, r.angle);
    SetOption(e, 6, t.disableEnableNames, r.loss);
    SetOption(e, 7, t.disableEnableNames, r.bubble);
    SetOption(e, 8, t.disableEnableNames, r.wide);
    SetOption(e, 9, t.disableEnableNames, r.thin);
    SetOption(e, 10, t.disableEnableNames, r.autopush);
    SetWhole(e, 11, r.addArcs);
}

void EncodeSystem(const EditedTexts& e, const OptionTables& t, DeviceConfig& r) {
    // Row 0, the serial number, is never written.
    SetOption(e, 1, t.languageNames, r.language);
    SetOption(e, 2, t.lcdDirNames, r.lcdDir);
    SetWhole(e, 3, r.lcdBright);
    SetOption(e, 4, t.offOnNames, r.beep);
    SetOption(e, 5, t.offOnNames, r.lamp);
    SetOption(e, 6, t.offOnNames, r.fan);
    SetOption(e, 7, t.baudNames, r.baudRate);
    SetAlwaysOnTime(e, 8, t, r.sysTime);
    SetAlwaysOnTime(e, 9, t, r.lcdTime);
}

// The caption keys of the group's rows, in row order.
std::span<const TextKey> RowKeys(ParamGroup group) {
    switch (group) {
        case ParamGroup::Splice:
            return keys::SpliceRows;
        case ParamGroup::Heating:
            return keys::HeaterRows;
        case ParamGroup::Environment:
            return keys::EnvironmentRows;
        case ParamGroup::FsConfig:
            return keys::FsConfigRows;
        case ParamGroup::System:
            return keys::SystemRows;
    }
    return {};
}

}  // namespace

std::optional<std::string> RowRefusal(const GridRow& row, const std::string& text) {
    if (row.readOnly) return Say(msg::RowReadOnly, {row.caption});
    if (!row.IsList() || MatchOption(row.options, text)) return std::nullopt;
    std::string options;
    for (const std::string& option : row.options) options += (options.empty() ? "" : ", ") + option;
    return Say(msg::NotAnOption, {row.caption, text, options});
}

std::string GridRow::CaptionText() const {
    return unit.empty() ? caption : caption + "(" + unit + ")";
}

std::vector<ParamRow> BuildParamRows() {
    std::vector<ParamRow> rows;
    for (const ParamGroup group : kParamGroups)
        for (const TextKey& key : RowKeys(group)) rows.push_back({group, Text(key), {}});
    return rows;
}

std::string GroupCaption(ParamGroup group) {
    return Text(keys::GroupNames.at(static_cast<std::size_t>(group)));
}

std::vector<GridRow> BuildGroupRows(std::span<const ParamRow> paramRows, ParamGroup group) {
    std::vector<GridRow> rows;
    for (const ParamRow& row : paramRows)
        if (row.group == group) rows.push_back({row.caption, {}, row.value, {}, false});
    return rows;
}

void ShowSpliceParams(const SpliceParams& r, const OptionTables& t, std::span<GridRow> rows) {
    RowWriter w(rows);
    w.List(0, t.programNames, OptionText(t.programNames, r.fiberType, 1));
    w.Text(1, NameFromField(r.name1));
    w.Text(2, NameFromField(r.name2));
    w.Text(3, FormatScaled(r.cutAngle, 1));
    // Two decimals, so that an unchanged value is written back as it was read.
    w.Text(4, FormatScaled(r.lossLimit, 2));
    w.Text(5, std::to_string(r.arcValue));
    w.Text(6, std::to_string(r.arcTime), kMs);
    w.Text(7, std::to_string(r.clearArcTime), kMs);
    w.Text(8, std::to_string(r.addArcTime), kMs);
    w.List(9, t.alignModeNames, OptionText(t.alignModeNames, r.alignType));
    w.Text(10, std::to_string(r.alignSpace));
    w.Text(11, std::to_string(r.arcLine));
    w.Text(12, std::to_string(r.preArc));
    w.Text(13, std::to_string(r.preTime), kMs);
    w.Text(14, std::to_string(r.overLen));
    w.Text(15, std::to_string(r.arc2Power));
    w.Text(16, std::to_string(r.arc2Time), kMs);
    w.Text(17, std::to_string(r.arc2On), kMs);
    w.Text(18, std::to_string(r.arc2Off), kMs);
    w.List(19, t.onOffNames, OptionText(t.onOffNames, r.pullingTest));
}

void ShowHeaterParams(const HeaterParams& r, const OptionTables& t, std::span<GridRow> rows) {
    RowWriter w(rows);
    w.List(0, t.heaterNames, r.heatType == 0 ? "" : OptionText(t.heaterNames, r.heatType, 1));
    w.Text(1, NameFromField(r.name1));
    w.Text(2, NameFromField(r.name2));
    w.Text(3, std::to_string(r.time), "s");
    w.Text(4, FormatScaled(r.temperature * 10, 1), kCelsius);
    w.Text(5, FormatScaled(r.endTemperature * 10, 1), kCelsius);
}

void ShowEnvironmentInfo(const EnvironmentInfo& r, std::span<GridRow> rows) {
    RowWriter w(rows);
    w.Text(0, TimeStampText(r.year, r.month, r.day, r.hour, r.minute, r.second));
    w.Text(1, FormatScaled(r.insideTemperature, 1), kCelsius);
    w.Text(2, std::to_string(r.airPressure), "Pa");
    w.Text(3, FormatScaled(r.voltage, 1), "V");
    for (std::size_t i = 0; i < 4; ++i) w.ReadOnly(i);
}

void ShowConfigParams(const DeviceConfig& r, ParamGroup part, const OptionTables& t,
                      std::span<GridRow> rows) {
    RowWriter w(rows);
    if (part == ParamGroup::FsConfig) {
        w.List(0, t.programNames, OptionText(t.programNames, r.fsMode));
        w.List(1, t.heaterNames, OptionText(t.heaterNames, r.htMode, 1));
        const std::uint8_t offOn[] = {r.autostart, r.pause1En, r.pause2En};
        for (std::size_t i = 0; i < 3; ++i)
            w.List(2 + i, t.offOnNames, OptionText(t.offOnNames, offOn[i]));
        const std::uint8_t enables[] = {r.angle, r.loss, r.bubble, r.wide, r.thin, r.autopush};
        for (std::size_t i = 0; i < 6; ++i)
            w.List(5 + i, t.disableEnableNames, OptionText(t.disableEnableNames, enables[i]));
        w.List(11, t.arcCountNames, std::to_string(r.addArcs));
        return;
    }
    w.Text(0, NameFromField(r.serialNum));
    w.ReadOnly(0);
    w.List(1, t.languageNames, OptionText(t.languageNames, r.language));
    w.List(2, t.lcdDirNames, OptionText(t.lcdDirNames, r.lcdDir));
    w.List(3, t.brightnessNames, std::to_string(r.lcdBright));
    const std::uint8_t offOn[] = {r.beep, r.lamp, r.fan};
    for (std::size_t i = 0; i < 3; ++i)
        w.List(4 + i, t.offOnNames, OptionText(t.offOnNames, offOn[i]));
    w.List(7, t.baudNames, OptionText(t.baudNames, r.baudRate));
    w.List(8, SysTimeOptions(t), TimeText(r.sysTime, t, " min"));
    w.List(9, LcdTimeOptions(t), TimeText(r.lcdTime, t, " s"));
}

std::vector<GridRow> ShownRows(ParamGroup group, const ParameterRecords& records,
                               const OptionTables& tables) {
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group);
    ShowGroup(group, records, tables, rows);
    return rows;
}

void ShowGroup(ParamGroup group, const ParameterRecords& records, const OptionTables& tables,
               std::span<GridRow> rows) {
    switch (group) {
        case ParamGroup::Splice:
            ShowSpliceParams(records.splice, tables, rows);
            break;
        case ParamGroup::Heating:
            ShowHeaterParams(records.heater, tables, rows);
            break;
        case ParamGroup::Environment:
            ShowEnvironmentInfo(records.environment, rows);
            break;
        case ParamGroup::FsConfig:
            ShowConfigParams(records.config, ParamGroup::FsConfig, tables, rows);
            break;
        case ParamGroup::System:
            ShowConfigParams(records.config, ParamGroup::System, tables, rows);
            break;
    }
}

std::vector<std::string> ValidateAndEncode(ParamGroup group, std::span<const std::string> texts,
                                           const OptionTables& tables, ParameterRecords& records) {
    const EditedTexts edits(texts, ShownRows(group, records, tables));
    ParameterRecords encoded = records;
    std::vector<std::string> failures;
    switch (group) {
        case ParamGroup::Splice:
            EncodeSplice(edits, tables, encoded.splice);
            failures = CheckSpliceRanges(encoded.splice);
            break;
        case ParamGroup::Heating:
            EncodeHeater(edits, tables, encoded.heater);
            break;
        case ParamGroup::FsConfig:
            EncodeFsConfig(edits, tables, encoded.config);
            break;
        case ParamGroup::System:
            EncodeSystem(edits, tables, encoded.config);
            break;
        case ParamGroup::Environment:
            break;  // never written: its rows are all read-only
    }
    failures.insert(failures.begin(), edits.Refusals().begin(), edits.Refusals().end());
    if (failures.empty()) records = encoded;
    return failures;
}

}  // namespace velmora
