// A splice plan read from CSV and XLSX files, and the ZIP and XML readers under the
// workbook: what a damaged or hostile file holds is refused with a reason, never
// followed past its bounds.
#include "jobs/plan_file.h"

#include <gtest/gtest.h>

#include "base/little_endian.h"
#include "base/xml_reader.h"
#include "base/zip_reader.h"
#include "jobs/matrix_xlsx.h"
#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

constexpr const char* kHeader = "Closure,Tray,Position,Cable A,Fibre A,Cable B,Fibre B\r\n";

TEST(PlanFile, CsvRowsAreReadOrRefusedNamingTheRow) {
    const struct {
        std::string csv;
        std::string says;  // "" when read
    } cases[] = {
        {std::string(kHeader) + "C-1,1,2,\"F,1\",3,F-2,4\r\n\r\nC-1,1,3,F-2,5,F-3,6", ""},
        // Any order and case of the columns, others left alone, a plan typed by hand.
        {"fibre b,Loss (dB),cable b,FIBRE A,cable a,position,tray,closure\n2,0.02,F,1,G,1,1,C\n",
         ""},
        {"Closure,Tray,Position,Cable A,Fibre A,Cable B\r\nC-1,1,1,F,1,G\r\n",
         "Row 1: there is no column Fibre B"},
        {std::string(kHeader) + "C-1,1,1,F,1,G,1\r\nC-1,1,2,F,x,G,2\r\n",
         "Row 3: Fibre A must be a whole number of at least 1, not 'x'"},
        {std::string(kHeader) + "C-1,1,0,F,1,G,1\r\n",
         "Row 2: Position must be a whole number of at least 1, not '0'"},
        {std::string(kHeader) + "C-1,1,1,  ,1,G,1\r\n", "Row 2: Cable A is empty"},
        {std::string(kHeader), "has no positions"},
        {"", "has no positions"},
    };
    for (const auto& c : cases) {
        const PlanReading reading = ReadPlan(c.csv, false);
        EXPECT_EQ(reading.ok(), c.says.empty()) << c.csv;
        if (!c.says.empty()) {
            EXPECT_NE(PlanProblemText(reading, "plan.csv").find(c.says), std::string::npos)
                << PlanProblemText(reading, "plan.csv");
            continue;
        }
        ASSERT_FALSE(reading.plan.positions.empty());
        const PlannedPosition& p = reading.plan.positions.front();
        EXPECT_TRUE(p.cableA == "F,1" || p.cableA == "G") << p.cableA;
        EXPECT_EQ(reading.plan.sources.front().row, 2u);
    }
    EXPECT_EQ(ReadPlan(cases[0].csv, false).plan.sources.back().row, 4u) << "the blank row counts";
}

// The matrix workbook of the fixture, read back as a plan: each closure sheet's
// positions, the closure its sheet's name.
TEST(PlanFile, AMatrixWorkbookIsAPlan) {
    const test::TempDir dir;
    ASSERT_TRUE(
        WriteMatrixXlsx(dir.path() / "m.xlsx", test::FixtureMatrix(), LoadMatrixCaptions()).ok);
    const PlanReading reading = ReadPlanFile(dir.path() / "m.xlsx");
    ASSERT_TRUE(reading.ok()) << PlanProblemText(reading, "m.xlsx");
    ASSERT_EQ(reading.plan.positions.size(), 7u);
    const PlannedPosition& last = reading.plan.positions[4];  // tray 2, position 1
    EXPECT_EQ(
        std::tie(last.tray, last.position, last.cableA, last.fibreA, last.cableB, last.fibreB),
        std::tuple(2, 1, std::string("F-112"), 13, std::string("F-7"), 13));
    EXPECT_EQ(reading.plan.sheets.front(), "Summary");
    EXPECT_EQ(reading.plan.sources[5].sheet, "C_17__a_");
    EXPECT_TRUE(reading.plan.sources[5].closureOfSheet);
    EXPECT_EQ(reading.plan.sources[5].row, 2u);

    // A workbook of another program: captions in runs of rich text, a string inline.
    const std::string other = test::ReadFileBytes(std::filesystem::path(VELMORA_SOURCE_DIR) /
                                                  "fuzz/corpus/fuzz_plan/plan.xlsx");
    const PlanReading small = ReadPlan(std::string_view(other).substr(1), true);
    ASSERT_TRUE(small.ok()) << PlanProblemText(small, "plan.xlsx");
    ASSERT_EQ(small.plan.positions.size(), 1u);
    const PlannedPosition& p = small.plan.positions[0];
    EXPECT_EQ(
        std::tie(p.closure, p.tray, p.position, p.cableA, p.fibreA, p.cableB, p.fibreB),
        std::tuple(std::string("C-17"), 1, 3, std::string("F-112"), 5, std::string("F-7"), 5));
}

// `zip` with a 32-bit field of its first member's directory entry changed.
std::string WithEntry(std::string zip, std::size_t field, std::uint32_t value) {
    std::span<std::uint8_t> b(reinterpret_cast<std::uint8_t*>(zip.data()), zip.size());
    WriteU32(b, ReadU32(b, zip.size() - 22 + 16) + field, value);
    return zip;
}

// What reading the first member of `zip` gives: "read", or why not.
std::string ReadFirst(const std::string& zip, std::size_t limit = 1 << 20) {
    std::string error;
    const auto reader = ZipReader::Open(zip, &error);
    if (!reader) return error;
    const std::span<const std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(zip.data()),
                                          zip.size());
    const std::size_t entry = ReadU32(b, zip.size() - 22 + 16);
    const std::string name = zip.substr(entry + 46, ReadU16(b, entry + 28));
    return reader->Read(name, limit, &error) ? "read" : error;
}

TEST(ZipReader, DamagedOrHostileMembersAreRefused) {
    const test::TempDir dir;
    ASSERT_TRUE(
        WriteMatrixXlsx(dir.path() / "m.xlsx", test::FixtureMatrix(), LoadMatrixCaptions()).ok);
    const std::string good = test::ReadFileBytes(dir.path() / "m.xlsx");
    const std::span<const std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(good.data()),
                                          good.size());
    std::string flipped = good;
    const std::size_t data = 30 + ReadU16(b, 26) + ReadU16(b, 28) + 2;
    flipped[data] = static_cast<char>(flipped[data] ^ 0x55);
    const struct {
        const char* name;
        std::string zip;
        std::size_t limit;
        std::string says;
    } cases[] = {
        {"whole", good, 1 << 20, "read"},
        {"cut short", good.substr(0, good.size() / 2), 1 << 20, "not a ZIP file"},
        {"a byte of its data changed", flipped, 1 << 20, "damaged"},
        {"larger than the reader's limit", good, 10, "too large"},
        {"a size past any bound (a bomb)", WithEntry(good, 24, 0xF0000000), 1 << 20, "too large"},
        {"a size smaller than its data", WithEntry(good, 24, 10), 1 << 20, "larger than it says"},
        {"encrypted", WithEntry(good, 8, 1), 1 << 20, "encrypted"},
        {"its data outside the file", WithEntry(good, 42, 0x7FFFFFF0), 1 << 20, "damaged"},
        {"a directory outside the file", WithEntry(good, 0, 0), 1 << 20, "directory is damaged"},
    };
    for (const auto& c : cases)
        EXPECT_NE(ReadFirst(c.zip, c.limit).find(c.says), std::string::npos)
            << c.name << ": " << ReadFirst(c.zip, c.limit);
    // The plan reader says it in its own words.
    const PlanReading cut = ReadPlan(good.substr(0, 100), true);
    EXPECT_NE(PlanProblemText(cut, "m.xlsx").find("The plan m.xlsx cannot be read"),
              std::string::npos);
}

TEST(XmlReader, ReadsWhatAWorkbookHoldsAndRefusesTheRest) {
    const struct {
        std::string xml;
        std::string read;  // the events, or the reason it was refused
    } cases[] = {
        {"<?xml version=\"1.0\"?><x:a b='1 &amp; 2'><!-- c "
         "--><c/>t&#x4E1C;&lt;<![CDATA[<d>]]></x:a>",
         "<a b=1 & 2><c></c>[t东<][<d>]</a>"},
        {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "DOCTYPE"},
        {"<a>&e;</a>", "unknown entity"},
        {"<a>&#0;</a>", "unknown entity"},
        {"<a><b></a>", "matches no element"},
        {"<a>", "ends inside an element"},
        {"text<a/>", "outside"},
        {std::string(300, '<') + "a", "without a name"},
        {[] {
             std::string deep;
             for (int i = 0; i < 300; ++i) deep += "<a>";
             return deep;
         }(),
         "nested too deep"},
    };
    for (const auto& c : cases) {
        XmlReader reader(c.xml);
        std::string read;
        for (auto e = reader.Next(); e != XmlReader::Event::Done; e = reader.Next()) {
            if (e == XmlReader::Event::Error) {
                read = reader.Why();
                break;
            }
            if (e == XmlReader::Event::Start)
                read += "<" + std::string(reader.Name()) +
                        (reader.Attribute("b") ? " b=" + *reader.Attribute("b") : "") + ">";
            if (e == XmlReader::Event::Text) read += "[" + reader.Text() + "]";
            if (e == XmlReader::Event::End) read += "</" + std::string(reader.Name()) + ">";
        }
        EXPECT_NE(read.find(c.read), std::string::npos) << c.xml << " gave " << read;
    }
}

}  // namespace
}  // namespace velmora::jobs
