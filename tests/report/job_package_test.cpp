// A job's hand-over package from a known matrix, with a stand-in PDF writer: the
// files of the folder and of the ZIP file read back by python3 and by the program's
// own ZIP reader; every failure leaves nothing beside the target; names safe on
// Windows and Linux alike.
#include "report/job_package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "base/zip_reader.h"
#include "jobs/matrix_texts.h"
#include "report/job_report.h"
#include "support/cli_runner.h"
#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::report {
namespace {
namespace fs = std::filesystem;

class JobPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source.matrix = test::FixtureMatrix();
        // Trays 1 and 2 of the first closure, tray 1 of the others: a diagram each.
        for (std::size_t c = 0; c < source.matrix.closures.size(); ++c)
            for (int tray = 1; tray <= (c == 0 ? 2 : 1); ++tray)
                source.matrix.closures[c].trays.push_back({.details = {.number = tray}});
        source.report = MakeReport({}, {}, {.job = source.matrix.job.details.name}, {},
                                   folder.path(), TableLanguage::English, LoadCaptions());
        source.report.asBuilt =
            MakeAsBuilt(source.matrix, jobs::LoadMatrixCaptions(), source.report.captions);
    }
    // Everything in the folder the package goes to, by name.
    std::set<std::string> Listed() const {
        std::set<std::string> names;
        for (const fs::directory_entry& e : fs::directory_iterator(folder.path()))
            names.insert(e.path().filename().string());
        return names;
    }

    test::ScopedConfig config{1};
    test::TempDir folder;
    PackageSource source;
    PdfMaker pdf = [](const Report&, const Progress& progress, std::vector<MissingImage>*,
                      std::stop_token) -> std::optional<std::string> {
        progress(100);
        return std::string("%PDF-1.4 stand-in");
    };
};

TEST_F(JobPackageTest, FolderAndZipHoldEveryFileEachReadBack) {
    const PackageResult asFolder = WritePackage(source, folder.path() / "Ring 7", {}, pdf);
    ASSERT_TRUE(asFolder.ok()) << PackageOutcomeText(asFolder);
    const PackageResult zipped = WritePackage(source, folder.path() / "Ring 7.ZIP", {}, pdf);
    ASSERT_TRUE(zipped.ok()) << PackageOutcomeText(zipped);
    const std::string chinese = source.matrix.closures[0].closure.details.name;
    const std::vector<std::string> files{
        "report.pdf",
        "matrix.xlsx",
        "matrix.csv",
        "closures.geojson",
        "diagrams/" + chinese.substr(0, 99) + " - Tray 1.svg",  // 33 of its 36 characters
        "diagrams/" + chinese.substr(0, 99) + " - Tray 2.svg",
        "diagrams/C_17_[a] - Tray 1.svg",
        "diagrams/c_17__a_ - Tray 1.svg"};
    EXPECT_EQ(asFolder.files, files);
    EXPECT_EQ(zipped.files, files);
    EXPECT_EQ(Listed(), (std::set<std::string>{"Ring 7", "Ring 7.ZIP"})) << "no scratch left";

    // The ZIP: one folder named after the job, its names flagged UTF-8, every member
    // whole and equal to the folder's file; the spreadsheet, the GeoJSON, the CSV and
    // the diagrams opened by their readers.
    const test::CliRun read = test::RunProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, zipfile, json, csv, io, openpyxl, datetime, xml.etree.ElementTree as ET\n"
         "z = zipfile.ZipFile(sys.argv[1])\n"
         "assert z.testzip() is None\n"
         "top = 'Ring 7 北段/'\n"
         "for i in z.infolist():\n"
         "    assert i.flag_bits & 0x800 and i.filename.startswith(top), i.filename\n"
         // Stamped with the local time it was written (two-second steps).
         "    age = datetime.datetime.now() - datetime.datetime(*i.date_time)\n"
         "    assert abs(age.total_seconds()) < 3600, i.date_time\n"
         // The PDF and the workbook carry the second they were written in.
         "    if not i.filename.endswith(('.pdf', '.xlsx')):\n"
         "        assert z.read(i) == open(sys.argv[2] + '/' + i.filename[len(top):], "
         "'rb').read()\n"
         "print(len(z.infolist()))\n"
         "book = openpyxl.load_workbook(io.BytesIO(z.read(top + 'matrix.xlsx')))\n"
         "print(len(book.sheetnames))\n"
         "geo = json.loads(z.read(top + 'closures.geojson'))\n"
         "print(geo['type'], len(geo['features']))\n"
         "print(len(list(csv.reader(io.StringIO(z.read(top + 'matrix.csv').decode())))))\n"
         "print(sum(1 for n in z.namelist() if n.endswith('.svg') and ET.fromstring(z.read(n))))\n",
         (folder.path() / "Ring 7.ZIP").string(), (folder.path() / "Ring 7").string()},
        folder.path());
    EXPECT_EQ(test::Lines(read.out),
              (std::vector<std::string>{"8", "4", "FeatureCollection 2", "8", "4"}))
        << read.err;
    // The program's own reader takes it too.
    const std::string bytes = test::ReadFileBytes(folder.path() / "Ring 7.ZIP");
    std::string error;
    const std::optional<ZipReader> reader = ZipReader::Open(bytes, &error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->Read("Ring 7 北段/report.pdf", 1 << 20, &error), "%PDF-1.4 stand-in")
        << error;
}

TEST_F(JobPackageTest, AFailureAnywhereLeavesNothingBehind) {
    folder.Write("Taken/mine.txt", "mine");
    folder.Write("Taken.zip", "mine");
    fs::create_directory(folder.path() / "Empty");
    const PdfMaker failing = [](const Report&, const Progress&, std::vector<MissingImage>*,
                                std::stop_token) { return std::optional<std::string>(); };
    std::stop_source stop;
    const PdfMaker stopped = [&stop](const Report&, const Progress&, std::vector<MissingImage>*,
                                     std::stop_token) {
        stop.request_stop();
        return std::optional<std::string>("%PDF");
    };
    // Its scratch folder turned into a file while the PDF is made: the first file
    // fails (a full disk would, midway; permissions do not stop root).
    const PdfMaker unwritable = [this](const Report&, const Progress&, std::vector<MissingImage>*,
                                       std::stop_token) {
        for (const fs::directory_entry& e : fs::directory_iterator(folder.path()))
            if (e.path().filename().string().find(".partial-") != std::string::npos) {
                fs::remove_all(e.path());
                folder.Write(e.path().filename().string(), "in the way");
                break;
            }
        return std::optional<std::string>("%PDF");
    };
    // Something put where the package goes while it is made.
    const PdfMaker overtaken = [this](const Report&, const Progress&, std::vector<MissingImage>*,
                                      std::stop_token) {
        folder.Write("Late/theirs.txt", "theirs");
        return std::optional<std::string>("%PDF");
    };
    const struct {
        const char* target;
        const PdfMaker* writer;
        PackageOutcome outcome;
        const char* said;
    } cases[] = {
        {"Taken", &pdf, PackageOutcome::TargetTaken, "is already there"},
        {"Taken.zip", &pdf, PackageOutcome::TargetTaken, "is already there"},
        {"New", &failing, PackageOutcome::PdfFailed, "could not be made"},
        {"New.zip", &stopped, PackageOutcome::Cancelled, "cancelled"},
        {"New", &unwritable, PackageOutcome::NotWritten, "report.pdf could not be written"},
        {"Late", &overtaken, PackageOutcome::TargetTaken, "is already there"},
    };
    for (const auto& c : cases) {
        std::set<std::string> before = Listed();
        if (c.writer == &overtaken) before.insert("Late");
        const PackageResult result =
            WritePackage(source, folder.path() / c.target, {}, *c.writer, {}, stop.get_token());
        EXPECT_EQ(result.outcome, c.outcome) << c.target;
        EXPECT_NE(PackageOutcomeText(result).find(c.said), std::string::npos)
            << PackageOutcomeText(result);
        EXPECT_EQ(Listed(), before) << c.target;
        stop = std::stop_source();
    }
    EXPECT_EQ(test::ReadFileBytes(folder.path() / "Taken/mine.txt"), "mine");
    EXPECT_EQ(test::ReadFileBytes(folder.path() / "Taken.zip"), "mine");
    // An empty folder is taken; the window's next free name never lands on anything.
    ASSERT_TRUE(WritePackage(source, folder.path() / "Empty", {}, pdf).ok());
    EXPECT_TRUE(fs::exists(folder.path() / "Empty/report.pdf"));
    EXPECT_EQ(FreePackageTarget(folder.path(), "Taken", PackageForm::Zip),
              folder.path() / "Taken (2).zip");
}

TEST(PortableFileNameTest, NamesEveryFileSystemTakes) {
    const struct {
        std::string name;
        std::string portable;
    } cases[] = {
        {"Route 7", "Route 7"},
        {"北段 C/17: \"a\" <b>|*?\\", "北段 C_17_ _a_ _b_____"},
        {"..", "unnamed"},
        {".hidden. ", "_hidden"},
        {"con", "_con"},
        {"LPT1.txt", "_LPT1.txt"},
        {"aux.tar.gz", "_aux.tar.gz"},
        {"COM10", "COM10"},
        {"tab\there", "tab_here"},
        {"", "unnamed"},
        {std::string(119, 'a') + "北", std::string(119, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(PortableFileName(c.name), c.portable) << c.name;
}

}  // namespace
}  // namespace velmora::report
