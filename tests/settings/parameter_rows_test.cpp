#include "settings/parameter_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "app/text_codec.h"
#include "settings/value_text.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using test::ScopedConfig;

std::vector<GridRow> Shown(int group, const ParameterRecords& records, int englishFlag) {
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

TEST(ParameterRows, FiftyTwoRowsInFiveGroups) {
    ScopedConfig english(1);
    const std::vector<ParamRow> all = BuildParamRows();
    ASSERT_EQ(all.size(), 52u);
    const std::size_t counts[] = {20, 6, 4, 12, 10};
    for (int g = 0; g < kGroupCount; ++g) {
        const auto rows = BuildGroupRows(all, g);
        EXPECT_EQ(rows.size(), counts[g]) << g;
        EXPECT_EQ(static_cast<int>(rows.size()), WireOfGroup(g)->rowCount) << g;
        for (const GridRow& row : rows) EXPECT_TRUE(row.value.empty());
    }
    EXPECT_TRUE(BuildGroupRows(all, 5).empty());
    EXPECT_EQ(BuildGroupRows(all, 4)[0].caption, "Serial Num");
}

// What each field shows, with the edge values of the wire.
TEST(ParameterRows, ShowTexts) {
    struct Case {
        const char* what;
        int englishFlag;
        int group;
        std::function<void(ParameterRecords&)> set;
        std::size_t row;
        std::string text;
    };
    const Case cases[] = {
        {"Fiber Type 1", 1, 0, [](auto& r) { r.splice.fiberType = 1; }, 0, "AUTO"},
        {"Fiber Type 0 outside", 1, 0, [](auto& r) { r.splice.fiberType = 0; }, 0, "0"},
        {"Fiber Type 10 outside", 1, 0, [](auto& r) { r.splice.fiberType = 10; }, 0, "10"},
        {"Name1 fills its field", 1, 0,
         [](auto& r) { std::memcpy(r.splice.name1.data(), "ABCDEFGHIJ", 10); }, 1, "ABCDEFGHIJ"},
        {"Name2 stops at NUL", 1, 0,
         [](auto& r) { std::memcpy(r.splice.name2.data(), "AB\0CD", 5); }, 2, "AB"},
        {"Cut Angle", 1, 0, [](auto& r) { r.splice.cutAngle = 23; }, 3, "2.3"},
        {"Loss Limit two decimals", 1, 0, [](auto& r) { r.splice.lossLimit = 230; }, 4, "2.30"},
        {"Loss Limit small", 1, 0, [](auto& r) { r.splice.lossLimit = 26; }, 4, "0.26"},
        {"ArcLine FF FF", 1, 0, [](auto& r) { r.splice.arcLine = -1; }, 11, "-1"},
        {"AlineType Chinese", 0, 0, [](auto& r) { r.splice.alignType = 0; }, 9, "包层"},
        {"AlineType 3 outside", 1, 0, [](auto& r) { r.splice.alignType = 3; }, 9, "3"},
        {"PullingTest 0", 1, 0, [](auto& r) { r.splice.pullingTest = 0; }, 19, "On"},
        {"PullingTest 1", 1, 0, [](auto& r) { r.splice.pullingTest = 1; }, 19, "Off"},
        {"PullingTest 0 Chinese", 0, 0, [](auto& r) { r.splice.pullingTest = 0; }, 19, "开"},
        {"Heat Type 0", 1, 1, [](auto& r) { r.heater.heatType = 0; }, 0, ""},
        {"Heat Type 5", 1, 1, [](auto& r) { r.heater.heatType = 5; }, 0, "60mmPS"},
        {"Heat Type 9 outside", 1, 1, [](auto& r) { r.heater.heatType = 9; }, 0, "9"},
        {"Temperature", 1, 1, [](auto& r) { r.heater.temperature = 150; }, 4, "150.0"},
        {"Time stamp", 1, 2,
         [](auto& r) {
             r.environment.year = 0x18, r.environment.month = 3, r.environment.day = 5;
             r.environment.hour = 9, r.environment.minute = 7, r.environment.second = 0;
         },
         0, "2024-03-05 09:07:00"},
        {"Inside Temperature below 0", 1, 2,
         [](auto& r) { r.environment.insideTemperature = -5; }, 1, "-0.5"},
        {"Voltage", 1, 2, [](auto& r) { r.environment.voltage = 118; }, 3, "11.8"},
        {"FsMode 0", 1, 3, [](auto& r) { r.config.fsMode = 0; }, 0, "AUTO"},
        {"HtMode 0 outside", 1, 3, [](auto& r) { r.config.htMode = 0; }, 1, "0"},
        {"autostart 1", 1, 3, [](auto& r) { r.config.autostart = 1; }, 2, "On"},
        {"thin Chinese", 0, 3, [](auto& r) { r.config.thin = 1; }, 9, "使能"},
        {"add_arcs", 1, 3, [](auto& r) { r.config.addArcs = 100; }, 11, "100"},
        {"Language", 1, 4, [](auto& r) { r.config.language = 2; }, 1, "Spanish"},
        {"BaudRate 4 outside", 1, 4, [](auto& r) { r.config.baudRate = 4; }, 7, "4"},
        {"SysTime 0", 1, 4, [](auto& r) { r.config.sysTime = 0; }, 8, "Alaways On"},
        {"SysTime 0 Chinese", 0, 4, [](auto& r) { r.config.sysTime = 0; }, 8, "不关闭"},
        {"SysTime 7 not an option", 1, 4, [](auto& r) { r.config.sysTime = 7; }, 8, "7 min"},
        {"LcdTime 90", 1, 4, [](auto& r) { r.config.lcdTime = 90; }, 9, "90 s"},
        {"Serial Num", 1, 4,
         [](auto& r) { std::memcpy(r.config.serialNum.data(), "AB123456", 8); }, 0, "AB123456"},
    };
    for (const Case& c : cases) {
        ParameterRecords records;
        c.set(records);
        const auto rows = Shown(c.group, records, c.englishFlag);
        ASSERT_LT(c.row, rows.size()) << c.what;
        EXPECT_EQ(rows[c.row].value, c.text) << c.what;
    }
}

TEST(ParameterRows, CellKindsAndUnits) {
    ParameterRecords records;
    auto splice = Shown(group::Splice, records, 1);
    // Units appear once, however often the group is shown.
    ShowGroup(group::Splice, records, OptionTablesFor(AppConfig{}), splice);
    EXPECT_EQ(splice[6].CaptionText(), "ARC Time(ms)");
    EXPECT_EQ(splice[5].CaptionText(), "ARC Value");
    EXPECT_TRUE(splice[0].IsList());
    EXPECT_EQ(splice[0].options.size(), 9u);
    EXPECT_FALSE(splice[1].IsList());
    EXPECT_FALSE(splice[1].readOnly);

    for (const GridRow& row : Shown(group::Environment, records, 1)) EXPECT_TRUE(row.readOnly);
    EXPECT_EQ(Shown(group::Environment, records, 1)[1].CaptionText(), "Inside Temperature(℃)");
    const auto system = Shown(group::System, records, 1);
    EXPECT_TRUE(system[0].readOnly);
    EXPECT_FALSE(system[1].readOnly);
    ASSERT_EQ(system[8].options.size(), 11u);
    EXPECT_EQ(system[8].options[1], "3 min");
    EXPECT_EQ(system[8].options[10], "30 min");
    EXPECT_EQ(system[9].options[10], "300 s");
}

// The splice group's conversions and range checks.
TEST(ValidateAndEncode, SpliceTextsAndRanges) {
    ScopedConfig english(1);
    struct Case {
        std::vector<std::pair<std::size_t, std::string>> edits;
        std::function<bool(const SpliceParams&)> stored;  // checked when no failures expected
        std::vector<std::string> failures;
    };
    const Case cases[] = {
        {{{3, "2.3"}}, [](auto& s) { return s.cutAngle == 23; }, {}},
        {{{3, "25"}}, [](auto& s) { return s.cutAngle == 250; }, {}},
        {{{3, "25.1"}}, nullptr, {"Cutting Limit input error,range is 0—25"}},
        {{{4, "0.255"}}, [](auto& s) { return s.lossLimit == 25; }, {}},
        {{{4, "2.51"}}, nullptr, {"Loss Limit input error,range is 0—2.5"}},
        {{{6, "abc"}}, [](auto& s) { return s.arcTime == 0; }, {}},
        {{{6, "1600 ms"}}, [](auto& s) { return s.arcTime == 1600; }, {}},
        {{{6, "-1"}}, nullptr, {"ARC Time input error,range is 0ms—30000ms"}},
        {{{11, "-1"}}, [](auto& s) { return s.arcLine == -1; }, {}},
        {{{0, "sm auto"}, {9, "MANUAL"}, {19, "off"}},
         [](auto& s) { return s.fiberType == 2 && s.alignType == 2 && s.pullingTest == 1; }, {}},
        {{{0, "no such fibre"}}, [](auto& s) { return s.fiberType == 3; }, {}},
        {{{7, "3001"}, {14, "151"}, {18, "10001"}},
         nullptr,
         {"Clean ARC input error,range is 0ms—3000ms", "Overlap input error,range is 0—150 ",
          "Arc2Off input error,range is 0ms—10000ms "}},
    };
    for (const Case& c : cases) {
        ParameterRecords records;
        records.splice.fiberType = 3;
        const auto before = EncodeSpliceParams(records.splice);
        std::vector<std::string> texts = Values(Shown(group::Splice, records, 1));
        for (const auto& [row, text] : c.edits) texts[row] = text;
        const auto failures =
            ValidateAndEncode(group::Splice, texts, OptionTablesFor(Config()), records);
        EXPECT_EQ(failures, c.failures) << c.edits[0].second;
        if (c.failures.empty()) {
            EXPECT_TRUE(c.stored(records.splice)) << c.edits[0].second;
        } else {
            // A failed check changes nothing.
            EXPECT_EQ(EncodeSpliceParams(records.splice), before) << c.edits[0].second;
        }
    }
}

TEST(ValidateAndEncode, ChineseRangeTextAndOtherGroups) {
    ScopedConfig chinese(0);
    const OptionTables tables = OptionTablesFor(Config());
    ParameterRecords records;
    auto texts = Values(Shown(group::Splice, records, 0));
    texts[10] = "81";
    EXPECT_EQ(ValidateAndEncode(group::Splice, texts, tables, records),
              std::vector<std::string>{"端面间隔输入错误,范围0—80"});

    texts = Values(Shown(group::Heating, records, 0));
    texts[0] = "60MMps";
    texts[4] = "180.9";
    EXPECT_TRUE(ValidateAndEncode(group::Heating, texts, tables, records).empty());
    EXPECT_EQ(records.heater.heatType, 5);
    EXPECT_EQ(records.heater.temperature, 180);

    texts = Values(Shown(group::FsConfig, records, 0));
    texts[1] = "60mmpm";
    texts[5] = "使能";
    texts[11] = "200";
    EXPECT_TRUE(ValidateAndEncode(group::FsConfig, texts, tables, records).empty());
    EXPECT_EQ(records.config.htMode, 6);
    EXPECT_EQ(records.config.angle, 1);
    EXPECT_EQ(records.config.addArcs, 200);

    records.config.sysTime = 9;
    records.config.lcdTime = 0;
    texts = Values(Shown(group::System, records, 0));
    EXPECT_EQ(texts[8], "9 min");
    texts[8] = "不关闭";
    texts[9] = "120 s";
    texts[0] = "changed";  // the serial number is never written
    EXPECT_TRUE(ValidateAndEncode(group::System, texts, tables, records).empty());
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
        std::vector<std::uint8_t> raw(84);
        for (auto& b : raw) b = static_cast<std::uint8_t>(gen());
        ParameterRecords records;
        records.splice = DecodeSpliceParams(std::span<const std::uint8_t, 84>(raw.data(), 84));
        records.heater = DecodeHeaterParams(std::span<const std::uint8_t, 28>(raw.data(), 28));
        records.config = DecodeDeviceConfig(std::span<const std::uint8_t, 52>(raw.data(), 52));
        // Within range, so that the splice group passes its checks.
        SpliceParams& s = records.splice;
        s.cutAngle %= 251, s.lossLimit %= 251, s.arcTime %= 30001, s.clearArcTime %= 3001;
        s.addArcTime %= 30001, s.alignSpace %= 81, s.preTime %= 2501, s.overLen %= 151;
        s.arc2On %= 10001, s.arc2Off %= 10001;
        const ParameterRecords before = records;
        for (int g : {group::Splice, group::Heating, group::FsConfig, group::System}) {
            const auto texts = Values(Shown(g, records, 1));
            EXPECT_TRUE(ValidateAndEncode(g, texts, tables, records).empty()) << g;
            EXPECT_EQ(EncodeGroupRecord(g, records), EncodeGroupRecord(g, before))
                << "group " << g << " round " << round;
        }
    }
}

// Names go out in GBK, cut to the field without splitting a character.
TEST(ValidateAndEncode, NamesInGbkCutAtCharacterBoundary) {
    ScopedConfig english(1);
    struct Case {
        std::string text;
        std::string gbk;  // what the 10-byte Name1 field holds, up to its NULs
    };
    const Case cases[] = {
        {"ABCDEFGHIJKL", "ABCDEFGHIJ"},
        {"熔接机程序一", Utf8ToGbk("熔接机程序")},
        {"A中文字体五", Utf8ToGbk("A中文字体")},
        {"", ""},
    };
    for (const Case& c : cases) {
        ParameterRecords records;
        records.splice.name1.fill('x');
        auto texts = Values(Shown(group::Splice, records, 1));
        texts[1] = c.text;
        ASSERT_TRUE(ValidateAndEncode(group::Splice, texts, OptionTablesFor(Config()), records)
                        .empty());
        std::string expected = c.gbk;
        expected.resize(10, '\0');
        EXPECT_EQ(std::string(records.splice.name1.begin(), records.splice.name1.end()), expected)
            << c.text;
        EXPECT_EQ(NameFromField(records.splice.name1), GbkToUtf8(c.gbk));
    }
}

TEST(ValueText, DecimalsAreConvertedInDecimalDigits) {
    struct Case {
        const char* text;
        int decimals;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"2.3", 1, 23},      {"25.1", 1, 251},    {"2.30", 2, 230},      {"0.29", 2, 29},
        {"  1.5x", 1, 15},   {".5", 1, 5},        {"7.", 1, 70},         {"+3", 2, 300},
        {"-1", 1, 0u - 10},  {"abc", 1, 0},       {"1.999", 2, 199},     {"150.0", 0, 150},
        {"", 2, 0},          {"-0.05", 2, 0u - 5}, {"4294967296", 0, 0}, {"65535", 0, 65535},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseScaledDecimal(c.text, c.decimals), c.value) << c.text;

    EXPECT_EQ(FormatScaled(230, 2), "2.30");
    EXPECT_EQ(FormatScaled(5, 2), "0.05");
    EXPECT_EQ(FormatScaled(-5, 1), "-0.5");
    EXPECT_EQ(FormatScaled(0, 1), "0.0");
    EXPECT_EQ(FormatScaled(INT64_MIN, 0), "-9223372036854775808");
    EXPECT_EQ(TimeStampText(255, 0, 31, 23, 59, 9), "2255-00-31 23:59:09");
}

}  // namespace
}  // namespace velmora
