// velmora-cli job package: a job's hand-over as a folder and as a ZIP file, each file
// opened by its own reader (the PDF's first page by pdftotext), the verdict said
// before anything is written, and nothing already there ever replaced.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/cli_runner.h"

namespace velmora {
namespace {
namespace fs = std::filesystem;

class PackageCliTest : public test::CliTest {
  protected:
    std::string Ok(std::vector<std::string> args) {
        const test::CliRun run = Run(args);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        return run.out;
    }
    const std::string kJob = "Route 7";
};

TEST_F(PackageCliTest, AJobIsHandedOverAsAFolderAndAsAZip) {
    Ok({"history"});
    for (int image = 1; image <= test::kCliImages; ++image) Ok({"image", std::to_string(image)});
    Ok({"archive", "tag", kJob, "--all"});
    Ok({"closure", "add", kJob, "C-17", "--lat", "52.1", "--lon", "4.3"});
    Ok({"cable", "add", kJob, "C-17", "F-112", "48"});
    Ok({"cable", "add", kJob, "C-17", "F-113", "48"});
    Ok({"tray", "add", kJob, "C-17", "1"});
    Ok({"place", kJob, "C-17", "1", "1", "--a", "F-112:1", "--b", "F-113:1", "--last", "12"});
    // The verdict the matrix gives, said first.
    const std::string verdict =
        test::Lines(Ok({"matrix", kJob, "-o", (scratch.path() / "m.csv").string()}))[1];

    const std::string folder = (scratch.path() / "Route 7").string();
    const std::vector<std::string> said = test::Lines(Ok({"job", "package", kJob, "-o", folder}));
    ASSERT_GE(said.size(), 2u);
    EXPECT_EQ(said.front(), verdict);
    EXPECT_EQ(said.back(), "The package is in " + folder);
    const std::string zip = (scratch.path() / "hand-over.zip").string();
    Ok({"job", "package", kJob, "-o", zip, "--images"});

    const test::CliRun read = test::RunProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, zipfile, json, csv, io, openpyxl, subprocess\n"
         "d = sys.argv[1]\n"
         "print(openpyxl.load_workbook(d + '/matrix.xlsx').sheetnames[1])\n"
         "print(json.load(open(d + '/closures.geojson'))['features'][0]['geometry']['type'])\n"
         "print(len(list(csv.reader(open(d + '/matrix.csv', newline='')))))\n"
         "page = subprocess.run(['pdftotext', '-l', '1', d + '/report.pdf', '-'],\n"
         "                      capture_output=True, text=True).stdout\n"
         "print(sys.argv[3] in page)\n"
         "names = zipfile.ZipFile(sys.argv[2]).namelist()\n"
         "print(sorted(n for n in names if not n.startswith('Route 7/images/')))\n"
         "print(sum(n.endswith('.jpg') for n in names))\n",
         folder, zip, verdict},
        scratch.path());
    EXPECT_EQ(test::Lines(read.out),
              (std::vector<std::string>{
                  "C-17", "Point", "13", "True",
                  "['Route 7/closures.geojson', 'Route 7/diagrams/C-17 - Tray 1.svg', "
                  "'Route 7/matrix.csv', 'Route 7/matrix.xlsx', 'Route 7/report.pdf']",
                  std::to_string(test::kCliImages)}))
        << read.err;

    // Nothing there is replaced; a job unknown or a target missing is said.
    const struct {
        std::vector<std::string> args;
        std::string why;
    } refused[] = {
        {{"job", "package", kJob, "-o", folder}, "is already there"},
        {{"job", "package", kJob, "-o", zip}, "is already there"},
        {{"job", "package", "South", "-o", "x.zip"}, "There is no job South"},
        {{"job", "package", kJob}, "needs JOB and -o"},
    };
    for (const auto& r : refused) {
        const test::CliRun run = Run(r.args);
        EXPECT_EQ(run.status, 2) << r.why;
        EXPECT_NE(run.err.find(r.why), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(workDir.path() / "x.zip"));
}

}  // namespace
}  // namespace velmora
