// What comes in from a person: numbers read one way for every field, names told
// apart without regard to case, and the characters a GBK file cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "base/number_text.h"
#include "base/text_codec.h"

namespace velmora {
namespace {

TEST(NumberText, DecimalWithinTheRangeOrRefused) {
    constexpr NumberRange tray{1, 9999}, degrees{-90'000'000, 90'000'000, 6}, loss{0, 65535, 2};
    const struct {
        const char* text;
        NumberRange range;
        NumberProblem problem;
        std::int64_t units;
    } cases[] = {
        {"7", tray, NumberProblem::None, 7},
        {"0007", tray, NumberProblem::None, 7},
        {"9999", tray, NumberProblem::None, 9999},
        {"10000", tray, NumberProblem::OutOfRange, 0},
        {"999999999999", tray, NumberProblem::OutOfRange, 0},  // never clamped
        {"99999999999999999999999", tray, NumberProblem::OutOfRange, 0},
        {"0", tray, NumberProblem::OutOfRange, 0},
        {"-1", tray, NumberProblem::OutOfRange, 0},
        {"99999999999x", tray, NumberProblem::NotANumber, 0},
        {"0x10", degrees, NumberProblem::NotANumber, 0},
        {"1e3", tray, NumberProblem::NotANumber, 0},
        {"1,5", loss, NumberProblem::NotANumber, 0},
        {"+5", tray, NumberProblem::NotANumber, 0},
        {" 5", tray, NumberProblem::NotANumber, 0},
        {"5 ", tray, NumberProblem::NotANumber, 0},
        {"", tray, NumberProblem::NotANumber, 0},
        {"-", degrees, NumberProblem::NotANumber, 0},
        {".", loss, NumberProblem::NotANumber, 0},
        {"1.5", tray, NumberProblem::NotANumber, 0},  // a whole number has no point
        {"inf", degrees, NumberProblem::NotANumber, 0},
        {"52.0907", degrees, NumberProblem::None, 52'090'700},
        {"-33.868800", degrees, NumberProblem::None, -33'868'800},
        {"-90", degrees, NumberProblem::None, -90'000'000},
        {"90.0000001", degrees, NumberProblem::NotANumber, 0},  // a decimal too many
        {"90.000001", degrees, NumberProblem::OutOfRange, 0},
        {"0.08", loss, NumberProblem::None, 8},
        {".5", loss, NumberProblem::None, 50},
        {"655.35", loss, NumberProblem::None, 65535},
        {"655.36", loss, NumberProblem::OutOfRange, 0},
    };
    for (const auto& c : cases) {
        const NumberRead read = ReadNumber(c.text, c.range);
        EXPECT_EQ(read.problem, c.problem) << c.text;
        if (read.ok()) {
            EXPECT_EQ(read.units, c.units) << c.text;
        }
    }
    EXPECT_EQ(RangeText(degrees), "-90 to 90");
    EXPECT_EQ(RangeText(loss), "0 to 655.35");
    EXPECT_EQ(NumberValue(52'090'700, 6), 52.0907);
}

TEST(TextIn, CaseFoldingAndGbk) {
    const struct {
        std::string a, b;
        bool same;
    } names[] = {
        {"Route 7", "route 7", true},
        {"Ä-1", "ä-1", true},
        {"Узел", "узел", true},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true},  // final sigma folds with sigma
        {"ǅ", "ǆ", true},
        {"Straße", "STRASSE", false},  // simple folding: one character to one
        {"c-1", "c-l", false},
        {"\xBD\xD3", "\xBD\xD3", true},  // bytes that are not UTF-8 stay as they are
    };
    for (const auto& n : names) EXPECT_EQ(FoldCase(n.a) == FoldCase(n.b), n.same) << n.a;

    EXPECT_EQ(FirstNotInGbk("接头盒 C-17"), "");
    EXPECT_EQ(FirstNotInGbk("Kabel-ä"), "ä");
    EXPECT_EQ(FirstNotInGbk("?"), "");
    EXPECT_EQ(FirstNotInGbk("a\xEF\xBF\xBE"), "\xEF\xBF\xBE");
}

}  // namespace
}  // namespace velmora
