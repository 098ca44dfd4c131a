#include "history/splice_record.h"

#include <gtest/gtest.h>

#include <set>

#include "history/history_texts.h"
#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using test::kExample;

// Table lookups at both ends of their tables, and values past them (the example
// record's own texts are the CSV test's). Only flag 1 chooses the English tables.
TEST(SpliceRecordTest, ValuesOutsideTheTablesShowUnknownWithTheirNumber) {
    for (int flag : {0, 2, -1}) EXPECT_EQ(TableLanguageFor(flag), TableLanguage::Chinese);
    EXPECT_EQ(TableLanguageFor(1), TableLanguage::English);
    const struct {
        std::size_t offset;
        std::uint8_t low, high;
        std::string (*decode)(const SpliceRecord&, TableLanguage);
        const char* english;
        const char* chinese;
    } cases[] = {
        {6, 1, 0, ResultListText, "Failure", "失败"},
        {6, 2, 0, ResultListText, "Unknown(2)", "未知(2)"},
        {6, 2, 0, ResultCsvText, "Failure", "失败"},
        {16, 9, 0, SpliceModeText, "MM", "MM"},
        {16, 0, 0, SpliceModeText, "Unknown(-1)", "未知(-1)"},
        {16, 10, 0, SpliceModeText, "Unknown(9)", "未知(9)"},
        {16, 0xFF, 0xFF, SpliceModeText, "Unknown(65534)", "未知(65534)"},
        {14, 8, 0, FiberTypeText, "MM", "MM"},
        {14, 9, 0, FiberTypeText, "Unknown(9)", "未知(9)"},
        {14, 0x80, 0, FiberTypeText, "Unknown(-128)", "未知(-128)"},
        {18, 1, 0, AlignText, "Core", "纤芯"},
        {18, 3, 0, AlignText, "Unknown(3)", "未知(3)"},
        {18, 0, 1, AlignText, "Unknown(256)", "未知(256)"},
    };
    for (const auto& c : cases) {
        SpliceRecord record{kExample};
        record.bytes[c.offset] = c.low;
        if (c.offset != 6 && c.offset != 14) record.bytes[c.offset + 1] = c.high;
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " value " + std::to_string(c.low));
        EXPECT_EQ(c.decode(record, TableLanguage::English), c.english);
        EXPECT_EQ(c.decode(record, TableLanguage::Chinese), c.chinese);
    }
}

TEST(SpliceRecordTest, NumbersAreLittleEndianWithTheirSignsAndScales) {
    SpliceRecord record{kExample};
    record.bytes[8] = record.bytes[9] = 0xFF;          // loss 65535 hundredths
    record.bytes[22] = 0x00, record.bytes[23] = 0x80;  // arc line -32768
    record.bytes[30] = record.bytes[31] = 0xFF;        // arc time 65535 ms, unsigned
    EXPECT_EQ(LossText(record), "655.35");
    EXPECT_EQ(NumberText(record.arcLine()), "-32768");
    EXPECT_EQ(MillisecondText(record.arcTime()), "65535 ms");
    EXPECT_EQ(AngleText(0), "0.0");
    EXPECT_EQ(AngleText(65535), "6553.5");
}

TEST(SpliceRecordTest, DetailCaptionsComeFromTheLanguageFileWithEnglishDefaults) {
    test::TempDir dir;
    // GBK "时间" for the first row; the others are missing or empty and keep their defaults.
    dir.Write("par/Lan.ini", "[TAB1]\r\nList_Para_Row0=\xCA\xB1\xBC\xE4\r\nList_Para_Row6=\r\n");
    test::ScopedConfig chinese(0, dir.path());
    const auto captions = DetailCaptions();
    EXPECT_EQ(captions[0], "时间");
    EXPECT_EQ(captions[12], "Fiber Type");  // its key is List_Para_Row6
    EXPECT_EQ(captions[14], "RF Angle");
}

// The virtual splicer's memory must decode like a real one: known texts, times in
// order, mostly good splices.
TEST(SampleRecordsTest, VirtualSplicersRecordsLookLikeARealSplicersMemory) {
    constexpr int kCount = 2000;
    std::set<std::string> programs;
    int failures = 0;
    std::string previousTime;
    for (int i = 0; i < kCount; ++i) {
        SCOPED_TRACE(i);
        const SpliceRecord r{sim::SampleRecord(i)};
        for (const std::string& text : DetailTexts(r, TableLanguage::English))
            ASSERT_EQ(text.find("Unknown"), std::string::npos);
        EXPECT_GT(TimeText(r), previousTime);
        previousTime = TimeText(r);
        if (r.result() != 0)
            ++failures;
        else
            EXPECT_TRUE(r.loss() >= 1 && r.loss() <= 8) << r.loss();
        programs.insert(SpliceModeText(r, TableLanguage::English));
    }
    EXPECT_GT(failures, kCount / 100);
    EXPECT_LT(failures, kCount / 10);
    EXPECT_GE(programs.size(), 5u);
}

}  // namespace
}  // namespace velmora
