#include "settings/parameter_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "base/text_codec.h"
#include "settings/value_text.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using test::ScopedConfig;

std::vector<GridRow> Shown(ParamGroup group, const ParameterRecords& records, int englishFlag = 1) {
    AppConfig config;
    config.EnglishFlag = englishFlag;
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group);
    ShowGroup(group, records, OptionTablesFor(config), rows);
    return rows;
}

std::vector<std::string> Values(const std::vector<GridRow>& rows) {
    std::vector<std::string> texts;
    for (const GridRow& row : rows) texts.push_back(row.value);
    return texts;
}

// What each field shows, with the edge values of the wire.
TEST(ParameterRows, ShowTexts) {
    using Set = std::function<void(ParameterRecords&)>;
    const struct {
        const char* what;
        int englishFlag;
        int group;
        Set set;
        std::size_t row;
        std::string text;
    } cases[] = {
        {"Fiber Type 1", 1, 0, [](auto& r) { r.splice.fiberType = 1; }, 0, "AUTO"},
        {"Fiber Type 0 outside", 1, 0, [](auto& r) { r.splice.fiberType = 0; }, 0, "0"},
        {"Name1 fills its field", 1, 0,
         [](auto& r) { std::memcpy(r.splice.name1.data(), "ABCDEFGHIJ", 10); }, 1, "ABCDEFGHIJ"},
        {"Name2 stops at NUL", 1, 0,
         [](auto& r) { std::memcpy(r.splice.name2.data(), "AB\0CD", 5); }, 2, "AB"},
        {"Cut Angle", 1, 0, [](auto& r) { r.splice.cutAngle = 23; }, 3, "2.3"},
        {"Loss Limit two decimals", 1, 0, [](auto& r) { r.splice.lossLimit = 230; }, 4, "2.30"},
        {"ArcLine FF FF", 1, 0, [](auto& r) { r.splice.arcLine = -1; }, 11, "-1"},
        {"AlineType Chinese", 0, 0, [](auto& r) { r.splice.alignType = 0; }, 9, "包层"},
        {"PullingTest 0", 1, 0, [](auto& r) { r.splice.pullingTest = 0; }, 19, "On"},
        {"Heat Type 0", 1, 1, [](auto& r) { r.heater.heatType = 0; }, 0, ""},
        {"Time stamp", 1, 2, [](auto& r) { r.environment = {24, 3, 5, 9, 7, 0}; }, 0,
         "2024-03-05 09:07:00"},
        {"Inside Temperature below 0", 1, 2, [](auto& r) { r.environment.insideTemperature = -5; },
         1, "-0.5"},
        {"FsMode 0", 1, 3, [](auto& r) { r.config.fsMode = 0; }, 0, "AUTO"},
        {"HtMode 0 outside", 1, 3, [](auto& r) { r.config.htMode = 0; }, 1, "0"},
        {"SysTime 0", 1, 4, [](auto& r) { r.config.sysTime = 0; }, 8, "Alaways On"},
        {"SysTime 7 not an option", 1, 4, [](auto& r) { r.config.sysTime = 7; }, 8, "7 min"},
    };
    for (const auto& c : cases) {
        ParameterRecords records;
        c.set(records);
        const auto rows = Shown(*GroupAt(c.group), records, c.englishFlag);
        ASSERT_LT(c.row, rows.size()) << c.what;
        EXPECT_EQ(rows[c.row].value, c.text) << c.what;
    }
}

// Units appear once, however often a group is shown; the time lists end at 30 min and 300 s.
TEST(ParameterRows, UnitsAndTimeLists) {
    ParameterRecords records;
    const auto system = Shown(ParamGroup::System, records);
    EXPECT_EQ(system[8].options.back(), "30 min");
    EXPECT_EQ(system[9].options.back(), "300 s");
    auto splice = Shown(ParamGroup::Splice, records);
    ShowGroup(ParamGroup::Splice, records, OptionTablesFor(AppConfig{}), splice);
    EXPECT_EQ(splice[6].CaptionText(), "ARC Time(ms)");
    EXPECT_EQ(splice[5].CaptionText(), "ARC Value");
}

// The splice group's conversions and range checks.
TEST(ValidateAndEncode, SpliceTextsAndRanges) {
    ScopedConfig english(1);
    const struct {
        std::vector<std::pair<std::size_t, std::string>> edits;
        std::function<bool(const SpliceParams&)> stored;  // checked when no failures expected
        std::vector<std::string> failures;
    } cases[] = {
        {{{3, "2.3"}}, [](auto& s) { return s.cutAngle == 23; }, {}},
        {{{3, "25"}}, [](auto& s) { return s.cutAngle == 250; }, {}},
        {{{3, "25.1"}}, nullptr, {"Cutting Limit input error,range is 0—25"}},
        {{{4, "0.255"}}, [](auto& s) { return s.lossLimit == 25; }, {}},
        {{{4, "2.51"}}, nullptr, {"Loss Limit input error,range is 0—2.5"}},
        // Text that cannot be what the user meant is refused, naming its row.
        {{{6, "abc"}}, nullptr, {"ARC Time: 'abc' is not a number"}},
        {{{3, "2,5"}}, nullptr, {"Cut Angle: '2,5' is not a number"}},
        {{{5, ""}}, nullptr, {"ARC Value: '' is not a number"}},
        {{{6, "-1"}}, nullptr, {"ARC Time: outside what it can hold, 0 to 65535"}},
        {{{6, "70000"}}, nullptr, {"ARC Time: outside what it can hold, 0 to 65535"}},
        {{{11, "40000"}}, nullptr, {"ArcLine: outside what it can hold, -32768 to 32767"}},
        {{{6, " 700 "}}, [](auto& s) { return s.arcTime == 700; }, {}},
        {{{11, "-1"}}, [](auto& s) { return s.arcLine == -1; }, {}},
        {{{0, "sm auto"}, {9, "MANUAL"}, {19, "off"}},
         [](auto& s) { return s.fiberType == 2 && s.alignType == 2 && s.pullingTest == 1; },
         {}},
        {{{0, "no such fibre"}},
         nullptr,
         {"Fiber Type: 'no such fibre' is not one of: AUTO, SM AUTO, MM AUTO, NZ AUTO, DS AUTO, "
          "SM, NZ, DS, MM"}},
        {{{7, "3001"}, {14, "151"}, {18, "10001"}},
         nullptr,
         {"Clean ARC input error,range is 0ms—3000ms", "Overlap input error,range is 0—150 ",
          "Arc2Off input error,range is 0ms—10000ms "}},
        // Every checked row at its largest value is kept; one more is refused.
        {{{3, "25"},
          {4, "2.5"},
          {6, "30000"},
          {7, "3000"},
          {8, "30000"},
          {10, "80"},
          {13, "2500"},
          {14, "150"},
          {17, "10000"},
          {18, "10000"}},
         [](auto& s) {
             return s.cutAngle == 250 && s.lossLimit == 250 && s.arcTime == 30000 &&
                    s.clearArcTime == 3000 && s.addArcTime == 30000 && s.alignSpace == 80 &&
                    s.preTime == 2500 && s.overLen == 150 && s.arc2On == 10000 &&
                    s.arc2Off == 10000;
         },
         {}},
        {{{6, "30001"}, {8, "30001"}, {10, "81"}, {13, "2501"}, {17, "10001"}},
         nullptr,
         {"ARC Time input error,range is 0ms—30000ms",
          "ReARC Time input error,range is 0ms—30000ms ",
          "Cleave Interval input error,range is 0—80 ",
          "Prev Time input error,range is 0ms—2500ms ",
          "Arc2On input error,range is 0ms—10000ms "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edits[0].second);
        ParameterRecords records;
        records.splice.fiberType = 3;
        const auto before = EncodeSpliceParams(records.splice);
        std::vector<std::string> texts = Values(Shown(ParamGroup::Splice, records));
        for (const auto& [row, text] : c.edits) texts[row] = text;
        EXPECT_EQ(ValidateAndEncode(ParamGroup::Splice, texts, OptionTablesFor(Config()), records),
                  c.failures);
        if (c.failures.empty())
            EXPECT_TRUE(c.stored(records.splice));
        else  // a failed check changes nothing
            EXPECT_EQ(EncodeSpliceParams(records.splice), before);
    }
}

TEST(ValidateAndEncode, OtherGroupsInChinese) {
    ScopedConfig chinese(0);
    const OptionTables tables = OptionTablesFor(Config());
    ParameterRecords records;
    auto texts = Values(Shown(ParamGroup::Heating, records, 0));
    texts[0] = "60MMps", texts[4] = "180.9";
    EXPECT_TRUE(ValidateAndEncode(ParamGroup::Heating, texts, tables, records).empty());
    EXPECT_EQ(records.heater.heatType, 5);
    EXPECT_EQ(records.heater.temperature, 180);

    records.config.sysTime = 9;
    texts = Values(Shown(ParamGroup::System, records, 0));
    texts[8] = "不关闭", texts[9] = "120 s";
    // The serial number is never written: a change of it is refused, and so is
    // a list row's text that is none of its options.
    for (auto [row, text] : {std::pair{0, "changed"}, std::pair{9, "121 s"}}) {
        auto refused = texts;
        refused[static_cast<std::size_t>(row)] = text;
        EXPECT_EQ(ValidateAndEncode(ParamGroup::System, refused, tables, records).size(), 1u);
        EXPECT_EQ(records.config.sysTime, 9) << "a refusal changes nothing";
    }
    EXPECT_TRUE(ValidateAndEncode(ParamGroup::System, texts, tables, records).empty());
    EXPECT_EQ(records.config.sysTime, 0);
    EXPECT_EQ(records.config.lcdTime, 120);
    EXPECT_EQ(records.config.serialNum[0], 0);
}

// An unchanged group is written back exactly as it was read, whatever it held:
// values outside their tables, bytes after a name's NUL, undecodable name bytes.
TEST(ValidateAndEncode, UnchangedGroupsKeepEveryByte) {
    ScopedConfig english(1);
    const OptionTables tables = OptionTablesFor(Config());
    std::mt19937 gen(7);
    for (int round = 0; round < 20; ++round) {
        std::array<std::uint8_t, 84> raw;
        for (auto& b : raw) b = static_cast<std::uint8_t>(gen());
        ParameterRecords records;
        records.splice = DecodeSpliceParams(raw);
        records.heater = DecodeHeaterParams(std::span(raw).first<kHeaterParamsSize>());
        records.config = DecodeDeviceConfig(std::span(raw).first<kDeviceConfigSize>());
        // Within range, so that the splice group passes its checks.
        SpliceParams& s = records.splice;
        s.cutAngle %= 251, s.lossLimit %= 251, s.arcTime %= 30001, s.clearArcTime %= 3001;
        s.addArcTime %= 30001, s.alignSpace %= 81, s.preTime %= 2501, s.overLen %= 151;
        s.arc2On %= 10001, s.arc2Off %= 10001;
        const ParameterRecords before = records;
        for (const ParamGroup g : kParamGroups) {
            EXPECT_TRUE(ValidateAndEncode(g, Values(Shown(g, records)), tables, records).empty());
            EXPECT_EQ(EncodeRecord(RecordOf(g), records), EncodeRecord(RecordOf(g), before))
                << InfoOf(g).name << " round " << round;
        }
    }
}

// Names go out in GBK; one longer than its field is refused, not cut.
TEST(ValidateAndEncode, NamesInGbkMustFitTheirField) {
    ScopedConfig english(1);
    const struct {
        std::string text;
        std::string gbk;  // what the 10-byte Name1 field holds, up to its NULs
        std::string refusal;
    } cases[] = {
        {"ABCDEFGHIJ", "ABCDEFGHIJ", ""},
        {"熔接机程序", Utf8ToGbk("熔接机程序"), ""},
        {"", "", ""},
        {"ABCDEFGHIJK", "", "Name1: 'ABCDEFGHIJK' is longer than 10 bytes"},
        {"A中文字体五", "", "Name1: 'A中文字体五' is longer than 10 bytes"},
        {"Ω€😀", "", "Name1: 'Ω€😀' has characters the splicer cannot show"},
    };
    for (const auto& c : cases) {
        ParameterRecords records;
        records.splice.name1.fill('x');
        auto texts = Values(Shown(ParamGroup::Splice, records));
        texts[1] = c.text;
        const auto failures =
            ValidateAndEncode(ParamGroup::Splice, texts, OptionTablesFor(Config()), records);
        if (!c.refusal.empty()) {
            EXPECT_EQ(failures, std::vector<std::string>{c.refusal});
            EXPECT_EQ(records.splice.name1[0], 'x') << "a refused name changes nothing";
            continue;
        }
        ASSERT_TRUE(failures.empty()) << c.text;
        std::string expected = c.gbk;
        expected.resize(10, '\0');
        EXPECT_EQ(std::string(records.splice.name1.begin(), records.splice.name1.end()), expected)
            << c.text;
        EXPECT_EQ(NameFromField(records.splice.name1), GbkToUtf8(c.gbk));
    }
}

TEST(ValueText, DecimalsAreConvertedInDecimalDigits) {
    const struct {
        const char* text;
        int decimals;
        std::uint32_t value;
    } cases[] = {
        {"2.3", 1, 23},     {"25.1", 1, 251},     {"2.30", 2, 230},     {"0.29", 2, 29},
        {"  1.5x", 1, 15},  {".5", 1, 5},         {"7.", 1, 70},        {"+3", 2, 300},
        {"-1", 1, 0u - 10}, {"abc", 1, 0},        {"1.999", 2, 199},    {"150.0", 0, 150},
        {"", 2, 0},         {"-0.05", 2, 0u - 5}, {"4294967296", 0, 0}, {"65535", 0, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseScaledDecimal(c.text, c.decimals), c.value) << c.text;
        // What is shown reads back as the same value.
        if (c.value < 100000) {
            EXPECT_EQ(ParseScaledDecimal(FormatScaled(c.value, c.decimals), c.decimals), c.value);
        }
    }
    EXPECT_EQ(FormatScaled(5, 2), "0.05");
    EXPECT_EQ(FormatScaled(-5, 1), "-0.5");
    EXPECT_EQ(FormatScaled(INT64_MIN, 0), "-9223372036854775808");
}

}  // namespace
}  // namespace velmora
