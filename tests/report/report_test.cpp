// The splice report through velmora-cli, as a user writes it: the verdict's
// figures of a known set of splices, a PDF that opens, the Chinese captions, and
// clear refusals that leave no file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <regex>

#include "archive/archive.h"
#include "report/report_data.h"
#include "sim/image_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDevice = "M2406A0153";

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
// one beyond the angle, one failed by the splicer, one beyond the loss. The first
// has its image; the second's image file is gone.
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
        const std::vector<SpliceRecord> other{Splice(6, 0, 1, 1, 1)};
        ASSERT_TRUE(opened.archive->StoreDownload(splicer, other, "Other").ok());
        // A splicer one letter apart shares the folder, not the records.
        const archive::SplicerIdentity sibling{kDevice, "XM2406A0153"};
        ASSERT_TRUE(opened.archive->StoreDownload(sibling, other, "Other").ok());
        const std::vector<std::uint8_t> jpeg = sim::SimulatedImageJpeg(0);
        for (const char* stamp : {"20260307090100", "20260307090200"}) {
            const std::string name = std::string(stamp) + "0.jpg";
            ASSERT_TRUE(opened.archive->StoreImage(splicer, {stamp, name, jpeg}).ok());
        }
        work.Write(std::string("FS/") + kDevice + "/JPG/202603070901000.jpg",
                   std::string(jpeg.begin(), jpeg.end()));
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
    EXPECT_NE(html.err.find("202603070902000.jpg"), std::string::npos)
        << "the missing image is named";
    const std::string doc = test::ReadFileBytes(Out("a.html"));
    EXPECT_EQ(Cell(doc, "job"), "Site A");
    EXPECT_EQ(Cell(doc, "splices"), "5");
    EXPECT_EQ(Cell(doc, "passed"), "2");
    EXPECT_EQ(Cell(doc, "failed"), "3");
    EXPECT_EQ(Cell(doc, "loss-mean"), "0.114");
    EXPECT_EQ(Cell(doc, "loss-max"), "0.30");
    EXPECT_EQ(Cell(doc, "loss-p95"), "0.30");
    EXPECT_EQ(Cell(doc, "max-angle"), "1.0");
    EXPECT_EQ(Count(doc, "<tr class=\"failed\">"), 1u);
    EXPECT_EQ(Count(doc, "<tr class=\"out\">"), 2u);
    EXPECT_EQ(Count(doc, "src=\"data:image/jpeg;base64,/9j/"), 1u);
    EXPECT_NE(doc.find("<svg"), std::string::npos);
    EXPECT_LT(doc.find("id=\"verdict\">Not all splices passed<"),
              doc.find("<table class=\"splices\">"));
    const test::CliRun both = Report({"--job", "Other", "--device", kDevice, "-o", Out("o.html")});
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(Count(test::ReadFileBytes(Out("o.html")), "M2406A0153)"), 2u) << "two serial numbers";

    const test::CliRun pdf = Report({"--job", "Site A", "-o", Out("a.pdf")});
    ASSERT_EQ(pdf.status, 0) << pdf.err;
    const auto text = PdfText(Out("a.pdf"));
    const auto info = ToolOutput("pdfinfo '" + Out("a.pdf") + "'");
    if (!text || !info) GTEST_SKIP() << "pdftotext/pdfinfo (poppler-utils) are not installed";
    // The verdict page, one page of splices, one of images.
    EXPECT_TRUE(std::regex_search(*info, std::regex("Pages: +3\n"))) << *info;
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
    for (const char* caption : {"熔接报告", "存在不合格的熔接", "平均损耗 (dB)", "损耗分布",
                                "熔接失败", "超出标准", "图像文件不存在", "失败"})
        EXPECT_NE(doc.find(caption), std::string::npos) << caption;
    for (const char* english : {"Splice Report", "Passed", "Loss Value", "Failure", "Out of limit"})
        EXPECT_EQ(doc.find(english), std::string::npos) << english;

    const auto text = PdfText(Out("zh.pdf"));
    if (!text) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // Text that comes back out of the PDF was drawn with an embedded font that has the glyphs.
    EXPECT_NE(text->find("熔接报告"), std::string::npos) << *text;
    EXPECT_NE(text->find("存在不合格的熔接"), std::string::npos);
}

TEST_F(ReportTest, RefusalsAreClearAndLeaveNoFile) {
    const std::string kept = Out("kept.pdf");
    struct Case {
        std::vector<std::string> args;
        std::string file;
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--job", "Nobody", "-o", Out("none.pdf")}, Out("none.pdf"), "No splice matches"},
        {{"--from", "2027-01-01", "-o", Out("later.html")}, Out("later.html"), "No splice matches"},
        {{"-o", Out("missing/folder/r.pdf")}, Out("missing/folder/r.pdf"), "could not be saved"},
        {{"-o", Out("r.txt")}, Out("r.txt"), ".pdf or .html"},
        {{"--max-loss", "0.1x", "-o", Out("bad.pdf")}, Out("bad.pdf"), "--max-loss needs a number"},
        {{"--max-angle", "1.25", "-o", Out("bad.pdf")},
         Out("bad.pdf"),
         "--max-angle needs a number"},
        {{"--job"}, "", "--job needs a value"},
    };
    for (const Case& c : cases) {
        const test::CliRun run = Report(c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        if (!c.file.empty()) {
            EXPECT_FALSE(fs::exists(c.file)) << c.file;
        }
    }
    // A report that fails never replaces the good one already there.
    ASSERT_EQ(Report({"--job", "Site A", "-o", kept}).status, 0);
    const std::string before = test::ReadFileBytes(kept);
    EXPECT_EQ(Report({"--job", "Nobody", "-o", kept}).status, 2);
    EXPECT_EQ(test::ReadFileBytes(kept), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1)
        << "no temporary file left behind";
}

// The rules a verdict rests on: a limit is inclusive, a splice the splicer failed
// never passes, and limits are read exactly and remembered.
TEST(ReportRules, LimitsAreInclusiveExactAndRemembered) {
    const report::Limits limits{10, 10};
    const struct {
        SpliceRecord record;
        report::Mark mark;
    } judged[] = {
        {Splice(1, 0, 10, 10, 10), report::Mark::Pass},
        {Splice(1, 0, 11, 0, 0), report::Mark::OutOfLimit},
        {Splice(1, 0, 0, 0, 11), report::Mark::OutOfLimit},
        {Splice(1, 1, 0, 0, 0), report::Mark::Failed},
        {Splice(1, 2, 0, 0, 0), report::Mark::Failed},
    };
    for (const auto& j : judged) EXPECT_EQ(report::Judge(j.record, limits), j.mark);

    // "At most the limit" ends on a bin edge: 0.10 is in the bin below, 0.11 above it.
    const report::Histogram h = report::MakeHistogram(std::vector{0, 5, 6, 10, 11, 60}, 10);
    EXPECT_EQ(h.width, 5);
    EXPECT_EQ(h.counts, (std::vector<std::size_t>{2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_FALSE(h.Beyond(1, 10));
    EXPECT_TRUE(h.Beyond(2, 10));
    EXPECT_EQ(report::MakeHistogram(std::vector{3, 60}, 8).width, 4);

    EXPECT_EQ(report::ParseLossLimit("0.08"), 8);
    EXPECT_EQ(report::ParseLossLimit("1"), 100);
    EXPECT_EQ(report::ParseLossLimit("0.3"), 30);
    EXPECT_EQ(report::ParseAngleLimit("1.5"), 15);
    for (const char* bad : {"", ".", "-1", "0.005", "1e2", "0,1", "999999999999"})
        EXPECT_FALSE(report::ParseLossLimit(bad)) << bad;

    test::TempDir dir;
    EXPECT_EQ(report::LoadLimits(dir.path()), report::Limits{});
    ASSERT_TRUE(report::SaveLimits(dir.path(), {8, 15}, nullptr));
    EXPECT_EQ(report::LoadLimits(dir.path()), (report::Limits{8, 15}));
}

}  // namespace
}  // namespace velmora
