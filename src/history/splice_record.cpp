#include "history/splice_record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "base/time_text.h"
#include "settings/option_tables.h"

namespace velmora {
namespace {

struct Names {
    const char* english;
    const char* chinese;
};

constexpr std::array<Names, 2> kResultNames{{{"Success", "成功"}, {"Failure", "失败"}}};
constexpr std::array<Names, 3> kAlignNames{
    {{"Covering", "包层"}, {"Core", "纤芯"}, {"Manual", "手动"}}};

std::string Pick(const Names& names, TableLanguage language) {
    return language == TableLanguage::English ? names.english : names.chinese;
}

// What a value outside its table shows: recognisable, and never a read past the table.
std::string UnknownText(int value, TableLanguage language) {
    const char* word = language == TableLanguage::English ? "Unknown" : "未知";
    return std::string(word) + "(" + std::to_string(value) + ")";
}

template <std::size_t N>
std::string FromTable(const std::array<Names, N>& table, int index, TableLanguage language) {
    if (index < 0 || index >= static_cast<int>(N)) return UnknownText(index, language);
    return Pick(table[static_cast<std::size_t>(index)], language);
}

// The Setting page's program names, the same in both languages.
const std::vector<std::string>& ProgramNames() {
    static const std::vector<std::string> names = ChineseOptionTables().programNames;
    return names;
}

std::string ProgramName(int index, TableLanguage language) {
    std::optional<std::string> name = OptionAt(ProgramNames(), index);
    return name ? *name : UnknownText(index, language);
}

std::string Fixed(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

TableLanguage TableLanguageFor(int englishFlag) {
    return englishFlag == 1 ? TableLanguage::English : TableLanguage::Chinese;
}

SpliceRecord SpliceRecord::FromFrame(std::span<const std::uint8_t> frame) {
    SpliceRecord record;
    std::copy_n(frame.subspan(kRecordOffsetInFrame, kRecordSize).begin(), kRecordSize,
                record.bytes.begin());
    return record;
}

bool HasRealTime(const SpliceRecord& r) {
    using namespace std::chrono;
    const year_month_day date{year{2000 + r.yearOffset()}, month{static_cast<unsigned>(r.month())},
                              day{static_cast<unsigned>(r.day())}};
    return date.ok() && r.hour() < 24 && r.minute() < 60 && r.second() < 60;
}

std::string TimeText(const SpliceRecord& r) {
    return TimeStampText(r.yearOffset(), r.month(), r.day(), r.hour(), r.minute(), r.second());
}

std::string ResultListText(const SpliceRecord& r, TableLanguage language) {
    return FromTable(kResultNames, r.result(), language);
}

std::string ResultCsvText(const SpliceRecord& r, TableLanguage language) {
    return Pick(kResultNames[r.result() == 0 ? 0 : 1], language);
}

std::string LossText(const SpliceRecord& r) {
    return Fixed(r.loss() / 100.0, "%.2f");
}

std::string AngleText(int tenths) {
    return Fixed(tenths / 10.0, "%.1f");
}

std::string FiberTypeText(const SpliceRecord& r, TableLanguage language) {
    return ProgramName(r.fiberType(), language);
}

std::string SpliceModeText(const SpliceRecord& r, TableLanguage language) {
    return ProgramName(r.spliceMode() - 1, language);
}

std::string AlignText(const SpliceRecord& r, TableLanguage language) {
    return FromTable(kAlignNames, r.alignType(), language);
}

std::string NumberText(int value) {
    return std::to_string(value);
}

std::string MillisecondText(int value) {
    return std::to_string(value) + " ms";
}

std::array<std::string, kDetailRowCount> DetailTexts(const SpliceRecord& r,
                                                     TableLanguage language) {
    return {TimeText(r),
            ResultListText(r, language),
            LossText(r),
            SpliceModeText(r, language),
            AlignText(r, language),
            NumberText(r.alignSpace()),
            NumberText(r.arcLine()),
            NumberText(r.prefuseArcData()),
            MillisecondText(r.prefuseArcTime()),
            NumberText(r.arcData()),
            MillisecondText(r.arcTime()),
            NumberText(r.overLength()),
            FiberTypeText(r, language),
            AngleText(r.lfAngle()),
            AngleText(r.rfAngle())};
}

IndexRow MakeIndexRow(const RecordStore& store, std::size_t position) {
    return {position, std::to_string(position + 1), TimeText(store.at(position))};
}

std::vector<IndexRow> IndexRows(const RecordStore& store) {
    std::vector<IndexRow> rows;
    rows.reserve(store.size());
    for (std::size_t k = 0; k < store.size(); ++k) rows.push_back(MakeIndexRow(store, k));
    return rows;
}

}  // namespace velmora
