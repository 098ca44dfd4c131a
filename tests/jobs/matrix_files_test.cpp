// The files a job's splice matrix is delivered in, read back by independent
// readers: the XLSX workbook by openpyxl, the GeoJSON by Python's json, the CSV as
// a spreadsheet would split it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jobs/closures_geojson.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "jobs/plan_file.h"
#include "report/report_html.h"
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
print(tube.number_format, tube.fill.fgColor.rgb, colour.value, colour.fill.fgColor.rgb,
      colour.font.color.rgb)
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
        // Fibre 13: tube 2 shown as "2 orange" on orange, the fibre blue on blue, in
        // white on that dark colour.
        "0\" orange\" FFF28C1B blue FF1F5FD6 FFFFFFFF",
        // Losses as numbers shown with two decimals; the last column as wide as the table says.
        "0.00 True",
        "The job did not pass 0.1",
        "[7, 5, 4, 0, 1, 1] 1 1",
        "2",
    };
    EXPECT_EQ(PythonSays(kReadWorkbook, file), expected);
}

// The writer's own failure (a file-size limit here, as a full disk would be) is told
// in the program's words: the old file stays whole, nothing is left beside it, and
// the library prints nothing of its own. A child process writes under the limit.
TEST(MatrixFiles, AFailedWorkbookIsToldAndLeavesNothing) {
    const test::TempDir dir;
    const fs::path file = dir.Write("m.xlsx", "old"), err = dir.path() / "err";
    ASSERT_TRUE(WriteMatrixXlsx(dir.path() / "loaded.xlsx", test::FixtureMatrix(),
                                LoadMatrixCaptions())
                    .ok);  // the library loaded before the fork
    fs::remove(dir.path() / "loaded.xlsx");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        const rlimit size{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::signal(SIGXFSZ, SIG_IGN);
        const FileWriteResult r =
            WriteMatrixXlsx(file, test::FixtureMatrix(), LoadMatrixCaptions());
        std::fprintf(stderr, "%s", r.reason.c_str());
        _exit(r.ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(test::ReadFileBytes(err), "File too large");
    EXPECT_EQ(test::ReadFileBytes(file), "old");
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names += entry.path().filename().string() + " ";
    EXPECT_TRUE(names == "m.xlsx err " || names == "err m.xlsx ") << names;
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
        test::Lines(MatrixCsv(matrix, LoadMatrixCaptions(), TableLanguage::English).bytes);
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

    // A GBK file cannot hold "ä": its line and name are told and there is no file;
    // UTF-8 with a byte-order mark holds it.
    matrix.closures[1].rows[0].b.cable = "Kabel-ä";
    const MatrixCsvText gbk = MatrixCsv(matrix, LoadMatrixCaptions(), TableLanguage::Chinese);
    ASSERT_TRUE(gbk.unheld);
    EXPECT_EQ(gbk.unheld->line, 7u);
    EXPECT_EQ(gbk.unheld->field + " " + gbk.unheld->character, "Kabel-ä ä");
    EXPECT_EQ(gbk.bytes, "");
    const std::string utf8 =
        MatrixCsv(matrix, LoadMatrixCaptions(), TableLanguage::Chinese, CsvEncoding::Utf8WithMark)
            .bytes;
    EXPECT_TRUE(utf8.starts_with("\xEF\xBB\xBF")) << utf8.substr(0, 10);
    EXPECT_NE(utf8.find("Kabel-ä"), std::string::npos);
}

// Names as a user may type them, or as an archive of before may hold them: each file
// opens in its reader, keeps what can be kept, and the workbook's sheet names stay
// the same after LibreOffice has saved it (the summary names them).
constexpr const char* kReadHostile = R"py(
import sys, openpyxl, json, html.parser, subprocess, tempfile, os, re, shutil, zipfile
import xml.etree.ElementTree as ET
folder = os.path.dirname(sys.argv[1])
M = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
def unescape(text):  # the format's _xHHHH_, as a spreadsheet program reads it
    return re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text)
def names(path):  # every XML part parsed strictly; the sheets, then the summary's closures
    z = zipfile.ZipFile(path)
    parts = {n: ET.fromstring(z.read(n)) for n in z.namelist() if n.endswith((".xml", ".rels"))}
    strings = [unescape("".join(t.text or "" for t in si.iter(M + "t")))
               for si in parts["xl/sharedStrings.xml"]]
    cells = {c.get("r"): strings[int(c.find(M + "v").text)]
             for c in parts["xl/worksheets/sheet1.xml"].iter(M + "c") if c.get("t") == "s"}
    closures = [cells.get("A%d" % row, "")[:40] for row in range(13, 22)]
    return "|".join(openpyxl.load_workbook(path).sheetnames) + "\n" + "|".join(closures)
print(names(folder + "/m.xlsx"))
print(openpyxl.load_workbook(folder + "/m.xlsx").properties.title)
if not shutil.which("soffice"):
    print("as LibreOffice saved it: no LibreOffice")
else:
  with tempfile.TemporaryDirectory() as home:
    subprocess.run(["soffice", "-env:UserInstallation=file://" + home, "--headless",
                    "--convert-to", "xlsx", "--outdir", home + "/out", folder + "/m.xlsx"],
                   check=True, capture_output=True, timeout=120)
    again = names(home + "/out/m.xlsx")
    print("as LibreOffice saved it:", "the same" if again == names(folder + "/m.xlsx") else again)
doc = json.load(open(folder + "/m.geojson", encoding="utf-8"))
print("|".join(repr(f["properties"]["name"])[:40] for f in doc["features"]))
class Texts(html.parser.HTMLParser):
    def handle_data(self, data): print(repr(data.strip())[:40], end="|")
Texts().feed(open(folder + "/m.html", encoding="utf-8", errors="strict").read())
)py";

TEST(MatrixFiles, HostileNamesOpenInTheirReaders) {
    SpliceMatrix matrix = test::FixtureMatrix();
    const std::vector<std::string> names{"Ä-1",
                                         "ä-1",
                                         "Узел",
                                         "узел",
                                         "\xC4\xE3\xBA\xC3" /* GBK bytes */,
                                         "non\xEF\xBF\xBE"
                                         "char",
                                         "ctrl\x01\x1B[31m",
                                         "_x0041_ stays",
                                         std::string(10000, 'n')};
    matrix.closures.resize(names.size(), matrix.closures[1]);
    for (std::size_t i = 0; i < names.size(); ++i) {
        matrix.closures[i].closure.details.name = names[i];
        matrix.closures[i].closure.details.point = GeoPoint{1, 2};
    }
    matrix.job.details.name = "Job\xEF\xBF\xBF\x02";
    const test::TempDir dir;
    ASSERT_TRUE(WriteMatrixXlsx(dir.path() / "m.xlsx", matrix, LoadMatrixCaptions()).ok);
    ASSERT_TRUE(WriteClosuresGeoJson(dir.path() / "m.geojson", matrix).ok);
    std::string page = "<!DOCTYPE html><meta charset=utf-8>";
    for (const std::string& name : names) page += "<p>" + report::EscapeHtml(name) + "</p>";
    ASSERT_TRUE(ReplaceFile(dir.path() / "m.html", page).ok);
    const std::string bad = "\xEF\xBF\xBD";  // U+FFFD, where bytes were not UTF-8
    const std::string gbk = bad + bad + bad + bad, ns = std::string(31, 'n');
    const std::vector<std::string> expected{
        // Twins numbered, whatever their script; an escape in a name broken up.
        "Summary|Ä-1|ä-1 (2)|Узел|узел (2)|" + gbk + "|non_char|ctrl___31m|-x0041_ stays|" + ns,
        // Each closure with its sheet's name where that differs.
        "Ä-1|ä-1  (ä-1 (2))|Узел|узел  (узел (2))|" + gbk + "  (" + gbk +
            ")|non\xEF\xBF\xBE"
            "char  (non_char)|"
            "ctrl\x01\x1B[31m  (ctrl___31m)|_x0041_ stays  (-x0041_ stays)|" +
            std::string(40, 'n'),
        "Splice matrix - Job" + bad + bad,
        "as LibreOffice saved it: the same",
        "'Ä-1'|'ä-1'|'Узел'|'узел'|'" + gbk +
            "'|'non\\ufffechar'|'ctrl\\x01\\x1b[31m'|"
            "'_x0041_ stays'|'" +
            std::string(39, 'n'),
        "'Ä-1'|'ä-1'|'Узел'|'узел'|'" + gbk + "'|'non" + bad + "char'|'ctrl" + bad + bad +
            "[31m'|'_x0041_ stays'|'" + std::string(39, 'n') + "|",
    };
    std::vector<std::string> said = PythonSays(kReadHostile, dir.path() / "m.xlsx");
    const bool office = said.size() < 4 || said[3] != "as LibreOffice saved it: no LibreOffice";
    if (!office) said[3] = expected[3];
    EXPECT_EQ(said, expected);
    if (!office)
        GTEST_SKIP() << "LibreOffice (libreoffice-calc-nogui) is not installed: the "
                        "workbook was not read back by it";
}

// A plan written by another program with a cell of bytes that are not UTF-8: refused,
// naming its column, as no name the archive holds may be such bytes.
TEST(MatrixFiles, APlanCellNotUtf8IsRefused) {
    const test::TempDir dir;
    const test::CliRun made = test::RunProgram(
        "/usr/bin/python3",
        {"-c", R"py(
import sys, zipfile
plan, out = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2], "w")
for n in plan.namelist(): out.writestr(n, plan.read(n).replace(b"F-112", b"F-\xff\xfe"))
)py",
         VELMORA_SOURCE_DIR "/fuzz/corpus/fuzz_plan/plan.xlsx", (dir.path() / "bad.xlsx").string()},
        dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    const PlanReading bad = ReadPlanFile(dir.path() / "bad.xlsx");
    EXPECT_NE(PlanProblemText(bad, "bad.xlsx").find("row 2: Cable A is not UTF-8 text"),
              std::string::npos)
        << PlanProblemText(bad, "bad.xlsx");
}

}  // namespace
}  // namespace velmora::jobs
