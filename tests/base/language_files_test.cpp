// The language files the program ships: complete, in the right encodings, and
// read by start-up as a user's copy would be.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/app_config.h"
#include "base/ini_file.h"
#include "base/language.h"
#include "base/text_codec.h"
#include "report/report_texts.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// par/ of the source tree (__FILE__ may be relative to a build folder).
fs::path ShippedPar() {
    return fs::path(VELMORA_SOURCE_DIR) / "par";
}

// The window's captions and the report's.
std::vector<TextKey> ShippedKeys() {
    std::vector<TextKey> keys(AllTextKeys().begin(), AllTextKeys().end());
    keys.insert(keys.end(), report::kCaptionKeys.begin(), report::kCaptionKeys.end());
    return keys;
}

TEST(LanguageFiles, EveryKeyHasAChineseCaption) {
    const fs::path file = ShippedPar() / "Lan.ini";
    ASSERT_TRUE(fs::exists(file)) << file;
    for (const TextKey& key : ShippedKeys())
        EXPECT_FALSE(ReadProfileString(file, key.section, key.key).empty())
            << "[" << key.section << "] " << key.key;
}

TEST(LanguageFiles, EnglishFileHoldsTheDefaultsExactly) {
    // Blanks that belong to a caption ("Content ", "Update? ") must survive the reader.
    const fs::path file = ShippedPar() / "Lan_En.ini";
    for (const TextKey& key : ShippedKeys())
        EXPECT_EQ(ReadProfileString(file, key.section, key.key), key.english)
            << "[" << key.section << "] " << key.key;
}

TEST(LanguageFiles, ChineseFileIsGbkWithChineseCaptions) {
    const std::string bytes = test::ReadFileBytes(ShippedPar() / "Lan.ini");
    // GBK, not UTF-8: a Windows program reading it in the Chinese code page sees Chinese.
    EXPECT_FALSE(IsValidUtf8(bytes));
    EXPECT_EQ(GbkToUtf8(bytes).find("\xEF\xBF\xBD"), std::string::npos) << "undecodable bytes";

    const fs::path file = ShippedPar() / "Lan.ini";
    EXPECT_EQ(ReadProfileString(file, "DlgPara", "DlgName"), "光纤熔接机");
    EXPECT_EQ(ReadProfileString(file, "TAB3", "Table_Name"), "固件升级");
    // The page colour stays the program's default in both languages.
    EXPECT_EQ(ReadProfileString(file, "DlgPara", "DlgColor_Red"), "173");
}

TEST(LanguageFiles, WindowsLineEnds) {
    for (const char* name : {"Lan_En.ini", "Lan.ini", "Lan_Ver.ini"}) {
        const std::string bytes = test::ReadFileBytes(ShippedPar() / name);
        ASSERT_FALSE(bytes.empty()) << name;
        for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << name << ": bare LF at byte " << i;
    }
}

TEST(LanguageFiles, ShippedFolderStartsInEnglishAndTheChineseFileIsUsedWhenChosen) {
    test::TempDir dir;
    fs::copy(ShippedPar(), dir.path() / "par", fs::copy_options::recursive);
    AppConfig english = LoadAppConfig(dir.path());
    EXPECT_EQ(english.EnglishFlag, 1);
    EXPECT_EQ(english.PageColour, kDefaultPageColour);
    EXPECT_EQ(LookupText(english, "TAB0", "Table_Name"), "Setting");

    dir.Write("par/Lan_Ver.ini", "[DlgPara]\r\nComm_Lanage=0\r\n");
    AppConfig chinese = LoadAppConfig(dir.path());
    EXPECT_EQ(chinese.EnglishFlag, 0);
    EXPECT_EQ(chinese.PageColour, kDefaultPageColour);
    EXPECT_EQ(LookupText(chinese, "TAB0", "Table_Name"), "参数设置");
}

// A file that starts with a UTF-8 mark but holds GBK is read as UTF-8, and a
// byte that is not UTF-8 becomes a replacement character: never invalid text.
TEST(LanguageFiles, AUtf8MarkOverGbkBytesGivesValidText) {
    test::TempDir dir;
    const auto file =
        dir.Write("par/Lan.ini",
                  "\xEF\xBB\xBF[TAB0]\r\nBtn_Connect=" + Utf8ToGbk("连接") + "\r\nBtn_Read=OK\r\n");
    const std::string connect = ReadProfileString(file, "TAB0", "Btn_Connect");
    EXPECT_TRUE(IsValidUtf8(connect));
    EXPECT_EQ(connect, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ReadProfileString(file, "TAB0", "Btn_Read"), "OK");
}

}  // namespace
}  // namespace velmora
