// Start-up settings, the INI reader and the language lookup, read from real files.
#include "base/app_config.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/ini_file.h"
#include "base/language.h"
#include "base/messages.h"
#include "base/text_codec.h"
#include "base/user_folders.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using test::ScopedConfig;
using test::TempDir;

TEST(AtoiValue, FollowsTheCLibrary) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"English", 0},
        {"", 0},
        {"  12ab", 12},
        {"-1", -1},
        {"+7", 7},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(AtoiValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(StartUp, LanguageFlagAndPageColourFromTheFiles) {
    struct Case {
        const char* version;     // Lan_Ver.ini content, nullptr for no file
        const char* colourFile;  // the language file that should be read, nullptr: no par/
        const char* colours;     // its DlgPara colour lines
        int englishFlag;
        std::uint32_t colour;
    } cases[] = {
        {nullptr, nullptr, "", 1, kDefaultPageColour},
        {nullptr, "Lan_En.ini", "", 1, Rgb(173, 216, 230)},
        {"[DlgPara]\r\nComm_Lanage=1\r\n", "Lan_En.ini", "DlgColor_Red=10\r\n", 1,
         Rgb(10, 216, 230)},
        {"[DlgPara]\r\nComm_Lanage=0\r\n", "Lan.ini", "DlgColor_Blue=300\r\n", 0,
         Rgb(173, 216, 44)},
        {"[DlgPara]\nComm_Lanage=2\n", "Lan.ini", "DlgColor_Green=-1\n", 2, Rgb(173, 255, 230)},
        {"[DlgPara]\nComm_Lanage=English\n", "Lan.ini", "DlgColor_Red=\n", 0, Rgb(173, 216, 230)},
        {"[DlgPara]\nComm_Lanage=\n", "Lan_En.ini", "", 1, Rgb(173, 216, 230)},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.version) dir.Write("par/Lan_Ver.ini", c.version);
        if (c.colourFile) {
            dir.Write(std::string("par/") + c.colourFile, std::string("[DlgPara]\r\n") + c.colours);
            // The other file would give a different colour if it were read by mistake.
            const bool chinese = std::string(c.colourFile) == "Lan.ini";
            dir.Write(chinese ? "par/Lan_En.ini" : "par/Lan.ini",
                      "[DlgPara]\r\nDlgColor_Red=1\r\nDlgColor_Green=2\r\nDlgColor_Blue=3\r\n");
        }

        AppConfig config = LoadAppConfig(dir.path());
        SCOPED_TRACE(c.version ? c.version : "(no version file)");
        EXPECT_EQ(config.EnglishFlag, c.englishFlag);
        EXPECT_EQ(config.PageColour, c.colour);
        EXPECT_EQ(config.AppDirectory, dir.path());
    }
}

// The first folder holding par/ decides where the language files are read and
// the program's own files written; an installed program's are never beside it.
TEST(StartUp, FoldersFollowTheFirstParFound) {
    enum Where { Working, Program, Installed, None };
    struct Case {
        Where par;
        bool marker;      // the Windows installer's marker is beside the executable
        bool userFolder;  // the system names a user data folder
        const char* working;
        const char* expectPar;
        const char* expectData;
    } cases[] = {
        {Working, false, true, "work", "work/par", "work"},
        {Program, false, true, "work", "app/bin/par", "app/bin"},
        {Program, false, true, "app/bin", "app/bin/par", "app/bin"},
        {Program, true, true, "work", "app/bin/par", "user"},
        {Program, true, true, "app/bin", "app/bin/par", "user"},
        {Installed, false, true, "work", "app/share/velmora/par", "user"},
        {Installed, false, true, "app/share/velmora", "app/share/velmora/par", "user"},
        {Installed, false, false, "work", "app/share/velmora/par", "work"},
        {None, true, true, "work", "work/par", "work"},
    };
    for (const auto& c : cases) {
        TempDir root;
        // Every folder after the chosen one holds par/ too, and must lose to it.
        const char* folders[] = {"work/par", "app/bin/par", "app/share/velmora/par"};
        for (int i = c.par; i < 3; ++i) root.Write(std::string(folders[i]) + "/Lan_Ver.ini", "");
        if (c.marker) root.Write(std::string("app/bin/") + kInstalledMarker, "");
        std::filesystem::create_directories(root.path() / "work");
        const std::filesystem::path user = c.userFolder ? root.path() / "user" : "";

        const StartFolders found =
            FindStartFolders(root.path() / c.working, root.path() / "app" / "bin", user);
        SCOPED_TRACE(std::string(c.expectPar) + " from " + c.working);
        EXPECT_EQ(found.par, root.path() / c.expectPar);
        EXPECT_EQ(found.data, root.path() / c.expectData);
    }
}

TEST(StartUp, InstalledLanguageFilesAreReadWhereTheyAre) {
    TempDir root;
    const std::filesystem::path par = root.path() / "share" / "velmora" / "par";
    root.Write("share/velmora/par/Lan_Ver.ini", "[DlgPara]\r\nComm_Lanage=0\r\n");
    root.Write("share/velmora/par/Lan.ini", "[DlgPara]\r\nDlgName=" + Utf8ToGbk("熔接机") + "\r\n");
    const AppConfig config = LoadAppConfig(StartFolders{par, root.path() / "user"});
    EXPECT_EQ(config.EnglishFlag, 0);
    EXPECT_EQ(config.AppDirectory, root.path() / "user");
    ScopedConfig installed(config);
    EXPECT_EQ(Text(keys::DlgName), "熔接机");
}

#ifndef _WIN32
// The XDG rule of the POSIX twin (Windows asks the system for %LOCALAPPDATA%).
TEST(StartUp, UserDataFolderFollowsXdg) {
    struct Case {
        const char* xdg;  // nullptr: unset
        const char* home;
        const char* expect;
    } cases[] = {
        {"/data/home", "/home/u", "/data/home/velmora"},
        {nullptr, "/home/u", "/home/u/.local/share/velmora"},
        {"", "/home/u", "/home/u/.local/share/velmora"},
        {"relative/path", "/home/u", "/home/u/.local/share/velmora"},  // ignored, as XDG says
    };
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdgBefore = savedXdg ? savedXdg : "", homeBefore = savedHome ? savedHome : "";
    for (const auto& c : cases) {
        if (c.xdg)
            setenv("XDG_DATA_HOME", c.xdg, 1);
        else
            unsetenv("XDG_DATA_HOME");
        setenv("HOME", c.home, 1);
        EXPECT_EQ(UserDataFolder(), std::filesystem::path(c.expect)) << (c.xdg ? c.xdg : "unset");
    }
    if (savedXdg)
        setenv("XDG_DATA_HOME", xdgBefore.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    if (savedHome) setenv("HOME", homeBefore.c_str(), 1);
}
#endif

TEST(IniReader, PrivateProfileRules) {
    TempDir dir;
    auto file = dir.Write("t.ini",
                          "; a comment\r\n"
                          "[First]\r\n"
                          "  Spaced Key  =  spaced value  \r\n"
                          "Quoted=\"in quotes\"\r\n"
                          "Single='x'\r\n"
                          "Half=\"open\r\n"
                          "Empty=\r\n"
                          "NoNewlineAtEnd=kept\r\n"
                          "[second]\n"
                          "key=lf line\n"
                          "[FIRST]\n"
                          "Late=only the first section of a name counts\n"
                          "[Long]\n"
                          "value=" +
                              std::string(1500, 'v'));
    struct Case {
        const char* section;
        const char* key;
        std::string value;
    } cases[] = {
        {"first", "spaced key", "spaced value"},
        {"FIRST", "QUOTED", "in quotes"},
        {"First", "Single", "x"},
        {"First", "Half", "\"open"},
        {"First", "Empty", ""},
        {"First", "NoNewlineAtEnd", "kept"},
        {"Second", "KEY", "lf line"},
        {"First", "Late", ""},
        {"First", "missing", ""},
        {"Missing", "key", ""},
        {"Long", "value", std::string(kProfileValueCap, 'v')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadProfileString(file, c.section, c.key), c.value) << c.section << '/' << c.key;
    // What cannot be a language file reads as a missing one, never aborts (/dev/zero never ends).
    for (const auto& bad :
         {dir.path() / "absent.ini", dir.path(), std::filesystem::path("/dev/zero")})
        EXPECT_EQ(ReadProfileString(bad, "First", "Quoted"), "") << bad;
}

TEST(IniReader, ChineseFileInGbkComesBackAsUtf8) {
    TempDir dir;
    const std::string utf8 = "熔接机";
    const std::string gbk = Utf8ToGbk(utf8);
    ASSERT_EQ(gbk, "\xC8\xDB\xBD\xD3\xBB\xFA");
    auto file = dir.Write("par/Lan.ini", "[DlgPara]\r\nDlgName=" + gbk + "\r\n");
    EXPECT_EQ(ReadProfileString(file, "DlgPara", "DlgName"), utf8);

    // The 1023-byte cap never splits a double-byte character: 600 of them keep 511.
    std::string many;
    for (int i = 0; i < 600; ++i) many += gbk.substr(0, 2);
    auto longFile = dir.Write("long.ini", "[S]\nk=" + many);
    std::string cut = ReadProfileString(longFile, "S", "k");
    EXPECT_TRUE(IsValidUtf8(cut));
    EXPECT_EQ(Utf8ToGbk(cut).size(), 1022u);
}

TEST(TextCodec, CutsAtCharacterBoundaries) {
    const std::string gbk = Utf8ToGbk("AB熔接");  // 2 + 4 bytes
    EXPECT_EQ(CutGbk(gbk, 3), "AB");
    EXPECT_EQ(CutGbk(gbk, 4).size(), 4u);
    EXPECT_EQ(CutGbk(gbk, 100), gbk);
    EXPECT_EQ(CutUtf8("a熔", 3), "a");
    EXPECT_EQ(CutUtf8("a熔", 4), "a熔");
    EXPECT_EQ(Utf8ToGbk("a😀b"), "a?b");            // one '?' per character GBK lacks
    EXPECT_EQ(GbkToUtf8("\xC8"), "\xEF\xBF\xBD");  // a lone lead byte is not dropped silently
}

}  // namespace
}  // namespace velmora
