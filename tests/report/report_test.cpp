// The splice report through velmora-cli, as a user writes it: the verdict's
// figures of a known set of splices, a PDF that opens, the Chinese captions, and
// clear refusals that leave no file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <regex>

#include "archive/archive.h"
#include "jobs/job_store.h"
#include "jobs/matrix_texts.h"
#include "report/job_report.h"
#include "report/report_data.h"
#include "report/report_html.h"
#include "sim/image_commands.h"
#include "support/cli_runner.h"
#include "support/matrix_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDevice = "M2406A0153";
const std::string kHostileSerial = "AX1\x1b[2J" + std::string(300, '9');

// A record of 2026-03-07, `minute` past nine.
SpliceRecord Splice(int minute, int result, int loss, int lfAngle, int rfAngle) {
    SpliceRecord r;
    r.bytes = {
        26, 3, 7, 9, static_cast<std::uint8_t>(minute), 0, static_cast<std::uint8_t>(result)};
    auto put = [&r](std::size_t at, int value) {
        r.bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
        r.bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put(8, loss);
    put(10, lfAngle);
    put(12, rfAngle);
    r.bytes[14] = 1;  // fibre type
    put(16, 2);       // splice mode
    return r;
}

// Five splices of job "Site A" against limits 0.10 dB and 1.0 degree: two pass,
// one beyond the angle, one failed by the splicer, one beyond the loss. Only the
// first one's image file is the one archived: the others are gone, changed, a
// folder and /dev/zero. Another splicer, with a long serial number and a job name
// of 10 kB, both holding control characters, made one splice more.
class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = archive::Archive::Open(archive::ArchiveFile(work.path()));
        ASSERT_TRUE(opened.archive) << opened.error.message;
        const std::vector<SpliceRecord> records{Splice(1, 0, 2, 3, 4), Splice(2, 0, 5, 12, 2),
                                                Splice(3, 1, 30, 25, 1), Splice(4, 0, 12, 1, 1),
                                                Splice(5, 0, 8, 0, 10)};
        const archive::SplicerIdentity splicer{kDevice, "AM2406A0153"};
        ASSERT_TRUE(opened.archive->StoreDownload(splicer, records, "Site A").ok());
        const std::vector<SpliceRecord> hostile{Splice(7, 0, 1, 1, 1)};
        ASSERT_TRUE(opened.archive
                        ->StoreDownload({"X1", kHostileSerial}, hostile,
                                        "Evil\x07" + std::string(10000, 'W'))
                        .ok());
        const std::vector<std::uint8_t> jpeg = sim::SimulatedImageJpeg(0);
        for (int minute = 1; minute <= 5; ++minute) {
            const std::string stamp = "20260307090" + std::to_string(minute) + "00";
            ASSERT_TRUE(opened.archive->StoreImage(splicer, {stamp, stamp + "0.jpg", jpeg}).ok());
        }
        const std::string jpg = std::string("FS/") + kDevice + "/JPG/";
        work.Write(jpg + "202603070901000.jpg", std::string(jpeg.begin(), jpeg.end()));
        work.Write(jpg + "202603070903000.jpg", std::string(jpeg.begin(), jpeg.end()) + "x");
        fs::create_directory(work.path() / jpg / "202603070904000.jpg");
        fs::create_symlink("/dev/zero", work.path() / jpg / "202603070905000.jpg");
    }

    test::CliRun Report(std::vector<std::string> args) {
        args.insert(args.begin(), "report");
        return test::RunProgram(test::kCliProgram, args, work.path());
    }
    std::string Out(const char* name) const { return (out.path() / name).string(); }

    test::TempDir work;
    test::TempDir out;
};

std::string Cell(const std::string& html, const std::string& id) {
    std::smatch m;
    const std::regex cell("id=\"" + id + "\">([^<]*)<");
    return std::regex_search(html, m, cell) ? m[1].str() : "(no " + id + ")";
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// What a poppler tool (pdftotext, pdfinfo) prints; nothing when it cannot run.
std::optional<std::string> ToolOutput(const std::string& command) {
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    return pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}
std::optional<std::string> PdfText(const std::string& pdf) {
    return ToolOutput("pdftotext -layout '" + pdf + "' -");
}

TEST_F(ReportTest, HtmlGivesTheVerdictFiguresAndThePdfOpens) {
    const test::CliRun html = Report(
        {"--job", "Site A", "--max-loss", "0.10", "--max-angle", "1.0", "-o", Out("a.html")});
    ASSERT_EQ(html.status, 0) << html.err;
    const std::string doc = test::ReadFileBytes(Out("a.html"));
    // Said on standard error and in the image's place.
    for (const char* left : {"Image file not found: 202603070902000.jpg",
                             "Image file no longer the one archived: 202603070903000.jpg",
                             "Image file cannot be read: 202603070904000.jpg",
                             "Image file cannot be read: 202603070905000.jpg"})
        EXPECT_TRUE(html.err.find(left) != doc.npos && doc.find(left) != doc.npos) << left;
    EXPECT_EQ(Cell(doc, "job"), "Site A");
    EXPECT_EQ(Cell(doc, "splices"), "5");
    EXPECT_EQ(Cell(doc, "passed"), "2");
    EXPECT_EQ(Cell(doc, "failed"), "3");
    for (const char* part : {"failed-on-splicer", "over-loss", "over-angle"})
        EXPECT_EQ(Cell(doc, part), "1") << part;
    EXPECT_EQ(Cell(doc, "loss-mean"), "0.114");
    EXPECT_EQ(Cell(doc, "loss-max"), "0.30");
    EXPECT_EQ(Cell(doc, "loss-p95"), "0.30");
    // Each failure twice: first on the job's page, then in the table of every splice.
    EXPECT_EQ(Count(doc, "<tr class=\"failed\">"), 2u);
    EXPECT_EQ(Count(doc, "<tr class=\"out\">"), 4u);
    EXPECT_EQ(Count(doc, "src=\"data:image/jpeg;base64,/9j/"), 1u);
    EXPECT_NE(doc.find("<svg"), std::string::npos);
    // The job has no closure: it is judged by its splices, its failures listed first.
    EXPECT_LT(doc.find("id=\"verdict\">The job did not pass<"), doc.find("id=\"failures\""));
    EXPECT_LT(doc.find("id=\"failures\""), doc.find("id=\"splices\""));

    // With another filter it is a report of the records taken, headed as such.
    ASSERT_EQ(Report({"--job", "Site A", "--from", "2026-03-07", "-o", Out("r.html")}).status, 0);
    const std::string records = test::ReadFileBytes(Out("r.html"));
    EXPECT_NE(records.find("<h1>Splice Records Report</h1>"), std::string::npos);
    EXPECT_NE(records.find("id=\"verdict\">Not all splices passed<"), std::string::npos);
    EXPECT_EQ(records.find("id=\"failures\""), std::string::npos);

    const test::CliRun pdf = Report({"--job", "Site A", "-o", Out("a.pdf")});
    ASSERT_EQ(pdf.status, 0) << pdf.err;
    const auto text = PdfText(Out("a.pdf"));
    const auto info = ToolOutput("pdfinfo '" + Out("a.pdf") + "'");
    if (!text || !info) GTEST_SKIP() << "pdftotext/pdfinfo (poppler-utils) are not installed";
    // The job's page with its failures, the figures, one page of splices, one of images.
    EXPECT_TRUE(std::regex_search(*info, std::regex("Pages: +4\n"))) << *info;
    EXPECT_NE(text->find("Site A"), std::string::npos) << *text;
    EXPECT_TRUE(std::regex_search(*text, std::regex("Splices +5\n"))) << *text;
    EXPECT_NE(text->find("AM2406A0153"), std::string::npos) << "the serial number";
}

TEST_F(ReportTest, ChineseCaptionsInBothFormats) {
    fs::copy(fs::path(VELMORA_SOURCE_DIR) / "par", work.path() / "par",
             fs::copy_options::recursive);
    for (const char* name : {"zh.html", "zh.pdf"}) {
        const test::CliRun run = test::RunProgram(
            test::kCliProgram, {"--lang", "zh", "report", "--job", "Site A", "-o", Out(name)},
            work.path());
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const std::string doc = test::ReadFileBytes(Out("zh.html"));
    for (const char* caption : {"工程报告", "工程验收不合格", "计入的失败熔接", "平均损耗 (dB)",
                                "损耗分布", "熔接失败", "切割角超标", "图像文件不存在", "失败"})
        EXPECT_NE(doc.find(caption), std::string::npos) << caption;
    for (const char* english : {"Job Report", "Passed", "Loss Value", "Failure", "over limit"})
        EXPECT_EQ(doc.find(english), std::string::npos) << english;

    const auto text = PdfText(Out("zh.pdf"));
    if (!text) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // Text that comes back out of the PDF was drawn with an embedded font that has the glyphs.
    EXPECT_NE(text->find("工程报告"), std::string::npos) << *text;
    EXPECT_NE(text->find("工程验收不合格"), std::string::npos);
}

TEST_F(ReportTest, RefusalsAreClearAndLeaveNoFile) {
    const std::string kept = Out("kept.pdf");
    struct Case {
        std::vector<std::string> args;  // the file named last, if any
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--job", "Nobody", "-o", Out("none.pdf")}, "No splice matches"},
        {{"--from", "2027-01-01", "-o", Out("later.html")}, "No splice matches"},
        {{"-o", Out("missing/folder/r.pdf")}, "could not be saved"},
        {{"-o", Out("r.txt")}, ".pdf or .html"},
        {{"--max-loss", "0.1x", "-o", Out("bad.pdf")}, "--max-loss needs a number"},
        {{"--max-angle", "1.25", "-o", Out("bad.pdf")}, "--max-angle needs a number"},
        {{"--job"}, "--job needs a value"},
    };
    for (const Case& c : cases) {
        const test::CliRun run = Report(c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(c.args.back())) << c.args.back();
    }
    // A report that fails never replaces the good one already there.
    ASSERT_EQ(Report({"--job", "Site A", "-o", kept}).status, 0);
    const std::string before = test::ReadFileBytes(kept);
    EXPECT_EQ(Report({"--job", "Nobody", "-o", kept}).status, 2);
    EXPECT_EQ(test::ReadFileBytes(kept), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1)
        << "no temporary file left behind";
}

// A job's failures come first, on as many pages as they need before its details.
TEST_F(ReportTest, ManyFailuresOpenTheJobsReport) {
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(work.path()));
        ASSERT_TRUE(opened.archive);
        std::vector<SpliceRecord> failed;
        for (int minute = 10; minute < 60; ++minute) failed.push_back(Splice(minute, 1, 30, 1, 1));
        ASSERT_TRUE(opened.archive->StoreDownload({"F9", "AF9"}, failed, "Many").ok());
    }
    ASSERT_EQ(Report({"--job", "Many", "-o", Out("many.pdf")}).status, 0);
    const auto info = ToolOutput("pdfinfo '" + Out("many.pdf") + "'");
    const auto first = ToolOutput("pdftotext -l 1 '" + Out("many.pdf") + "' -");
    if (!info || !first) GTEST_SKIP() << "pdfinfo/pdftotext (poppler-utils) are not installed";
    // 50 failures: 46 below the verdict, 4 on a page of their own, then the job's details,
    // the figures and a page of splices.
    EXPECT_TRUE(std::regex_search(*info, std::regex("Pages: +5\n"))) << *info;
    EXPECT_LT(first->find("The job did not pass"), first->find("Failures that count"));
    EXPECT_EQ(Count(*first, "Splice failed"), 46u) << *first;
}

// Every job, two splicers: each row names its splicer and each splicer's splices are
// counted. A job name of 10 kB and a long serial number wrap within the PDF's page;
// their control characters reach the terminal escaped.
TEST_F(ReportTest, TwoSplicersAndHostileNames) {
    const test::CliRun html = Report({"-o", Out("all.html")});
    ASSERT_EQ(html.status, 0) << html.err;
    const std::string doc = test::ReadFileBytes(Out("all.html"));
    EXPECT_NE(doc.find("<h1>Splice Records Report</h1>"), std::string::npos) << "not a job's";
    EXPECT_NE(doc.find("<td class=\"n\">6</td><td>" + kHostileSerial + "</td>"), std::string::npos);
    EXPECT_NE(doc.find("<td>AM2406A0153</td><td class=\"n\">5</td>"), std::string::npos);
    EXPECT_EQ(html.out.find_first_of("\x07\x1b"), std::string::npos);
    EXPECT_TRUE(html.out.find("Evil\\x07WWW") != html.out.npos &&
                html.out.find("AX1\\x1B[2J999") != html.out.npos)
        << html.out;

    ASSERT_EQ(Report({"-o", Out("all.pdf")}).status, 0);
    const auto words = ToolOutput("pdftotext -bbox '" + Out("all.pdf") + "' -");
    const auto text = PdfText(Out("all.pdf"));
    if (!words || !text) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    EXPECT_TRUE(std::regex_search(*text, std::regex("6 +AX1.*2026-03-07 09:07:00"))) << *text;
    const std::regex right("xMax=\"([0-9.]+)\"");
    double widest = 0;
    for (std::sregex_iterator at(words->begin(), words->end(), right), end; at != end; ++at)
        widest = std::max(widest, std::stod((*at)[1]));
    EXPECT_LE(widest, 560.0) << "the right margin of an A4 page";
}

// The rules a verdict rests on: a limit is inclusive, a splice the splicer failed
// never passes, and limits are read exactly and remembered.
TEST(ReportRules, LimitsAreInclusiveExactAndRemembered) {
    const Limits limits{10, 10};
    const struct {
        SpliceRecord record;
        Mark mark;
    } judged[] = {
        {Splice(1, 0, 10, 10, 10), Mark::Pass},    {Splice(1, 0, 11, 0, 0), Mark::OverLoss},
        {Splice(1, 0, 0, 0, 11), Mark::OverAngle}, {Splice(1, 0, 11, 11, 0), Mark::OverBoth},
        {Splice(1, 1, 11, 0, 0), Mark::Failed},    {Splice(1, 2, 0, 0, 0), Mark::Failed},
    };
    for (const auto& j : judged) EXPECT_EQ(Judge(j.record, limits), j.mark);

    // The 95th percentile's nearest rank is rounded up, never to the nearest.
    const std::pair<int, int> ranks[]{{5, 5}, {11, 11}, {13, 13}, {20, 19}};
    for (const auto& [count, p95] : ranks) {
        std::vector<int> losses(static_cast<std::size_t>(count));
        std::iota(losses.rbegin(), losses.rend(), 1);
        EXPECT_EQ(report::ComputeLossStatistics(losses).p95, p95) << count << " values";
    }

    // "At most the limit" ends on a bin edge: 0.10 is in the bin below, 0.11 above it.
    const report::Histogram h = report::MakeHistogram(std::vector{0, 5, 6, 10, 11, 60}, 10);
    EXPECT_EQ(h.width, 5);
    EXPECT_EQ(h.counts, (std::vector<std::size_t>{2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_FALSE(h.Beyond(1, 10));
    EXPECT_TRUE(h.Beyond(2, 10));
    EXPECT_EQ(report::MakeHistogram(std::vector{3, 60}, 8).width, 4);

    EXPECT_EQ(ParseLossLimit("0.08"), 8);
    EXPECT_EQ(ParseLossLimit("1"), 100);
    EXPECT_EQ(ParseLossLimit("0.3"), 30);
    EXPECT_EQ(ParseAngleLimit("1.5"), 15);
    for (const char* bad : {"", ".", "-1", "0.005", "1e2", "0,1", "999999999999"})
        EXPECT_FALSE(ParseLossLimit(bad)) << bad;

    test::TempDir dir;
    EXPECT_EQ(report::LoadLimits(dir.path()), Limits{});
    ASSERT_TRUE(report::SaveLimits(dir.path(), {8, 15}, nullptr));
    EXPECT_EQ(report::LoadLimits(dir.path()), (Limits{8, 15}));
}

// A job over "Site A": closure C-1 (located) with tray 1; the first two splices on
// positions 1 and 2, the failed third on position 3 and redone there by the fourth,
// the fifth left unplaced; the job's own limits (0.40 dB, 3.0 degrees) pass them all.
TEST_F(ReportTest, JobDeliverablesFromTheCommandLine) {
    {
        auto opened = archive::Archive::Open(archive::ArchiveFile(work.path()));
        ASSERT_TRUE(opened.archive);
        jobs::JobStore store(*opened.archive);
        ASSERT_TRUE(store
                        .EditJob("Site A", {.name = "Site A",
                                            .customer = "Netco",
                                            .limits = {.maxLoss = 40, .maxAngle = 30}})
                        .ok());
        const auto job = store.Job("Site A");
        ASSERT_TRUE(job);
        const jobs::JobResult closure =
            store.AddClosure(job->id, {.name = "C-1", .point = jobs::GeoPoint{52.5, 13.25}});
        const jobs::JobResult a = store.AddCable(closure.id, {.name = "F-1"});
        const jobs::JobResult b = store.AddCable(closure.id, {.name = "F-2"});
        const jobs::JobResult tray = store.AddTray(closure.id, {});
        const auto records = store.LatestUnplaced(job->id, 5);
        ASSERT_TRUE(records && records->size() == 5);
        for (const auto& [position, placed] :
             {std::pair{1, std::vector{(*records)[0], (*records)[1]}},
              {3, std::vector{(*records)[2]}},
              {3, std::vector{(*records)[3]}}})
            ASSERT_TRUE(
                store.Place({tray.id, position, {a.id, position}, {b.id, position}, placed}).ok());
    }
    // The job's limits hold for its report: others given are refused, and nothing is written.
    const test::CliRun other =
        Report({"--job", "Site A", "--max-loss", "0.50", "--max-angle", "5.0", "-o", Out("x.pdf")});
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("The job's limits are 0.40 dB / 3.0°; change them with job edit"),
              std::string::npos)
        << other.err;
    EXPECT_FALSE(fs::exists(Out("x.pdf")));
    const test::CliRun report = Report({"--job", "Site A", "-o", Out("job.pdf")});
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find("The job passed\n"), std::string::npos) << report.out;
    if (const auto text = ToolOutput("pdftotext -l 1 '" + Out("job.pdf") + "' -")) {
        EXPECT_NE(text->find("The job passed"), std::string::npos) << *text;
        EXPECT_NE(text->find("Netco"), std::string::npos);
    }
    auto run = [this](std::vector<std::string> args) {
        return test::RunProgram(test::kCliProgram, args, work.path());
    };
    ASSERT_EQ(run({"matrix", "Site A", "-o", Out("m.xlsx")}).status, 0);
    ASSERT_EQ(run({"matrix", "Site A", "-o", Out("m.csv")}).status, 0);
    ASSERT_EQ(run({"geojson", "Site A", "-o", Out("c.geojson")}).status, 0);
    const std::vector<std::string> csv = test::Lines(test::ReadFileBytes(Out("m.csv")));
    ASSERT_EQ(csv.size(), 4u);  // the header and three positions
    // Position 3: the fourth splice of its splicer counts; the failed third is the attempt
    // it replaced, named.
    EXPECT_TRUE(csv[3].ends_with(
        ",AM2406A0153,4,2026-03-07 09:04:00,1,\"No. 3, 0.30 dB, Splice failed\"\r"))
        << csv[3];
    EXPECT_NE(test::ReadFileBytes(Out("c.geojson")).find("[13.25,52.5]"), std::string::npos);
    EXPECT_TRUE(fs::exists(Out("m.xlsx")));
    const test::CliRun nobody = run({"matrix", "Nobody", "-o", Out("n.xlsx")});
    EXPECT_EQ(nobody.status, 2);
    EXPECT_NE(nobody.err.find("Nobody"), std::string::npos) << nobody.err;
    EXPECT_FALSE(fs::exists(Out("n.xlsx")));
}

}  // namespace
}  // namespace velmora

namespace velmora::report {
namespace {

// The line of the HTML table row that holds `cell`.
std::string RowWith(const std::string& html, const std::string& cell) {
    const std::size_t at = html.find("<td>" + cell + "</td>");
    if (at == std::string::npos) return "(no " + cell + ")";
    const std::size_t start = html.rfind("<tr", at);
    return html.substr(start, html.find("</tr>", at) - start);
}

TEST(JobReport, PositionsDecideTheVerdictAndEverySpliceIsNamed) {
    auto html = [](const jobs::SpliceMatrix& m) {
        Report r = MakeReport({}, {}, {}, m.limits, {}, TableLanguage::English, LoadCaptions());
        r.asBuilt = MakeAsBuilt(m, jobs::LoadMatrixCaptions(), r.captions);
        return *HtmlDocument(r);
    };
    jobs::SpliceMatrix matrix = test::FixtureMatrix();
    const std::string over = html(matrix);
    EXPECT_NE(over.find(">The job did not pass<"), std::string::npos);
    EXPECT_NE(over.find("<tr class=\"part\"><th>Loss over limit</th><td>1</td>"),
              std::string::npos);
    // Page one: every failure that counts, where it is, before anything else, and how
    // many attempts were replaced.
    const std::string failure =
        "<td>1</td><td>3</td><td>F-112:3 / F-7:3</td><td>AM2406A0153</td><td>104</td>"
        "<td>0.25</td><td>Loss over limit</td>";
    EXPECT_LT(over.find(failure), over.find("<table class=\"summary\">"));
    EXPECT_NE(over.find("Replaced attempts: 1</p>"), std::string::npos);
    // Each splice by its number on its splicer: the replaced attempt on a line of its
    // own under the splice that counts, called what it is; the test splice and the
    // record not placed in their lists.
    EXPECT_NE(RowWith(over, "102").find("class=\"minor\""), std::string::npos);
    EXPECT_NE(RowWith(over, "102").find("<td>Splice failed</td><td>AM2406A0153</td>"),
              std::string::npos);
    EXPECT_NE(RowWith(over, "102").find("<td>replaced</td>"), std::string::npos);
    EXPECT_NE(RowWith(over, "103").find("<td>No. 102, 0.35 dB, Splice failed</td>"),
              std::string::npos);
    EXPECT_NE(RowWith(over, "104").find("class=\"out\""), std::string::npos);
    EXPECT_NE(RowWith(over, "3 green").find("<td>0.25</td>"), std::string::npos);
    EXPECT_LT(over.find("Test splices, not counted"), over.find("<td>108</td>"));
    EXPECT_LT(over.find("Records not placed"), over.find("<td>107</td>"));

    // Position 3 redone within the limits: no failure counts, but two planned
    // positions are not spliced yet.
    jobs::MatrixRow& redone = matrix.closures[0].rows[2];
    redone.resplices = {*redone.splice};
    redone.splice = test::MatrixSpliceOf(109, 3, 0, 9);
    matrix.closures[0].counts = test::CountRows(matrix.closures[0].rows);
    test::AddTotals(matrix);
    const std::string redoneHtml = html(matrix);
    EXPECT_NE(redoneHtml.find(">The job is in progress: 5 of 7 positions spliced<"),
              std::string::npos);
    EXPECT_NE(redoneHtml.find("No failure counts. Replaced attempts: 2</p>"), std::string::npos);
}

}  // namespace
}  // namespace velmora::report
