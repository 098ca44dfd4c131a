// The files a job's splice matrix is delivered in, read back by independent
// readers: the XLSX workbook by openpyxl, the GeoJSON by Python's json, the CSV as
// a spreadsheet would split it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jobs/closures_geojson.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "support/cli_runner.h"
#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

namespace fs = std::filesystem;

// What `script` prints about `file`, a line each.
std::vector<std::string> PythonSays(const std::string& script, const fs::path& file) {
    const test::CliRun run =
        test::RunProgram("/usr/bin/python3", {"-c", script, file.string()}, file.parent_path());
    EXPECT_EQ(run.status, 0) << run.err;
    return test::Lines(run.out);
}

constexpr const char* kReadWorkbook = R"py(
import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
print("|".join(book.sheetnames))
s = book.worksheets[1]
print("|".join(str(c.value) for c in s[1]))
print(s.freeze_panes, s.auto_filter.ref)
for row in (2, 3, 6):
    print("|".join(type(c.value).__name__ + "=" + str(c.value) for c in s[row]))
tube, colour = s["D6"], s["F6"]
print(tube.number_format, tube.fill.fgColor.rgb, colour.value, colour.fill.fgColor.rgb)
print(s["K2"].number_format, s.column_dimensions["Q"].width > 20)
summary = {r[0].value: [c.value for c in r[1:]] for r in book.worksheets[0].iter_rows()}
print(summary["Verdict"][0], summary["Loss at most (dB)"][0])
print(summary["Total"][3:9], summary["Records not placed"][0], summary["Test splices, not counted"][0])
print(book.worksheets[3].max_row)
)py";

TEST(MatrixFiles, XlsxReadBackByOpenpyxl) {
    const test::TempDir dir;
    const fs::path file = dir.path() / "matrix.xlsx";
    ASSERT_TRUE(WriteMatrixXlsx(file, test::FixtureMatrix(), LoadMatrixCaptions()).ok);
    const std::vector<std::string> expected{
        // Cut to 31 characters; made safe; the same name ignoring case made unique.
        "Summary|北门一号接头盒位于北段环路第七号人井内东侧墙上的第二层支架之上|C_17__a_|c_17__a_ "
        "(2)",
        "Tray|Position|Cable A|Tube A|Fibre A|Colour A|Cable B|Tube B|Fibre B|Colour B|Loss "
        "(dB)|Result|Splicer|Splice No.|Time|Re-splices|Replaced attempts",
        "A2 A1:Q6",
        "int=1|int=1|str=F-112|int=1|int=1|str=blue|str=F-7|int=1|int=1|str=blue|float=0.02|str="
        "Pass|str=AM2406A0153|int=101|datetime=2026-03-07 10:01:41|int=0|NoneType=None",
        "int=1|int=2|str=F-112|int=1|int=2|str=orange|str=F-7|int=1|int=2|str=orange|float=0.04|"
        "str=Pass|str=AM2406A0153|int=103|datetime=2026-03-07 10:03:43|int=1|str=No. 102, 0.35 "
        "dB, Splice failed",
        "int=2|int=1|str=F-112|int=2|int=13|str=blue|str=F-7|int=2|int=13|str=blue|float=0.03|str="
        "Pass|str=AM2406A0153|int=105|datetime=2026-03-07 10:05:45|int=0|NoneType=None",
        // Fibre 13: tube 2 shown as "2 orange" on orange, the fibre blue on blue.
        "0\" orange\" FFF28C1B blue FF1F5FD6",
        // Losses as numbers shown with two decimals; the last column as wide as the table says.
        "0.00 True",
        "The job did not pass 0.1",
        "[7, 5, 4, 0, 1, 1] 1 1",
        "2",
    };
    EXPECT_EQ(PythonSays(kReadWorkbook, file), expected);
}

TEST(MatrixFiles, SheetNamesAreSafeAndUnique) {
    std::vector<std::string> taken{"Summary"};
    const struct {
        std::string name, sheet;
    } cases[] = {
        {"summary", "summary (2)"},  // spreadsheets ignore case
        {"'Quoted'", "Quoted"},
        {"history", "history (2)"},  // Excel's own
        {"", "_"},
        {"a[b]c:d*e?f/g\\h", "a_b_c_d_e_f_g_h"},
        {std::string(40, 'x'), std::string(31, 'x')},
        {std::string(40, 'x'), std::string(27, 'x') + " (2)"},
    };
    for (const auto& c : cases) EXPECT_EQ(SheetName(c.name, taken), c.sheet) << c.name;
}

constexpr const char* kReadGeoJson = R"py(
import sys, json
doc = json.load(open(sys.argv[1], encoding="utf-8"))
print(doc["type"], len(doc["features"]))
for f in doc["features"]:
    p = f["properties"]
    print(f["geometry"]["type"], f["geometry"]["coordinates"], repr(p["location"]),
          p["positions"], p["spliced"], p["failed"], p["overLimit"], p["planned"])
)py";

TEST(MatrixFiles, GeoJsonParsedByPython) {
    const test::TempDir dir;
    const fs::path file = dir.path() / "closures.geojson";
    ASSERT_TRUE(WriteClosuresGeoJson(file, test::FixtureMatrix()).ok);
    // Longitude first; the closure without a location left out; a tab and quotes kept.
    const std::vector<std::string> expected{
        "FeatureCollection 2",
        "Point [121.4737, 31.2304] '北门 \"7\"\\tpit' 5 4 0 1 1",
        "Point [151.2093, -33.8688] '' 1 1 0 0 0",
    };
    EXPECT_EQ(PythonSays(kReadGeoJson, file), expected);
}

TEST(MatrixFiles, CsvHasAClosureColumnAndQuotesWhatNeedsIt) {
    jobs::SpliceMatrix matrix = test::FixtureMatrix();
    matrix.closures[1].rows[0].a.cable = "F,\"9\"";
    const std::vector<std::string> lines =
        test::Lines(MatrixCsv(matrix, LoadMatrixCaptions(), TableLanguage::English));
    ASSERT_EQ(lines.size(), 8u);  // a header, then the seven positions
    EXPECT_EQ(lines[0],
              "Closure,Tray,Position,Cable A,Tube A,Fibre A,Colour A,Cable B,Tube B,Fibre B,Colour "
              "B,Loss (dB),Result,Splicer,Splice No.,Time,Re-splices,Replaced attempts\r");
    EXPECT_EQ(lines[3].substr(lines[3].find(",1,3,")),
              ",1,3,F-112,1,3,green,F-7,1,3,green,0.25,Loss over limit,AM2406A0153,104,2026-03-07 "
              "10:04:44,0,\r");
    EXPECT_EQ(lines[4].substr(lines[4].find(",1,4,")),
              ",1,4,F-112,1,4,brown,F-7,1,4,brown,,,,,,0,\r");
    EXPECT_TRUE(lines[2].ends_with(",1,\"No. 102, 0.35 dB, Splice failed\"\r")) << lines[2];
    EXPECT_EQ(lines[6].substr(0, 22), "C/17:[a],1,1,\"F,\"\"9\"\"\"");
}

}  // namespace
}  // namespace velmora::jobs
