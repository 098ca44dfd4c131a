#include "history/csv_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "base/language.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

using test::kExample;

constexpr const char* kEnglishHeader =
    ",Time,Result, Loss Value, Splice mode, Aline Type, Aline Space, Arc Line, Prefuse ARC "
    "data, Prefuse ARC time, ARC data, ARC time, Over Length, Fiber Type, LF Angle, RF Angle\r\n";

std::array<std::string, kDetailRowCount> EnglishCaptions() {
    std::array<std::string, kDetailRowCount> captions;
    for (std::size_t i = 0; i < kDetailRowCount; ++i)
        captions[i] = keys::HistoryDetailRows[i].english;
    return captions;
}

// The example, then a failed splice with manual alignment and an unknown fibre.
RecordStore TwoRecords() {
    RecordStore store{SpliceRecord{kExample}, SpliceRecord{kExample}};
    store[1].bytes[6] = 1;
    store[1].bytes[18] = 2;
    store[1].bytes[14] = 0xFF;
    return store;
}

FileWriteResult Write(const fs::path& file, std::vector<int>* progress = nullptr) {
    return WriteCsvExport({file, TwoRecords(), EnglishCaptions(), TableLanguage::English, {}},
                          [&](int p) {
                              if (progress) progress->push_back(p);
                          });
}

TEST(CsvExportTest, HeaderAndRecordLinesByteForByte) {
    EXPECT_EQ(CsvHeaderLine(EnglishCaptions()), kEnglishHeader);
    const RecordStore store = TwoRecords();
    EXPECT_EQ(CsvRecordLine(0, store[0], TableLanguage::English),
              "1,2026-12-31 23:59:09,Success, 0.15, SM AUTO, Covering, 10, -2, 100, 180 ms, 300, "
              "2000 ms, 30,  SM AUTO,0.5, 1.2,\r\n");
    EXPECT_EQ(CsvRecordLine(1, store[1], TableLanguage::English),
              "2,2026-12-31 23:59:09,Failure, 0.15, SM AUTO, Manual, 10, -2, 100, 180 ms, 300, "
              "2000 ms, 30,  Unknown(-1),0.5, 1.2,\r\n");

    // In Chinese the whole document is GBK.
    std::array<std::string, kDetailRowCount> captions = EnglishCaptions();
    captions[0] = "时间";
    const std::string expected =
        std::string(",\xCA\xB1\xBC\xE4") + (kEnglishHeader + 5) +
        "1,2026-12-31 23:59:09,\xB3\xC9\xB9\xA6, 0.15, SM AUTO, \xB0\xFC\xB2\xE3, 10, -2, 100, "
        "180 ms, 300, 2000 ms, 30,  SM AUTO,0.5, 1.2,\r\n"
        "2,2026-12-31 23:59:09,\xCA\xA7\xB0\xDC, 0.15, SM AUTO, \xCA\xD6\xB6\xAF, 10, -2, 100, "
        "180 ms, 300, 2000 ms, 30,  \xCE\xB4\xD6\xAA(-1),0.5, 1.2,\r\n";
    const std::string document = CsvDocument(store, captions, TableLanguage::Chinese);
    EXPECT_EQ(test::Hex({reinterpret_cast<const std::uint8_t*>(document.data()), document.size()}),
              test::Hex({reinterpret_cast<const std::uint8_t*>(expected.data()), expected.size()}));
}

// The day's file in the device's CSV folder; before any device is known, under the
// working directory, and no folder is made at the root.
TEST(CsvExportTest, WhereTheExportGoes) {
    EXPECT_EQ(CsvFileName(2026y / January / 9), "20260109.csv");
    EXPECT_EQ(CsvExportPath("/w/FS/AB12", "/w", 2026y / December / 5),
              "/w/FS/AB12/CSV/20261205.csv");
    EXPECT_EQ(CsvExportPath("", "/w", 2026y / December / 5), "/w/CSV/20261205.csv");
    EXPECT_FALSE(EnsureCsvFolder(""));
}

// Written whole, into a folder made for it and over an older file, or not at all:
// a failure says why and leaves the old file; no temporary file stays behind.
TEST(CsvExportTest, WrittenWholeOrNotAtAll) {
    test::TempDir dir;
    const fs::path file = dir.path() / "CSV" / "20261205.csv";
    std::vector<int> progress;
    ASSERT_TRUE(Write(file, &progress).ok);
    EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
    std::ofstream(file, std::ios::binary) << "old contents";
    ASSERT_TRUE(Write(file).ok);
    EXPECT_EQ(test::ReadFileBytes(file),
              CsvDocument(TwoRecords(), EnglishCaptions(), TableLanguage::English));
    // A folder where the file should be, a folder we may not write into (a file
    // where the folder should be is tried through velmora-cli).
    fs::create_directories(dir.path() / "CSV" / "taken.csv");
    const auto readOnly = dir.Write("ro/20261205.csv", "old contents");
    ::chmod(readOnly.parent_path().c_str(), 0555);
    // Running as root, permissions do not stop us.
    const bool root = ::access(readOnly.parent_path().c_str(), W_OK) == 0;
    for (const fs::path& target : {dir.path() / "CSV" / "taken.csv", readOnly}) {
        if (target == readOnly && root) continue;
        const FileWriteResult written = Write(target);
        EXPECT_FALSE(written.ok) << target;
        EXPECT_FALSE(written.reason.empty());
    }
    ::chmod(readOnly.parent_path().c_str(), 0755);
    EXPECT_EQ(test::ReadFileBytes(readOnly), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 2);
}

}  // namespace
}  // namespace velmora
