#pragma once
// How the parameter groups become rows of caption and value texts, and how the
// edited texts go back into the records with their range checks. Pure functions
// over texts; the grid widget and the command-line tool only present the rows.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/messages.h"
#include "settings/option_tables.h"
#include "settings/parameter_records.h"

namespace velmora {

// One row of the page, as made once at start-up.
struct ParamRow {
    ParamGroup group = ParamGroup::Splice;
    std::string caption;  // from the language file, or the English default
    std::string value;    // always empty
};

// One row of the grid as shown.
struct GridRow {
    std::string caption;  // without unit
    std::string unit;     // shown after the caption once a value is shown
    std::string value;
    std::vector<std::string> options;  // not empty: a drop-down list of these texts
    bool readOnly = false;

    bool IsList() const { return !options.empty(); }
    // "ARC Time(ms)" when a unit is set, else the caption alone.
    std::string CaptionText() const;
};

// All 52 rows in group order, captions looked up in section "TAB0".
std::vector<ParamRow> BuildParamRows();

// The rows of `group`: captions only, no values.
std::vector<GridRow> BuildGroupRows(std::span<const ParamRow> paramRows, ParamGroup group);
// The same with the captions looked up anew, and with the rows shown for `records`.
std::vector<GridRow> ShownRows(ParamGroup group, const ParameterRecords& records,
                               const OptionTables& tables);

// Show operations: set each row's value text, unit, options and read-only state.
// `rows` are the group's rows from BuildGroupRows; missing rows are skipped.
void ShowSpliceParams(const SpliceParams& record, const OptionTables& tables,
                      std::span<GridRow> rows);
void ShowHeaterParams(const HeaterParams& record, const OptionTables& tables,
                      std::span<GridRow> rows);
void ShowEnvironmentInfo(const EnvironmentInfo& record, std::span<GridRow> rows);
// `part` is FsConfig or System: the two groups that show the configuration record.
void ShowConfigParams(const DeviceConfig& record, ParamGroup part, const OptionTables& tables,
                      std::span<GridRow> rows);
// The show operation of `group`.
void ShowGroup(ParamGroup group, const ParameterRecords& records, const OptionTables& tables,
               std::span<GridRow> rows);

// The caption of the group in the group list ("Splice", ...) and its row caption keys.
std::string GroupCaption(ParamGroup group);

// Range check texts of the splice group.
namespace msg {
inline constexpr Message CutAngleRange{"切割限度输入错误,范围0—25",
                                       "Cutting Limit input error,range is 0—25"};
inline constexpr Message LossLimitRange{"损耗限定输入错误,范围0—2.5",
                                        "Loss Limit input error,range is 0—2.5"};
inline constexpr Message ArcTimeRange{"放电时间输入错误,范围0ms—30000ms",
                                      "ARC Time input error,range is 0ms—30000ms"};
inline constexpr Message ClearArcRange{"清洁放电输入错误,范围0ms—3000ms",
                                       "Clean ARC input error,range is 0ms—3000ms"};
inline constexpr Message AddArcRange{"再放电时间输入错误,范围0ms—30000ms",
                                     "ReARC Time input error,range is 0ms—30000ms "};
inline constexpr Message AlignSpaceRange{"端面间隔输入错误,范围0—80",
                                         "Cleave Interval input error,range is 0—80 "};
inline constexpr Message PreTimeRange{"预放电时间输入错误,范围0—2500ms",
                                      "Prev Time input error,range is 0ms—2500ms "};
inline constexpr Message OverLenRange{"重叠量输入错误,范围0—150",
                                      "Overlap input error,range is 0—150 "};
inline constexpr Message Arc2OnRange{"放电2的脉冲开输入错误,范围0ms—10000ms",
                                     "Arc2On input error,range is 0ms—10000ms "};
inline constexpr Message Arc2OffRange{"放电2的脉冲关输入错误,范围0ms—10000ms",
                                      "Arc2Off input error,range is 0ms—10000ms "};
// Texts that cannot be what the user meant: refused, naming the row.
inline constexpr Message NotANumber{"%s：“%s”不是有效的数值", "%s: '%s' is not a number"};
inline constexpr Message OutsideField{"%s：超出可保存的范围 %s—%s",
                                      "%s: outside what it can hold, %s to %s"};
inline constexpr Message NameTooLong{"%s：“%s”超过 %s 字节", "%s: '%s' is longer than %s bytes"};
inline constexpr Message NameNotShowable{"%s：“%s”含有熔接机无法显示的字符",
                                         "%s: '%s' has characters the splicer cannot show"};
inline constexpr Message NotAnOption{"%s：“%s”不是可选值之一（%s）", "%s: '%s' is not one of: %s"};
inline constexpr Message RowReadOnly{"%s：只读，不能写入", "%s: read-only, never written"};
}  // namespace msg

// Why `text` can never go into `row` whatever its record holds: the row is
// read-only, or it is a list row and the text is none of its options. Nothing
// when it may (its own checks follow in ValidateAndEncode).
std::optional<std::string> RowRefusal(const GridRow& row, const std::string& text);

// Turns the value texts of `group` (row order) into its record's fields and runs
// the range checks. Every value that reaches a splicer passes here: the grid's
// Accept, velmora-cli's write and a restore. A text that is not a number, does not
// fit its field, is not one of a list row's options, is a name longer than its
// field (in GBK bytes) or with characters the splicer cannot show, or changes a
// read-only row, is refused with a message naming its row. Returns one message
// text per refusal and per failing check, in row and check order; the record
// changes only when there are none. A text equal to what the show operation gives
// for the record's current value leaves that field exactly as it was read (names
// with bytes after their NUL, values outside their table).
std::vector<std::string> ValidateAndEncode(ParamGroup group, std::span<const std::string> texts,
                                           const OptionTables& tables, ParameterRecords& records);

}  // namespace velmora
