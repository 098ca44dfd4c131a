// The Windows twins of src/base: code page 936, replacing a file that is in use, and
// Chinese file names, which the narrow code page cannot hold.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/atomic_file.h"
#include "base/path_text.h"
#include "base/text_codec.h"
#include "support/test_support.h"

namespace velmora {
namespace {

TEST(TextCodecWin32, CodePage936RoundTrip) {
    struct Case {
        const char* utf8;
        const char* gbk;
    };
    const Case cases[] = {
        {"熔接机", "\xC8\xDB\xBD\xD3\xBB\xFA"},
        {"温度 25℃", "\xCE\xC2\xB6\xC8 25\xA1\xE6"},
        {"M2406A0153", "M2406A0153"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << c.utf8;
        EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.utf8;
    }
    // A lead byte cut off at the end is not text: it shows as U+FFFD.
    EXPECT_EQ(GbkToUtf8("A\xC8"), "A\xEF\xBF\xBD");
}

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Windows refuses to replace a file another handle holds open without delete
// sharing; either way the old or the new file is whole and nothing is left beside it.
TEST(AtomicFileWin32, AFileOpenForReadingIsReplacedOrKeptWhole) {
    test::TempDir dir;
    const std::filesystem::path target = dir.Write("Splice.csv", "old");
    {
        std::ifstream reader(target, std::ios::binary);
        ASSERT_TRUE(reader.is_open());
        const FileWriteResult result = ReplaceFile(target, std::string("new\r\n"));
        reader.close();
        if (result.ok)
            EXPECT_EQ(Contents(target), "new\r\n");
        else
            EXPECT_EQ(Contents(target), "old") << result.reason;
        EXPECT_TRUE(result.ok || !result.reason.empty());
    }
    EXPECT_TRUE(ReplaceFile(target, std::string("\n\x0A\x0D")).ok);
    EXPECT_EQ(Contents(target), "\n\x0A\x0D");  // binary: no 0A became 0D 0A
    // Made only where nothing is yet: a file there stays, and the caller is told.
    const FileWriteResult second = PreparedFile(target, std::string_view("other")).CommitNew();
    EXPECT_TRUE(!second.ok && second.existed) << second.reason;
    EXPECT_EQ(Contents(target), "\n\x0A\x0D");
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names += entry.path().filename().string() + " ";
    EXPECT_EQ(names, "Splice.csv ") << "nothing but the file";

    // A device is written to, never replaced by a file: NUL in any folder is NUL.
    EXPECT_TRUE(ReplaceFile(dir.path() / "NUL", std::string("x")).ok);
    names.clear();
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names += entry.path().filename().string() + " ";
    EXPECT_EQ(names, "Splice.csv ");
}

// A folder and a file named in Chinese (a user's folder, a chosen file) are made with
// those names and read back as the same UTF-8 text.
TEST(PathTextWin32, ChineseNamesSurviveTheRoundTrip) {
    test::TempDir dir;
    const std::filesystem::path file = dir.path() / PathFromText("张伟") / PathFromText("报告.csv");
    std::filesystem::create_directories(file.parent_path());
    ASSERT_TRUE(ReplaceFile(file, std::string("x")).ok);
    EXPECT_EQ(file.filename().wstring(), L"\u62a5\u544a.csv");
    EXPECT_EQ(PathText(file.filename()), "报告.csv");
    EXPECT_EQ(Contents(dir.path() / L"\u5f20\u4f1f" / L"\u62a5\u544a.csv"), "x");
}

}  // namespace
}  // namespace velmora
